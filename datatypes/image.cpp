// image! datatype: construction, pixel access by index and pair, byte views (rgb, alpha,
// argb), rectangular copies and pastes, text and comparison. See image.h for the layout.
#include "datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/datatype_init.h"
#include "datatypes/geometry.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "datatypes/path.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/externals.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/pixel_memory.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

namespace {

struct ImageBits {
    u32 width, height;
    u32* px;
};

struct FreePixels {
    void operator()(u32* p) const { pixels_free(p); }
};
using OwnedPixels = std::unique_ptr<u32, FreePixels>;

void release_bits(void* object) {
    auto* bits = static_cast<ImageBits*>(object);
    pixels_free(bits->px);
    delete bits;
}

// Registered on first use: the kind's name is a symbol, and symbols come after the inits.
i32 g_image_kind = 0;
i32 image_kind() {
    if (!g_image_kind) g_image_kind = externals_register_kind(make_symbol("image"), release_bits);
    return g_image_kind;
}

constexpr u32 RECORD_WORDS = 6;
constexpr u32 RECORD_SIZE = 3, RECORD_SLOT = 4;
inline u32* record_of(Node n) { return at<u32>(buffer_of(n)->offset); }

ImageBits* bits_of(const Cell* c) {
    if (!c->data2) return nullptr;
    i32 slot = i32(record_of(c->data2)[RECORD_SLOT]);
    return slot >= 0 ? static_cast<ImageBits*>(externals_object(slot)) : nullptr;
}

inline u32 head_of(const Cell* c) { return c->data1; }

}  // namespace

u32* image_pixels(const Cell* c) {
    ImageBits* b = bits_of(c);
    return b ? b->px : nullptr;
}

void check_image_size(i64 width, i64 height) {
    if (width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE) {
        Cell size;
        make_pair_at(&size, i32(std::min<i64>(width, INT32_MAX)), i32(std::min<i64>(height, INT32_MAX)));
        raise_error(Err::script_out_of_range, &size);
    }
    if (u64(std::max<i64>(width, 0)) * u64(std::max<i64>(height, 0)) > MAX_IMAGE_PIXELS)
        raise_error(Err::internal_no_memory);
}

Cell* make_image_at(Cell* out, u32 width, u32 height, u32* px) {
    OwnedPixels own(px);
    u32 size_word = height << 16 | (width & 0xFFFF);
    if (width == 0 || height == 0 || !px) {
        set_cell(out, T_IMAGE, 0, 0, size_word);
        return out;
    }
    set_cell(out, T_UNSET);
    Node node = alloc_bytes(RECORD_WORDS * 4);  // may collect: nothing refers to the pixels yet
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->offset + RECORD_WORDS * 4;
    u32* r = record_of(node);
    r[0] = 1;  // the pixel cache is valid
    r[1] = r[2] = r[5] = 0;
    r[RECORD_SIZE] = size_word;
    r[RECORD_SLOT] = u32(-1);
    set_cell(out, T_IMAGE, 0, node, size_word);
    auto* bits = new ImageBits{width, height, own.get()};
    own.release();
    record_of(node)[RECORD_SLOT] = u32(externals_store(bits, image_kind()));
    return out;
}

Cell* push_image(u32 width, u32 height, u32* px) { return make_image_at(stack_push_slot(), width, height, px); }

Cell* make_pixel_tuple_at(Cell* out, u32 p) {
    u8 bytes[4] = {u8(p >> 16), u8(p >> 8), u8(p), u8(255 - (p >> 24))};
    set_cell(out, T_TUPLE);
    return make_tuple_at(out, bytes, 4);
}

u32 tuple_to_pixel(const Cell* t) {
    const u8* b = tuple_bytes(t);
    u32 alpha = tuple_length(t) >= 4 ? 255u - b[3] : 255u;
    return alpha << 24 | u32(b[0]) << 16 | u32(b[1]) << 8 | b[2];
}

namespace {

[[noreturn]] void raise_no_memory() { raise_error(Err::internal_no_memory); }

// A copy of the rectangle of `image` as a new image in `out`.
Cell* copy_rect_at(Cell* out, const Cell* image, u32 x, u32 y, u32 w, u32 h) {
    if (w == 0 || h == 0) return make_image_at(out, 0, 0, nullptr);
    u32* px = clip_pixels(image_pixels(image), image_width(image), x, y, w, h);
    if (!px) raise_no_memory();
    return make_image_at(out, w, h, px);
}

}  // namespace

