// The runner's system-independent pieces: command-line splitting, quoting, decoding.
#include <simdjson.h>

#include "cli/ConsoleRunner.h"
#include "core/GeminiDM.h"
#include "core/Platform.h"

namespace tarvok {

bool SplitCommandLine(const std::string& ALine, std::vector<std::string>& AArgs) {
  AArgs.clear();
  std::string word;
  bool inWord = false;
  std::size_t i = 0;
  const std::size_t n = ALine.size();
  while (i < n) {
    const char c = ALine[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inWord) AArgs.push_back(std::move(word));
      word.clear();
      inWord = false;
      ++i;
      continue;
    }
    inWord = true;
    if (c == '\'') {
      const std::size_t close = ALine.find('\'', i + 1);
      if (close == std::string::npos) return false;
      word.append(ALine, i + 1, close - i - 1);
      i = close + 1;
    } else if (c == '"') {
      ++i;
      for (;;) {
        if (i >= n) return false;
        const char d = ALine[i];
        if (d == '"') {
          ++i;
          break;
        }
        if (d == '\\' && i + 1 < n) {
          const char e = ALine[i + 1];
          if (e == '"' || e == '\\' || e == '$' || e == '`') {
            word += e;
            i += 2;
            continue;
          }
          if (e == '\n') {  // a line continuation disappears
            i += 2;
            continue;
          }
        }
        word += d;
        ++i;
      }
    } else if (c == '\\') {
      if (i + 1 < n) {
        if (ALine[i + 1] != '\n') word += ALine[i + 1];
        i += 2;
      } else {
        ++i;
      }
    } else {
      word += c;
      ++i;
    }
  }
  if (inWord) AArgs.push_back(std::move(word));
  return true;
}

std::string ShellQuote(const std::string& AArg) {
  std::string out = "'";
  for (char c : AArg) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  out += '\'';
  return out;
}

std::string DecodeConsoleOutput(const std::string& ABytes) {
  if (simdjson::validate_utf8(ABytes.data(), ABytes.size())) return ABytes;
  return DecodeLegacyCodePage(ABytes);
}

std::string TrimSystemMessage(std::string AMessage) {
  while (!AMessage.empty() &&
         (static_cast<unsigned char>(AMessage.back()) < 33 || AMessage.back() == '.'))
    AMessage.pop_back();
  return AMessage;
}

std::string RunConsoleCommand(TGeminiDM& /*AGeminiDM*/, const std::string& ACommand, const std::string& AInput,
                              const std::string& AWorkDir, int ATimeoutSeconds) {
  return RunConsoleCommand(ACommand, AInput, AWorkDir, ATimeoutSeconds);
}

}  // namespace tarvok
