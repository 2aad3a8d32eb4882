#include "index/index_scan.h"

#include <immintrin.h>

#include <cstring>

using namespace index_format;

namespace {

bool IsAsciiLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Whether literal occurs at p (all of it readable).
bool MatchesAt(const unsigned char* p, const TLiteral& literal) {
  const size_t n = literal.Bytes.size();
  for (size_t i = 0; i < n; ++i)
    if ((p[i] | static_cast<unsigned char>(literal.Fold[i])) != static_cast<unsigned char>(literal.Bytes[i]))
      return false;
  return true;
}

void ScanScalar(const unsigned char* text, size_t size, size_t from, size_t end, const TLiteral& literal,
                std::vector<uint64_t>& found) {
  const size_t n = literal.Bytes.size();
  for (size_t p = from; p < end && p + n <= size; ++p)
    if (MatchesAt(text + p, literal)) found.push_back(p);
}

// Compares 32 positions at once on the literal's first and last bytes, then checks the
// bytes between for each position where both agree; adds each 32-byte chunk read at the
// first byte to the checksum's lanes. Returns where it stopped.
__attribute__((target("avx2"))) size_t ScanAvx2(const unsigned char* text, size_t size, size_t begin, size_t end,
                                                 const TLiteral& literal, std::vector<uint64_t>& found,
                                                 TChecksum& sum) {
  const size_t n = literal.Bytes.size();
  const __m256i first = _mm256_set1_epi8(static_cast<char>(literal.Bytes[0]));
  const __m256i firstFold = _mm256_set1_epi8(literal.Fold[0]);
  const __m256i last = _mm256_set1_epi8(static_cast<char>(literal.Bytes[n - 1]));
  const __m256i lastFold = _mm256_set1_epi8(literal.Fold[n - 1]);
  __m256i a = _mm256_setzero_si256(), b = _mm256_setzero_si256();
  size_t i = begin;
  uint64_t chunks = 0;
  for (; i + 32 <= end && i + n - 1 + 32 <= size; i += 32) {
    const __m256i head = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
    const __m256i tail = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i + n - 1));
    a = _mm256_add_epi64(a, head);
    b = _mm256_add_epi64(b, a);
    ++chunks;
    const __m256i hit = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(head, firstFold), first),
                                         _mm256_cmpeq_epi8(_mm256_or_si256(tail, lastFold), last));
    uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(hit));
    while (mask != 0) {
      const size_t p = i + static_cast<size_t>(__builtin_ctz(mask));
      if (n <= 2 || MatchesAt(text + p, literal)) found.push_back(p);
      mask &= mask - 1;
    }
  }
  alignas(32) uint64_t lanesA[4], lanesB[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanesA), a);
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanesB), b);
  // This range's sums follow whatever sum holds already.
  TChecksum part;
  for (int k = 0; k < 4; ++k) {
    part.A[k] = lanesA[k];
    part.B[k] = lanesB[k];
  }
  part.Chunks = chunks;
  part.Length = chunks * 32;
  sum.Append(part);
  return i;
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

}  // namespace

std::optional<TLiteral> LiteralOf(std::string_view mask) {
  std::string best, run;
  auto close = [&](bool atEnd) {
    if (atEnd && !run.empty()) run.push_back('\0');
    if (run.size() > best.size()) best = run;
    run.clear();
  };
  bool runAtStart = true;  // the current run began at the mask's first byte
  for (size_t i = 0; i < mask.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(mask[i]);
    if (c == '*' || c == '?') {
      close(false);
      runAtStart = false;
      continue;
    }
    if (c == '[') {
      // Skips the set as the matcher reads it: "!" first, a "-" before "]" stands for
      // itself, any other "-" takes the byte after it as a range's end.
      size_t j = i + 1;
      if (j < mask.size() && mask[j] == '!') ++j;
      for (; j < mask.size() && mask[j] != ']'; ++j)
        if (mask[j] == '-' && j + 1 < mask.size() && mask[j + 1] != ']') ++j;
      close(false);
      runAtStart = false;
      i = j;
      continue;
    }
    if (run.empty() && runAtStart && i == 0) run.push_back('\0');
    run.push_back(static_cast<char>(c));
  }
  close(true);
  if (best.empty()) return std::nullopt;
  TLiteral literal;
  literal.Bytes = best;
  literal.Fold.assign(best.size(), '\0');
  for (size_t i = 0; i < best.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(best[i]);
    if (IsAsciiLetter(c)) {
      literal.Bytes[i] = static_cast<char>(c | 0x20);
      literal.Fold[i] = 0x20;
    }
  }
  return literal;
}

void ScanLiteral(const char* textChars, size_t size, size_t begin, size_t end, const TLiteral& literal,
                 std::vector<uint64_t>& found, TChecksum& sum) {
  const unsigned char* text = reinterpret_cast<const unsigned char*>(textChars);
  size_t i = begin;
  if (HasAvx2()) i = ScanAvx2(text, size, begin, end, literal, found, sum);
  // What is left: the checksum over whole chunks and a last partial one, the literal
  // byte by byte.
  sum.Add(text + i, end - i);
  ScanScalar(text, size, i, end, literal, found);
}
