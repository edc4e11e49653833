// Files and folders for Kel values: the file! actions (read, write, query, delete, rename),
// folder listings, and helpers other modules call with a file! value. Built on host/fs.h.
//
// Every read opens, reads whole (or a part) and closes; every write opens, writes and
// closes. A name holding NUL never reaches the OS: it fails like a missing file.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::host {

// The whole content of the file a file! value names, into `out`. False when it cannot be
// read (missing, a folder, no permission, a NUL in the name); raises nothing.
bool read_file_bytes(const Cell* file, std::vector<u8>& out);

// The bytes a decoder reads from its source, as a binary! pushed on the stack: a binary! as
// it is, a file! read whole, a url! read as binary through its read action (HTTP, or the
// port of its scheme; text a scheme answers is taken as UTF-8). Raises what the read
// raises (access/cannot-open with the file, access/no-connect with the url);
// script/invalid-data for a source of any other kind or a scheme answering something else.
Cell* push_source_bytes(Cell* source);

// The OS path of a file! value; a name holding NUL raises access/cannot-open with the file.
std::string os_path_of(const Cell* file);

// True when the path names a folder by its text: a final "/" or "\", ".", "..", or a
// final "/." or "/..".
bool dir_path_q(const Cell* file);

// The size in bytes of the file named (64-bit), or nothing for a folder (by name or on
// disk) or a missing file.
std::optional<u64> file_size(const Cell* file);

// Pushes a new file! for an OS path (bytes that are no UTF-8 kept as raw bytes), with a
// final "/" when `folder`.
Cell* push_file_name(const std::string& name, bool folder = false);

// Whether anything exists under the name; make one folder (its parent must exist).
bool path_exists(const Cell* file);
bool make_folder(const Cell* file);

// A block! of file! values for the folder's entries, sorted by name, folders with a final
// "/"; pushed on the argument stack. Raises access/cannot-open when it cannot be listed.
Cell* push_folder_listing(Cell* folder);

// The lines of UTF-8 bytes as a block! of strings pushed on the stack: cut at each LF, a
// CR right before it dropped, a last line without LF kept; no bytes give an empty block.
Cell* push_split_lines(const u8* bytes, u64 n);

}  // namespace kel::host
