// Matching one rule value against parse input, by the input's kind (see parse_match.h).
#include "evaluator/parse_match.h"

#include <cstring>
#include <string>

#include "datatypes/bitset.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "evaluator/actions.h"
#include "lexer/lexer.h"
#include "runtime/casefold.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace kel::ev::parse {

using namespace rt;

namespace {

// A view of a unit series' storage, read afresh at every call (buffers move).
struct Units {
    const u8* p;
    u32 unit;
    u32 shift;
    explicit Units(const Cell* s) {
        SeriesBuffer* b = buffer_of(series_node(s));
        p = at(b->offset);
        unit = b->unit();
        shift = unit_shift(unit);
    }
    u32 operator[](i32 i) const { return dt::get_char_at(p + (size_t(i) << shift), unit); }
};

inline u32 fold(u32 cp) { return case_fold_char(cp, true); }
inline bool same_char(u32 a, u32 b, bool strict) { return a == b || (!strict && fold(a) == fold(b)); }

// Membership of the code points 0-255 in a bitset, one byte each: the scans below test a
// unit with one load. The table is built again only when the bitset asked about is not the
// one it was built from: the key is what membership below 256 depends on (the first 32
// bytes of bits, how many are stored, the complement flag), compared at every scan, so a
// bitset changed by a paren between two scans is seen.
struct ByteTable {
    u8 key[32];
    u32 key_len = 0;
    bool beyond = false;
    bool built = false;
    u8 in[256];
};

const u8* byte_table(const Cell* bitset) {
    static ByteTable t;
    SeriesBuffer* b = buffer_of(series_node(bitset));
    const u8* bits = at(b->offset);
    u32 stored = b->tail - b->offset;
    u32 n = stored < 32 ? stored : 32;
    bool beyond = (b->flags & SB_COMPLEMENT) != 0;
    // Past the stored bits the complement flag answers, so it matters only when fewer than
    // 256 bits are stored.
    if (n == 32) beyond = false;
    if (t.built && t.key_len == n && t.beyond == beyond && std::memcmp(t.key, bits, n) == 0) return t.in;
    std::memcpy(t.key, bits, n);
    t.key_len = n;
    t.beyond = beyond;
    for (u32 c = 0; c < 256; ++c) t.in[c] = c < n * 8 ? (bits[c >> 3] >> (7 - (c & 7))) & 1 : beyond;
    t.built = true;
    return t.in;
}

// The first one-byte unit from idx (before end) whose membership in the bitset is `member`;
// end when there is none (bit i is under the mask 0x80 >> (i % 8) of byte i / 8; past the
// stored bytes the complement flag answers).
i32 scan_bytes(const u8* p, i32 idx, i32 end, const Cell* bitset, bool member) {
    const u8* table = byte_table(bitset);
    u8 want = member ? 1 : 0;
    while (idx < end && table[p[idx]] != want) ++idx;
    return idx;
}

// The code points of a text rule from its head.
i32 rule_text_length(const Cell* rule) { return i32(dt::string_length(rule)); }

// `to`/`thru` a plain ASCII text on one-byte input, the commonest search of all, through the
// string search's byte scan: -2 when the rule is not such a text.
i32 find_ascii_run(const u8* input, i32 idx, i32 end, const Cell* rule, bool strict, i32* len) {
    constexpr i32 kMax = 64;
    i32 n = rule_text_length(rule);
    if (n < 1 || n > kMax) return -2;
    Units r(rule);
    i32 rh = i32(dt::clamped_head(rule));
    u32 want[kMax];
    for (i32 k = 0; k < n; ++k) {
        u32 c = r[rh + k];
        if (c >= 0x80) return -2;
        want[k] = strict ? c : case_fold_char(c, false);
    }
    if (idx + n > end) return -1;
    i64 at_ = dt::find_forward_bytes(input, idx, end - n, want, size_t(n), strict);
    if (at_ < 0) return -1;
    *len = n;
    return i32(at_);
}

// Whether text rule `rule` matches text input at idx (bounded by end); answers the units.
i32 match_text_at(const Cell* input, i32 idx, i32 end, const Cell* rule, bool strict) {
    i32 n = rule_text_length(rule);
    bool tag = type_of(rule) == T_TAG;
    i32 need = n + (tag ? 2 : 0);
    if (idx + need > end) return -1;
    Units in(input), r(rule);
    i32 rh = i32(dt::clamped_head(rule));
    i32 at_ = idx;
    if (tag && in[at_++] != '<') return -1;
    for (i32 k = 0; k < n; ++k)
        if (!same_char(in[at_ + k], r[rh + k], strict)) return -1;
    if (tag && in[at_ + n] != '>') return -1;
    return need;
}

// The bytes a rule value stands for on binary input (text as UTF-8).
bool binary_rule_bytes(const Cell* rule, std::string* out) {
    u32 t = type_of(rule);
    if (t == T_BINARY) {
        Units r(rule);
        i32 n = i32(series_length(series_node(rule))) - series_head(rule);
        for (i32 k = 0; k < n; ++k) out->push_back(char(r[series_head(rule) + k]));
        return true;
    }
    if (dt::is_any_string_type(t)) {
        Units r(rule);
        i32 n = rule_text_length(rule), h = i32(dt::clamped_head(rule));
        if (t == T_TAG) out->push_back('<');
        for (i32 k = 0; k < n; ++k) {
            u8 buf[4];
            u32 len = utf8_encode_char(r[h + k], buf);
            out->append(reinterpret_cast<char*>(buf), len);
        }
        if (t == T_TAG) out->push_back('>');
        return true;
    }
    if (t == T_CHAR) {
        u32 cp = rule->data2;
        if (cp < 256) out->push_back(char(cp));
        else {
            u8 buf[4];
            out->append(reinterpret_cast<char*>(buf), utf8_encode_char(cp, buf));
        }
        return true;
    }
    if (t == T_INTEGER) {
        out->push_back(char(u8(get_int(rule))));
        return true;
    }
    return false;
}

// ---- binary input -------------------------------------------------------------------------

i32 binary_match(const Cell* input, i32 idx, i32 end, const Cell* rule) {
    if (idx >= end) return -1;
    if (type_of(rule) == T_BITSET) return bitset_has(rule, Units(input)[idx]) ? 1 : -1;
    std::string bytes;
    if (!binary_rule_bytes(rule, &bytes)) return -1;
    i32 n = i32(bytes.size());
    if (idx + n > end) return -1;
    Units in(input);
    for (i32 k = 0; k < n; ++k)
        if (in[idx + k] != u8(bytes[size_t(k)])) return -1;
    return n;
}

i32 binary_find(const Cell* input, i32 idx, i32 end, const Cell* rule, i32* len) {
    if (type_of(rule) == T_BITSET) {
        i32 i = scan_bytes(Units(input).p, idx, end, rule, true);
        if (i >= end) return -1;
        *len = 1;
        return i;
    }
    std::string bytes;
    if (!binary_rule_bytes(rule, &bytes)) raise_error(Err::script_parse_rule, rule);
    i32 n = i32(bytes.size());
    Units in(input);
    for (i32 i = idx; i + n <= end; ++i) {
        i32 k = 0;
        while (k < n && in[i + k] == u8(bytes[size_t(k)])) ++k;
        if (k == n) {
            *len = n;
            return i;
        }
    }
    return -1;
}

// Scans one value from the bytes at idx with the lexer and answers the bytes it took when
// its type is the rule's.
i32 binary_match_type(const Cell* input, i32 idx, i32 end, const Cell* rule) {
    SeriesBuffer* b = buffer_of(series_node(input));
    std::string bytes(reinterpret_cast<const char*>(at(b->offset)) + idx, size_t(end - idx));
    lex::RunOptions opts;
    opts.one = true;
    opts.load = false;
    u32 consumed = 0;
    u32 t = lex::lexer_run(nullptr, reinterpret_cast<const u8*>(bytes.data()), u32(bytes.size()), opts, &consumed);
    if (t == 0 || t == T_ERROR || consumed == 0) return -1;
    bool ok = type_of(rule) == T_DATATYPE ? t == rule->data1 : typeset_has(rule, t);
    return ok ? i32(consumed) : -1;
}

// ---- block input --------------------------------------------------------------------------

bool block_element_equal(const Cell* input, i32 idx, const Cell* rule, bool strict) {
    Cell e = rt::cells_of(buffer_of(series_node(input)))[idx];
    Cell r = *rule;
    u32 t = type_of(&r);
    i32 op = (t == T_LIT_WORD || t == T_LIT_PATH) ? (strict ? OP_FIND : OP_STRICT_FIND)
                                                   : (strict ? OP_STRICT_EQUAL : OP_EQUAL);
    return compare(&e, &r, op);
}

}  // namespace

