// Saves into a full file system: each kind of file the program writes raises the error the
// window shows (or, for the counter, returns -1 or reports the failed background write), keeps its old content byte for byte, and
// leaves no temporary file. The file system is a small tmpfs mounted in a mount namespace
// of this test's own; where mounting is not allowed, a file size limit of one byte stands
// in for the full disk.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <map>

#include "tests/reliability/SaveLoop.h"
#include "tests/storage/TestFolder.h"

namespace tarvok {
namespace {

class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = FFolder.Path() / "small-disk";
    std::filesystem::create_directories(FRoot);
    FMounted = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount("tmpfs", FRoot.c_str(), "tmpfs", 0, "size=512k") == 0;
    SetProgramDir(FRoot);
  }
  void TearDown() override {
    if (FMounted) ::umount2(FRoot.c_str(), MNT_DETACH);
    if (FLimited) ::setrlimit(RLIMIT_FSIZE, &FOldLimit);
  }
  void FillUp() {
    if (FMounted) {
      std::ofstream filler(FRoot / "filler", std::ios::binary);
      const std::string block(4096, 'x');
      while (filler.write(block.data(), block.size()) && filler.flush()) {}
      return;
    }
    std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &FOldLimit), 0);
    rlimit one = FOldLimit;
    one.rlim_cur = 1;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &one), 0);
    FLimited = true;
  }

  test::TTestFolder FFolder;
  std::filesystem::path FRoot;
  bool FMounted = false;
  bool FLimited = false;
  rlimit FOldLimit{};
};

TEST_F(FullDisk, EverySaveFailsLoudlyAndKeepsTheOldFile) {
  std::printf("[ full disk by %s ]\n", FMounted ? "a 512 KB tmpfs" : "a one-byte file size limit");
  CreateChatFolders();
  std::map<std::string, std::string> before;
  for (const auto& file : saveloop::SavedFiles()) {
    saveloop::Save(file, 1);
  }
  ASSERT_TRUE(FlushRequestCounts());
  for (const auto& file : saveloop::SavedFiles())
    before[file.Path] = ReadWholeFile(FRoot / PathFromUtf8(file.Path)).value_or("<missing>");
  FillUp();

  for (const auto& file : saveloop::SavedFiles()) {
    const std::filesystem::path path = FRoot / PathFromUtf8(file.Path);
    if (file.Kind == saveloop::TKind::Counter) {
      EXPECT_EQ(IncrementRequestCount(saveloop::kCounterKey, saveloop::kCounterModel), -1);
      EXPECT_EQ(GetRequestCount(saveloop::kCounterKey, saveloop::kCounterModel), 1);
      // Counted as a request counts: at once in memory; the write fails later, and the
      // count read back is the file's again.
      EXPECT_EQ(CountRequest(saveloop::kCounterKey, saveloop::kCounterModel), 2);
      EXPECT_FALSE(FlushRequestCounts()) << "the failed write is reported";
      EXPECT_EQ(GetRequestCount(saveloop::kCounterKey, saveloop::kCounterModel), 1);
    } else {
      try {
        saveloop::Save(file, 2);
        ADD_FAILURE() << file.Path << " was saved into a full file system";
      } catch (const TFileError& e) {
        const std::string text = e.what();
        EXPECT_TRUE(text.starts_with("Не удалось записать файл " + PathToUtf8(path))) << text;
      }
    }
    EXPECT_EQ(ReadWholeFile(path).value_or("<missing>"), before[file.Path]) << file.Path << " changed";
  }
  for (const auto& e : std::filesystem::recursive_directory_iterator(FRoot))
    EXPECT_NE(e.path().extension(), ".tmp") << e.path() << " was left behind";
}

}  // namespace
}  // namespace tarvok
