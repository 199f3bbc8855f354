#pragma once
// The chat page: its one fixed template (style sheet and scripts) and the scripts the
// window runs in it. The page's HTML structure is a contract with MessageRender.h.

#include <string>
#include <string_view>
#include <vector>

namespace tarvok {

// The whole page, one line: head metas, the style rules, copyCode/downloadCode/
// autoScrollToBottom, and one empty div "chat-container".
const std::string& BaseHtmlTemplate();

// Title prefix the page sets to ask the window to save the copied code.
inline constexpr std::string_view kSaveCodeCommand = "COMMAND:SAVE_CODE:";
// True when ATitle starts with the command, in any letter case.
bool IsSaveCodeCommand(std::string_view ATitle);

// Sets (or adds) the "Токены: N" footer of the message with id AMessageId.
// Empty when AMessageId is empty: there is nothing to run.
std::string UpdateMessageTokensScript(std::string_view AMessageId, int ATokenCount);
// Red border and " (Ошибка отправки)" in the header; empty for an empty id.
std::string MarkMessageSendErrorScript(std::string_view AMessageId);

// Text as the body of a JavaScript string literal in double quotes (also safe inside
// an HTML script element: '<' and '>' are escaped).
std::string JsStringBody(std::string_view AText);

// --- the stored turns the bubbles show (the page's per-bubble buttons name them) ---

struct TShownTurn {
  int Turn = 0;        // index in the history
  bool Image = false;  // a picture answer: nothing to copy as text
};
// Tags the page's bubbles, in order, with the turns of a page just drawn from the history.
std::string TagShownTurnsScript(const std::vector<TShownTurn>& ATurns);
// Tags the question with id AUserId and the last model bubble as one exchange just answered.
std::string TagExchangeScript(std::string_view AUserId, int AUserTurn, int AModelTurn, bool AImage);
// Removes the bubble of turn ATurn and every bubble after it.
std::string RemoveBubblesFromTurnScript(int ATurn);

}  // namespace tarvok
