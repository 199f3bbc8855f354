// The "CLI" route through the real window with a stand-in `gemini` first on PATH (POSIX).
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>

#include "app/QtText.h"
#include "cli/CliRequest.h"
#include "cli/CliTexts.h"
#include "core/ApiKeyStats.h"
#include "core/Text.h"
#include "tests/app/support/StandInCli.h"
#include "tests/app/support/WindowFixture.h"
#include "tests/cli/CliTestSupportPosix.h"

namespace tarvok {
namespace {

class CliWindowTest : public WindowTest {
 protected:
  CliWindowTest() : FPath(FBin.Path()) {
    test::MakeExecutable(FBin.Write("gemini", test::StandInCliScript(FRecord.Path().string())));
  }
  // Ticks "CLI" with the sign-in already confirmed: the fast start, no script.
  void TickCli() {
    WriteText("auth_confirmed.flag", "1");
    Form().GeminiCliCheckBox->setChecked(true);
    ASSERT_EQ(Status(), clitexts::kStatusFastStart);
  }
  std::filesystem::path WorkDir() const { return std::string(Trim(FRecord.Read("cwd"))); }

  test::TPrivateHome FHome;
  test::TTempDir FBin, FRecord;
  test::TPathPrefix FPath;
};

TEST_F(CliWindowTest, ASendThroughTheCliShowsTheAnswerAndCountsUnderGeminiCli) {
  FRecord.Write("output", R"({"response":"**Hi** from the CLI","stats":{"tokens":{"prompt":12,"candidates":5,"total":17}}})");
  UseEmulator("");
  OpenWindow();
  TickCli();
  const std::string model = S(Form().cbModels->currentText());
  SendAndWait("Hello CLI");

  EXPECT_EQ(FRecord.Read("stdin"), "\xEF\xBB\xBFUser: Hello CLI\r\n\r\n");
  const std::string html = Page().ChatHtml();
  EXPECT_NE(html.find("<strong>Hi</strong> from the CLI"), std::string::npos) << html;
  EXPECT_TRUE(Emulator.Requests().empty()) << "the CLI route does not call the API";
  EXPECT_EQ(GetRequestCount(kGeminiCliKey, model), 1);
  EXPECT_EQ(S(Form().CountLabel->text()), "1");
  ASSERT_EQ(Dm().FChatHistory.size(), 2u);
  EXPECT_EQ(Dm().FChatHistory[1].TokenCount, 5);
  EXPECT_FALSE(std::filesystem::exists(WorkDir()));
}

TEST_F(CliWindowTest, ClosingTheWindowEndsARunningCliAndRemovesTheConversation) {
  FRecord.Write("block", "");
  FRecord.Write("output", R"({"response":"too late"})");
  UseEmulator("");
  OpenWindow();
  TickCli();
  Form().memoPrompt->setPlainText("A private question");
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(WaitFor([&] { return FRecord.Read("child.pid") != "<missing>"; }));
  const pid_t child = std::stoi(FRecord.Read("child.pid"));
  const auto dir = WorkDir();
  ASSERT_TRUE(std::filesystem::exists(dir / "gemini_prompt.txt"));

  CloseWindow();
  EXPECT_FALSE(std::filesystem::exists(dir)) << "the conversation stayed on disk";
  EXPECT_TRUE(test::WaitUntilGone(child)) << "the CLI outlived the window";
}

TEST_F(CliWindowTest, ACliRequestStaysACliRequestWhenTheBoxChangesWhilePending) {
  UseEmulator();
  Emulator.Enqueue(TextReply("first answer", 5, 1));
  OpenWindow();
  SendAndWait("first");
  const THistoryItem answered = Dm().FChatHistory[1];
  TickCli();
  struct {
    const char* Output;
    bool Failure;
  } cases[] = {{"not an answer", true}, {R"({"response":"from the CLI"})", false}};
  for (const auto& c : cases) {
    FRecord.Write("output", c.Output);
    {
      const QSignalBlocker block(Form().GeminiCliCheckBox);
      Form().GeminiCliCheckBox->setChecked(true);
    }
    Form().cbModels->setCurrentIndex(0);
    Dialogs.Messages.clear();
    Form().memoPrompt->setPlainText("by the CLI");
    QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(Form().RequestPending()) << c.Output;
    EXPECT_FALSE(Form().GeminiCliCheckBox->isEnabled()) << c.Output;
    {
      const QSignalBlocker block(Form().GeminiCliCheckBox);  // as if it changed all the same
      Form().GeminiCliCheckBox->setChecked(false);
    }
    Form().cbModels->setEditText("another-model");
    ASSERT_TRUE(WaitForIdle()) << c.Output;
    EXPECT_EQ(Dm().FChatHistory[1], answered) << c.Output << ": the earlier answer keeps its model and duration";
    if (c.Failure) {
      EXPECT_EQ(Form().memoPrompt->toPlainText(), "by the CLI") << c.Output;
      EXPECT_EQ(Dialogs.Messages.size(), 1u) << c.Output;
      EXPECT_EQ(Dm().FChatHistory.size(), 2u) << c.Output;
    } else {
      EXPECT_EQ(Form().memoPrompt->toPlainText(), "") << c.Output;
      ASSERT_EQ(Dm().FChatHistory.size(), 4u) << c.Output;
      EXPECT_EQ(Dm().FChatHistory[3].ModelName, "gemini-2.5-pro") << c.Output;
    }
  }
  EXPECT_EQ(Emulator.Requests().size(), 1u) << "no CLI request went to the REST service";
}

}  // namespace
}  // namespace tarvok
