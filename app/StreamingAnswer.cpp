#include "app/StreamingAnswer.h"

#include "app/ChatPage.h"
#include "core/DateTime.h"
#include "view/MessageRender.h"
#include "view/StreamRender.h"

namespace tarvok {

void TStreamingAnswer::Show(IChatPage& APage, const std::string& AText, const std::string& AModelName) {
  const bool first = FId.empty();
  if (first) FId = "answer_" + MakeMessageId(Now());
  TAnswerExtras extras;
  extras.Thoughts = FThoughts;
  const std::string html = WithBubbleId(RenderAnswerMessage(AText, AModelName, Now(), -1, "", extras), FId);
  if (first) {
    APage.AppendChatHtml(html);
    APage.ScrollChatToBottom();
  } else {
    APage.ExecutePageScript(Replace(html));
  }
}

void TStreamingAnswer::Finish(IChatPage& APage, const std::string& AFinalHtml) {
  APage.ExecutePageScript(Replace(AFinalHtml));
}

std::string TStreamingAnswer::Replace(const std::string& AHtml) const {
  // A thoughts block the user has opened stays open while the answer grows.
  return FThoughts.empty() ? ReplaceBubbleScript(FId, AHtml) : ReplaceBubbleKeepingThoughtsScript(FId, AHtml);
}

}  // namespace tarvok
