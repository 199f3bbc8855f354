#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <regex>

#include "CliTestSupportPosix.h"
#include "cli/CliEnvironment.h"
#include "cli/CliSetup.h"
#include "cli/CliTexts.h"
#include "cli/ConsoleRunner.h"

namespace tarvok {
namespace {

using test::TTempDir;

// The Windows scripts as the users' machines must receive them (lines joined with CR LF below).
const char* const kCheckScript = R"SCRIPT(@echo off
color 0F
cls
echo Checking Components...
echo [1/2] Node.js:
node -v > "<LOG>" 2>&1
type "<LOG>"
echo.
echo [2/2] Gemini CLI:
echo | set /p dummy="GeminiCheck: " >> "<LOG>"
gemini --version >> "<LOG>" 2>&1
type "<LOG>"
echo.
echo ---------------------
echo Log saved to: <LOG>
echo Closing in 4 seconds...
timeout /t 4 >nul)SCRIPT";
const char* const kSetupScript = R"SCRIPT(@echo off
title Gemini CLI Setup
color 0A
cls
set "PATH=%SystemRoot%\system32;%SystemRoot%;%SystemRoot%\System32\Wbem;%PATH%"
echo === Gemini CLI Setup (NodeJS Only) ===
echo.
echo [1/2] Checking Node.js...
node -e "process.exit(parseInt(process.versions.node)>=20?0:1)" >nul 2>&1
if not errorlevel 1 goto NODE_FOUND_CMD
if exist "C:\Program Files\nodejs\node.exe" ("C:\Program Files\nodejs\node.exe" -e "process.exit(parseInt(process.versions.node)>=20?0:1)" >nul 2>&1 && goto NODE_FOUND_FILE)
goto INSTALL_NODE
:NODE_FOUND_CMD
echo Node.js found (in PATH).
goto SKIP_NODE
:NODE_FOUND_FILE
echo Node.js found (at C:\Program Files\nodejs).
set "PATH=%PATH%;C:\Program Files\nodejs"
goto SKIP_NODE
:INSTALL_NODE
echo Node.js not found. Preparing to download v22.12.0...
if exist "%TEMP%\node_install.msi" del /f /q "%TEMP%\node_install.msi"
curl -L --retry 3 --retry-delay 5 -o "%TEMP%\node_install.msi" <URL>
echo Installing Node.js...
msiexec /i "%TEMP%\node_install.msi" /quiet /norestart
echo Node.js installed.
set "PATH=%PATH%;C:\Program Files\nodejs"
:SKIP_NODE
echo.
echo [2/2] Installing/Updating Gemini CLI...
echo Using absolute path for npm to avoid PATH issues...
call npm install -g @google/gemini-cli@latest
if errorlevel 1 (
    echo "npm" command failed. Trying absolute path C:\Program Files\nodejs\npm.cmd ...
    call "C:\Program Files\nodejs\npm.cmd" install -g @google/gemini-cli@latest
)
echo.
echo [Finish] Setup finished.
echo You can verify installation by typing "gemini --version"
echo.
echo Press any key to close this window...
pause >nul)SCRIPT";
const char* const kUpdateScript = R"SCRIPT(@echo off
title Gemini CLI Update
color 0E
cls
echo [Update] Installing @google/gemini-cli@latest ...
echo.
call npm install -g @google/gemini-cli@latest
echo.
echo Update process finished.
pause)SCRIPT";
const char* const kUninstallScript = R"SCRIPT(@echo off
title Gemini CLI Uninstall
color 0C
cls
echo [Uninstall] Removing @google/gemini-cli ...
echo.
call npm uninstall -g @google/gemini-cli
echo.
echo [Cleanup] Removing configuration files...
if exist "%USERPROFILE%\.config\google-gemini-cli" ( echo Deleting config... & rmdir /s /q "%USERPROFILE%\.config\google-gemini-cli" )
if exist "%USERPROFILE%\.gemini" ( echo Deleting .gemini... & rmdir /s /q "%USERPROFILE%\.gemini" )
if exist "%USERPROFILE%\.gemini-cli" ( echo Deleting .gemini-cli... & rmdir /s /q "%USERPROFILE%\.gemini-cli" )
echo.
echo Uninstall process finished.
pause)SCRIPT";


