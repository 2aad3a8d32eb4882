#pragma once
// File attribute bits: what a folder listing reports for an entry, what the search
// criteria permit, and what a result record stores. The values are the ones the result
// file and the settings file hold, so they never change.
#include <cstdint>

inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;

// The bits a search filter tests.
inline constexpr uint32_t kTestedAttributes = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive | kAttrDirectory;
