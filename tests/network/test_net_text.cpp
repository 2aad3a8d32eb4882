// Error texts, log lines, network names and the error log's concurrency: no server needed.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <thread>

#include "os/net_error_text.h"
#include "results/logger.h"
#include "smb/smb_path.h"

namespace {

NETRESOURCEA Resource(const char* provider, const char* remoteName) {
  NETRESOURCEA r;
  if (provider) r.lpProvider = provider;
  if (remoteName) r.lpRemoteName = remoteName;
  return r;
}

struct TLineCase {
  uint32_t Code;
  const char* Provider;
  const char* RemoteName;
  const char* Line;
};

class NetErrorLine : public testing::TestWithParam<TLineCase> {};

TEST_P(NetErrorLine, ProviderQuotedThenNameThenMessageWithoutLineBreak) {
  const TLineCase& c = GetParam();
  EXPECT_EQ(GetNetErrorText(c.Code, Resource(c.Provider, c.RemoteName)), c.Line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, NetErrorLine,
    testing::Values(
        TLineCase{ERROR_ACCESS_DENIED, "SMB Network", "\\\\srv", "'SMB Network' \\\\srv - Access is denied."},
        TLineCase{ERROR_BAD_NETPATH, "SMB Network", "\\\\dead",
                  "'SMB Network' \\\\dead - The network path was not found."},
        // The entire network has neither provider nor name: two quotes, two blanks, "- ".
        TLineCase{ERROR_NO_NETWORK, nullptr, nullptr, "''  - The network is not present or not started."},
        // A code without a text gives an empty message, not a truncated one.
        TLineCase{99999, "P", "\\\\x", "'P' \\\\x - "}));

TEST(NetErrorText, ExtendedErrorUsesTheProvidersOwnText) {
  EXPECT_EQ(SetExtendedNetError(42, "Server refused the listing"), ERROR_EXTENDED_ERROR);
  EXPECT_EQ(GetNetErrorText(ERROR_EXTENDED_ERROR, Resource("SMB Network", "\\\\srv")),
            "'SMB Network' \\\\srv - Server refused the listing");
  // An unmapped errno keeps the library's text the same way.
  EXPECT_EQ(NetErrorFromErrno(EPROTO), ERROR_EXTENDED_ERROR);
  EXPECT_EQ(GetNetErrorText(ERROR_EXTENDED_ERROR, Resource("SMB Network", "\\\\srv")),
            "'SMB Network' \\\\srv - Protocol error");
}

TEST(NetErrorText, ExtendedErrorIsPerThread) {
  SetExtendedNetError(1, "this thread's text");
  std::thread other([] { SetExtendedNetError(2, "other thread's text"); });
  other.join();
  uint32_t code = 0;
  char text[64];
  char name[4];
  ASSERT_EQ(WNetGetLastErrorA(&code, text, sizeof text, name, sizeof name), NO_ERROR);
  EXPECT_EQ(code, 1u);
  EXPECT_STREQ(text, "this thread's text\r\n");
  EXPECT_STREQ(name, "SMB");  // truncated to the buffer, still terminated
  EXPECT_EQ(WNetGetLastErrorA(nullptr, text, sizeof text, name, sizeof name), ERROR_INVALID_ADDRESS);
}

TEST(FormatMessage, SystemTextsEndWithCrLfAndAreTruncatedSafely) {
  char buffer[64];
  uint32_t length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   ERROR_LOGON_FAILURE, 0, buffer, sizeof buffer, nullptr);
  EXPECT_STREQ(buffer, "The user name or password is incorrect.\r\n");
  EXPECT_EQ(length, strlen(buffer));
  char small[8];
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, small, sizeof small,
                           nullptr), 7u);
  EXPECT_STREQ(small, "Access ");
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 99999, 0, buffer, sizeof buffer, nullptr), 0u);
  EXPECT_STREQ(buffer, "");
}

struct TErrnoCase {
  int Errno;
  uint32_t Code;
};

TEST(NetErrorFromErrno, MapsTheLibrarysErrnoValues) {
  const TErrnoCase cases[] = {{EACCES, ERROR_ACCESS_DENIED},   {ENOENT, ERROR_BAD_NET_NAME},
                              {ECONNREFUSED, ERROR_BAD_NETPATH}, {EHOSTUNREACH, ERROR_BAD_NETPATH},
                              {ENETDOWN, ERROR_NO_NETWORK},    {ETIMEDOUT, ERROR_SEM_TIMEOUT},
                              {ENOTDIR, ERROR_DIRECTORY},      {0, NO_ERROR}};
  for (const TErrnoCase& c : cases) EXPECT_EQ(NetErrorFromErrno(c.Errno), c.Code) << c.Errno;
}

struct TUncCase {
  const char* Text;
  bool Valid;
  const char* Host;
  const char* Share;
  const char* Rest;
};

