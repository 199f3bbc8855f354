#pragma once
// The chat pane's behaviour for the window: bubbles, token footers, error marks,
// scrolling and the page's save-code command. It works on any IChatPage.

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/ChatPage.h"
#include "app/Dialogs.h"
#include "core/Types.h"

namespace tarvok {

// A model turn that holds a picture rather than text.
bool IsImageTurn(const THistoryItem& AItem);

class TChatView {
 public:
  TChatView(IChatPage& APage, Dialogs& ADialogs);

  // Receives every status-bar text ("Файл сохранен: ...").
  std::function<void(const QString& AText)> OnStatusText;
  // A bubble's button the user clicked ("copy", "again", "edit") and the stored turn it names.
  std::function<void(const QString& AAction, int ATurn)> OnBubbleAction;
  // The conversation shown, for putting the chat back after the page lost its document.
  std::function<const TChatHistory&()> ShownHistory;

  // Folder of the last saved code file, with its trailing separator; "LastSaveDir" in config.ini.
  std::string FLastSaveDir;
  // A save dialog is open; further save commands are dropped.
  bool FIsSaving = false;

  IChatPage& Page() { return FPage; }

  // Page only: the window's own ResetChatView also clears the prompt and the files.
  void ResetChatView() {
    FPendingUserId.clear();
    FHelpOverChat.reset();
    FPage.ResetChatView();
  }
  void EnsureBaseHtmlLoaded() { FPage.EnsureBaseHtmlLoaded(); }
  void AppendChatHtml(const std::string& AHtml) {
    PutChatBack();
    FPage.AppendChatHtml(AHtml);
  }
  void ExecutePageScript(const std::string& AScript) {
    PutChatBack();
    FPage.ExecutePageScript(AScript);
  }

  void UpdateMessageTokens(const std::string& AMessageId, int ATokenCount);
  void MarkMessageSendError(const std::string& AMessageId);
  void ScrollChatBy(int APixels) {
    PutChatBack();
    FPage.ScrollChatBy(APixels);
  }
  void ScrollChatToBottom() {
    PutChatBack();
    FPage.ScrollChatToBottom();
  }
  void DownButClick() { ScrollChatToBottom(); }

  // Routes the page's title changes to WebBrowser1TitleChange (done once, after the first reset).
  void AttachTitleHandler();
  // The save-code command: clipboard text to a UTF-8 file with byte-order mark.
  void WebBrowser1TitleChange(const QString& ATitle);

  // The key-help page over the chat, and whether the pane shows it. AForMissingKey: shown
  // because a send had no key, after which the next send starts a new chat; otherwise (F1)
  // the chat comes back before anything else is shown in the pane.
  void ShowHelpPage(const QString& AFilePath, bool AForMissingKey);
  bool ShowsHelpPage() const;
  bool HelpShownForMissingKey() const { return ShowsHelpPage() && FHelpOverChat && FHelpOverChat->ForMissingKey; }
  // Puts the chat the help page covers back into the pane; false when it showed no help page.
  bool PutChatBack();

  // Returns the new message's id. ATokenCount -1 asks for the estimate; other negatives show no footer.
  std::string AddUserMessage(const std::string& AText, const std::vector<std::string>& AFiles, int ATokenCount);
  void AddModelMessage(const std::string& AText, const std::string& AModelName, int ATokenCount,
                       const std::string& ADuration);
  // An answer with its thoughts and sources (an answer without them is AddModelMessage's bubble).
  void AddAnswerMessage(const std::string& AText, const std::string& AModelName, int ATokenCount,
                        const std::string& ADuration, const TAnswerExtras& AExtras);
  void AddImageMessage(const std::string& AMimeType, const std::string& ABase64Data);
  // One bubble per stored turn, appended in few batches; the caller has emptied the page before.
  void RenderChatHistory(const TChatHistory& AHistory);
  // The question AUserId and the answer just shown are stored turns AUserTurn and AUserTurn + 1.
  void TagExchange(const std::string& AUserId, int AUserTurn, bool AImage);
  // Takes the bubble of stored turn ATurn, and everything shown after it, off the page.
  void RemoveBubblesFromTurn(int ATurn);

 private:
  QString InitialSaveDir() const;
  // The page came back blank after its renderer ended: rebuild the chat and say so; after
  // losses with nothing new shown in between the page stays empty.
  void PageLost();
  // AUserId, when given, goes on the bubble of the history's last turn if that is a user turn.
  void AppendHistory(const TChatHistory& AHistory, const std::string& AUserId = {});

  IChatPage& FPage;
  Dialogs& FDialogs;
  // The chat as the pane showed it when the help page covered it: a request answered
  // meanwhile has recorded its turn, which is then shown as a new bubble as usual.
  struct THelpOverChat {
    TChatHistory History;
    std::string PendingUserId;
    bool ForMissingKey = false;
  };
  std::optional<THelpOverChat> FHelpOverChat;
  // Renderer losses since something new was shown.
  int FPageLossesInARun = 0;
  // The user bubble whose request has not answered yet: its token footer or error mark is
  // still to come, so a rebuilt page gives it back its id.
  std::string FPendingUserId;
};

}  // namespace tarvok
