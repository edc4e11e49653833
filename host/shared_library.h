// Libraries opened on first use instead of at start-up. Linking libcurl (with its TLS and
// authentication stack) and libtiff made the dynamic loader map and relocate some forty
// libraries before the first line ran, about half of every start-up; most programs never
// fetch a URL or touch a TIFF.
//
// A module keeps a table of function pointers typed from the library's own header and binds
// it once:
//
//     struct Api { decltype(&TIFFClose) close; ... };
//     static Api api;
//     bind_shared_library("libtiff.so.6", {{"TIFFClose", &api.close}, ...});
#pragma once
#include <cstring>
#include <initializer_list>
#include <string>

namespace kel::host {

// One symbol to bind: its name and the function pointer that receives it.
struct SharedSymbol {
    const char* name;
    void* slot;  // the address of a function pointer
    template <class F>
    SharedSymbol(const char* n, F** s) : name(n), slot(s) {}
};

// Opens the library by its soname (the major version the headers describe) and fills every
// slot. False, with the reason in `error`, when the library cannot be opened or lacks a
// symbol; the slots are then left as they were. Raises nothing.
bool try_bind_shared_library(const char* soname, std::initializer_list<SharedSymbol> symbols,
                             std::string* error);

// The same, but a failure raises internal/not-here naming the library and the reason.
void bind_shared_library(const char* soname, std::initializer_list<SharedSymbol> symbols);

}  // namespace kel::host
