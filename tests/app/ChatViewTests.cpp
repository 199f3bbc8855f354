// TChatView over a recording page: the save-code command, the token estimate of a new
// user message and the rebuilding of a stored chat.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <filesystem>

#include "app/ChatView.h"
#include "core/DateTime.h"
#include "core/Files.h"
#include "core/Platform.h"
#include "core/TokenEstimate.h"
#include "view/MessageRender.h"
#include "storage/Attachments.h"
#include "tests/app/support/RecordingChatPage.h"
#include "tests/app/support/TestDialogs.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;

const std::string kSaveTitle = "Сохранить код как...";
const std::string kFilterText = "Все файлы (*)";
const std::string kSavedStatus = "Файл сохранен: ";
const std::string kSaveError = "Ошибка сохранения: ";
const std::string kTokens = "Токены: ";

class ChatViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    FRoot = fs::path(FDir.path().toStdString());
    FOldProfile = qgetenv("USERPROFILE");
    FHadProfile = qEnvironmentVariableIsSet("USERPROFILE");
    qputenv("USERPROFILE", QByteArray::fromStdString((FRoot / "profile").string()));
    fs::create_directories(FRoot / "profile" / "Downloads");
    fs::create_directories(FRoot / "program");
    SetProgramDir(FRoot / "program");
    FView.OnStatusText = [this](const QString& AText) { FStatus.push_back(AText); };
    FView.AttachTitleHandler();
  }
  void TearDown() override {
    if (FHadProfile) qputenv("USERPROFILE", FOldProfile);
    else qunsetenv("USERPROFILE");
    SetClockForTests({});
  }
  QString Path(const fs::path& AName) const { return QString::fromStdString((FRoot / AName).string()); }
  static std::string Folder(const fs::path& APath) { return APath.string() + "/"; }

  QTemporaryDir FDir;
  fs::path FRoot;
  QByteArray FOldProfile;
  bool FHadProfile = false;
  RecordingChatPage FPage;
  TestDialogs FDialogs;
  TChatView FView{FPage, FDialogs};
  std::vector<QString> FStatus;
};

TEST_F(ChatViewTest, SaveWritesBomAndCodeAndRemembersTheFolder) {
  QGuiApplication::clipboard()->setText(QString::fromUtf8("int main() { return 0; } // \xD0\xBA\xD0\xBE\xD0\xB4"));
  fs::create_directories(FRoot / "new");
  FDialogs.AnswerSaveWith(Path("new/a.cpp"));
  FPage.FireTitleChanged("COMMAND:SAVE_CODE:0.25");

  ASSERT_EQ(FDialogs.SaveFileCalls.size(), 1u);
  const auto& call = FDialogs.SaveFileCalls[0];
  EXPECT_EQ(call.Title, QString::fromStdString(kSaveTitle));
  EXPECT_EQ(call.Dir, Path("profile/Downloads"));
  EXPECT_EQ(call.FileName, "code.txt");
  EXPECT_EQ(call.Filter, QString::fromStdString(kFilterText));
  // The dialog lists what the filter's patterns match: a file without a dot too.
  const QString patterns = call.Filter.section('(', 1).section(')', 0, 0);
  for (const char* name : {"Makefile", "a.cpp"})
    EXPECT_TRUE(QDir::match(patterns.split(' '), name)) << name;
  EXPECT_EQ(call.DefaultSuffix, "");
  EXPECT_EQ(ReadWholeFile(FRoot / "new/a.cpp"),
            std::string(kUtf8Bom) + "int main() { return 0; } // \xD0\xBA\xD0\xBE\xD0\xB4");
  EXPECT_EQ(FView.FLastSaveDir, Folder(FRoot / "new"));
  ASSERT_EQ(FStatus.size(), 1u);
  EXPECT_EQ(FStatus[0], QString::fromStdString(kSavedStatus) + Path("new/a.cpp"));
  EXPECT_FALSE(FView.FIsSaving);

  // The next save starts in the folder just used, and replaces an existing file whole.
  QGuiApplication::clipboard()->clear();
  FDialogs.AnswerSaveWith(Path("new/a.cpp"));
  FPage.FireTitleChanged("command:save_code:0.5");
  ASSERT_EQ(FDialogs.SaveFileCalls.size(), 2u);
  EXPECT_EQ(FDialogs.SaveFileCalls[1].Dir.toStdString(), Folder(FRoot / "new"));
  EXPECT_EQ(ReadWholeFile(FRoot / "new/a.cpp"), std::string(kUtf8Bom));
}

