#include <gtest/gtest.h>

#include "platform/dos_time.h"
#include "platform/locale_text.h"
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

}  // namespace
