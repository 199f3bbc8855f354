#include "tests/app/support/WindowFixture.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <fstream>

#include "app/QtMainThread.h"
#include "cli/CliRequest.h"
#include "core/JsonWriter.h"
#include "core/Platform.h"
#include "core/RequestThread.h"

namespace tarvok {

TQtMainThread& TestMainThread() {
  static auto* thread = new TQtMainThread;  // never freed: late workers may still call it
  return *thread;
}

void WindowTest::SetUp() {
  ASSERT_TRUE(FTemp.isValid());
  FDir = std::filesystem::path(FTemp.path().toStdString());
  FOldCwd = std::filesystem::current_path();
  std::filesystem::current_path(FDir);
  SetProgramDir(FDir);
  Emulator.Start();
  FDm = std::make_unique<TGeminiDM>(TestMainThread());
}

void WindowTest::TearDown() {
  if (FForm) CloseWindow();
  // Requests still running finish against the service; their window is gone.
  WaitFor([] { return TGeminiRequestThread::ActiveCount() == 0 && TGeminiCLIThread::ActiveCount() == 0; });
  FDm.reset();
  std::filesystem::current_path(FOldCwd);
}

void WindowTest::UseEmulator(const std::string& AKey) {
  WriteText("config.ini", "[Settings]\r\nGeminiApiUrlBase=" + Emulator.UrlPattern() + "\r\n");
  if (!AKey.empty()) WriteText("Keys.txt", AKey + "\r\n");
}

void WindowTest::OpenWindow() {
  auto page = std::make_unique<RecordingChatPage>();
  FPage = page.get();
  FForm = std::make_unique<TForm1>(*FDm, Dialogs, std::move(page));
  FForm->show();
}

void WindowTest::OpenWindowWith(std::unique_ptr<IChatPage> APage) {
  FPage = nullptr;
  FForm = std::make_unique<TForm1>(*FDm, Dialogs, std::move(APage));
  FForm->show();
}

void WindowTest::CloseWindow() {
  FForm->close();
  FForm.reset();
  FPage = nullptr;
}

std::string WindowTest::ReadText(const std::string& AName) const {
  std::ifstream in(FDir / AName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WindowTest::WriteText(const std::string& AName, const std::string& AContent) const {
  std::filesystem::create_directories((FDir / AName).parent_path());
  std::ofstream(FDir / AName, std::ios::binary) << AContent;
}

std::string WindowTest::MakeFile(const std::string& AName, std::size_t ASize, char AFill) const {
  WriteText(AName, std::string(ASize, AFill));
  return (FDir / AName).string();
}

bool WindowTest::WaitFor(const std::function<bool()>& ACondition, int ATimeoutMs) {
  return QTest::qWaitFor(ACondition, ATimeoutMs);
}

void WindowTest::SendAndWait(const QString& APrompt) {
  Form().memoPrompt->setPlainText(APrompt);
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(WaitForIdle());
}

std::vector<std::string> WindowTest::ChatFiles() const {
  std::vector<std::string> files;
  if (!std::filesystem::exists(FDir / "chats")) return files;
  for (const auto& e : std::filesystem::directory_iterator(FDir / "chats"))
    if (e.is_regular_file()) files.push_back(e.path().filename().string());
  return files;
}

emulator::TScriptedReply TextReply(const std::string& AText, int APromptTokens, int ACandidatesTokens) {
  emulator::TScriptedReply reply;
  std::string quoted = "\"";
  AppendJsonEscaped(quoted, AText);
  quoted += "\"";
  reply.Body = "{\"candidates\":[{\"content\":{\"parts\":[{\"text\":" + quoted +
               "}],\"role\":\"model\"},\"finishReason\":\"STOP\",\"index\":0}],\"usageMetadata\":{\"promptTokenCount\":" +
               std::to_string(APromptTokens) + ",\"candidatesTokenCount\":" + std::to_string(ACandidatesTokens) +
               ",\"totalTokenCount\":" + std::to_string(APromptTokens + ACandidatesTokens) + "}}";
  return reply;
}

}  // namespace tarvok