TEST_F(ChatViewTest, InitialFolder) {
  const struct {
    const char* Name;
    std::string LastSaveDir;
    bool Downloads;
    std::string Expected;
  } cases[] = {
      {"remembered folder", "last/", true, "last/"},
      {"remembered folder deleted: Downloads", "gone/", true, "profile/Downloads"},
      {"no remembered folder: Downloads", "", true, "profile/Downloads"},
      {"no Downloads either: program folder", "gone/", false, "program"},
  };
  fs::create_directories(FRoot / "last");
  for (const auto& c : cases) {
    if (c.Downloads) fs::create_directories(FRoot / "profile/Downloads");
    else fs::remove_all(FRoot / "profile/Downloads");
    FView.FLastSaveDir = c.LastSaveDir.empty() ? "" : (FRoot / c.LastSaveDir).string();
    FDialogs.SaveFileCalls.clear();
    FPage.FireTitleChanged("COMMAND:SAVE_CODE:1");
    ASSERT_EQ(FDialogs.SaveFileCalls.size(), 1u) << c.Name;
    EXPECT_EQ(FDialogs.SaveFileCalls[0].Dir.toStdString(), (FRoot / c.Expected).string()) << c.Name;
    // Cancelled: nothing remembered, nothing said.
    EXPECT_EQ(FView.FLastSaveDir, c.LastSaveDir.empty() ? "" : (FRoot / c.LastSaveDir).string()) << c.Name;
    EXPECT_TRUE(FStatus.empty()) << c.Name;
  }
}

TEST_F(ChatViewTest, OtherTitlesAndCommandsDuringASaveAreIgnored) {
  for (const char* title : {"about:blank", "", "Chat", "SAVE_CODE:COMMAND:", "COMMAND:SAVE"}) {
    FPage.FireTitleChanged(title);
    EXPECT_TRUE(FDialogs.SaveFileCalls.empty()) << title;
  }
  FDialogs.SaveFileAnswers.push_back([this](const TestDialogs::FileDialogCall&) {
    FPage.FireTitleChanged("COMMAND:SAVE_CODE:0.75");  // arrives while the dialog is open
    return QString();
  });
  FPage.FireTitleChanged("COMMAND:SAVE_CODE:0.5");
  EXPECT_EQ(FDialogs.SaveFileCalls.size(), 1u);
  EXPECT_FALSE(FView.FIsSaving);
}

TEST_F(ChatViewTest, WriteFailureIsReportedAndTheFolderKept) {
  QGuiApplication::clipboard()->setText("x");
  FDialogs.AnswerSaveWith(Path("missing/a.txt"));
  FPage.FireTitleChanged("COMMAND:SAVE_CODE:1");
  ASSERT_EQ(FDialogs.Messages.size(), 1u);
  EXPECT_TRUE(FDialogs.Messages[0].startsWith(QString::fromStdString(kSaveError))) << FDialogs.Messages[0].toStdString();
  EXPECT_GT(FDialogs.Messages[0].size(), static_cast<qsizetype>(QString::fromStdString(kSaveError).size()));
  EXPECT_EQ(FView.FLastSaveDir, Folder(FRoot / "missing"));
  EXPECT_TRUE(FStatus.empty());
  EXPECT_FALSE(FView.FIsSaving);
}

TEST_F(ChatViewTest, UserMessageIdAndFooter) {
  const TDateTime at = EncodeDateTime({2025, 3, 14, 9, 30, 15, 123});
  SetClockForTests([at] { return at; });
  const fs::path file = FRoot / "notes.txt";
  WriteFileAtomic(file, std::string(4000, 'a'));
  const std::vector<std::string> files{file.string()};

  TContentParts parts{{TPartType::ptText, "hello", "", {}, ""},
                      {TPartType::ptInlineData, "", GetMimeTypeFromFileExt(file.string()), {}, file.string()}};
  const int estimate = CountTokens(parts);
  ASSERT_GT(estimate, CountTokens({parts[0]}));  // the file counts

  const struct {
    int Tokens;
    std::string Footer;
  } cases[] = {
      {5, kTokens + "5"},
      {-1, kTokens + std::to_string(estimate)},
      {-2, ""},
  };
  for (const auto& c : cases) {
    FPage.Clear();
    EXPECT_EQ(FView.AddUserMessage("hello", files, c.Tokens), "msg_20250314093015123");
    const auto appended = FPage.Texts(RecordingChatPage::OpKind::Append);
    ASSERT_EQ(appended.size(), 1u);
    EXPECT_NE(appended[0].find("<div id=\"msg_20250314093015123\" class=\"message-wrapper user-message\">"),
              std::string::npos);
    EXPECT_NE(appended[0].find("<li>notes.txt</li>"), std::string::npos);
    if (c.Footer.empty()) {
      EXPECT_EQ(appended[0].find("message-footer"), std::string::npos) << c.Tokens;
    } else {
      EXPECT_NE(appended[0].find("id=\"footer_msg_20250314093015123\">" + c.Footer + "</div>"), std::string::npos)
          << c.Tokens;
    }
  }
}

TEST_F(ChatViewTest, ScriptsOnlyForAnId) {
  FView.UpdateMessageTokens("", 5);
  FView.MarkMessageSendError("");
  EXPECT_TRUE(FPage.Ops.empty());
  FView.UpdateMessageTokens("msg_1", 5);
  FView.MarkMessageSendError("msg_1");
  FView.DownButClick();
  ASSERT_EQ(FPage.Ops.size(), 3u);
  EXPECT_EQ(FPage.Ops[2].Kind, RecordingChatPage::OpKind::ScrollToBottom);
}

