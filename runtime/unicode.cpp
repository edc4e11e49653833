// Unicode conversion.
#include "runtime/unicode.h"

#include <cstring>

#include "runtime/errors.h"
#include "runtime/fatal.h"

namespace kel::rt {

namespace {

// Byte classes, then transitions indexed by state + class. States are multiples of 12:
// 0 accept, 12 reject; the others count the continuation bytes still expected and the
// range the next one must fall in (so overlong forms, surrogates and code points above
// 0x10FFFF are rejected).
constexpr u8 UTF8_DFA[256 + 108] = {
    // 0x00-0x7F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x80-0x8F, 0x90-0x9F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    // 0xA0-0xBF
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    // 0xC0-0xC1, 0xC2-0xDF
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    // 0xE0, 0xE1-0xEC, 0xED, 0xEE-0xEF, 0xF0, 0xF1-0xF3, 0xF4, 0xF5-0xFF
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // transitions
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,   // 0: start
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 12: reject
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12,     // 24: one continuation byte left
    12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,  // 36: two left
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,  // 48: after E0 (A0-BF)
    12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,  // 60: after ED (80-9F)
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  // 72: after F0 (90-BF)
    12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  // 84: after F1-F3
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 96: after F4 (80-8F)
};

constexpr u32 DFA_ACCEPT = 0;
constexpr u32 DFA_REJECT = 12;

// A binary! holding a copy of the given bytes (at most 4: the argument of invalid-utf8).
[[noreturn]] void raise_invalid_utf8(const u8* p, u32 n) {
    u8 copy[4];
    if (n > 4) n = 4;
    std::memcpy(copy, p, n);  // before allocating: p may lie in a buffer that moves
    Node node = alloc_bytes(n);
    SeriesBuffer* b = buffer_of(node);
    std::memcpy(b->data(), copy, n);
    b->tail = b->offset + n;
    Cell bin;
    set_cell(&bin, T_BINARY, 0, node, 0);
    raise_error(Err::access_invalid_utf8, &bin);
}

[[noreturn]] void raise_invalid_char(u32 cp) {
    Cell c;
    set_cell(&c, T_INTEGER, 0, cp, 0);
    raise_error(Err::script_invalid_char, &c);
}

inline void store_unit(u8* base, u32 unit, u32 i, u32 cp) {
    switch (unit) {
        case 1: base[i] = u8(cp); break;
        case 2: { u16 v = u16(cp); std::memcpy(base + i * 2, &v, 2); break; }
        case 4: std::memcpy(base + i * 4, &cp, 4); break;
        default: fatal_no_switch();
    }
}

inline u16 read_u16le(const u8* p) { return u16(p[0] | (p[1] << 8)); }

// The characters of a string value from its head (clamped to the tail), at most `limit`
// when limit >= 0.
struct Units {
    const u8* base;
    u32 count;
    u32 unit;
};

Units units_of(const Cell* str, i32 limit) {
    SeriesBuffer* b = buffer_of(series_node(str));
    u32 unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) fatal_no_switch();
    u32 total = (b->tail - b->offset) >> unit_shift(unit);
    i32 head = series_head(str);
    u32 h = head < 0 ? 0 : (u32(head) > total ? total : u32(head));
    u32 n = total - h;
    if (limit >= 0 && u32(limit) < n) n = u32(limit);
    return Units{at(b->offset) + size_t(h) * unit, n, unit};
}

}  // namespace

// ---- UTF-8, one character at a time ---------------------------------------------------

const u8* utf8_decode_char(const u8* p, const u8* end, i32* cp) {
    if (p >= end) {
        *cp = -1;
        return p;
    }
    u32 byte = *p++;
    u32 cls = UTF8_DFA[byte];
    u32 code = (0xFFu >> cls) & byte;
    u32 state = UTF8_DFA[256 + cls];
    while (state != DFA_ACCEPT && state != DFA_REJECT) {
        if (p >= end) {
            *cp = -1;
            return p;
        }
        byte = *p++;
        cls = UTF8_DFA[byte];
        code = (byte & 0x3F) | (code << 6);
        state = UTF8_DFA[256 + state + cls];
    }
    *cp = state == DFA_ACCEPT ? i32(code) : -1;
    return p;
}

