// The find step over a list of rows: where it starts, what it selects, what matches.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "results/find_in_results.h"

namespace {

// A list as the step sees it, recording what the step does to its selection and focus.
class TFakeRows : public TFindRows {
 public:
  explicit TFakeRows(std::vector<std::string> captions) : Captions(std::move(captions)) {}
  size_t RowCount() const override { return Captions.size(); }
  void RowCaption(size_t row, std::string& caption) const override { caption = Captions[row]; }
  ptrdiff_t FocusedRow() const override { return Focused; }
  void ClearSelection() override {
    Selected.clear();
    ++Clears;
  }
  void SelectFound(size_t row) override {
    Selected.insert(row);
    Focused = static_cast<ptrdiff_t>(row);
  }

  std::vector<std::string> Captions;
  ptrdiff_t Focused = -1;
  std::set<size_t> Selected;
  int Clears = 0;
};

// 25 rows; rows 4, 12 and 20 hold "report".
TFakeRows RowsWithMatchesAt4_12_20() {
  std::vector<std::string> captions;
  for (int i = 0; i < 25; ++i) captions.push_back("/data/file" + std::to_string(i) + ".txt");
  for (int i : {4, 12, 20}) captions[i] = "/data/Report" + std::to_string(i) + ".doc";
  return TFakeRows(std::move(captions));
}

}  // namespace

TEST(FindInResults, StepsFromFocusedRowWithoutWrapping) {
  TFakeRows rows = RowsWithMatchesAt4_12_20();
  rows.Focused = 10;
  rows.Selected = {1, 2};

  int32_t tag = kFindJustOpened;
  tag = FindInResults(rows, "report", tag);
  EXPECT_EQ(tag, 12);
  EXPECT_EQ(rows.Selected, (std::set<size_t>{12}));  // the first step cleared the rest
  tag = FindInResults(rows, "report", tag);
  EXPECT_EQ(tag, 20);
  EXPECT_EQ(rows.Selected, (std::set<size_t>{12, 20}));  // matches accumulate
  tag = FindInResults(rows, "report", tag);
  EXPECT_EQ(tag, kFindNothingFound);  // row 4 lies before the start: no wrap
  EXPECT_EQ(rows.Selected, (std::set<size_t>{12, 20}));
  EXPECT_EQ(rows.Clears, 1);

  // After a miss the next step starts at the focused row, now 20, and clears first.
  tag = FindInResults(rows, "report", tag);
  EXPECT_EQ(tag, 20);
  EXPECT_EQ(rows.Selected, (std::set<size_t>{20}));
  EXPECT_EQ(rows.Clears, 2);
}

TEST(FindInResults, StartPastTheEndBeginsAtRowZero) {
  TFakeRows rows({"/a/match", "/a/other", "/a/match"});
  EXPECT_EQ(FindInResults(rows, "match", 2), 0);  // the last match was the last row

  TFakeRows noFocus({"/a/other", "/a/match"});
  EXPECT_EQ(FindInResults(noFocus, "match", kFindJustOpened), 1);

  TFakeRows empty({});
  EXPECT_EQ(FindInResults(empty, "match", kFindJustOpened), kFindNothingFound);
}

struct TMatchCase {
  const char* label;
  const char* caption;
  const char* text;
  bool found;
};

class FindMatch : public ::testing::TestWithParam<TMatchCase> {};

TEST_P(FindMatch, ComparesWholeFullNameIgnoringCase) {
  const TMatchCase& c = GetParam();
  TUpperCaser utf8("C.UTF-8");
  TFakeRows rows({c.caption});
  EXPECT_EQ(FindInResults(rows, c.text, kFindJustOpened, utf8) == 0, c.found);
  EXPECT_EQ(rows.Selected.size(), c.found ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindMatch,
    ::testing::Values(
        TMatchCase{"CapitalsFindLowerCase", "/home/ann/notes.txt", "NOTES", true},
        TMatchCase{"FolderTextFindsFilesBelow", "\\\\srv\\share\\Budget\\q1.xls", "budget\\", true},
        TMatchCase{"TrailingBlankIsPartOfText", "/home/ann/notes.txt", "notes ", false},
        TMatchCase{"BlanksAreMatchedAsTyped", "/home/ann/my notes.txt", "my n", true},
        TMatchCase{"NoWildcards", "/home/ann/notes.txt", "n*s", false},
        TMatchCase{"EmptyTextMatchesNothing", "/home/ann/notes.txt", "", false},
        TMatchCase{"NonAsciiLettersFoldToo", "/home/ann/\xC3\xA4rger.txt", "\xC3\x84RGER", true},
        // A byte that does not decode matches itself only, never a different byte.
        TMatchCase{"UndecodedByteMatchesItself", "/data/x\xFFy", "X\xFFY", true},
        TMatchCase{"UndecodedByteIsNotAnother", "/data/x\xFEy", "x\xFFy", false}),
    [](const auto& info) { return std::string(info.param.label); });
