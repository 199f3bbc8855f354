#pragma once
// Runs one console command with its standard output and error captured as one text.
// Every outcome is a string: the output, an error text, or empty.

#include <string>
#include <vector>

namespace tarvok {

class TGeminiDM;
class TStopToken;

// ACommand is a whole command line; its first word names the program. AInput, when not
// empty, is written to the child's standard input (which is then closed). AWorkDir empty
// keeps the caller's folder. ATimeoutSeconds <= 0 means 300. At the limit the child and
// every process it started are ended and the result is the time-out text. When AStop is
// stopped they are ended the same way and the result is empty; a token stopped before the
// start starts nothing. The runner registers a wake with AStop while it waits, so a stop
// is seen at once.
std::string RunConsoleCommand(const std::string& ACommand, const std::string& AInput, const std::string& AWorkDir,
                              int ATimeoutSeconds, TStopToken* AStop = nullptr);
// The service's member form; the runner uses none of the service's state.
std::string RunConsoleCommand(TGeminiDM& AGeminiDM, const std::string& ACommand, const std::string& AInput,
                              const std::string& AWorkDir, int ATimeoutSeconds);

// Splits a command line into arguments by the shell's quoting rules ('...' literal,
// "..." with \ escaping " \ $ ` and newline, \ outside quotes escaping the next character),
// without expanding anything. False when a quote is left open.
bool SplitCommandLine(const std::string& ALine, std::vector<std::string>& AArgs);
// Quotes one argument so that SplitCommandLine and /bin/sh both read it back unchanged.
std::string ShellQuote(const std::string& AArg);

// Captured bytes as text: UTF-8 when they are valid UTF-8, else the legacy code page.
std::string DecodeConsoleOutput(const std::string& ABytes);

// The system's message for an error code, with trailing blanks, line breaks, other
// characters below code 33 and full stops removed from its end.
std::string TrimSystemMessage(std::string AMessage);
// The system's message for an error code (errno on POSIX, GetLastError on Windows), trimmed.
std::string SystemErrorMessage(unsigned long ACode);

// Puts the child-ended signal back to its default handling (a no-op on Windows). Called
// once at program start, before any thread starts.
void ResetChildSignal();

inline constexpr int kDefaultConsoleTimeoutSeconds = 300;

}  // namespace tarvok
