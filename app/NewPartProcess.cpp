#include "app/NewPartProcess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QPointer>

#include "app/ChatLibrary.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/RequestGuard.h"
#include "app/UiTexts.h"
#include "app/SendFlow.h"
#include "core/ApiKeyStats.h"
#include "core/HttpTransport.h"
#include "core/Text.h"
#include "storage/ChatLibrary.h"
#include "storage/NewPart.h"

namespace tarvok {

void TNewPartProcess::LoadNewPartPrompt() { F.FNewPartPromptText = tarvok::LoadNewPartPrompt(); }

void TNewPartProcess::N14Click() {
  if (F.RequestPending()) return;
  if (F.FCurrentChatFile.empty() || F.GeminiDM().FChatHistory.size() < 2) {
    F.Dlg().ShowMessage(Q(ui::kMsgNotEnoughHistory));
    return;
  }
  if (F.Dlg().AskYesNo(Q(ui::kAskNewPartFromContext), QString(), Dialogs::Icon::Question)) StartNewChatPartProcess();
}

void TNewPartProcess::StartNewChatPartProcess() {
  // The lists stay locked while the summary is requested, so the answer lands in the
  // chat it was made from.
  F.SetRequestPending(true);
  F.SetStatusText(ui::kStatusCreatingTransferPrompt);
  F.StartElapsedTime();
  TRequestStartGuard guard(F);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  TContentParts parts{TContentPart{TPartType::ptText, F.FNewPartPromptText, {}, {}, {}}};
  QPointer<TForm1> form(&F);
  TRequestOptions options;
  options.Stop = F.NewPendingStop();
  F.GeminiDM().GenerateContent(S(F.editApiKey->currentText()), S(F.cbModels->currentText()), parts,
                               F.chkEnableWebSearch->isChecked(),
                               MakeCallback([form](const std::string& A, const TTokenUsage& U, const TResultFlags& AFlags) {
                                 if (form) form->RunCommand([&] { form->NewPart().Completion(A, U, AFlags); });
                               }),
                               false, options);
  guard.HandedOver();
}

void TNewPartProcess::Completion(const std::string& AAnswer, const TTokenUsage& AUsage, const TResultFlags& AFlags) {
  F.StopElapsedTime();
  F.CountLabel->setText(
      QString::number(GetRequestCount(S(F.editApiKey->currentText()), S(F.cbModels->currentText()))));
  if (IsNewPartFailure(AAnswer, AFlags)) {
    F.SetRequestPending(false);
    if (StartsWithNoCase(AAnswer, "ERROR_CODE_429_FINAL:")) {
      // The quota and the wait the service named, when it named them.
      const std::string quota = QuotaDetailsLineOfResult(AAnswer);
      F.Dlg().ShowMessage(Q(quota.empty() ? std::string(ui::kMsgTooManyRequests) : ui::kMsgTooManyRequests + ("\n" + quota)));
      F.ChatView().AddModelMessage(WithoutRateLimitMarker(AAnswer), "", -1, "");
      F.SetStatusText(ui::kStatusApiTooManyRequests);
    } else {
      F.ChatView().AddModelMessage(ui::kMsgTransferPromptFailed + AAnswer, "", -1, "");
      F.SetStatusText(AFlags.Stopped ? ui::kStatusStopped : ui::kPrefixError);
    }
    F.ChatView().ScrollChatBy(200);
    return;
  }
  const TNewPartAnswer parsed = ParseNewPartAnswer(AAnswer);
  // Unlocked first: whatever fails below is shown by the general error report and must
  // not leave the window locked.
  F.SetRequestPending(false);
  F.Library().SaveCurrentChat();
  const std::string chat = F.Library().SelectedChatFile();
  if (chat.empty()) {
    F.Dlg().ShowMessage(Q(ui::kMsgNoRootChat));
    return;
  }
  const int number = F.GeminiListBox->count();
  CreateChatFolders();
  const std::string partFile = NewPartFilePath(chat, number, parsed.Title);
  StartNewPartHistory(F.GeminiDM(), partFile, parsed.Summary, AUsage);
  F.FCurrentChatFile = partFile;
  F.Library().FillPartsList(chat);
  F.Library().LoadChatFile(partFile, true);
  F.SetStatusText(ui::kStatusNewPartCreated);
  F.Dlg().ShowMessage(Q(ui::kMsgNewPartCreated));
}

}  // namespace tarvok
