// os-info over uname and /etc/os-release.
#include "host/os_info.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace kel::host {

namespace {

// PRETTY_NAME of an os-release file, unquoted; empty when there is none.
std::string pretty_name(const char* file) {
    std::ifstream f(file);
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
        std::string v = line.substr(12);
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
        return v;
    }
    return {};
}

}  // namespace

void parse_release(const std::string& release, int* major, int* minor, int* patch) {
    int* parts[3] = {major, minor, patch};
    for (int* p : parts) *p = 0;
    size_t i = 0;
    for (int k = 0; k < 3; ++k) {
        if (i >= release.size() || release[i] < '0' || release[i] > '9') return;
        long v = 0;
        while (i < release.size() && release[i] >= '0' && release[i] <= '9') {
            if (v < 1000000) v = v * 10 + (release[i] - '0');
            ++i;
        }
        *parts[k] = int(v);
        if (i >= release.size() || release[i] != '.') return;
        ++i;
    }
}

std::string arch_word(const std::string& m) {
    if (m == "x86_64" || m == "amd64") return "x86-64";
    if (m.size() == 4 && m[0] == 'i' && m.substr(2) == "86") return "x86-32";
    if (m == "aarch64" || m == "arm64") return "ARM64";
    if (m.rfind("arm", 0) == 0) return "ARM";
    if (m == "ia64") return "IA-64";
    return "Unknown";
}

OsInfo os_info() {
    OsInfo info;
    struct utsname u {};
    if (::uname(&u) == 0) {
        parse_release(u.release, &info.major, &info.minor, &info.patch);
        info.arch = arch_word(u.machine);
        const char* hash = std::strchr(u.version, '#');
        if (hash) info.build = std::strtol(hash + 1, nullptr, 10);
    } else {
        info.arch = "Unknown";
    }
    info.name = pretty_name("/etc/os-release");
    if (info.name.empty()) info.name = pretty_name("/usr/lib/os-release");
    if (info.name.empty()) info.name = "Linux";
    return info;
}

}  // namespace kel::host
