// The Qt main-thread link that workers use to run steps on the window's thread.
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/QtMainThread.h"
#include "core/ApiKeyStats.h"
#include "core/GeminiDM.h"
#include "core/Platform.h"
#include "core/RequestThread.h"
#include "tools/gemini-emulator/GeminiEmulator.h"

namespace tarvok {
namespace {

TEST(QtMainThreadTest, AWorkerStepRunsOnTheMainThreadAndTheWorkerWaitsForIt) {
  TQtMainThread link;
  QThread* ranOn = nullptr;
  std::atomic<bool> returned{false};
  int value = 0;
  std::thread worker([&] {
    link.Synchronize([&] {
      ranOn = QThread::currentThread();
      value = 42;
    });
    returned = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 30000));
  worker.join();
  EXPECT_EQ(ranOn, QThread::currentThread());
  EXPECT_EQ(value, 42);
}

TEST(QtMainThreadTest, AnErrorInTheStepReachesTheWorker) {
  TQtMainThread link;
  std::atomic<bool> caught{false};
  std::thread worker([&] {
    try {
      link.Synchronize([] { throw std::runtime_error("step failed"); });
    } catch (const std::runtime_error&) {
      caught = true;
    }
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return caught.load(); }, 30000));
  worker.join();
}

TEST(QtMainThreadTest, CloseReleasesAWaitingWorkerAndDropsItsStep) {
  TQtMainThread link;
  std::atomic<bool> queued{false}, returned{false}, ran{false};
  std::thread worker([&] {
    queued = true;
    link.Synchronize([&] { ran = true; });
    returned = true;
  });
  // The main thread does not process events here, so the step can only be waiting.
  while (!queued) std::this_thread::yield();
  link.Close();
  worker.join();  // would hang if Close left the worker waiting
  EXPECT_TRUE(returned);
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran) << "a step of a closed link never runs";

  bool later = false;
  std::thread([&] { link.Synchronize([&] { later = true; }); }).join();
  QCoreApplication::processEvents();
  EXPECT_FALSE(later);
}

// A handed-over step runs on the main thread in its place among waited-for steps, the
// worker does not wait for it and its error goes nowhere. Once the link is closed, a step
// handed over before or after is released without running.
TEST(QtMainThreadTest, HandedOverStepsRunInOrderAndAClosedLinkReleasesThemUnrun) {
  TQtMainThread link;
  std::vector<std::string> order;
  QThread* ranOn = nullptr;
  std::thread([&] {
    link.Queue([&] {
      ranOn = QThread::currentThread();
      order.push_back("queued 1");
    });
    link.Queue([] { throw std::runtime_error("nobody hears this"); });
  }).join();  // returned without any event processed
  EXPECT_TRUE(order.empty());
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    link.Synchronize([&] { order.push_back("waited"); });
    link.Queue([&] { order.push_back("queued 2"); });
    returned = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load() && order.size() == 3; }, 30000));
  worker.join();
  EXPECT_EQ(order, (std::vector<std::string>{"queued 1", "waited", "queued 2"}));
  EXPECT_EQ(ranOn, QThread::currentThread());

  auto owned = std::make_shared<int>(7);
  std::weak_ptr<int> before = owned, after;
  bool ran = false;
  std::thread([&, owned = std::move(owned)]() mutable { link.Queue([&ran, keep = std::move(owned)] { ran = true; }); }).join();
  link.Close();
  QCoreApplication::processEvents();
  EXPECT_TRUE(before.expired()) << "a step queued before the close is released when its turn comes";
  auto other = std::make_shared<int>(8);
  after = other;
  std::thread([&, other = std::move(other)]() mutable { link.Queue([&ran, keep = std::move(other)] { ran = true; }); }).join();
  EXPECT_TRUE(after.expired()) << "a step handed to a closed link is released at once";
  EXPECT_FALSE(ran);
}

// The window closes while a request is on its way: the link drops the request's steps,
// but the request still goes out, so it is still counted, and its count reaches the file.
TEST(QtMainThreadTest, ARequestPendingWhenTheWindowClosesIsStillCounted) {
  FlushRequestCounts();  // nothing of earlier tests still to write
  QTemporaryDir dir;
  SetProgramDir(dir.path().toStdString());
  emulator::TGeminiEmulator server;
  server.Start();
  TQtMainThread link;
  TGeminiDM dm(link);
  dm.GeminiApiUrlBase = server.UrlPattern();
  link.Close();
  bool completed = false;
  dm.GenerateContent("key-1", "gemini-2.5-flash", {{TPartType::ptText, "Hi", "", {}, ""}}, false,
                     MakeCallback([&](const std::string&, const TTokenUsage&, const TResultFlags&) { completed = true; }),
                     false);
  ASSERT_TRUE(QTest::qWaitFor([] { return TGeminiRequestThread::ActiveCount() == 0; }, 30000));
  EXPECT_EQ(server.Requests().size(), 1u) << "the request went out";
  EXPECT_FALSE(completed) << "a closed window hears nothing";
  ASSERT_TRUE(FlushRequestCounts());
  EXPECT_EQ(GetRequestCount("key-1", "gemini-2.5-flash"), 1) << "read back from the file";
}

}  // namespace
}  // namespace tarvok
