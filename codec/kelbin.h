// KELBIN: the binary serialisation of values.
//
// One binary holds a header ("KELBIN", version 2, flags), the root count, the size of the
// records area, an optional symbol table and the records. Records come in two forms: the
// compact form (LEB128 integers and prefix bytes) and the standard form (32-bit words).
// Series, objects and functions met a second time are written as a reference path to their
// first occurrence, so shared series and cycles come back as they were.
//
// The encoder walks the value without allocating in the arena until it makes the result;
// the decoder checks every count and size against the bytes that remain before it
// allocates anything, so a malformed binary raises script/kb-invalid-record with the 1-based
// position of the fault instead of reading or allocating beyond what it holds.
#pragma once
#include <cstddef>

#include "runtime/cell.h"

namespace kel::codec {

// Header flags.
constexpr u8 KB_COMPACT = 1;
constexpr u8 KB_CRUSHED = 2;
constexpr u8 KB_SYMBOLS = 4;

// Serialises `value` (one root) and pushes the binary! on the argument stack. Values that
// have no record raise access/no-codec.
Cell* kelbin_encode(const Cell* value, bool compact);

// Decodes every root of the binary at `data` (`length` bytes) and appends the values to
// `target`, a rooted block cell. `arg` is the value named by script/invalid-data when the
// header is not a KELBIN one. The bytes are read where they are: the collector is held
// while the decoder runs, so a series buffer holding them stays put.
void kelbin_decode(const u8* data, size_t length, const Cell* target, const Cell* arg);

// Whether values of the type have a record in this build: false for the types refused by
// the format and for the types whose datatype is not built yet.
bool kelbin_type_supported(u32 type);

}  // namespace kel::codec
