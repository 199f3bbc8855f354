// The Qt main-thread link that workers use to run steps on the window's thread.
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <stdexcept>
#include <thread>

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
