// KELBIN decoder: both record forms, user-mode binding (a word without an owner binds to
// the global context).
//
// Every value is placed in its parent before its contents are read, so that a reference
// path met inside it (a cycle) finds it. Cells are reached through (node, index) and re-read
// after every allocation: a buffer may have grown (moved) meanwhile.
#include <cmath>
#include <cstring>
#include <vector>

#include "codec/kelbin.h"
#include "codec/kelbin_format.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/geometry.h"
#include "datatypes/hash_index.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/gc.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::codec {

using namespace rt;

namespace {

// Where a record's value goes: cell `index` of the block `node`, or a fixed cell (a root
// guard or an argument-stack slot).
struct Dest {
    Node node = 0;
    u32 index = 0;
    Cell* fixed = nullptr;
    Cell* cell() const { return fixed ? fixed : cells_of(buffer_of(node)) + index; }
};

inline u32 cell_count(Node n) { return buffer_of(n)->used_bytes() / sizeof(Cell); }

// A new block [spec slot] on the argument stack.
Cell* push_new_block_pair(const Cell* spec, u32 slot) {
    Cell* b = dt::push_new_block(2);
    dt::ks_append(b, spec);
    Cell n;
    set_cell(&n, T_INTEGER, 0, slot, 0);
    dt::ks_append(b, &n);
    return b;
}

// A new unset cell at the block's tail, as a destination.
Dest append_dest(Node block) {
    block_alloc_tail(block);
    return Dest{block, cell_count(block) - 1, nullptr};
}

// One reader per record form, so that no value tests the form.
template <bool Compact>
class Decoder {
public:
    Decoder(const u8* data, const u8* body, const u8* end, Node target, u32 first_root)
        : data_(data), p_(body), end_(end), target_(target), first_root_(first_root) {}

    void run(bool has_symbols) {
        u32 roots_unused = count_field();
        (void)roots_unused;
        u32 size = count_field();
        if (has_symbols) read_symbol_table();
        if (size > u32(end_ - p_)) fail();
        end_ = p_ + size;
        while (p_ < end_) {
            if (!compact_ && skip_padding()) break;
            Dest d = append_dest(target_);
            read_record(d);
        }
    }

private:
    const u8* data_;
    const u8* p_;
    const u8* end_;
    static constexpr bool compact_ = Compact;
    Node target_;
    u32 first_root_;
    u32 depth_ = 0;
    u32 symbol_count_ = 0;
    u32 strings_size_ = 0;
    const u8* offsets_ = nullptr;
    const u8* strings_ = nullptr;
    std::vector<u32> path_;
    std::vector<u32> symbol_ids_;     // per table entry: its symbol, 0 until met
    std::vector<Cell> global_words_;  // per table entry: its global word, header 0 until met
    [[noreturn]] void fail() const {
        Cell pos;
        set_cell(&pos, T_INTEGER, 0, u32(p_ - data_ + 1), 0);
        raise_error(Err::script_kb_invalid_record, &pos);
    }
    size_t left() const { return size_t(end_ - p_); }
    void need(size_t n) const {
        if (left() < n) fail();
    }

