// The Windows batch scripts under the real cmd.exe, scripts run in their own console and
// waited for, and PATH rebuilt from the registry values reg.exe writes.
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

#include "CliTestSupport.h"
#include "WindowsTestSupport.h"
#include "cli/CliEnvironment.h"
#include "cli/CliSetup.h"
#include "cli/CliTexts.h"
#include "cli/ConsoleRunner.h"
#include "core/Platform.h"

namespace tarvok {
namespace {

using test::TTempDir;

TEST(WindowsScripts, CheckScriptWritesItsLogUnderCmd) {
  TTempDir bin, temp;
  const auto log = temp.Path() / "gemini_check_log.txt";
  const auto script = temp.Path() / "gemini_check.bat";
  WriteFileAtomic(script, WindowsScriptBytes(CheckScriptLinesWindows(PathToUtf8(log))));
  test::TPathPrefix path(bin.Path());

  // Nothing on PATH answers: the marker stands in the log, with no version after it.
  RunConsoleCommand("cmd.exe /c \"" + PathToUtf8(script) + "\"", "", "", 60);
  const std::string first = ReadCheckLog(log).value_or("<no log>");
  EXPECT_NE(first.find("GeminiCheck: "), std::string::npos) << first;
  EXPECT_FALSE(AnalyseCheckLog(first).Gemini) << first;

  // Stand-in node.exe and gemini.exe, run in a console of its own and waited for.
  std::filesystem::copy_file(test::TestChildPath(), bin.Path() / "node.exe");
  std::filesystem::copy_file(test::TestChildPath(), bin.Path() / "gemini.exe");
  std::filesystem::remove(log);
  EXPECT_EQ(DefaultCliSystem().RunScriptAndWait(script, {}, kCheckScriptLimitSeconds), "");
  const std::string second = ReadCheckLog(log).value_or("<no log>");
  // Wine's cmd.exe keeps the quotes around set /p's prompt; Windows drops them.
  EXPECT_EQ(second, test::RunningUnderWine() ? "v22.12.0\r\n\"GeminiCheck: \" 0.1.18\r\n"
                                             : "v22.12.0\r\nGeminiCheck: 0.1.18\r\n");
  const TCheckLogResult r = AnalyseCheckLog(second);
  EXPECT_TRUE(r.Node && r.Gemini) << second;
}

TEST(WindowsScripts, RunScriptAndWaitWaitsForTheScriptsEnd) {
  TTempDir temp;
  const auto marker = temp.Path() / "done.txt";
  const auto script = temp.Path() / "slow.bat";
  WriteFileAtomic(script, WindowsScriptBytes({"@echo off", test::TestChild() + " sleep 1500",
                                              "echo finished> \"" + PathToUtf8(marker) + "\""}));
  EXPECT_EQ(DefaultCliSystem().RunScriptAndWait(script, {}, kCheckScriptLimitSeconds), "");
  EXPECT_EQ(ReadWholeFile(marker).value_or("<not yet written>"), "finished\r\n");
}

// The window's side of the flows: answers from a list, messages and questions recorded.
class TRecordingHost : public TCliHost {
 public:
  std::vector<bool> Answers;
  std::vector<std::string> Questions, Messages;
  bool Checked = true;
  void ShowMessage(const std::string& AText) override { Messages.push_back(AText); }
  bool AskYesNo(const std::string& AText) override {
    const bool answer = Questions.size() < Answers.size() && Answers[Questions.size()];
    Questions.push_back(AText);
    return answer;
  }
  bool IsCliBoxChecked() override { return Checked; }
  void UntickCliBox() override { Checked = false; }
  void SetApiFieldsEnabled(bool) override {}
  void ModelsChanged() override {}
  void SetStatusText(const std::string&) override {}
  void RunOnUiThread(const std::function<void()>& AStep) override { AStep(); }
  void RunCliTask(const std::string&, std::function<void()> ATaskLogic) override {
    try {
      ATaskLogic();
    } catch (...) {
    }
  }
};

// The whole check as the box runs it: the batch in a console of its own, node.exe and the
// gemini.cmd that npm installs standing in, the log read back, the sign-in offer.
TEST(WindowsScripts, TheCheckFindsNodeAndTheCliAndOffersTheSignIn) {
  TTempDir bin, scripts, program, profile;
  std::filesystem::copy_file(test::TestChildPath(), bin.Path() / "node.exe");
  bin.Write("gemini.cmd", "@echo off\r\nif \"%1\"==\"--version\" echo 0.1.18\r\n");
  test::TPathPrefix path(bin.Path());
  TCliSystem system = DefaultCliSystem();
  system.ScriptDir = scripts.Path();
  system.ProgramDir = program.Path();
  system.UserProfile = profile.Path();
  system.RefreshPath = [] {};
  system.OpenAuthConsole = [] {};
  TRecordingHost host;
  host.Answers = {false, true};  // no sign-in now: "signed in before"
  TCliEnvironment env(host, system);
  SetProgramDir(program.Path());
  env.CheckCliStatus();
  SetProgramDir({});
  const std::string log = program.Read("log.txt");
  EXPECT_NE(log.find("] Result: Node=True, Gemini=True\r\n"), std::string::npos) << log;
  EXPECT_EQ(host.Questions, (std::vector<std::string>{clitexts::kAskAuthorise, clitexts::kAskAuthSkip}));
  EXPECT_EQ(program.Read("auth_confirmed.flag"), "1");
  EXPECT_TRUE(host.Messages.empty()) << host.Messages.front();
  EXPECT_TRUE(std::filesystem::is_empty(scripts.Path())) << "the script and its log are removed";
}

// Registry values as raw text, for putting them back.
std::optional<std::wstring> RegistryText(HKEY ARoot, const wchar_t* AKey, const wchar_t* AName) {
  DWORD size = 0;
  if (::RegGetValueW(ARoot, AKey, AName, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, nullptr, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  std::wstring value(size / sizeof(wchar_t), L'\0');
  if (::RegGetValueW(ARoot, AKey, AName, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, value.data(),
                     &size) != ERROR_SUCCESS)
    return std::nullopt;
  value.resize(wcsnlen(value.c_str(), value.size()));
  return value;
}

std::string Utf8(const std::wstring& AText) { return PathToUtf8(std::filesystem::path(AText)); }

class WindowsRegistryPath : public ::testing::Test {
 protected:
  static constexpr const char* kMachine = "\"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment\"";
  static constexpr const char* kUser = "HKCU\\Environment";

  WindowsRegistryPath()
      : FMachinePath(RegistryText(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                                  L"Path")),
        FUserPath(RegistryText(HKEY_CURRENT_USER, L"Environment", L"Path")),
        FUserTemp(RegistryText(HKEY_CURRENT_USER, L"Environment", L"TEMP")),
        FUserTmp(RegistryText(HKEY_CURRENT_USER, L"Environment", L"TMP")),
        FPath(test::GetEnvVar("PATH")) {}
  ~WindowsRegistryPath() override {
    if (FMachinePath) Reg("add " + std::string(kMachine) + " /v Path /t REG_EXPAND_SZ /d \"" + Utf8(*FMachinePath) + "\" /f");
    Reg("delete " + std::string(kUser) + " /f");
    Reg("add " + std::string(kUser) + " /f");
    if (FUserPath) Reg("add " + std::string(kUser) + " /v Path /t REG_EXPAND_SZ /d \"" + Utf8(*FUserPath) + "\" /f");
    if (FUserTemp) Reg("add " + std::string(kUser) + " /v TEMP /t REG_EXPAND_SZ /d \"" + Utf8(*FUserTemp) + "\" /f");
    if (FUserTmp) Reg("add " + std::string(kUser) + " /v TMP /t REG_EXPAND_SZ /d \"" + Utf8(*FUserTmp) + "\" /f");
    test::SetEnvVar("PATH", FPath);
  }
  // reg.exe started directly, so nothing expands %...% in its arguments.
  static void Reg(const std::string& AArgs) { RunConsoleCommand("reg.exe " + AArgs, "", "", 60); }
  static std::string Refreshed() {
    DefaultCliSystem().RefreshPath();
    return test::GetEnvVar("PATH");
  }

  std::optional<std::wstring> FMachinePath, FUserPath, FUserTemp, FUserTmp;
  std::string FPath;
};

TEST_F(WindowsRegistryPath, RebuiltFromTheMachineAndUserValues) {
  Reg("add " + std::string(kMachine) + " /v Path /t REG_EXPAND_SZ /d C:\\A /f");
  Reg("add " + std::string(kUser) + " /v Path /t REG_SZ /d C:\\B /f");
  EXPECT_EQ(Refreshed(), "C:\\A;C:\\B") << "both keys open";

  Reg("add " + std::string(kMachine) + " /v Path /t REG_EXPAND_SZ /d %SystemRoot%\\tarvok /f");
  EXPECT_EQ(Refreshed(), "%SystemRoot%\\tarvok;C:\\B") << "references stay unexpanded";

  Reg("add " + std::string(kMachine) + " /v Path /t REG_EXPAND_SZ /d \"\" /f");
  EXPECT_EQ(Refreshed(), "C:\\B") << "an empty machine path gives the user path alone";

  Reg("add " + std::string(kMachine) + " /v Path /t REG_EXPAND_SZ /d C:\\A /f");
  Reg("delete " + std::string(kUser) + " /v Path /f");
  EXPECT_EQ(Refreshed(), "C:\\A;") << "the user key has no Path value";

  Reg("delete " + std::string(kUser) + " /f");
  EXPECT_EQ(Refreshed(), "C:\\A") << "the user key does not open";
}

TEST_F(WindowsRegistryPath, APathThatIsNotTextFails) {
  Reg("add " + std::string(kUser) + " /v Path /t REG_DWORD /d 7 /f");
  test::SetEnvVar("PATH", "C:\\unchanged");
  EXPECT_ANY_THROW(DefaultCliSystem().RefreshPath());
  EXPECT_EQ(test::GetEnvVar("PATH"), "C:\\unchanged");
}

}  // namespace
}  // namespace tarvok
