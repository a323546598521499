// The canonical walk of a keyboard-layout table set: one text line per scan
// code (with its virtual key and the characters of its eight modifier
// combinations), one per key name, and a summary line. It reads the records
// through their stored pointers, so it walks whatever is mapped in memory:
// the loaded library under Windows, or tables built in a host test. The
// records are read in one of two layouts: pointer fields of 4 bytes (the
// 32-bit x86 image) or of 8 bytes (x86-64, ARM64, and the WOW64 image,
// whose 8-byte fields a 32-bit process reads as a 4-byte address and a zero
// upper half).
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace table_walk {

// The bytes the walk may read. A pointer or list that leads outside them
// stops the walk with a WalkError instead of reading stray memory.
struct Image {
    const unsigned char* begin;
    const unsigned char* end;
};

class WalkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The width of the records' pointer fields, in bytes.
enum class PointerWidth : std::size_t { Narrow = 4, Wide = 8 };

// The walk of the KBDTABLES record at `tables`, LF line ends.
std::string canonical_walk(const void* tables, Image image, PointerWidth width);

}  // namespace table_walk
