// The error catalog objects, built from runtime/error_catalog.def.
//
// The templates are written in the language's notation: a string, or a block of strings and
// the words :arg1 :arg2 :arg3 (arg1 arg2 without the colon). A small reader of that notation
// turns each into its value.
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

Node g_error_roots = 0;

Cell* error_catalog() { return cells_of(buffer_of(g_error_roots)); }
Cell* standard_error() { return cells_of(buffer_of(g_error_roots)) + 1; }

namespace {

struct CategoryDef {
    const char* name;
    const char* display;
};

constexpr CategoryDef k_categories[] = {
#define KEL_ERROR_CATEGORY(ident, name, display) {name, display},
#define KEL_ERROR(cat, ident, name, tpl)
#include "runtime/error_catalog.def"
#undef KEL_ERROR_CATEGORY
#undef KEL_ERROR
};

struct ErrorDef {
    ErrCategory category;
    const char* name;
    const char* tpl;
};

constexpr ErrorDef k_errors[] = {
#define KEL_ERROR_CATEGORY(ident, name, display)
#define KEL_ERROR(cat, ident, name, tpl) {ErrCategory::cat_##cat, name, tpl},
#include "runtime/error_catalog.def"
#undef KEL_ERROR_CATEGORY
#undef KEL_ERROR
};

// ---- the template reader ----------------------------------------------------------------

struct TemplateReader {
    const char* p;

    void skip_space() {
        while (*p == ' ' || *p == '\t' || *p == '\n') ++p;
    }
    [[noreturn]] void fail() { fatal_no_case(); }

    // Pushes the value read at p.
    void read_value() {
        skip_space();
        if (*p == '"') {
            ++p;
            Cell* s = push_string(16);
            std::string utf8;
            while (*p && *p != '"') {
                char c = *p++;
                if (c == '^' && *p) {
                    char e = *p++;
                    c = e == '/' ? '\n' : e == '-' ? '\t' : e;
                }
                utf8.push_back(c);
            }
            if (*p != '"') fail();
            ++p;
            append_utf8(s, utf8.c_str());
            return;
        }
        if (*p == '[') {
            ++p;
            Cell* b = push_new_block(4);
            for (;;) {
                skip_space();
                if (*p == ']') {
                    ++p;
                    return;
                }
                if (!*p) fail();
                read_value();
                ks_append(b, stack_top());
                stack_pop(1);
            }
        }
        u32 type = T_WORD;
        if (*p == ':') {
            type = T_GET_WORD;
            ++p;
        }
        std::string name;
        while (*p && *p != ' ' && *p != ']' && *p != '[' && *p != '"') name.push_back(*p++);
        if (name.empty()) fail();
        Cell w = load_word(name.c_str());
        w.header = type;
        stack_push(&w);
    }
};

// Reads a whole template and pushes its value.
void push_template(const char* text) {
    TemplateReader r{text};
    r.read_value();
    r.skip_space();
    if (*r.p) r.fail();
}

// An object over a new context with `n` slots of room, pushed.
Cell* push_new_object(u32 n, u32 type = T_OBJECT) {
    Node ctx = make_context(n, false, true, nullptr, CTX_OBJECT);
    Cell* obj = push_object(ctx, new_object_id());
    obj->header = type;
    *context_owner(ctx) = *obj;
    return obj;
}

void put_field(Cell* obj, const char* name, const Cell* value) {
    Cell w = load_word(name);
    Cell v = *value;
    v.header &= ~CELL_NEW_LINE;
    context_put_word(object_context(obj), &w, &v);
}

}  // namespace

void error_catalog_init() {
    if (g_error_roots) return;
    Cell* base = g_args.top;
    constexpr u32 ncat = sizeof k_categories / sizeof k_categories[0];
    Cell* catalog = push_new_object(ncat);
    for (u32 c = 0; c < ncat; ++c) {
        u32 ids = 0;
        for (const ErrorDef& e : k_errors)
            if (u32(e.category) == c) ++ids;
        Cell* cat = push_new_object(ids + 2);
        Cell code;
        set_cell(&code, T_INTEGER, 0, c * 100, 0);
        put_field(cat, "code", &code);
        Cell* display = push_string(16);
        append_c_string(display, k_categories[c].display);
        put_field(cat, "type", display);
        stack_pop(1);
        for (const ErrorDef& e : k_errors) {
            if (u32(e.category) != c) continue;
            push_template(e.tpl);
            put_field(cat, e.name, stack_top());
            stack_pop(1);
        }
        put_field(catalog, k_categories[c].name, cat);
        stack_pop(1);
    }
    Cell* proto = push_new_object(ERR_FIELD_COUNT, T_ERROR);
    static const char* const fields[ERR_FIELD_COUNT] = {"code", "type", "id",    "arg1",  "arg2",
                                                         "arg3", "near", "where", "stack", "files"};
    for (const char* f : fields) put_field(proto, f, &g_none_cell);
    Node roots = alloc_cells(2);
    SeriesBuffer* b = buffer_of(roots);
    cells_of(b)[0] = *catalog;
    cells_of(b)[1] = *proto;
    b->tail = b->offset + 2 * sizeof(Cell);
    g_error_roots = roots;
    gc_register_node_root(&g_error_roots);
    g_args.top = base;
    error_makers_install();
}

}  // namespace kel::dt
