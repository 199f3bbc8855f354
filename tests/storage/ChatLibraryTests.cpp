#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/Files.h"
#include "storage/ChatFile.h"
#include "storage/ChatLibrary.h"
#include "TestFolder.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using test::TTestFolder;

TEST(ChatLibrary, MakesSafeFileNames) {
  struct Case {
    std::string_view Text, Safe;
  } cases[] = {
      {"Plan: A/B?", "Plan_ A_B_"},
      {"a\"b*c/d:e<f>g?h\\i|j", "a_b_c_d_e_f_g_h_i_j"},
      {"line\r\nbreak\ttab", "line__break_tab"},
      {"   ", "part"},
      {"", "part"},
      {"  Привет мир  ", "Привет мир"},
      {"..", "__"},
      {".", "_"},
      {"...", "..."},
      {"C:\\Windows\\..\\x", "C__Windows_.._x"},
  };
  for (const Case& c : cases) EXPECT_EQ(MakeSafeFileName(c.Text), c.Safe) << c.Text;
}

TEST(ChatLibrary, ShowsChatFileNamesWithoutStampAndUnderscores) {
  struct Case {
    std::string_view File, Shown;
  } cases[] = {
      {"report_2024_2025-01-01_120000.json", "report"},
      {"Plan_ A_B__2025-01-01_120000.json", "Plan  A B "},
      {"chat_2025-01-01_120000.json", "chat"},
      {"_2025-01-01_120000.json", " 2025-01-01 120000"},
      {"hand made.json", "hand made"},
      {"v1.2_notes.json", "v1.2 notes"},
  };
  for (const Case& c : cases) EXPECT_EQ(ChatDisplayName(c.File), c.Shown) << c.File;
}

THistoryItem Turn(std::string ARole, std::vector<TContentPart> AParts) {
  THistoryItem item;
  item.Role = std::move(ARole);
  item.Parts = std::move(AParts);
  return item;
}
TContentPart Text(std::string AText) {
  TContentPart p;
  p.Text = std::move(AText);
  return p;
}
TContentPart Picture() {
  TContentPart p;
  p.PartType = TPartType::ptInlineData;
  p.MimeType = "image/png";
  p.FileName = "/tmp/Title from a file.png";
  return p;
}

TEST(ChatLibrary, NamesANewChatAfterItsFirstUserText) {
  TTestFolder folder;
  const TDateTime now = EncodeDateTime({2025, 1, 2, 3, 4, 5, 678});
  const std::string sixty(60, 'x');
  struct Case {
    const char* Name;
    TChatHistory History;
    std::string File;
  } cases[] = {
      {"plain title", {Turn("user", {Text("Plan: A/B?")}), Turn("model", {Text("ok")})}, "Plan_ A_B__2025-01-02_030405.json"},
      {"only blanks", {Turn("user", {Text("    ")})}, "part_2025-01-02_030405.json"},
      {"no user text", {Turn("model", {Text("hello")}), Turn("user", {Picture(), Text("second")})}, "chat_2025-01-02_030405.json"},
      {"the first user text turn counts",
       {Turn("user", {Picture()}), Turn("model", {Text("m")}), Turn("user", {Text("later")})},
       "later_2025-01-02_030405.json"},
      {"cut to 50", {Turn("user", {Text(sixty)})}, std::string(50, 'x') + "_2025-01-02_030405.json"},
      {"cut in UTF-16 units", {Turn("user", {Text(std::string(49, 'a') + "\xF0\x9F\x98\x80" + "tail")})},
       std::string(49, 'a') + "_2025-01-02_030405.json"},
      {"blanks at the cut are trimmed", {Turn("user", {Text(std::string(48, 'a') + "   and more")})},
       std::string(48, 'a') + "_2025-01-02_030405.json"},
      {"a part infix is broken", {Turn("user", {Text("fix my_part_2")})}, "fix my-part_2_2025-01-02_030405.json"},
      {"infixes sharing an underscore", {Turn("user", {Text("a_part_part_b")})}, "a-part-part_b_2025-01-02_030405.json"},
      {"a title ending in _part", {Turn("user", {Text("see x_part")})}, "see x-part_2025-01-02_030405.json"},
  };
  CreateChatFolders();
  for (const Case& c : cases) {
    const std::string path = NewChatFilePath(c.History, now);
    EXPECT_EQ(path, PathToUtf8(fs::path(ChatsDir()) / PathFromUtf8(c.File))) << c.Name;
    WriteFileAtomic(PathFromUtf8(path), "{}");
    const auto listed = ListChatFiles();
    EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [&](const TChatFileInfo& f) { return f.Path == path; })) << c.Name;
    fs::remove(PathFromUtf8(path));
  }
  // A name that is taken moves the stamp on instead of overwriting another chat.
  WriteFileAtomic(fs::path(ChatsDir()) / "hi_2025-01-02_030405.json", "{}");
  WriteFileAtomic(fs::path(ChatsDir()) / "hi_2025-01-02_030406.json", "{}");
  EXPECT_EQ(NewChatFilePath({Turn("user", {Text("hi")})}, now), PathToUtf8(fs::path(ChatsDir()) / "hi_2025-01-02_030407.json"));
}

