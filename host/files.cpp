// The file! actions and the folder listing, over host/fs.h.
#include "host/files.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/dispatch.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "host/fs.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::host {

using namespace rt;

namespace {

// Series hold at most 32-bit sizes, and the arena 4 GiB in all: a larger read is refused
// before any of it is taken.
constexpr u64 MAX_READ = 0xC0000000u;
// Large reads and writes go in pieces of this size, so that each piece is checked while it
// is still in the cache.
constexpr u64 CHUNK = 1 << 20;

[[noreturn]] void cannot_open(const Cell* file) { raise_error(Err::access_cannot_open, file); }

// A /part or /seek argument: integer, or float truncated; none when absent.
std::optional<i64> count_arg(const Cell* c) {
    if (!c) return std::nullopt;
    if (type_of(c) == T_INTEGER) return i64(get_int(c));
    if (type_of(c) == T_FLOAT) {
        double d = get_float(c);
        if (std::isnan(d)) return std::nullopt;
        return d >= 9.0e18 ? i64(9000000000000000000) : d <= -9.0e18 ? -i64(9000000000000000000) : i64(d);
    }
    return std::nullopt;
}

// 64 bytes a step, their top bits gathered by one OR: the check keeps pace with the copy
// the read just made.
bool ascii_only(const u8* p, u64 n) {
    u64 i = 0;
#if defined(__SSE2__)
    for (; i + 64 <= n; i += 64) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32));
        __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 48));
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)))) return false;
    }
#endif
    u64 w = 0;
    for (; i + 8 <= n; i += 8) {
        u64 x;
        std::memcpy(&x, p + i, 8);
        w |= x;
    }
    for (; i < n; ++i) w |= p[i];
    return !(w & 0x8080808080808080ull);
}

// The bytes read, as the read asked: binary!, a block of lines, or a string! from UTF-8.
// The bytes lie outside the arena.
Cell* push_read_result(const u8* bytes, u64 n, bool binary, bool lines) {
    if (binary) return dt::push_binary_copy(bytes, u32(n));
    if (lines) return push_split_lines(bytes, n);
    return dt::load_string(bytes, u32(n), 0);
}

// read-file on an OS path; null when the file cannot be opened or read.
Cell* read_file(const std::string& path, std::optional<i64> part, std::optional<i64> seek, bool binary, bool lines,
                const Cell* file) {
    int fd = fs::open_read(path);
    if (fd < 0) return nullptr;
    struct Closer {
        int fd;
        ~Closer() { fs::close_fd(fd); }
    } closer{fd};
    u64 skip = seek && *seek > 0 ? u64(*seek) : 0;
    i64 size = fs::known_size(fd);
    if (size < 0) {
        // Measured by reading: one pass to the end (a pipe gives its data once).
        std::vector<u8> data;
        i64 limit = part && *part >= 0 ? *part : -1;
        if (!fs::read_stream(fd, skip, limit, data)) return nullptr;
        if (data.size() > MAX_READ) raise_error(Err::internal_no_memory);
        return push_read_result(data.data(), data.size(), binary, lines);
    }
    u64 n = skip >= u64(size) ? 0 : u64(size) - skip;
    if (part && *part >= 0 && u64(*part) < n) n = u64(*part);
    if (n > MAX_READ) raise_error(Err::internal_no_memory);
    if (binary || !lines) {
        // Straight into the value's buffer; text that is all ASCII is its own string.
        Cell* out = stack_push_slot();
        if (binary)
            dt::make_binary_at(out, u32(n));
        else
            dt::make_string_buffer_at(out, u32(n), 1, T_STRING);
        SeriesBuffer* b = buffer_of(series_node(out));
        u8* dest = b->data();
        if (n >= (u64(8) << 20)) fs::prepare_large_buffer(dest, n);
        // Text in pieces, each checked for ASCII while it is still in the cache; binary
        // in one read, there being nothing to check.
        u64 got = 0;
        bool ascii = true;
        while (got < n) {
            u64 want = binary ? n - got : std::min<u64>(n - got, CHUNK);
            i64 r = fs::read_at(fd, dest + got, want, skip + got);
            if (r < 0) {
                stack_pop(1);
                return nullptr;
            }
            if (!binary && ascii) ascii = ascii_only(dest + got, u64(r));
            got += u64(r);
            if (u64(r) < want) break;
        }
        if (binary || ascii) {
            b->tail = b->offset + u32(got);
            return out;
        }
        std::vector<u8> copy(dest, dest + got);
        stack_pop(1);
        return dt::load_string(copy.data(), u32(copy.size()), 0);
    }
    std::vector<u8> data(n);
    i64 got = fs::read_at(fd, data.data(), n, skip);
    if (got < 0) return nullptr;
    (void)file;
    return push_split_lines(data.data(), u64(got));
}