Cell* push_image_scaled(const Cell* image, u32 width, u32 height) {
    check_image_size(width, height);
    const u32* src = image_pixels(image);
    if (!src || !width || !height) return push_image(width, height, nullptr);
    u32* px = scale_pixels_nearest(src, image_width(image), image_height(image), width, height);
    if (!px) raise_no_memory();
    return push_image(width, height, px);
}

Cell* push_image_flipped(const Cell* image) {
    const u32* src = image_pixels(image);
    if (!src) return push_image(image_width(image), image_height(image), nullptr);
    u32* px = flip_pixels_vertical(src, image_width(image), image_height(image));
    if (!px) raise_no_memory();
    return push_image(image_width(image), image_height(image), px);
}

void image_free_node(Cell* image) {
    if (!image->data2) return;
    i32 slot = i32(record_of(image->data2)[RECORD_SLOT]);
    if (slot >= 0) externals_remove(slot, true);
    record_of(image->data2)[RECORD_SLOT] = u32(-1);
    image->data2 = 0;
}

namespace {

// ---- making -----------------------------------------------------------------------------------

// image-make: white opaque unless RGB data, alpha (transparency) data or a colour says
// otherwise.
Cell* image_make_at(Cell* out, i64 w, i64 h, const Cell* rgb, const Cell* alpha, const Cell* colour) {
    w = std::max<i64>(w, 0), h = std::max<i64>(h, 0);
    check_image_size(w, h);
    if (w == 0 || h == 0) return make_image_at(out, u32(w), u32(h), nullptr);
    u32* px = alloc_image_pixels(u32(w), u32(h));
    if (!px) raise_no_memory();
    u64 count = u64(w) * u64(h);
    if (colour) {
        u32 p = tuple_to_pixel(colour);
        std::fill(px, px + count, p);
    } else {
        const u8* rgb_bytes = rgb ? binary_head_ptr(rgb) : nullptr;
        u64 rgb_pixels = rgb ? binary_length(rgb) / 3 : 0;
        const u8* a_bytes = alpha ? binary_head_ptr(alpha) : nullptr;
        u64 a_count = alpha ? binary_length(alpha) : 0;
        for (u64 i = 0; i < count; ++i) {
            u32 a = i < a_count ? 255u - a_bytes[i] : 255u;
            u32 c = 0xFFFFFF;
            if (i < rgb_pixels) {
                const u8* s = rgb_bytes + i * 3;
                c = u32(s[0]) << 16 | u32(s[1]) << 8 | s[2];
            }
            px[i] = a << 24 | c;
        }
    }
    return make_image_at(out, u32(w), u32(h), px);
}

Cell* image_copy_whole_at(Cell* out, const Cell* image) {
    if (!image_pixels(image)) return make_image_at(out, 0, 0, nullptr);
    return copy_rect_at(out, image, 0, 0, image_width(image), image_height(image));
}

Cell* image_to(Cell*, Cell* spec, u32) {
    if (type_of(spec) == T_IMAGE) return image_copy_whole_at(stack_push_slot(), spec);
    // A face would go to the GUI backend's face-to-image hook; the text-mode backend has none.
    Cell dt = num::datatype_cell(T_IMAGE);
    raise_error(Err::script_bad_to_arg, &dt, spec);
}

Cell* image_make(Cell* proto, Cell* spec, u32 type) {
    switch (type_of(spec)) {
        case T_PAIR: return image_make_at(stack_push_slot(), pair_x(spec), pair_y(spec), nullptr, nullptr, nullptr);
        case T_BLOCK: break;
        default: return image_to(proto, spec, type);
    }
    Cell b = *spec;
    i32 n = std::max(ks_length_q(&b), 0);
    if (n == 0) {
        if (proto && type_of(proto) == T_IMAGE) return image_copy_whole_at(stack_push_slot(), proto);
        raise_error(Err::script_invalid_arg, spec);
    }
    Cell v[3];
    for (i32 i = 0; i < std::min(n, 3); ++i) v[i] = ks_head(&b)[i];
    if (type_of(&v[0]) != T_PAIR) raise_error(Err::script_invalid_arg, &v[0]);
    const Cell *rgb = nullptr, *alpha = nullptr, *colour = nullptr;
    if (n > 1) {
        if (type_of(&v[1]) == T_BINARY)
            rgb = &v[1];
        else if (type_of(&v[1]) == T_TUPLE)
            colour = &v[1];
        else
            raise_error(Err::script_invalid_arg, &v[1]);
    }
    if (n > 2) {
        if (type_of(&v[2]) != T_BINARY) raise_error(Err::script_invalid_arg, &v[2]);
        alpha = &v[2];
    }
    // The binaries stay reachable through the spec block, which the caller holds.
    return image_make_at(stack_push_slot(), pair_x(&v[0]), pair_y(&v[0]), rgb, alpha, colour);
}

// ---- positions ----------------------------------------------------------------------------

// image/index-of: the clamped pixel index of a position; `out_of_range` when asked.
u32 index_of(const Cell* image, const Cell* pos, i32 base, bool* out_of_range) {
    i64 w = image_width(image), total = i64(image_pixel_count(image));
    i64 e;
    bool flag = false;
    if (type_of(pos) == T_PAIR) {
        i64 x = pair_x(pos), y = pair_y(pos);
        if (base == 1) {
            e = x + w * (y > 0 ? y - 1 : y);
            flag = x > w || x <= 0 || y > i64(image_height(image)) || y <= 0;
        } else {
            e = x + w * y;
            flag = x >= w || x < 0 || y >= i64(image_height(image)) || y < 0;
        }
    } else if (type_of(pos) == T_INTEGER) {
        e = get_integer(pos);
    } else {
        raise_error(Err::script_invalid_arg, pos);
    }
    i64 i = e + (base == 1 && e <= 0 ? 1 : 0) + i64(head_of(image)) - base;
    if (e == 0 || i < 0 || i >= total) flag = true;
    if (out_of_range) *out_of_range = flag;
    return u32(std::clamp<i64>(i, 0, total));
}

void image_at() {
    Cell* s = stack_arg(0);
    s->data1 = index_of(s, stack_arg(1), 1, nullptr);
}
void image_skip() {
    Cell* s = stack_arg(0);
    s->data1 = index_of(s, stack_arg(1), 0, nullptr);
}
void image_next() {
    Cell* s = stack_arg(0);
    if (u64(head_of(s)) + 1 <= image_pixel_count(s)) s->data1 += 1;
}
void image_tail() { stack_arg(0)->data1 = u32(image_pixel_count(stack_arg(0))); }
void image_tail_q() {
    set_cell(stack_result(), T_LOGIC, u64(head_of(stack_arg(0))) + 1 > image_pixel_count(stack_arg(0)) ? 1 : 0);
}
i32 image_length(Cell* s) { return i32(image_pixel_count(s)); }

// The position cell of pick and poke: the pair or integer given, else head + index - 1.
Cell position_cell(i32 index, const Cell* index_cell) {
    Cell p;
    if (index_cell && (type_of(index_cell) == T_PAIR || type_of(index_cell) == T_INTEGER))
        p = *index_cell;
    else
        set_cell(&p, T_INTEGER, 0, u32(index));
    return p;
}

Cell* image_pick(Cell* s, i32 index, Cell* index_cell) {
    Cell p = position_cell(index, index_cell);
    bool out;
    u32 i = index_of(s, &p, 1, &out);
    u32* px = image_pixels(s);
    if (out || !px || i >= image_pixel_count(s)) return &g_none_cell;
    return make_pixel_tuple_at(stack_push_slot(), px[i]);
}

Cell* image_poke(Cell* s, i32 index, Cell* value, Cell* index_cell) {
    Cell p = position_cell(index, index_cell);
    bool out;
    u32 i = index_of(s, &p, 1, &out);
    if (out || !image_pixels(s)) raise_error(Err::script_out_of_range, &p);
    if (type_of(value) != T_TUPLE) raise_error(Err::script_invalid_arg, value);
    image_pixels(s)[i] = tuple_to_pixel(value);
    ownership_check(s, Change::poke, value, i32(i), 1);
    return value;
}

// ---- byte views ----------------------------------------------------------------------------

enum BytesKind { KIND_ALPHA = 0, KIND_RGB = 1, KIND_ARGB = 2 };

Cell* get_bytes(const Cell* image, i32 kind) {
    u64 count = image_pixel_count(image);
    const u32* px = image_pixels(image);
    if (!px) count = 0;
    if (kind == KIND_ARGB) return push_binary_copy(px, u32(count * 4));
    std::vector<u8> out(size_t(count) * (kind == KIND_RGB ? 3 : 1));
    u8* o = out.data();
    for (u64 i = 0; i < count; ++i) {
        u32 p = px[i];
        if (kind == KIND_RGB) {
            *o++ = u8(p >> 16), *o++ = u8(p >> 8), *o++ = u8(p);
        } else {
            *o++ = u8(255 - (p >> 24));
        }
    }
    return push_binary_copy(out.data(), u32(out.size()));
}

void set_bytes(Cell* image, i32 kind, Cell* value) {
    u64 count = image_pixel_count(image);
    u32* px = image_pixels(image);
    if (!px) count = 0;
    auto fill = [&](const u8 b[4]) {  // R, G, B, T
        for (u64 i = 0; i < count; ++i) {
            u32 p = px[i];
            if (kind == KIND_ARGB)
                p = u32(255 - b[3]) << 24 | u32(b[0]) << 16 | u32(b[1]) << 8 | b[2];
            else if (kind == KIND_RGB)
                p = (p & 0xFF000000u) | u32(b[0]) << 16 | u32(b[1]) << 8 | b[2];
            else
                p = (p & 0x00FFFFFFu) | u32(255 - b[0]) << 24;
            px[i] = p;
        }
    };
    switch (type_of(value)) {
        case T_BINARY: {
            const u8* s = binary_head_ptr(value);
            u64 n = binary_length(value);
            if (kind == KIND_ARGB) {
                std::memcpy(px, s, size_t(std::min(n, count * 4)));
            } else if (kind == KIND_RGB) {
                u64 m = std::min(n / 3, count);
                for (u64 i = 0; i < m; ++i, s += 3)
                    px[i] = (px[i] & 0xFF000000u) | u32(s[0]) << 16 | u32(s[1]) << 8 | s[2];
            } else {
                u64 m = std::min(n, count);
                for (u64 i = 0; i < m; ++i) px[i] = (px[i] & 0x00FFFFFFu) | u32(255 - s[i]) << 24;
            }
            break;
        }
        case T_TUPLE: {
            u8 b[4] = {0, 0, 0, 0};
            std::memcpy(b, tuple_bytes(value), std::min<u32>(tuple_length(value), 4));
            if (tuple_length(value) < 4) b[3] = 0;
            fill(b);
            break;
        }
        case T_INTEGER: {
            u32 v = value->data2;
            u8 b[4] = {u8(v), u8(v >> 8), u8(v >> 16), u8(v >> 24)};
            fill(b);
            break;
        }
        default: raise_error(Err::script_invalid_arg, value);
    }
    ownership_check(image, Change::poke, value, 0, i32(std::min<u64>(count, INT32_MAX)));
}

bool word_is(const Cell* w, const char* name) {
    if (!is_any_word_type(type_of(w))) return false;
    u32 sym = word_symbol(w);
    u32 n = symbol_name_length(sym);
    if (n != std::strlen(name)) return false;
    const char* s = symbol_name(sym);
    for (u32 i = 0; i < n; ++i)
        if (ascii_fold(u8(s[i])) != u8(name[i])) return false;
    return true;
}

Cell* image_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool, bool, bool) {
    Cell none;
    set_cell(&none, T_NONE);
    Cell* p = path ? path : &none;
    if (type_of(element) == T_PAIR || type_of(element) == T_INTEGER) {
        if (!value) return image_pick(parent, get_integer(element), element);
        image_poke(parent, get_integer(element), value, element);
        return value;
    }
    if (word_is(element, "size")) {
        if (value) raise_error(Err::script_invalid_path, p, element);
        return push_pair(i32(image_width(parent)), i32(image_height(parent)));
    }
    i32 kind = word_is(element, "argb") ? KIND_ARGB : word_is(element, "rgb") ? KIND_RGB
                                                    : word_is(element, "alpha") ? KIND_ALPHA : -1;
    if (kind < 0) raise_error(Err::script_invalid_path, p, element);
    if (!value) return get_bytes(parent, kind);
    set_bytes(parent, kind, value);
    return value;
}