InputKind input_kind(u32 type) {
    if (type == T_BINARY) return InputKind::binary;
    if (dt::is_text_type(type)) return InputKind::text;
    return InputKind::block;
}

bool bitset_has(const Cell* bitset, u32 cp) { return dt::bitset_has_bit(bitset, cp); }

i32 match_literal(const Cell* input, i32 idx, i32 end, const Cell* rule, bool strict) {
    u32 rt_ = type_of(rule);
    switch (input_kind(type_of(input))) {
        case InputKind::text: {
            if (idx >= end) {
                bool empty_text = (rt_ == T_STRING || rt_ == T_FILE || rt_ == T_URL) && rule_text_length(rule) == 0;
                return empty_text ? 0 : -1;
            }
            if (rt_ == T_CHAR) return same_char(Units(input)[idx], rule->data2, strict) ? 1 : -1;
            if (rt_ == T_BITSET) return bitset_has(rule, Units(input)[idx]) ? 1 : -1;
            if (dt::is_any_string_type(rt_)) return match_text_at(input, idx, end, rule, strict);
            return -1;
        }
        case InputKind::binary: return binary_match(input, idx, end, rule);
        case InputKind::block:
            if (idx >= end) return -1;
            return block_element_equal(input, idx, rule, strict) ? 1 : -1;
    }
    return -1;
}

