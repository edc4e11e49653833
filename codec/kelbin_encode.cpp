// KELBIN encoders: one record writer for both forms, which differ only in how fields are
// spelled (LEB128 and prefix bytes, or 32-bit words with header bits).
#include <cmath>
#include <cstdlib>
#include <new>
#include <cstring>
#include <string>
#include <algorithm>
#include <vector>

#include "codec/kelbin.h"
#include "codec/kelbin_format.h"
#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/geometry.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "runtime/errors.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::codec {

using namespace rt;

bool kelbin_type_supported(u32 type) {
    Kind k = kind_of_type(type);
    if (k == Kind::NONE || k == Kind::REFUSED || k == Kind::IMAGE) return false;
    // A datatype registered by name only has no values yet to write or read.
    return dt::datatype_built(type);
}

namespace {

// The result binary, written in place: the collector is held while the encoder runs (it
// makes nothing else), so the buffer stays where it is. Fresh memory is costly to touch
// (a fault per page, more under some virtual machines), so the records go straight into
// the result, sized from the first pass's estimate, and nothing is copied after. The first
// RESERVE bytes are kept for the header, which is known only at the end.
class Out {
public:
    static constexpr size_t RESERVE = 256;  // the header, counts and a small symbol table

    // Pushes the binary (room for `capacity` record bytes) on the argument stack.
    void open(size_t capacity) {
        cell_ = stack_push_slot();
        set_cell(cell_, T_NONE);
        make(RESERVE + capacity);
        pos_ = RESERVE;
    }
    size_t size() const { return pos_ - RESERVE; }
    // Room for n more bytes; answers where they go.
    u8* grow(size_t n) {
        if (pos_ + n > cap_) prepare(n);
        u8* p = base_ + pos_;
        pos_ += n;
        return p;
    }
    void push(u8 b) { *grow(1) = b; }
    // Room for n more bytes without taking them; advance() takes what was written.
    u8* room(size_t n) {
        if (pos_ + n > cap_) prepare(n);
        return base_ + pos_;
    }
    void advance(size_t n) { pos_ += n; }
    void append(const void* p, size_t n) {
        if (n) std::memcpy(grow(n), p, n);
    }
    void shrink_by(size_t n) { pos_ -= n; }

    // Puts `head` before the records and sets the binary's bounds.
    Cell* close(const std::vector<u8>& head) {
        size_t h = head.size();
        size_t records = size();
        size_t start = RESERVE - h;
        if (h > RESERVE) {
            // A symbol table larger than the room kept: the records move up.
            grow(h - RESERVE);
            std::memmove(base_ + h, base_ + RESERVE, records);
            start = 0;
        }
        std::memcpy(base_ + start, head.data(), h);
        SeriesBuffer* b = buffer_of(series_node(cell_));
        b->offset = off_of(base_ + start);
        b->tail = b->offset + u32(h + records);
        return cell_;
    }

private:
    static constexpr size_t LIMIT = 0x7FFFFFF0;
    Cell* cell_ = nullptr;
    u8* base_ = nullptr;
    size_t pos_ = 0, cap_ = 0;

    void make(size_t capacity) {
        if (capacity > LIMIT) throw std::bad_alloc();
        dt::make_binary_at(cell_, u32(capacity));
        SeriesBuffer* b = buffer_of(series_node(cell_));
        base_ = b->data();
        cap_ = b->size;
    }
    // Grows the binary (the collector is held: the old buffer stays readable) when n more
    // bytes do not fit.
    void prepare(size_t n) {
        u8* old = base_;
        size_t keep = pos_;
        make(std::max(cap_ * 2, pos_ + n + 4096));
        std::memcpy(base_, old, keep);  // the old buffer is left for the collector
    }
};

class KeyTable {
public:
    // The slot of `key`: found (true) or taken for it with `value` (false).
    bool find_or_add(u32 key, u32 value, u32* found) {
        if ((count_ + 1) * 4 > slots_.size() * 3) rehash();
        size_t mask = slots_.size() - 1;
        for (size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            u64 s = slots_[i];
            if (!s) {
                slots_[i] = u64(key) << 32 | value;
                ++count_;
                return false;
            }
            if (u32(s >> 32) == key) {
                *found = u32(s);
                return true;
            }
        }
    }

private:
    std::vector<u64> slots_;  // key << 32 | value; 0 is empty (no node is 0)
    size_t count_ = 0;
    static size_t hash(u32 k) { return size_t(k * 0x9E3779B1u) >> 7; }
    void rehash() {
        std::vector<u64> old = std::move(slots_);
        slots_.assign(old.empty() ? 1024 : old.size() * 2, 0);
        size_t mask = slots_.size() - 1;
        for (u64 s : old) {
            if (!s) continue;
            size_t i = hash(u32(s >> 32)) & mask;
            while (slots_[i]) i = (i + 1) & mask;
            slots_[i] = s;
        }
    }
};

// The first pass: finds the series and contexts that the value reaches more than once, so
// that the writer records paths for those alone. Marks live in the buffers' flags and are
// cleared by the destructor, however the encoding ends.
class SharingPass {
public:
    ~SharingPass() { clear(); }
    // Before an error is raised: raising allocates, and the collector must not meet the marks.
    void clear() {
        for (Node n : marked_) buffer_of(n)->flags &= ~(SB_KB_SEEN | SB_KB_SHARED);
        marked_.clear();
    }

