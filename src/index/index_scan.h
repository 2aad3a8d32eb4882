#pragma once
// Finding a mask's fixed bytes in the packed name column ("\0" name "\0" name ...).
//
// A mask's literal is its longest run of plain bytes, with a NUL before it when the run
// starts the mask and a NUL after it when it ends the mask, so "*.txt" looks for ".txt\0"
// and "report*" for "\0report". Every name the mask matches holds its literal (within
// "\0" name "\0"), so the entries where the literal occurs are the only candidates; each
// is then tested in full. ASCII letters match either case, as in masks.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "index/index_format.h"

struct TLiteral {
  std::string Bytes;  // lower-case for ASCII letters
  std::string Fold;   // per byte: 0x20 for an ASCII letter (either case matches), else 0
};

// The literal of one mask (as SplitMasks gives it, and TMask accepted); none when the mask
// has no plain byte.
std::optional<TLiteral> LiteralOf(std::string_view mask);

// Appends to found every position p in [begin, end) where literal occurs in text
// (reading at most up to text + size), in rising order, and adds the 32-byte chunks of
// [begin, end) to sum (begin a multiple of 32; end a multiple of 32 or size).
void ScanLiteral(const char* text, size_t size, size_t begin, size_t end, const TLiteral& literal,
                 std::vector<uint64_t>& found, index_format::TChecksum& sum);
