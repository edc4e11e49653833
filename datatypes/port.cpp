// port! datatype: an object standing for an external resource reached through a scheme.
//
// A port has no I/O of its own: every series and port action is forwarded, by name, to the
// function of the same name in the port's actor object, with the port first and then the
// action's arguments in the order of its spec (a refinement as a logic! followed by its
// argument, or none). The actor's function is called with its argument frame filled from
// those values and completed for its own spec: a refinement it has beyond them is off, an
// argument none; values beyond its spec are dropped. A port whose actor is a handle! has
// those actions answered by the native actor's table instead (datatypes/port.h).
#include "datatypes/port.h"

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/externals.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

namespace {

// Fields of the port prototype, in order.
enum PortField : u32 { PORT_SPEC = 0, PORT_SCHEME = 1, PORT_ACTOR = 2 };
constexpr i32 PORT_CLASS = 2;

// ---- values as the actor receives them -----------------------------------------------

Cell logic(bool b) {
    Cell c;
    set_cell(&c, T_LOGIC, b ? 1 : 0);
    return c;
}
Cell none() {
    Cell c;
    set_cell(&c, T_NONE);
    return c;
}
Cell integer(i32 v) {
    Cell c;
    set_cell(&c, T_INTEGER, 0, u32(v), 0);
    return c;
}
Cell or_none(const Cell* v) { return v ? *v : none(); }

// ---- the system object's prototypes -------------------------------------------------------

// The value of system/<a>/<b>, or the none cell when a step is missing.
Cell system_member(const char* a, const char* b) {
    Cell w = load_word("system");
    const Cell* sys = word_value_or_null(&w);
    if (!sys || !is_object_type(type_of(sys))) return none();
    Cell wa = load_word(a);
    Cell obj = *object_select_word(sys, &wa);
    if (!b) return obj;
    if (!is_object_type(type_of(&obj))) return none();
    Cell wb = load_word(b);
    return *object_select_word(&obj, &wb);
}

Cell* port_field(const Cell* port, u32 field) { return context_values(object_context(port)) + field; }

// port/get-actor.
Cell get_actor(const Cell* port) {
    Cell actor = *port_field(port, PORT_ACTOR);
    if (type_of(&actor) != T_OBJECT) raise_error(Err::access_invalid_port);
    return actor;
}

// The argument slots of a function's frame, from its spec: true for a refinement (off:
// false), false for an argument or local (none).
std::vector<bool> frame_slots(const Cell* fn) {
    std::vector<bool> slots;
    Node spec = fn->data2;
    u32 n = series_length(spec);
    for (u32 i = 0; i < n; ++i) {
        const Cell* c = cells_of(buffer_of(spec)) + i;
        switch (type_of(c)) {
            case T_WORD: case T_LIT_WORD: case T_GET_WORD: slots.push_back(false); break;
            case T_REFINEMENT: slots.push_back(true); break;
            default: break;
        }
    }
    return slots;
}

// Calls a function! in a frame named by `word`, with `values` for its first arguments and the
// rest completed as compiled calls complete an unused refinement: refinements off, arguments
// none; values beyond its spec are dropped. Answers the cell that holds the result (on the
// argument stack, just above the caller's top).
Cell* call_completed(const Cell& fn, Node owner, const Cell& word, const std::vector<Cell>& values) {
    if (!g_call_function) raise_error(Err::internal_not_done);
    std::vector<bool> slots = frame_slots(&fn);
    Cell f = fn, w = word;
    Cell* base = stack_open_function(&w, f.data1);
    size_t k = 0;
    for (; k < slots.size() && k < values.size(); ++k) stack_push(&values[k]);
    for (; k < slots.size(); ++k) {
        Cell pad = slots[k] ? logic(false) : none();
        stack_push(&pad);
    }
    Status st = g_call_function(&f, owner, &w, 0);
    // An exit that left the function has already set the stacks for its target.
    if (st) system_throw(st);
    stack_unwind_function();
    return base;
}

// port/call-actor: the actor's function of the action's name, called with the port and the
// action's arguments.
Cell* forward(const Cell* port_cell, const char* action, std::initializer_list<Cell> args) {
    Cell port = *port_cell;
    Cell actor = get_actor(&port);
    Cell word = load_word(action);
    Cell fn = *object_select_word(&actor, &word);
    if (type_of(&fn) != T_FUNCTION) raise_error(Err::access_no_port_action, &word);
    std::vector<Cell> values{port};
    values.insert(values.end(), args.begin(), args.end());
    return call_completed(fn, object_context(&actor), word, values);
}

// ---- native actors ------------------------------------------------------------------------

std::vector<const PortActorTable*> g_actor_tables;  // a handle's value is its index + 1

// The external kind that marks a handle! naming an actor table. Kinds are made again when
// the runtime starts again, so the number is checked against its name at each use.
i32 actor_kind() {
    static i32 kind = 0;
    static u32 name = 0;
    if (!kind || !name || rt::externals_kind_value(kind) != name) {
        name = make_symbol("port-actor");
        kind = rt::externals_register_kind(name, nullptr);
    }
    return kind;
}

const PortActorTable* actor_table(const Cell* handle) {
    u32 index = handle->data2;
    if (i32(handle->data1) != actor_kind() || index == 0 || index > g_actor_tables.size()) return nullptr;
    return g_actor_tables[index - 1];
}

// A handler registered for port!: the native actor's own when the port has one, else the
// forwarding to the actor object's function.
template <int A, typename Sig = typename ActionSig<A>::type>
struct NativeFirst;

template <int A, typename R, typename... Args>
struct NativeFirst<A, R (*)(Cell*, Args...)> {
    template <R (*Forward)(Cell*, Args...)>
    static R call(Cell* port, Args... args) {
        if (AnyFn native = port_native_handler(port, A))
            return reinterpret_cast<R (*)(Cell*, Args...)>(native)(port, args...);
        return Forward(port, args...);
    }
};

// The stack forms find the port in the first argument slot.
template <int A>
struct NativeFirst<A, void (*)()> {
    template <void (*Forward)()>
    static void call() {
        if (AnyFn native = port_native_handler(g_args.base, A))
            reinterpret_cast<void (*)()>(native)();
        else
            Forward();
    }
};

// ---- construction and text ------------------------------------------------------------

Cell* port_make(Cell*, Cell* spec, u32) {
    // The spec object: a copy of an object, or the url parts made from any other spec.
    Cell* parts = stack_push_slot();
    set_cell(parts, T_NONE);
    if (is_object_type(type_of(spec))) {
        copy_object(spec, parts, false, nullptr, false);
    } else {
        Cell proto = system_member("standard", "url-parts");
        if (!is_object_type(type_of(&proto))) raise_error(Err::internal_not_done);
        Cell* proto_slot = stack_push(&proto);
        *parts = *object_make(proto_slot, spec, T_OBJECT);
    }
    Cell scheme = *object_first_value(parts);
    if (object_field_count(parts) == 0 || type_of(&scheme) != T_WORD) raise_error(Err::access_no_scheme, spec);

    Cell proto = system_member("standard", "port");
    if (!is_object_type(type_of(&proto))) raise_error(Err::internal_not_done);
    Cell* port = stack_push_slot();
    set_cell(port, T_NONE);
    copy_object(&proto, port, false, nullptr, false);
    set_cell_type(port, T_PORT);
    port->data2 = u32(PORT_CLASS);
    *context_owner(object_context(port)) = *port;
    *port_field(port, PORT_SPEC) = *parts;
    *port_field(port, PORT_SCHEME) = scheme;

    // system/schemes: a block of name and scheme object pairs.
    Cell schemes = system_member("schemes", nullptr);
    Cell found = none();
    if (type_of(&schemes) == T_BLOCK) {
        i32 head = series_head(&schemes), n = ks_length_q(&schemes);
        for (i32 i = 0; i + 1 < n; i += 2) {
            Cell name = *ks_abs_at(&schemes, head + i);
            if (is_any_word_type(type_of(&name)) && resolve_symbol_alias(word_symbol(&name)) == resolve_symbol_alias(word_symbol(&scheme))) {
                found = *ks_abs_at(&schemes, head + i + 1);
                break;
            }
        }
    }
    if (type_of(&found) != T_OBJECT) raise_error(Err::access_unknown_scheme, spec);
    Cell actor_word = load_word("actor");
    Cell actor = *object_select_word(&found, &actor_word);
    if (type_of(&actor) != T_OBJECT && type_of(&actor) != T_HANDLE) raise_error(Err::access_invalid_actor);
    *port_field(port, PORT_ACTOR) = actor;
    return port;
}

i32 port_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    return mold_object_as(value, "make port! [", out, only, all, flat, part, limit, indent);
}

