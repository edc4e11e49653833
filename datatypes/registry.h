// Datatype registry: the per-type action table and the type-name table.
//
// Every datatype is one module ending in an init that registers its row: type id, parent,
// name and one handler per action id. Entries are a handler, null (not supported) or
// INHERIT (take the parent's entry, resolved once at registration).
//
// Handlers come in two forms (see ActionSig below):
//   - stack form (absolute, add, divide, multiply, power, remainder, subtract, and~, or~,
//     xor~, at, back, head, head?, index?, next, skip, tail, tail?): no parameters; the
//     arguments are on the argument stack from the arguments base and the result goes there;
//   - typed form: explicit arguments; the first is the value dispatched on. A refinement
//     argument is a Cell* that is null when the refinement is absent.
// Handlers never return an exit Status: an exit that must cross one travels as SystemThrow.
#pragma once
#include "runtime/cell.h"
#include "runtime/symbols.h"
#include "runtime/types.h"

namespace kel::dt {

using AnyFn = void (*)();
inline const AnyFn INHERIT = reinterpret_cast<AnyFn>(intptr_t(-1));

// ---- handler signatures ---------------------------------------------------------------

using MakeFn = Cell* (*)(Cell* proto, Cell* spec, u32 type);
using RandomFn = Cell* (*)(Cell* value, bool seed, bool secure, bool only);
using ReflectFn = Cell* (*)(Cell* value, u32 field_symbol);
// form/mold answer the budget left: limit minus the characters appended.
using FormFn = i32 (*)(Cell* value, Cell* out, Cell* part, i32 limit);
using MoldFn = i32 (*)(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent);
using EvalPathFn = Cell* (*)(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item,
                             i32 index, bool case_, bool get, bool tail);
// -1, 0, 1 ordering; -2 not comparable.
using CompareFn = i32 (*)(Cell* v1, Cell* v2, i32 op);
using StackFn = void (*)();
using UnaryFn = Cell* (*)(Cell* value);
using RoundFn = Cell* (*)(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                          bool half_ceiling);
using PredicateFn = bool (*)(Cell* value);
// append (append = true) and insert
using InsertFn = Cell* (*)(Cell* series, Cell* value, i32 part, bool only, i32 dup, bool append);
using ChangeFn = Cell* (*)(Cell* series, Cell* value, i32 part, bool only, i32 dup);
using CopyFn = Cell* (*)(Cell* value, Cell* new_slot, Cell* part, bool deep, Cell* types);
using FindFn = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                         Cell* skip, bool last, bool reverse, bool tail, bool match);
using SelectFn = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
                           Cell* with, Cell* skip, bool last, bool reverse);
using LengthFn = i32 (*)(Cell* series);  // -1 answers none
using MoveFn = Cell* (*)(Cell* origin, Cell* target, Cell* part);
using PickFn = Cell* (*)(Cell* series, i32 index, Cell* index_cell);
using PokeFn = Cell* (*)(Cell* series, i32 index, Cell* value, Cell* index_cell);
using PutFn = Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_);
using RemoveFn = Cell* (*)(Cell* series, Cell* part, Cell* key);
using ReverseFn = Cell* (*)(Cell* series, Cell* part, Cell* skip);
using SortFn = Cell* (*)(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
                         bool stable);
