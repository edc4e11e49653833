// The language-level library's Kel sources, embedded at build time in include order
// (library/boot-order.txt). Start-up evaluates them one after the other.
#pragma once
#include <cstddef>

namespace kel::console {

struct BootSource {
    const char* name;  // path in the source tree, for error reports
    const char* text;  // UTF-8, NUL-terminated
    size_t length;     // bytes, without the NUL
};

// g_boot_source_count entries, then one entry of nulls.
extern const BootSource g_boot_sources[];
extern const size_t g_boot_source_count;

}  // namespace kel::console