i32 repeat_literal(const Cell* input, i32 idx, i32 end, const Cell* rule, bool strict, i32 max, i32* after) {
    i32 count = 0;
    u32 rt_ = type_of(rule);
    // The commonest repetitions on text, one unit at a time without a call per unit.
    if (input_kind(type_of(input)) == InputKind::text && (rt_ == T_CHAR || rt_ == T_BITSET)) {
        Units in(input);
        if (rt_ == T_BITSET && in.unit == 1) {
            i32 stop = max >= 0 && i64(idx) + max < end ? idx + max : end;
            i32 after_ = scan_bytes(in.p, idx, stop, rule, false);
            *after = after_;
            return after_ - idx;
        }
        u32 c = rule->data2, fc = fold(c);
        const u8* table = rt_ == T_BITSET ? byte_table(rule) : nullptr;
        while (idx < end && (max < 0 || count < max)) {
            u32 cp = in[idx];
            bool ok = rt_ == T_CHAR ? (cp == c || (!strict && fold(cp) == fc))
                                    : (cp < 256 ? table[cp] != 0 : bitset_has(rule, cp));
            if (!ok) break;
            ++idx;
            ++count;
        }
        *after = idx;
        return count;
    }
    while (max < 0 || count < max) {
        i32 n = match_literal(input, idx, end, rule, strict);
        if (n < 0) break;
        ++count;
        if (n == 0) break;  // an empty match would repeat forever
        idx += n;
    }
    *after = idx;
    return count;
}

i32 find_literal(const Cell* input, i32 idx, i32 end, const Cell* rule, bool strict, i32* len) {
    u32 rt_ = type_of(rule);
    switch (input_kind(type_of(input))) {
        case InputKind::text: {
            Units in(input);
            if (rt_ == T_CHAR) {
                u32 c = rule->data2, fc = fold(c);
                for (i32 i = idx; i < end; ++i) {
                    u32 cp = in[i];
                    if (cp == c || (!strict && fold(cp) == fc)) {
                        *len = 1;
                        return i;
                    }
                }
                return -1;
            }
            if (rt_ == T_BITSET) {
                if (in.unit == 1) {
                    i32 i = scan_bytes(in.p, idx, end, rule, true);
                    if (i >= end) return -1;
                    *len = 1;
                    return i;
                }
                const u8* table = byte_table(rule);
                for (i32 i = idx; i < end; ++i)
                    if (u32 cp = in[i]; cp < 256 ? table[cp] != 0 : bitset_has(rule, cp)) {
                        *len = 1;
                        return i;
                    }
                return -1;
            }
            if (!dt::is_any_string_type(rt_) && rt_ != T_BINARY) raise_error(Err::script_parse_rule, rule);
            if (rt_ == T_BINARY) return -1;
            if (in.unit == 1 && rt_ != T_TAG) {
                i32 at_ = find_ascii_run(in.p, idx, end, rule, strict, len);
                if (at_ != -2) return at_;
            }
            for (i32 i = idx; i <= end; ++i) {
                i32 n = match_text_at(input, i, end, rule, strict);
                if (n >= 0) {
                    *len = n;
                    return i;
                }
            }
            return -1;
        }
        case InputKind::binary: return binary_find(input, idx, end, rule, len);
        case InputKind::block:
            for (i32 i = idx; i < end; ++i)
                if (block_element_equal(input, i, rule, strict)) {
                    *len = 1;
                    return i;
                }
            return -1;
    }
    return -1;
}

i32 match_type(const Cell* input, i32 idx, i32 end, const Cell* rule) {
    InputKind k = input_kind(type_of(input));
    if (k == InputKind::text) raise_error(Err::script_parse_unsupported);
    if (idx >= end) return -1;
    if (k == InputKind::binary) return binary_match_type(input, idx, end, rule);
    u32 t = type_of(&rt::cells_of(buffer_of(series_node(input)))[idx]);
    bool ok = type_of(rule) == T_DATATYPE ? t == rule->data1 : typeset_has(rule, t);
    return ok ? 1 : -1;
}

void element_at(const Cell* input, i32 idx, Cell* out) {
    switch (input_kind(type_of(input))) {
        case InputKind::text: set_cell(out, T_CHAR, 0, Units(input)[idx], 0); break;
        case InputKind::binary: set_cell(out, T_INTEGER, 0, Units(input)[idx], 0); break;
        case InputKind::block: *out = rt::cells_of(buffer_of(series_node(input)))[idx]; break;
    }
}

}  // namespace kel::ev::parse
