#include <gtest/gtest.h>

#include <thread>

#include "os/named_mutex.h"

namespace {

// Runs body on another thread and waits for it: ownership is per thread.
template <class Body>
void OnOtherThread(Body body) {
  std::thread t(body);
  t.join();
}

TEST(NamedMutex, SameNameIsOneLockAcrossObjects) {
  TMutex a("TEST_MUTEX_SHARED");
  TMutex b("TEST_MUTEX_SHARED");
  TMutex other("TEST_MUTEX_OTHER");
  ASSERT_TRUE(a.WaitFor(INFINITE));
  OnOtherThread([&] {
    EXPECT_FALSE(b.WaitFor(0));
    EXPECT_TRUE(other.WaitFor(0));
    EXPECT_TRUE(other.Release());
  });
  EXPECT_TRUE(b.Release());  // same lock, same owning thread
  OnOtherThread([&] {
    EXPECT_TRUE(b.WaitFor(0));
    EXPECT_TRUE(b.Release());
  });
}

TEST(NamedMutex, OnlyTheOwnerReleasesAndEachWaitNeedsARelease) {
  TMutex m("TEST_MUTEX_OWNER");
  EXPECT_FALSE(m.Release());  // not owned at all
  ASSERT_TRUE(m.WaitFor(0));
  ASSERT_TRUE(m.WaitFor(0));  // the owner may acquire again
  OnOtherThread([&] { EXPECT_FALSE(m.Release()); });
  EXPECT_TRUE(m.Release());
  OnOtherThread([&] { EXPECT_FALSE(m.WaitFor(0)); });  // still held once
  EXPECT_TRUE(m.Release());
  EXPECT_FALSE(m.Release());
}

TEST(NamedMutex, UnlimitedWaitGetsTheMutexOnceReleased) {
  TMutex m("TEST_MUTEX_HANDOFF");
  ASSERT_TRUE(m.WaitFor(INFINITE));
  std::atomic<bool> acquired{false};
  std::thread waiter([&] {
    TMutex mine("TEST_MUTEX_HANDOFF");
    acquired = mine.WaitFor(INFINITE);
    EXPECT_TRUE(mine.Release());
  });
  EXPECT_TRUE(m.Release());
  waiter.join();
  EXPECT_TRUE(acquired);
}

}  // namespace
