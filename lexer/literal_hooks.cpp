// The literal makers: empty until their datatypes install them.
#include "lexer/literal_hooks.h"

namespace kel::lex {

void (*g_make_pair)(Cell*, i32, i32) = nullptr;
void (*g_make_point2d)(Cell*, double, double) = nullptr;
void (*g_make_point3d)(Cell*, double, double, double) = nullptr;
void (*g_make_tuple)(Cell*, const u8*, u32) = nullptr;
void (*g_make_date)(Cell*, const DateFields&) = nullptr;
bool (*g_make_money)(Cell*, const MoneyText&) = nullptr;
bool (*g_make_map)(Cell*) = nullptr;

}  // namespace kel::lex