    // ---- fields -------------------------------------------------------------------------
    u8 byte() {
        need(1);
        return *p_++;
    }
    u32 varint() {
        u32 v = 0;
        for (u32 shift = 0; shift < 35; shift += 7) {
            u8 b = byte();
            if (shift == 28 && (b & 0xF0)) fail();
            v |= u32(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
        fail();
    }
    i32 zigzag() {
        u32 v = varint();
        return i32((v >> 1) ^ (0u - (v & 1)));
    }
    u32 raw32() {
        need(4);
        u32 v = u32(p_[0]) | u32(p_[1]) << 8 | u32(p_[2]) << 16 | u32(p_[3]) << 24;
        p_ += 4;
        return v;
    }
    // A count, size or index: never negative.
    u32 count_field() {
        u32 v = compact_ ? varint() : raw32();
        if (i32(v) < 0) fail();
        return v;
    }
    i32 signed_field() { return compact_ ? zigzag() : i32(raw32()); }
    void skip_pad4(size_t n) {
        size_t pad = (4 - n % 4) % 4;
        need(pad);
        p_ += pad;
    }
    // Standard form: zero words between records. True when the area ends with them.
    bool skip_padding() {
        while (left() >= 4 && raw_peek() == 0) p_ += 4;
        return p_ >= end_;
    }
    u32 raw_peek() const { return u32(p_[0]) | u32(p_[1]) << 8 | u32(p_[2]) << 16 | u32(p_[3]) << 24; }

    void read_symbol_table() {
        symbol_count_ = count_field();
        strings_size_ = count_field();
        if (u64(symbol_count_) * 4 > left()) fail();
        if (u64(symbol_count_) * 4 + strings_size_ > left()) fail();
        offsets_ = p_;
        strings_ = p_ + u64(symbol_count_) * 4;
        if (strings_size_ > 0 && strings_[strings_size_ - 1] != 0) {
            p_ = strings_ + strings_size_;
            fail();
        }
        p_ = strings_ + strings_size_;
        symbol_ids_.assign(symbol_count_, 0);
        global_words_.assign(symbol_count_, Cell{});
    }

    // A symbol reference: its index in the table, checked.
    u32 symbol_index() {
        u32 i = compact_ ? varint() : raw32();
        if (i >= symbol_count_) fail();
        return i;
    }
    u32 symbol() { return symbol_at(symbol_index()); }
    // The symbol of table entry i, interned the first time it is met.
    u32 symbol_at(u32 i) {
        if (symbol_ids_[i]) return symbol_ids_[i];
        const u8* o = offsets_ + u64(i) * 4;
        u32 off = u32(o[0]) | u32(o[1]) << 8 | u32(o[2]) << 16 | u32(o[3]) << 24;
        if (off >= strings_size_) fail();
        const u8* name = strings_ + off;
        u32 len = u32(std::strlen(reinterpret_cast<const char*>(name)));
        if (len == 0) fail();
        return symbol_ids_[i] = make_symbol_from_buffer(name, len);
    }

    // ---- reference paths ----------------------------------------------------------------
    // Reads a path and answers a copy of the value it designates.
    Cell read_path() {
        u32 n = compact_ ? varint() : raw32();
        if (n < 1 || n > MAX_PATH) fail();
        if (n > left() / (compact_ ? 1 : 4)) fail();
        path_.resize(n);
        for (u32 i = 0; i < n; ++i) path_[i] = compact_ ? varint() : raw32();
        u32 first = path_[0];
        if (first >= cell_count(target_) - first_root_) fail();
        Cell v = cells_of(buffer_of(target_))[first_root_ + first];
        for (u32 i = 1; i < n; ++i) {
            u32 e = path_[i];
            u32 t = type_of(&v);
            switch (t) {
                case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
                case T_HASH: case T_MAP:
                    v = select_cell(v.data2, e);
                    break;
                case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: {
                    Node ctx = v.data1;
                    if (!ctx || ctx == dt::g_global_context) fail();
                    if (dt::context_on_stack(ctx)) {
                        Cell fn = *dt::context_owner(ctx);
                        if (type_of(&fn) != T_FUNCTION) fail();
                        v = function_step(fn, e, i, n);
                    } else {
                        if (e >= dt::context_value_count(ctx)) fail();
                        v = dt::context_values(ctx)[e];
                    }
                    break;
                }
                case T_NATIVE: case T_ACTION: v = select_cell(v.data2, e); break;
                case T_FUNCTION: v = function_step(v, e, i, n); break;
                case T_OP:
                    if (((v.header >> 16) & 0xFF) != T_FUNCTION) {
                        v = select_cell(v.data2, e);  // a native's or action's spec
                        break;
                    }
                    v = function_step(v, e, i, n);
                    break;
                case T_OBJECT: {
                    Node ctx = v.data1;
                    if (e >= dt::context_value_count(ctx)) fail();
                    v = dt::context_values(ctx)[e];
                    break;
                }
                case T_ERROR: {
                    if (e >= dt::ERR_FIELD_COUNT - dt::ERR_ARG1) fail();
                    v = *dt::error_field(&v, dt::ERR_ARG1 + e);
                    break;
                }
                default: fail();
            }
        }
        return v;
    }
    Cell select_cell(Node block, u32 e) {
        if (e >= cell_count(block)) fail();
        return cells_of(buffer_of(block))[e];
    }
    // Entry 0: the spec (or one of its cells when another entry follows); entry 1: the body.
    Cell function_step(const Cell& fn, u32 e, u32& i, u32 n) {
        if (e == 0) {
            if (i + 1 < n) return select_cell(fn.data2, path_[++i]);
            Cell spec;
            set_cell(&spec, T_BLOCK, 0, fn.data2, 0);
            return spec;
        }
        if (e == 1 && type_of(&fn) == T_FUNCTION) {
            Cell body = *dt::function_record(&fn, dt::FN_BODY);
            if (type_of(&body) != T_BLOCK) fail();
            return body;
        }
        fail();
    }
    // The context that a reached value binds words to (object, function, bound word).
    Node context_of_reached(const Cell& v) {
        u32 t = type_of(&v);
        Node ctx = 0;
        if (t == T_OBJECT || t == T_FUNCTION || t == T_ERROR) ctx = v.data1;
        else if (t == T_OP && ((v.header >> 16) & 0xFF) == T_FUNCTION) ctx = v.data1;
        else if (t >= T_WORD && t <= T_REFINEMENT) ctx = v.data1;
        if (!ctx || ctx == dt::g_global_context) fail();
        return ctx;
    }

    // ---- records ------------------------------------------------------------------------
    void read_record(const Dest& d) {
        if (++depth_ > MAX_DEPTH) fail();
        if (compact_) read_compact(d);
        else read_standard(d);
        --depth_;
    }

    // A record at the position of a container's next cell: padding skipped (standard).
    void read_child(Node block) {
        if (!compact_) skip_padding();
        read_record(append_dest(block));
    }

    // The commonest values in a block (integers, floats, logic values, characters, none,
    // pairs and globally bound words), read as the general reader reads them, faults included. False,
    // having read nothing, for any other record.
    bool read_scalar(Node block) {
        if constexpr (Compact) {
            const u8* p = p_;
            bool nl = p < end_ && *p == C_NEW_LINE;
            p += nl;
            if (p >= end_) return false;
            u8 b = *p;
            bool small = b >= C_SMALL_INT && b < C_NEW_LINE, logic = b == C_TRUE || b == C_FALSE;
            if (!small && !logic && b != T_INTEGER && b != T_FLOAT && b != (T_FLOAT | C_EXTRA) && b != T_CHAR &&
                b != T_NONE && b != T_PAIR && !plain_word(b))
                return false;
            Dest d = append_dest(block);
            p_ = p + 1;
            Cell c;
            if (small) {
                set_cell(&c, T_INTEGER, 0, b - C_SMALL_INT, 0);
            } else if (logic) {
                set_cell(&c, T_LOGIC, b == C_TRUE ? 1 : 0);
            } else if (b == T_INTEGER) {
                set_cell(&c, T_INTEGER, 0, u32(zigzag()), 0);
            } else if (b == T_FLOAT) {
                set_cell(&c, T_FLOAT);
                c.data2 = raw32();
                c.data3 = raw32();
            } else if (b == (T_FLOAT | C_EXTRA)) {
                set_cell(&c, T_FLOAT);
                set_float_payload(&c, double(zigzag()));
            } else if (b == T_CHAR) {
                u32 cp = varint();
                if (cp > 0x10FFFF) fail();
                set_cell(&c, T_CHAR, 0, cp, 0);
            } else if (b == T_NONE) {
                set_cell(&c, T_NONE);
            } else if (b == T_PAIR) {
                i32 x = zigzag();
                i32 y = zigzag();
                set_cell(&c, T_PAIR, 0, u32(x), u32(y));
            } else {
                read_word(d, b, false, false, nl);
                return true;
            }
            set(d, c, nl);
            return true;
        } else {
            skip_padding();
            if (left() < 4) return false;
            u32 h = raw_peek(), t = h & 0xFF;
            bool nl = (h & S_NEW_LINE) != 0;
            if (h & S_REFERENCE) return false;
            bool word = plain_word(t);
            if (word && !(h & S_GLOBAL_WORD)) return false;
            if (!word && t != T_INTEGER && t != T_FLOAT && t != T_LOGIC && t != T_CHAR && t != T_NONE && t != T_PAIR)
                return false;
            Dest d = append_dest(block);
            p_ += 4;
            if (word) {
                read_word(d, t, false, false, nl);
                return true;
            }
            Cell c;
            switch (t) {
                case T_INTEGER: set_cell(&c, t, 0, raw32(), 0); break;
                case T_LOGIC: set_cell(&c, t, raw32() != 0); break;
                case T_CHAR: {
                    u32 cp = raw32();
                    if (cp > 0x10FFFF) fail();
                    set_cell(&c, t, 0, cp, 0);
                    break;
                }
                case T_FLOAT:
                    set_cell(&c, t);
                    c.data3 = raw32();
                    c.data2 = raw32();
                    break;
                case T_PAIR: {
                    u32 x = raw32();
                    set_cell(&c, t, 0, x, raw32());
                    break;
                }
                default: set_cell(&c, t); break;
            }
            set(d, c, nl);
            return true;
        }
    }
    static bool plain_word(u32 t) { return t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD; }

    static void set(const Dest& d, const Cell& c, bool new_line) {
        Cell* cell = d.cell();
        *cell = c;
        if (new_line) cell->header |= CELL_NEW_LINE;
    }

    void check_type(u32 t) {
        if (kind_of_type(t) == Kind::REFUSED || kind_of_type(t) == Kind::IMAGE) {
            Cell dt;
            set_cell(&dt, T_DATATYPE, t);
            raise_error(Err::access_no_codec, &dt);
        }
        if (!kelbin_type_supported(t) || (compact_ && t == T_LOGIC)) fail();
    }

    void read_compact(const Dest& d) {
        bool nl = false, ref = false;
        u8 b;
        for (;;) {
            b = byte();
            if (b == C_NEW_LINE) nl = true;
            else if (b == C_REFERENCE) ref = true;
            else if (b == C_WORD_VALUE) fail();  // only the start-up payload of another build
            else break;
        }
        Cell c;
        if (b >= C_SMALL_INT && b < C_NEW_LINE) {
            if (ref) fail();
            set_cell(&c, T_INTEGER, 0, b - C_SMALL_INT, 0);
            return set(d, c, nl);
        }
        if (b == C_TRUE || b == C_FALSE) {
            if (ref) fail();
            set_cell(&c, T_LOGIC, b == C_TRUE ? 1 : 0);
            return set(d, c, nl);
        }
        if (b == C_PATH) {
            if (ref) fail();
            return set(d, read_path(), nl);
        }
        if (b >= 0x80) fail();
        u32 t = b & 0x3F;
        bool extra = (b & C_EXTRA) != 0;
        if (t == C_TYPE_ESCAPE) t = varint();
        if (t == 0 || t > 255) fail();
        check_type(t);
        read_value(d, t, extra, ref, nl, 0);
    }

    void read_standard(const Dest& d) {
        skip_padding();
        u32 h = raw32();
        u32 t = h & 0xFF;
        bool nl = (h & S_NEW_LINE) != 0;
        if (t == S_PATH_RECORD) {
            p_ -= 4;  // the path begins with this word
            return set(d, read_standard_path(), nl);
        }
        if (t == 0) fail();
        check_type(t);
        bool ref = t != T_OP && (h & S_REFERENCE) != 0;
        bool extra = false;
        switch (kind_of_type(t)) {
            case Kind::MONEY: extra = (h & S_MONEY_NEGATIVE) != 0; break;
            case Kind::BITSET: extra = (h & S_COMPLEMENT) != 0; break;
            case Kind::OBJECT: extra = (h & S_EVENTS) != 0; break;
            case Kind::WORD: extra = (h & S_GLOBAL_WORD) == 0; break;
            default: break;
        }
        read_value(d, t, extra, ref, nl, h);
    }

    Cell read_standard_path() {
        if (raw32() != S_PATH_RECORD) fail();
        return read_path();
    }
    Cell reference() { return compact_ ? read_path() : read_standard_path(); }

    // The series a reference reached, as the record's type with its head.
    Cell series_reference(u32 t, i32 head) {
        Cell v = reference();
        u32 rt = type_of(&v);
        Kind k = kind_of_type(t);
        Kind rk = kind_of_type(rt);
        bool ok = false;
        if (k == Kind::CELLS) ok = rk == Kind::CELLS || rt == T_NATIVE || rt == T_ACTION || rt == T_FUNCTION || rt == T_OP;
        else if (k == Kind::TEXT) ok = rk == Kind::TEXT;
        else ok = rt == t;
        if (!ok) fail();
        if (rt == T_HASH && t != T_HASH) fail();  // a hash! buffer has a table; other kinds none
        if (t == T_HASH && rt != T_HASH) fail();
        if (rt == T_NATIVE || rt == T_ACTION || rt == T_FUNCTION || rt == T_OP) {
            set_cell(&v, t, 0, v.data2, 0);  // the spec block
        }
        set_cell_type(&v, t);
        v.data1 = u32(head);
        return v;
    }

    void read_value(const Dest& d, u32 t, bool extra, bool ref, bool nl, u32 h) {
        Cell c;
        Kind k = kind_of_type(t);
        if (ref && k != Kind::CELLS && k != Kind::TEXT && k != Kind::BINARY && k != Kind::VECTOR &&
            k != Kind::BITSET && k != Kind::MAP && k != Kind::OBJECT && k != Kind::FUNCTION && k != Kind::WORD &&
            k != Kind::ERROR)
            fail();
        switch (k) {
            case Kind::EMPTY: set_cell(&c, t); break;
            case Kind::LOGIC: set_cell(&c, t, raw32() != 0); break;
            case Kind::DATATYPE: {
                u32 id = count_field();
                if (id < 1 || id > T_EVENT) fail();
                set_cell(&c, t, id);
                break;
            }
            case Kind::CHAR: {
                u32 cp = compact_ ? varint() : raw32();
                if (cp > 0x10FFFF) fail();
                set_cell(&c, t, 0, cp, 0);
                break;
            }
            case Kind::INTEGER: set_cell(&c, t, 0, u32(signed_field()), 0); break;
            case Kind::FLOATING:
            case Kind::PERCENT: {
                set_cell(&c, t);
                if (compact_ && extra) {
                    i32 n = zigzag();
                    set_float_payload(&c, k == Kind::PERCENT ? n / 100.0 : double(n));
                } else if (compact_) {
                    c.data2 = raw32();
                    c.data3 = raw32();
                } else {
                    c.data3 = raw32();
                    c.data2 = raw32();
                }
                break;
            }
            case Kind::PAIR: {
                i32 x = signed_field();
                i32 y = signed_field();
                set_cell(&c, t, 0, u32(x), u32(y));
                break;
            }
            case Kind::POINT: {
                set_cell(&c, t);
                c.data1 = raw32();
                c.data2 = raw32();
                if (t == T_POINT3D) c.data3 = raw32();
                break;
            }
            case Kind::TUPLE: {
                u32 n = 3;
                if (!compact_) n = (h >> 8) & 0xFF;
                else if (extra) n = byte();
                if (n < 3 || n > 12) fail();
                need(compact_ ? n : 12);
                dt::make_tuple_at(&c, p_, n);
                p_ += compact_ ? n : 12;
                break;
            }
            case Kind::TYPESET: {
                u32 n = compact_ ? byte() : 12;
                if (n > 12) fail();
                need(n);
                u8 bits[12] = {};
                std::memcpy(bits, p_, n);
                p_ += n;
                set_cell(&c, t);
                std::memcpy(&c.data1, bits, 12);
                break;
            }
            case Kind::DATE: {
                u32 w = raw32();
                bool timed = (w & 0x10000) != 0;
                if (compact_ && timed != extra) fail();
                u32 month = (w >> 12) & 0xF, day = (w >> 7) & 0x1F, zone_hours = (w >> 2) & 0xF;
                if (month < 1 || month > 12 || day < 1 || day > 31 || zone_hours > 15) fail();
                set_cell(&c, t, w);
                if (compact_) {
                    if (timed) c.data2 = raw32(), c.data3 = raw32();
                } else {
                    c.data3 = raw32();
                    c.data2 = raw32();
                }
                if (!std::isfinite(get_float(&c))) fail();
                break;
            }
            case Kind::MONEY: {
                need(12);
                u8 m[12];
                std::memcpy(m, p_, 12);
                p_ += 12;
                for (int i = 1; i < 12; ++i)
                    if ((m[i] >> 4) > 9 || (m[i] & 15) > 9) fail();
                dt::money_make_at_digits(&c, extra, m[0], m + 1);
                break;
            }
            case Kind::ISSUE: {
                u32 sym = symbol();
                set_cell(&c, t, 0, sym, u32(-1));
                break;
            }
            case Kind::CELLS:
            case Kind::TEXT:
            case Kind::BINARY:
            case Kind::VECTOR: return read_series(d, t, extra, ref, nl, h);
            case Kind::BITSET: return read_bitset(d, extra, ref, nl);
            case Kind::MAP: return read_map(d, ref, nl);
            case Kind::WORD: return read_word(d, t, extra, ref, nl);
            case Kind::OBJECT: return read_object(d, extra, ref, nl, nullptr);
            case Kind::CONTEXT: return read_context_value(d, nl, h);
            case Kind::ERROR: return read_error(d, ref, nl);
            case Kind::FUNCTION: return read_function(d, ref, nl, nullptr);
            case Kind::BUILTIN: return read_builtin(d, t, nl);
            case Kind::OP: return read_op(d, nl);
            default: fail();
        }
        set(d, c, nl);
    }

    void read_series(const Dest& d, u32 t, bool extra, bool ref, bool nl, u32 h) {
        Kind k = kind_of_type(t);
        i32 head = 0;
        if (compact_) {
            if (extra) head = i32(varint());
        } else {
            head = i32(raw32());
        }
        if (ref) return set(d, series_reference(t, head), nl);
        Cell c;
        if (k == Kind::CELLS) {
            u32 n = count_field();
            if (n > left() / (compact_ ? 1 : 4)) fail();
            Node block = alloc_cells(n ? n : 1);
            set_cell(&c, t, u32(head), block, 0);
            if (t == T_HASH) {
                // The table exists before the cells, so that a copy taken inside (a cycle)
                // shares it; it is filled in place once the cells are there.
                RootGuard g(c);
                g.cell.data1 = 0;
                dt::index_build(&g.cell);
                c.data3 = g.cell.data3;
            }
            set(d, c, nl);
            // The values are one level deeper; past the deepest level the general reader
            // refuses them.
            bool shallow = depth_ < MAX_DEPTH;
            for (u32 i = 0; i < n; ++i)
                if (!shallow || !read_scalar(block)) read_child(block);
            if (t == T_HASH) {
                Cell hash = *d.cell();
                hash.data1 = 0;
                rt::hashtable_resize(hash.data3, u32(dt::ks_buffer_length(&hash)));
            }
            return;
        }
        u32 width = 1, n, et = 0;
        if (k == Kind::TEXT) {
            if (compact_) {
                u32 v = varint();
                u32 code = v & 3;
                if (code == 3) fail();
                width = 1u << code;
                n = v >> 2;
            } else {
                width = (h >> 8) & 0xFF;
                if (width != 1 && width != 2 && width != 4) fail();
                n = count_field();
            }
        } else if (k == Kind::VECTOR) {
            if (compact_) {
                u8 v = byte();
                et = v >> 2;
                width = 1u << (v & 3);
                n = count_field();
            } else {
                width = (h >> 8) & 0xFF;
                n = count_field();
                et = raw32();
            }
            bool ints = et == T_CHAR || et == T_INTEGER;
            bool ok = ints ? (width == 1 || width == 2 || width == 4)
                           : et == T_FLOAT ? (width == 4 || width == 8) : et == T_PERCENT && width == 8;
            if (!ok) fail();
        } else {
            n = count_field();
        }
        u64 bytes = u64(n) * width;
        if (bytes > left()) fail();
        Node node = k == Kind::TEXT ? alloc_codepoints(n ? n : 1, width) : alloc_series(n ? n : 1, width, 0);
        SeriesBuffer* b = buffer_of(node);
        std::memcpy(at(b->offset), p_, size_t(bytes));
        b->tail = b->offset + u32(bytes);
        if (k == Kind::TEXT && width == 4) {
            // Every unit must be a code point the string can hold (narrower units always are).
            for (u32 i = 0; i < n; ++i) {
                u32 cp = dt::get_char_at(p_ + u64(i) * width, width);
                if (cp > 0x10FFFF) fail();
            }
        }
        p_ += bytes;
        if (!compact_) skip_pad4(size_t(bytes));
        set_cell(&c, t, u32(head), node, et);
        set(d, c, nl);
    }

    void read_bitset(const Dest& d, bool complement, bool ref, bool nl) {
        if (ref) {
            Cell v = reference();
            if (type_of(&v) != T_BITSET) fail();
            return set(d, v, nl);
        }
        u32 n = count_field();
        if (n > left()) fail();
        Cell c;
        dt::make_bitset_at(&c, n, complement);
        std::memcpy(at(buffer_of(c.data2)->offset), p_, n);
        p_ += n;
        if (!compact_) skip_pad4(n);
        set(d, c, nl);
    }

    void read_map(const Dest& d, bool ref, bool nl) {
        if (ref) {
            Cell v = reference();
            if (type_of(&v) != T_MAP) fail();
            return set(d, v, nl);
        }
        u32 n = count_field();
        if (n % 2 || n > left() / (compact_ ? 1 : 4)) fail();
        // The map, with its empty table, is in its place before its entries are read, so a
        // reference inside them (a map that holds itself) finds the map it belongs to; the
        // entries are read into its block in place and indexed once they are all there.
        Node entries = alloc_cells(n ? n : 2);
        RootGuard g;
        set_cell(&g.cell, T_BLOCK, 0, entries, 0);
        Node table = rt::hashtable_init(i32(n / 2), &g.cell, rt::HASH_MAP);
        set_cell(&g.cell, T_MAP, 0, entries, table);
        set(d, g.cell, nl);
        for (u32 i = 0; i < n; ++i) read_child(entries);
        Cell* c = cells_of(buffer_of(entries));
        for (u32 i = 0; i < n; ++i) {
            if (i % 2 == 0 && !dt::map_key_allowed(type_of(c + i))) fail();
            c[i].header &= ~CELL_NEW_LINE;
        }
        rt::hashtable_put_all(table, 0, 2);
    }

    void read_word(const Dest& d, u32 t, bool bound, bool ref, bool nl) {
        u32 si = symbol_index();
        u32 sym = symbol_at(si);
        if (!bound) {
            if (!compact_) raw32();  // the slot: found again in the global context
            if (!global_words_[si].header) global_words_[si] = dt::word_from_symbol(sym);
            Cell w = global_words_[si];
            set_cell_type(&w, t);
            return set(d, w, nl);
        }
        i32 slot = signed_field();
        Cell w;
        set_cell(&w, t, 0, sym, u32(-1));
        set(d, w, nl);
        Node ctx;
        if (ref) {
            ctx = context_of_reached(reference());
        } else {
            // The owner's record: object or function, read without adding a value.
            u32 ot;
            bool extra = false;
            if (compact_) {
                u8 b = byte();
                ot = b & 0x3F;
                extra = (b & C_EXTRA) != 0;
            } else {
                u32 h = raw32();
                ot = h & 0xFF;
                extra = (h & S_EVENTS) != 0;
            }
            RootGuard owner;
            Dest od{0, 0, &owner.cell};
            if (ot == T_OBJECT) read_object(od, extra, false, false, &d);
            else if (ot == T_FUNCTION) read_function(od, false, false, &d);
            else fail();
            ctx = owner.cell.data1;
        }
        bind(d, ctx, sym, slot);
    }

    // The word at `d` bound to `ctx`, at the slot the record names when that slot holds the
    // word's name (-1: the word is looked up at use, as `self` is).
    void bind(const Dest& d, Node ctx, u32 sym, i32 slot) {
        if (slot != -1) {
            if (slot < 0 || u32(slot) >= dt::context_word_count(ctx)) fail();
            u32 there = word_symbol(dt::context_word_at(ctx, slot));
            if (resolve_symbol_alias(there) != resolve_symbol_alias(sym)) fail();
        }
        Cell* w = d.cell();
        w->data1 = ctx;
        w->data3 = u32(slot);
    }

    // Context body: flags, words, and the values when they follow. Answers the new context;
    // `obj` gets the value that owns it before the values are read.
    Node read_context(u32 kind_bits, bool on_stack, bool flag24, bool values, u32 expect_kind) {
        u32 n = count_field();
        if (n > left() / (compact_ ? 1 : 4)) fail();
        if (kind_bits != expect_kind) fail();
        Node ctx = dt::make_context(n ? n : 1, on_stack, flag24, nullptr, kind_bits);
        RootGuard keep;
        set_cell(&keep.cell, T_WORD, ctx, 0, u32(-1));
        for (u32 i = 0; i < n; ++i) {
            Cell w;
            set_cell(&w, T_WORD, 0, symbol(), u32(-1));
            if (u32(dt::context_add_word(ctx, &w)) != i) fail();  // a name given twice
        }
        (void)values;
        return ctx;
    }

    // Reads the context record's head (type byte or header) and its body.
    struct ContextHead {
        u32 kind;
        bool on_stack, flag24, values;
    };
    ContextHead context_head() {
        ContextHead ch;
        if (compact_) {
            u8 b = byte();
            if ((b & 0x3F) != T_CONTEXT) fail();
            u8 f = byte();
            ch = {u32(f & CB_KIND_MASK), (f & CB_ON_STACK) != 0, (f & CB_FLAG24) != 0, (f & CB_VALUES) != 0};
        } else {
            u32 h = raw32();
            if ((h & 0xFF) != T_CONTEXT) fail();
            ch = {(h >> S_CTX_KIND_SHIFT) & 3, (h & S_CTX_ON_STACK) != 0, (h & S_CTX_FLAG24) != 0,
                  (h & S_CTX_VALUES) != 0};
        }
        return ch;
    }

    void read_values(Node ctx, bool values) {
        if (!values) return;
        u32 n = dt::context_word_count(ctx);
        Node vals = dt::context_cell(ctx)->data2;
        buffer_of(vals)->tail = buffer_of(vals)->offset;  // refilled as the records come
        for (u32 i = 0; i < n; ++i) read_child(dt::context_cell(ctx)->data2);
    }

    void read_object(const Dest& d, bool events, bool ref, bool nl, const Dest* word) {
        if (ref) {
            Node ctx = context_of_reached(reference());
            Cell owner = *dt::context_owner(ctx);
            if (type_of(&owner) != T_OBJECT) fail();
            return set(d, owner, nl);
        }
        signed_field();  // the class id: a decoded object is a class of its own
        if (events) signed_field(), signed_field();
        ContextHead ch = context_head();
        if (ch.on_stack) fail();
        Node ctx = read_context(ch.kind, false, ch.flag24, ch.values, dt::CTX_OBJECT);
        Cell obj;
        set_cell(&obj, T_OBJECT, ctx, u32(-1), 0);
        *dt::context_owner(ctx) = obj;
        set(d, obj, nl);
        if (word) word->cell()->data1 = ctx;
        read_values(ctx, ch.values);
        if (events) {
            RootGuard g(*d.cell());
            g.cell.header &= ~CELL_NEW_LINE;
            dt::object_set_events(&g.cell);
            *d.cell() = g.cell;
            if (nl) d.cell()->header |= CELL_NEW_LINE;
        }
    }

    void read_context_value(const Dest& d, bool nl, u32 h) {
        ContextHead ch;
        if (compact_) {
            u8 f = byte();
            ch = {u32(f & CB_KIND_MASK), (f & CB_ON_STACK) != 0, (f & CB_FLAG24) != 0, (f & CB_VALUES) != 0};
        } else {
            ch = {(h >> S_CTX_KIND_SHIFT) & 3, (h & S_CTX_ON_STACK) != 0, (h & S_CTX_FLAG24) != 0,
                  (h & S_CTX_VALUES) != 0};
        }
        if (ch.on_stack) fail();
        Node ctx = read_context(ch.kind, false, ch.flag24, ch.values, dt::CTX_OBJECT);
        Cell obj;
        set_cell(&obj, T_OBJECT, ctx, u32(-1), 0);
        *dt::context_owner(ctx) = obj;
        set(d, obj, nl);
        read_values(ctx, ch.values);
    }

    void read_error(const Dest& d, bool ref, bool nl) {
        if (ref) {
            Cell v = reference();
            if (type_of(&v) != T_ERROR) fail();
            return set(d, v, nl);
        }
        u32 code = count_field();
        Cell proto, spec;
        set_cell(&proto, T_ERROR);
        set_cell(&spec, T_INTEGER, 0, code, 0);
        if (code >= 1000) fail();
        Cell* err = dt::dispatch<A_MAKE>(&proto, &spec, u32(T_ERROR));
        Cell e = *err;
        stack_pop(1);
        set(d, e, nl);
        // Each field is read in place: a reference inside it may reach the error's fields.
        Node values = dt::context_cell(e.data1)->data2;
        for (u32 f = dt::ERR_ARG1; f <= dt::ERR_STACK; ++f) {
            if (!compact_) skip_padding();
            read_record(Dest{values, f, nullptr});
        }
    }

    // A block record inside a function: a block, or a reference to one whose buffer the
    // function shares. Answers the node.
    void read_function_block(Node fresh, Node* out) {
        bool ref = false;
        u8 b = 0;
        u32 h = 0;
        if (compact_) {
            for (;;) {
                b = byte();
                if (b == C_REFERENCE) ref = true;
                else if (b != C_NEW_LINE) break;
            }
            if ((b & 0x3F) != T_BLOCK) fail();
            if (b & C_EXTRA) varint();
        } else {
            skip_padding();
            h = raw32();
            if ((h & 0xFF) != T_BLOCK) fail();
            ref = (h & S_REFERENCE) != 0;
            raw32();
        }
        if (ref) {
            Cell v = reference();
            if (type_of(&v) != T_BLOCK) fail();
            *out = v.data2;
            return;
        }
        u32 n = count_field();
        if (n > left() / (compact_ ? 1 : 4)) fail();
        *out = fresh;
        for (u32 i = 0; i < n; ++i) read_child(fresh);
    }

    void read_function(const Dest& d, bool ref, bool nl, const Dest* word) {
        if (ref) {
            Node ctx = context_of_reached(reference());
            Cell owner = *dt::context_owner(ctx);
            if (type_of(&owner) != T_FUNCTION) fail();
            return set(d, owner, nl);
        }
        u32 spec_n = count_field();
        u32 body_n = count_field();
        if (spec_n > left() || body_n > left()) fail();
        ContextHead ch = context_head();
        if (!ch.on_stack || ch.values) fail();
        Node ctx = read_context(ch.kind, true, ch.flag24, false, dt::CTX_ARGS);
        RootGuard keep;
        set_cell(&keep.cell, T_WORD, ctx, 0, u32(-1));
        // The function is whole before its blocks are read: words inside reach it.
        Node spec = alloc_cells(spec_n ? spec_n : 1);
        set_cell(&keep.cell, T_BLOCK, 0, spec, 0);
        RootGuard keep_ctx;
        set_cell(&keep_ctx.cell, T_WORD, ctx, 0, u32(-1));
        Node body = alloc_cells(body_n ? body_n : 1);
        RootGuard keep_body;
        set_cell(&keep_body.cell, T_BLOCK, 0, body, 0);
        Node record = alloc_unset_cells(5);
        {
            SeriesBuffer* rb = buffer_of(record);
            Cell* r = cells_of(rb);
            for (int i = 0; i < 5; ++i) set_cell(&r[i], T_UNSET);
            set_cell(&r[dt::FN_BODY], T_BLOCK, 0, body, 0);
            rb->tail = rb->offset + 5 * sizeof(Cell);
        }
        Cell fn;
        set_cell(&fn, T_FUNCTION, ctx, spec, record);
        *dt::context_owner(ctx) = fn;
        set(d, fn, nl);
        if (word) word->cell()->data1 = ctx;
        Node spec_node, body_node;
        read_function_block(spec, &spec_node);
        read_function_block(body, &body_node);
        Cell* f = dt::context_owner(ctx);
        f->data2 = spec_node;
        set_cell(dt::function_record(f, dt::FN_BODY), T_BLOCK, 0, body_node, 0);
        // The spec's attribute flags, as making the function would have found them.
        Cell spec_cell;
        set_cell(&spec_cell, T_BLOCK, 0, spec_node, 0);
        RootGuard sg(spec_cell);
        u32 flags = dt::check_function_spec(&sg.cell);
        f = dt::context_owner(ctx);
        f->header = T_FUNCTION | flags;
        Cell done = *f;
        set(d, done, nl);
    }

    void read_builtin(const Dest& d, u32 t, bool nl) {
        u32 slot = count_field();
        u32 limit = t == T_NATIVE ? dt::NATIVES_CAPACITY : ACTION_COUNT;
        if (slot < 1 || slot > limit) fail();
        if (t == T_NATIVE ? !dt::native_entry(slot) : !dt::action_generic_entry(slot)) fail();
        RootGuard spec;
        read_record(Dest{0, 0, &spec.cell});
        if (type_of(&spec.cell) != T_BLOCK) fail();
        Cell* made = make_builtin(t, slot, &spec.cell);
        Cell v = *made;
        stack_pop(1);
        set(d, v, nl);
    }
    static Cell* make_builtin(u32 t, u32 slot, const Cell* spec);

    // The wrapped value is read in the operator's place (its words may reach it there),
    // then retyped.
    void read_op(const Dest& d, bool nl) {
        read_record(d);
        Cell* op = d.cell();
        u32 wt = type_of(op);
        if (wt == T_OP) wt = (op->header >> 16) & 0xFF;
        if (wt != T_NATIVE && wt != T_ACTION && wt != T_FUNCTION) fail();
        if (wt == T_FUNCTION) *dt::function_record(op, dt::FN_OP_SOURCE) = *op;
        op = d.cell();
        op->header = T_OP | (wt << 16) | (nl ? CELL_NEW_LINE : 0);
    }
};

// make native! [spec slot] / make action! [spec id], pushed.
template <bool Compact>
Cell* Decoder<Compact>::make_builtin(u32 t, u32 slot, const Cell* spec) {
    Cell* args = push_new_block_pair(spec, slot);
    Cell proto;
    set_cell(&proto, t);
    Cell* made = dt::dispatch<A_MAKE>(&proto, args, t);
    Cell v = *made;
    g_args.top = args;
    return stack_push(&v);
}

}  // namespace

void kelbin_decode(const u8* data, size_t length, const Cell* target, const Cell* arg) {
    static const u8 magic[6] = {'K', 'E', 'L', 'B', 'I', 'N'};
    if (length < 8 || std::memcmp(data, magic, 6) != 0) raise_error(Err::script_invalid_data, arg);
    u8 flags = data[7];
    if (flags & KB_CRUSHED) raise_error(Err::script_invalid_data, arg);
    // Decoding makes no garbage (everything it makes is part of the result), so the
    // collector is held while it runs: no collection walks the growing result, and bytes in
    // a series buffer are read where they are (a copy of a large binary costs more than
    // decoding it).
    GcHold hold;
    Node block = series_node(target);
    u32 first_root = cell_count(block);
    if (flags & KB_COMPACT) Decoder<true>(data, data + 8, data + length, block, first_root).run((flags & KB_SYMBOLS) != 0);
    else Decoder<false>(data, data + 8, data + length, block, first_root).run((flags & KB_SYMBOLS) != 0);
}

}  // namespace kel::codec
