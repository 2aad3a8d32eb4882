#include "results/find_in_results.h"

#include <locale.h>
#include <wchar.h>
#include <wctype.h>

#include <cstring>

#include "os/locale_text.h"

namespace {

// Bytes that do not decode become codes above the Unicode range, one per byte value.
constexpr char32_t kUndecodedByte = 0x110000;

locale_t AsLocale(void* locale) { return static_cast<locale_t>(locale); }

}  // namespace

TUpperCaser::TUpperCaser(const char* localeName) {
  locale_t locale = newlocale(LC_CTYPE_MASK, localeName, static_cast<locale_t>(0));
  if (!locale) locale = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
  Locale = locale;
  for (char32_t c = 0; c < 128; ++c) {
    AsciiUpper[c] = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale));
  }
}

TUpperCaser::~TUpperCaser() { freelocale(AsLocale(Locale)); }

void TUpperCaser::Upper(std::string_view text, std::u32string& upper) const {
  upper.clear();
  const TThreadLocaleGuard scope(AsLocale(Locale));
  mbstate_t state{};
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {  // every code set of a locale here extends ASCII
      upper += AsciiUpper[byte];
      ++i;
      continue;
    }
    wchar_t wide = 0;
    const size_t used = mbrtowc(&wide, text.data() + i, text.size() - i, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) {
      upper += kUndecodedByte + byte;
      std::memset(&state, 0, sizeof state);
      ++i;
      continue;
    }
    upper += static_cast<char32_t>(towupper_l(static_cast<wint_t>(wide), AsLocale(Locale)));
    i += used;
  }
}

int32_t FindInResults(TFindRows& rows, std::string_view text, int32_t tag,
                      const TUpperCaser& caser) {
  size_t start;
  if (tag < 0) {
    const ptrdiff_t focused = rows.FocusedRow();
    start = focused >= 0 ? static_cast<size_t>(focused) : 0;
    rows.ClearSelection();
  } else {
    start = static_cast<size_t>(tag) + 1;
  }
  const size_t count = rows.RowCount();
  if (start >= count) start = 0;
  if (text.empty()) return kFindNothingFound;

  std::u32string wanted;
  caser.Upper(text, wanted);
  std::string caption;
  std::u32string upperCaption;
  for (size_t row = start; row < count; ++row) {
    rows.RowCaption(row, caption);
    caser.Upper(caption, upperCaption);
    if (upperCaption.find(wanted) != std::u32string::npos) {
      rows.SelectFound(row);
      return static_cast<int32_t>(row);
    }
  }
  return kFindNothingFound;
}

int32_t FindInResults(TFindRows& rows, std::string_view text, int32_t tag) {
  static const TUpperCaser userLocale("");
  return FindInResults(rows, text, tag, userLocale);
}