using SwapFn = Cell* (*)(Cell* s1, Cell* s2);
using TakeFn = Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
using TrimFn = Cell* (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
using ModifyFn = Cell* (*)(Cell* target, Cell* field, Cell* value, bool case_);
using OpenFn = Cell* (*)(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow);
using ReadFn = Cell* (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
using RenameFn = Cell* (*)(Cell* from, Cell* to);
using WriteFn = Cell* (*)(Cell* dest, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
                          Cell* seek, Cell* allow, Cell* as);

template <int A>
struct ActionSig;
#define KEL_ACTION_SIG(id, fn) \
    template <>                \
    struct ActionSig<id> {     \
        using type = fn;       \
    };
KEL_ACTION_SIG(A_MAKE, MakeFn)
KEL_ACTION_SIG(A_RANDOM, RandomFn)
KEL_ACTION_SIG(A_REFLECT, ReflectFn)
KEL_ACTION_SIG(A_TO, MakeFn)
KEL_ACTION_SIG(A_FORM, FormFn)
KEL_ACTION_SIG(A_MOLD, MoldFn)
KEL_ACTION_SIG(A_EVAL_PATH, EvalPathFn)
KEL_ACTION_SIG(A_COMPARE, CompareFn)
KEL_ACTION_SIG(A_ABSOLUTE, StackFn)
KEL_ACTION_SIG(A_ADD, StackFn)
KEL_ACTION_SIG(A_DIVIDE, StackFn)
KEL_ACTION_SIG(A_MULTIPLY, StackFn)
KEL_ACTION_SIG(A_NEGATE, UnaryFn)
KEL_ACTION_SIG(A_POWER, StackFn)
KEL_ACTION_SIG(A_REMAINDER, StackFn)
KEL_ACTION_SIG(A_ROUND, RoundFn)
KEL_ACTION_SIG(A_SUBTRACT, StackFn)
KEL_ACTION_SIG(A_EVEN_Q, PredicateFn)
KEL_ACTION_SIG(A_ODD_Q, PredicateFn)
KEL_ACTION_SIG(A_AND_T, StackFn)
KEL_ACTION_SIG(A_COMPLEMENT, UnaryFn)
KEL_ACTION_SIG(A_OR_T, StackFn)
KEL_ACTION_SIG(A_XOR_T, StackFn)
KEL_ACTION_SIG(A_APPEND, InsertFn)
KEL_ACTION_SIG(A_AT, StackFn)
KEL_ACTION_SIG(A_BACK, StackFn)
KEL_ACTION_SIG(A_CHANGE, ChangeFn)
KEL_ACTION_SIG(A_CLEAR, UnaryFn)
KEL_ACTION_SIG(A_COPY, CopyFn)
KEL_ACTION_SIG(A_FIND, FindFn)
KEL_ACTION_SIG(A_HEAD, StackFn)
KEL_ACTION_SIG(A_HEAD_Q, StackFn)
KEL_ACTION_SIG(A_INDEX_Q, StackFn)
KEL_ACTION_SIG(A_INSERT, InsertFn)
KEL_ACTION_SIG(A_LENGTH_Q, LengthFn)
KEL_ACTION_SIG(A_MOVE, MoveFn)
KEL_ACTION_SIG(A_NEXT, StackFn)
KEL_ACTION_SIG(A_PICK, PickFn)
KEL_ACTION_SIG(A_POKE, PokeFn)
KEL_ACTION_SIG(A_PUT, PutFn)
KEL_ACTION_SIG(A_REMOVE, RemoveFn)
KEL_ACTION_SIG(A_REVERSE, ReverseFn)
KEL_ACTION_SIG(A_SELECT, SelectFn)
KEL_ACTION_SIG(A_SORT, SortFn)
KEL_ACTION_SIG(A_SKIP, StackFn)
KEL_ACTION_SIG(A_SWAP, SwapFn)
KEL_ACTION_SIG(A_TAIL, StackFn)
KEL_ACTION_SIG(A_TAIL_Q, StackFn)
KEL_ACTION_SIG(A_TAKE, TakeFn)
KEL_ACTION_SIG(A_TRIM, TrimFn)
KEL_ACTION_SIG(A_CREATE, UnaryFn)
KEL_ACTION_SIG(A_CLOSE, UnaryFn)
KEL_ACTION_SIG(A_DELETE, UnaryFn)
KEL_ACTION_SIG(A_MODIFY, ModifyFn)
KEL_ACTION_SIG(A_OPEN, OpenFn)
KEL_ACTION_SIG(A_OPEN_Q, UnaryFn)
KEL_ACTION_SIG(A_QUERY, UnaryFn)
KEL_ACTION_SIG(A_READ, ReadFn)
KEL_ACTION_SIG(A_RENAME, RenameFn)
KEL_ACTION_SIG(A_UPDATE, UnaryFn)
KEL_ACTION_SIG(A_WRITE, WriteFn)
#undef KEL_ACTION_SIG

// ---- registration ---------------------------------------------------------------------

struct TypeRegistration {
    u32 type = 0;
    u32 parent = 0;
    const char* name = nullptr;
    AnyFn actions[ACTION_COUNT] = {};  // index: action id - 1

    TypeRegistration(u32 t, u32 p, const char* n) : type(t), parent(p), name(n) {}

    // Every entry INHERIT: a child that answers exactly as its parent.
    TypeRegistration& inherit_all() {
        for (auto& a : actions) a = INHERIT;
        return *this;
    }
    template <int A>
    TypeRegistration& set(typename ActionSig<A>::type fn) {
        actions[A - 1] = reinterpret_cast<AnyFn>(fn);
        return *this;
    }
    TypeRegistration& inherit(int action) {
        actions[action - 1] = INHERIT;
        return *this;
    }
    TypeRegistration& none(int action) {
        actions[action - 1] = nullptr;
        return *this;
    }
};

// The record's word count: type, parent, name and the 62 actions.
constexpr i32 REGISTRATION_WORDS = 3 + ACTION_COUNT;

// register-datatype. A wrong entry count is a build fault: a three-line report and exit 1.
void register_datatype(i32 entry_count, const TypeRegistration& r);
inline void register_datatype(const TypeRegistration& r) { register_datatype(REGISTRATION_WORDS, r); }

// ---- tables ---------------------------------------------------------------------------

struct TypeName {
    const char* name = nullptr;  // "integer!"
    i32 form_length = 0;         // the name without its "!"
    Cell word{};                 // the global word for the name, once the words exist
};

extern AnyFn g_action_table[TYPE_ROWS * ACTION_ROW_SIZE];
extern TypeName g_type_names[TYPE_ROWS];
extern u32 g_highest_type;
// Makes the word for a name; installed once words exist (the name-table step uses it).
using rt::g_load_word_hook;

inline AnyFn action_entry(u32 type, u32 action) { return g_action_table[type * ACTION_ROW_SIZE + action - 1]; }
template <int A>
inline typename ActionSig<A>::type handler(u32 type) {
    return reinterpret_cast<typename ActionSig<A>::type>(action_entry(type, A));
}

// Clears both tables (start-up; tests that register their own types).
void registry_reset();
// Every datatype's init, in the order that keeps parents before children.
void register_all_datatypes();
// The name-table step: every registered name gets its word.
void bind_name_table();

// ---- shared constant cells ------------------------------------------------------------

extern Cell g_unset_cell;
extern Cell g_none_cell;
extern Cell g_true_cell;
extern Cell g_false_cell;
extern Cell g_empty_cell;  // type id 0, all words 0

}  // namespace kel::dt
