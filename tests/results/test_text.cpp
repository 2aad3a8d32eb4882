#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "os/dos_time.h"
#include "os/locale_text.h"
#include "results/result_text.h"

namespace {

struct SizeCase {
  int64_t size;
  const char* text;
};

TEST(ResultText, SizeToTextAtItsBoundaries) {
  constexpr int64_t kGiB = int64_t{1} << 30;
  const SizeCase cases[] = {
      {0, "0 B"},           {1023, "1023 B"},          {1024, "1 KB"},
      {2047, "1 KB"},       {1048575, "1023 KB"},      {1048576, "1 MB"},
      {kGiB - 1, "1023 MB"}, {kGiB, "1 GB"},           {2 * kGiB, "2 GB"},
      {5 * kGiB, "5 GB"},   {5 * kGiB + kGiB / 2, "5 GB"}, {int64_t{3} << 40, "3072 GB"},
  };
  for (const SizeCase& c : cases) EXPECT_EQ(SizeToText(c.size), c.text) << c.size;
}

TEST(ResultText, AttrToTextKeepsLetterOrderAndDropsOtherBits) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0x21, "RA"}, {0x27, "RHSA"}, {0x10, ""}, {0x00, ""}, {0x08, ""}, {0xFFFFFFFF, "RHSA"},
      {0x06, "HS"},
  };
  for (const auto& [attr, text] : cases) EXPECT_EQ(AttrToText(attr), text) << attr;
}

TEST(ResultText, DateAndTimeTextsInTheCLocale) {
  ASSERT_TRUE(SetUserLocaleForTesting("C"));
  EXPECT_EQ(DateToText(EncodeDateTime(2024, 3, 14, 10, 0, 2)), "03/14/24");
  EXPECT_EQ(TimeToText(EncodeDateTime(2024, 3, 14, 10, 0, 2)), "10:00:02");
  EXPECT_EQ(TimeToText(EncodeDateTime(2024, 3, 14, 23, 59, 58)), "23:59:58");
  EXPECT_EQ(DateToText(DosDateTimeToDateTime(kDosDateTimeMax)), "12/31/07");
  EXPECT_EQ(DateToText(0.0), "12/30/99");
  SetUserLocaleForTesting("");  // back to the environment's locale for the other tests
}

TEST(LocaleText, CaseIsIgnoredBeyondAscii) {
  ASSERT_TRUE(SetUserLocaleForTesting("C.UTF-8"));
  EXPECT_EQ(CompareTextIgnoreCase("abc", "ABC"), 0);
  EXPECT_EQ(CompareTextIgnoreCase("\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"), 0);  // été / ÉTÉ
  EXPECT_EQ(CompareTextIgnoreCase("a", "B"), -1);
  EXPECT_EQ(CompareTextIgnoreCase("r\xC3\xA9sum\xC3\xA9", "rf"), 1);  // plain character order
  EXPECT_EQ(CompareTextIgnoreCase("b", "A"), 1);
  EXPECT_EQ(CompareTextIgnoreCase("", "a"), -1);
  // Bytes that do not decode still order by value and never equal other text.
  EXPECT_EQ(CompareTextIgnoreCase("\xFF", "\xFE"), 1);
  EXPECT_NE(CompareTextIgnoreCase("\xFF", "a"), 0);
  ASSERT_TRUE(SetUserLocaleForTesting("C"));
  EXPECT_EQ(CompareTextIgnoreCase("Readme", "README"), 0);
  EXPECT_FALSE(SetUserLocaleForTesting("xx_NOWHERE.none"));
  SetUserLocaleForTesting("");
}

// A real collating locale, compiled from the system's locale sources into a temporary
// folder. Skipped where the sources or localedef are missing.
TEST(LocaleText, CollatingLocaleComparesAndFormatsByItsRules) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "lq_locales";
  std::filesystem::create_directories(dir);
  const std::string command = "localedef -i en_US -f UTF-8 '" + (dir / "en_US.UTF-8").string() +
                              "' >/dev/null 2>&1";
  (void)std::system(command.c_str());  // warnings give a non-zero status with a usable locale
  if (!std::filesystem::exists(dir / "en_US.UTF-8" / "LC_COLLATE")) GTEST_SKIP() << "no localedef";
  setenv("LOCPATH", dir.c_str(), 1);
  const bool made = SetUserLocaleForTesting("en_US.UTF-8");
  unsetenv("LOCPATH");
  ASSERT_TRUE(made);
  // Accented letters sort with their base letter, not after "z" as by character value.
  EXPECT_EQ(CompareTextIgnoreCase("r\xC3\xA9sum\xC3\xA9", "rf"), -1);
  EXPECT_EQ(CompareTextIgnoreCase("R\xC3\x89SUM\xC3\x89", "r\xC3\xA9sum\xC3\xA9"), 0);
  EXPECT_EQ(CompareTextIgnoreCase("apple", "Banana"), -1);
  EXPECT_EQ(CompareJoinedTextIgnoreCase("C:\\b\\", "A.txt", "c:\\B\\", "a.TXT"), 0);
  EXPECT_EQ(DateToText(EncodeDateTime(2024, 3, 14)), "03/14/2024");
  EXPECT_EQ(TimeToText(EncodeDateTime(2024, 3, 14, 22, 0, 2)), "10:00:02 PM");
  SetUserLocaleForTesting("");
}

}  // namespace
