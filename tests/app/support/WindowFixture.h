#pragma once
// A window test: a fresh program folder (also the current folder), the Gemini API
// emulator on loopback, a TestDialogs that answers, a recording chat page, and the
// real TForm1 offscreen.

#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "app/MainWindow.h"
#include "core/GeminiDM.h"
#include "tests/app/support/RecordingChatPage.h"
#include "tests/app/support/TestDialogs.h"
#include "tools/gemini-emulator/GeminiEmulator.h"

namespace tarvok {

class TQtMainThread;
// One for the whole test program: workers may outlive a test's window.
TQtMainThread& TestMainThread();

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // config.ini pointing at the emulator, a key and the first model; call before OpenWindow.
  void UseEmulator(const std::string& AKey = "test-key");
  // Creates and shows the window (the first showing runs the start-up sequence).
  void OpenWindow();
  // The same with another chat page (the real browser engine); Page() is then unusable.
  void OpenWindowWith(std::unique_ptr<IChatPage> APage);
  // Closes and destroys the window, as the user closing it would.
  void CloseWindow();

  TForm1& Form() { return *FForm; }
  RecordingChatPage& Page() { return *FPage; }
  TGeminiDM& Dm() { return *FDm; }

  std::filesystem::path Path(const std::string& AName) const { return FDir / AName; }
  std::string ReadText(const std::string& AName) const;
  void WriteText(const std::string& AName, const std::string& AContent) const;
  // A file of ASize bytes in the program folder; returns its full path.
  std::string MakeFile(const std::string& AName, std::size_t ASize, char AFill = 'a') const;

  // Processes events until the condition holds (false after a generous limit).
  static bool WaitFor(const std::function<bool()>& ACondition, int ATimeoutMs = 30000);
  // Sends the prompt with Ctrl+Enter and waits for the answer to be handled.
  void SendAndWait(const QString& APrompt);
  bool WaitForIdle() { return WaitFor([this] { return !Form().RequestPending(); }); }

  std::string Status() { return Form().StatusTextValue(); }
  // The chat files (main files) in "chats".
  std::vector<std::string> ChatFiles() const;

  TestDialogs Dialogs;
  emulator::TGeminiEmulator Emulator;
  std::filesystem::path FDir;

 private:
  QTemporaryDir FTemp;
  std::filesystem::path FOldCwd;
  std::unique_ptr<TGeminiDM> FDm;
  std::unique_ptr<TForm1> FForm;
  RecordingChatPage* FPage = nullptr;
};

// A scripted 200 answer with one text part and the given token counts.
emulator::TScriptedReply TextReply(const std::string& AText, int APromptTokens, int ACandidatesTokens);

}  // namespace tarvok