    // A guess at the size of the records, which sizes the result: most records take a few
    // bytes, series add their contents and references their paths.
    size_t estimate() const { return estimate_ + 64; }

    void walk(const Cell* v, u32 depth) {
        if (depth > MAX_DEPTH) return;  // the writer refuses it
        estimate_ += 6;
        u32 t = type_of(v);
        switch (kind_of_type(t)) {
            case Kind::CELLS:
                if (visit(series_node(v))) walk_cells(series_node(v), depth);
                else estimate_ += 4 * depth;
                return;
            case Kind::TEXT: case Kind::BINARY: case Kind::VECTOR: case Kind::BITSET:
                if (visit(series_node(v))) estimate_ += buffer_of(series_node(v))->used_bytes() + 8;
                else estimate_ += 4 * depth;
                return;
            case Kind::MONEY: case Kind::DATE: case Kind::TYPESET: case Kind::FLOATING: case Kind::TUPLE:
            case Kind::POINT:
                estimate_ += 8;
                return;
            case Kind::MAP:
                if (visit(v->data2)) walk_cells(v->data2, depth);
                return;
            case Kind::WORD: {
                Node ctx = word_context(v);
                if (!ctx || ctx == dt::g_global_context) return;
                const Cell* owner = dt::context_owner(ctx);
                u32 ot = type_of(owner);
                if ((ot == T_OBJECT || ot == T_FUNCTION) && owner->data1 == ctx) walk_context_owner(owner, depth);
                return;
            }
            case Kind::OBJECT: case Kind::ERROR: case Kind::FUNCTION: walk_context_owner(v, depth); return;
            case Kind::BUILTIN:
                if (visit(v->data2)) walk_cells(v->data2, depth);
                return;
            case Kind::OP: {
                Cell wrapped = *v;
                wrapped.header = (v->header >> 16) & 0xFF;
                walk(&wrapped, depth);
                return;
            }
            default: return;
        }
    }

private:
    std::vector<Node> marked_;
    size_t estimate_ = 0;

    // True the first time: the caller walks the contents.
    bool visit(Node n) {
        SeriesBuffer* b = buffer_of(n);
        if (b->flags & SB_KB_SEEN) {
            b->flags |= SB_KB_SHARED;
            return false;
        }
        b->flags |= SB_KB_SEEN;
        marked_.push_back(n);
        return true;
    }
    void walk_cells(Node n, u32 depth) {
        u32 count = buffer_of(n)->used_bytes() / sizeof(Cell);
        for (u32 i = 0; i < count; ++i) walk(cells_of(buffer_of(n)) + i, depth + 1);
    }
    void walk_context_owner(const Cell* v, u32 depth) {
        Node ctx = v->data1;
        if (!visit(ctx)) {
            estimate_ += 4 * depth;
            return;
        }
        estimate_ += 5 * dt::context_word_count(ctx) + 16;
        if (type_of(v) == T_FUNCTION) {
            if (visit(v->data2)) walk_cells(v->data2, depth + 1);
            Cell body = *dt::function_record(v, dt::FN_BODY);
            if (type_of(&body) == T_BLOCK && visit(body.data2)) walk_cells(body.data2, depth + 1);
            return;
        }
        if (dt::context_on_stack(ctx)) return;
        u32 n = dt::context_value_count(ctx);
        for (u32 i = 0; i < n; ++i) walk(dt::context_values(ctx) + i, depth + 1);
    }
};

// One writer per record form, so that no value tests the form.
template <bool Compact>
class Encoder {
public:
    Encoder(SharingPass& marks, Out& out) : marks_(marks), rec_(out) {
        path_.push_back(0);
        for (u32 t = 0; t < 256; ++t) supported_[t] = kelbin_type_supported(t);
    }

