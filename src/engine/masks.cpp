#include "engine/masks.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr int kMaxStarRuns = 30;

unsigned char UpperAscii(unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

[[noreturn]] void Malformed(std::string_view mask, const char* why) {
  throw TMaskError("Invalid file mask \"" + std::string(mask) + "\": " + why + ".");
}

}  // namespace

std::vector<std::string> SplitMasks(const std::string& Mask) {
  std::vector<std::string> masks;
  std::string current;
  for (char c : Mask) {
    if (c == ';' || c == ',') {
      if (!current.empty()) masks.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) masks.push_back(std::move(current));
  return masks;
}

TMask::TMask(std::string_view mask) : MaskText(mask) {
  int starRuns = 0;
  for (size_t i = 0; i < mask.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(mask[i]);
    switch (c) {
      case '*':
        if (Tokens.empty() || Tokens.back().Kind != TKind::Star) {
          if (++starRuns > kMaxStarRuns) Malformed(mask, "it has more than 30 \"*\" wildcards");
          Tokens.push_back({TKind::Star, 0, 0});
        }
        break;
      case '?':
        // A "?" right after a "*" is absorbed by it.
        if (i == 0 || mask[i - 1] != '*') Tokens.push_back({TKind::AnyChar, 0, 0});
        break;
      case '[': {
        std::bitset<256> set;
        size_t j = i + 1;
        bool complement = false;
        if (j < mask.size() && mask[j] == '!') {
          complement = true;
          ++j;
        }
        bool members = false;
        bool canStartRange = false;  // the previous byte is a single member, not a range end
        unsigned char previous = 0;
        for (;; ++j) {
          if (j >= mask.size()) Malformed(mask, "a set has no closing \"]\"");
          const unsigned char m = static_cast<unsigned char>(mask[j]);
          if (m == ']') break;
          if (m == '-') {
            if (!canStartRange) Malformed(mask, "a \"-\" in a set has no character before it");
            if (j + 1 >= mask.size()) Malformed(mask, "a set has no closing \"]\"");
            const unsigned char last = static_cast<unsigned char>(mask[j + 1]);
            if (last == ']') {  // "[a-]": the "-" stands for itself
              set.set('-');
              members = true;
              canStartRange = false;
              continue;
            }
            for (unsigned v = UpperAscii(previous); v <= UpperAscii(last); ++v) set.set(v);
            members = true;
            canStartRange = false;
            ++j;
            continue;
          }
          set.set(UpperAscii(m));
          members = true;
          canStartRange = true;
          previous = m;
        }
        if (!members) Malformed(mask, "a set is empty");
        if (complement) set.flip();
        Sets.push_back(set);
        Tokens.push_back({TKind::Set, 0, static_cast<uint16_t>(Sets.size() - 1)});
        i = j;
        break;
      }
      default:
        Tokens.push_back({TKind::Literal, UpperAscii(c), 0});
    }
  }
  size_t lastStar = Tokens.size();
  for (size_t t = 0; t < Tokens.size(); ++t) {
    if (Tokens[t].Kind == TKind::Star) {
      lastStar = t;
      HasStar = true;
    } else {
      ++MinLength;
    }
  }
  TailLength = HasStar ? Tokens.size() - lastStar - 1 : Tokens.size();
  OnlyStarsBeforeTail = std::all_of(Tokens.begin(), Tokens.end() - static_cast<std::ptrdiff_t>(TailLength),
                                    [](const TToken& token) { return token.Kind == TKind::Star; });
}

bool TMask::TokenMatches(const TToken& token, unsigned char c) const noexcept {
  switch (token.Kind) {
    case TKind::Literal: return UpperAscii(c) == token.Char;
    case TKind::AnyChar: return true;
    case TKind::Set: return Sets[token.SetIndex].test(UpperAscii(c));
    case TKind::Star: break;
  }
  return false;
}

// Every token but "*" consumes exactly one byte, so the last "*" seen is the only
// one worth backtracking to: when a later literal run fails, letting an earlier "*"
// swallow more could only be matched by the later "*" as well.
bool TMask::Matches(std::string_view name) const noexcept {
  const size_t tokenCount = Tokens.size();
  if (name.size() < MinLength || (!HasStar && name.size() != MinLength)) return false;
  const size_t tailStart = name.size() - TailLength;
  for (size_t i = 0; i < TailLength; ++i)
    if (!TokenMatches(Tokens[tokenCount - TailLength + i], static_cast<unsigned char>(name[tailStart + i])))
      return false;
  if (OnlyStarsBeforeTail) return true;
  size_t t = 0;
  size_t n = 0;
  size_t starToken = tokenCount;  // none yet
  size_t starName = 0;
  while (n < name.size()) {
    if (t < tokenCount && Tokens[t].Kind == TKind::Star) {
      starToken = t++;
      starName = n;
    } else if (t < tokenCount && TokenMatches(Tokens[t], static_cast<unsigned char>(name[n]))) {
      ++t;
      ++n;
    } else if (starToken != tokenCount) {
      t = starToken + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (t < tokenCount && Tokens[t].Kind == TKind::Star) ++t;
  return t == tokenCount;
}

bool MatchesMask(std::string_view name, std::string_view mask) { return TMask(mask).Matches(name); }

std::vector<TMask> CompileMasks(const std::string& list) {
  std::vector<TMask> masks;
  for (const std::string& mask : SplitMasks(list)) masks.emplace_back(mask);
  return masks;
}
