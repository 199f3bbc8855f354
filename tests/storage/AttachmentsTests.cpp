#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "core/TokenEstimate.h"
#include "storage/Attachments.h"
#include "storage/Base64.h"
#include "TestFolder.h"

namespace tarvok {
namespace {

using test::TTestFolder;

TEST(Attachments, MapsEveryExtensionOfTheTableInAnyCase) {
  struct Row {
    std::string_view Mime, Extensions;
  } rows[] = {
      {"image/jpeg", ".jpg .jpeg"},
      {"image/png", ".png"},
      {"image/webp", ".webp"},
      {"image/heic", ".heic"},
      {"image/heif", ".heif"},
      {"audio/wav", ".wav"},
      {"audio/mp3", ".mp3"},
      {"audio/aiff", ".aiff"},
      {"audio/aac", ".aac"},
      {"audio/ogg", ".ogg"},
      {"audio/flac", ".flac"},
      {"video/mp4", ".mp4"},
      {"video/mpeg", ".mpeg"},
      {"video/mov", ".mov"},
      {"video/avi", ".avi"},
      {"video/x-flv", ".x-flv"},
      {"video/mpg", ".mpg"},
      {"video/webm", ".webm"},
      {"video/wmv", ".wmv"},
      {"video/3gpp", ".3gpp"},
      {"text/plain", ".txt .json .pas .dfm .log .sh .yaml .yml .toml .ini .env .sql .makefile .cmake .dockerfile .dockerignore .tf .tfvars .jsx .vue .svelte .scss .sass .less .pl .lua .vbs .bas .cob .f90 .properties .asciidoc .adoc .creole .docbook .rst .tex .conf .cfg .bash .zsh .ksh"},
      {"text/markdown", ".md"},
      {"text/csv", ".csv"},
      {"text/tab-separated-values", ".tsv"},
      {"text/xml", ".xml"},
      {"text/html", ".html .htm"},
      {"text/css", ".css"},
      {"text/javascript", ".js"},
      {"text/x-typescript", ".ts"},
      {"text/x-python", ".py"},
      {"text/x-java", ".java"},
      {"text/x-c++src", ".cpp"},
      {"text/x-csrc", ".c"},
      {"text/x-ruby", ".rb"},
      {"text/x-php", ".php"},
      {"text/rtf", ".rtf"},
      {"application/pdf", ".pdf"},
      {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", ".docx"},
      {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", ".xlsx"},
      {"application/vnd.openxmlformats-officedocument.presentationml.presentation", ".pptx"},
  };
  std::size_t extensions = 0;
  for (const Row& r : rows) {
    std::istringstream in{std::string(r.Extensions)};
    for (std::string ext; in >> ext;) {
      ++extensions;
      EXPECT_EQ(GetMimeTypeFromFileExt("file" + ext), r.Mime) << ext;
      std::string upper = ext;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      EXPECT_EQ(GetMimeTypeFromFileExt("/home/u/FILE" + upper), r.Mime) << upper;
    }
  }
  EXPECT_EQ(extensions, 83u) << "the table above lost a row";
}

TEST(Attachments, TakesTheExtensionAfterTheLastSeparatorOnly) {
  struct Case {
    std::string_view Name, Mime;
  } cases[] = {
      {"Photo.JPG", "image/jpeg"},
      {"build.Makefile", "text/plain"},
      {"notes", ""},
      {"archive.zip", ""},
      {"clip.flv", ""},
      {"clip.x-flv", "video/x-flv"},
      {"Dockerfile", ""},
      {"x.dockerfile", "text/plain"},
      {"a.ksh", "text/plain"},
      {"/home/u/docs.old/readme", ""},
      {"C:\\docs.old\\readme", ""},
      {"C:\\docs.old\\readme.md", "text/markdown"},
      {"archive.tar.gz", ""},
      {"report.txt.pdf", "application/pdf"},
      {"trailing.", ""},
      {".env", "text/plain"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(GetMimeTypeFromFileExt(c.Name), c.Mime) << c.Name;
  EXPECT_TRUE(IsTextMimeType("text/rtf"));
  EXPECT_TRUE(IsTextMimeType("TEXT/Plain"));
  EXPECT_FALSE(IsTextMimeType("application/pdf"));
  EXPECT_FALSE(IsTextMimeType("text"));
}

// Bytes that differ from one 3-byte group to the next, so a misplaced piece shows.
std::string Pattern(std::size_t ASize) {
  std::string bytes(ASize, '\0');
  for (std::size_t i = 0; i < ASize; ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
  return bytes;
}

TEST(Attachments, EncodesTextFilesAsUtf8AndOtherFilesRaw) {
  TTestFolder folder;
  struct Case {
    const char* Name;
    std::string Bytes;
    std::string Base64;
    std::string Text;
  } cases[] = {
      {"ascii.txt", "plain text\n", Base64Encode("plain text\n"), "plain text\n"},
      {"bom.md", "\xEF\xBB\xBFhi", "77u/aGk=", "\xEF\xBB\xBFhi"},
      {"utf16.txt", std::string("\xFF\xFEh\0i\0", 6), "77u/aGk=", "\xEF\xBB\xBFhi"},
      {"legacy.txt", "\xCF\xF0\xE8\xE2\xE5\xF2", Base64Encode("Привет"), "Привет"},
      {"utf8.py", "print('Привет')", Base64Encode("print('Привет')"), "print('Привет')"},
      {"empty.txt", "", "", ""},
      {"empty.png", "", "", ""},
      // Not text: the bytes go as they are, even when they are not UTF-8.
      {"raw.png", "\x89PNG\r\n\x1A\n\xCF\xF0", Base64Encode("\x89PNG\r\n\x1A\n\xCF\xF0"), ""},
      {"unknown.bin", "\xCF\xF0", "z/A=", ""},
      // Big files are read in pieces of 3 MiB: one whole piece, and pieces with a tail of 1 and 2 bytes.
      {"one-piece.mp4", Pattern(3 << 20), Base64Encode(Pattern(3 << 20)), ""},
      {"piece-and-1.mp4", Pattern((3 << 20) + 1), Base64Encode(Pattern((3 << 20) + 1)), ""},
      {"pieces-and-2.mp4", Pattern((6 << 20) + 2), Base64Encode(Pattern((6 << 20) + 2)), ""},
  };
  for (const Case& c : cases) {
    std::string text = "stale";
    EXPECT_EQ(FileToBase64(folder.Write(c.Name, c.Bytes), text), c.Base64) << c.Name;
    EXPECT_EQ(text, c.Text) << c.Name;
  }
  std::string text = "stale";
  EXPECT_EQ(FileToBase64(folder.File("missing.png"), text), "");
  EXPECT_EQ(text, "");
  std::filesystem::create_directories(folder.Path() / "folder.png");
  EXPECT_EQ(FileToBase64(folder.File("folder.png"), text), "") << "a folder is not a file";
}

TContentPart Text(std::string AText) {
  TContentPart p;
  p.Text = std::move(AText);
  return p;
}

TContentPart File(std::string AName) {
  TContentPart p;
  p.PartType = TPartType::ptInlineData;
  p.MimeType = "application/pdf";
  p.Base64Data = TSharedText("JVBERi0=");
  p.FileName = std::move(AName);
  return p;
}

TEST(Attachments, DeletesOneFileFromAStoredTurn) {
  const std::string a = "C:\\docs\\A.pdf", b = "C:\\docs\\B.pdf";
  struct Case {
    const char* Name;
    TContentParts Parts;
    int Index;
    std::string FileName;
    bool Changed;
    std::vector<std::size_t> PartsLeft;  // parts per turn afterwards
  } cases[] = {
      {"blank text left: the turn goes", {Text(" \t\r\n"), File(a)}, 1, a, true, {1, 1}},
      {"every copy of the file goes, the turn stays", {Text("hi"), File(a), File(b), File(a)}, 1, a, true, {1, 2, 1}},
      {"another file keeps the turn", {Text(""), File(a), File(b)}, 1, a, true, {1, 2, 1}},
      {"letter case differs", {Text("hi"), File(a)}, 1, "c:\\docs\\a.pdf", false, {1, 2, 1}},
      {"a text part of that name is not a file", {Text("hi")}, 1, "", false, {1, 1, 1}},
      {"index past the end", {Text("hi"), File(a)}, 3, a, false, {1, 2, 1}},
      {"negative index", {Text("hi"), File(a)}, -1, a, false, {1, 2, 1}},
  };
  for (const Case& c : cases) {
    TChatHistory h(3);
    h[0].Parts = {Text("first")};
    h[0].TokenCount = 10;
    h[1].Parts = c.Parts;
    h[1].TokenCount = 1000;
    h[2].Parts = {Text("last")};
    h[2].TokenCount = 20;
    std::int32_t tokens = 1030;
    EXPECT_EQ(DeleteFileFromHistory(h, tokens, c.Index, c.FileName), c.Changed) << c.Name;
    std::vector<std::size_t> left;
    for (const THistoryItem& item : h) left.push_back(item.Parts.size());
    EXPECT_EQ(left, c.PartsLeft) << c.Name;
    EXPECT_EQ(h.back().Parts[0].Text, "last") << c.Name;
    if (c.Changed) {
      EXPECT_EQ(tokens, CountTokensForHistory(h)) << c.Name;
      if (h.size() == 3) {
        EXPECT_EQ(h[1].TokenCount, CountTokens(h[1].Parts)) << c.Name << ": the turn is recounted";
      }
    } else {
      EXPECT_EQ(tokens, 1030) << c.Name;
      EXPECT_EQ(h[1].TokenCount, 1000) << c.Name;
    }
  }
}

}  // namespace
}  // namespace tarvok
