// url! and file! datatypes: text forms, conversions, paths, escapes and OS paths. Their
// I/O actions forward to the host layer's handlers (g_resource_io).
#include "datatypes/file.h"

#include <climits>

#include "datatypes/block.h"
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/port.h"
#include "datatypes/string.h"
#include "datatypes/tag.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/percent_codec.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::dt {

using namespace rt;

ResourceIo g_resource_io;

namespace {

constexpr u32 RAW_BYTE_BASE = 0xDC00;  // U+DC80-U+DCFF: a name byte that is not UTF-8

bool raw_byte_char(u32 cp) { return cp >= RAW_BYTE_BASE + 0x80 && cp <= RAW_BYTE_BASE + 0xFF; }

void append_hex_escape(Cell* out, u8 byte) {
    append_char(out, '%');
    append_c_string(out, byte_to_hex(byte));
}

}  // namespace

// ---- escapes ----------------------------------------------------------------------------

bool url_safe_char(u32 cp) { return cp < 128 && rt::percent_keeps(rt::PercentSet::url_safe, u8(cp)); }

// Unlike dehex, escapes that make no whole UTF-8 character stand as they are: a file name
// may hold any bytes.
void decode_percent_escapes(const Cell* str, Cell* out) {
    Cell copy = *str;
    Cell* src = stack_push(&copy);
    i32 len = -1;
    const char* text = string_to_utf8(src, &len);
    std::string bytes(text, size_t(len));  // out may share the scratch area's frames
    std::vector<u32> cps;
    const u8* p = reinterpret_cast<const u8*>(bytes.data());
    const u8* end = p + bytes.size();
    while (p < end) {
        u8 b;
        if (rt::percent_decode_byte(p, end, &b)) {
            u32 n = utf8_lead_length(b);
            if (n == 0) {
                cps.push_back(b);
                p += 3;
                continue;
            }
            u8 seq[4] = {b};
            u32 k = 1;
            while (k < n && p + 3 * k < end && rt::percent_decode_byte(p + 3 * k, end, &seq[k])) ++k;
            if (k == n) {
                i32 cp;
                const u8* after = utf8_decode_char(seq, seq + n, &cp);
                if (cp >= 0 && after == seq + n) {
                    cps.push_back(u32(cp));
                    p += 3 * n;
                    continue;
                }
            }
        }
        // No escape, or one that starts no whole character: the raw character stands.
        i32 cp;
        const u8* next = utf8_decode_char(p, end, &cp);
        if (cp < 0) {
            cps.push_back(*p);
            next = p + 1;
        } else {
            cps.push_back(u32(cp));
        }
        p = next;
    }
    for (u32 cp : cps) append_char(out, cp);
    stack_pop(1);
}

void percent_encode_into(const Cell* str, i32 mode, Cell* out) {
    Cell copy = *str;
    Cell* src = stack_push(&copy);
    i32 len = -1;
    const char* text = string_to_utf8(src, &len);
    std::string encoded;
    rt::PercentSet set = mode == 254 ? rt::PercentSet::unreserved : rt::PercentSet::url_safe;
    for (i32 i = 0; i < len; ++i) rt::percent_encode_byte(set, u8(text[i]), encoded);
    for (char c : encoded) append_char(out, u8(c));
    stack_pop(1);
}

// ---- paths ------------------------------------------------------------------------------

void file_name_code_points(const char* bytes, size_t n, std::vector<u32>& out) {
    const u8* p = reinterpret_cast<const u8*>(bytes);
    utf8_code_points_keeping_bytes(p, p + n, out, RAW_BYTE_BASE);
}

bool file_os_path(const Cell* file, std::string& out) {
    out.clear();
    u32 n = string_length(file);
    out.reserve(n);
    u8 buf[4];
    for (u32 i = 0; i < n; ++i) {
        u32 cp = string_char_at(file, i);
        if (cp == 0) return false;
        if (raw_byte_char(cp)) {
            out.push_back(char(cp - RAW_BYTE_BASE));
        } else if (cp > 0x10FFFF) {
            return false;
        } else {
            u32 k = utf8_encode_char(cp, buf);
            out.append(reinterpret_cast<char*>(buf), k);
        }
    }
    return true;
}

Cell* current_dir_string() {
    std::string dir = get_current_dir_os();
    if (dir.empty() || dir.back() != '/') dir += '/';
    std::vector<u32> cps;
    file_name_code_points(dir.data(), dir.size(), cps);
    return push_string_from(cps);
}

