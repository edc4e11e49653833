// Datatype registry.
#include "datatypes/registry.h"

#include <cstring>

#include "datatypes/datatype_init.h"
#include "runtime/console_out.h"
#include "runtime/fatal.h"

namespace kel::dt {

AnyFn g_action_table[TYPE_ROWS * ACTION_ROW_SIZE];
TypeName g_type_names[TYPE_ROWS];
u32 g_highest_type = 0;

Cell g_unset_cell{};
Cell g_none_cell{};
Cell g_true_cell{};
Cell g_false_cell{};
Cell g_empty_cell{};

void registry_reset() {
    std::memset(g_action_table, 0, sizeof g_action_table);
    for (auto& n : g_type_names) n = TypeName{};
    g_highest_type = 0;
}

void register_datatype(i32 entry_count, const TypeRegistration& r) {
    if (r.type > g_highest_type) g_highest_type = r.type;
    TypeName& tn = g_type_names[r.type];
    tn.name = r.name;
    tn.form_length = i32(std::strlen(r.name)) - 1;
    if (g_load_word_hook) g_load_word_hook(r.name, &tn.word);

    i32 actions = entry_count - 3;
    if (actions != ACTION_COUNT) {
        rt::print_values_line({"*** Datatype Error: invalid actions count for type: ", r.type});
        rt::print_values_line({"*** Found: ", actions});
        rt::print_values_line({"*** Expected: ", ACTION_COUNT});
        // A build fault must not look like success.
        rt::process_exit(1);
    }
    AnyFn* row = &g_action_table[r.type * ACTION_ROW_SIZE];
    const AnyFn* parent = &g_action_table[r.parent * ACTION_ROW_SIZE];
    for (int a = 0; a < ACTION_COUNT; ++a) {
        AnyFn fn = r.actions[a];
        // A root has nothing to inherit: the action is unsupported rather than a -1 entry.
        if (fn == INHERIT) fn = r.parent != 0 ? parent[a] : nullptr;
        row[a] = fn;
    }
}

// ---- the fixed order ------------------------------------------------------------------

namespace {

struct TypeOrder {
    u32 type;
    u32 parent;
    const char* name;
};

// Every parent comes before its children; event! is registered later by the start-up.
constexpr TypeOrder g_order[] = {
    {T_DATATYPE, 0, "datatype!"},   {T_UNSET, 0, "unset!"},
    {T_NONE, 0, "none!"},           {T_LOGIC, 0, "logic!"},
    {T_SERIES, 0, "series!"},       {T_BLOCK, T_SERIES, "block!"},
    {T_STRING, T_SERIES, "string!"}, {T_BINARY, T_STRING, "binary!"},
    {T_INTEGER, 0, "integer!"},     {T_SYMBOL, 0, "symbol!"},
    {T_CONTEXT, 0, "context!"},     {T_WORD, T_SYMBOL, "word!"},
    {T_LIT_WORD, T_WORD, "lit-word!"}, {T_SET_WORD, T_WORD, "set-word!"},
    {T_GET_WORD, T_WORD, "get-word!"}, {T_REFINEMENT, T_WORD, "refinement!"},
    {T_CHAR, T_INTEGER, "char!"},   {T_NATIVE, 0, "native!"},
    {T_ACTION, T_NATIVE, "action!"}, {T_OP, T_NATIVE, "op!"},
    {T_PATH, T_BLOCK, "path!"},     {T_LIT_PATH, T_PATH, "lit-path!"},
    {T_SET_PATH, T_PATH, "set-path!"}, {T_GET_PATH, T_PATH, "get-path!"},
    {T_FUNCTION, T_CONTEXT, "function!"}, {T_ROUTINE, T_FUNCTION, "routine!"},
    {T_PAREN, T_BLOCK, "paren!"},   {T_ISSUE, T_WORD, "issue!"},
    {T_URL, T_STRING, "url!"},      {T_FILE, T_URL, "file!"},
    {T_OBJECT, 0, "object!"},       {T_BITSET, 0, "bitset!"},
    {T_TRIPLE, 0, "triple!"},       {T_FLOAT, 0, "float!"},
    {T_TYPESET, 0, "typeset!"},     {T_ERROR, T_OBJECT, "error!"},
    {T_VECTOR, T_STRING, "vector!"}, {T_MAP, 0, "map!"},
    {T_HASH, T_BLOCK, "hash!"},     {T_PAIR, 0, "pair!"},
    {T_PERCENT, T_FLOAT, "percent!"}, {T_TUPLE, 0, "tuple!"},
    {T_TIME, T_FLOAT, "time!"},     {T_TAG, T_STRING, "tag!"},
    {T_EMAIL, T_STRING, "email!"},  {T_HANDLE, T_INTEGER, "handle!"},
    {T_DATE, 0, "date!"},           {T_PORT, T_OBJECT, "port!"},
    {T_MONEY, 0, "money!"},         {T_REF, T_STRING, "ref!"},
    {T_POINT2D, 0, "point2D!"},     {T_POINT3D, 0, "point3D!"},
    {T_IMAGE, T_SERIES, "image!"},
};

DatatypeInit* g_inits[TYPE_ROWS];

}  // namespace

DatatypeRegistrar::DatatypeRegistrar(u32 type, DatatypeInit* init) { g_inits[type] = init; }

u32 datatype_parent(u32 type) {
    for (const auto& o : g_order)
        if (o.type == type) return o.parent;
    return 0;  // roots, event! included
}

bool datatype_built(u32 type) { return type < TYPE_ROWS && g_inits[type] != nullptr; }

const char* datatype_name(u32 type) {
    for (const auto& o : g_order)
        if (o.type == type) return o.name;
    return type == T_EVENT ? "event!" : nullptr;
}

void register_all_datatypes() {
    registry_reset();
    for (const auto& o : g_order) {
        if (g_inits[o.type]) {
            g_inits[o.type]();
        } else {
            // Not built yet: the type has its name and inherits whatever its parent does.
            TypeRegistration r(o.type, o.parent, o.name);
            if (o.parent) r.inherit_all();
            register_datatype(r);
        }
    }
}

void register_event_datatype() {
    if (g_inits[T_EVENT]) g_inits[T_EVENT]();
    else register_datatype(TypeRegistration(T_EVENT, 0, "event!"));
}

void bind_name_table() {
    if (!g_load_word_hook) return;
    for (u32 t = 1; t <= g_highest_type; ++t)
        if (g_type_names[t].name) g_load_word_hook(g_type_names[t].name, &g_type_names[t].word);
}

}  // namespace kel::dt
