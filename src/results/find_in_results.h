#pragma once
// One step of "Find in results": looks for the next row of a result list whose caption
// (the result's full name) contains a text, ignoring letter case, and selects it. The
// find dialog keeps the step's state in its Tag between steps; a new dialog starts with
// kFindJustOpened. UI thread only; the list must not change its row count during a step.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Tag values besides a row index (the last match).
inline constexpr int32_t kFindJustOpened = -2;
inline constexpr int32_t kFindNothingFound = -1;

// The rows of a list as the find step sees them; the page's result list implements it.
class TFindRows {
 public:
  virtual ~TFindRows() = default;
  virtual size_t RowCount() const = 0;
  // Sets caption to the text that row shows (the full name). Fills a buffer that the
  // step reuses, so that a scan over many rows does not allocate per row.
  virtual void RowCaption(size_t row, std::string& caption) const = 0;
  // The row that has the keyboard focus, or -1 when none has.
  virtual ptrdiff_t FocusedRow() const = 0;
  virtual void ClearSelection() = 0;
  // Adds row to the selection, gives it the keyboard focus and scrolls it entirely into
  // view.
  virtual void SelectFound(size_t row) = 0;
};

// Folds 8-bit text of one locale's character set to upper case for comparison. A byte
// that does not decode stays a code of its own, so it matches only itself.
class TUpperCaser {
 public:
  // localeName "" is the user's locale from the environment; a name that the system
  // does not have falls back to "C".
  explicit TUpperCaser(const char* localeName = "");
  ~TUpperCaser();
  TUpperCaser(const TUpperCaser&) = delete;
  TUpperCaser& operator=(const TUpperCaser&) = delete;

  // Sets upper to text upper-cased, one code per character.
  void Upper(std::string_view text, std::u32string& upper) const;

 private:
  void* Locale;  // locale_t, kept out of this header
  char32_t AsciiUpper[128];
};

// One find step; returns the dialog's new Tag. With tag below 0 the scan starts at the
// focused row (or row 0) and the selection is cleared first; otherwise it starts after
// row tag and the selection is kept. A start at or past the end becomes row 0. The scan
// runs to the last row without wrapping. A match is selected (SelectFound) and its
// index returned; no match, or an empty text, returns kFindNothingFound. text is used as
// typed, blanks included, with no wildcards.
int32_t FindInResults(TFindRows& rows, std::string_view text, int32_t tag,
                      const TUpperCaser& caser);
// The same with the user's locale.
int32_t FindInResults(TFindRows& rows, std::string_view text, int32_t tag);
