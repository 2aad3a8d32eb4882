// The thread-safe getpwuid and iconv that let connection set-ups overlap: in force for
// the process, and sound when several threads use them at once.
#include <gtest/gtest.h>

#include <iconv.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "smb/libc_shims.h"

namespace {

TEST(LibcShims, EachThreadKeepsItsOwnUserEntry) {
  ASSERT_TRUE(LibcShimsActive());  // a library loaded later binds to the stand-ins
  passwd expected{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  ASSERT_EQ(getpwuid_r(getuid(), &expected, buffer.data(), buffer.size(), &found), 0);
  ASSERT_NE(found, nullptr);
  const passwd* mine = getpwuid(getuid());
  const passwd* theirs = nullptr;
  std::string theirName;
  std::thread other([&] {
    theirs = getpwuid(getuid());
    theirName = theirs ? theirs->pw_name : "";
  });
  other.join();
  ASSERT_NE(mine, nullptr);
  EXPECT_NE(mine, theirs);  // the C library's own returns one buffer to everybody
  EXPECT_STREQ(mine->pw_name, expected.pw_name);
  EXPECT_EQ(theirName, expected.pw_name);
}

// The library converts with one descriptor that every thread shares; the descriptor holds
// the buffers of the call in progress, so unguarded calls write into each other's memory.
TEST(LibcShims, ConversionsOnOneSharedDescriptorStayCorrectFromManyThreads) {
  iconv_t shared = iconv_open("CP850", "UTF-8");
  ASSERT_NE(shared, reinterpret_cast<iconv_t>(-1));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      const std::string letter = t % 2 ? "\xC3\xA4" : "\xC3\xA9";  // ä, é
      const char expected = t % 2 ? '\x84' : '\x82';             // in code page 850
      for (int i = 0; i < 2000; ++i) {
        std::string in(static_cast<size_t>(40 + t), 'a');
        in += letter;
        std::vector<char> out(in.size());
        char* from = in.data();
        char* to = out.data();
        size_t fromLeft = in.size(), toLeft = out.size();
        if (iconv(shared, &from, &fromLeft, &to, &toLeft) != 0 || fromLeft != 0 || to[-1] != expected ||
            std::string(out.data(), static_cast<size_t>(40 + t)) != std::string(static_cast<size_t>(40 + t), 'a'))
          ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  iconv_close(shared);
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