TEST(ChatLibrary, ListsMainChatFilesNewestFirst) {
  TTestFolder folder;
  EXPECT_TRUE(LoadChatList().empty());
  EXPECT_TRUE(fs::is_directory(ChatsDir())) << "listing makes the folder";
  CreateChatFolders();
  const fs::path chats = ChatsDir();
  for (const char* name : {"b_2025-01-01_120000.json", "A_2024-05-05_100000.JSON", "x_part_01_y.json", "notes.txt"})
    WriteFileAtomic(chats / name, "{}");
  WriteFileAtomic(chats / "subchats" / "c_2025-01-01_120000.json", "{}");
  fs::create_directories(chats / "folder.json");
  std::vector<TChatEntry> listed = LoadChatList();
  std::sort(listed.begin(), listed.end(), [](const TChatEntry& a, const TChatEntry& b) { return a.Text < b.Text; });
  EXPECT_EQ(listed, (std::vector<TChatEntry>{{"A", PathToUtf8(chats / "A_2024-05-05_100000.JSON")},
                                             {"b", PathToUtf8(chats / "b_2025-01-01_120000.json")}}));
  EXPECT_GT(FileCreationTimeNs(PathToUtf8(chats / "notes.txt")), 0);
  EXPECT_EQ(FileCreationTimeNs(PathToUtf8(chats / "missing.json")), 0);

  // The order rests on the creation time alone, not on the name.
  const std::vector<TChatEntry> ordered =
      ChatListEntries({{"/c/old_2099-01-01_000000.json", 100}, {"/c/new_2000-01-01_000000.json", 300}, {"/c/mid.json", 200},
                       {"/c/same-b.json", 50}, {"/c/same-a.json", 50}});
  std::vector<std::string> texts;
  for (const TChatEntry& e : ordered) texts.push_back(e.Text);
  EXPECT_EQ(texts, (std::vector<std::string>{"new", "mid", "old", "same-b", "same-a"}));
}

TEST(ChatLibrary, SavingAChatAgainKeepsItsPlaceInTheList) {
  if (test::RunningUnderWine()) GTEST_SKIP() << "Wine's ReplaceFileW gives the file a new creation time";
  TTestFolder folder;
  CreateChatFolders();
  const auto chat = [](const char* AText, int ASecond) {
    const TChatHistory history{Turn("user", {Text(AText)})};
    const std::string path = NewChatFilePath(history, EncodeDateTime({2025, 1, 1, 12, 0, ASecond, 0}));
    WriteChatFile(path, history);
    return path;
  };
  const std::string a = chat("A", 0);
  chat("B", 1);
  WriteChatFile(a, {Turn("user", {Text("A")}), Turn("model", {Text("answer")})});
  WriteFileAtomic(fs::path(ChatsDir()) / "hand made.json", "{}");  // no stamp: its file time, which is now
  std::vector<std::string> texts;
  for (const TChatEntry& e : LoadChatList()) texts.push_back(e.Text);
  EXPECT_EQ(texts, (std::vector<std::string>{"hand made", "B", "A"}));

  struct Case {
    std::string_view Name;
    bool Stamped;
  } cases[] = {
      {"A_2025-01-01_120000.json", true}, {"_2025-12-31_235959.json", true}, {"A_2025-13-01_120000.json", false},
      {"A_2025-01-01_126000.json", false}, {"A_2025-01-01_12000.json", false}, {"A_2025-01-01-120000.json", false},
      {"hand made.json", false},
  };
  for (const Case& c : cases) {
    TDateTimeParts stamp;
    EXPECT_EQ(ChatNameStamp(c.Name, stamp), c.Stamped) << c.Name;
  }
}

class ChatParts : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateChatFolders();
    FChat = PathToUtf8(fs::path(ChatsDir()) / "chat_2025-01-01_120000.json");
    WriteFileAtomic(FChat, "{}");
  }
  std::string Part(const std::string& AName) {
    const std::string path = PathToUtf8(PathFromUtf8(SubchatsDir()) / PathFromUtf8(AName));
    WriteFileAtomic(PathFromUtf8(path), "{}");
    return path;
  }
  TTestFolder FFolder;
  std::string FChat;
};

