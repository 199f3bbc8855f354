#include "app/StreamingAnswer.h"

#include "app/ChatPage.h"
#include "core/DateTime.h"
#include "view/MessageRender.h"
#include "view/StreamRender.h"

namespace tarvok {

void TStreamingAnswer::Show(IChatPage& APage, const std::string& AText, const std::string& AModelName) {
  const bool first = FId.empty();
  if (first) FId = "answer_" + MakeMessageId(Now());
  const std::string html = WithBubbleId(RenderModelMessage(AText, AModelName, Now(), -1, ""), FId);
  if (first) {
    APage.AppendChatHtml(html);
    APage.ScrollChatToBottom();
  } else {
    APage.ExecutePageScript(ReplaceBubbleScript(FId, html));
  }
}

void TStreamingAnswer::Finish(IChatPage& APage, const std::string& AFinalHtml) {
  APage.ExecutePageScript(ReplaceBubbleScript(FId, AFinalHtml));
}

}  // namespace tarvok
