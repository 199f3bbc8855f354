// The CLI environment flows: the box's check with its fast start, the install and
// authorisation offers and the menu commands.
#include "cli/CliEnvironment.h"

#include <exception>
#include <fstream>
#include <mutex>
#include <stdexcept>

#include "cli/CliSetup.h"
#include "cli/CliTexts.h"
#include "cli/PrivateFiles.h"
#include "core/DateTime.h"
#include "core/Files.h"
#include "core/Platform.h"

namespace tarvok {
namespace {

const char* Bool(bool AValue) { return AValue ? "True" : "False"; }

bool Exists(const std::filesystem::path& APath) {
  std::error_code ec;
  return std::filesystem::exists(APath, ec);
}

std::mutex GLogLock;

}  // namespace

std::string FormatLogLine(double ANow, const std::string& AMessage) {
  return "[" + FormatDateTime("dd.mm.yyyy hh:nn:ss", ANow) + "] " + AMessage + "\r\n";
}

void WriteLog(const std::string& AMessage) {
  const std::string line = FormatLogLine(Now(), AMessage);
  std::lock_guard lock(GLogLock);
  std::ofstream file(ProgramDir() / "log.txt", std::ios::binary | std::ios::app);
  file.write(line.data(), static_cast<std::streamsize>(line.size()));
}

TCliEnvironment::TCliEnvironment(TCliHost& AHost, TCliSystem ASystem) : FHost(AHost), FSystem(std::move(ASystem)) {}

std::filesystem::path TCliEnvironment::LocalAuthFlag() const { return FSystem.ProgramDir / "auth_confirmed.flag"; }

void TCliEnvironment::RunScript(const std::string& ABaseName, int ALimitSeconds,
                                const std::function<std::vector<std::string>(const TScriptFiles&)>& ALines,
                                const std::function<void(const TScriptFiles&)>& AAfter) {
  TScriptFiles files;
  files.Folder =
      MakePrivateFolder(FSystem.ScriptDir.empty() ? UserPrivateFolder() : FSystem.ScriptDir, RunFolderPrefix(ABaseName));
  struct TRemove {
    std::filesystem::path Folder;
    ~TRemove() {
      std::error_code ec;
      std::filesystem::remove_all(Folder, ec);
    }
  } remove{files.Folder};
  files.Script = files.Folder / PathFromUtf8(ABaseName + ScriptExtension());
  files.Log = files.Folder / "gemini_check_log.txt";
  files.Done = files.Folder / "done";
  WritePrivateFile(files.Script, ScriptBytes(ALines(files)));
  // A script that did not run or end has done nothing to look at or report as finished:
  // its error was shown, and the task ends here.
  if (!RunBatchAndWait(files.Script, files.Done, ALimitSeconds))
    throw std::runtime_error("script did not run: " + PathToUtf8(files.Script));
  if (AAfter) AAfter(files);
}

// A step on the UI thread whose error ends the calling task, not the UI thread's loop.
void TCliEnvironment::RunOnUi(const std::function<void()>& AStep) {
  std::exception_ptr error;
  FHost.RunOnUiThread([&] {
    try {
      AStep();
    } catch (...) {
      error = std::current_exception();
    }
  });
  if (error) std::rethrow_exception(error);
}

void TCliEnvironment::UpdateCliStatus(const std::string& AText) {
  FHost.RunOnUiThread([&] { FHost.SetStatusText(AText); });
}

void TCliEnvironment::GeminiCliCheckBoxClick() {
  const bool checked = FHost.IsCliBoxChecked();
  WriteLog(std::string("GeminiCliCheckBoxClick fired. State: ") + Bool(checked));
  FHost.SetApiFieldsEnabled(!checked);
  FHost.ModelsChanged();
  CheckCliStatus();
}

void TCliEnvironment::CheckCliStatus() {
  const bool checked = FHost.IsCliBoxChecked();
  WriteLog(std::string("CheckCliStatus called. Checked: ") + Bool(checked));
  if (!checked) {
    WriteLog("CheckCliStatus: CheckBox is NOT checked. Exiting.");
    return;
  }
  if (Exists(LocalAuthFlag())) {
    WriteLog("AuthFlag found. Skipping system checks (Fast Start).");
    FHost.SetStatusText(clitexts::kStatusFastStart);
    return;
  }
  FHost.RunCliTask(clitexts::kStatusChecking, [this] { ComponentCheck(); });
}

void TCliEnvironment::ComponentCheck() {
  UpdateCliStatus(clitexts::kStatusVisualCheck);
  TCheckLogResult found;
  RunScript(
      "gemini_check", kCheckScriptLimitSeconds,
      [](const TScriptFiles& AFiles) { return CheckScriptLines(PathToUtf8(AFiles.Log), PathToUtf8(AFiles.Done)); },
      [&found](const TScriptFiles& AFiles) {
        WriteLog("Analyzing check log...");
        if (auto text = ReadCheckLog(AFiles.Log)) found = AnalyseCheckLog(*text);
      });
  WriteLog(std::string("Result: Node=") + Bool(found.Node) + ", Gemini=" + Bool(found.Gemini));
  if (!found.NodeTooOld.empty()) {
    WriteLog("Node.js too old: " + found.NodeTooOld);
    RunOnUi([&] { FHost.ShowMessage(clitexts::kNodeTooOld + found.NodeTooOld + clitexts::kNodeTooOldTail); });
  }
  if (found.Node && found.Gemini) {
    if (!Exists(LocalAuthFlag())) RunOnUi([this] { AuthorisationOffer(); });
    WriteLog(std::string("CheckCliStatus done. AuthFlag: ") + Bool(Exists(LocalAuthFlag())));
  } else {
    RunOnUi([this] { InstallOffer(); });
  }
}

void TCliEnvironment::PerformInstall() {
  WriteLog("Starting Interactive PerformInstall (CMD/Batch)");
  RunOnUi([this] { FHost.ShowMessage(clitexts::kMsgInstallStart); });
  UpdateCliStatus(clitexts::kStatusPreparingSetup);
  RunScript("gemini_setup", kInteractiveScriptLimitSeconds,
            [](const TScriptFiles& AFiles) { return SetupScriptLines(PathToUtf8(AFiles.Done)); });
  if (FSystem.RefreshPath) FSystem.RefreshPath();
  UpdateCliStatus(clitexts::kStatusAfterInstall);
  RunOnUi([this] { FHost.ShowMessage(clitexts::kMsgInstallDone); });
}

void TCliEnvironment::N20Click() {
  if (!FHost.AskYesNo(clitexts::kAskInstall)) return;
  FHost.RunCliTask(clitexts::kStatusInstalling, [this] { PerformInstall(); });
}

void TCliEnvironment::InstallOffer() {
  if (FHost.AskYesNo(clitexts::kAskInstallMissing)) {
    PerformInstall();
    CheckCliStatus();
  } else {
    FHost.UntickCliBox();
  }
}

void TCliEnvironment::AuthorisationOffer() {
  if (FHost.AskYesNo(clitexts::kAskAuthorise)) {
    FHost.ShowMessage(clitexts::kMsgAuthConsole);
    CLI1Click();
    if (!FHost.AskYesNo(clitexts::kAskAuthDone)) return;
  } else if (!FHost.AskYesNo(clitexts::kAskAuthSkip)) {
    FHost.UntickCliBox();
    return;
  }
  WriteFileAtomic(LocalAuthFlag(), "1");
}

void TCliEnvironment::N18Click() {
  if (!FHost.AskYesNo(clitexts::kAskUpdate)) return;
  FHost.RunCliTask(clitexts::kStatusUpdating, [this] {
    UpdateCliStatus(clitexts::kStatusPreparingUpdate);
    RunScript("gemini_update", kInteractiveScriptLimitSeconds,
              [](const TScriptFiles& AFiles) { return UpdateScriptLines(PathToUtf8(AFiles.Done)); });
    RunOnUi([this] { FHost.ShowMessage(clitexts::kMsgUpdateDone); });
  });
}

void TCliEnvironment::N19Click() {
  if (!FHost.AskYesNo(clitexts::kAskUninstall)) return;
  FHost.RunCliTask(clitexts::kStatusUninstalling, [this] {
    UpdateCliStatus(clitexts::kStatusPreparingUninstall);
    RunScript("gemini_uninstall", kInteractiveScriptLimitSeconds,
              [](const TScriptFiles& AFiles) { return UninstallScriptLines(PathToUtf8(AFiles.Done)); });
    if (Exists(LocalAuthFlag())) {
      std::error_code ec;
      if (std::filesystem::remove(LocalAuthFlag(), ec)) WriteLog("AuthFlag deleted.");
    }
    RunOnUi([this] {
      FHost.ShowMessage(clitexts::kMsgUninstallDone);
      FHost.UntickCliBox();
    });
  });
}

void TCliEnvironment::CLI1Click() {
  if (FSystem.OpenAuthConsole) FSystem.OpenAuthConsole();
}

void TCliEnvironment::gemini1Click() {
  // Without a profile folder the path would be relative to the current folder: never
  // clear a folder there.
  const std::filesystem::path folder =
      FSystem.UserProfile.empty() ? std::filesystem::path(".gemini") : FSystem.UserProfile / ".gemini";
  std::error_code ec;
  const std::string full = PathToUtf8(FSystem.UserProfile.empty() ? folder : std::filesystem::absolute(folder, ec));
  if (FSystem.UserProfile.empty() || !std::filesystem::is_directory(folder, ec)) {
    FHost.ShowMessage(std::string(clitexts::kMsgNoGeminiFolder) + full + ").");
    return;
  }
  if (!FHost.AskYesNo(std::string(clitexts::kAskClearFolder) + full + "\"?\r\n" + clitexts::kAskClearFolderTail))
    return;
  try {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    if (std::filesystem::exists(LocalAuthFlag())) std::filesystem::remove(LocalAuthFlag());
    FHost.UntickCliBox();
    FHost.ShowMessage(clitexts::kMsgFolderCleared);
  } catch (const std::exception& e) {
    FHost.ShowMessage(std::string(clitexts::kMsgClearFailed) + e.what());
  }
}

bool TCliEnvironment::RunBatchAndWait(const std::filesystem::path& AScript, const std::filesystem::path& ADone,
                                      int ALimitSeconds) {
  if (!Exists(AScript)) {
    RunOnUi([&] { FHost.ShowMessage("Error: Batch file not generated: " + PathToUtf8(AScript)); });
    return false;
  }
  const std::string error = FSystem.RunScriptAndWait ? FSystem.RunScriptAndWait(AScript, ADone, ALimitSeconds) : std::string();
  if (error.empty()) return true;
  WriteLog("Script failed: " + error);
  RunOnUi([&] { FHost.ShowMessage("Error executing batch: " + error); });
  return false;
}

}  // namespace tarvok
