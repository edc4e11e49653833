// The file-system layer over POSIX: paths are OS byte strings (UTF-8 as a rule), sizes and
// offsets 64-bit, times to the nanosecond. Nothing here knows Kel values; callers decide what
// a failure means (errno is left as the OS set it).
#pragma once
#include <string>
#include <vector>

#include "runtime/types.h"

namespace kel::host::fs {

// ---- reading ------------------------------------------------------------------------------

// A descriptor open for reading, or -1. A directory is refused (EISDIR): reading one as a
// file is an error, not an empty file.
int open_read(const std::string& path);
// The size of a regular file with content, or -1 for what must be read to its end to be
// measured (pipes, devices, /proc files that report 0).
i64 known_size(int fd);
// Reads up to n bytes at `offset` into buf; stops early only at the end of the file (a file
// cut while being read gives what was there). Answers the bytes read, or -1 on an error.
i64 read_at(int fd, u8* buf, u64 n, u64 offset);
// Reads a stream in one pass to its end: `skip` bytes dropped, then at most `limit` bytes
// (negative: no limit) appended to out. False on a read error.
bool read_stream(int fd, u64 skip, i64 limit, std::vector<u8>& out);
void close_fd(int fd);
// Asks for large pages behind a large buffer about to be filled: far fewer page faults.
void prepare_large_buffer(void* p, u64 n);

// ---- writing ------------------------------------------------------------------------------

// A descriptor open for writing (created 0666 less the umask), truncated unless `keep`; -1.
int open_write(const std::string& path, bool keep);
bool seek_to(int fd, u64 offset);
bool seek_end(int fd);
// Writes all n bytes, resuming after interrupts and short writes.
bool write_all(int fd, const u8* data, u64 n);
// close, reporting a failure (data a delayed write could not store).
bool close_checked(int fd);

// ---- folders and names --------------------------------------------------------------------

struct DirEntry {
    std::string name;
    bool is_dir;
};
// The entries of a folder but "." and "..", sorted by name (bytes); false when it cannot be
// listed. A link to a folder counts as a folder.
bool list_dir(const std::string& path, std::vector<DirEntry>& out);
bool make_dir(const std::string& path);
bool remove_dir(const std::string& path);
bool remove_file(const std::string& path);
// Renames; never replaces an existing target (false, EEXIST).
bool rename_no_replace(const std::string& from, const std::string& to);
bool exists(const std::string& path);

struct Status {
    u64 size;
    bool is_dir;
    bool is_regular;
    i64 mtime_seconds;  // since 1970-01-01 UTC
    i32 mtime_nanoseconds;
};
bool status(const std::string& path, Status& out);

}  // namespace kel::host::fs