// The bytes a value writes: a string! as UTF-8 (at most `part` characters), a binary! its
// bytes (cut to `part` when 0 < part < length), anything else formed.
std::vector<u8> value_bytes(Cell* value, i64 part) {
    Cell* v = stack_push(value);
    if (type_of(v) == T_BINARY) {
        u32 len = dt::binary_length(v);
        u32 n = part > 0 && u64(part) < len ? u32(part) : len;
        const u8* p = dt::binary_head_ptr(v);
        std::vector<u8> out(p, p + n);
        stack_pop(1);
        return out;
    }
    if (type_of(v) != T_STRING) {
        Cell* s = dt::push_string(16);
        dt::form_dispatch(v, s, nullptr, 0x7FFFFFFF);
        *v = *s;
        stack_pop(1);
    }
    i32 len = part >= 0 && part < 0x7FFFFFFF ? i32(part) : -1;
    const char* text = string_to_utf8(v, &len);
    std::vector<u8> out(text, text + len);
    stack_pop(1);
    return out;
}

// Writes a binary! or a string! of one-byte units straight from its buffer, a string in
// pieces checked for ASCII while in the cache; from the first piece that is not ASCII on,
// the rest is converted to UTF-8. False when the value needs converting from the start.
bool write_direct(int fd, Cell* value, i64 part, bool* ok) {
    u32 t = type_of(value);
    if (t != T_BINARY && t != T_STRING) return false;
    SeriesBuffer* b = buffer_of(series_node(value));
    if (b->unit() != 1) return false;
    u32 len = t == T_BINARY ? dt::binary_length(value) : dt::string_length(value);
    u64 n = len;
    if (t == T_BINARY ? (part > 0 && u64(part) < n) : (part >= 0 && u64(part) < n)) n = u64(part);
    if (t == T_BINARY) {
        *ok = fs::write_all(fd, dt::binary_head_ptr(value), n);
        return true;
    }
    u64 done = 0;
    *ok = true;
    while (done < n && *ok) {
        const u8* p = dt::string_head_ptr(value) + done;
        u64 want = std::min<u64>(n - done, CHUNK);
        if (!ascii_only(p, want)) break;
        *ok = fs::write_all(fd, p, want);
        done += want;
    }
    if (done < n && *ok) {
        Cell rest = *value;
        rest.data1 = u32(dt::clamped_head(value) + done);
        std::vector<u8> bytes = value_bytes(&rest, i64(n - done));
        *ok = fs::write_all(fd, bytes.data(), bytes.size());
    }
    return true;
}

// ---- the actions ---------------------------------------------------------------------------

Cell* file_read_action(Cell* file, Cell* part, Cell* seek, bool binary, bool lines, bool, Cell* as) {
    if (as) raise_error(Err::internal_not_done);
    if (dir_path_q(file)) return push_folder_listing(file);
    std::string path = os_path_of(file);
    Cell* r = read_file(path, count_arg(part), count_arg(seek), binary, lines, file);
    if (!r) cannot_open(file);
    return r;
}