    void write(const Cell* v) {
        if (++depth_ > MAX_DEPTH) fail(Err::internal_too_deep, nullptr);
        write_record(v);
        --depth_;
        ++path_.back();
    }

    // Everything before the records: header, counts, symbol table.
    std::vector<u8> head(u32 records) const {
        std::vector<u8> out;
        out.reserve(strings_.size() + 4 * offsets_.size() + 48);
        out.insert(out.end(), {'K', 'E', 'L', 'B', 'I', 'N', 2});
        bool symbols = !offsets_.empty();
        if (compact_) {
            out.push_back(u8(KB_COMPACT | (symbols ? KB_SYMBOLS : 0)));
            put_varint(out, 1);
            put_varint(out, records);
            if (symbols) {
                put_varint(out, u32(offsets_.size()));
                put_varint(out, u32(strings_.size()));
            }
        } else {
            out.push_back(symbols ? KB_SYMBOLS : 0);
            put_u32(out, 1);
            put_u32(out, records);
            if (symbols) {
                put_u32(out, u32(offsets_.size()));
                put_u32(out, u32(strings_.size()));
            }
        }
        if (symbols) {
            for (u32 o : offsets_) put_u32(out, o);
            out.insert(out.end(), strings_.begin(), strings_.end());
        }
        return out;
    }

private:
    static constexpr bool compact_ = Compact;
    SharingPass& marks_;
    u32 depth_ = 0;
    Out& rec_;
    bool supported_[256];
    std::string strings_;
    std::vector<u32> offsets_;
    KeyTable symbols_;  // symbol id + 1 -> index in the table
    u32 last_symbol_ = 0, last_index_ = 0;  // runs of one word are common
    std::vector<u32> path_;                 // one record counter per open container
    KeyTable keys_;                         // series or context node -> its path in paths_
    std::vector<u32> paths_;                // per recorded path: length, entries

    // ---- fields -------------------------------------------------------------------------
    static void put_varint(std::vector<u8>& out, u32 v) {
        while (v >= 0x80) {
            out.push_back(u8(v | 0x80));
            v >>= 7;
        }
        out.push_back(u8(v));
    }
    static void put_u32(std::vector<u8>& out, u32 v) {
        u8 b[4] = {u8(v), u8(v >> 8), u8(v >> 16), u8(v >> 24)};
        out.insert(out.end(), b, b + 4);
    }
    void byte(u8 b) { rec_.push(b); }
    void varint(u32 v) {
        u8* p = rec_.grow(5);
        u32 n = 0;
        while (v >= 0x80) {
            p[n++] = u8(v | 0x80);
            v >>= 7;
        }
        p[n++] = u8(v);
        rec_.shrink_by(5 - n);
    }
    void zigzag(i32 n) { varint((u32(n) << 1) ^ u32(n >> 31)); }
    void raw32(u32 v) {
        u8* p = rec_.grow(4);
        p[0] = u8(v), p[1] = u8(v >> 8), p[2] = u8(v >> 16), p[3] = u8(v >> 24);
    }
    void raw_bytes(const void* p, size_t n) { rec_.append(p, n); }
    void pad4() {
        while (rec_.size() % 4) rec_.push(0);
    }
    // A count or index: a varint, or a word of the standard form.
    void count(u32 n) { compact_ ? varint(n) : raw32(n); }

    // Compact: the type byte (with the escape for ids above 62). Standard: the header word.
    void type_byte(u32 type, bool extra) {
        if (type < C_TYPE_ESCAPE) {
            byte(u8(type | (extra ? C_EXTRA : 0)));
        } else {
            byte(u8(C_TYPE_ESCAPE | (extra ? C_EXTRA : 0)));
            varint(type);
        }
    }
    void header(const Cell* v, u32 type, u32 bits) { raw32(type | bits | ((v->header & CELL_NEW_LINE) ? S_NEW_LINE : 0)); }

