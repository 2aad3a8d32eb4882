#include "os/locale_text.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>
#include <optional>

namespace {

// The user's locale and what the comparison needs to know about it.
struct TUserLocale {
  locale_t Loc = nullptr;
  bool Utf8 = false;             // the character set is UTF-8
  bool CodePointOrder = false;   // collation is plain character order (C, POSIX, C.UTF-8)
  TUserLocale* Replaced = nullptr;  // the locale this one replaced, kept alive
};

TUserLocale* MakeUserLocale(const char* name) {
  locale_t loc = newlocale(LC_ALL_MASK, name, nullptr);
  if (!loc) return nullptr;
  auto* made = new TUserLocale;
  made->Loc = loc;
  made->Utf8 = std::strcmp(nl_langinfo_l(CODESET, loc), "UTF-8") == 0;
  const char* collate = nl_langinfo_l(_NL_LOCALE_NAME(LC_COLLATE), loc);
  made->CodePointOrder = std::strcmp(collate, "C") == 0 || std::strcmp(collate, "POSIX") == 0 ||
                         std::strncmp(collate, "C.", 2) == 0;
  return made;
}

// Made once and kept for the whole process: formatting and comparing threads may still
// use one after a test replaced it, so replaced ones are not freed.
std::atomic<TUserLocale*> gUserLocale{nullptr};

TUserLocale* CurrentUserLocale() {
  if (TUserLocale* current = gUserLocale.load(std::memory_order_acquire)) return current;
  TUserLocale* made = MakeUserLocale("");
  if (!made) made = MakeUserLocale("C");
  TUserLocale* expected = nullptr;
  if (gUserLocale.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return made;
  freelocale(made->Loc);  // another thread made it first
  delete made;
  return expected;
}

const TUserLocale& UserLocale() { return *CurrentUserLocale(); }

// A byte that does not decode stands for a private-use character that keeps its order.
wchar_t UndecodableByte(unsigned char byte) { return static_cast<wchar_t>(0xF700 + byte); }

// Decodes one UTF-8 character at text[i], advancing i; malformed input yields one byte.
wchar_t NextUtf8(std::string_view text, size_t& i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || i + length > text.size()) {
    ++i;
    return UndecodableByte(lead);
  }
  uint32_t code = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return UndecodableByte(lead);
    }
    code = code << 6 | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF do not decode.
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
    ++i;
    return UndecodableByte(lead);
  }
  i += length;
  return static_cast<wchar_t>(code);
}

wchar_t Upper(wchar_t c, locale_t loc) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
  return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), loc));
}

// Walks a text made of up to two pieces as upper-cased characters.
class TUpperReader {
 public:
  TUpperReader(std::string_view head, std::string_view tail, const TUserLocale& user)
      : Pieces{head, tail}, User(user) {}
  bool AtEnd() {
    while (Piece < 2 && Pos >= Pieces[Piece].size()) {
      ++Piece;
      Pos = 0;
    }
    return Piece == 2;
  }
  // The next character; call only when !AtEnd().
  wchar_t Next() {
    const std::string_view text = Pieces[Piece];
    if (User.Utf8) return Upper(NextUtf8(text, Pos), User.Loc);
    const unsigned char byte = static_cast<unsigned char>(text[Pos++]);
    if (byte < 0x80) return Upper(byte, User.Loc);
    // A single-byte character set: the byte decodes on its own or not at all.
    wchar_t wc = 0;
    std::mbstate_t state{};
    const char c = static_cast<char>(byte);
    const size_t used = std::mbrtowc(&wc, &c, 1, &state);
    if (used != 1) return UndecodableByte(byte);
    return Upper(wc, User.Loc);
  }

 private:
  std::string_view Pieces[2];
  size_t Piece = 0;
  size_t Pos = 0;
  const TUserLocale& User;
};

void DecodeUpper(std::string_view head, std::string_view tail, const TUserLocale& user,
                 std::wstring& out) {
  out.clear();
  TUpperReader reader(head, tail, user);
  while (!reader.AtEnd()) {
    const wchar_t c = reader.Next();
    if (c != 0) out.push_back(c);  // a NUL byte would end the text for the collation
  }
}

