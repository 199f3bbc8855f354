// The API key and the user's files: the key is kept in Keys.txt and nowhere else (no other
// file, no message, no status text, no chat bubble), even when a failing server echoes it
// back; and what the program writes is readable by its owner only.
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <sys/stat.h>

#include <fstream>

#include "app/QtText.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

constexpr const char* kKey = "AIzaSyD-secret-0123456789abcdefXYZ";

emulator::TScriptedReply Reply(int AStatus, const std::string& ABody, const char* AType = "application/json") {
  emulator::TScriptedReply reply;
  reply.Status = AStatus;
  reply.Body = ABody;
  reply.ContentType = AType;
  return reply;
}

class SecretsTest : public WindowTest {
 protected:
  void SetUp() override {
    FOldMask = ::umask(022);  // the usual mask: anything stricter comes from the program itself
    WindowTest::SetUp();
  }
  void TearDown() override {
    WindowTest::TearDown();
    ::umask(FOldMask);
  }
  // The user types the key into the key box and presses Enter, as on a first start.
  void OpenWindowAndEnterTheKey() {
    UseEmulator("");
    OpenWindow();
    Form().editApiKey->setEditText(kKey);
    QTest::keyClick(Form().editApiKey->lineEdit(), Qt::Key_Return);
  }

 private:
  mode_t FOldMask = 022;
};

TEST_F(SecretsTest, TheKeyIsInKeysTxtOnlyWhateverTheServerAnswers) {
  OpenWindowAndEnterTheKey();
  const std::string echoed = std::string("https://host/v1beta/models/m:generateContent?key=") + kKey;
  const struct {
    const char* Name;
    emulator::TScriptedReply Reply;
  } cases[] = {
      {"400 whose message repeats the address", Reply(400, R"({"error":{"code":400,"message":"API key not valid: )" + echoed + R"("}})")},
      {"429 with the key in its body", Reply(429, std::string(R"({"error":{"code":429,"message":"quota of )") + kKey + R"("}})")},
      {"500 that is not JSON", Reply(500, "<html>internal error at " + echoed + "</html>", "text/html")},
      {"200 that is not JSON", Reply(200, "<html>proxy page for " + echoed + "</html>", "text/html")},
      {"a normal answer", TextReply("Готово", 3, 2)},
  };
  for (const auto& c : cases) {
    Emulator.Enqueue(c.Reply);
    SendAndWait(QString("Запрос: ") + c.Name);
    ASSERT_FALSE(Form().RequestPending()) << c.Name;
  }
  ASSERT_EQ(Emulator.Requests().size(), std::size(cases));
  EXPECT_EQ(Emulator.Requests()[0].Query, std::string("key=") + kKey) << "the key does go to the server";

  std::vector<std::pair<std::string, std::string>> shown = {
      {"chat page", Page().ChatHtml()}, {"status bar", Status()}, {"prompt box", S(Form().memoPrompt->toPlainText())}};
  for (const auto& script : Page().Texts(RecordingChatPage::OpKind::Script)) shown.emplace_back("page script", script);
  for (const auto& m : Dialogs.Messages) shown.emplace_back("message box", S(m));
  for (const auto& m : Dialogs.Errors) shown.emplace_back("error report", S(m));
  for (const auto& [where, text] : shown) EXPECT_EQ(text.find(kKey), std::string::npos) << where << ": " << text;

  CloseWindow();  // writes config.ini and saves the chat
  std::vector<std::string> holders;
  for (const auto& e : std::filesystem::recursive_directory_iterator(FDir)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (content.find(kKey) != std::string::npos) holders.push_back(e.path().lexically_relative(FDir).string());
  }
  EXPECT_EQ(holders, std::vector<std::string>{"Keys.txt"});
  EXPECT_TRUE(std::filesystem::exists(Path("config.ini")));
  EXPECT_EQ(ChatFiles().size(), 1u);
}

TEST_F(SecretsTest, KeysCountersAndChatsAreCreatedOwnerOnly) {
  OpenWindowAndEnterTheKey();
  Emulator.Enqueue(TextReply("Готово", 3, 2));
  SendAndWait("Привет");
  CloseWindow();

  std::vector<std::filesystem::path> checked = {Path("Keys.txt"), Path("config.ini"), Path("ApiStats"),
                                                Path("chats"), Path("chats") / "subchats"};
  for (const auto& e : std::filesystem::directory_iterator(Path("ApiStats"))) checked.push_back(e.path());
  for (const auto& name : ChatFiles()) checked.push_back(Path("chats") / name);
  ASSERT_GE(checked.size(), 7u) << "a counter file and a chat file are expected";
  for (const auto& path : checked) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
    const mode_t want = S_ISDIR(st.st_mode) ? 0700 : 0600;
    EXPECT_EQ(st.st_mode & 0777, want) << path << " is " << std::oct << (st.st_mode & 0777);
  }
}

}  // namespace
}  // namespace tarvok