    void symbol(u32 id) {
        if (id + 1 == last_symbol_) return count(last_index_);
        u32 index;
        if (!symbols_.find_or_add(id + 1, u32(offsets_.size()), &index)) {
            index = u32(offsets_.size());
            offsets_.push_back(u32(strings_.size()));
            strings_.append(symbol_name(id), symbol_name_length(id));
            strings_.push_back('\0');
            if (!compact_)
                while (strings_.size() % 8) strings_.push_back('\0');
        }
        last_symbol_ = id + 1;
        last_index_ = index;
        count(index);
    }

    // ---- references ---------------------------------------------------------------------
    // The path of the first record of `key`, or null after recording the current path.
    const u32* seen(Node key) {
        if (!(buffer_of(key)->flags & SB_KB_SHARED)) return nullptr;
        u32 found;
        if (keys_.find_or_add(key, u32(paths_.size()), &found)) return &paths_[found];
        paths_.push_back(u32(path_.size()));
        paths_.insert(paths_.end(), path_.begin(), path_.end());
        return nullptr;
    }
    void write_path(const u32* p) {
        if (!compact_) raw32(S_PATH_RECORD);
        count(p[0]);
        for (u32 i = 1; i <= p[0]; ++i) count(p[i]);
    }
    // Compact: the reference prefix comes before the type byte.
    void reference_prefix(const u32* ref) {
        if (compact_ && ref) byte(C_REFERENCE);
    }
    u32 ref_bit(const u32* ref) const { return ref ? S_REFERENCE : 0; }

    // Containers number their records from 0; the container's own path is the one before.
    void open_level() { path_.push_back(0); }
    void close_level() { path_.pop_back(); }
    // A record carried inside another one shares its path and is not counted on its own.
    void write_carried(const Cell* v) {
        if (++depth_ > MAX_DEPTH) fail(Err::internal_too_deep, nullptr);
        write_record(v);
        --depth_;
    }

    [[noreturn]] void fail(Err e, const Cell* v) {
        Cell arg = v ? *v : dt::g_none_cell;
        marks_.clear();
        v ? raise_error(e, &arg) : raise_error(e);
    }
    [[noreturn]] void refuse(const Cell* v) { fail(Err::access_no_codec, v); }

