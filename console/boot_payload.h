// The boot payload: the embedded library sources, loaded at build time and serialised as
// one compact KELBIN binary (a block holding one block of values per source, in include
// order). The build links it into `kel` only; a program without it (the unit tests, the
// fuzz targets, the tool that makes it) loads the sources from their text.
#pragma once
#include <cstddef>

#include "runtime/types.h"

namespace kel::console {

struct BootPayload {
    const u8* data;
    size_t size;
};

// Null data until the payload's translation unit registers it, before main runs.
extern BootPayload g_boot_payload;

struct BootPayloadRegistrar {
    BootPayloadRegistrar(const u8* data, size_t size) { g_boot_payload = {data, size}; }
};

}  // namespace kel::console
