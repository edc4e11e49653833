// Binding libraries by name through dlopen.
#include "host/shared_library.h"

#include <dlfcn.h>

#include <vector>

#include "datatypes/string.h"
#include "runtime/errors.h"

namespace kel::host {

bool try_bind_shared_library(const char* soname, std::initializer_list<SharedSymbol> symbols,
                             std::string* error) {
    // Global: a library such a one loads on its own (an engine, a plug-in) resolves against
    // it as it would had we linked it.
    void* lib = ::dlopen(soname, RTLD_NOW | RTLD_GLOBAL);
    if (!lib) {
        const char* why = ::dlerror();
        if (error) *error = why ? why : std::string(soname) + ": cannot be opened";
        return false;
    }
    // Everything is looked up before any slot changes: a library too old for one symbol
    // leaves the table unbound rather than half bound.
    std::vector<void*> found;
    found.reserve(symbols.size());
    for (const SharedSymbol& s : symbols) {
        ::dlerror();
        void* p = ::dlsym(lib, s.name);
        if (!p) {
            if (error) *error = std::string(soname) + ": no symbol " + s.name;
            return false;
        }
        found.push_back(p);
    }
    size_t i = 0;
    for (const SharedSymbol& s : symbols) std::memcpy(s.slot, &found[i++], sizeof(void*));
    // The handle stays open for the life of the process: the bound pointers live as long.
    return true;
}

void bind_shared_library(const char* soname, std::initializer_list<SharedSymbol> symbols) {
    std::string why;
    if (try_bind_shared_library(soname, symbols, &why)) return;
    Cell* text = dt::load_string(reinterpret_cast<const u8*>(why.data()), u32(why.size()), 0);
    rt::raise_error(rt::Err::internal_not_here, text);
}

}  // namespace kel::host