// ---- text -----------------------------------------------------------------------------------

const char HEX[] = "0123456789ABCDEF";
void put_hex(std::string& s, u32 byte) {
    s += HEX[(byte >> 4) & 15];
    s += HEX[byte & 15];
}

i32 image_mold_text(Cell* value, Cell* out, bool only, bool flat, i32 limit, i32 indent) {
    std::string s;
    if (!only) s += "make image! [";
    s += std::to_string(image_width(value)) + "x" + std::to_string(image_height(value));
    const u32* px = image_pixels(value);
    if (!px) {
        s += " #{}";
        if (!only) s += "]";
    } else {
        u64 total = image_pixel_count(value);
        u64 from = std::min<u64>(head_of(value), total);
        u64 count = total - from;
        i32 level = indent + 1;
        auto brk = [&](i32 lvl) {
            s += '\n';
            s.append(size_t(4 * std::max(lvl, 0)), ' ');
        };
        bool big = count * 4 > 30;
        // Enough for the budget: the output past it is cut anyway.
        u64 budget = limit > 0 ? u64(limit) : 0;
        s += " #{";
        if (!flat && big) brk(level);
        bool alpha = false;
        for (u64 i = 0; i < count && s.size() <= budget + 64; ++i) {
            u32 p = px[from + i];
            if ((p >> 24) != 255) alpha = true;
            put_hex(s, p >> 16), put_hex(s, p >> 8), put_hex(s, p);
            if (!flat && (i + 1) % 10 == 0) brk(level);
        }
        if (!flat && big && count % 10 != 0) brk(level - 1);
        s += "}";
        if (!alpha)
            for (u64 i = 0; i < count && !alpha; ++i) alpha = (px[from + i] >> 24) != 255;
        if (alpha && s.size() <= budget + 64) {
            s += " #{";
            brk(level);
            for (u64 i = 0; i < count && s.size() <= budget + 64; ++i) {
                put_hex(s, 255 - (px[from + i] >> 24));
                if (!flat && (i + 1) % 10 == 0) brk(level);
            }
            brk(level - 1);
            s += "}";
        }
        if (!only) s += "]";
    }
    u32 n = u32(std::min<u64>(s.size(), u64(std::max(limit, 0))));
    append_c_chars(out, s.data(), n);
    return limit - i32(n);
}

