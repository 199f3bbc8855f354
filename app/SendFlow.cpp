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
#include <filesystem>
#include <simdjson.h>

#include "app/AttachmentsPanel.h"
#include "app/ChatLibrary.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/UiTexts.h"
#include "cli/CliRequest.h"
#include "core/ApiKeyStats.h"
#include "core/Platform.h"
#include "core/Text.h"
#include "storage/Attachments.h"

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

TContentPart FilePart(const std::string& APath) {
  QFile file(Q(APath));
  if (!file.open(QIODevice::ReadOnly)) throw TSendError(ui::kErrFileAccess + S(file.errorString()));
  if (file.size() > kMaxFileSize)
    throw TSendError(std::string(ui::kErrFileTooBigStart) + "\"" + FileNameOnly(APath) + "\"" + ui::kErrFileTooBigEnd);
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

struct TSendFlow::TSendState {
  std::string ModelToUse;
  std::string LMessageID;
  std::string SavedPrompt;
  std::vector<std::string> SavedFiles;
};

bool TSendFlow::memoPromptKeyDown(int AKey, int AModifiers) {
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
    const auto help = ProgramDir() / "AddKey.html";
    if (std::filesystem::exists(help)) F.ChatView().ShowHelpPage(Q(PathToUtf8(help)));
    else F.Dlg().ShowMessage(Q(ui::kMsgCreateKeyAt) + kApiKeyPage);
    return;
  }
  const std::string prompt = S(F.memoPrompt->toPlainText());
  if (Trim(prompt).empty() && F.FlbFiles1.empty()) {
    F.Dlg().ShowMessage(Q(ui::kMsgEnterPrompt));
    return;
  }
  SendUserRequest(prompt, F.FlbFiles1);
}

void TSendFlow::SendUserRequest(const std::string& AText, std::vector<std::string> AFiles) {
  auto state = std::make_shared<TSendState>();
  state->ModelToUse = S(F.cbModels->currentText());
  const bool image = LowerCase(state->ModelToUse).find("image") != std::string::npos;
  if (image && !AFiles.empty()) {
    F.Dlg().ShowMessage(Q(ui::kMsgImageNoFiles));
    return;
  }

  F.SetRequestPending(true);
  F.SetStatusText(ui::kStatusSending);
  F.StartElapsedTime();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

  if (F.ChatView().ShowsHelpPage()) F.Library().btnNewChatClick();  // AFiles is our own copy already

  state->LMessageID = F.ChatView().AddUserMessage(AText, AFiles, -1);
  state->SavedFiles = AFiles;
  state->SavedPrompt = AText;

  TContentParts parts;
  if (!image) {
    parts.push_back(TContentPart{TPartType::ptText, AText, {}, {}, {}});
    try {
      for (const auto& path : AFiles) parts.push_back(FilePart(path));
    } catch (const std::exception& e) {
      F.ChatView().AddModelMessage(e.what(), "", -1, "");
      RestoreInputFields(*state);
      F.ChatView().MarkMessageSendError(state->LMessageID);
      F.SetRequestPending(false);
      F.StopElapsedTime();
      return;
    }
  }

  F.Attachments().ClearInputs();
  F.memoPrompt->setFocus();

  // The completion may arrive after the window is gone; it is dropped then.
  QPointer<TForm1> form(&F);
  const std::string key = S(F.editApiKey->currentText());
  if (image) {
    F.GeminiDM().GenerateImage(key, state->ModelToUse, AText, MakeCallback([form, state](const std::string& R, const TTokenUsage&, const TResultFlags& AFlags) {
      if (form) form->RunCommand([&] { form->SendFlow().ImageCompletion(*state, R, AFlags); });
    }));
  } else {
    auto completion = MakeCallback([form, state](const std::string& R, const TTokenUsage& U, const TResultFlags& AFlags) {
      if (form) form->RunCommand([&] { form->SendFlow().TextCompletion(*state, R, U, AFlags); });
    });
    const bool web = F.chkEnableWebSearch->isChecked();
    if (F.GeminiCliCheckBox->isChecked())
      GenerateContentCLI(F.GeminiDM(), kGeminiCliKey, state->ModelToUse, parts, web, completion, true);
    else
      F.GeminiDM().GenerateContent(key, state->ModelToUse, parts, web, completion, true);
  }
  F.UpdateContextTokensLabel();
  F.ChatView().ScrollChatToBottom();
}

void TSendFlow::RestoreInputFields(const TSendState& AState) {
  F.memoPrompt->setPlainText(Q(AState.SavedPrompt));
  F.Attachments().SetFiles(AState.SavedFiles);
  F.SetStatusText(ui::kStatusSendRestored);
  F.Dlg().ShowMessage(Q(ui::kMsgSendRestored));
}

void TSendFlow::TextCompletion(TSendState& AState, const std::string& AResult, const TTokenUsage& AUsage,
                               const TResultFlags& AFlags) {
  F.StopElapsedTime();
  const std::string duration = std::to_string(F.FSecondsElapsed);
  const bool cli = F.GeminiCliCheckBox->isChecked();
  const std::string countKey = cli ? std::string(kGeminiCliKey) : S(F.editApiKey->currentText());
  F.CountLabel->setText(QString::number(GetRequestCount(countKey, S(F.cbModels->currentText()))));

  const bool failed = AFlags.Failed;
  if (failed) {
    RestoreInputFields(AState);
    F.ChatView().MarkMessageSendError(AState.LMessageID);
    F.ChatView().AddModelMessage(WithoutRateLimitMarker(AResult), AState.ModelToUse, -1, "");
  } else {
    F.ChatView().AddModelMessage(AResult, AState.ModelToUse, AUsage.CandidatesTokens, duration);
    if (AUsage.PromptTokens > 0) F.ChatView().UpdateMessageTokens(AState.LMessageID, AUsage.PromptTokens);
  }
  F.SetStatusText(ui::kStatusDone);
  F.UpdateContextTokensLabel();

  // The service recorded a model turn exactly when the result is not a failure.
  auto& history = F.GeminiDM().FChatHistory;
  if (!failed && !history.empty() && history.back().Role == "model") {
    history.back().ModelName = AState.ModelToUse;
    history.back().Duration = duration;
  }
  // Unlocked before saving, so a failing save (shown by the general error report)
  // cannot leave the window locked.
  F.SetRequestPending(false);
  SaveAfterAnswer();
  F.ChatView().ScrollChatBy(130);
  AState.SavedFiles.clear();
}

void TSendFlow::ImageCompletion(TSendState& AState, const std::string& AResult, const TResultFlags& AFlags) {
  F.StopElapsedTime();
  F.CountLabel->setText(
      QString::number(GetRequestCount(S(F.editApiKey->currentText()), S(F.cbModels->currentText()))));
  if (AFlags.Failed) {
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
  F.SetRequestPending(false);
  SaveAfterAnswer();
  F.SetStatusText(ui::kStatusDone);
  F.UpdateContextTokensLabel();
  F.ChatView().ScrollChatToBottom();
  AState.SavedFiles.clear();
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
