// The command lines that run the CLI on the prompt file, for cmd.exe and for /bin/sh.
// The model name is typed by the user, so it is quoted for the shell, or refused when
// that shell cannot quote it; typed text never runs as a command.
#include "cli/CliRequest.h"
#include "cli/CliTexts.h"
#include "cli/ConsoleRunner.h"

namespace tarvok {
namespace {

// The CLI refuses to run in a folder it does not trust, and the working folder is new
// for every request.
constexpr const char* kTrustVariable = "GEMINI_CLI_TRUST_WORKSPACE=true";

bool HasControlCharacters(const std::string& AText) {
  for (unsigned char c : AText)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

std::string SearchSwitch(bool AUseGoogleSearch) { return AUseGoogleSearch ? " --allowed-tools googleSearch" : ""; }

}  // namespace

std::string MakeCliCommandLineWindows(const std::string& AModelName, bool AUseGoogleSearch,
                                      const std::string& APromptFile, std::string& AError) {
  // Inside cmd.exe's double quotes a quote cannot be escaped and %...% and !...! still expand.
  for (const std::string* text : {&AModelName, &APromptFile}) {
    if (HasControlCharacters(*text) || text->find_first_of("\"%!") != std::string::npos) {
      AError = std::string(clitexts::kCliUnsafeName) + *text;
      return "";
    }
  }
  AError.clear();
  return std::string("cmd.exe /c set ") + kTrustVariable + "&& gemini --model \"" + AModelName + "\"" +
         SearchSwitch(AUseGoogleSearch) + " --output-format json < \"" + APromptFile + "\"";
}

std::string MakeCliCommandLinePosix(const std::string& AModelName, bool AUseGoogleSearch,
                                    const std::string& APromptFile, std::string& AError) {
  for (const std::string* text : {&AModelName, &APromptFile}) {
    if (HasControlCharacters(*text)) {
      AError = std::string(clitexts::kCliUnsafeName) + *text;
      return "";
    }
  }
  AError.clear();
  const std::string script = std::string(kTrustVariable) + " exec gemini --model " + ShellQuote(AModelName) +
                             SearchSwitch(AUseGoogleSearch) + " --output-format json < " + ShellQuote(APromptFile);
  return "/bin/sh -c " + ShellQuote(script);
}

}  // namespace tarvok
