#pragma once
// Preparing the machine for the CLI route: the "CLI" box's check with its fast start through
// the authorisation flag, the install, update, uninstall, authorisation and account-clearing
// commands, and the diagnostic log. The flows are plain code; the window supplies the
// dialogs, the busy state and the threads through TCliHost, and the system calls sit in
// TCliSystem (real ones from DefaultCliSystem, replaceable in tests).

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tarvok {

class TCliHost {
 public:
  virtual ~TCliHost() = default;
  // UI thread only.
  virtual void ShowMessage(const std::string& AText) = 0;
  virtual bool AskYesNo(const std::string& AText) = 0;  // with the confirmation symbol; true for Yes
  virtual bool IsCliBoxChecked() = 0;
  virtual void UntickCliBox() = 0;  // runs GeminiCliCheckBoxClick like a user's click
  virtual void SetApiFieldsEnabled(bool AEnabled) = 0;  // editApiKey, KreaEdit, UpDown1
  virtual void ModelsChanged() = 0;                     // cbModelsChange
  virtual void SetStatusText(const std::string& AText) = 0;
  // Any thread: runs the step on the UI thread and waits (at once when already there). When
  // the window is gone the step is dropped.
  virtual void RunOnUiThread(const std::function<void()>& AStep) = 0;
  // UI thread: status AStatus + "...", wait cursor, box disabled; ATaskLogic on a background
  // thread; then normal cursor, box enabled and "Готово" (an error of the task is not shown).
  virtual void RunCliTask(const std::string& AStatus, std::function<void()> ATaskLogic) = 0;
};

struct TCliSystem {
  // Where each script run gets a new private folder for the script, its log and its end
  // marker; empty: the user's private folder (UserPrivateFolder).
  std::filesystem::path ScriptDir;
  std::filesystem::path ProgramDir;  // the flag file's folder
  std::filesystem::path UserProfile; // USERPROFILE on Windows, HOME elsewhere
  // Runs the script in a visible console and waits for its end (the console's process and,
  // where the system's scripts make one, the end marker ADone), at most ALimitSeconds;
  // "" when it ended, else the error to show: it could not start, its console failed or
  // ended before the script started, or it did not end in time.
  std::function<std::string(const std::filesystem::path& AScript, const std::filesystem::path& ADone,
                            int ALimitSeconds)>
      RunScriptAndWait;
  // Makes newly installed node, npm and gemini visible to later child processes.
  std::function<void()> RefreshPath;
  // Opens the interactive sign-in console and returns at once.
  std::function<void()> OpenAuthConsole;
};
TCliSystem DefaultCliSystem();

// One script run's files, in a private folder of their own that goes when the run is over.
struct TScriptFiles {
  std::filesystem::path Folder, Script, Log, Done;
};

// How long a script may take: the check prints two versions; the others wait for the
// user to read the console and press Enter.
inline constexpr int kCheckScriptLimitSeconds = 120;
inline constexpr int kInteractiveScriptLimitSeconds = 3600;

class TCliEnvironment {
 public:
  TCliEnvironment(TCliHost& AHost, TCliSystem ASystem);

  // UI thread.
  void GeminiCliCheckBoxClick();
  void CheckCliStatus();
  void N20Click();      // install
  void N18Click();      // update
  void N19Click();      // uninstall
  void CLI1Click();     // authorisation console
  void gemini1Click();  // clear the account folder

  // The steps, public so that each can be run on its own.
  void ComponentCheck();      // background
  void PerformInstall();      // either thread
  void InstallOffer();        // UI thread
  void AuthorisationOffer();  // UI thread
  void UpdateCliStatus(const std::string& AText);  // any thread
  // Any thread; ADone and ALimitSeconds as in TCliSystem::RunScriptAndWait. False, after
  // showing why, when the script did not run or did not end.
  bool RunBatchAndWait(const std::filesystem::path& AScript, const std::filesystem::path& ADone = {},
                       int ALimitSeconds = kInteractiveScriptLimitSeconds);

  std::filesystem::path LocalAuthFlag() const;

 private:
  void RunOnUi(const std::function<void()>& AStep);
  // Writes the script ABaseName ("gemini_check" -> .bat/.sh) with the lines made for its
  // files, runs it, hands the files to AAfter, and removes them all.
  void RunScript(const std::string& ABaseName, int ALimitSeconds,
                 const std::function<std::vector<std::string>(const TScriptFiles&)>& ALines,
                 const std::function<void(const TScriptFiles&)>& AAfter = {});

  TCliHost& FHost;
  TCliSystem FSystem;
};

// Appends "[dd.mm.yyyy hh:nn:ss] message\r\n" to log.txt in the program's folder; a line
// that cannot be written is lost.
void WriteLog(const std::string& AMessage);
std::string FormatLogLine(double ANow, const std::string& AMessage);

}  // namespace tarvok
