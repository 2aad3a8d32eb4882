#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/masks.h"

namespace {

struct MaskCase {
  const char* mask;
  const char* name;
  bool match;
};

class MaskTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskTest, MatchesWholeName) {
  const MaskCase& c = GetParam();
  EXPECT_EQ(TMask(c.mask).Matches(c.name), c.match) << "mask " << c.mask << " name " << c.name;
  EXPECT_EQ(MatchesMask(c.name, c.mask), c.match);
}

INSTANTIATE_TEST_SUITE_P(Anchoring, MaskTest, ::testing::Values(
    MaskCase{"abc", "abc", true}, MaskCase{"abc", "abcd", false}, MaskCase{"abc", "xabc", false},
    MaskCase{"a*", "ba", false}, MaskCase{"*a", "ab", false}, MaskCase{"", "", true},
    MaskCase{"", "a", false}));

INSTANTIATE_TEST_SUITE_P(Stars, MaskTest, ::testing::Values(
    MaskCase{"*.*", "README", false}, MaskCase{"*.*", "src", false},
    MaskCase{"*.*", "a.b.c", true}, MaskCase{"*.*", ".", true},
    MaskCase{"*", "README", true}, MaskCase{"*", "", true}, MaskCase{"***", "x", true},
    MaskCase{"a*?", "a", true}, MaskCase{"*?", "", true}, MaskCase{"?*", "", false},
    MaskCase{"*??", "", false}, MaskCase{"*??", "a", true},
    MaskCase{"*ab*cd", "xabyabcd", true}, MaskCase{"a*b*c", "abxbxc", true},
    MaskCase{"*a*b", "aab", true}, MaskCase{"*a*b", "aabc", false},
    MaskCase{"*.txt", "a.txt.bak", false}, MaskCase{"*.txt", "a.bak.txt", true}));

INSTANTIATE_TEST_SUITE_P(QuestionMark, MaskTest, ::testing::Values(
    MaskCase{"a?c", "abc", true}, MaskCase{"a?c", "ac", false}, MaskCase{"a?c", "abbc", false},
    MaskCase{"???", "ab", false}));

INSTANTIATE_TEST_SUITE_P(Sets, MaskTest, ::testing::Values(
    MaskCase{"[!a-c]*", "Delta", true}, MaskCase{"[!a-c]*", "Alpha", false},
    MaskCase{"[!a-c]*", "charlie", false}, MaskCase{"[a-c]x", "Bx", true},
    MaskCase{"[A-C]x", "bx", true}, MaskCase{"[0-9]*", "7up", true},
    MaskCase{"[0-9]*", "up", false}, MaskCase{"[xyz]", "Y", true},
    MaskCase{"[a-]", "-", true}, MaskCase{"[a-]", "b", false},
    MaskCase{"[*?]", "?", true}, MaskCase{"[*?]", "a", false},
    MaskCase{"[z-a]", "m", false}, MaskCase{"[!x]", "\xe9", true},
    MaskCase{"[\xe9]", "\xe9", true}, MaskCase{"[\xe9]", "\xc9", false}));

INSTANTIATE_TEST_SUITE_P(Case, MaskTest, ::testing::Values(
    MaskCase{"README.TXT", "readme.txt", true}, MaskCase{"*.Doc", "X.DOC", true},
    MaskCase{"\xe9t\xe9", "\xe9t\xe9", true}, MaskCase{"\xe9t\xe9", "\xc9T\xc9", false},
    MaskCase{"]", "]", true}));

TEST(MaskErrors, MalformedMasksRaiseErrorNamingTheMask) {
  std::string thirtyOneRuns;
  for (int i = 0; i < 31; ++i) thirtyOneRuns += "*a";
  for (const std::string mask : {"a[", "[]x", "[!]", "[-a]", "[!-a]", "[a-c-e]", "[abc",
                                 "x[a-", thirtyOneRuns.c_str()}) {
    try {
      TMask compiled(mask);
      ADD_FAILURE() << "no error for " << mask;
    } catch (const TMaskError& e) {
      EXPECT_NE(std::string(e.what()).find("\"" + mask + "\""), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(MatchesMask("abc", "a["), TMaskError);
}

TEST(MaskErrors, ThirtyStarRunsAndMergedStarsAreAccepted) {
  std::string thirtyRuns;
  for (int i = 0; i < 30; ++i) thirtyRuns += "*a";
  EXPECT_TRUE(TMask(thirtyRuns).Matches(std::string(30, 'a')));
  EXPECT_NO_THROW(TMask(std::string(100, '*')));
  EXPECT_NO_THROW(TMask(std::string(40, '*') + "?*"));
}

struct SplitCase {
  const char* text;
  std::vector<std::string> masks;
};

TEST(SplitMasks, SeparatorsBlanksAndEmptyMasks) {
  const SplitCase cases[] = {
      {"*.txt,*.doc;;a?", {"*.txt", "*.doc", "a?"}},
      {"*.txt, *.doc", {"*.txt", " *.doc"}},
      {";;", {}},
      {"", {}},
      {" ", {" "}},
      {",a,", {"a"}},
      {"x", {"x"}},
  };
  for (const SplitCase& c : cases) EXPECT_EQ(SplitMasks(c.text), c.masks) << c.text;
}

TEST(SplitMasks, BlankAfterSeparatorIsPartOfTheMask) {
  const std::vector<std::string> masks = SplitMasks("*.txt, *.doc");
  auto found = [&](const char* name) {
    for (const std::string& m : masks) {
      if (MatchesMask(name, m)) return true;
    }
    return false;
  };
  EXPECT_TRUE(found("a.txt"));
  EXPECT_FALSE(found("b.doc"));
  EXPECT_TRUE(found(" b.doc"));
}

}  // namespace
