#pragma once
// A new part by compression: the transfer prompt, the model's answer split into a title
// and a summary, and the part's history of one model turn.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/GeminiDM.h"
#include "core/Types.h"

namespace tarvok {

inline constexpr std::string_view kNewPartPromptFile = "HistoryNewPartPrompt.txt";
inline constexpr std::string_view kNewPartTitleMarker = "Название новой части:";
inline constexpr std::string_view kUntitledPart = "Без названия";
extern const std::string_view kDefaultNewPartPrompt;

// The transfer prompt from HistoryNewPartPrompt.txt in the program folder, or the
// built-in default when the file is missing, unreadable or blank. A missing file is
// created with the default (UTF-8 with a byte-order mark); a failed write is ignored.
std::string LoadNewPartPrompt();

// A failed request (as its worker flagged it: an HTTP error, a rate limit, a transport
// exception) or a blank answer does not make a new part. A real summary that begins with
// "Ошибка" does.
bool IsNewPartFailure(std::string_view AAnswer, const TResultFlags& AFlags);

struct TNewPartAnswer {
  std::string Title;    // never empty: "Без названия" when the answer names none
  std::string Summary;  // every line followed by CR LF
};
TNewPartAnswer ParseNewPartAnswer(std::string_view AAnswer);

// The part's history: one model turn holding the summary, stamped now, counted by the
// answer's CandidatesTokens when at least 1, else by the estimate.
TChatHistory MakeNewPartHistory(const std::string& ASummary, const TTokenUsage& AUsage);
// Writes that turn to APartFile and only then replaces the service's history with it; a
// failed write raises TFileError and leaves the service as it was.
void StartNewPartHistory(TGeminiDM& AService, const std::string& APartFile, const std::string& ASummary,
                         const TTokenUsage& AUsage);

}  // namespace tarvok