std::string WithCrLf(std::string AText, const std::string& ALog = "") {
  for (std::size_t p; (p = AText.find("<LOG>")) != std::string::npos;) AText.replace(p, 5, ALog);
  for (std::size_t p; (p = AText.find("<URL>")) != std::string::npos;)
    AText.replace(p, 5, "https://nodejs.org/dist/v22.12.0/node-v22.12.0-x64.msi");
  std::string out;
  for (char c : AText) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out + "\r\n";
}

TEST(CliScripts, WindowsScriptsByteForByte) {
  // A user name outside ASCII lands in the ANSI code page, never as UTF-8.
  const std::string log = "C:\\Users\\\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\\AppData\\Local\\Temp\\gemini_check_log.txt";
  struct {
    const char* Name;
    std::vector<std::string> Lines;
    std::string Expected;
  } cases[] = {
      {"check", CheckScriptLinesWindows(log), WithCrLf(kCheckScript, log)},
      {"setup", SetupScriptLinesWindows(), WithCrLf(kSetupScript)},
      {"update", UpdateScriptLinesWindows(), WithCrLf(kUpdateScript)},
      {"uninstall", UninstallScriptLinesWindows(), WithCrLf(kUninstallScript)},
  };
  for (const auto& c : cases) {
    const std::string bytes = WindowsScriptBytes(c.Lines);
    EXPECT_EQ(bytes, EncodeLegacyCodePage(c.Expected)) << c.Name;
    EXPECT_EQ(bytes.find("\xEF\xBB\xBF"), std::string::npos) << c.Name;
  }
  EXPECT_NE(WindowsScriptBytes(CheckScriptLinesWindows(log)).find("\\\xC8\xE2\xE0\xED\\"), std::string::npos);
  EXPECT_EQ(SetupScriptLinesWindows()[33].substr(0, 5), "    e");
  EXPECT_EQ(SetupScriptLinesWindows()[34].substr(0, 5), "    c");
  EXPECT_EQ(AuthConsoleParametersWindows(),
            "/k \"echo === Gemini CLI Launch === & title Gemini CLI & color 0A & gemini & echo. & echo You can close "
            "this window now.\"");
}

TEST(CliScripts, CheckLogAnalysis) {
  struct {
    const char* Name;
    std::string Log;
    bool Node, Gemini;
    std::string TooOld = "";
  } cases[] = {
      {"both present", "v22.12.0\r\nGeminiCheck: 0.1.18\r\n", true, true},
      {"gemini not a command",
       "v22.12.0\r\nGeminiCheck: 'gemini' is not recognized as an internal or external command,\r\noperable program "
       "or batch file.\r\n",
       true, false},
      {"empty log", "", false, false},
      {"marker in lower case does not count", "v22.12.0\r\ngeminicheck: 0.1.18\r\n", true, false},
      {"a version before the marker is not the CLI's", "v22.12.0\r\nGeminiCheck: \r\n", true, false},
      {"node's test looks at the whole log", "node: not found (V)\r\nGeminiCheck: 0.1.18\r\n", true, true},
      {"no letter v: no node", "'node' is not recognized\r\nGeminiCheck: 0.1.18\r\n", false, true},
      {"POSIX stand-in log", "v20.20.2\nGeminiCheck: 0.61.0\n", true, true},
      {"Node.js older than the CLI needs", "v18.20.4\r\nGeminiCheck: 0.1.18\r\n", false, true, "v18.20.4"},
      {"the oldest it runs on", "v20.0.0\r\nGeminiCheck: 0.1.18\r\n", true, true},
      {"only the CLI's version counts for nothing old", "V\r\nGeminiCheck: v1.2.3\r\n", true, true},
  };
  for (const auto& c : cases) {
    const TCheckLogResult r = AnalyseCheckLog(c.Log);
    EXPECT_EQ(r.Node, c.Node) << c.Name;
    EXPECT_EQ(r.Gemini, c.Gemini) << c.Name;
    EXPECT_EQ(r.NodeTooOld, c.TooOld) << c.Name;
  }
  TTempDir dir;
  EXPECT_FALSE(ReadCheckLog(dir.Path() / "missing.txt").has_value());
  // Written by a console in UTF-16 with its mark.
  const std::string utf16("\xFF\xFE" "v\0" "2\0" "2\0" ".\0" "1\0" ".\0" "0\0", 16);
  EXPECT_TRUE(AnalyseCheckLog(ReadCheckLog(dir.Write("log16.txt", utf16)).value()).Node);
}