u32 utf8_count_chars(const u8* start, const u8* end) {
    u32 n = 0;
    i32 cp;
    while (start < end) {
        start = utf8_decode_char(start, end, &cp);
        ++n;
    }
    return n;
}

const u8* utf8_skip_chars(const u8* start, const u8* end, u32 n) {
    i32 cp;
    while (n-- > 0 && start < end) start = utf8_decode_char(start, end, &cp);
    return start;
}

u32 utf8_lead_length(u8 byte) {
    if ((byte & 0xF0) == 0xF0) return 4;
    if ((byte & 0xE0) == 0xE0) return 3;
    if ((byte & 0xC0) == 0xC0) return 2;
    return 0;
}

u32 utf8_char_size(u32 cp) {
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= 0x10FFFF) return 4;
    raise_invalid_char(cp);
}

u32 utf8_string_size(const u8* start, const u8* end, u32 unit) {
    u32 n = u32(end - start) >> unit_shift(unit);
    u32 size = 0;
    for (u32 i = 0; i < n; ++i) size += utf8_char_size(unit_char_at(start, unit, i));
    return size;
}

u32 utf8_encode_char(u32 cp, u8* out) {
    if (cp <= 0x7F) {
        out[0] = u8(cp);
        return 1;
    }
    if (cp <= 0x7FF) {
        out[0] = u8(0xC0 | (cp >> 6));
        out[1] = u8(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp <= 0xFFFF) {
        out[0] = u8(0xE0 | (cp >> 12));
        out[1] = u8(0x80 | ((cp >> 6) & 0x3F));
        out[2] = u8(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp <= 0x10FFFF) {
        out[0] = u8(0xF0 | (cp >> 18));
        out[1] = u8(0x80 | ((cp >> 12) & 0x3F));
        out[2] = u8(0x80 | ((cp >> 6) & 0x3F));
        out[3] = u8(0x80 | (cp & 0x3F));
        return 4;
    }
    raise_invalid_char(cp);
}

u32 utf8_encode_char_bounded(u32 cp, u8* out, u32 room) {
    if (utf8_char_size(cp) > room) return 0;
    return utf8_encode_char(cp, out);
}

void utf8_code_points_keeping_bytes(const u8* p, const u8* end, std::vector<u32>& out, u32 raw_base) {
    while (p < end) {
        if (*p < 0x80) {
            out.push_back(*p++);
            continue;
        }
        i32 cp;
        const u8* next = utf8_decode_char(p, end, &cp);
        if (cp < 0 || (raw_base && cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(raw_base + *p++);
        } else {
            out.push_back(u32(cp));
            p = next;
        }
    }
}

i32 utf8_decode_next(const u8* p, u32 remaining, u32* consumed) {
    *consumed = 0;
    if (remaining == 0) return -1;
    u32 b0 = p[0];
    if (b0 < 0x80) {
        *consumed = 1;
        return i32(b0);
    }
    // The lead byte fixes the length and the range of the second byte; the ranges exclude
    // overlong forms (C0, C1, E0 80-9F, F0 80-8F), surrogates (ED A0-BF) and code points
    // above 0x10FFFF (F4 90-BF, F5-FF).
    u32 need;
    u32 lo = 0x80, hi = 0xBF;
    if (b0 < 0xC2) {
        raise_invalid_utf8(p, remaining);
    } else if (b0 < 0xE0) {
        need = 2;
    } else if (b0 < 0xF0) {
        need = 3;
        if (b0 == 0xE0) lo = 0xA0;
        else if (b0 == 0xED) hi = 0x9F;
    } else if (b0 < 0xF5) {
        need = 4;
        if (b0 == 0xF0) lo = 0x90;
        else if (b0 == 0xF4) hi = 0x8F;
    } else {
        raise_invalid_utf8(p, remaining);
    }
    u32 avail = remaining < need ? remaining : need;
    if (avail > 1 && (p[1] < lo || p[1] > hi)) raise_invalid_utf8(p, remaining);
    for (u32 i = 2; i < avail; ++i)
        if ((p[i] & 0xC0) != 0x80) raise_invalid_utf8(p, remaining);
    if (remaining < need) return -1;
    u32 cp = b0 & (0x7F >> need);
    for (u32 i = 1; i < need; ++i) cp = (cp << 6) | (p[i] & 0x3F);
    // U+FFFE is the marker of a failed decode elsewhere: refused as malformed.
    if (cp == 0xFFFE) raise_invalid_utf8(p, remaining);
    *consumed = need;
    return i32(cp);
}

u32 unit_char_at(const u8* base, u32 unit, u32 i) {
    switch (unit) {
        case 1: return base[i];
        case 2: { u16 v; std::memcpy(&v, base + size_t(i) * 2, 2); return v; }
        case 4: { u32 v; std::memcpy(&v, base + size_t(i) * 4, 4); return v; }
        default: fatal_no_switch();
    }
}

// ---- strings to UTF-8 -----------------------------------------------------------------

u8* reuse_output_buffer(Cell* str, u32 size) {
    if (size == 0) size = 1;
    // Only the string kinds have their third word marked by the collector; any other value
    // (a binary! converted as text) gets a buffer of its own each time.
    switch (type_of(str)) {
        case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: break;
        default: return at(buffer_of(alloc_bytes(size))->offset);
    }
    Node n = str->data3;
    if (n) {
        SeriesBuffer* b = buffer_of(n);
        if (b->size < size) b = expand_series(b, i64(size));
        b->tail = b->offset;
        return at(b->offset);
    }
    n = alloc_bytes(size);
    str->data3 = n;
    return at(buffer_of(n)->offset);
}

namespace {

// Encodes the units into `out` (room checked by the caller); answers the bytes written.
u32 encode_units(const Units& u, u8* out, bool crlf) {
    u8* o = out;
    for (u32 i = 0; i < u.count; ++i) {
        u32 cp = unit_char_at(u.base, u.unit, i);
        if (cp < 0x80) {
            if (cp == '\n' && crlf) *o++ = '\r';
            *o++ = u8(cp);
        } else {
            o += utf8_encode_char(cp, o);
        }
    }
    return u32(o - out);
}

const char* string_to_utf8_buffer(Cell* str, i32* length, bool crlf) {
    i32 limit = *length;
    Units u = units_of(str, limit);
    u64 per = u.unit == 4 ? 4 : u.unit + 1;
    u64 size = per * (u64(u.count) + 1);
    if (size > 0x7FFFFFF0) raise_error(Err::internal_no_memory);
    u8* out = reuse_output_buffer(str, u32(size));
    u = units_of(str, limit);  // the allocation may have moved the string's buffer
    u32 n = encode_units(u, out, crlf);
    out[n] = 0;
    *length = i32(n);
    return reinterpret_cast<const char*>(out);
}

}  // namespace

const char* string_to_utf8(Cell* str, i32* length) { return string_to_utf8_buffer(str, length, false); }

const char* string_to_utf8_len(Cell* str, i32* length, bool crlf) {
    return string_to_utf8_buffer(str, length, crlf);
}

u32 string_to_utf8_into(const Cell* str, u8* dest, i32 limit, bool nul) {
    u32 n = encode_units(units_of(str, limit), dest, false);
    if (nul) dest[n] = 0;
    return n;
}

u32 string_to_utf8_bounded(const Cell* str, u8* dest, u32 room, i32 limit, bool nul) {
    if (nul) {
        if (room == 0) return 0;
        --room;  // keep a byte for the NUL
    }
    Units u = units_of(str, limit <= 0 ? -1 : limit);
    u32 n = 0;
    for (u32 i = 0; i < u.count; ++i) {
        u32 w = utf8_encode_char_bounded(unit_char_at(u.base, u.unit, i), dest + n, room - n);
        if (w == 0) break;
        n += w;
    }
    if (nul) dest[n] = 0;
    return n;
}

// ---- strings to UTF-16LE --------------------------------------------------------------

u32 utf16_encode_char(u32 cp, u16* out) {
    if (cp < 0x10000) {
        out[0] = u16(cp);
        return 1;
    }
    if (cp <= 0x10FFFF) {
        out[0] = u16(0xD800 + ((cp - 0x10000) >> 10));
        out[1] = u16(0xDC00 + (cp & 0x3FF));
        return 2;
    }
    return 0;
}

u32 utf16_extra_size(const u8* start, const u8* end, u32 unit) {
    u32 n = u32(end - start) >> unit_shift(unit);
    u32 extra = 0;
    for (u32 i = 0; i < n; ++i) {
        u32 cp = unit_char_at(start, unit, i);
        if (cp == '\n' || cp > 0xFFFF) extra += 2;
    }
    return extra;
}

void ascii_to_utf16(const char* s, u16* out) {
    while (*s) *out++ = u8(*s++);
    *out = 0;
}

const u16* string_to_utf16_len(Cell* str, i32* length, bool crlf) {
    i32 limit = *length;
    Units u = units_of(str, limit);
    u64 size = 2 * u64(u.count) + 2 + utf16_extra_size(u.base, u.base + size_t(u.count) * u.unit, u.unit);
    if (size > 0x7FFFFFF0) raise_error(Err::internal_no_memory);
    auto* out = reinterpret_cast<u16*>(reuse_output_buffer(str, u32(size)));
    u = units_of(str, limit);
    u16* o = out;
    for (u32 i = 0; i < u.count; ++i) {
        u32 cp = unit_char_at(u.base, u.unit, i);
        if (cp == '\n' && crlf) *o++ = '\r';
        u32 w = utf16_encode_char(cp, o);
        if (w == 0) raise_invalid_char(cp);
        o += w;
    }
    *o = 0;
    *length = i32(o - out);
    return out;
}

const u16* string_to_utf16(Cell* str) {
    i32 length = -1;
    return string_to_utf16_len(str, &length, false);
}

// ---- loading into strings -------------------------------------------------------------

namespace {

// Makes sure the buffer holds `units` units of its width from its first used unit.
SeriesBuffer* ensure_units(SeriesBuffer* b, u32 units) {
    u64 need = u64(units) * b->unit();
    if (u64(b->data_end() - b->offset) < need) {
        if (need > 0x7FFFFFF0) raise_error(Err::internal_no_memory);
        b = expand_series(b, i64(need));
    }
    return b;
}

}  // namespace

Node load_utf8(const u8* bytes, u32 length, Node target, u32* remaining, bool crlf) {
    u32 capacity = length ? length : 1;
    Node node = target;
    if (node) ensure_units(buffer_of(node), capacity);
    else node = alloc_series(capacity, 1, 0);
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->offset;
    if (remaining) *remaining = 0;

    u32 pos = 0;
    if (length > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) pos = 3;
    u32 unit = b->unit();
    u8* base = at(b->offset);
    u32 written = 0;
    while (pos < length) {
        u32 used;
        i32 cp = utf8_decode_next(bytes + pos, length - pos, &used);
        if (cp < 0) {
            if (remaining) *remaining = length - pos;
            break;
        }
        pos += used;
        if (crlf && cp == '\r') {
            if (pos < length && bytes[pos] == '\n') continue;
            cp = '\n';
        }
        u32 c = u32(cp);
        if ((unit == 1 && c > 0xFF) || (unit == 2 && c > 0xFFFF)) {
            b = buffer_of(node);
            b->tail = b->offset + written * unit;
            if (unit == 1) b = c > 0xFFFF ? widen_latin1_to_ucs4(b) : widen_latin1_to_ucs2(b);
            else b = widen_ucs2_to_ucs4(b);
            unit = b->unit();
            // Room for every character still to come: no further growth in this loop.
            b = ensure_units(b, written + 1 + (length - pos));
            base = at(b->offset);
        }
        store_unit(base, unit, written++, c);
    }
    b = buffer_of(node);
    b->tail = b->offset + written * unit;
    return node;
}

Node load_utf8_into(const u8* bytes, u32 length, Cell* str, u32* remaining) {
    return load_utf8(bytes, length, series_node(str), remaining, false);
}

Node load_utf8_new(const u8* bytes, u32 length) { return load_utf8(bytes, length, 0, nullptr, false); }

Node load_utf16le(const void* text, u32 count, Cell* target, bool crlf) {
    if (!text && (!target || !target->data3)) count = 0;  // no scratch text to take
    auto source = [&]() -> const u8* {
        if (text) return static_cast<const u8*>(text);
        if (!count) return nullptr;
        return at(buffer_of(target->data3)->offset);
    };
    // Check the pairs and find the narrowest unit before anything is allocated.
    const u8* p = source();
    u32 unit = 1;
    for (u32 i = 0; i < count; ++i) {
        u16 v = read_u16le(p + size_t(i) * 2);
        if (v >= 0xD800 && v <= 0xDFFF) {
            bool paired = v <= 0xDBFF && i + 1 < count;
            u16 next = paired ? read_u16le(p + size_t(i + 1) * 2) : 0;
            if (!paired || next < 0xDC00 || next > 0xDFFF) raise_invalid_utf8(p + size_t(i) * 2, paired ? 4 : 2);
            unit = 4;
            ++i;
        } else if (v > 0xFF && unit < 2) {
            unit = 2;
        }
    }

    Node node;
    if (target) {
        node = series_node(target);
        SeriesBuffer* b = buffer_of(node);
        b->flags = (b->flags & ~SB_UNIT_MASK) | unit;
        ensure_units(b, count);
    } else {
        if (count == 0) unit = 2;
        node = alloc_series(count ? count : 1, unit, 0);
    }
    SeriesBuffer* b = buffer_of(node);
    b->flags |= SB_UTF16_LOADED;
    p = source();  // the allocation may have moved a scratch buffer
    u8* out = at(b->offset);
    u32 n = 0;
    for (u32 i = 0; i < count; ++i) {
        u32 cp = read_u16le(p + size_t(i) * 2);
        if (crlf && cp == '\r') continue;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            u32 low = read_u16le(p + size_t(++i) * 2);
            cp = 0x10000 + ((cp & 0x3FF) << 10) + (low & 0x3FF);
        }
        store_unit(out, unit, n++, cp);
    }
    b->tail = b->offset + n * unit;
    return node;
}

// ---- widening -------------------------------------------------------------------------

namespace {

// Units converted from the last backwards, so that source and destination can share a buffer.
template <class From, class To>
void widen_units(u8* to, const u8* from, size_t count) {
    for (size_t i = count; i-- > 0;) {
        From f;
        std::memcpy(&f, from + i * sizeof(From), sizeof f);
        To t = To(f);
        std::memcpy(to + i * sizeof(To), &t, sizeof t);
    }
}

template <class From, class To>
SeriesBuffer* widen(SeriesBuffer* b, u32 extra) {
    u32 count = (b->tail - b->offset) / sizeof(From);
    u32 need = count * sizeof(To) + extra;
    if (b->data_end() - b->offset < need) b = expand_series(b, i64(need));
    u8* base = at(b->offset);
    widen_units<From, To>(base, base, count);
    b->tail = b->offset + count * sizeof(To);
    b->flags = (b->flags & ~SB_UNIT_MASK) | sizeof(To);
    return b;
}

}  // namespace

SeriesBuffer* widen_latin1_to_ucs2(SeriesBuffer* b) { return widen<u8, u16>(b, 2); }
SeriesBuffer* widen_latin1_to_ucs4(SeriesBuffer* b) { return widen<u8, u32>(b, 4); }
SeriesBuffer* widen_ucs2_to_ucs4(SeriesBuffer* b) { return widen<u16, u32>(b, 4); }

void copy_text_units(u8* to, u32 to_unit, const u8* from, u32 from_unit, size_t n) {
    if (to_unit == from_unit) {
        std::memmove(to, from, n * to_unit);
        return;
    }
    if (from_unit == 1 && to_unit == 2) widen_units<u8, u16>(to, from, n);
    else if (from_unit == 1) widen_units<u8, u32>(to, from, n);
    else widen_units<u16, u32>(to, from, n);
}

}  // namespace kel::rt