TEST(UncNames, SplitIntoHostShareAndFolders) {
  const TUncCase cases[] = {
      {"\\\\srv", true, "srv", "", ""},
      {"\\\\srv\\", true, "srv", "", ""},
      {"\\\\srv\\docs", true, "srv", "docs", ""},
      {"\\\\srv\\docs\\a\\b\\", true, "srv", "docs", "a\\b"},
      {"\\srv\\docs", false, "", "", ""},
      {"\\\\\\docs", false, "", "", ""},
      {"\\\\srv\\\\a", false, "", "", ""},
      {"/home/ann", false, "", "", ""},
  };
  for (const TUncCase& c : cases) {
    std::optional<TUncName> name = ParseUncName(c.Text);
    ASSERT_EQ(name.has_value(), c.Valid) << c.Text;
    if (!name) continue;
    EXPECT_EQ(name->Host, c.Host);
    EXPECT_EQ(name->Share, c.Share);
    EXPECT_EQ(name->Rest, c.Rest);
  }
}

TEST(UncNames, UrlsEncodeEveryByteThatCouldBeMisread) {
  SetSmbHostPort("porthost", 1445);
  EXPECT_EQ(SmbUrl({"srv", "", ""}), "smb://srv/");
  EXPECT_EQ(SmbUrl({"srv", "my docs", "50%;x\\y#z"}), "smb://srv/my%20docs/50%25%3Bx/y%23z");
  EXPECT_EQ(SmbUrl({"PortHost", "s", ""}), "smb://PortHost:1445/s");
  EXPECT_EQ(SmbUrl({"srv", "s", "\xc3\xa9t\xc3\xa9"}), "smb://srv/s/%C3%A9t%C3%A9");
}

TEST(UncNames, SmbUrlsBecomeUncNamesAndRememberThePort) {
  std::optional<TUncName> name = ParseSmbUrl("smb://files.example:2445/pub/a%20b/c/");
  ASSERT_TRUE(name);
  EXPECT_EQ(UncText(*name), "\\\\files.example\\pub\\a b\\c");
  EXPECT_EQ(SmbHostPort("FILES.example"), 2445);
  EXPECT_EQ(UncText(*ParseSmbUrl("smb://srv")), "\\\\srv");
  EXPECT_FALSE(ParseSmbUrl("smb://srv:0/x"));
  EXPECT_FALSE(ParseSmbUrl("smb://srv:99999/x"));
  EXPECT_FALSE(ParseSmbUrl("smb://user@srv/x"));  // credentials never come in a location
  EXPECT_FALSE(ParseSmbUrl("http://srv/x"));
}

// Every name that SmbUrl writes reads back as the same name: escapes at the ends of
// segments, literal "%" followed by hex digits, "#", ";", "?", blanks and UTF-8.
TEST(UncNames, UrlRoundTripKeepsAwkwardNames) {
  SetSmbHostPort("roundtrip", 2446);
  const TUncName names[] = {
      {"srv", "s%", "a%\\%41\\%4"},
      {"srv", "#share;", "x#y\\semi;colon\\q?mark\\ end "},
      {"roundtrip", "\xc3\xa9t\xc3\xa9", "\xe2\x82\xac%25\\%2F%5C"},
      {"srv", "s", "+&=@!$'()*,[]"},
  };
  for (const TUncName& name : names) {
    const std::string url = SmbUrl(name);
    const std::optional<TUncName> back = ParseSmbUrl(url);
    ASSERT_TRUE(back) << url;
    EXPECT_EQ(UncText(*back), UncText(name)) << url;
  }
}

TEST(ErrorLog, TwoWorkersAddingAtOnceGiveTwoCompleteLines) {
  TLogger log;
  int notified = 0;
  log.OnChange = [&](TLogger* sender) {
    EXPECT_EQ(sender, &log);
    ++notified;
  };
  std::barrier start(2);
  auto worker = [&](const char* server) {
    start.arrive_and_wait();
    log.AddError(ERROR_ACCESS_DENIED, Resource("SMB Network", server));
  };
  std::thread a(worker, "\\\\alpha");
  std::thread b(worker, "\\\\beta");
  a.join();
  b.join();
  EXPECT_EQ(notified, 0);  // adding does not notify; the worker has Changed run
  ASSERT_EQ(log.Count(), 2u);
  std::vector<std::string> lines{log.Line(0), log.Line(1)};
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines[0], "'SMB Network' \\\\alpha - Access is denied.");
  EXPECT_EQ(lines[1], "'SMB Network' \\\\beta - Access is denied.");
  log.Changed();
  EXPECT_EQ(notified, 1);
  log.Clear();
  EXPECT_EQ(log.Count(), 0u);
}

TEST(ErrorLog, LinesReadByIndexStayIntactWhileWorkersAppend) {
  TLogger log;
  constexpr size_t kLines = 3000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (size_t i = 0; i < kLines; ++i)
      log.AddError(ERROR_BAD_NETPATH, Resource("SMB Network", ("\\\\host" + std::to_string(i)).c_str()));
    done = true;
  });
  // The reader keeps a reference to the first line while the storage grows under it.
  size_t seen = 0;
  const std::string* first = nullptr;
  while (!done || seen < log.Count()) {
    size_t count = log.Count();
    if (count > 0 && first == nullptr) first = &log.Line(0);
    for (; seen < count; ++seen)
      ASSERT_EQ(log.Line(seen), "'SMB Network' \\\\host" + std::to_string(seen) +
                                    " - The network path was not found.");
  }
  writer.join();
  EXPECT_EQ(seen, kLines);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(*first, log.Line(0));
}

}  // namespace