TEST(CliScripts, PathMerging) {
  using O = std::optional<std::string>;
  struct {
    const char* Name;
    O Machine, User, Expected;
  } cases[] = {
      {"both keys", "C:\\A", "C:\\B", "C:\\A;C:\\B"},
      {"user key does not open", "C:\\A", std::nullopt, "C:\\A"},
      {"user key has no Path value", "C:\\A", "", "C:\\A;"},
      {"machine key does not open", std::nullopt, "C:\\B", "C:\\B"},
      {"machine value empty", "", "C:\\B", "C:\\B"},
      {"machine key only, empty value", "", std::nullopt, ""},
      {"neither key: unchanged", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(MergeRegistryPath(c.Machine, c.User), c.Expected) << c.Name;

  EXPECT_EQ(AppendToSearchPath("/usr/bin:/bin", {"/opt/npm/bin", "/usr/bin", "/h/.local/bin"}),
            "/usr/bin:/bin:/opt/npm/bin:/h/.local/bin");
  EXPECT_EQ(AppendToSearchPath("/opt/npm/bin/:/bin", {"/opt/npm/bin"}), "/opt/npm/bin/:/bin");
  EXPECT_EQ(AppendToSearchPath("", {"/x/bin"}), "/x/bin");
  EXPECT_EQ(PrependToSearchPath("/usr/bin:/h/.local/bin/:/bin", "/h/.local/bin"), "/h/.local/bin:/usr/bin:/bin");
  EXPECT_EQ(PrependToSearchPath("", "/h/.local/bin"), "/h/.local/bin");
}

// The window's side for the flows: answers questions from a queue and records the rest.
class TTestHost : public TCliHost {
 public:
  std::deque<bool> Answers;
  std::vector<std::string> Questions, Messages, Statuses;
  bool Checked = false, ApiEnabled = true, BoxEnabled = true;
  int ModelsChangedCalls = 0;
  TCliEnvironment* Environment = nullptr;

  void ShowMessage(const std::string& AText) override { Messages.push_back(AText); }
  bool AskYesNo(const std::string& AText) override {
    Questions.push_back(AText);
    if (Answers.empty()) return false;
    const bool answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  bool IsCliBoxChecked() override { return Checked; }
  void UntickCliBox() override {
    if (!Checked) return;
    Checked = false;
    Environment->GeminiCliCheckBoxClick();
  }
  void SetApiFieldsEnabled(bool AEnabled) override { ApiEnabled = AEnabled; }
  void ModelsChanged() override { ++ModelsChangedCalls; }
  void SetStatusText(const std::string& AText) override { Statuses.push_back(AText); }
  void RunOnUiThread(const std::function<void()>& AStep) override { AStep(); }
  void RunCliTask(const std::string& AStatus, std::function<void()> ATaskLogic) override {
    Statuses.push_back(AStatus + "...");
    BoxEnabled = false;
    try {
      ATaskLogic();
    } catch (...) {
    }
    BoxEnabled = true;
    Statuses.push_back(clitexts::kStatusDone);
  }
};

class CliFlows : public ::testing::Test {
 protected:
  CliFlows() : FEnv(FHost, MakeSystem()) {
    FHost.Environment = &FEnv;
    SetProgramDir(FProgram.Path());
  }
  ~CliFlows() override { SetProgramDir({}); }

  TCliSystem MakeSystem() {
    TCliSystem s;
    s.ScriptDir = FTemp.Path();
    s.ProgramDir = FProgram.Path();
    s.UserProfile = FProfile.Path();
    // Installing or removing software cannot run here: the scripts are recorded, and the
    // check script's log is what the machine would have printed.
    s.RunScriptAndWait = [this](const std::filesystem::path& AScript, const std::filesystem::path&, int) {
      FRan.push_back(AScript.filename().string());
      FFolders.push_back(AScript.parent_path());
      FModes.push_back({test::Mode(AScript.parent_path()), test::Mode(AScript)});
      if (AScript.filename().string().starts_with("gemini_check") && FCheckLog)
        WriteFileAtomic(AScript.parent_path() / "gemini_check_log.txt", *FCheckLog);
      return FScriptError;
    };
    s.RefreshPath = [this] { ++FRefreshes; };
    s.OpenAuthConsole = [this] { ++FAuthConsoles; };
    return s;
  }
  std::string Log() const { return FProgram.Read("log.txt"); }
  bool FlagExists() const { return std::filesystem::exists(FEnv.LocalAuthFlag()); }
  void Tick() {
    FHost.Checked = true;
    FEnv.GeminiCliCheckBoxClick();
  }

  TTempDir FTemp, FProgram, FProfile;
  TTestHost FHost;
  TCliEnvironment FEnv;
  std::vector<std::string> FRan;
  std::vector<std::filesystem::path> FFolders;
  std::vector<std::pair<unsigned, unsigned>> FModes;
  std::optional<std::string> FCheckLog;
  std::string FScriptError;
  int FRefreshes = 0, FAuthConsoles = 0;
};

TEST_F(CliFlows, FastStartWithTheFlagRunsNothing) {
  FProgram.Write("auth_confirmed.flag", "1");
  Tick();
  EXPECT_TRUE(FRan.empty());
  EXPECT_EQ(FHost.Statuses, (std::vector<std::string>{clitexts::kStatusFastStart}));
  EXPECT_FALSE(FHost.ApiEnabled);
  EXPECT_EQ(FHost.ModelsChangedCalls, 1);

  FHost.Checked = false;
  FEnv.GeminiCliCheckBoxClick();
  EXPECT_TRUE(FHost.ApiEnabled);
  EXPECT_EQ(FHost.ModelsChangedCalls, 2);
  const std::string log = Log();
  EXPECT_NE(log.find("] AuthFlag found. Skipping system checks (Fast Start).\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("] CheckCliStatus: CheckBox is NOT checked. Exiting.\r\n"), std::string::npos) << log;
  const std::regex line(R"(\[\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\] GeminiCliCheckBoxClick fired\. State: True\r\n)");
  EXPECT_TRUE(std::regex_search(log, line)) << log;
}

TEST_F(CliFlows, AuthorisationOfferPaths) {
  struct {
    const char* Name;
    std::deque<bool> Answers;
    bool Flag, StillTicked;
    int Consoles;
    std::vector<std::string> Questions;
  } cases[] = {
      {"Yes, Yes", {true, true}, true, true, 1, {clitexts::kAskAuthorise, clitexts::kAskAuthDone}},
      {"Yes, No", {true, false}, false, true, 1, {clitexts::kAskAuthorise, clitexts::kAskAuthDone}},
      {"No, Yes", {false, true}, true, true, 0, {clitexts::kAskAuthorise, clitexts::kAskAuthSkip}},
      {"No, No", {false, false}, false, false, 0, {clitexts::kAskAuthorise, clitexts::kAskAuthSkip}},
  };
  FCheckLog = "v22.12.0\r\nGeminiCheck: 0.1.18\r\n";
  for (const auto& c : cases) {
    std::filesystem::remove(FEnv.LocalAuthFlag());
    FHost.Questions.clear();
    FHost.Messages.clear();
    FHost.Answers = c.Answers;
    FAuthConsoles = 0;
    Tick();
    EXPECT_EQ(FRan.back(), "gemini_check" + ScriptExtension()) << c.Name;
    EXPECT_EQ(FHost.Questions, c.Questions) << c.Name;
    EXPECT_EQ(FlagExists(), c.Flag) << c.Name;
    EXPECT_EQ(FHost.Checked, c.StillTicked) << c.Name;
    EXPECT_EQ(FHost.ApiEnabled, !c.StillTicked) << c.Name << ": unticking runs the box's handler";
    EXPECT_EQ(FAuthConsoles, c.Consoles) << c.Name;
    if (c.Consoles) {
      EXPECT_EQ(FHost.Messages, (std::vector<std::string>{clitexts::kMsgAuthConsole})) << c.Name;
    }
    if (c.Flag) {
      EXPECT_EQ(FProgram.Read("auth_confirmed.flag"), "1") << c.Name;
    }
  }
  const std::string log = Log();
  EXPECT_NE(log.find("] Result: Node=True, Gemini=True\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("] CheckCliStatus done. AuthFlag: True\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("] CheckCliStatus done. AuthFlag: False\r\n"), std::string::npos) << log;
}

TEST_F(CliFlows, MissingComponentsLeadToTheInstallOffer) {
  for (const std::optional<std::string>& log :
       {std::optional<std::string>(), std::optional<std::string>(""),
        std::optional<std::string>("v22.12.0\r\nGeminiCheck: 'gemini' is not recognized\r\n")}) {
    FCheckLog = log;
    FHost.Questions.clear();
    Tick();  // no answer: No
    EXPECT_EQ(FHost.Questions, (std::vector<std::string>{clitexts::kAskInstallMissing}));
    EXPECT_FALSE(FHost.Checked);
    EXPECT_FALSE(FlagExists());
  }
  EXPECT_NE(Log().find("] Result: Node=True, Gemini=False\r\n"), std::string::npos);
  EXPECT_NE(Log().find("] Result: Node=False, Gemini=False\r\n"), std::string::npos);

}

TEST_F(CliFlows, InstallThenCheckAgain) {
  // The check finds nothing, the user installs, the second check finds both.
  FHost.Answers = {true, false, true};
  int checks = 0;
  TCliSystem s = MakeSystem();
  s.RunScriptAndWait = [&](const std::filesystem::path& AScript, const std::filesystem::path&, int) {
    FRan.push_back(AScript.filename().string());
    if (FRan.back().starts_with("gemini_check"))
      WriteFileAtomic(AScript.parent_path() / "gemini_check_log.txt",
                      ++checks == 1 ? "" : "v22.12.0\r\nGeminiCheck: 0.1.18\r\n");
    return std::string();
  };
  TCliEnvironment env(FHost, s);
  FHost.Environment = &env;
  FHost.Checked = true;
  env.GeminiCliCheckBoxClick();
  const std::string ext = ScriptExtension();
  EXPECT_EQ(FRan, (std::vector<std::string>{"gemini_check" + ext, "gemini_setup" + ext, "gemini_check" + ext}));
  EXPECT_EQ(FRefreshes, 1);
  EXPECT_EQ(FHost.Messages, (std::vector<std::string>{clitexts::kMsgInstallStart, clitexts::kMsgInstallDone}));
  EXPECT_TRUE(FlagExists());
  EXPECT_TRUE(FHost.Checked);
  EXPECT_NE(Log().find("] Starting Interactive PerformInstall (CMD/Batch)\r\n"), std::string::npos);
}

TEST_F(CliFlows, MenuCommands) {
  const std::string ext = ScriptExtension();
  FProgram.Write("auth_confirmed.flag", "1");
  FHost.Checked = true;

  FEnv.N18Click();  // No: nothing
  EXPECT_TRUE(FRan.empty());
  FHost.Answers = {true};
  FEnv.N18Click();
  EXPECT_EQ(FRan, (std::vector<std::string>{"gemini_update" + ext}));
  EXPECT_EQ(FHost.Messages.back(), clitexts::kMsgUpdateDone);
  EXPECT_EQ(FHost.Statuses.back(), clitexts::kStatusDone);

  FHost.Answers = {true};
  FEnv.N20Click();
  EXPECT_EQ(FRan.back(), "gemini_setup" + ext);
  EXPECT_EQ(FRefreshes, 1);
  EXPECT_TRUE(FlagExists()) << "installing does not touch the flag";

  FHost.Answers = {true};
  FEnv.N19Click();
  EXPECT_EQ(FRan.back(), "gemini_uninstall" + ext);
  EXPECT_FALSE(FlagExists());
  EXPECT_FALSE(FHost.Checked);
  EXPECT_TRUE(FHost.ApiEnabled);
  EXPECT_EQ(FHost.Messages.back(), clitexts::kMsgUninstallDone);
  EXPECT_NE(Log().find("] AuthFlag deleted.\r\n"), std::string::npos);
  EXPECT_EQ(FHost.Questions.back(), clitexts::kAskUninstall);

  FEnv.CLI1Click();
  EXPECT_EQ(FAuthConsoles, 1);

  // Each script ran from a new folder of its own that only the user can enter, now gone.
  ASSERT_EQ(FFolders.size(), 3u);
  EXPECT_NE(FFolders[0], FFolders[1]);
  for (std::size_t i = 0; i < FFolders.size(); ++i) {
    EXPECT_EQ(FFolders[i].parent_path(), FTemp.Path()) << FRan[i];
    EXPECT_EQ(FModes[i], (std::pair<unsigned, unsigned>{0700u, 0600u})) << FRan[i];
    EXPECT_FALSE(std::filesystem::exists(FFolders[i])) << FRan[i];
  }
}

TEST_F(CliFlows, ScriptProblemsAreShownAndATaskThatFailsEndsQuietly) {
  // A script that did not run has nothing to report as finished, and changes nothing.
  FScriptError = "Access is denied";
  FProgram.Write("auth_confirmed.flag", "1");
  FHost.Checked = true;
  const std::string error = "Error executing batch: Access is denied";
  const struct {
    void (TCliEnvironment::*Command)();
    std::vector<std::string> Messages;
  } commands[] = {
      {&TCliEnvironment::N18Click, {error}},
      {&TCliEnvironment::N19Click, {error}},
      {&TCliEnvironment::N20Click, {clitexts::kMsgInstallStart, error}},
  };
  for (const auto& c : commands) {
    FHost.Messages.clear();
    FHost.Answers = {true};
    (FEnv.*c.Command)();
    EXPECT_EQ(FHost.Messages, c.Messages);
    EXPECT_EQ(FHost.Statuses.back(), clitexts::kStatusDone);
  }
  EXPECT_TRUE(FlagExists());
  EXPECT_TRUE(FHost.Checked);
  EXPECT_EQ(FRefreshes, 0);
  std::filesystem::remove(FEnv.LocalAuthFlag());
  FHost.Messages.clear();
  FHost.Questions.clear();
  Tick();
  EXPECT_EQ(FHost.Messages, (std::vector<std::string>{"Error executing batch: Access is denied"}));
  EXPECT_TRUE(FHost.Questions.empty()) << "no install offer for a check that never ran";
  FScriptError.clear();

  FHost.Messages.clear();
  FEnv.RunBatchAndWait(FTemp.Path() / "nothing.bat");
  EXPECT_EQ(FHost.Messages,
            (std::vector<std::string>{"Error: Batch file not generated: " + (FTemp.Path() / "nothing.bat").string()}));

  // The scripts' folder is a file: writing the check script fails, the task ends silently.
  TCliSystem s = MakeSystem();
  s.ScriptDir = FTemp.Write("not-a-folder", "x");
  TCliEnvironment env(FHost, s);
  FHost.Environment = &env;
  FHost.Messages.clear();
  FHost.Statuses.clear();
  FHost.Checked = true;
  env.CheckCliStatus();
  EXPECT_TRUE(FHost.Messages.empty());
  EXPECT_EQ(FHost.Statuses.back(), clitexts::kStatusDone);
  EXPECT_TRUE(FHost.BoxEnabled);
  EXPECT_TRUE(FHost.Checked);
}

TEST_F(CliFlows, ClearingTheAccountFolder) {
  const auto folder = FProfile.Path() / ".gemini";
  FEnv.gemini1Click();
  EXPECT_EQ(FHost.Messages, (std::vector<std::string>{std::string(clitexts::kMsgNoGeminiFolder) + folder.string() + ")."}));

  FProfile.Write(".gemini/oauth_creds.json", "{}");
  FProgram.Write("auth_confirmed.flag", "1");
  FHost.Checked = true;
  FHost.Messages.clear();
  FEnv.gemini1Click();  // No
  EXPECT_TRUE(std::filesystem::exists(folder / "oauth_creds.json"));
  EXPECT_EQ(FHost.Questions.back(), std::string(clitexts::kAskClearFolder) + folder.string() + "\"?\r\n" +
                                        clitexts::kAskClearFolderTail);

  FHost.Answers = {true};
  FEnv.gemini1Click();
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  EXPECT_FALSE(FlagExists());
  EXPECT_FALSE(FHost.Checked);
  EXPECT_EQ(FHost.Messages, (std::vector<std::string>{clitexts::kMsgFolderCleared}));
}

// The POSIX check script itself, run for real with a stand-in gemini first on PATH.
TEST(CliPosixScripts, CheckScriptFindsNodeAndTheCli) {
  TTempDir bin, temp;
  const auto log = temp.Path() / "gemini_check_log.txt";
  const auto done = temp.Path() / "done";
  const auto script =
      temp.Write("gemini_check.sh", PosixScriptBytes(CheckScriptLinesPosix(log.string(), done.string())));
  test::MakeExecutable(bin.Write("node", "#!/bin/sh\necho v22.12.0\n"));
  test::TPathPrefix path(bin.Path());

  RunConsoleCommand("/bin/sh " + ShellQuote(script.string()), "", "", 60);
  TCheckLogResult r = AnalyseCheckLog(ReadCheckLog(log).value_or(""));
  EXPECT_TRUE(r.Node);
  EXPECT_FALSE(r.Gemini) << ReadCheckLog(log).value_or("");

  test::MakeExecutable(bin.Write("gemini", "#!/bin/sh\n[ \"$1\" = --version ] && echo 0.1.18\n"));
  const std::string shown = RunConsoleCommand("/bin/sh " + ShellQuote(script.string()), "", "", 60);
  EXPECT_EQ(ReadCheckLog(log).value_or(""), "v22.12.0\nGeminiCheck: 0.1.18\n");
  EXPECT_EQ(test::Mode(log), 0600u);
  EXPECT_TRUE(std::filesystem::exists(done));
  r = AnalyseCheckLog(ReadCheckLog(log).value_or(""));
  EXPECT_TRUE(r.Node && r.Gemini);
  EXPECT_NE(shown.find("Log saved to: " + log.string()), std::string::npos) << shown;
}

// Some terminals hand the script to a running server and return at once. The check waits
// for the script's end marker, so it reads the whole log and removes it afterwards.
TEST(CliPosixScripts, ACheckHandedToATerminalServerIsWaitedForToTheEnd) {
  TTempDir bin, scripts, program, profile;
  test::MakeExecutable(bin.Write("x-terminal-emulator",
                                 "#!/bin/sh\n[ \"$1\" = -e ] && shift\n\"$@\" </dev/null >/dev/null 2>&1 &\nexit 0\n"));
  test::MakeExecutable(bin.Write("node", "#!/bin/sh\necho v22.12.0\n"));
  test::MakeExecutable(bin.Write("gemini", "#!/bin/sh\nsleep 1\necho 0.1.18\n"));  // a slow start
  test::TPathPrefix path(bin.Path());
  test::TScopedEnv display("DISPLAY", ":99");
  TCliSystem system = DefaultCliSystem();
  system.ScriptDir = scripts.Path();
  system.ProgramDir = program.Path();
  system.UserProfile = profile.Path();
  system.RefreshPath = [] {};
  system.OpenAuthConsole = [] {};
  TTestHost host;
  TCliEnvironment env(host, system);
  host.Environment = &env;
  host.Answers = {false, false};
  SetProgramDir(program.Path());
  host.Checked = true;
  env.GeminiCliCheckBoxClick();
  SetProgramDir({});
  EXPECT_EQ(host.Questions, (std::vector<std::string>{clitexts::kAskAuthorise, clitexts::kAskAuthSkip}))
      << program.Read("log.txt");
  EXPECT_TRUE(std::filesystem::is_empty(scripts.Path())) << "the script and its log are removed";
}

// A terminal that cannot open its window ends at once; that is an error shown at once, not a
// wait to the limit followed by a step reported as finished.
TEST(CliPosixScripts, ATerminalThatFailsIsAnErrorAtOnce) {
  TTempDir bin, scripts, program, profile;
  test::TPathPrefix path(bin.Path());
  test::TScopedEnv display("DISPLAY", ":99");
  const std::string terminal = (bin.Path() / "x-terminal-emulator").string();
  struct {
    const char* Name;
    std::string Terminal;  // the stand-in terminal's script
    std::string Error;     // after "Error executing batch: "
  } cases[] = {
      {"exit status 1", "echo 'xterm: Xt error: Can'\\''t open display: :99' >&2\nexit 1\n",
       std::string(clitexts::kTerminal) + terminal + clitexts::kTerminalExitCode + "1: xterm: Xt error: Can't open display: :99"},
      {"ended by a signal", "kill -9 $$\n", std::string(clitexts::kTerminal) + terminal + clitexts::kTerminalKilled + "9"},
      {"ended at once without running the script", "exit 0\n",
       std::string(clitexts::kTerminal) + terminal + clitexts::kTerminalNoScript},
  };
  for (const auto& c : cases) {
    test::MakeExecutable(bin.Write("x-terminal-emulator", "#!/bin/sh\n" + c.Terminal));
    TCliSystem system = DefaultCliSystem();
    system.ScriptDir = scripts.Path();
    system.ProgramDir = program.Path();
    system.UserProfile = profile.Path();
    int refreshes = 0;
    system.RefreshPath = [&] { ++refreshes; };
    system.OpenAuthConsole = [] {};
    TTestHost host;
    TCliEnvironment env(host, system);
    host.Environment = &env;
    SetProgramDir(program.Path());
    const auto start = std::chrono::steady_clock::now();
    host.Checked = true;
    env.GeminiCliCheckBoxClick();
    host.Answers = {true};
    env.N20Click();  // install
    SetProgramDir({});
    const std::string shown = "Error executing batch: " + c.Error;
    EXPECT_EQ(host.Messages, (std::vector<std::string>{shown, clitexts::kMsgInstallStart, shown})) << c.Name;
    EXPECT_EQ(host.Questions, (std::vector<std::string>{clitexts::kAskInstall})) << c.Name << ": no install offer";
    EXPECT_EQ(refreshes, 0) << c.Name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(kCheckScriptLimitSeconds / 4)) << c.Name;
    EXPECT_EQ(host.Statuses.back(), clitexts::kStatusDone) << c.Name;
    EXPECT_TRUE(host.BoxEnabled) << c.Name;
    EXPECT_TRUE(std::filesystem::is_empty(scripts.Path())) << c.Name;
  }
}

// The check as it runs here, with the machine's programs standing in (no display: the
// script runs without a terminal).
class CliPosixCheck : public ::testing::Test {
 protected:
  CliPosixCheck() : FPath(FBin.Path()), FNoDisplay("DISPLAY", std::nullopt), FNoWayland("WAYLAND_DISPLAY", std::nullopt) {
    FSystem = DefaultCliSystem();
    FSystem.ScriptDir = FScripts.Path();
    FSystem.ProgramDir = FProgram.Path();
    FSystem.UserProfile = FProfile.Path();
    FSystem.RefreshPath = [] {};
    FSystem.OpenAuthConsole = [] {};
    SetProgramDir(FProgram.Path());
  }
  ~CliPosixCheck() override { SetProgramDir({}); }
  void Program(const std::string& AName, const std::string& AScript) {
    test::MakeExecutable(FBin.Write(AName, "#!/bin/sh\n" + AScript));
  }
  TTempDir FBin, FScripts, FProgram, FProfile;
  test::TPathPrefix FPath;
  test::TScopedEnv FNoDisplay, FNoWayland;
  TCliSystem FSystem;
};

TEST_F(CliPosixCheck, ANodeTooOldForTheCliIsNamedAndLeadsToTheInstallOffer) {
  Program("node", "echo v18.20.4\n");
  Program("gemini", "echo 0.1.18\n");
  TTestHost host;
  TCliEnvironment env(host, FSystem);
  host.Environment = &env;
  host.Checked = true;
  env.GeminiCliCheckBoxClick();  // the install offer: No
  EXPECT_EQ(host.Messages, (std::vector<std::string>{std::string(clitexts::kNodeTooOld) + "v18.20.4" +
                                                     clitexts::kNodeTooOldTail}));
  EXPECT_EQ(host.Questions, (std::vector<std::string>{clitexts::kAskInstallMissing}));
  EXPECT_FALSE(host.Checked);
  EXPECT_NE(FProgram.Read("log.txt").find("] Node.js too old: v18.20.4\r\n"), std::string::npos);
}

// The setup script with a Node.js too old for the CLI: it installs a current one from the
// npm registry into the user's prefix and the CLI with it, or, when that fails, no CLI.
TEST_F(CliPosixCheck, SetupInstallsACurrentNodeBeforeTheCliOrNoCliAtAll) {
  TTempDir home, record;
  test::TScopedEnv homeEnv("HOME", home.Path().string());
  Program("node", "echo v18.20.4\n");
  Program("npm", "R='" + record.Path().string() +
                     "'\n"
                     "echo \"$* | $(node -v)\" >> \"$R/npm\"\n"
                     "case \"$*\" in *node@22*)\n"
                     "  [ -f \"$R/offline\" ] && exit 1\n"
                     "  mkdir -p \"$HOME/.local/bin\"; printf '#!/bin/sh\\necho v22.12.0\\n' > \"$HOME/.local/bin/node\"\n"
                     "  chmod +x \"$HOME/.local/bin/node\";;\n"
                     "esac\n");
  const std::string local = home.Path().string() + "/.local";
  struct {
    const char* Name;
    bool Offline;
    std::string Calls;
  } cases[] = {
      {"a current Node.js is installed first", false,
       "install -g --prefix " + local + " node@22 | v18.20.4\nconfig get prefix | v22.12.0\ninstall -g --prefix " + local +
           " @google/gemini-cli@latest | v22.12.0\n"},
      {"without a current Node.js no CLI", true, "install -g --prefix " + local + " node@22 | v18.20.4\n"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(home.Path() / ".local");
    std::filesystem::remove(record.Path() / "npm");
    if (c.Offline) record.Write("offline", "");
    const auto done = FScripts.Path() / "done";
    const auto script = FScripts.Write("gemini_setup.sh", PosixScriptBytes(SetupScriptLinesPosix(done.string())));
    const std::string shown = RunConsoleCommand("/bin/sh " + ShellQuote(script.string()), "", "", 60);
    EXPECT_EQ(record.Read("npm"), c.Calls) << c.Name << "\n" << shown;
    EXPECT_TRUE(std::filesystem::exists(done)) << c.Name;
    std::filesystem::remove(done);
  }
}

}  // namespace
}  // namespace tarvok