void to_local_path(const Cell* file, Cell* out, bool full) {
    Cell* src = stack_push(file);
    if (full && (string_length(src) == 0 || string_char_at(src, 0) != '/')) {
        Cell* dir = current_dir_string();
        string_concatenate(out, dir, -1, 0, true, CONCAT_APPEND);
        stack_pop(1);
    }
    string_concatenate(out, src, -1, 0, true, CONCAT_APPEND);
    stack_pop(1);
}

namespace {

// ---- mold -------------------------------------------------------------------------------

i32 url_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    Cell* src = stack_push(value);
    i32 len = -1;
    const char* text = string_to_utf8(src, &len);
    std::string bytes(text, size_t(len));
    stack_pop(1);
    i32 written = 0;
    for (unsigned char b : bytes) {
        if (part && written >= limit) break;
        if (url_safe_char(b)) {
            append_char(out, b);
            ++written;
        } else {
            append_hex_escape(out, b);
            written += 3;
        }
    }
    return limit - written;
}

// What a bare file name can hold and read back: the URL-safe set but for the characters
// that would end the name or make it another value.
bool bare_file_char(u32 c) { return url_safe_char(c) && c != '(' && c != ')' && c != ':' && c != '@'; }

// A name holding a double quote, a caret, a control character or a raw byte could not be
// read back from the quoted form: such a name molds bare with "%XX" for every ASCII
// character a bare name cannot hold. Other names mold bare, or quoted when they hold a
// blank or another character the bare form cannot hold.
i32 file_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    append_char(out, '%');
    u32 whole = string_length_clamp(value);
    if (whole == 0) {
        append_c_string(out, "\"\"");
        return limit - 3;
    }
    u32 end = whole;
    if (part) end = limit < 1 ? 0 : u32(limit) < whole ? u32(limit) : whole;
    std::vector<u32> cps = string_code_points(value, i32(end));
    bool quote = false, escape = false;
    for (u32 c : cps) {
        if (c < 0x20 || c == 0x7F || c == '"' || c == '^' || raw_byte_char(c))
            escape = true;
        else if (c <= 126 && !bare_file_char(c))
            quote = true;
    }
    i32 written = 0;
    if (escape) {
        u8 buf[4];
        for (u32 c : cps) {
            if (c > 126 && !raw_byte_char(c)) {
                append_char(out, c);
                ++written;
            } else if (bare_file_char(c)) {
                append_char(out, c);
                ++written;
            } else {
                u32 k = raw_byte_char(c) ? (buf[0] = u8(c - RAW_BYTE_BASE), 1) : utf8_encode_char(c, buf);
                for (u32 i = 0; i < k; ++i) append_hex_escape(out, buf[i]);
                written += i32(3 * k);
            }
        }
        return limit - written - 1;
    }
    if (quote) append_char(out, '"');
    for (u32 c : cps) append_char(out, c);
    if (quote) append_char(out, '"');
    return limit - i32(cps.size()) - 1;
}

// ---- make and to --------------------------------------------------------------------------

bool block_kind(u32 t) { return t == T_BLOCK || t == T_PAREN || t == T_HASH; }

void form_into(Cell* v, Cell* out) {
    Cell* s = stack_push(v);
    form_dispatch(s, out, nullptr, INT_MAX);
    stack_pop(1);
}

Cell* url_to(Cell* proto, Cell* spec, u32 type) {
    if (type != T_URL || !block_kind(type_of(spec))) return handler<A_TO>(T_STRING)(proto, spec, type);
    i32 n = ks_length_q(spec);
    if (n <= 0) {
        Cell dt_cell;
        set_cell(&dt_cell, T_DATATYPE, T_URL);
        raise_error(Err::script_bad_to_arg, &dt_cell, spec);
    }
    Cell* blk = stack_push(spec);
    Cell* out = push_string(32);
    auto elem = [&](i32 i) {
        Cell c = *ks_abs_at(blk, series_head(blk) + i);
        return c;
    };
    Cell c = elem(0);
    form_into(&c, out);
    append_c_string(out, "://");
    i32 i = 1;
    if (i < n) {
        c = elem(i++);
        form_into(&c, out);
    }
    if (i < n && type_of(&(c = elem(i))) == T_INTEGER) {
        append_char(out, ':');
        form_into(&c, out);
        ++i;
    }
    for (; i < n; ++i) {
        c = elem(i);
        append_char(out, type_of(&c) == T_ISSUE ? '#' : '/');
        form_into(&c, out);
    }
    set_cell_type(out, T_URL);
    *blk = *out;
    stack_pop(1);
    return blk;
}

