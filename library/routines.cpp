// The library's low-level routines: registration and binding.
#include "library/routines.h"

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "lexer/load.h"
#include "runtime/errors.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::lib {

namespace {

std::vector<const RoutineDef*>& registry() {
    static std::vector<const RoutineDef*> defs;
    return defs;
}

}  // namespace

Cell* member_slot(const char* path) {
    std::string text(path);
    size_t slash = text.find('/');
    Cell word = dt::load_word(text.substr(0, slash).c_str());
    Cell* slot = dt::get_word_value_ptr(&word);
    while (slash != std::string::npos) {
        size_t next = text.find('/', slash + 1);
        std::string name = text.substr(slash + 1, next == std::string::npos ? std::string::npos : next - slash - 1);
        Cell field = dt::load_word(name.c_str());
        if (type_of(slot) == T_MAP) {  // a registry such as system/codecs, keyed by words
            Cell* found = dt::handler<A_EVAL_PATH>(T_MAP)(slot, &field, nullptr, nullptr, nullptr, nullptr, 0, false,
                                                          true, false);
            if (type_of(found) == T_NONE) rt::raise_error(rt::Err::script_invalid_path, &word, &field);
            slot = found;
            slash = next;
            continue;
        }
        if (!dt::is_object_type(type_of(slot))) rt::raise_error(rt::Err::script_invalid_path, &word, &field);
        Node ctx = dt::object_context(slot);
        i32 index = dt::find_word_in_context(ctx, field.data2, true);
        if (index < 0) rt::raise_error(rt::Err::script_invalid_path, &word, &field);
        slot = dt::context_values(ctx) + index;
        slash = next;
    }
    return slot;
}

RoutineRegistrar::RoutineRegistrar(const RoutineDef& def) { registry().push_back(&def); }

RoutineEntry routine_entry(i64 code) {
    auto& defs = registry();
    return (code >= 1 && code <= i64(defs.size())) ? defs[size_t(code - 1)]->entry : nullptr;
}

const RoutineDef* routine_def(i64 code) {
    auto& defs = registry();
    return (code >= 1 && code <= i64(defs.size())) ? defs[size_t(code - 1)] : nullptr;
}

// The interpreter finds the bodies through its hook; a routine value cannot exist before
// static initialisation ends.
const bool g_entry_installed = (ev::g_routine_entry = routine_entry, true);

u32 routine_count() { return u32(registry().size()); }

void install_routines(const char* source, bool before) {
    auto& defs = registry();
    for (size_t i = 0; i < defs.size(); ++i) {
        const RoutineDef& def = *defs[i];
        bool global = std::strchr(def.target, '/') == nullptr;
        if (global != before || std::strcmp(def.source, source) != 0) continue;
        rt::RootGuard spec;
        lex::load_utf8(def.spec, std::strlen(def.spec), &spec.cell);
        Cell* routine = dt::make_routine_cell(&spec.cell, nullptr, u32(i + 1), def.returns, false);
        if (global) {
            Cell word = dt::load_word(def.target);
            dt::set_word_value(&word, routine);
        } else {
            Cell value = *routine;
            *member_slot(def.target) = value;
        }
        rt::stack_pop(1);
    }
}

}  // namespace kel::lib
