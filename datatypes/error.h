// error!: an object with ten fixed fields that describes one failure, and the error catalog
// that gives every category its number and display name and every id its message template.
//
// Fields, in order: code (category index × 100 + id index − 2), type (the category word),
// id (the id word of its category), arg1, arg2, arg3, near (where the evaluator was), where
// (the function that raised it), stack (an integer! call-stack depth when raised, a block of
// calls once captured) and files (the source files in use, or none).
//
// The catalog is an object with one object per category (throw, note, syntax, script, math,
// access, reserved1, reserved2, user, internal); a category's words are code, type and its
// ids in order, its values the base number, the display name and the message templates (a
// string, or a block of strings and the words :arg1 :arg2 :arg3).
#pragma once
#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace kel::dt {

enum ErrorField : u32 {
    ERR_CODE = 0,
    ERR_TYPE = 1,
    ERR_ID = 2,
    ERR_ARG1 = 3,
    ERR_ARG2 = 4,
    ERR_ARG3 = 5,
    ERR_NEAR = 6,
    ERR_WHERE = 7,
    ERR_STACK = 8,
    ERR_FILES = 9,
    ERR_FIELD_COUNT = 10,
};

// Builds the catalog objects and the standard error prototype from runtime/error_catalog.def
// and installs the error makers of the runtime (raise_error then builds full error! values).
// Needs the words and the stacks. Idempotent.
void error_catalog_init();

// Installs raise_error's error maker, id reader, locator and uncaught-error printer (done by
// error_catalog_init).
void error_makers_install();

// The catalog (the object that becomes system/catalog/errors) and the prototype every error
// copies (system/standard/error). Both stay reachable through g_error_roots: a block the
// collector marks, [0] the catalog, [1] the prototype.
extern Node g_error_roots;
Cell* error_catalog();
Cell* standard_error();

// system/state/stack-trace (index 2) and system/state/source-files (index 3), read through
// this hook once the system object exists; null answers count as none.
extern const Cell* (*g_system_state_field)(u32 index);

// The value cell of field f of an error.
Cell* error_field(const Cell* err, u32 f);

// create-error: a new error! for a catalog entry with up to three arguments, pushed.
Cell* create_error(rt::Err e, const Cell* a1, const Cell* a2, const Cell* a3);

// error-type-symbol, error-id-symbol: the symbols of the type and id fields (0 when they do
// not hold words).
u32 error_type_symbol(const Cell* err);
u32 error_id_symbol(const Cell* err);
// error-where: the where field copied into `out` unless it is none; answers its type.
u32 error_where(const Cell* err, Cell* out);
constexpr u32 error_stack_field_index() { return ERR_STACK; }
// error-capture-stack: a stack field holding a depth becomes the block of the calls up to
// it; the source files are copied into files.
void error_capture_stack(Cell* err);

// error/form: the report the console prints, lines separated by LF, no LF at the end.
i32 error_form(Cell* err, Cell* out, Cell* part, i32 limit);
// fill-error-message: the message of a block template, its elements separated by spaces.
i32 fill_error_message(const Cell* tpl, Cell* out, Cell* err, i32 limit);
// The report as a new string! on the stack (what an uncaught error prints).
Cell* push_error_report(const Cell* err);

Cell* error_make(Cell* proto, Cell* spec, u32 type);

}  // namespace kel::dt