int CompareJoined(std::string_view aHead, std::string_view aTail, std::string_view bHead,
                  std::string_view bTail) {
  const TUserLocale& user = UserLocale();
  // Non-UTF-8 character sets need the locale's own decoder, which reads the thread's locale.
  std::optional<TThreadLocaleGuard> guard;
  if (!user.Utf8) guard.emplace(user.Loc);
  if (user.CodePointOrder) {
    // Plain character order: compare as the characters come, without building copies.
    TUpperReader a(aHead, aTail, user);
    TUpperReader b(bHead, bTail, user);
    for (;;) {
      const bool aEnd = a.AtEnd();
      const bool bEnd = b.AtEnd();
      if (aEnd || bEnd) return aEnd == bEnd ? 0 : (aEnd ? -1 : 1);
      const wchar_t ca = a.Next();
      const wchar_t cb = b.Next();
      if (ca != cb) return ca < cb ? -1 : 1;
    }
  }
  thread_local std::wstring wideA;
  thread_local std::wstring wideB;
  DecodeUpper(aHead, aTail, user, wideA);
  DecodeUpper(bHead, bTail, user, wideB);
  const int c = wcscoll_l(wideA.c_str(), wideB.c_str(), user.Loc);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Appends value as UTF-8 (any value below 2^21), which keeps the order of values under
// a bytewise comparison.
void AppendCodePoint(uint32_t value, std::string& out) {
  if (value < 0x80) {
    out.push_back(static_cast<char>(value));
  } else if (value < 0x800) {
    out.push_back(static_cast<char>(0xC0 | value >> 6));
    out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else if (value < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | value >> 12));
    out.push_back(static_cast<char>(0x80 | (value >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (value >> 18 & 0x07)));
    out.push_back(static_cast<char>(0x80 | (value >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (value >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
  }
}

// What the locale's transformation writes between the weights of two collation levels.
constexpr wchar_t kLevelSeparator = 1;

// Appends one collation weight in an order-keeping form that is short for the small
// weights of the lower levels: 1 byte below 0x80, 2 bytes below 0x7F80, else 5 bytes.
// Lead bytes rise with the value and fix the length, so bytewise order is weight order.
void AppendWeight(uint32_t weight, std::string& out) {
  if (weight < 0x80) {
    out.push_back(static_cast<char>(weight));
  } else if (weight < 0x7F80) {
    const uint32_t rest = weight - 0x80;
    out.push_back(static_cast<char>(0x80 + (rest >> 8)));
    out.push_back(static_cast<char>(rest & 0xFF));
  } else {
    out.push_back(static_cast<char>(0xFF));
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(weight >> shift & 0xFF));
  }
}

// The day of the week (0 Sunday) of a Gregorian date.
int WeekDay(int year, int month, int day) {
  static constexpr int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  const int w = (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
  return w < 0 ? w + 7 : w;
}

std::string Format(nl_item format, const std::tm& when) {
  const locale_t loc = UserLocale().Loc;
  const char* pattern = nl_langinfo_l(format, loc);
  char buffer[256];
  const size_t length = strftime_l(buffer, sizeof buffer, pattern, &when, loc);
  return std::string(buffer, length);
}

}  // namespace

int CompareTextIgnoreCase(std::string_view a, std::string_view b) {
  return CompareJoined(a, {}, b, {});
}

int CompareJoinedTextIgnoreCase(std::string_view aHead, std::string_view aTail,
                                std::string_view bHead, std::string_view bTail) {
  return CompareJoined(aHead, aTail, bHead, bTail);
}

void AppendSortKeyIgnoreCase(std::string_view head, std::string_view tail, std::string& key) {
  const TUserLocale& user = UserLocale();
  std::optional<TThreadLocaleGuard> guard;
  if (!user.Utf8) guard.emplace(user.Loc);
  if (user.CodePointOrder) {
    // The upper-cased characters themselves, NULs included, as the comparison sees them.
    TUpperReader reader(head, tail, user);
    while (!reader.AtEnd()) AppendCodePoint(static_cast<uint32_t>(reader.Next()), key);
    return;
  }
  // The first collation level of the locale's own transformation of exactly the text
  // that wcscoll is given. Texts whose first levels differ are ordered by them alone, and
  // there the transformation and wcscoll agree; on the later levels they can disagree
  // (characters ignored on the first levels are weighed by position differently), so
  // texts with equal first levels are left to the comparison itself.
  thread_local std::wstring wide;
  thread_local std::wstring transformed;
  DecodeUpper(head, tail, user, wide);
  size_t length = wcsxfrm_l(nullptr, wide.c_str(), 0, user.Loc);
  transformed.resize(length + 1);
  length = wcsxfrm_l(transformed.data(), wide.c_str(), transformed.size(), user.Loc);
  for (size_t i = 0; i < length && transformed[i] != kLevelSeparator; ++i) {
    AppendWeight(static_cast<uint32_t>(transformed[i]), key);
  }
}

int CompareSortKeys(std::string_view a, std::string_view b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string FormatShortDate(int year, int month, int day) {
  std::tm when{};
  when.tm_year = year - 1900;
  when.tm_mon = month - 1;
  when.tm_mday = day;
  when.tm_wday = WeekDay(year, month, day);
  return Format(D_FMT, when);
}

std::string FormatLongTime(int hour, int minute, int second) {
  std::tm when{};
  when.tm_hour = hour;
  when.tm_min = minute;
  when.tm_sec = second;
  when.tm_year = 70;
  when.tm_mday = 1;
  return Format(T_FMT, when);
}

std::string LocaleTextToUtf8(std::string_view text) {
  constexpr uint32_t kReplacement = 0xFFFD;
  const TUserLocale& user = UserLocale();
  std::string out;
  out.reserve(text.size());
  if (user.Utf8) {
    for (size_t i = 0; i < text.size();) {
      const size_t start = i;
      const wchar_t c = NextUtf8(text, i);
      // Only a byte that does not decode is consumed alone and yields more than ASCII.
      const bool undecodable = i - start == 1 && c >= 0x80;
      AppendCodePoint(undecodable ? kReplacement : static_cast<uint32_t>(c), out);
    }
    return out;
  }
  TThreadLocaleGuard guard(user.Loc);
  std::mbstate_t state{};
  for (size_t i = 0; i < text.size();) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      out.push_back(static_cast<char>(byte));
      ++i;
      continue;
    }
    wchar_t wc = 0;
    const size_t used = std::mbrtowc(&wc, text.data() + i, text.size() - i, &state);
    if (used == 0 || used > text.size() - i || static_cast<uint32_t>(wc) > 0x10FFFF ||
        (wc >= 0xD800 && wc <= 0xDFFF)) {
      // Not a character of the locale's set (or cut off at the end): one byte replaced.
      state = std::mbstate_t{};
      AppendCodePoint(kReplacement, out);
      ++i;
      continue;
    }
    AppendCodePoint(static_cast<uint32_t>(wc), out);
    i += used;
  }
  return out;
}

bool SetUserLocaleForTesting(const char* localeName) {
  TUserLocale* made = MakeUserLocale(localeName);
  if (!made) return false;
  made->Replaced = CurrentUserLocale();
  gUserLocale.store(made, std::memory_order_release);
  return true;
}