TEST_F(ChatParts, ListsPartsSortedWithoutRegardToCase) {
  const std::string p1 = Part("chat_2025-01-01_120000_part_01_Ideas.json");
  const std::string p2 = Part("chat_2025-01-01_120000_part_02_Plan_B.json");
  const std::string p99 = Part("chat_2025-01-01_120000_part_99_late.json");
  const std::string p100 = Part("chat_2025-01-01_120000_part_100_later.json");
  const std::string upper = Part("chat_2025-01-01_120000_PART_03_x.json");  // not this chat's prefix
  const std::string odd = Part("chat_2025-01-01_120000_part_x7_Odd.json");
  Part("chat_2025-01-01_120001_part_01_other.json");
  Part("chat_2025-01-01_120000_part_05_notes.txt");
  const std::vector<TChatEntry> expected = {
      {"Начало", FChat}, {"1. Ideas", p1}, {"2. Plan B", p2}, {"100. later", p100}, {"99. late", p99}, {"0. Odd", odd},
  };
  EXPECT_EQ(FillPartsList(FChat), expected);
  (void)upper;
  EXPECT_TRUE(FillPartsList("").empty());
  EXPECT_TRUE(FillPartsList(PathToUtf8(fs::path(ChatsDir()) / "gone.json")).empty());
}

TEST_F(ChatParts, AHandMadePartWithoutTitleShowsItsPosition) {
  const std::string chat = PathToUtf8(fs::path(ChatsDir()) / "X.json");
  WriteFileAtomic(chat, "{}");
  const std::string a = Part("X_part_07.json");
  const std::string b = Part("X_part_08_named.json");
  EXPECT_EQ(FillPartsList(chat), (std::vector<TChatEntry>{{"Начало", chat}, {"1. (часть)", a}, {"8. named", b}}));
  EXPECT_EQ(PartDisplayName("X_part_.json", 4), "4. (часть)");
  EXPECT_EQ(PartDisplayName("X.json", 4), "");
}

TEST_F(ChatParts, NamesNewParts) {
  const fs::path sub = SubchatsDir();
  struct Case {
    int Number;
    std::string Title, File;
  } cases[] = {
      {1, "Ideas", "chat_2025-01-01_120000_part_01_Ideas.json"},
      {2, "a/b", "chat_2025-01-01_120000_part_02_a_b.json"},
      {100, "  **Итоги**  ", "chat_2025-01-01_120000_part_100___Итоги__.json"},
      {3, "", "chat_2025-01-01_120000_part_03_part.json"},
  };
  for (const Case& c : cases) EXPECT_EQ(NewPartFilePath(FChat, c.Number, c.Title), PathToUtf8(sub / PathFromUtf8(c.File))) << c.Title;
  EXPECT_EQ(PartDisplayName("chat_2025-01-01_120000_part_02_a_b.json", 1), "2. a b");

  // A title as long as a paragraph is cut so that the name stays a usable file name.
  std::string longTitle;
  for (int i = 0; i < 200; ++i) longTitle += "Ж";
  const std::string path = NewPartFilePath(FChat, 4, longTitle);
  const std::string name = PathToUtf8(PathFromUtf8(path).filename());
  EXPECT_LE(name.size(), 240u);
  EXPECT_TRUE(name.starts_with("chat_2025-01-01_120000_part_04_ЖЖЖ") && name.ends_with("Ж.json")) << name;
  WriteEmptyPartFile(path);
  EXPECT_EQ(ReadWholeFile(PathFromUtf8(path)), std::string(kUtf8Bom) + "{\"contents\":[]}");
}

TEST_F(ChatParts, ANewPartNeverTakesTheNameOfAnExistingFile) {
  // Parts 01 "Без названия" and 02 "Без названия"; 01 deleted: the count is 2 again.
  Part("chat_2025-01-01_120000_part_02_Без названия.json");
  Part("chat_2025-01-01_120000_part_03_Без названия.json");
  const fs::path sub = SubchatsDir();
  EXPECT_EQ(NewPartFilePath(FChat, 2, "Без названия"),
            PathToUtf8(sub / PathFromUtf8("chat_2025-01-01_120000_part_04_Без названия.json")));
  EXPECT_EQ(NewPartFilePath(FChat, 2, "Другое"),
            PathToUtf8(sub / PathFromUtf8("chat_2025-01-01_120000_part_02_Другое.json")))
      << "only a name in use moves the number on";
}

