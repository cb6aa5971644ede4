#pragma once
// Structural check of a level-5 MAT file image, made before the file is handed to matio.
// matio trusts the sizes, counts and nesting a file declares (it recurses once per level
// and allocates what a header asks for), so a damaged or hostile file must be refused
// here, with a message that says what is wrong, rather than reach it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace host::mat {

// Limits on what a file may declare. A parameter file holds a few dozen small arrays and
// the largest waveform file about four million doubles; these are far above both, and low
// enough that a small compressed file cannot make the reader allocate without bound.
inline constexpr std::uint64_t kMaxElements = 1ULL << 31;  // elements of one array
inline constexpr int kMaxDepth = 64;                       // struct and cell nesting
inline constexpr std::size_t kMaxArrays = 100'000;         // arrays in the whole file
inline constexpr std::size_t kMaxBytes = std::size_t{256} << 20;  // file, or one variable inflated
// Numbers and characters of the whole file once read, counted as doubles.
inline constexpr std::uint64_t kMaxDecodedBytes = std::uint64_t{1} << 30;

struct Layout {
    // Top-level variables in file order. An empty name is the subsystem data block that
    // some writers append; it holds no user variable.
    std::vector<std::string> names;
    // Arrays in each variable, itself and everything nested in it: what a reader must have
    // converted when it is done with the variable.
    std::vector<std::size_t> arrays;
};

// Walks every variable (inflating compressed ones) and throws host::Error naming `path`
// for a header that is not level 5, a truncated or overlapping element, impossible sizes,
// nesting deeper than kMaxDepth, or a class we do not read (sparse, objects, functions).
Layout checkLayout(std::span<const std::uint8_t> image, const std::string& path);

}  // namespace host::mat