    // ---- records ------------------------------------------------------------------------
    // The commonest values in a block, each with one room check: integers, floats, logic
    // values, characters, none, pairs and globally bound words, as write_record writes
    // them. False for any other value.
    bool write_scalar(const Cell* v) {
        u32 t = type_of(v);
        bool nl = (v->header & CELL_NEW_LINE) != 0;
        if constexpr (Compact) {
            if (t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD) {
                if (word_owner(v)) return false;
                if (nl) byte(C_NEW_LINE);
                byte(u8(t));
                symbol(word_symbol(v));
                return true;
            }
            u8* p = rec_.room(16);
            u8* q = p;
            if (nl) *q++ = C_NEW_LINE;
            switch (t) {
                case T_INTEGER: {
                    i32 n = get_int(v);
                    if (n >= 0 && n < 64) {
                        *q++ = u8(C_SMALL_INT + n);
                    } else {
                        *q++ = u8(t);
                        q = put_varint(q, (u32(n) << 1) ^ u32(n >> 31));
                    }
                    break;
                }
                case T_LOGIC: *q++ = v->data1 == 1 ? C_TRUE : C_FALSE; break;
                case T_CHAR: *q++ = u8(t), q = put_varint(q, v->data2); break;
                case T_NONE: *q++ = u8(t); break;
                case T_FLOAT: {
                    double d = get_float(v);
                    if (d >= -2147483000.0 && d <= 2147483000.0 && !(d == 0.0 && std::signbit(d)) &&
                        double(i32(d)) == d) {
                        *q++ = u8(t | C_EXTRA);
                        q = put_varint(q, (u32(i32(d)) << 1) ^ u32(i32(d) >> 31));
                    } else {
                        *q++ = u8(t);
                        put32(q, v->data2), put32(q + 4, v->data3);
                        q += 8;
                    }
                    break;
                }
                case T_PAIR:
                    *q++ = u8(t);
                    q = put_varint(q, (v->data2 << 1) ^ u32(i32(v->data2) >> 31));
                    q = put_varint(q, (v->data3 << 1) ^ u32(i32(v->data3) >> 31));
                    break;
                default: return false;
            }
            rec_.advance(size_t(q - p));
            return true;
        } else {
            u32 h = t | (nl ? S_NEW_LINE : 0);
            u32 w1, w2 = 0;
            size_t words = 2;
            switch (t) {
                case T_INTEGER: w1 = v->data2; break;
                case T_LOGIC: w1 = v->data1 == 1; break;
                case T_CHAR: w1 = v->data2; break;
                case T_NONE: w1 = 0, words = 1; break;
                case T_PAIR: w1 = v->data2, w2 = v->data3, words = 3; break;
                case T_FLOAT:
                    // Doubles sit on 8-byte boundaries of the records area.
                    if (rec_.size() % 8) raw32(0);
                    w1 = v->data3, w2 = v->data2, words = 3;
                    break;
                case T_WORD: case T_SET_WORD: case T_GET_WORD: case T_LIT_WORD:
                    if (word_owner(v)) return false;
                    raw32(h | S_GLOBAL_WORD);
                    symbol(word_symbol(v));
                    raw32(v->data3);
                    return true;
                default: return false;
            }
            u8* p = rec_.room(12);
            put32(p, h), put32(p + 4, w1), put32(p + 8, w2);
            rec_.advance(4 * words);
            return true;
        }
    }
    static u8* put_varint(u8* p, u32 v) {
        while (v >= 0x80) {
            *p++ = u8(v | 0x80);
            v >>= 7;
        }
        *p++ = u8(v);
        return p;
    }
    static void put32(u8* p, u32 v) { std::memcpy(p, &v, 4); }  // little-endian host

    void write_record(const Cell* v) {
        u32 t = type_of(v);
        if (!supported_[t]) refuse(v);
        if (compact_ && (v->header & CELL_NEW_LINE)) byte(C_NEW_LINE);
        switch (kind_of_type(t)) {
            case Kind::EMPTY: compact_ ? type_byte(t, false) : header(v, t, 0); return;
            case Kind::LOGIC:
                if (compact_) byte(v->data1 == 1 ? C_TRUE : C_FALSE);
                else header(v, t, 0), raw32(v->data1 == 1);
                return;
            case Kind::DATATYPE: compact_ ? type_byte(t, false) : header(v, t, 0); count(v->data1); return;
            case Kind::CHAR: compact_ ? type_byte(t, false) : header(v, t, 0); count(v->data2); return;
            case Kind::INTEGER: {
                i32 n = get_int(v);
                if (!compact_) return header(v, t, 0), raw32(u32(n));
                if (n >= 0 && n < 64) return byte(u8(C_SMALL_INT + n));
                type_byte(t, false);
                return zigzag(n);
            }
            case Kind::FLOATING:
            case Kind::PERCENT: return write_number(v, t);
            case Kind::PAIR:
                if (!compact_) return header(v, t, 0), raw32(v->data2), raw32(v->data3);
                type_byte(t, false);
                zigzag(i32(v->data2));
                return zigzag(i32(v->data3));
            case Kind::POINT:
                compact_ ? type_byte(t, false) : header(v, t, 0);
                raw32(v->data1), raw32(v->data2);
                if (t == T_POINT3D) raw32(v->data3);
                return;
            case Kind::TUPLE: {
                u32 n = dt::tuple_length(v);
                if (!compact_) {
                    header(v, t, n << 8);
                    return raw_bytes(dt::tuple_bytes(v), 12);
                }
                type_byte(t, n != 3);
                if (n != 3) byte(u8(n));
                return raw_bytes(dt::tuple_bytes(v), n);
            }
            case Kind::TYPESET: {
                u8 bits[12];
                std::memcpy(bits, &v->data1, 12);
                if (!compact_) return header(v, t, 0), raw_bytes(bits, 12);
                u32 n = 12;
                while (n && !bits[n - 1]) --n;
                type_byte(t, false);
                byte(u8(n));
                return raw_bytes(bits, n);
            }
            case Kind::DATE: {
                bool timed = (v->data1 & 0x10000) != 0;
                if (!compact_) return header(v, t, 0), raw32(v->data1), raw32(v->data3), raw32(v->data2);
                type_byte(t, timed);
                raw32(v->data1);
                if (timed) raw32(v->data2), raw32(v->data3);
                return;
            }
            case Kind::MONEY: {
                bool negative = (v->header & 0x4000) != 0;
                compact_ ? type_byte(t, negative) : header(v, t, negative ? S_MONEY_NEGATIVE : 0);
                return raw_bytes(&v->data1, 12);
            }
            case Kind::ISSUE: compact_ ? type_byte(t, false) : header(v, t, 0); return symbol(word_symbol(v));
            case Kind::CELLS:
            case Kind::TEXT:
            case Kind::BINARY:
            case Kind::VECTOR: return write_series(v, t);
            case Kind::BITSET: return write_bitset(v);
            case Kind::MAP: return write_map(v);
            case Kind::WORD: return write_word(v, t);
            case Kind::OBJECT: return write_object(v);
            case Kind::ERROR: return write_error(v);
            case Kind::FUNCTION: return write_function(v);
            case Kind::BUILTIN:
                compact_ ? type_byte(t, false) : header(v, t, 0);
                count(v->data1 + 1);
                {
                    Cell spec;
                    set_cell(&spec, T_BLOCK, 0, v->data2, 0);
                    return write_carried(&spec);
                }
            case Kind::OP: {
                u32 source = (v->header >> 16) & 0xFF;
                if (source == T_ROUTINE) refuse(v);
                compact_ ? type_byte(t, false) : header(v, t, source << 16);
                Cell wrapped = *v;
                wrapped.header = source;
                return write_carried(&wrapped);
            }
            default: refuse(v);
        }
    }

