// The single-instance guard between real processes (the helper program runs the guard).
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include "shell/one_copy.h"
#include "test_tray_qt_app.h"

namespace {

// Generous bounds that only keep a broken build from hanging the test run.
constexpr int kWaitMs = 20000;

class OneCopyTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureQApplication(); }

  QString InstancePath() const { return Dir.path() + "/instance"; }

  std::unique_ptr<QProcess> Start() {
    auto copy = std::make_unique<QProcess>();
    copy->setProgram(LQ_ONE_COPY_HELPER);
    copy->setArguments({InstancePath()});
    copy->start();
    return copy;
  }

  static QByteArray ReadLine(QProcess& copy) {
    while (!copy.canReadLine()) {
      if (!copy.waitForReadyRead(kWaitMs)) return {};
    }
    return copy.readLine().trimmed();
  }

  static void Kill(QProcess& copy) {
    copy.kill();
    copy.waitForFinished(kWaitMs);
  }

  QTemporaryDir Dir;
};

TEST_F(OneCopyTest, LaterCopyHandsOverAndEndsAlsoAfterFirstWasKilled) {
  auto first = Start();
  ASSERT_EQ(ReadLine(*first), "first");

  auto second = Start();
  ASSERT_TRUE(second->waitForFinished(kWaitMs));
  EXPECT_EQ(second->exitCode(), 3);
  EXPECT_EQ(second->readAllStandardOutput().trimmed(), "second");
  EXPECT_EQ(ReadLine(*first), "restored");

  // A killed copy leaves its socket file behind; it must not block the next start.
  Kill(*first);
  ASSERT_TRUE(QFile::exists(InstancePath()));
  auto next = Start();
  EXPECT_EQ(ReadLine(*next), "first");

  auto later = Start();
  ASSERT_TRUE(later->waitForFinished(kWaitMs));
  EXPECT_EQ(later->exitCode(), 3);
  EXPECT_EQ(ReadLine(*next), "restored");
  Kill(*next);
}

TEST_F(OneCopyTest, CopiesStartedTogetherLeaveExactlyOneRunning) {
  constexpr int kCopies = 4;
  std::vector<std::unique_ptr<QProcess>> copies;
  for (int i = 0; i < kCopies; ++i) copies.push_back(Start());

  int firsts = 0;
  int seconds = 0;
  QProcess* running = nullptr;
  for (auto& copy : copies) {
    const QByteArray line = ReadLine(*copy);
    if (line == "first") {
      ++firsts;
      running = copy.get();
    } else if (line == "second") {
      ASSERT_TRUE(copy->waitForFinished(kWaitMs));
      EXPECT_EQ(copy->exitCode(), 3);
      ++seconds;
    }
  }
  EXPECT_EQ(firsts, 1);
  EXPECT_EQ(seconds, kCopies - 1);
  ASSERT_NE(running, nullptr);
  // Every later copy reached the running one before it ended.
  for (int i = 0; i < kCopies - 1; ++i) EXPECT_EQ(ReadLine(*running), "restored");
  EXPECT_EQ(running->state(), QProcess::Running);
  for (auto& copy : copies) Kill(*copy);
}

TEST_F(OneCopyTest, ReleasedGuardLetsTheNextCopyBeFirst) {
  TOneCopy guard(InstancePath());
  ASSERT_TRUE(guard.CheckSingleInstance());
  EXPECT_TRUE(guard.CheckSingleInstance());  // a second call changes nothing
  guard.ReleaseSingleInstance();
  EXPECT_FALSE(QFile::exists(InstancePath()));

  auto next = Start();
  EXPECT_EQ(ReadLine(*next), "first");
  Kill(*next);
}

TEST_F(OneCopyTest, GuardThatCannotBeSetUpEndsTheCopy) {
  TOneCopy guard(Dir.path() + "/missing-folder/instance");
  EXPECT_FALSE(guard.CheckSingleInstance());
  EXPECT_FALSE(guard.IsFirstCopy());
}

}  // namespace