i32 port_form(Cell* value, Cell* out, Cell* part, i32 limit) {
    return mold_object_as(value, "make port! [", out, false, false, false, part, limit, 0);
}

// ---- forwarded actions --------------------------------------------------------------------

// The stack forms: the port in the first argument slot, an index or offset in the second
// where the action has one; the result goes to the first slot.
template <const char* Name>
void stack_forward() {
    copy_cell(forward(g_args.base, Name, {}), g_args.base);
}
template <const char* Name>
void stack_forward_1() {
    copy_cell(forward(g_args.base, Name, {g_args.base[1]}), g_args.base);
}
template <const char* Name>
Cell* unary_forward(Cell* port) {
    return forward(port, Name, {});
}

constexpr char N_AT[] = "at", N_BACK[] = "back", N_HEAD[] = "head", N_HEAD_Q[] = "head?", N_INDEX_Q[] = "index?",
               N_NEXT[] = "next", N_SKIP[] = "skip", N_TAIL[] = "tail", N_TAIL_Q[] = "tail?", N_CLEAR[] = "clear",
               N_CREATE[] = "create", N_CLOSE[] = "close", N_DELETE[] = "delete", N_QUERY[] = "query",
               N_UPDATE[] = "update";

Cell* port_insert(Cell* port, Cell* value, i32 part, bool only, i32 dup, bool append) {
    return forward(port, append ? "append" : "insert",
                   {*value, logic(part >= 0), part >= 0 ? integer(part) : none(), logic(only), logic(dup > 1),
                    dup > 1 ? integer(dup) : none()});
}