Cell* url_make(Cell* proto, Cell* spec, u32 type) {
    if (type == T_URL && block_kind(type_of(spec))) return url_to(proto, spec, type);
    return handler<A_MAKE>(T_STRING)(proto, spec, type);
}

// ---- paths --------------------------------------------------------------------------------

Cell* url_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool, bool get, bool) {
    if (value && !get) raise_error(Err::script_bad_path_set, path, element);
    Cell* base = stack_push(parent);
    Cell* elem = type_of(element) == T_GET_WORD ? push_get_word(element) : stack_push(element);
    Cell* text = push_string(16);
    form_into(elem, text);
    u32 blen = string_length(base), tlen = string_length(text);
    bool base_slash = blen > 0 && string_char_at(base, blen - 1) == '/';
    bool elem_slash = tlen > 0 && string_char_at(text, 0) == '/';
    Cell* out = push_string(blen + tlen + 1);
    string_concatenate(out, base, base_slash && elem_slash ? i32(blen - 1) : -1, 0, true, CONCAT_APPEND);
    if (!base_slash && !elem_slash) append_char(out, '/');
    string_concatenate(out, text, -1, 0, true, CONCAT_APPEND);
    set_cell_type(out, type_of(base));
    *base = *out;
    stack_pop(3);
    return base;
}

// ---- I/O forwarding -------------------------------------------------------------------------

// Each I/O action calls the host's handler, or is not done while there is none.
template <auto M>
struct Forward;
template <typename R, typename... A, R (*ResourceIo::*M)(A...)>
struct Forward<M> {
    static R call(A... args) {
        auto fn = g_resource_io.*M;
        if (!fn) raise_error(Err::internal_not_done);
        return fn(args...);
    }
};

// A url whose text starts with "http" goes to the host's HTTP client; any other goes to the
// port of its scheme, which is made (and for open, opened) from the url.
bool http_url(const Cell* url) { return string_match_c_string_q(url, "http"); }

Cell* url_open(Cell* url, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return url_open_port(url, true, new_, read, write, seek, allow);
}

Cell* url_read(Cell* url, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    if (http_url(url)) return Forward<&ResourceIo::url_read>::call(url, part, seek, binary, lines, info, as);
    Cell* port = url_open_port(url, false, false, false, false, false, nullptr);
    return dispatch<A_READ>(port, part, seek, binary, lines, info, as);
}

Cell* url_write(Cell* url, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
                Cell* allow, Cell* as) {
    if (http_url(url))
        return Forward<&ResourceIo::url_write>::call(url, data, binary, lines, info, append, part, seek, allow, as);
    Cell* value = stack_push(data);
    Cell* port = url_open_port(url, false, false, false, false, false, nullptr);
    return dispatch<A_WRITE>(port, value, binary, lines, info, append, part, seek, allow, as);
}

void inherit_series_actions(TypeRegistration& r) {
    r.inherit(A_FORM).inherit(A_COMPARE);
    for (int a = A_APPEND; a <= A_POKE; ++a) r.inherit(a);
    for (int a : {A_REMOVE, A_REVERSE, A_SELECT, A_SKIP, A_SWAP, A_TAIL, A_TAIL_Q, A_TAKE, A_MODIFY}) r.inherit(a);
}

void init_url() {
    TypeRegistration r(T_URL, T_STRING, "url!");
    inherit_series_actions(r);
    r.set<A_MAKE>(url_make).set<A_TO>(url_to).set<A_MOLD>(url_mold).set<A_EVAL_PATH>(url_eval_path);
    r.set<A_OPEN>(url_open).set<A_READ>(url_read).set<A_WRITE>(url_write);
    register_datatype(r);
}

void init_file() {
    TypeRegistration r(T_FILE, T_URL, "file!");
    inherit_series_actions(r);
    r.inherit(A_MAKE).inherit(A_TO).inherit(A_EVAL_PATH);
    r.set<A_MOLD>(file_mold);
    r.set<A_DELETE>(Forward<&ResourceIo::file_delete>::call).set<A_QUERY>(Forward<&ResourceIo::file_query>::call);
    r.set<A_READ>(Forward<&ResourceIo::file_read>::call).set<A_RENAME>(Forward<&ResourceIo::file_rename>::call);
    r.set<A_WRITE>(Forward<&ResourceIo::file_write>::call);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_URL, init_url);
KEL_DATATYPE(T_FILE, init_file);

}  // namespace kel::dt
