// The tracer: a function that receives the evaluator's events while `do/trace` runs.
//
// Every hook tests `g_trace.active` first, so an evaluation without a tracer pays one
// predictable branch per event site.
#pragma once
#include "runtime/cell.h"

namespace kel::ev {

enum TraceEvent : u32 {
    EV_INIT = 0x1,
    EV_END = 0x2,
    EV_PROLOG = 0x4,
    EV_EPILOG = 0x8,
    EV_ENTER = 0x10,
    EV_EXIT = 0x20,
    EV_OPEN = 0x40,
    EV_RETURN = 0x80,
    EV_FETCH = 0x100,
    EV_PUSH = 0x200,
    EV_SET = 0x400,
    EV_CALL = 0x800,
    EV_ERROR = 0x1000,
    EV_THROW = 0x2000,
    EV_CATCH = 0x4000,
    EV_EXPR = 0x8000,
};
constexpr u32 TRACE_ALL_EVENTS = 0x1FFFF;

struct TraceState {
    bool on = false;      // a tracer is installed
    bool active = false;  // events are reported right now
    u32 locals = 0;       // cells of the tracer's /local and the words after it
    u32 mask = 0;
    Cell tracer{T_NONE, 0, 0, 0};
};
extern TraceState g_trace;

// Reports one event (a no-op unless the event's bit is in the mask). `code` is a block cell
// or null, `position` a cell index in it (-1 when none); `value` and `reference` may be null.
void trace_fire(u32 event, const Cell* code, i32 position, const Cell* value, const Cell* reference);

// trace-events-mask: the events a tracer asks for (a block of event words leading its body).
u32 trace_events_mask(const Cell* tracer);

}  // namespace kel::ev
