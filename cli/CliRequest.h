#pragma once
// Answering a chat turn through the Gemini CLI: GenerateContentCLI records the user turn
// and starts a TGeminiCLIThread, which writes the conversation and its attachments into a
// fresh working folder, runs the CLI there and reads its JSON answer back.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "cli/CliRuns.h"
#include "core/Types.h"

namespace tarvok {

class TGeminiDM;
class TMainThread;

// The key text under which CLI requests are counted.
inline constexpr const char* kGeminiCliKey = "GeminiCLI";

// The CLI twin of TGeminiDM::GenerateContent. Returns at once; ACallback runs later on the
// main thread with the result text and the token counts. AStop (from TCliRuns::NewToken),
// when given, stops this request's run alone; a new token is made otherwise.
void GenerateContentCLI(TGeminiDM& AGeminiDM, const std::string& AApiKey, const std::string& AModelName,
                        const TContentParts& AParts, bool AUseGoogleSearch, TStringCallback ACallback,
                        bool AAddToHistory, TStopTokenPtr AStop = nullptr);

// The CLI's failure beginnings, "ОШИБКА:", "Ошибка", "Error" (any case), for texts that come
// without a flag; the worker flags its own results.
bool IsCliFailureResult(std::string_view AResult);
// What the completion hands on: a result that holds no answer (empty, or the invalid-answer
// text) becomes a failure text and is flagged, so it is neither recorded nor shown as the
// model's answer.
std::string CliCompletionResult(const std::string& AResult, TResultFlags& AFlags);

// One request as the worker sees it: everything copied when the worker was created.
struct TCliRequest {
  std::string ApiKey;
  std::string ModelName;
  TChatHistory History;
  bool UseGoogleSearch = false;
  int TimeoutSeconds = 0;
  // Stops the run (see TCliRuns); none: the run makes its own.
  TStopTokenPtr Stop;
};
struct TCliOutcome {
  std::string Result;
  TTokenUsage Usage;
  bool Failed = false;  // Result is our failure text, not the model's answer
  bool Stopped = false;  // the run's token was stopped before its answer came
};

// The worker thread. It starts when created and frees itself after calling its completion.
// It keeps the data module's main-thread link, which lives as long as the process, and not
// the data module: a run that ends after the window has closed must not touch it.
class TGeminiCLIThread {
 public:
  static void Create(const std::string& AApiKey, const std::string& AModelName, const TChatHistory& AHistory,
                     bool AUseGoogleSearch, TGeminiDM& AGeminiDM, TStringCallback ACallback,
                     TStopTokenPtr AStop = nullptr);
  // Workers started and not yet ended (their completion run or dropped).
  static int ActiveCount();

 private:
  TGeminiCLIThread(TCliRequest ARequest, TMainThread& AMainThread, TStringCallback ACallback);
  void Execute();

  TCliRequest FRequest;
  TMainThread& FMainThread;
  TStringCallback FCallback;
  std::string FResult;
  TTokenUsage FTokenUsage;
  TResultFlags FFlags;
};

// The worker's run without its two main-thread steps (counting and completion): working
// folder, prompt and attachments, the CLI run, the answer, the clean-up.
TCliOutcome RunCliRequest(const TCliRequest& ARequest);

// Pieces of the run, exposed for tests.
// About how many bytes a run's files take on disk: the attachments, the prompt, their blocks.
std::uintmax_t CliRunBytes(const TChatHistory& AHistory);
// The text after the last folder separator of this system (the whole text when there is
// none): '\\', '/' and a drive colon on Windows, '/' alone on POSIX, where the others are
// ordinary characters of a name.
std::string ExtractFileNamePart(std::string_view AFileName);
std::string ExtractFileNamePartWindows(std::string_view AFileName);
std::string ExtractFileNamePartPosix(std::string_view AFileName);
// "file_<n>_<name>" for a part with a file name, else "file_<n>" + an extension by MIME type.
std::string CliAttachmentName(int ANumber, const TContentPart& APart);
// The prompt text of the whole conversation; attachments are written into AWorkDir.
std::string BuildCliPrompt(const TChatHistory& AHistory, const std::filesystem::path& AWorkDir);
// Result text and token counts from the runner's result (the CLI's output).
TCliOutcome InterpretCliOutput(const std::string& ARunnerResult, const std::string& APromptText);

// The command line that runs the CLI on the prompt file in the system's shell. Empty, with
// AError set, when the model name or path cannot be quoted safely for that shell.
std::string MakeCliCommandLine(const std::string& AModelName, bool AUseGoogleSearch,
                               const std::string& APromptFile, std::string& AError);
// The two systems' forms, both shared code so both are tested everywhere.
std::string MakeCliCommandLineWindows(const std::string& AModelName, bool AUseGoogleSearch,
                                      const std::string& APromptFile, std::string& AError);
std::string MakeCliCommandLinePosix(const std::string& AModelName, bool AUseGoogleSearch,
                                    const std::string& APromptFile, std::string& AError);

}  // namespace tarvok