Cell* file_write_action(Cell* file, Cell* data, bool, bool lines, bool, bool append, Cell* part, Cell* seek,
                        Cell* allow, Cell* as) {
    if (allow || as) raise_error(Err::internal_not_done);
    i64 limit = -1;
    if (part) {
        if (type_of(part) != T_INTEGER) {
            Cell word;
            dt::refinement_word("part", &word);
            raise_error(Err::script_invalid_refine_arg, &word, part);
        }
        limit = get_int(part);
        if (limit < 0) cannot_open(file);
    }
    std::optional<i64> at = count_arg(seek);
    std::string path = os_path_of(file);
    // Lines and converted values are gathered before the file is touched: a value that
    // fails to convert leaves the file as it was.
    std::vector<u8> bytes;
    bool direct = false;
    if (lines && type_of(data) == T_BLOCK) {
        Cell* blk = stack_push(data);
        i32 n = dt::ks_length_q(blk);
        for (i32 i = 0; i < n; ++i) {
            Cell item = *dt::ks_abs_at(blk, series_head(blk) + i);
            std::vector<u8> b = value_bytes(&item, limit);
            bytes.insert(bytes.end(), b.begin(), b.end());
            bytes.push_back('\n');
        }
        stack_pop(1);
    } else if (lines || !(type_of(data) == T_BINARY || type_of(data) == T_STRING)) {
        bytes = value_bytes(data, limit);
        if (lines) bytes.push_back('\n');
    } else {
        direct = true;
    }
    int fd = fs::open_write(path, append || (at && *at > 0));
    if (fd < 0) cannot_open(file);
    bool ok = true;
    if (at && *at > 0) ok = fs::seek_to(fd, u64(*at));
    if (ok && append) ok = fs::seek_end(fd);
    if (ok) {
        if (!direct || !write_direct(fd, data, limit, &ok)) {
            if (direct) bytes = value_bytes(data, limit);
            ok = fs::write_all(fd, bytes.data(), bytes.size());
        }
    }
    if (!fs::close_checked(fd)) ok = false;
    if (!ok) cannot_open(file);
    return &dt::g_unset_cell;
}

Cell* file_query_action(Cell* file) {
    std::string path;
    if (!dt::file_os_path(file, path)) return &dt::g_none_cell;
    fs::Status st;
    if (!fs::status(path, st)) return &dt::g_none_cell;
    u32 len = dt::string_length(file);
    if (len && dt::string_char_at(file, len - 1) == '/' && !st.is_dir) return &dt::g_none_cell;
    time_t secs = time_t(st.mtime_seconds);
    struct tm tm;
    if (!gmtime_r(&secs, &tm)) return &dt::g_none_cell;
    Cell* out = stack_push_slot();
    dt::date_make_at_fields(out, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                            st.mtime_nanoseconds);
    return out;
}

Cell* file_delete_action(Cell* file) {
    std::string path;
    bool ok = dt::file_os_path(file, path) && (dir_path_q(file) ? fs::remove_dir(path) : fs::remove_file(path));
    return ok ? &dt::g_true_cell : &dt::g_false_cell;
}

Cell* file_rename_action(Cell* from, Cell* to) {
    std::string a, b;
    if (!dt::is_any_string_type(type_of(to))) raise_error(Err::script_invalid_arg, to);
    bool ok = dt::file_os_path(from, a) && dt::file_os_path(to, b) && fs::rename_no_replace(a, b);
    return ok ? &dt::g_true_cell : &dt::g_false_cell;
}

struct Installer {
    Installer() {
        dt::g_resource_io.file_read = file_read_action;
        dt::g_resource_io.file_write = file_write_action;
        dt::g_resource_io.file_query = file_query_action;
        dt::g_resource_io.file_delete = file_delete_action;
        dt::g_resource_io.file_rename = file_rename_action;
    }
} g_installer;

}  // namespace

Cell* push_file_name(const std::string& name, bool folder) {
    std::vector<u32> cps;
    dt::file_name_code_points(name.data(), name.size(), cps);
    if (folder) cps.push_back('/');
    Cell* f = dt::push_string_from(cps);
    set_cell_type(f, T_FILE);
    return f;
}

// ---- helpers for other modules -------------------------------------------------------------

std::string os_path_of(const Cell* file) {
    std::string path;
    if (!dt::file_os_path(file, path)) cannot_open(file);
    return path;
}

