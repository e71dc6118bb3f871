// One file of a binout family: its read-only mapping, the widths from its
// header and the cursor used while its symbol table is walked.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "file/source.hpp"
#include "results/lsda_error.hpp"

namespace tarvex::results {

// An unsigned integer of `width` bytes (1, 2, 4 or 8) from the start of
// `p[0..n)` in the given byte order; nothing when the slice is shorter than
// `width` or the width is not one of the four.
std::optional<std::uint64_t> read_int(const unsigned char* p, std::uint64_t n, unsigned width, bool little) noexcept;

struct Diskfile {
    SourcePtr source;                 // keeps the mapping alive
    const unsigned char* data = nullptr;
    std::uint64_t len = 0;
    std::uint64_t cursor = 0;         // next read_value position (indexing only)
    std::uint64_t variable_fixed = 0; // lengthsize + offsetsize + typesize
    std::uint64_t data_head = 0;      // commandsize + lengthsize + typesize + 1
    unsigned lengthsize = 0, offsetsize = 0, commandsize = 0, typesize = 0;
    bool little = true;

    // Reads an unsigned integer of `width` bytes at the cursor and advances.
    LsdaResult<std::uint64_t> read_value(unsigned width);
    // One byte at the cursor (a command byte), advancing.
    LsdaResult<std::uint8_t> read_byte();
};

}  // namespace tarvex::results
