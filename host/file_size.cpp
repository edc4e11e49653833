// File sizes through open and fstat.
#include "host/file_size.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace kel::host {

int64_t file_size_of(const char* path, uint32_t length) {
    // A NUL would cut the name and open another file.
    if (length == 0 || std::memchr(path, 0, length) != nullptr) return -1;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    int64_t size = -1;
    if (fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) size = int64_t(st.st_size);
    close(fd);
    return size;
}

}  // namespace kel::host
