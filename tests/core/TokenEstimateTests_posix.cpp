// Special files that exist only on POSIX systems.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "TempDir.h"
#include "core/TextAttachment.h"
#include "core/TokenEstimate.h"

using namespace tarvok;
using tarvok::test::TTempDir;

namespace {

// A FIFO named like a picture (an attachment, a stored file name) must not block the estimate.
TEST(CountTokens, AFifoNamedLikeAPictureIsNoPicture) {
  TTempDir dir;
  const std::filesystem::path fifo = dir.Path() / "shot.png";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto estimate = std::async(std::launch::async, [&] {
    int w = 0, h = 0;
    return GetImageDimensions(fifo.string(), w, h);
  });
  const bool finished = estimate.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  if (!finished) {
    const int unblock = ::open(fifo.c_str(), O_WRONLY);  // lets the blocked open return
    ::close(unblock);
  }
  ASSERT_TRUE(finished) << "the estimate blocked on the FIFO";
  EXPECT_FALSE(estimate.get());
}

}  // namespace
