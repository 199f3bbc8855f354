#pragma once
// The CLI environment's system-independent pieces: the script texts of both systems, the
// check log's analysis and the PATH merging.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok {

// Windows batch scripts, line by line (written in the ANSI code page with CR LF).
std::vector<std::string> CheckScriptLinesWindows(const std::string& ALogPath);
std::vector<std::string> SetupScriptLinesWindows();
std::vector<std::string> UpdateScriptLinesWindows();
std::vector<std::string> UninstallScriptLinesWindows();
// The parameters of cmd.exe for the sign-in console.
std::string AuthConsoleParametersWindows();
// Every line followed by CR LF, in the ANSI code page.
std::string WindowsScriptBytes(const std::vector<std::string>& ALines);

// POSIX shell scripts with the same steps and the same log marker (UTF-8, LF). Each one
// creates ADone when it ends, however it ends: a terminal may hand the script to a server
// and return at once, so its end is known by that file.
// The file a POSIX script makes first thing: a terminal that ends before it appears never
// ran the script.
std::string ScriptStartMarker(const std::string& ADone);
std::vector<std::string> CheckScriptLinesPosix(const std::string& ALogPath, const std::string& ADone);
std::vector<std::string> SetupScriptLinesPosix(const std::string& ADone);
std::vector<std::string> UpdateScriptLinesPosix(const std::string& ADone);
std::vector<std::string> UninstallScriptLinesPosix(const std::string& ADone);
// The shell command of the sign-in console run in a terminal window.
std::string AuthConsoleScriptPosix();
std::string PosixScriptBytes(const std::vector<std::string>& ALines);

// This system's scripts (chosen by the platform file) and their file extension. ADone is
// the end marker where the system's scripts need one.
std::vector<std::string> CheckScriptLines(const std::string& ALogPath, const std::string& ADone);
std::vector<std::string> SetupScriptLines(const std::string& ADone);
std::vector<std::string> UpdateScriptLines(const std::string& ADone);
std::vector<std::string> UninstallScriptLines(const std::string& ADone);
std::string ScriptBytes(const std::vector<std::string>& ALines);
std::string ScriptExtension();

// The oldest Node.js major version the Gemini CLI runs on.
inline constexpr int kMinNodeMajor = 20;

struct TCheckLogResult {
  bool Node = false;
  bool Gemini = false;
  // The version Node.js printed (such as "v18.20.4") when it is older than the CLI needs;
  // Node is then false.
  std::string NodeTooOld;
};
// AText is the log's text; CR LF pairs are made spaces here.
TCheckLogResult AnalyseCheckLog(std::string_view AText);
// The log decoded by its byte-order mark (else UTF-8 when valid, else the legacy code
// page); nullopt when it does not exist or cannot be read.
std::optional<std::string> ReadCheckLog(const std::filesystem::path& APath);

// The new PATH from the registry's machine and user values: nullopt for a key that does
// not open, "" for a missing value. nullopt result: leave PATH unchanged.
std::optional<std::string> MergeRegistryPath(const std::optional<std::string>& AMachinePath,
                                             const std::optional<std::string>& AUserPath);
// PATH with each folder of AFolders appended when it is not there yet (':'-separated).
std::string AppendToSearchPath(const std::string& APath, const std::vector<std::string>& AFolders);
// PATH with AFolder first, and nowhere else.
std::string PrependToSearchPath(const std::string& APath, const std::string& AFolder);

}  // namespace tarvok