i32 image_form(Cell* value, Cell* out, Cell*, i32 limit) { return image_mold_text(value, out, false, false, limit, 0); }
i32 image_mold(Cell* value, Cell* out, bool only, bool, bool flat, Cell*, i32 limit, i32 indent) {
    return image_mold_text(value, out, only, flat, limit, indent + 1 - 1);
}

// ---- comparison -----------------------------------------------------------------------------

i32 image_compare(Cell* a, Cell* b, i32 op) {
    if (type_of(b) != T_IMAGE) return -2;
    bool same = a->data2 == b->data2 && head_of(a) == head_of(b);
    if (op == 9) return same ? 0 : -1;
    if ((op == 0 || op == 1 || op == 2 || op == 12) && same) return 0;
    if (!(op == 0 || op == 1 || op == 2 || op == 7 || op == 8 || op == 12)) return -2;
    u64 na = image_pixel_count(a), nb = image_pixel_count(b);
    if (na != nb) return na < nb ? -1 : 1;
    // The same pixels in another shape (2x1 against 1x2) are another image.
    if (image_width(a) != image_width(b)) return image_width(a) < image_width(b) ? -1 : 1;
    const u32 *pa = image_pixels(a), *pb = image_pixels(b);
    if (!pa || !pb) return pa == pb ? 0 : pa ? 1 : -1;
    int c = std::memcmp(pa, pb, size_t(na) * 4);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// ---- copy and change ----------------------------------------------------------------------------

Cell* image_copy(Cell* value, Cell* slot, Cell* part, bool, Cell*) {
    Cell* out = slot ? slot : stack_push_slot();
    u32 w = image_width(value), h = image_height(value);
    if (!part) {
        if (w == 0 || h == 0 || !image_pixels(value)) return make_image_at(out, 0, 0, nullptr);
        return image_copy_whole_at(out, value);
    }
    if (!image_pixels(value)) return make_image_at(out, 0, 0, nullptr);
    u32 head = head_of(value);
    i64 x0 = head % w, y0 = head / w;
    i64 rx = 0, ry = 0, rw = 0, rh = 0;
    Cell refinement = g_refinement_words[REF_PART];
    switch (type_of(part)) {
        case T_PAIR: {
            i64 px = pair_x(part), py = pair_y(part);
            if (px > 0 && py > 0 && u64(head) < image_pixel_count(value)) {
                rx = x0, ry = y0, rw = std::min<i64>(px, w - x0), rh = std::min<i64>(py, h - y0);
            } else if (px < 0 && py < 0 && head > 0) {
                i64 cw = -px, ch = -py;
                i64 col = x0 == 0 ? w : x0;
                if (cw > col)
                    rx = 0, rw = col;
                else
                    rx = col - cw, rw = cw;
                i64 row_end = std::min<i64>(y0 + 1, h);
                if (ch > row_end)
                    ry = 0, rh = row_end;
                else
                    ry = row_end - ch, rh = ch;
            }
            break;
        }
        case T_INTEGER: raise_error(Err::internal_not_done);
        case T_IMAGE: {
            if (part->data2 != value->data2) raise_error(Err::script_invalid_refine_arg, &refinement, part);
            u32 other = std::min<u64>(head_of(part), image_pixel_count(value));
            i64 x1 = other % w, y1 = other / w;
            rx = std::min(x0, x1), ry = std::min(y0, y1);
            rw = std::max(x0, x1) - rx, rh = std::max(y0, y1) - ry;
            break;
        }
        default: raise_error(Err::script_invalid_refine_arg, &refinement, part);
    }
    if (rw <= 0 || rh <= 0) return make_image_at(out, 0, 0, nullptr);
    return copy_rect_at(out, value, u32(rx), u32(ry), u32(rw), u32(rh));
}

Cell* image_change(Cell* series, Cell* value, i32 part, bool, i32 dup) {
    if (part >= 0 || dup != 1) raise_error(Err::internal_not_done);
    u32* px = image_pixels(series);
    u64 total = image_pixel_count(series);
    u32 head = head_of(series);
    if (type_of(value) == T_TUPLE) {
        if (!px || head >= total) {
            Cell p;
            set_cell(&p, T_INTEGER, 0, head + 1);
            raise_error(Err::script_out_of_range, &p);
        }
        ownership_check(series, Change::change, value, i32(head), 1);
        image_pixels(series)[head] = tuple_to_pixel(value);
        ownership_check(series, Change::changed, value, i32(head), 1);
        series->data1 = head + 1;
        return series;
    }
    if (type_of(value) != T_IMAGE) num::raise_invalid_type(type_of(value));
    if (!px || u64(head) + 1 >= total) return series;  // at or past the last pixel
    const u32* src = image_pixels(value);
    if (!src) return series;
    u32 w = image_width(series), h = image_height(series);
    u32 x0 = head % w, y0 = head / w;
    u32 cols = std::min(image_width(value), w - x0);
    u32 rows = std::min(image_height(value), h - y0);
    ownership_check(series, Change::change, value, i32(head), i32(std::min<u64>(u64(cols) * rows, INT32_MAX)));
    px = image_pixels(series);
    for (u32 r = 0; r < rows; ++r)
        std::memmove(px + size_t(y0 + r) * w + x0, src + size_t(r) * image_width(value), size_t(cols) * 4);
    ownership_check(series, Change::changed, value, i32(head), i32(std::min<u64>(u64(cols) * rows, INT32_MAX)));
    u32 col = std::min(x0 + cols, w);
    series->data1 = (y0 + rows - 1) * w + col;
    return series;
}

// The collector's step for an image: the record, and the external slot of its pixels (-1
// while the image is being made).
void image_mark(Cell* c) {
    mark_node(c->data2);
    if (!c->data2) return;
    i32 slot = i32(record_of(c->data2)[RECORD_SLOT]);
    if (slot >= 0) externals_mark(slot, nullptr);
}

void init_image() {
    TypeRegistration r(T_IMAGE, T_SERIES, "image!");
    r.set<A_MAKE>(image_make).set<A_TO>(image_to).set<A_FORM>(image_form).set<A_MOLD>(image_mold);
    r.set<A_EVAL_PATH>(image_eval_path).set<A_COMPARE>(image_compare).set<A_AT>(image_at);
    r.set<A_CHANGE>(image_change).set<A_COPY>(image_copy).set<A_LENGTH_Q>(image_length);
    r.set<A_NEXT>(image_next).set<A_PICK>(image_pick).set<A_POKE>(image_poke).set<A_SKIP>(image_skip);
    r.set<A_TAIL>(image_tail).set<A_TAIL_Q>(image_tail_q);
    for (int a : {A_BACK, A_HEAD, A_HEAD_Q, A_INDEX_Q, A_MODIFY}) r.inherit(a);
    register_datatype(r);
    gc_set_type_marker(T_IMAGE, image_mark);
}

}  // namespace

KEL_DATATYPE(T_IMAGE, init_image);

}  // namespace kel::dt
