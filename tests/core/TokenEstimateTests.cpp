#include <gtest/gtest.h>

#include <filesystem>

#include <cstdint>
#include <limits>

#include "TempDir.h"
#include "core/TextAttachment.h"
#include "core/TokenEstimate.h"

using namespace tarvok;
using tarvok::test::TTempDir;

namespace {

const std::string kPictures = std::string(TARVOK_FIXTURES_DIR) + "/pictures/";

TContentPart Text(std::string t) {
  TContentPart p;
  p.Text = std::move(t);
  return p;
}

TContentPart Inline(std::string mime, std::string file, std::string text = {}) {
  TContentPart p;
  p.PartType = TPartType::ptInlineData;
  p.MimeType = std::move(mime);
  p.FileName = std::move(file);
  p.Text = std::move(text);
  return p;
}

}  // namespace

TEST(CountTokens, TextAndSmallTotals) {
  struct {
    const char* name;
    TContentParts parts;
    int tokens;
  } cases[] = {
      {"nothing", {}, 0},
      {"3 characters round up to 1", {Text("abc")}, 1},
      {"7 characters", {Text("abcdefg")}, 2},
      {"8 characters", {Text("abcdefgh")}, 3},
      {"length counts UTF-16 units, not bytes", {Text("\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\xF0\x9F\x98\x80")}, 3},
      {"empty text alone", {Text("")}, 0},
      {"text attachment counts its decoded text", {Inline("TEXT/plain", "/nonexistent", std::string(35, 'x'))}, 10},
      {"deleted attachment", {Inline("application/pdf", "/nonexistent/file.pdf")}, 0},
      {"unknown part type adds nothing", {[] { TContentPart p; p.PartType = static_cast<TPartType>(7); p.Text = "abcdefgh"; return p; }()}, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(CountTokens(c.parts), c.tokens) << c.name;
}

TEST(CountTokens, FilesByTheirSize) {
  TTempDir dir;
  const std::string pdf1M = dir.Write("a.pdf", std::string(1048576, 'p'));
  const std::string pdf100 = dir.Write("b.pdf", std::string(100, 'p'));
  const std::string empty = dir.Write("empty.bin", "");
  const std::string badPicture = dir.Write("bad.png", std::string(2 * 1048576, 'z'));
  const std::string textFile = dir.Write("t.txt", "\xEF\xBB\xBF" + std::string(34, 'x'));  // the mark counts too: 35 units
  struct {
    const char* name;
    TContentParts parts;
    int tokens;
  } cases[] = {
      {"PDF of 1 MiB", {Inline("application/pdf", pdf1M)}, 9600},
      {"PDF of 100 bytes rounds up", {Inline("application/pdf", pdf100)}, 1},
      {"unreadable picture of 2 MiB", {Inline("image/png", badPicture)}, 19200},
      {"existing empty file alone", {Inline("application/octet-stream", empty)}, 1},
      {"existing empty file after an empty text", {Text(""), Inline("application/octet-stream", empty)}, 0},
      {"text attachment read from its file", {Inline("text/plain", textFile)}, 10},
  };
  for (const auto& c : cases) EXPECT_EQ(CountTokens(c.parts), c.tokens) << c.name;
}

// Real pictures: header-only reads, tiles beyond 512 pixels, and the size rule for
// formats the loader does not read.
TEST(CountTokens, RealPictures) {
  struct {
    const char* file;
    int width, height;  // 0 when the loader cannot read it
    int tokens;
  } cases[] = {
      {"photo-512x512.jpg", 512, 512, 258},
      {"photo-513x100.png", 513, 100, 262},
      {"photo-1024x768-interlaced.png", 1024, 768, 266},
      {"photo-2000x1500.jpg", 2000, 1500, 282},
      {"photo-baseline.jpg", 720, 477, 262},
      {"photo-progressive.jpg", 720, 477, 262},
      {"photo-cmyk.jpg", 720, 477, 262},
      {"anim.gif", 320, 240, 258},
      {"old-gif87a.gif", 200, 150, 258},
      {"bitmap-v3.bmp", 640, 480, 262},
      {"bitmap-v5.bmp", 321, 123, 258},
      {"deep-16bit.png", 300, 200, 258},
      {"icon-rgba.png", 64, 48, 258},
      {"palette-8bit.png", 300, 200, 258},
      // Only the header is read, and it is whole.
      {"truncated-header-only.jpg", 2000, 1500, 282},
      {"photo-800x600.webp", 0, 0, 591},
      {"photo-800x600.heic", 0, 0, 636},
      {"not-a-picture.png", 0, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(std::filesystem::is_regular_file(kPictures + c.file)) << "fixture not found: " << kPictures + c.file;
    int w = -1, h = -1;
    EXPECT_EQ(GetImageDimensions(kPictures + c.file, w, h), c.width > 0);
    EXPECT_EQ(w, c.width);
    EXPECT_EQ(h, c.height);
    EXPECT_EQ(CountTokens({Inline("image/jpeg", kPictures + c.file)}), c.tokens);
  }
  int w = -1, h = -1;
  EXPECT_FALSE(GetImageDimensions(kPictures + "missing.png", w, h));
  EXPECT_EQ(w, 0);
  EXPECT_EQ(CountTokens({Inline("image/png", kPictures + "missing.png")}), 0);
}

// A bitmap header may claim any size up to 2^31 - 1 pixels a side; its tiles alone then
// pass the largest int, and the estimate stays at that largest value instead of wrapping.
TEST(CountTokens, AHugeClaimedPictureSaturates) {
  TTempDir dir;
  const auto le32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
  };
  const std::string header = "BM" + le32(54) + le32(0) + le32(54) + le32(40) + le32(0x7FFFFFFF) + le32(0x7FFFFFFF) +
                             std::string("\x01\x00\x18\x00", 4) + le32(0) + le32(0) + le32(2835) + le32(2835) + le32(0) + le32(0);
  const std::string huge = dir.Write("huge.bmp", header);
  int w = 0, h = 0;
  ASSERT_TRUE(GetImageDimensions(huge, w, h));
  EXPECT_EQ(w, 0x7FFFFFFF);
  EXPECT_EQ(CountTokens({Inline("image/bmp", huge)}), std::numeric_limits<int>::max());
  EXPECT_EQ(CountTokens({Inline("image/bmp", huge), Text(std::string(35, 'x'))}), std::numeric_limits<int>::max());
}

// A JPEG Huffman table has at most 256 codes. The picture reader built on Debian's stb
// writes past its table for more (a crafted header found by fuzzing); such a file is no
// picture, while a full table of 256 codes still reads.
TEST(GetImageDimensions, AJpegHuffmanTableOfMoreThan256CodesIsNoPicture) {
  TTempDir dir;
  const auto jpeg = [](int AFifteenBitCodes) {
    const int codes = AFifteenBitCodes + 255;
    const int length = 2 + 17 + codes;
    std::string j = "\xFF\xD8\xFF\xC4";
    j += static_cast<char>(length >> 8);
    j += static_cast<char>(length & 0xFF);
    j += '\0';  // DC table 0
    j += std::string(14, '\0');
    j += static_cast<char>(AFifteenBitCodes);
    j += static_cast<char>(255);
    j += std::string(static_cast<std::size_t>(codes), '\0');
    return j + std::string("\xFF\xC0\x00\x0B\x08\x00\x08\x00\x10\x01\x01\x11\x00", 13);
  };
  int w = 0, h = 0;
  EXPECT_TRUE(GetImageDimensions(dir.Write("full.jpg", jpeg(1)), w, h));
  EXPECT_EQ(w, 16);
  EXPECT_EQ(h, 8);
  EXPECT_FALSE(GetImageDimensions(dir.Write("overfull.jpg", jpeg(45)), w, h));
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
}

TEST(CountTokensForHistory, SumsTurnsIn32Bits) {
  TChatHistory h(3);
  h[0].TokenCount = 5;
  h[1].TokenCount = 2147483647;
  h[2].TokenCount = 1;
  EXPECT_EQ(CountTokensForHistory({}), 0);
  EXPECT_EQ(CountTokensForHistory(TChatHistory(h.begin(), h.begin() + 1)), 5);
  EXPECT_EQ(CountTokensForHistory(h), -2147483643);
}

TEST(IsValidUtf8, StructuralCheckOnly) {
  struct {
    const char* name;
    std::string bytes;
    bool valid;
  } cases[] = {
      {"empty", "", true},
      {"ASCII", "abc", true},
      {"Cyrillic and emoji", "\xD0\xB0\xF0\x9F\x98\x80", true},
      {"overlong form passes", "\xC0\x80", true},
      {"surrogate passes", "\xED\xA0\x80", true},
      {"above U+10FFFF passes", "\xF4\x90\x80\x80", true},
      {"cut off at the end", "ab\xD0", false},
      {"stray continuation byte", "\x80", false},
      {"lead byte F8", "\xF8\x80\x80\x80\x80", false},
      {"bad continuation", "\xD0\x41", false},
      {"Windows-1251 letters", "\xCF\xF0\xE8\xE2\xE5\xF2", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.name;
}

TEST(SanitizeTextFile, DecodesByMarkThenByCheck) {
  TTempDir dir;
  struct {
    const char* name;
    std::string bytes;
    std::string text;
  } cases[] = {
      {"UTF-8 with mark keeps U+FEFF", "\xEF\xBB\xBF\xD0\xB0" "b", "\xEF\xBB\xBF\xD0\xB0" "b"},
      {"UTF-8 without mark", "\xD0\xB0\r\nb", "\xD0\xB0\r\nb"},
      {"UTF-16 LE with mark", std::string("\xFF\xFE" "0\x04\x3D\xD8\x00\xDE", 8), "\xEF\xBB\xBF\xD0\xB0\xF0\x9F\x98\x80"},
      {"UTF-16 BE with mark", std::string("\xFE\xFF\x04\x30\x00" "A", 6), "\xEF\xBB\xBF\xD0\xB0" "A"},
      {"Windows-1251 letters", "\xCF\xF0\xE8\xE2\xE5\xF2", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"cut-off sequence falls back to the code page", "ab\xD0", "ab\xD0\xA0"},
      {"empty file", "", ""},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string file = dir.Write("f" + std::to_string(n++) + ".txt", c.bytes);
    EXPECT_EQ(SanitizeTextFile(file), c.text) << c.name;
  }
  EXPECT_EQ(SanitizeTextFile((dir.Path() / "missing.txt").string()), "");
  EXPECT_EQ(SanitizeTextFile(dir.Path().string()), "") << "a folder is not a readable file";
  EXPECT_EQ(SanitizeTextFile(""), "");
}