    void write_number(const Cell* v, u32 t) {
        double d = get_float(v);
        if (!compact_) {
            // Doubles sit on 8-byte boundaries of the records area.
            while (rec_.size() % 8) raw32(0);
            header(v, t, 0);
            u64 bits;
            std::memcpy(&bits, &d, 8);
            return raw32(u32(bits >> 32)), raw32(u32(bits));
        }
        bool negative_zero = d == 0.0 && std::signbit(d);
        if (t == T_PERCENT) {
            if (d >= -21474836.0 && d <= 21474836.0 && !negative_zero) {
                i32 n = i32(d * 100.0 + (d < 0 ? -0.5 : 0.5));
                if (n / 100.0 == d) return type_byte(t, true), zigzag(n);
            }
        } else if (d >= -2147483000.0 && d <= 2147483000.0 && !negative_zero && double(i32(d)) == d) {
            return type_byte(t, true), zigzag(i32(d));
        }
        type_byte(t, false);
        raw32(v->data2);
        raw32(v->data3);
    }

    // Blocks, the text kinds, binaries and vectors: from the buffer's first unit, the head
    // index apart.
    void write_series(const Cell* v, u32 t) {
        i32 head = series_head(v);
        const u32* ref = seen(series_node(v));
        SeriesBuffer* b = buffer_of(series_node(v));
        u32 unit = b->unit();
        u32 n = b->used_bytes() >> unit_shift(unit);
        if (compact_) {
            reference_prefix(ref);
            type_byte(t, head != 0);
            if (head != 0) varint(u32(head));
        } else {
            u32 bits = kind_of_type(t) == Kind::CELLS ? 0 : unit << 8;
            header(v, t, bits | ref_bit(ref));
            raw32(u32(head));
        }
        if (ref) return write_path(ref);
        switch (kind_of_type(t)) {
            case Kind::CELLS: {
                count(n);
                open_level();
                // The values of this block are one level deeper; past the deepest level
                // the general writer refuses them.
                bool shallow = depth_ < MAX_DEPTH;
                for (u32 i = 0; i < n; ++i) {
                    const Cell* c = cells_of(buffer_of(series_node(v))) + i;
                    if (shallow && write_scalar(c)) ++path_.back();
                    else write(c);
                }
                close_level();
                return;
            }
            case Kind::TEXT:
                if (compact_) varint((n << 2) | (unit == 1 ? 0 : unit == 2 ? 1 : 2));
                else raw32(n);
                break;
            case Kind::VECTOR:
                if (compact_) {
                    byte(u8((v->data3 << 2) | unit_shift(unit)));
                    varint(n);
                } else {
                    raw32(n);
                    raw32(v->data3);
                }
                break;
            default: count(n); break;
        }
        raw_bytes(b->head_ptr(), b->used_bytes());
        if (!compact_) pad4();
    }

