// The Qt UI hand-off: calls run on the GUI thread while their worker waits, a modal
// loop inside a call holds other workers back, and a waiter can still drain them.
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "page/test_page_support.h"

using namespace lqtest;

namespace {

class UiThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureApplication(); }
  TQtUiThread Hand;
};

}  // namespace

TEST_F(UiThreadTest, CallRunsOnGuiThreadWhileWorkerWaits) {
  const auto gui = std::this_thread::get_id();
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  int value = 0;
  std::thread worker([&] {
    Hand.InvokeAndWait([&] { ranOn = std::this_thread::get_id(); value = 42; });
    EXPECT_EQ(value, 42) << "the worker resumes only after the call has run";
    returned = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 60000));
  worker.join();
  EXPECT_EQ(ranOn, gui);

  bool direct = false;
  Hand.InvokeAndWait([&] { direct = true; });  // on the GUI thread: at once
  EXPECT_TRUE(direct);
}

TEST_F(UiThreadTest, ExceptionReachesTheWaitingWorker) {
  std::atomic<bool> caught{false};
  std::thread worker([&] {
    try {
      Hand.InvokeAndWait([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error&) {
      caught = true;
    }
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return caught.load(); }, 60000));
  worker.join();
}

// A call that shows a modal loop (a message box) keeps the window alive, but the calls
// of other workers wait until it has returned.
TEST_F(UiThreadTest, ModalLoopInsideACallHoldsOtherWorkers) {
  std::atomic<bool> secondPosted{false}, secondRan{false}, firstEnded{false};
  bool secondRanDuringModal = true;
  int timerTicks = 0;
  std::thread second;
  std::thread first([&] {
    Hand.InvokeAndWait([&] {
      second = std::thread([&] {
        secondPosted = true;
        Hand.InvokeAndWait([&] { secondRan = true; });
      });
      QEventLoop modal;
      QTimer tick;
      QObject::connect(&tick, &QTimer::timeout, [&] {
        // The window keeps processing events; the second call must not run in here.
        if (++timerTicks >= 20 && secondPosted) modal.quit();
      });
      tick.start(1);
      modal.exec();
      secondRanDuringModal = secondRan;
    });
    firstEnded = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return firstEnded && secondRan; }, 60000));
  first.join();
  second.join();
  EXPECT_FALSE(secondRanDuringModal);
  EXPECT_GE(timerTicks, 20);
}

// A worker that raises a notification while a call shows a modal loop is held until the
// call returns, and the notification runs after it, on the GUI thread.
TEST_F(UiThreadTest, ModalLoopInsideACallHoldsRaisingWorkers) {
  const auto gui = std::this_thread::get_id();
  std::atomic<bool> raiserStarted{false}, raiseReturned{false}, firstEnded{false};
  std::atomic<int> ran{0};
  bool returnedDuringModal = true, ranDuringModal = true, ranOnGui = false;
  TUiNotification notice([&] {
    ranOnGui = std::this_thread::get_id() == gui;
    ++ran;
  });
  std::thread raiser;
  std::thread first([&] {
    UiThread().InvokeAndWait([&] {  // notifications go to the process's hand-off
      raiser = std::thread([&] {
        raiserStarted = true;
        notice.Raise();
        raiseReturned = true;
      });
      QEventLoop modal;
      QTimer tick;
      int ticks = 0;
      QObject::connect(&tick, &QTimer::timeout, [&] {
        if (++ticks >= 20 && raiserStarted) modal.quit();
      });
      tick.start(1);
      modal.exec();
      returnedDuringModal = raiseReturned;
      ranDuringModal = ran > 0;
    });
    firstEnded = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return firstEnded && ran > 0; }, 60000));
  first.join();
  raiser.join();
  EXPECT_FALSE(returnedDuringModal);
  EXPECT_FALSE(ranDuringModal);
  EXPECT_TRUE(ranOnGui);
  EXPECT_EQ(ran.load(), 1);
}

TEST_F(UiThreadTest, PumpDrainsCallsEvenInsideACall) {
  std::atomic<bool> innerRan{false};
  bool ranInside = false;
  std::thread inner;
  std::thread outer([&] {
    Hand.InvokeAndWait([&] {
      // Like a manager destroyed inside a notification: it pumps until its worker is done.
      inner = std::thread([&] { Hand.InvokeAndWait([&] { innerRan = true; }); });
      while (!innerRan) Hand.PumpUiCalls(100);
      ranInside = true;
    });
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return ranInside; }, 60000));
  outer.join();
  inner.join();
}

TEST_F(UiThreadTest, WakeEndsAnUnboundedPump) {
  std::thread waker([&] { Hand.Wake(); });
  Hand.PumpUiCalls(-1);  // returns because of the wake, not a call
  waker.join();
  SUCCEED();
}

// A storm of raises runs in few drains, put off while they come faster than the drain
// gap; a call that arrives meanwhile still runs after everything raised before it, and
// its worker resumes.
TEST_F(UiThreadTest, CallAfterAStormOfRaisesRunsLast) {
  std::vector<const char*> order;  // GUI thread only
  TUiNotification notice([&] { order.push_back("notice"); });
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 20000; ++i) notice.Raise();
    UiThread().InvokeAndWait([&] { order.push_back("call"); });
    done = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 60000));
  worker.join();
  ASSERT_GE(order.size(), 2u);
  EXPECT_STREQ(order.back(), "call");
  EXPECT_STREQ(order[order.size() - 2], "notice");
  EXPECT_LT(order.size(), 20001u) << "raises that wait together run once";
}