TEST_F(ChatViewTest, RenderChatHistoryAppendsOneBubblePerKnownTurnInOneBatch) {
  const TChatHistory history{
      {"user", {{TPartType::ptText, "q", "", {}, ""}}, 2, 45000.5, "", ""},
      {"system", {{TPartType::ptText, "skip", "", {}, ""}}, 0, 0, "", ""},
      {"model", {{TPartType::ptText, "a", "", {}, ""}}, 3, 45000.5, "gemini", "4"},
      {"model", {{TPartType::ptInlineData, "", "image/png", TSharedText("AA=="), ""}}, 1, 0, "", ""},
  };
  FView.RenderChatHistory(history);
  ASSERT_FALSE(FPage.Ops.empty());
  EXPECT_EQ(FPage.Ops[0].Kind, RecordingChatPage::OpKind::EnsureBase);
  const auto appended = FPage.Texts(RecordingChatPage::OpKind::Append);
  // One round trip to the page, holding exactly the three bubbles in order.
  ASSERT_EQ(appended.size(), 1u);
  EXPECT_EQ(appended[0], RenderHistoryItem(history[0]) + RenderHistoryItem(history[2]) + RenderHistoryItem(history[3]));
  EXPECT_NE(appended[0].find("user-message"), std::string::npos);
  EXPECT_EQ(appended[0].find(" id=\"msg_"), std::string::npos);
  EXPECT_NE(appended[0].find("<p>a</p>"), std::string::npos);
  EXPECT_NE(appended[0].find("src=\"data:image/png;base64,AA==\""), std::string::npos);
  EXPECT_TRUE(RenderHistoryItem(history[1]).empty());

  // A longer chat goes in several batches of whole bubbles (of 64 kB or just over), the
  // same bytes in all.
  const TSharedText picture(std::string(40u << 10, 'A'));
  const TChatHistory big(3, {"model", {{TPartType::ptInlineData, "", "image/png", picture, ""}}, 1, 0, "", ""});
  FPage.Ops.clear();
  FView.RenderChatHistory(big);
  const auto batches = FPage.Texts(RecordingChatPage::OpKind::Append);
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_EQ(batches[0], RenderHistoryItem(big[0]) + RenderHistoryItem(big[1]));
  EXPECT_EQ(batches[1], RenderHistoryItem(big[2]));
}

TEST_F(ChatViewTest, APageRebuiltWhileARequestIsPendingGivesItsUserBubbleBackItsId) {
  const TDateTime at = EncodeDateTime({2025, 3, 14, 9, 30, 15, 123});
  SetClockForTests([at] { return at; });
  TChatHistory history{{"user", {{TPartType::ptText, "old", "", {}, ""}}, 2, at, "", ""},
                       {"model", {{TPartType::ptText, "a", "", {}, ""}}, 3, at, "gemini", "4"}};
  FView.ShownHistory = [&]() -> const TChatHistory& { return history; };
  const THistoryItem pending{"user", {{TPartType::ptText, "new", "", {}, ""}}, 5, at, "", ""};
  const auto rebuiltAfterLoss = [&] {
    FPage.Clear();
    FPage.FirePageLost();
    EXPECT_FALSE(FPage.ChatHtml().empty()) << "rebuilt";
    return FPage.ChatHtml();
  };

  // The answer to come finds its bubble, whichever way it ends.
  for (const bool answered : {true, false}) {
    const std::string id = FView.AddUserMessage("new", {}, 5);
    history.push_back(pending);
    const std::string rebuilt = rebuiltAfterLoss();
    std::string expected;
    for (std::size_t i = 0; i + 1 < history.size(); ++i) expected += RenderHistoryItem(history[i]);
    EXPECT_EQ(rebuilt, expected + RenderHistoryItem(pending, id));
    EXPECT_NE(rebuilt.find("<div id=\"" + id + "\" class=\"message-wrapper user-message\">"), std::string::npos);
    // As the completions do: the answer or the error text as a model bubble.
    if (answered) {
      FView.AddModelMessage("b", "gemini", 3, "1");
      FView.UpdateMessageTokens(id, 42);
      history.push_back({"model", {{TPartType::ptText, "b", "", {}, ""}}, 3, at, "gemini", "1"});
    } else {
      FView.MarkMessageSendError(id);
      FView.AddModelMessage("error", "", -1, "");
      history.pop_back();
    }
    // Once it has answered no rebuilt bubble carries the id.
    EXPECT_EQ(rebuiltAfterLoss().find(" id=\"msg_"), std::string::npos) << answered;
    // Nor does a user turn that ends the history without a request pending.
    history.push_back(pending);
    EXPECT_EQ(rebuiltAfterLoss().find(" id=\"msg_"), std::string::npos) << answered;
    history.pop_back();
  }
  // A chat shown from the list has nothing pending, even if the last bubble was just added.
  FView.AddUserMessage("new", {}, 5);
  FView.RenderChatHistory(history);
  history.push_back(pending);
  EXPECT_EQ(rebuiltAfterLoss().find(" id=\"msg_"), std::string::npos);
}

}  // namespace
}  // namespace tarvok
