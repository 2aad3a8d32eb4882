#pragma once
// File-name masks: splitting a mask list and matching names against one mask.
//
// Mask rules: the whole name must match the whole mask. "*" matches any run of
// characters (several in a row act as one, and a "?" right after a "*" is absorbed, so
// "*?" is "*"); "?" matches one character; "[...]" matches one character of a set, with
// ranges "a-z" and a leading "!" for the complement. ASCII letters match regardless of
// case, in sets too; every other byte (8-bit characters included) only itself. Names and
// masks are byte strings: "?" matches one byte.
#include <bitset>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A malformed mask: a set without "]", an empty set, a "-" with nothing before it, or
// more than 30 separate "*" runs. what() is a message for the user naming the mask.
class TMaskError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Splits a mask list at ";" and ","; empty masks are dropped, nothing is trimmed (a
// blank after a separator starts the next mask), the order is kept.
std::vector<std::string> SplitMasks(const std::string& Mask);

// One mask compiled for repeated use. Matches never allocates; a TMask may be used by
// several threads at once.
class TMask {
 public:
  // Throws TMaskError when mask is malformed.
  explicit TMask(std::string_view mask);

  bool Matches(std::string_view name) const noexcept;
  const std::string& Text() const { return MaskText; }

 private:
  enum class TKind : uint8_t { Literal, AnyChar, Star, Set };
  struct TToken {
    TKind Kind;
    unsigned char Char;  // Literal: the byte, upper-cased when an ASCII letter
    uint16_t SetIndex;   // Set: index into Sets
  };
  bool TokenMatches(const TToken& token, unsigned char c) const noexcept;

  std::string MaskText;
  std::vector<TToken> Tokens;
  // Every match ends with the tokens after the last "*" (each takes one byte), so a name
  // is first checked there: most names fail on their last bytes ("*.txt").
  size_t TailLength = 0;      // tokens after the last "*" (all of them when there is none)
  size_t MinLength = 0;       // bytes a matching name has at least (tokens other than "*")
  bool HasStar = false;
  bool OnlyStarsBeforeTail = false;  // a name whose tail matches matches ("*", "*.txt")
  std::vector<std::bitset<256>> Sets;  // upper-cased members of each set
};

// Every mask of a mask list (SplitMasks) compiled, in order. Throws TMaskError for the
// first malformed one.
std::vector<TMask> CompileMasks(const std::string& list);

// Matches name against mask, compiling the mask first. Throws TMaskError when mask is
// malformed. For one-off tests; the walker compiles its masks once with TMask.
bool MatchesMask(std::string_view name, std::string_view mask);
