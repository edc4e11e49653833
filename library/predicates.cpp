// The type predicates: one routine per datatype (an exact test of the value's type id) and
// one per typeset family (a bit test against the typeset the family's global word holds
// at the time of the call).
#include "datatypes/context.h"
#include "library/routines.h"
#include "runtime/errors.h"

namespace kel::lib {

namespace {

constexpr const char* BASE_SOURCE = "library/base.kel";
constexpr const char* TYPE_SPEC = "\"Returns true if the value is this type\" value [any-type!] return: [logic!]";

template <u32 Type>
i64 is_type(Cell* args) {
    return type_of(&args[0]) == Type;
}

#define KEL_TYPE_PREDICATE(name, type) \
    const RoutineDef KEL_ROUTINE_CAT(type_predicate_, __LINE__){BASE_SOURCE, name, TYPE_SPEC, is_type<type>, RETURNS_LOGIC}; \
    KEL_ROUTINE(KEL_ROUTINE_CAT(type_predicate_, __LINE__))

KEL_TYPE_PREDICATE("bitset?", T_BITSET);
KEL_TYPE_PREDICATE("binary?", T_BINARY);
KEL_TYPE_PREDICATE("block?", T_BLOCK);
KEL_TYPE_PREDICATE("char?", T_CHAR);
KEL_TYPE_PREDICATE("email?", T_EMAIL);
KEL_TYPE_PREDICATE("file?", T_FILE);
KEL_TYPE_PREDICATE("float?", T_FLOAT);
KEL_TYPE_PREDICATE("get-path?", T_GET_PATH);
KEL_TYPE_PREDICATE("get-word?", T_GET_WORD);
KEL_TYPE_PREDICATE("hash?", T_HASH);
KEL_TYPE_PREDICATE("integer?", T_INTEGER);
KEL_TYPE_PREDICATE("issue?", T_ISSUE);
KEL_TYPE_PREDICATE("lit-path?", T_LIT_PATH);
KEL_TYPE_PREDICATE("lit-word?", T_LIT_WORD);
KEL_TYPE_PREDICATE("logic?", T_LOGIC);
KEL_TYPE_PREDICATE("map?", T_MAP);
KEL_TYPE_PREDICATE("none?", T_NONE);
KEL_TYPE_PREDICATE("pair?", T_PAIR);
KEL_TYPE_PREDICATE("paren?", T_PAREN);
KEL_TYPE_PREDICATE("path?", T_PATH);
KEL_TYPE_PREDICATE("percent?", T_PERCENT);
KEL_TYPE_PREDICATE("refinement?", T_REFINEMENT);
KEL_TYPE_PREDICATE("set-path?", T_SET_PATH);
KEL_TYPE_PREDICATE("set-word?", T_SET_WORD);
KEL_TYPE_PREDICATE("string?", T_STRING);
KEL_TYPE_PREDICATE("tag?", T_TAG);
KEL_TYPE_PREDICATE("time?", T_TIME);
KEL_TYPE_PREDICATE("typeset?", T_TYPESET);
KEL_TYPE_PREDICATE("tuple?", T_TUPLE);
KEL_TYPE_PREDICATE("unset?", T_UNSET);
KEL_TYPE_PREDICATE("url?", T_URL);
KEL_TYPE_PREDICATE("word?", T_WORD);
KEL_TYPE_PREDICATE("image?", T_IMAGE);
KEL_TYPE_PREDICATE("date?", T_DATE);
KEL_TYPE_PREDICATE("money?", T_MONEY);
KEL_TYPE_PREDICATE("ref?", T_REF);
KEL_TYPE_PREDICATE("point2D?", T_POINT2D);
KEL_TYPE_PREDICATE("point3D?", T_POINT3D);
KEL_TYPE_PREDICATE("handle?", T_HANDLE);
KEL_TYPE_PREDICATE("error?", T_ERROR);
KEL_TYPE_PREDICATE("action?", T_ACTION);
KEL_TYPE_PREDICATE("native?", T_NATIVE);
KEL_TYPE_PREDICATE("datatype?", T_DATATYPE);
KEL_TYPE_PREDICATE("function?", T_FUNCTION);
KEL_TYPE_PREDICATE("object?", T_OBJECT);
KEL_TYPE_PREDICATE("op?", T_OP);
KEL_TYPE_PREDICATE("routine?", T_ROUTINE);
KEL_TYPE_PREDICATE("vector?", T_VECTOR);

// The typeset families, by the global word each reads.
constexpr const char* TYPESET_WORDS[] = {
    "any-list!", "any-block!", "any-function!", "any-object!", "any-path!", "any-string!", "any-word!",
    "series!",   "number!",    "immediate!",    "scalar!",     "all-word!", "any-point!",  "planar!",
};

template <u32 Family>
i64 in_typeset(Cell* args) {
    Cell word = dt::load_word(TYPESET_WORDS[Family]);
    const Cell* ts = dt::word_value_or_null(&word);
    // A word set to anything but a typeset admits nothing.
    return ts && type_of(ts) == T_TYPESET && rt::typeset_has(ts, type_of(&args[0]));
}

#define KEL_TYPESET_PREDICATE(name, family, spec) \
    const RoutineDef KEL_ROUTINE_CAT(typeset_predicate_, __LINE__){BASE_SOURCE, name, spec, in_typeset<family>, RETURNS_LOGIC}; \
    KEL_ROUTINE(KEL_ROUTINE_CAT(typeset_predicate_, __LINE__))
#define KEL_TYPESET_SPEC(family) "\"Returns true if the value is any type of " family "\" value [any-type!] return: [logic!]"

KEL_TYPESET_PREDICATE("any-list?", 0, KEL_TYPESET_SPEC("any-list"));
KEL_TYPESET_PREDICATE("any-block?", 1, KEL_TYPESET_SPEC("any-block"));
KEL_TYPESET_PREDICATE("any-function?", 2, KEL_TYPESET_SPEC("any-function"));
KEL_TYPESET_PREDICATE("any-object?", 3, KEL_TYPESET_SPEC("any-object"));
KEL_TYPESET_PREDICATE("any-path?", 4, KEL_TYPESET_SPEC("any-path"));
KEL_TYPESET_PREDICATE("any-string?", 5, KEL_TYPESET_SPEC("any-string"));
KEL_TYPESET_PREDICATE("any-word?", 6, KEL_TYPESET_SPEC("any-word"));
KEL_TYPESET_PREDICATE("series?", 7, KEL_TYPESET_SPEC("series"));
KEL_TYPESET_PREDICATE("number?", 8, KEL_TYPESET_SPEC("number"));
KEL_TYPESET_PREDICATE("immediate?", 9, KEL_TYPESET_SPEC("immediate"));
KEL_TYPESET_PREDICATE("scalar?", 10, KEL_TYPESET_SPEC("scalar"));
KEL_TYPESET_PREDICATE("all-word?", 11, KEL_TYPESET_SPEC("all-word"));
KEL_TYPESET_PREDICATE("any-point?", 12, KEL_TYPESET_SPEC("any-point"));
KEL_TYPESET_PREDICATE("planar?", 13, KEL_TYPESET_SPEC("planar"));

}  // namespace

}  // namespace kel::lib