TEST_F(ChatParts, KnowsWhichOpenFilesBelongToAChat) {
  const fs::path sub = SubchatsDir();
  struct Case {
    std::string Current;
    bool Belongs;
  } cases[] = {
      {FChat, true},
      {PathToUtf8(sub / "chat_2025-01-01_120000_part_01_Ideas.json"), true},
      {PathToUtf8(sub / "chat_2025-01-01_120000_part_07.json"), true},
      {PathToUtf8(fs::path(ChatsDir()) / "chat_2025-01-01_1200001.json"), false},
      {PathToUtf8(sub / "chat_2025-01-01_120000.json"), false},
      {PathToUtf8(sub / "chat_2025-01-01_120000X_part_01_a.json"), false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsFileOfChat(c.Current, FChat), c.Belongs) << c.Current;
}

std::vector<std::string> FilesUnder(const fs::path& ADir) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(ADir)) {
    std::string name = PathToUtf8(e.path().lexically_relative(ADir));
    std::replace(name.begin(), name.end(), '\\', '/');  // one spelling on every system
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A hand-made chat whose name holds wildcard characters takes only its own files.
TEST_F(ChatParts, DeletingAChatTakesExactlyItsFiles) {
  const fs::path chats = ChatsDir();
  try {
    WriteFileAtomic(chats / "a*_2025.json", "{}");
  } catch (const TFileError&) {
    GTEST_SKIP() << "this system takes no wildcard characters in file names";
  }
  WriteFileAtomic(chats / "a[b]?.json", "{}");
  WriteFileAtomic(chats / "ab_2025.json", "{}");
  Part("a*_2025_part_01_mine.json");
  Part("a[b]?_part_01_mine.json");
  Part("ab_2025_part_01_other.json");
  Part("ab_2025_part_02_more.json");
  Part("a_part_01_x.json");

  DeleteChatFiles(PathToUtf8(chats / "a*_2025.json"));
  DeleteChatFiles(PathToUtf8(chats / "a[b]?.json"));
  DeleteChatFiles(PathToUtf8(chats / "never-existed.json"));  // nothing there: nothing to do
  EXPECT_EQ(FilesUnder(chats), (std::vector<std::string>{"ab_2025.json", "chat_2025-01-01_120000.json", "subchats",
                                                         "subchats/a_part_01_x.json", "subchats/ab_2025_part_01_other.json",
                                                         "subchats/ab_2025_part_02_more.json"}));
  DeleteChatFiles(PathToUtf8(chats / "ab_2025.json"));
  EXPECT_EQ(FilesUnder(chats), (std::vector<std::string>{"chat_2025-01-01_120000.json", "subchats", "subchats/a_part_01_x.json"}));
}

TEST_F(ChatParts, DeletionStaysInsideTheChatsFolder) {
  const fs::path outside = FFolder.Path() / "outside";
  fs::create_directories(outside / "subchats");
  WriteFileAtomic(outside / "victim.json", "{}");
  WriteFileAtomic(outside / "subchats" / "victim_part_01_x.json", "{}");
  EXPECT_THROW(DeleteChatFiles(PathToUtf8(outside / "victim.json")), TFileError);
  EXPECT_THROW(DeleteChatFiles(PathToUtf8(fs::path(ChatsDir()) / ".." / "outside" / "victim.json")), TFileError);
  EXPECT_THROW(DeleteChatFiles(""), TFileError);
  EXPECT_EQ(FilesUnder(outside), (std::vector<std::string>{"subchats", "subchats/victim_part_01_x.json", "victim.json"}));

  // A link in the chats folder is removed, never what it points to.
  std::error_code ec;
  fs::create_symlink(outside / "victim.json", fs::path(ChatsDir()) / "link.json", ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
  DeleteChatFiles(PathToUtf8(fs::path(ChatsDir()) / "link.json"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(fs::path(ChatsDir()) / "link.json")));
  EXPECT_TRUE(fs::exists(outside / "victim.json"));
}

TEST_F(ChatParts, DeletingAllChatsEmptiesTheFolderAndMakesItAgain) {
  const fs::path outside = FFolder.Path() / "outside";
  fs::create_directories(outside);
  WriteFileAtomic(outside / "keep.json", "{}");
  Part("chat_2025-01-01_120000_part_01_x.json");
  fs::create_directories(fs::path(ChatsDir()) / "other" / "deep");
  std::error_code ec;
  fs::create_directory_symlink(outside, fs::path(ChatsDir()) / "linked", ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
  EXPECT_TRUE(DeleteAllChatFiles());
  EXPECT_EQ(FilesUnder(ChatsDir()), std::vector<std::string>{"subchats"});
  EXPECT_TRUE(fs::exists(outside / "keep.json"));
  fs::remove_all(ChatsDir());
  EXPECT_FALSE(DeleteAllChatFiles());
  EXPECT_FALSE(fs::exists(ChatsDir()));
}

}  // namespace
}  // namespace tarvok
