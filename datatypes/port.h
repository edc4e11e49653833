// port!: native actors. A scheme whose actor is a handle! made here has the actions of its
// ports from append to write answered by a table of C++ handlers (each with its action's
// signature) instead of the functions of an actor object.
#pragma once
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace kel::dt {

struct PortActorTable {
    AnyFn entries[A_WRITE - A_APPEND + 1] = {};

    template <int A>
    PortActorTable& set(typename ActionSig<A>::type fn) {
        static_assert(A >= A_APPEND && A <= A_WRITE, "native actors answer the actions from append to write");
        entries[A - A_APPEND] = reinterpret_cast<AnyFn>(fn);
        return *this;
    }
};

// url-open-port: a port! made from the url's parts (url-parser/parse-url; until the library
// has it, the scheme and the url as `ref`), opened with the refinements given when `open`.
// Pushed on the stack. script/invalid-arg for a url with no parts; the port's own errors
// (access/unknown-scheme ...) pass through.
Cell* url_open_port(Cell* url, bool open, bool new_, bool read, bool write, bool seek, Cell* allow);

// Registers a table that lives as long as the process and makes the handle! that names it
// into `out` (what register-scheme/native takes).
Cell* make_port_actor_handle(Cell* out, const PortActorTable* table);

// For a port whose actor is a handle! and an action from append to write: the handler of its
// table, access/no-port-action when the table has none (or the handle names no table). Null
// for any other value or action.
AnyFn port_native_handler(const Cell* port, u32 action);

}  // namespace kel::dt