Cell* port_change(Cell* port, Cell* value, i32 part, bool only, i32 dup) {
    return forward(port, "change",
                   {*value, logic(part >= 0), part >= 0 ? integer(part) : none(), logic(only), logic(dup > 1),
                    dup > 1 ? integer(dup) : none()});
}

Cell* port_copy(Cell* port, Cell*, Cell* part, bool deep, Cell* types) {
    return forward(port, "copy", {logic(part), or_none(part), logic(deep), logic(types), or_none(types)});
}

Cell* port_find(Cell* port, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                Cell* skip, bool last, bool reverse, bool tail, bool match) {
    return forward(port, "find",
                   {*value, logic(part), or_none(part), logic(only), logic(case_), logic(same), logic(any), logic(with),
                    or_none(with), logic(skip), or_none(skip), logic(last), logic(reverse), logic(tail), logic(match)});
}

Cell* port_select(Cell* port, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                  Cell* skip, bool last, bool reverse) {
    return forward(port, "select",
                   {*value, logic(part), or_none(part), logic(only), logic(case_), logic(same), logic(any), logic(with),
                    or_none(with), logic(skip), or_none(skip), logic(last), logic(reverse)});
}

// length? answers a count, or none (-1) for anything else the actor gives.
i32 port_length(Cell* port) {
    Cell* r = forward(port, "length?", {});
    return type_of(r) == T_INTEGER ? get_int(r) : -1;
}

Cell* port_move(Cell* port, Cell* target, Cell* part) {
    return forward(port, "move", {*target, logic(part), or_none(part)});
}

Cell* port_pick(Cell* port, i32, Cell* index) { return forward(port, "pick", {*index}); }
Cell* port_poke(Cell* port, i32, Cell* value, Cell* index) { return forward(port, "poke", {*index, *value}); }
Cell* port_put(Cell* port, Cell* key, Cell* value, bool case_) {
    return forward(port, "put", {*key, *value, logic(case_)});
}
Cell* port_remove(Cell* port, Cell* part, Cell*) { return forward(port, "remove", {logic(part), or_none(part)}); }
Cell* port_reverse(Cell* port, Cell* part, Cell*) { return forward(port, "reverse", {logic(part), or_none(part)}); }

Cell* port_sort(Cell* port, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
                bool stable) {
    return forward(port, "sort",
                   {logic(case_), logic(skip), or_none(skip), logic(comparator), or_none(comparator), logic(part),
                    or_none(part), logic(all), logic(reverse), logic(stable)});
}

