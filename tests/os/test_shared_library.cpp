// Entry points bound from a library opened at run time: all of them or none, so a caller
// that checks one member never calls through a half-bound table.
#include <unistd.h>

#include <gtest/gtest.h>

#include "os/shared_library.h"

// A name no library exports, declared so that the table can take its type.
extern "C" int lq_entry_point_nobody_exports(void);

namespace {

#define LQ_TEST_PRESENT(X) X(getpid) X(getppid)
#define LQ_TEST_ONE_MISSING(X) X(getpid) X(lq_entry_point_nobody_exports) X(getppid)

struct TPresent {
  LQ_TEST_PRESENT(LQ_DECLARE_ENTRY_POINT)
};
struct TOneMissing {
  LQ_TEST_ONE_MISSING(LQ_DECLARE_ENTRY_POINT)
};

TEST(SharedLibrary, BindsEveryEntryPointOrNone) {
  const TPresent present = LQ_LOAD_ENTRY_POINTS(TPresent, "libc.so.6", LQ_TEST_PRESENT);
  ASSERT_NE(present.getpid, nullptr);
  EXPECT_EQ(present.getpid(), getpid());
  EXPECT_EQ(present.getppid(), getppid());

  const TOneMissing partial = LQ_LOAD_ENTRY_POINTS(TOneMissing, "libc.so.6", LQ_TEST_ONE_MISSING);
  EXPECT_EQ(partial.getpid, nullptr);
  EXPECT_EQ(partial.getppid, nullptr);

  const TPresent absent = LQ_LOAD_ENTRY_POINTS(TPresent, "liblanternquest-absent.so.9", LQ_TEST_PRESENT);
  EXPECT_EQ(absent.getpid, nullptr);
  EXPECT_EQ(absent.getppid, nullptr);
}

}  // namespace
