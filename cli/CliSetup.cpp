// Script texts, the check log's analysis and PATH merging, the same on every system.
#include "cli/CliSetup.h"

#include <regex>

#include "cli/ConsoleRunner.h"
#include "core/Files.h"
#include "core/Platform.h"
#include "core/TextAttachment.h"

namespace tarvok {
namespace {

const std::string kNodeInstallerUrl = "https://nodejs.org/dist/v22.12.0/node-v22.12.0-x64.msi";
// Ends with 0 when the Node.js running it is recent enough for the CLI.
const std::string kNodeRecentEnough =
    "\"process.exit(parseInt(process.versions.node)>=" + std::to_string(kMinNodeMajor) + "?0:1)\"";

// The POSIX scripts install into the user's own prefix when the global one is not writable.
const char* const kChooseNpmPrefix =
    "GLOBAL_PREFIX=$(npm config get prefix 2>/dev/null); "
    "if [ -n \"$GLOBAL_PREFIX\" ] && [ -w \"$GLOBAL_PREFIX/lib\" ] && [ -w \"$GLOBAL_PREFIX/bin\" ]; "
    "then set --; else set -- --prefix \"$HOME/.local\"; fi";

// First lines of every POSIX script: the end marker is made on every way out, a closed
// terminal window (SIGHUP) included.
std::vector<std::string> PosixScriptHead(const std::string& ADone) {
  return {"#!/bin/sh", "trap " + ShellQuote(": > " + ShellQuote(ADone)) + " EXIT", "trap 'exit 1' HUP INT TERM"};
}

std::vector<std::string> WithHead(const std::string& ADone, std::vector<std::string> ABody) {
  std::vector<std::string> lines = PosixScriptHead(ADone);
  lines.insert(lines.end(), ABody.begin(), ABody.end());
  return lines;
}

}  // namespace

std::vector<std::string> CheckScriptLinesWindows(const std::string& ALogPath) {
  return {
      "@echo off",
      "color 0F",
      "cls",
      "echo Checking Components...",
      "echo [1/2] Node.js:",
      std::string("node -v > \"" + ALogPath + "\" 2>&1"),
      std::string("type \"" + ALogPath + "\""),
      "echo.",
      "echo [2/2] Gemini CLI:",
      std::string("echo | set /p dummy=\"GeminiCheck: \" >> \"" + ALogPath + "\""),
      std::string("gemini --version >> \"" + ALogPath + "\" 2>&1"),
      std::string("type \"" + ALogPath + "\""),
      "echo.",
      "echo ---------------------",
      std::string("echo Log saved to: " + ALogPath),
      "echo Closing in 4 seconds...",
      "timeout /t 4 >nul",
  };
}

std::vector<std::string> SetupScriptLinesWindows() {
  return {
      "@echo off",
      "title Gemini CLI Setup",
      "color 0A",
      "cls",
      "set \"PATH=%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\System32\\Wbem;%PATH%\"",
      "echo === Gemini CLI Setup (NodeJS Only) ===",
      "echo.",
      "echo [1/2] Checking Node.js...",
      // A Node.js older than the CLI needs counts as missing: the installer replaces it.
      "node -e " + kNodeRecentEnough + " >nul 2>&1",
      "if not errorlevel 1 goto NODE_FOUND_CMD",
      "if exist \"C:\\Program Files\\nodejs\\node.exe\" (\"C:\\Program Files\\nodejs\\node.exe\" -e " +
          kNodeRecentEnough + " >nul 2>&1 && goto NODE_FOUND_FILE)",
      "goto INSTALL_NODE",
      ":NODE_FOUND_CMD",
      "echo Node.js found (in PATH).",
      "goto SKIP_NODE",
      ":NODE_FOUND_FILE",
      "echo Node.js found (at C:\\Program Files\\nodejs).",
      "set \"PATH=%PATH%;C:\\Program Files\\nodejs\"",
      "goto SKIP_NODE",
      ":INSTALL_NODE",
      "echo Node.js not found. Preparing to download v22.12.0...",
      "if exist \"%TEMP%\\node_install.msi\" del /f /q \"%TEMP%\\node_install.msi\"",
      std::string("curl -L --retry 3 --retry-delay 5 -o \"%TEMP%\\node_install.msi\" " + kNodeInstallerUrl),
      "echo Installing Node.js...",
      "msiexec /i \"%TEMP%\\node_install.msi\" /quiet /norestart",
      "echo Node.js installed.",
      "set \"PATH=%PATH%;C:\\Program Files\\nodejs\"",
      ":SKIP_NODE",
      "echo.",
      "echo [2/2] Installing/Updating Gemini CLI...",
      "echo Using absolute path for npm to avoid PATH issues...",
      "call npm install -g @google/gemini-cli@latest",
      "if errorlevel 1 (",
      "    echo \"npm\" command failed. Trying absolute path C:\\Program Files\\nodejs\\npm.cmd ...",
      "    call \"C:\\Program Files\\nodejs\\npm.cmd\" install -g @google/gemini-cli@latest",
      ")",
      "echo.",
      "echo [Finish] Setup finished.",
      "echo You can verify installation by typing \"gemini --version\"",
      "echo.",
      "echo Press any key to close this window...",
      "pause >nul",
  };
}

std::vector<std::string> UpdateScriptLinesWindows() {
  return {
      "@echo off",
      "title Gemini CLI Update",
      "color 0E",
      "cls",
      "echo [Update] Installing @google/gemini-cli@latest ...",
      "echo.",
      "call npm install -g @google/gemini-cli@latest",
      "echo.",
      "echo Update process finished.",
      "pause",
  };
}

std::vector<std::string> UninstallScriptLinesWindows() {
  return {
      "@echo off",
      "title Gemini CLI Uninstall",
      "color 0C",
      "cls",
      "echo [Uninstall] Removing @google/gemini-cli ...",
      "echo.",
      "call npm uninstall -g @google/gemini-cli",
      "echo.",
      "echo [Cleanup] Removing configuration files...",
      "if exist \"%USERPROFILE%\\.config\\google-gemini-cli\" ( echo Deleting config... & rmdir /s /q \"%USERPROFILE%\\.config\\google-gemini-cli\" )",
      "if exist \"%USERPROFILE%\\.gemini\" ( echo Deleting .gemini... & rmdir /s /q \"%USERPROFILE%\\.gemini\" )",
      "if exist \"%USERPROFILE%\\.gemini-cli\" ( echo Deleting .gemini-cli... & rmdir /s /q \"%USERPROFILE%\\.gemini-cli\" )",
      "echo.",
      "echo Uninstall process finished.",
      "pause",
  };
}

std::string AuthConsoleParametersWindows() { return "/k \"echo === Gemini CLI Launch === & title Gemini CLI & color 0A & gemini & echo. & echo You can close this window now.\""; }

std::string WindowsScriptBytes(const std::vector<std::string>& ALines) {
  std::string text;
  for (const std::string& line : ALines) {
    text += line;
    text += "\r\n";
  }
  return EncodeLegacyCodePage(text);
}

std::vector<std::string> CheckScriptLinesPosix(const std::string& ALogPath, const std::string& ADone) {
  const std::string log = ShellQuote(ALogPath);
  return WithHead(ADone, {
      "umask 077",  // the log is the user's alone
      "echo 'Checking Components...'",
      "echo '[1/2] Node.js:'",
      "node -v > " + log + " 2>&1",
      "cat " + log,
      "echo",
      "echo '[2/2] Gemini CLI:'",
      "printf '%s' 'GeminiCheck: ' >> " + log,
      "if command -v gemini >/dev/null 2>&1; then gemini --version >> " + log +
          " 2>&1; else echo 'gemini: command not found' >> " + log + "; fi",
      "cat " + log,
      "echo",
      "echo '---------------------'",
      "echo 'Log saved to: '" + log,
      "if [ -t 1 ]; then echo 'Closing in 4 seconds...'; sleep 4; fi",
  });
}

std::vector<std::string> SetupScriptLinesPosix(const std::string& ADone) {
  const std::string minimum = std::to_string(kMinNodeMajor);
  return WithHead(ADone, {
      "printf '\\033]0;Gemini CLI Setup\\007'",
      "echo '=== Gemini CLI Setup ==='",
      "echo",
      "echo '[1/2] Checking Node.js...'",
      "node_ok() { v=$(node -v 2>/dev/null) || return 1; v=${v#v}; [ \"${v%%.*}\" -ge " + minimum +
          " ] 2>/dev/null; }",
      "if command -v npm >/dev/null 2>&1; then",
      "    if ! node_ok; then",
      // The system's Node.js (Debian 12: 18) is too old: the npm registry carries Node.js
      // itself, installed for this user alone.
      "        echo \"Node.js $(node -v 2>/dev/null || echo '(none)') is too old: Gemini CLI needs Node.js " + minimum +
          " or later.\"",
      "        echo 'Installing a current Node.js into ~/.local from the npm registry...'",
      "        npm install -g --prefix \"$HOME/.local\" node@22",
      "        PATH=\"$HOME/.local/bin:$PATH\"; export PATH; hash -r 2>/dev/null",
      "    fi",
      "    if node_ok; then",
      "        echo \"Node.js found: $(node -v)\"",
      "        echo",
      "        echo '[2/2] Installing/Updating Gemini CLI...'",
      std::string("        ") + kChooseNpmPrefix,
      "        npm install -g \"$@\" @google/gemini-cli@latest",
      "    else",
      "        echo 'Node.js " + minimum + " or later could not be installed, so Gemini CLI was not installed.'",
      "    fi",
      "else",
      "    echo 'npm not found. Install Node.js and npm from your system packages, for example:'",
      "    echo '  sudo apt install nodejs npm    (Debian, Ubuntu)'",
      "    echo '  sudo dnf install nodejs npm    (Fedora)'",
      "    echo 'and then run the setup again.'",
      "fi",
      "echo",
      "echo '[Finish] Setup finished.'",
      "echo 'You can verify installation by typing \"gemini --version\"'",
      "echo",
      "if [ -t 0 ]; then echo 'Press Enter to close this window...'; read dummy; fi",
  });
}

std::vector<std::string> UpdateScriptLinesPosix(const std::string& ADone) {
  return WithHead(ADone, {
      "printf '\\033]0;Gemini CLI Update\\007'",
      "echo '[Update] Installing @google/gemini-cli@latest ...'",
      "echo",
      kChooseNpmPrefix,
      "npm install -g \"$@\" @google/gemini-cli@latest",
      "echo",
      "echo 'Update process finished.'",
      "if [ -t 0 ]; then echo 'Press Enter to close this window...'; read dummy; fi",
  });
}

std::vector<std::string> UninstallScriptLinesPosix(const std::string& ADone) {
  return WithHead(ADone, {
      "printf '\\033]0;Gemini CLI Uninstall\\007'",
      "echo '[Uninstall] Removing @google/gemini-cli ...'",
      "echo",
      "GLOBAL_PREFIX=$(npm config get prefix 2>/dev/null)",
      "if [ -n \"$GLOBAL_PREFIX\" ] && [ -w \"$GLOBAL_PREFIX/lib\" ]; then npm uninstall -g @google/gemini-cli; fi",
      "if [ -d \"$HOME/.local/lib/node_modules/@google/gemini-cli\" ]; then "
      "npm uninstall -g --prefix \"$HOME/.local\" @google/gemini-cli; fi",
      "echo",
      "echo '[Cleanup] Removing configuration files...'",
      "if [ -d \"$HOME/.config/google-gemini-cli\" ]; then echo 'Deleting config...'; rm -rf \"$HOME/.config/google-gemini-cli\"; fi",
      "if [ -d \"$HOME/.gemini\" ]; then echo 'Deleting .gemini...'; rm -rf \"$HOME/.gemini\"; fi",
      "if [ -d \"$HOME/.gemini-cli\" ]; then echo 'Deleting .gemini-cli...'; rm -rf \"$HOME/.gemini-cli\"; fi",
      "echo",
      "echo 'Uninstall process finished.'",
      "if [ -t 0 ]; then echo 'Press Enter to close this window...'; read dummy; fi",
  });
}

std::string AuthConsoleScriptPosix() {
  return "echo '=== Gemini CLI Launch ==='; printf '\\033]0;Gemini CLI\\007'; gemini; echo; "
         "echo 'You can close this window now.'; exec \"${SHELL:-/bin/sh}\"";
}

std::string PosixScriptBytes(const std::vector<std::string>& ALines) {
  std::string text;
  for (const std::string& line : ALines) {
    text += line;
    text += '\n';
  }
  return text;
}

TCheckLogResult AnalyseCheckLog(std::string_view AText) {
  std::string t;
  t.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n') {
      t += ' ';
      ++i;
    } else {
      t += AText[i];
    }
  }
  static const std::regex kVersion(R"([0-9]+\.[0-9]+\.[0-9]+)");
  TCheckLogResult result;
  const bool hasV = t.find_first_of("vV") != std::string::npos;
  result.Node = hasV && std::regex_search(t, kVersion);
  const std::size_t marker = t.find("GeminiCheck:");
  result.Gemini = marker != std::string::npos && std::regex_search(t.begin() + static_cast<std::ptrdiff_t>(marker), t.end(), kVersion);
  // Node.js prints its version first, before the marker.
  static const std::regex kNodeVersion(R"(v([0-9]+)\.[0-9]+\.[0-9]+)");
  std::smatch node;
  const std::string beforeMarker = t.substr(0, marker);
  if (result.Node && std::regex_search(beforeMarker, node, kNodeVersion) && node[1].length() <= 3 &&
      std::stoi(node[1].str()) < kMinNodeMajor) {
    result.Node = false;
    result.NodeTooOld = node[0].str();
  }
  return result;
}