Cell* port_swap(Cell* port, Cell* other) { return forward(port, "swap", {*other}); }
Cell* port_take(Cell* port, Cell* part, bool deep, bool last) {
    return forward(port, "take", {logic(part), or_none(part), logic(deep), logic(last)});
}
Cell* port_trim(Cell* port, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    return forward(port, "trim",
                   {logic(head), logic(tail), logic(auto_), logic(lines), logic(all), logic(with), or_none(with)});
}
Cell* port_modify(Cell* port, Cell* field, Cell* value, bool case_) {
    return forward(port, "modify", {*field, *value, logic(case_)});
}
Cell* port_open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return forward(port, "open", {logic(new_), logic(read), logic(write), logic(seek), logic(allow), or_none(allow)});
}
Cell* port_rename(Cell* port, Cell* to) { return forward(port, "rename", {*to}); }

// read: open (with /seek when asked), copy (with /part), close; the copy is the answer.
Cell* port_read(Cell* port, Cell* part, Cell* seek, bool, bool, bool, Cell*) {
    port_open(port, false, false, false, seek != nullptr, nullptr);
    Cell* result = port_copy(port, nullptr, part, false, nullptr);
    forward(port, "close", {});
    return result;
}

// write: open for writing, insert the data once (with /part for an integer length), copy,
// close; the copy is the answer.
Cell* port_write(Cell* port, Cell* data, bool, bool, bool, bool, Cell* part, Cell* seek, Cell*, Cell*) {
    port_open(port, false, false, true, seek != nullptr, nullptr);
    i32 length = part && type_of(part) == T_INTEGER ? get_int(part) : -1;
    port_insert(port, data, length, false, 1, false);
    Cell* result = port_copy(port, nullptr, part, false, nullptr);
    forward(port, "close", {});
    return result;
}

#define KEL_PORT_ACTION(A, fn) set<A>(NativeFirst<A>::call<fn>)

void init_port() {
    TypeRegistration r(T_PORT, T_OBJECT, "port!");
    r.set<A_MAKE>(port_make).set<A_FORM>(port_form).set<A_MOLD>(port_mold);
    r.inherit(A_REFLECT).inherit(A_EVAL_PATH).inherit(A_COMPARE);
    r.KEL_PORT_ACTION(A_APPEND, port_insert).KEL_PORT_ACTION(A_INSERT, port_insert);
    r.KEL_PORT_ACTION(A_CHANGE, port_change);
    r.KEL_PORT_ACTION(A_AT, stack_forward_1<N_AT>).KEL_PORT_ACTION(A_SKIP, stack_forward_1<N_SKIP>);
    r.KEL_PORT_ACTION(A_BACK, stack_forward<N_BACK>).KEL_PORT_ACTION(A_HEAD, stack_forward<N_HEAD>);
    r.KEL_PORT_ACTION(A_HEAD_Q, stack_forward<N_HEAD_Q>).KEL_PORT_ACTION(A_INDEX_Q, stack_forward<N_INDEX_Q>);
    r.KEL_PORT_ACTION(A_NEXT, stack_forward<N_NEXT>).KEL_PORT_ACTION(A_TAIL, stack_forward<N_TAIL>);
    r.KEL_PORT_ACTION(A_TAIL_Q, stack_forward<N_TAIL_Q>);
    r.KEL_PORT_ACTION(A_CLEAR, unary_forward<N_CLEAR>).KEL_PORT_ACTION(A_CREATE, unary_forward<N_CREATE>);
    r.KEL_PORT_ACTION(A_CLOSE, unary_forward<N_CLOSE>).KEL_PORT_ACTION(A_DELETE, unary_forward<N_DELETE>);
    r.KEL_PORT_ACTION(A_QUERY, unary_forward<N_QUERY>).KEL_PORT_ACTION(A_UPDATE, unary_forward<N_UPDATE>);
    r.KEL_PORT_ACTION(A_COPY, port_copy).KEL_PORT_ACTION(A_FIND, port_find).KEL_PORT_ACTION(A_SELECT, port_select);
    r.KEL_PORT_ACTION(A_LENGTH_Q, port_length).KEL_PORT_ACTION(A_MOVE, port_move);
    r.KEL_PORT_ACTION(A_PICK, port_pick).KEL_PORT_ACTION(A_POKE, port_poke).KEL_PORT_ACTION(A_PUT, port_put);
    r.KEL_PORT_ACTION(A_REMOVE, port_remove).KEL_PORT_ACTION(A_REVERSE, port_reverse);
    r.KEL_PORT_ACTION(A_SORT, port_sort).KEL_PORT_ACTION(A_SWAP, port_swap).KEL_PORT_ACTION(A_TAKE, port_take);
    r.KEL_PORT_ACTION(A_TRIM, port_trim).KEL_PORT_ACTION(A_MODIFY, port_modify);
    r.KEL_PORT_ACTION(A_OPEN, port_open).KEL_PORT_ACTION(A_READ, port_read);
    r.KEL_PORT_ACTION(A_RENAME, port_rename).KEL_PORT_ACTION(A_WRITE, port_write);
    register_datatype(r);
}

