// Self-registration of datatype inits.
//
// Each datatype module ends with KEL_DATATYPE(type id, init): the registry runs the inits
// in the fixed order of type registration, whatever order the modules were linked in.
#pragma once
#include "datatypes/registry.h"

namespace kel::dt {

using DatatypeInit = void();

struct DatatypeRegistrar {
    DatatypeRegistrar(u32 type, DatatypeInit* init);
};

#define KEL_DATATYPE(type, init) static ::kel::dt::DatatypeRegistrar kel_datatype_registrar_##init(type, init)

// The registry's fixed facts about a type id (also for types not yet registered).
u32 datatype_parent(u32 type);
const char* datatype_name(u32 type);
// True when the type's own module is linked in; otherwise the type only has its name and
// its parent's actions, and values of it would mold and behave as the parent's.
bool datatype_built(u32 type);
// event! comes later than the others, once the start-up reaches it.
void register_event_datatype();

}  // namespace kel::dt