std::optional<std::string> ReadCheckLog(const std::filesystem::path& APath) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(APath, ec)) return std::nullopt;
  auto bytes = ReadWholeFile(APath);
  if (!bytes) return std::nullopt;
  return DecodeTextBytes(*bytes);
}

std::optional<std::string> MergeRegistryPath(const std::optional<std::string>& AMachinePath,
                                             const std::optional<std::string>& AUserPath) {
  if (AMachinePath && AUserPath) return AMachinePath->empty() ? *AUserPath : *AMachinePath + ";" + *AUserPath;
  if (AMachinePath) return *AMachinePath;
  if (AUserPath) return *AUserPath;
  return std::nullopt;
}

std::string AppendToSearchPath(const std::string& APath, const std::vector<std::string>& AFolders) {
  std::string result = APath;
  for (const std::string& folder : AFolders) {
    if (folder.empty()) continue;
    bool present = false;
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = result.find(':', start);
      const std::string_view entry = std::string_view(result).substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (entry == folder || (entry.size() == folder.size() + 1 && entry.back() == '/' && entry.starts_with(folder))) present = true;
      if (end == std::string::npos) break;
      start = end + 1;
    }
    if (present) continue;
    if (!result.empty()) result += ':';
    result += folder;
  }
  return result;
}

std::string PrependToSearchPath(const std::string& APath, const std::string& AFolder) {
  std::string result = AFolder;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = APath.find(':', start);
    const std::string entry = APath.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (entry != AFolder && entry != AFolder + "/") result += ":" + entry;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return APath.empty() ? AFolder : result;
}

}  // namespace tarvok
