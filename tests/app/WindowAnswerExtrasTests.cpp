// Thought summaries and search sources end to end: the boxes, the request body, the
// emulator's answer, the bubble, the chat file and the chat reopened.
#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>

#include "app/ChatLibrary.h"
#include "app/QtText.h"
#include "app/UiTexts.h"
#include "storage/ChatFile.h"
#include "tests/app/support/WindowFixture.h"
#include "tools/gemini-emulator/DefaultReplies.h"

namespace tarvok {
namespace {

constexpr std::string_view kThinking = ",\"thinkingConfig\":{\"includeThoughts\":true}}";

class AnswerExtrasTest : public WindowTest {
 protected:
  // The chat file of the current chat, read back.
  TChatHistory Saved() {
    TChatHistory saved;
    std::int32_t tokens = 0;
    EXPECT_TRUE(ReadChatFile(Form().FCurrentChatFile, saved, tokens));
    return saved;
  }
  // The answer bubble as the page holds it now: appended whole, or the last replacement
  // of a streamed one (the HTML carried in the script's string).
  std::string ShownAnswer(bool AStream) {
    if (!AStream) return Page().ChatHtml();
    std::string script;
    for (const std::string& each : Page().Texts(RecordingChatPage::OpKind::Script))
      if (each.starts_with("(function(){var h=")) script = each;
    EXPECT_FALSE(script.empty()) << "the streamed bubble was replaced by the finished one";
    if (script.empty()) return {};
    const std::size_t start = script.find("var h=\"") + 7;
    std::string html;
    for (std::size_t i = start; i < script.size() && script[i] != '"'; ++i) {
      if (script[i] != '\\') {
        html += script[i];
        continue;
      }
      const char next = script[++i];
      if (next == 'x') {
        html += static_cast<char>(std::stoi(script.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        html += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
      }
    }
    return html;
  }
  // Opens the chat again from its file, as a click on it in the list does.
  std::string Reopened() {
    const std::string file = Form().FCurrentChatFile;
    Page().Clear();
    Form().Library().LoadChatFile(file, false);
    return Page().ChatHtml();
  }
};

TEST_F(AnswerExtrasTest, ThoughtsAreAskedForShownAboveTheAnswerStoredAndNeverSentBack) {
  for (const bool stream : {false, true}) {
    SCOPED_TRACE(stream ? "streamed" : "whole");
    UseEmulator();
    // Events apart, so the answer shows in pieces as it arrives.
    Emulator.SetDefaultEventGap(std::chrono::milliseconds(stream ? 40 : 0));
    OpenWindow();
    Form().chkShowThoughts->setChecked(true);
    Form().chkStreamAnswers->setChecked(stream);
    SendAndWait("Как перейти улицу?");
    ASSERT_EQ(Emulator.Requests().size(), 1u);
    const std::string body = Emulator.Requests()[0].Body;
    EXPECT_NE(body.find("\"stopSequences\":[]" + std::string(kThinking) + ",\"safetySettings\""), std::string::npos)
        << body;

    const auto& history = Dm().FChatHistory;
    ASSERT_EQ(history.size(), 2u);
    EXPECT_NE(history[1].Thoughts.find("**Разбор запроса**"), std::string::npos);
    EXPECT_GT(history[1].ThoughtsTokens, 0);
    EXPECT_EQ(history[1].Parts[0].Text.find("Разбор"), std::string::npos) << "the thoughts are not the answer";

    const std::string html = ShownAnswer(stream);
    const std::size_t details = html.find("<details class=\"thoughts\"><summary>Мысли</summary>");
    ASSERT_NE(details, std::string::npos) << html;
    EXPECT_LT(details, html.find("Ответ эмулятора")) << "the thoughts stand above the answer";
    EXPECT_NE(html.find(" | Мысли: " + std::to_string(history[1].ThoughtsTokens)), std::string::npos);
    if (stream) {
      // The thoughts came first and showed before any of the answer had arrived.
      const std::string first = Page().Texts(RecordingChatPage::OpKind::Append).back();
      EXPECT_NE(first.find("<summary>Мысли</summary><p><strong>Разбор запроса</strong>"), std::string::npos) << first;
      EXPECT_EQ(first.find("Ответ эмулятора"), std::string::npos) << first;
    }
    EXPECT_EQ(Saved(), history) << "the thoughts are kept in the chat file";

    const std::string again = Reopened();
    EXPECT_NE(again.find("<details class=\"thoughts\"><summary>Мысли</summary><p><strong>Разбор запроса</strong></p>"),
              std::string::npos)
        << again;
    EXPECT_NE(again.find(" | Мысли: "), std::string::npos);

    // The next turn sends the history: the answer goes back, its thoughts never do.
    Form().chkShowThoughts->setChecked(false);
    SendAndWait("Спасибо");
    ASSERT_EQ(Emulator.Requests().size(), 2u);
    const std::string next = Emulator.Requests()[1].Body;
    EXPECT_EQ(next.find("thinkingConfig"), std::string::npos) << "the box is off: the body is as it always was";
    EXPECT_EQ(next.find("\\u0420\\u0430\\u0437\\u0431\\u043E\\u0440"), std::string::npos) << "no thought is sent back";
    EXPECT_TRUE(Dm().FChatHistory[3].Thoughts.empty());
    CloseWindow();
    Emulator.ClearRequests();
    std::filesystem::remove_all(Path("chats"));
  }
}

TEST_F(AnswerExtrasTest, AModelThatRefusesThinkingIsAskedOnceMoreWithoutIt) {
  UseEmulator();
  emulator::TScriptedReply refusal;
  refusal.Status = 400;
  refusal.Body = emulator::ServiceErrorBody(400, "Thinking is not supported by this model.", "INVALID_ARGUMENT");
  Emulator.Enqueue(refusal);
  Emulator.Enqueue(refusal);  // a second refusal would be shown as the failure it is
  OpenWindow();
  Form().chkShowThoughts->setChecked(true);
  SendAndWait("Привет");
  ASSERT_EQ(Emulator.Requests().size(), 2u);
  EXPECT_NE(Emulator.Requests()[0].Body.find(kThinking), std::string::npos);
  EXPECT_EQ(Emulator.Requests()[1].Body.find("thinkingConfig"), std::string::npos);
  EXPECT_TRUE(Dm().FChatHistory.empty()) << "the answer to the retry, here again a 400, fails as usual";
  EXPECT_EQ(S(Form().memoPrompt->toPlainText()), "Привет");

  // Any other 400 is not retried.
  emulator::TScriptedReply other = refusal;
  other.Body = emulator::ServiceErrorBody(400, "API key not valid. Please pass a valid API key.", "INVALID_ARGUMENT");
  Emulator.ClearQueue();
  Emulator.ClearRequests();
  Emulator.Enqueue(other);
  Form().memoPrompt->clear();
  Dialogs.Messages.clear();
  SendAndWait("Привет");
  EXPECT_EQ(Emulator.Requests().size(), 1u);
  EXPECT_TRUE(Dm().FChatHistory.empty());

  // A refusal followed by an answer: the answer is shown and kept as usual.
  Emulator.ClearRequests();
  Emulator.Enqueue(refusal);
  Form().memoPrompt->clear();
  Dialogs.Messages.clear();
  SendAndWait("Привет");
  ASSERT_EQ(Emulator.Requests().size(), 2u);
  ASSERT_EQ(Dm().FChatHistory.size(), 2u);
  EXPECT_TRUE(Dm().FChatHistory[1].Thoughts.empty());
  EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(AnswerExtrasTest, AnImageRequestNeverAsksForThoughts) {
  UseEmulator();
  OpenWindow();
  Form().chkShowThoughts->setChecked(true);
  Form().cbModels->setEditText("gemini-2.5-flash-image");
  SendAndWait("Кот");
  ASSERT_EQ(Emulator.Requests().size(), 1u);
  EXPECT_EQ(Emulator.Requests()[0].Body.find("thinkingConfig"), std::string::npos);
}

TEST_F(AnswerExtrasTest, ASearchedAnswerListsItsSourcesMarksItsCitationsAndKeepsThem) {
  for (const bool stream : {false, true}) {
    SCOPED_TRACE(stream ? "streamed" : "whole");
    UseEmulator();
    Emulator.SetDefaultEventGap(std::chrono::milliseconds(stream ? 40 : 0));
    OpenWindow();
    Form().chkEnableWebSearch->setChecked(true);
    Form().chkStreamAnswers->setChecked(stream);
    SendAndWait("Погода в Москве");
    const auto& history = Dm().FChatHistory;
    ASSERT_EQ(history.size(), 2u);
    const TGrounding& g = history[1].Grounding;
    ASSERT_EQ(g.Sources.size(), 2u);
    EXPECT_EQ(g.Sources[1].Title, "Справка эмулятора");
    EXPECT_EQ(g.Queries, std::vector<std::string>{"Погода в Москве"});
    ASSERT_FALSE(g.Supports.empty());
    EXPECT_EQ(history[1].Parts[0].Text.find("[1]"), std::string::npos) << "the stored answer is the model's text";

    const std::string shown = ShownAnswer(stream);
    for (const std::string_view want :
         {std::string_view("Источники"), std::string_view("https://example.org/emulator/source-2"),
          std::string_view("Справка эмулятора"), std::string_view("(example.org)"),
          std::string_view("https://www.google.com/search?q=%D0%9F%D0%BE%D0%B3%D0%BE%D0%B4%D0%B0+%D0%B2+"),
          std::string_view("<sup class=")})
      EXPECT_NE(shown.find(want), std::string::npos) << want << "\n" << shown;
    EXPECT_EQ(shown.find("<iframe"), std::string::npos) << "the search entry point's own HTML is not used";
    EXPECT_EQ(Saved(), history);

    const std::string again = Reopened();
    EXPECT_NE(again.find("получила сообщение:<sup class=\"citation\"><a href=\"https://example.com/emulator/source-1\">[1]</a></sup>"),
              std::string::npos)
        << again;
    EXPECT_NE(again.find("<strong>Источники</strong><ol>"), std::string::npos);
    CloseWindow();
    std::filesystem::remove_all(Path("chats"));
  }
}

TEST_F(AnswerExtrasTest, TheThoughtsBoxIsRememberedAfterTheOtherSettings) {
  UseEmulator();
  OpenWindow();
  EXPECT_EQ(S(Form().chkShowThoughts->text()), ui::kCaptionThoughts);
  EXPECT_FALSE(Form().chkShowThoughts->isChecked()) << "off unless config.ini says otherwise";
  CloseWindow();
  EXPECT_EQ(ReadText("config.ini").find("ShowThoughts"), std::string::npos) << "never ticked: config.ini as before";
  OpenWindow();
  Form().chkShowThoughts->setChecked(true);
  CloseWindow();
  const std::string ini = ReadText("config.ini");
  const std::size_t stream = ini.find("StreamAnswers=0");
  ASSERT_NE(stream, std::string::npos) << ini;
  EXPECT_NE(ini.find("ShowThoughts=1", stream), std::string::npos) << ini;
  OpenWindow();
  EXPECT_TRUE(Form().chkShowThoughts->isChecked());
  Form().chkShowThoughts->setChecked(false);
  CloseWindow();
  EXPECT_NE(ReadText("config.ini").find("ShowThoughts=0"), std::string::npos) << "once written, kept up to date";
}

}  // namespace
}  // namespace tarvok