bool dir_path_q(const Cell* file) {
    u32 n = dt::string_length(file);
    if (n == 0) return false;
    auto ch = [&](u32 i) { return dt::string_char_at(file, i); };
    auto sep = [](u32 c) { return c == '/' || c == '\\'; };
    u32 last = ch(n - 1);
    if (sep(last)) return true;
    if (last != '.') return false;
    if (n == 1 || sep(ch(n - 2))) return true;                          // "." or ".../."
    return ch(n - 2) == '.' && (n == 2 || sep(ch(n - 3)));             // ".." or ".../.."
}

bool read_file_bytes(const Cell* file, std::vector<u8>& out) {
    out.clear();
    std::string path;
    if (!dt::file_os_path(file, path)) return false;
    int fd = fs::open_read(path);
    if (fd < 0) return false;
    bool ok;
    i64 size = fs::known_size(fd);
    if (size < 0) {
        ok = fs::read_stream(fd, 0, -1, out);
    } else {
        out.resize(u64(size));
        i64 got = fs::read_at(fd, out.data(), u64(size), 0);
        ok = got >= 0;
        out.resize(ok ? u64(got) : 0);
    }
    fs::close_fd(fd);
    return ok;
}

Cell* push_source_bytes(Cell* source) {
    Cell* src = stack_push(source);
    switch (type_of(src)) {
        case T_BINARY: return src;
        case T_FILE: {
            Cell* r = read_file(os_path_of(src), std::nullopt, std::nullopt, true, false, src);
            if (!r) cannot_open(src);
            *src = *r;
            break;
        }
        case T_URL: {
            *src = *dt::dispatch<A_READ>(src, nullptr, nullptr, true, false, false, nullptr);
            if (type_of(src) == T_BINARY) break;
            if (!dt::is_any_string_type(type_of(src))) raise_error(Err::script_invalid_data, source);
            i32 len = -1;
            const char* text = string_to_utf8(src, &len);
            // Out of the string's scratch buffer first: making the binary may move it.
            std::vector<u8> bytes(text, text + len);
            *src = *dt::push_binary_copy(bytes.data(), u32(bytes.size()));
            break;
        }
        default: raise_error(Err::script_invalid_data, src);
    }
    stack_pop(u32(stack_top() - src));
    return src;
}

std::optional<u64> file_size(const Cell* file) {
    std::string path;
    if (dir_path_q(file) || !dt::file_os_path(file, path)) return std::nullopt;
    // Asked of the name, never by opening it: opening a named pipe would wait for a writer.
    fs::Status st;
    if (!fs::status(path, st) || st.is_dir) return std::nullopt;
    return st.size;
}

bool path_exists(const Cell* file) {
    std::string path;
    return dt::file_os_path(file, path) && fs::exists(path);
}

bool make_folder(const Cell* file) {
    std::string path;
    return dt::file_os_path(file, path) && fs::make_dir(path);
}

Cell* push_folder_listing(Cell* folder) {
    std::string path = os_path_of(folder);
    std::vector<fs::DirEntry> entries;
    if (!fs::list_dir(path, entries)) cannot_open(folder);
    Cell* blk = dt::push_new_block(i32(entries.size()));
    for (const fs::DirEntry& e : entries) {
        push_file_name(e.name, e.is_dir);
        dt::append_top_to_block(blk);
        stack_pop(1);
    }
    return blk;
}

Cell* push_split_lines(const u8* bytes, u64 n) {
    Cell* blk = dt::push_new_block(16);
    u64 start = 0;
    while (start < n) {
        const void* lf = std::memchr(bytes + start, '\n', n - start);
        u64 end = lf ? u64(static_cast<const u8*>(lf) - bytes) : n;
        u64 stop = lf && end > start && bytes[end - 1] == '\r' ? end - 1 : end;
        dt::load_string(bytes + start, u32(stop - start), 0);
        dt::append_top_to_block(blk);
        stack_pop(1);
        start = lf ? end + 1 : n;
    }
    return blk;
}

}  // namespace kel::host
