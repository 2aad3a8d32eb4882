// Compiles any bytes as a file mask and matches names against it, comparing with a plain
// backtracking matcher written from the mask rules in engine/masks.h: both must agree on
// which masks are malformed and on every match.
//
// Input: the mask, a NUL byte, then names separated by NUL bytes.
#include <stdlib.h>

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/masks.h"

namespace {

unsigned char Upper(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

struct TPiece {
  enum TKind { Star, One, Set, Byte };
  explicit TPiece(TKind kind, unsigned char value = 0) : Kind(kind), Value(value) {}
  TKind Kind;
  unsigned char Value;       // Byte: the upper-cased byte it takes
  std::bitset<256> Members;  // Set: the upper-cased bytes it takes
};

// The mask as pieces, or nullopt when it is malformed.
std::optional<std::vector<TPiece>> Pieces(std::string_view mask) {
  std::vector<TPiece> pieces;
  int starRuns = 0;
  for (size_t i = 0; i < mask.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(mask[i]);
    if (c == '*') {
      // A run of "*" (an absorbed "?" in it or not) counts once.
      if (pieces.empty() || pieces.back().Kind != TPiece::Star) ++starRuns;
      pieces.emplace_back(TPiece::Star);
    } else if (c == '?') {
      if (i == 0 || mask[i - 1] != '*') pieces.emplace_back(TPiece::One);
    } else if (c == '[') {
      TPiece set(TPiece::Set);
      size_t j = i + 1;
      const bool complement = j < mask.size() && mask[j] == '!';
      if (complement) ++j;
      bool any = false;
      std::optional<unsigned char> single;  // the last member, when it may start a range
      for (;; ++j) {
        if (j >= mask.size()) return std::nullopt;
        const unsigned char m = static_cast<unsigned char>(mask[j]);
        if (m == ']') break;
        if (m != '-') {
          set.Members.set(Upper(m));
          single = m;
          any = true;
          continue;
        }
        if (!single) return std::nullopt;
        if (j + 1 >= mask.size()) return std::nullopt;
        const unsigned char last = static_cast<unsigned char>(mask[j + 1]);
        if (last == ']') {
          set.Members.set('-');
        } else {
          for (unsigned v = Upper(*single); v <= Upper(last); ++v) set.Members.set(v);
          ++j;
        }
        single.reset();
        any = true;
      }
      if (!any) return std::nullopt;
      if (complement) set.Members.flip();
      pieces.push_back(set);
      i = j;
    } else {
      pieces.emplace_back(TPiece::Byte, Upper(c));
    }
  }
  if (starRuns > 30) return std::nullopt;
  return pieces;
}

// Plain backtracking over every way a "*" can be matched, remembering failed states.
bool Match(const std::vector<TPiece>& pieces, std::string_view name, size_t p, size_t n,
           std::vector<int8_t>& failed) {
  int8_t& known = failed[p * (name.size() + 1) + n];
  if (known) return false;
  bool result;
  if (p == pieces.size()) {
    result = n == name.size();
  } else if (pieces[p].Kind == TPiece::Star) {
    result = Match(pieces, name, p + 1, n, failed) ||
             (n < name.size() && Match(pieces, name, p, n + 1, failed));
  } else if (n == name.size()) {
    result = false;
  } else {
    const unsigned char c = Upper(static_cast<unsigned char>(name[n]));
    const TPiece& piece = pieces[p];
    const bool takes = piece.Kind == TPiece::One || (piece.Kind == TPiece::Byte && piece.Value == c) ||
                       (piece.Kind == TPiece::Set && piece.Members.test(c));
    result = takes && Match(pieces, name, p + 1, n + 1, failed);
  }
  if (!result) known = 1;
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t end = input.find('\0');
  const std::string_view mask = input.substr(0, end);
  std::vector<std::string_view> names;
  if (end != std::string_view::npos) {
    std::string_view rest = input.substr(end + 1);
    for (size_t next; (next = rest.find('\0')) != std::string_view::npos; rest.remove_prefix(next + 1)) {
      names.push_back(rest.substr(0, next));
    }
    names.push_back(rest);
  }
  std::optional<TMask> compiled;
  try {
    compiled.emplace(mask);
  } catch (const TMaskError&) {
  }
  const std::optional<std::vector<TPiece>> pieces = Pieces(mask);
  if (compiled.has_value() != pieces.has_value()) abort();
  if (!pieces) return 0;
  for (const std::string_view name : names) {
    std::vector<int8_t> failed((pieces->size() + 1) * (name.size() + 1), 0);
    if (compiled->Matches(name) != Match(*pieces, name, 0, 0, failed)) abort();
  }
  return 0;
}
