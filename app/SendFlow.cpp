#include "app/SendFlow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <simdjson.h>

#include "app/AttachmentsPanel.h"
#include "app/ChatView.h"
#include "app/ChatLibrary.h"
#include "app/MainWindow.h"
#include "app/PromptBox.h"
#include "app/QtText.h"
#include "app/RequestGuard.h"
#include "app/SettingsLists.h"
#include "app/StreamingAnswer.h"
#include "app/UiTexts.h"
#include "cli/CliRequest.h"
#include "cli/CliRuns.h"
#include "core/ApiKeyStats.h"
#include "core/DataFolder.h"
#include "core/Platform.h"
#include "core/DateTime.h"
#include "core/FileUpload.h"
#include "core/Text.h"
#include "storage/Attachments.h"
#include "view/Markdown.h"
#include "view/MessageRender.h"
#include "view/StreamRender.h"

namespace tarvok {
namespace {

constexpr const char* kRateLimitMarker = "ERROR_CODE_429_FINAL:";
constexpr std::int64_t kMaxFileSize = 20971520;
// Where a Gemini API key is made, for the message shown when the help page is missing.
constexpr const char* kApiKeyPage = "https://aistudio.google.com/app/apikey";

class TSendError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string FileNameOnly(const std::string& APath) { return PathToUtf8(PathFromUtf8(APath).filename()); }

TContentPart FilePart(const std::string& APath, bool AFilesApi) {
  QFile file(Q(APath));
  if (!file.open(QIODevice::ReadOnly)) throw TSendError(ui::kErrFileAccess + S(file.errorString()));
  if (file.size() > (AFilesApi ? static_cast<std::int64_t>(kMaxUploadBytes) : kMaxFileSize))
    throw TSendError(std::string(ui::kErrFileTooBigStart) + "\"" + FileNameOnly(APath) + "\"" +
                     (AFilesApi ? ui::kErrFileTooBigEndFilesApi : ui::kErrFileTooBigEnd));
  file.close();
  TContentPart part;
  part.PartType = TPartType::ptInlineData;
  part.MimeType = GetMimeTypeFromFileExt(APath);
  part.Base64Data = TSharedText(FileToBase64(APath, part.Text));
  part.FileName = APath;
  if (part.Base64Data.empty()) throw TSendError(ui::kErrFileEncode + APath);
  return part;
}

}  // namespace

std::string WithoutRateLimitMarker(const std::string& AResult) {
  if (!StartsWithNoCase(AResult, kRateLimitMarker)) return AResult;
  std::string out = AResult;
  const auto at = out.find(kRateLimitMarker);
  if (at != std::string::npos) out.erase(at, std::string_view(kRateLimitMarker).size());
  else out.erase(0, std::string_view(kRateLimitMarker).size());  // the marker in other letter case
  return out;
}

// What a request is, fixed when it is sent: the completion never reads the controls back,
// which the user may change while the answer is pending.
struct TSendFlow::TSendState {
  std::string ModelToUse;
  std::string ApiKey;
  bool Cli = false;
  bool WebSearch = false;
  bool Stream = false;
  bool Thoughts = false;
  std::string LMessageID;
  std::string SavedPrompt;
  std::vector<std::string> SavedFiles;
  // The history's length before the request: the service's user turn sits there and the
  // model turn of this request right after it.
  std::size_t HistoryBefore = 0;
  TStopTokenPtr Stop;
  TStreamingAnswer Streaming;
  // The user's stop ended the request (rather than its answer coming first), as its completion says.
  bool StoppedByUser = false;
  // An answer asked again: the exchange it replaces, put back when the new one fails.
  TChatHistory Replaced;
  bool Stopped() const { return StoppedByUser; }
};

void TSendFlow::btnSendClick() {
  if (F.RequestPending()) F.StopPendingRequest();
  else if (!F.LateStopPress()) ValidateAndSend();
}

bool TSendFlow::memoPromptKeyDown(int AKey, int AModifiers) {
  if (AKey == Qt::Key_Escape && F.RequestPending()) {
    F.StopPendingRequest();
    return true;
  }
  F.TokenUpdateTimer->stop();
  F.TokenUpdateTimer->start();
  if ((AKey == Qt::Key_Return || AKey == Qt::Key_Enter) && AModifiers == Qt::ControlModifier) {
    ValidateAndSend();
    return true;
  }
  return false;
}

void TSendFlow::ValidateAndSend() {
  // One request at a time: a second one would restore or extend the wrong history.
  if (F.RequestPending()) return;
  if (Trim(S(F.editApiKey->currentText())).empty() && !F.GeminiCliCheckBox->isChecked()) {
    F.Dlg().ShowMessage(Q(ui::kMsgEnterApiKey));
    const auto help = InstallDir() / "AddKey.html";
    if (std::filesystem::exists(help)) F.ChatView().ShowHelpPage(Q(PathToUtf8(help)), true);
    else F.Dlg().ShowMessage(Q(ui::kMsgCreateKeyAt) + kApiKeyPage);
    return;
  }
  const std::string prompt = PromptBoxText(*F.memoPrompt);
  if (Trim(prompt).empty() && F.FlbFiles1.empty()) {
    F.Dlg().ShowMessage(Q(ui::kMsgEnterPrompt));
    return;
  }
  SendUserRequest(prompt, F.FlbFiles1);
}

void TSendFlow::SendUserRequest(const std::string& AText, std::vector<std::string> AFiles) {
  auto state = std::make_shared<TSendState>();
  state->ModelToUse = S(F.cbModels->currentText());
  state->ApiKey = S(F.editApiKey->currentText());
  state->Cli = F.GeminiCliCheckBox->isChecked();
  state->WebSearch = F.chkEnableWebSearch->isChecked();
  state->Stream = !state->Cli && F.chkStreamAnswers->isChecked();
  state->Thoughts = !state->Cli && F.chkShowThoughts->isChecked();
  state->SavedPrompt = AText;
  state->SavedFiles = AFiles;
  state->HistoryBefore = F.GeminiDM().FChatHistory.size();
  const bool image = LowerCase(state->ModelToUse).find("image") != std::string::npos;
  if (image && !AFiles.empty()) {
    F.Dlg().ShowMessage(Q(ui::kMsgImageNoFiles));
    return;
  }
  Start(state, AText, AFiles, nullptr, image);
}

bool TSendFlow::AnswerAgain(const TSendRoute& ARoute, const std::string& AText, const TContentParts& AParts,
                            const std::vector<std::string>& AFiles, TChatHistory AReplaced) {
  if (F.RequestPending()) return false;
  auto state = std::make_shared<TSendState>();
  state->ModelToUse = ARoute.Model;
  state->ApiKey = ARoute.ApiKey;
  state->Cli = ARoute.Cli;
  state->WebSearch = ARoute.WebSearch;
  state->Stream = !ARoute.Cli && ARoute.Stream;
  state->SavedPrompt = AText;
  state->SavedFiles = AFiles;
  auto& history = F.GeminiDM().FChatHistory;
  state->HistoryBefore = history.size() - std::min(history.size(), AReplaced.size());
  // The exchange leaves the history and the page; the new answer takes its place.
  history.resize(state->HistoryBefore);
  F.GeminiDM().FActualHistoryTokens = TGeminiDM::CountTokensForHistory(history);
  F.ChatView().RemoveBubblesFromTurn(static_cast<int>(state->HistoryBefore));
  state->Replaced = std::move(AReplaced);
  const bool image = LowerCase(state->ModelToUse).find("image") != std::string::npos;
  Start(state, AText, AFiles, &AParts, image);
  return true;
}

void TSendFlow::PutBackReplaced(TSendState& AState) {
  if (AState.Replaced.empty()) return;
  auto& history = F.GeminiDM().FChatHistory;
  history.resize(std::min(history.size(), AState.HistoryBefore));
  history.insert(history.end(), AState.Replaced.begin(), AState.Replaced.end());
  F.GeminiDM().FActualHistoryTokens = TGeminiDM::CountTokensForHistory(history);
  AState.Replaced.clear();
  // The page as it was before the click.
  F.ChatView().ResetChatView();
  F.ChatView().RenderChatHistory(history);
}

void TSendFlow::Start(const std::shared_ptr<TSendState>& AState, const std::string& AText,
                      const std::vector<std::string>& AFiles, const TContentParts* AParts, bool AImage) {
  const auto& state = AState;
  const bool image = AImage;
  F.SetRequestPending(true);
  F.SetStatusText(ui::kStatusSending);
  F.StartElapsedTime();
  // Whatever fails before the worker has the request gives back the window, the prompt,
  // the files and the history as it was.
  TRequestStartGuard guard(F, [this, state] {
    auto& history = F.GeminiDM().FChatHistory;
    if (history.size() > state->HistoryBefore) {
      history.resize(state->HistoryBefore);
      F.GeminiDM().FActualHistoryTokens = TGeminiDM::CountTokensForHistory(history);
    }
    PutBackReplaced(*state);
    // With an error on its way, its own report follows: no second message box.
    RestoreInputFields(*state, std::uncaught_exceptions() == 0);
    if (!state->LMessageID.empty()) F.ChatView().MarkMessageSendError(state->LMessageID);
  });
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

  // The help page shown for a missing key begins a new chat; shown with F1 over the open
  // chat, it only gives the pane back to that chat.
  if (!AParts && F.ChatView().HelpShownForMissingKey()) {
    F.Library().btnNewChatClick();  // AFiles is our own copy already
    state->HistoryBefore = F.GeminiDM().FChatHistory.size();
  } else {
    F.ChatView().PutChatBack();
  }
  state->LMessageID = F.ChatView().AddUserMessage(AText, AFiles, -1);

  TContentParts parts;
  if (AParts) {
    parts = *AParts;  // asked again: the turn as it was sent
  } else if (!image) {
    parts.push_back(TContentPart{TPartType::ptText, AText, {}, {}, {}});
    try {
      // The CLI reads the files itself; the REST route sends big ones through the Files API.
      const bool filesApi = F.GeminiDM().UseFilesApi && !state->Cli;
      for (const auto& path : AFiles) parts.push_back(FilePart(path, filesApi));
    } catch (const std::exception& e) {
      // The notice names a file: its name is shown as written, whatever it holds.
      F.ChatView().AddModelMessage(MarkdownLiteral(e.what()), "", -1, "");
      guard.Abort();
      return;
    }
  }

  // Asked again, the boxes keep whatever the user has in them.
  if (!AParts) {
    F.Attachments().ClearInputs();
    F.memoPrompt->setFocus();
  }

  // The completion may arrive after the window is gone; it is dropped then.
  QPointer<TForm1> form(&F);
  TRequestOptions options;
  // A CLI run's token is known to the registry that ends every run when the window closes.
  options.Stop = state->Stop = F.NewPendingStop(state->Cli ? TCliRuns::Instance().NewToken() : nullptr);
  if (image) {
    F.GeminiDM().GenerateImage(state->ApiKey, state->ModelToUse, AText, MakeCallback([form, state](const std::string& R, const TTokenUsage&, const TResultFlags& AFlags) {
      if (form) form->RunCommand([&] { form->SendFlow().ImageCompletion(*state, R, AFlags); });
    }), options);
  } else {
    auto completion = MakeCallback([form, state](const std::string& R, const TTokenUsage& U, const TResultFlags& AFlags) {
      if (form) form->RunCommand([&] { form->SendFlow().TextCompletion(*state, R, U, AFlags); });
    });
    if (state->Cli) {
      GenerateContentCLI(F.GeminiDM(), kGeminiCliKey, state->ModelToUse, parts, state->WebSearch, completion, true,
                         options.Stop);
    } else {
      options.Stream = state->Stream;
      options.OnUploadProgress = [form](const std::string& AFileName, int APercent) {
        if (form) form->SetStatusText(ui::kStatusUploadingFile + AFileName + ": " + std::to_string(APercent) + "%");
      };
      options.IncludeThoughts = state->Thoughts;
      if (options.Stream)
        options.OnPartial = [form, state](const std::string& AText) {
          if (form) form->RunCommand([&] { form->SendFlow().ShowPartialAnswer(*state, AText); });
        };
      if (options.Stream && options.IncludeThoughts)
        options.OnPartialThoughts = [state](const std::string& AThoughts) { state->Streaming.SetThoughts(AThoughts); };
      F.GeminiDM().GenerateContent(state->ApiKey, state->ModelToUse, parts, state->WebSearch, completion, true,
                                   options);
    }
  }
  guard.HandedOver();
  F.UpdateContextTokensLabel();
  F.ChatView().ScrollChatToBottom();
}

void TSendFlow::RestoreInputFields(const TSendState& AState, bool AShowMessage) {
  // What the user typed or attached while waiting stays: the failed prompt goes in front
  // of it, and the failed files not attached again join them, up to the limit.
  const std::string typed = PromptBoxText(*F.memoPrompt);
  if (typed.empty() || typed == AState.SavedPrompt) SetPromptBoxText(*F.memoPrompt, AState.SavedPrompt);
  else if (!AState.SavedPrompt.empty()) SetPromptBoxText(*F.memoPrompt, AState.SavedPrompt + "\r\n\r\n" + typed);
  std::vector<std::string> files = F.FlbFiles1;
  const auto limit = static_cast<std::size_t>(std::max(0, F.GeminiDM().MaxFilesPerRequest));
  for (const auto& path : AState.SavedFiles) {
    if (files.size() >= limit) break;
    if (std::none_of(files.begin(), files.end(), [&](const std::string& AHave) { return SameTextNoCase(AHave, path); }))
      files.push_back(path);
  }
  F.Attachments().SetFiles(files);
  // The user stopped it: they know, and a message box would only be in the way.
  if (AState.Stopped()) {
    F.SetStatusText(ui::kStatusStopped);
    return;
  }
  F.SetStatusText(ui::kStatusSendRestored);
  if (AShowMessage) F.Dlg().ShowMessage(Q(ui::kMsgSendRestored));
}

void TSendFlow::ShowPartialAnswer(TSendState& AState, const std::string& AText) {
  // The help page covered the chat: the growing bubble went with it and starts again.
  if (F.ChatView().PutChatBack()) AState.Streaming.Forget();
  AState.Streaming.Show(F.Page(), AText, AState.ModelToUse);
}

void TSendFlow::TextCompletion(TSendState& AState, const std::string& AResult, const TTokenUsage& AUsage,
                               const TResultFlags& AFlags) {
  AState.StoppedByUser = AFlags.Stopped;
  F.StopElapsedTime();
  // The help page covered the chat: the answer is shown whole in the chat put back.
  if (F.ChatView().PutChatBack()) AState.Streaming.Forget();
  const std::string duration = std::to_string(F.FSecondsElapsed);
  F.Settings().cbModelsChange();  // the count of the pair the boxes show

  const bool failed = AFlags.Failed;
  if (failed) {
    PutBackReplaced(AState);
    RestoreInputFields(AState);
    F.ChatView().MarkMessageSendError(AState.LMessageID);
    // What arrived of a broken stream stays readable in its marked bubble; it is not recorded.
    if (AState.Streaming.Shown()) F.ChatView().MarkMessageSendError(AState.Streaming.Id());
    F.ChatView().AddModelMessage(WithoutRateLimitMarker(AResult), AState.ModelToUse, -1, "");
  } else {
    if (AState.Streaming.Shown()) {
      int tokens = AUsage.CandidatesTokens;
      // The service did not count a stopped answer yet; the footer shows the turn's estimate.
      const auto& history = F.GeminiDM().FChatHistory;
      if (AState.Stopped() && tokens <= 0 && !history.empty()) tokens = history.back().TokenCount;
      std::string html = RenderAnswerMessage(AResult, AState.ModelToUse, Now(), tokens, duration, AFlags.Extras);
      if (AState.Stopped()) html = WithStoppedNote(html);
      AState.Streaming.Finish(F.Page(), html);
    } else {
      F.ChatView().AddAnswerMessage(AResult, AState.ModelToUse, AUsage.CandidatesTokens, duration, AFlags.Extras);
    }
    if (AUsage.PromptTokens > 0) F.ChatView().UpdateMessageTokens(AState.LMessageID, AUsage.PromptTokens);
  }
  F.SetStatusText(AState.Stopped() ? ui::kStatusStopped : ui::kStatusDone);
  F.UpdateContextTokensLabel();

  // Only the model turn this request added, never an earlier one.
  auto& history = F.GeminiDM().FChatHistory;
  const std::size_t modelTurn = AState.HistoryBefore + 1;
  const bool recorded = !failed && history.size() == modelTurn + 1 && history[modelTurn].Role == "model";
  if (recorded) {
    history[modelTurn].ModelName = AState.ModelToUse;
    history[modelTurn].Duration = duration;
    F.ChatView().TagExchange(AState.LMessageID, static_cast<int>(AState.HistoryBefore), false);
  }
  // Unlocked before saving, so a failing save (shown by the general error report)
  // cannot leave the window locked.
  F.SetRequestPending(false);
  SaveAfterAnswer();
  if (recorded) RememberRoute(AState, modelTurn);
  F.ChatView().ScrollChatBy(130);
  AState.SavedFiles.clear();
}

void TSendFlow::ImageCompletion(TSendState& AState, const std::string& AResult, const TResultFlags& AFlags) {
  AState.StoppedByUser = AFlags.Stopped;
  F.StopElapsedTime();
  F.CountLabel->setText(
      QString::number(GetRequestCount(S(F.editApiKey->currentText()), S(F.cbModels->currentText()))));
  if (AFlags.Failed) {
    PutBackReplaced(AState);
    RestoreInputFields(AState);
    F.ChatView().MarkMessageSendError(AState.LMessageID);
    F.ChatView().AddModelMessage(WithoutRateLimitMarker(AResult), "", -1, "");
  } else {
    simdjson::dom::parser parser;
    simdjson::dom::object object;
    if (parser.parse(AResult).get_object().get(object) == simdjson::SUCCESS) {
      std::string_view mime, data;
      if (object["mime_type"].get_string().get(mime) != simdjson::SUCCESS) mime = {};
      if (object["base64_data"].get_string().get(data) != simdjson::SUCCESS) data = {};
      if (!mime.empty() && !data.empty())
        F.ChatView().AddImageMessage(std::string(mime), std::string(data));
      else
        F.ChatView().AddModelMessage(ui::kMsgBadImageJson, "", -1, "");
    } else {
      F.ChatView().AddModelMessage(AResult, "", -1, "");
    }
  }
  const auto& history = F.GeminiDM().FChatHistory;
  const std::size_t modelTurn = AState.HistoryBefore + 1;
  const bool recorded = !AFlags.Failed && history.size() == modelTurn + 1 && history[modelTurn].Role == "model";
  if (recorded) F.ChatView().TagExchange(AState.LMessageID, static_cast<int>(AState.HistoryBefore), IsImageTurn(history[modelTurn]));
  F.SetRequestPending(false);
  SaveAfterAnswer();
  if (recorded) RememberRoute(AState, modelTurn);
  F.SetStatusText(AState.Stopped() ? ui::kStatusStopped : ui::kStatusDone);
  F.UpdateContextTokensLabel();
  F.ChatView().ScrollChatToBottom();
  AState.SavedFiles.clear();
}

void TSendFlow::RememberRoute(const TSendState& AState, std::size_t AModelTurn) {
  FLastRoute = TSendRoute{AState.ModelToUse, AState.ApiKey, AState.Cli, AState.WebSearch, AState.Stream};
  FLastRouteChat = F.FCurrentChatFile;
  FLastRouteTurn = AModelTurn;
}

std::optional<TSendRoute> TSendFlow::RouteOfLastAnswer() const {
  if (!FLastRoute || FLastRouteChat != F.FCurrentChatFile || FLastRouteTurn + 1 != F.GeminiDM().FChatHistory.size())
    return std::nullopt;
  return FLastRoute;
}

void TSendFlow::SaveAfterAnswer() {
  const bool isNew = F.FCurrentChatFile.empty();
  F.Library().SaveCurrentChat();
  if (isNew) {
    F.Library().FillPartsList(F.FCurrentChatFile);
    if (F.GeminiListBox->count() > 0) F.Library().SelectPartsEntry(0);
  }
}

}  // namespace tarvok
