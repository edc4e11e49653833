// What the program runs on: the system's name, the processor family and the kernel's
// version, for `os-info`.
#pragma once
#include <string>

namespace kel::host {

struct OsInfo {
    std::string name;  // the distribution's name (PRETTY_NAME of os-release), else "Linux"
    std::string arch;  // x86-64, x86-32, ARM64, ARM, IA-64 or Unknown
    int major = 0, minor = 0, patch = 0;  // the kernel release
    long build = 0;                       // the kernel's build number ("#N" of its version)
};

OsInfo os_info();

// The release numbers at the head of a kernel release text ("6.1.0-18-amd64": 6 1 0).
void parse_release(const std::string& release, int* major, int* minor, int* patch);
// The processor family word for a machine name of uname.
std::string arch_word(const std::string& machine);

}  // namespace kel::host