    void write_bitset(const Cell* v) {
        const u32* ref = seen(series_node(v));
        SeriesBuffer* b = buffer_of(series_node(v));
        bool complement = (b->flags & SB_COMPLEMENT) != 0;
        if (compact_) {
            reference_prefix(ref);
            type_byte(T_BITSET, complement);
        } else {
            header(v, T_BITSET, (complement ? S_COMPLEMENT : 0) | ref_bit(ref));
        }
        if (ref) return write_path(ref);
        count(b->used_bytes());
        raw_bytes(b->head_ptr(), b->used_bytes());
        if (!compact_) pad4();
    }

    // Live entries only, key record then value record.
    void write_map(const Cell* v) {
        Node entries = v->data2;
        const u32* ref = seen(entries);
        if (compact_) {
            reference_prefix(ref);
            type_byte(T_MAP, false);
        } else {
            header(v, T_MAP, ref_bit(ref));
        }
        if (ref) return write_path(ref);
        SeriesBuffer* b = buffer_of(entries);
        u32 cells = b->used_bytes() / sizeof(Cell);
        u32 live = 0;
        for (u32 i = 0; i + 1 < cells; i += 2)
            if (cells_of(b)[i + 1].header != 0) live += 2;
        count(live);
        open_level();
        for (u32 i = 0; i + 1 < cells; i += 2) {
            const Cell* kv = cells_of(buffer_of(entries)) + i;
            if (kv[1].header == 0) continue;
            write(kv);
            write(cells_of(buffer_of(entries)) + i + 1);
        }
        close_level();
    }

    // The object or function that owns a bound word, or null for a word that binds
    // globally (the global context, or a context owned by no object or function).
    static const Cell* word_owner(const Cell* w) {
        Node ctx = word_context(w);
        if (!ctx || ctx == dt::g_global_context) return nullptr;
        const Cell* owner = dt::context_owner(ctx);
        u32 ot = type_of(owner);
        if ((ot == T_OBJECT || ot == T_FUNCTION) && owner->data1 == ctx) return owner;
        return nullptr;
    }

    void write_word(const Cell* v, u32 t) {
        const Cell* owner = word_owner(v);
        if (!owner) {
            if (compact_) {
                type_byte(t, false);
                return symbol(word_symbol(v));
            }
            header(v, t, S_GLOBAL_WORD);
            symbol(word_symbol(v));
            return raw32(v->data3);
        }
        Cell own = *owner;
        const u32* ref = seen(word_context(v));
        if (compact_) {
            reference_prefix(ref);
            type_byte(t, true);
            symbol(word_symbol(v));
            zigzag(word_index(v));
        } else {
            header(v, t, ref_bit(ref));
            symbol(word_symbol(v));
            raw32(v->data3);
        }
        if (ref) return write_path(ref);
        // The owner's record shares the word's path: its fields are reached through the word.
        if (type_of(&own) == T_OBJECT) write_object_body(&own);
        else write_function_body(&own);
    }

    void write_context(Node ctx, bool values) {
        Cell* cc = dt::context_cell(ctx);
        u32 kind = dt::context_kind(ctx);
        bool on_stack = (cc->header & dt::CTX_ON_STACK) != 0;
        bool flag24 = (cc->header & dt::CTX_FLAG24) != 0;
        u32 words = dt::context_word_count(ctx);
        u32 nvalues = on_stack ? 0 : dt::context_value_count(ctx);
        bool any = false;
        if (values && !on_stack)
            for (u32 i = 0; i < nvalues && !any; ++i) any = type_of(dt::context_values(ctx) + i) != T_UNSET;
        if (compact_) {
            type_byte(T_CONTEXT, false);
            byte(u8((kind & CB_KIND_MASK) | (on_stack ? CB_ON_STACK : 0) | (flag24 ? CB_FLAG24 : 0) |
                    (any ? CB_VALUES : 0)));
        } else {
            raw32(T_CONTEXT | (kind << S_CTX_KIND_SHIFT) | (flag24 ? S_CTX_FLAG24 : 0) |
                  (on_stack ? S_CTX_ON_STACK : 0) | (any ? S_CTX_VALUES : 0));
        }
        count(words);
        for (u32 i = 0; i < words; ++i) symbol(word_symbol(dt::context_word_at(ctx, i32(i))));
        if (!any) return;
        open_level();
        for (u32 i = 0; i < words; ++i) {
            if (i < nvalues) write(dt::context_values(ctx) + i);
            else write(&dt::g_unset_cell);
        }
        close_level();
    }