#undef KEL_PORT_ACTION

}  // namespace

KEL_DATATYPE(T_PORT, init_port);

namespace {

// The scheme at the head of a url's text: a letter, then letters, digits, "+", "-" or ".",
// then ":". Empty when there is none.
std::string url_scheme_text(const Cell* url) {
    std::string out;
    u32 n = string_length(url);
    for (u32 i = 0; i < n; ++i) {
        u32 c = string_char_at(url, i);
        bool letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
        if (c == ':' && i > 0) return out;
        if (!(letter || (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))) break;
        out += char(c);
    }
    return {};
}

// The parts object of a url, pushed: what url-parser/parse-url answers when the library has
// one; until then a copy of system/standard/url-parts with the scheme word and the url as
// `ref`. Anything but an object is script/invalid-arg with the url.
Cell* push_url_parts(Cell* url) {
    Cell* slot = stack_push_slot();
    set_cell(slot, T_NONE);
    Cell parser_word = load_word("url-parser");
    const Cell* parser = word_value_or_null(&parser_word);
    Cell parse_word = load_word("parse-url");
    if (parser && is_object_type(type_of(parser))) {
        Cell p = *parser;
        Cell fn = *object_select_word(&p, &parse_word);
        if (type_of(&fn) == T_FUNCTION) {
            *slot = *call_completed(fn, object_context(&p), parse_word, {*url});
            stack_pop(u32(stack_top() - slot));
            if (!is_object_type(type_of(slot))) raise_error(Err::script_invalid_arg, url);
            return slot;
        }
    }
    std::string scheme = url_scheme_text(url);
    Cell proto = system_member("standard", "url-parts");
    if (scheme.empty() || !is_object_type(type_of(&proto))) raise_error(Err::script_invalid_arg, url);
    copy_object(&proto, slot, false, nullptr, false);
    Cell scheme_word = load_word(scheme.c_str());
    for (auto [name, value] : {std::pair{"scheme", &scheme_word}, std::pair{"ref", url}}) {
        Cell w = load_word(name);
        if (object_find_word(slot, &w) >= 0) *object_select_word(slot, &w) = *value;
    }
    return slot;
}

}  // namespace

Cell* url_open_port(Cell* url, bool open, bool new_, bool read, bool write, bool seek, Cell* allow) {
    Cell* u = stack_push(url);
    Cell* parts = push_url_parts(u);
    Cell* port = stack_push(handler<A_MAKE>(T_PORT)(nullptr, parts, T_PORT));
    if (open) dispatch<A_OPEN>(port, new_, read, write, seek, allow);
    *u = *port;
    stack_pop(u32(stack_top() - u));
    return u;
}

Cell* make_port_actor_handle(Cell* out, const PortActorTable* table) {
    g_actor_tables.push_back(table);
    return make_handle_at(out, i32(g_actor_tables.size()), actor_kind());
}

AnyFn port_native_handler(const Cell* port, u32 action) {
    if (!port || type_of(port) != T_PORT || action < A_APPEND || action > A_WRITE) return nullptr;
    const Cell* actor = port_field(port, PORT_ACTOR);
    if (type_of(actor) != T_HANDLE) return nullptr;
    const PortActorTable* table = actor_table(actor);
    AnyFn fn = table ? table->entries[action - A_APPEND] : nullptr;
    if (!fn) raise_error(Err::access_no_port_action);
    return fn;
}

}  // namespace kel::dt