    // An object, error or function whose context was written before: its reference record.
    // False the first time.
    bool context_reference(const Cell* v, u32 t) {
        const u32* ref = seen(v->data1);
        if (!ref) return false;
        if (compact_) byte(C_REFERENCE), type_byte(t, false);
        else header(v, t, S_REFERENCE);
        write_path(ref);
        return true;
    }

    void write_object(const Cell* v) {
        if (!context_reference(v, T_OBJECT)) write_object_body(v);
    }

    // The type byte or header, class id, events and the context with its values.
    void write_object_body(const Cell* v) {
        Node events = dt::object_events(v);
        if (compact_) {
            type_byte(T_OBJECT, events != 0);
            zigzag(dt::object_class(v));
            if (events) {
                zigzag(i32(cells_of(buffer_of(events))[0].data2));
                zigzag(i32(cells_of(buffer_of(events))[1].data2));
            }
        } else {
            header(v, T_OBJECT, events ? S_EVENTS : 0);
            raw32(u32(dt::object_class(v)));
            if (events) {
                raw32(cells_of(buffer_of(events))[0].data2);
                raw32(cells_of(buffer_of(events))[1].data2);
            }
        }
        write_context(dt::object_context(v), true);
    }

    void write_error(const Cell* v) {
        if (context_reference(v, T_ERROR)) return;
        compact_ ? type_byte(T_ERROR, false) : header(v, T_ERROR, 0);
        const Cell* code = dt::error_field(v, dt::ERR_CODE);
        count(type_of(code) == T_INTEGER && get_int(code) >= 0 ? u32(get_int(code)) : 0);
        open_level();
        for (u32 f = dt::ERR_ARG1; f <= dt::ERR_STACK; ++f) write(dt::error_field(v, f));
        close_level();
    }

    void write_function(const Cell* v) {
        if (!context_reference(v, T_FUNCTION)) write_function_body(v);
    }

    // Spec and body cell counts, the argument context, the spec block (path entry 0) and the
    // body block (entry 1).
    void write_function_body(const Cell* v) {
        Cell fn = *v;
        Cell spec;
        set_cell(&spec, T_BLOCK, 0, fn.data2, 0);
        Cell body = *dt::function_record(&fn, dt::FN_BODY);
        if (type_of(&body) != T_BLOCK) refuse(v);
        compact_ ? type_byte(T_FUNCTION, false) : header(v, T_FUNCTION, 0);
        count(u32(buffer_of(spec.data2)->used_bytes() / sizeof(Cell)));
        count(u32(buffer_of(body.data2)->used_bytes() / sizeof(Cell)));
        write_context(fn.data1, false);
        open_level();
        write(&spec);
        body.data1 = 0;
        write(&body);
        close_level();
    }
};

}  // namespace

Cell* kelbin_encode(const Cell* value, bool compact) {
    SharingPass sharing;
    sharing.walk(value, 0);
    // Nothing else is made while the records are written into the result.
    GcHold hold;
    Out out;
    try {
        out.open(sharing.estimate() * (compact ? 1 : 2));  // words, not bytes
        std::vector<u8> head;
        if (compact) {
            Encoder<true> e(sharing, out);
            e.write(value);
            head = e.head(u32(out.size()));
        } else {
            Encoder<false> e(sharing, out);
            e.write(value);
            head = e.head(u32(out.size()));
        }
        sharing.clear();
        if (out.size() > 0x7FFFFFF0u) throw std::bad_alloc();
        return out.close(head);
    } catch (std::bad_alloc&) {
        sharing.clear();
        raise_error(Err::internal_no_memory);
    }
}

}  // namespace kel::codec
