#include "app/AnswerActions.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <algorithm>
#include <filesystem>

#include "app/AttachmentsPanel.h"
#include "app/ChatLibrary.h"
#include "app/ChatView.h"
#include "app/MainWindow.h"
#include "app/PromptBox.h"
#include "app/QtText.h"
#include "app/SendFlow.h"
#include "app/WindowTexts.h"
#include "core/CoreTexts.h"
#include "core/DataFolder.h"
#include "core/Files.h"
#include "core/Platform.h"
#include "storage/Base64.h"
#include "storage/ChatFile.h"
#include "view/MessageRender.h"

namespace tarvok {

std::string QuestionText(const THistoryItem& AQuestion) {
  for (const TContentPart& part : AQuestion.Parts) {
    if (part.PartType != TPartType::ptText) continue;
    std::string text = part.Text;
    const std::string_view suffix = texts::kImageRequestSuffix;
    if (text.ends_with(suffix) && AQuestion.Parts.size() == 1) text.resize(text.size() - suffix.size());
    return text;
  }
  return {};
}

std::string AnswerText(const THistoryItem& AAnswer) {
  std::string text;
  for (const TContentPart& part : AAnswer.Parts)
    if (part.PartType == TPartType::ptText) text += part.Text;
  return text;
}

void TAnswerActions::BubbleAction(const QString& AAction, int ATurn) {
  if (AAction == QLatin1String("copy")) CopyAnswer(ATurn);
  else if (AAction == QLatin1String("again")) AnswerAgain(ATurn);
  else if (AAction == QLatin1String("edit")) EditQuestion(ATurn);
}

void TAnswerActions::CopyAnswer(int ATurn) {
  const TChatHistory& history = F.GeminiDM().FChatHistory;
  if (ATurn < 0 || static_cast<std::size_t>(ATurn) >= history.size() || history[ATurn].Role != "model") return;
  QGuiApplication::clipboard()->setText(Q(AnswerText(history[ATurn])));
  F.SetStatusText(ui::kStatusAnswerCopied);
}

bool TAnswerActions::IsLastAnswer(int ATurn) {
  const TChatHistory& history = F.GeminiDM().FChatHistory;
  if (F.RequestPending()) {
    F.SetStatusText(ui::kStatusWaitForAnswer);
    return false;
  }
  if (ATurn < 1 || static_cast<std::size_t>(ATurn) + 1 != history.size() || history[ATurn].Role != "model" ||
      history[ATurn - 1].Role != "user") {
    F.SetStatusText(ui::kStatusNotLastExchange);
    return false;
  }
  return true;
}

void TAnswerActions::AnswerAgain(int ATurn) {
  if (!IsLastAnswer(ATurn)) return;
  const TChatHistory& history = F.GeminiDM().FChatHistory;
  const THistoryItem question = history[ATurn - 1];
  // The route it went by when this window sent it; for a chat opened from its file, the
  // boxes' route with the model that answered.
  TSendRoute route;
  if (const auto sent = F.SendFlow().RouteOfLastAnswer()) {
    route = *sent;
  } else {
    route.Model = history[ATurn].ModelName.empty() ? S(F.cbModels->currentText()) : history[ATurn].ModelName;
    route.ApiKey = S(F.editApiKey->currentText());
    route.Cli = F.GeminiCliCheckBox->isChecked();
    route.WebSearch = F.chkEnableWebSearch->isChecked();
    route.Stream = F.chkStreamAnswers->isChecked();
  }
  std::vector<std::string> files;
  for (const TContentPart& part : question.Parts)
    if (part.PartType == TPartType::ptInlineData && !part.FileName.empty()) files.push_back(part.FileName);
  TChatHistory replaced(history.end() - 2, history.end());
  F.SetStatusText(ui::kStatusAnsweringAgain);
  F.SendFlow().AnswerAgain(route, QuestionText(question), question.Parts, files, std::move(replaced));
}

std::vector<std::string> TAnswerActions::FilesOf(const THistoryItem& AQuestion) {
  std::vector<std::string> files;
  for (const TContentPart& part : AQuestion.Parts) {
    if (part.PartType != TPartType::ptInlineData) continue;
    std::error_code error;
    if (!part.FileName.empty() && std::filesystem::is_regular_file(PathFromUtf8(part.FileName), error)) {
      files.push_back(part.FileName);
      continue;
    }
    std::string bytes;
    if (part.Base64Data.empty() || !Base64Decode(part.Base64Data.view(), bytes)) continue;
    std::string name = StripBidiControls(FileNameOfPath(part.FileName));
    if (name.empty() || name == "." || name == "..") name = "attachment";
    const std::filesystem::path folder = ProgramDir() / "attachments";
    std::filesystem::create_directories(folder);
    std::filesystem::path file = folder / PathFromUtf8(name);
    for (int n = 2; std::filesystem::exists(file); ++n)
      file = folder / PathFromUtf8(PathToUtf8(PathFromUtf8(name).stem()) + "_" + std::to_string(n) +
                                   PathToUtf8(PathFromUtf8(name).extension()));
    WriteFileAtomic(file, bytes);
    files.push_back(PathToUtf8(file));
  }
  return files;
}

void TAnswerActions::EditQuestion(int ATurn) {
  // The button sits on the question; the exchange is the question and the answer after it.
  if (!IsLastAnswer(ATurn + 1)) return;
  TChatHistory& history = F.GeminiDM().FChatHistory;
  const THistoryItem question = history[ATurn];
  // The files first: a stored copy that cannot be written leaves the exchange where it is.
  std::vector<std::string> files = FilesOf(question);
  const TChatHistory before = history;
  history.resize(static_cast<std::size_t>(ATurn));
  try {
    if (history.empty() && !F.FCurrentChatFile.empty()) SaveHistoryToFile(F.GeminiDM(), F.FCurrentChatFile);
    else F.Library().SaveCurrentChat();
  } catch (...) {
    history = before;  // the file still holds it: so does the window
    throw;
  }
  F.GeminiDM().FActualHistoryTokens = TGeminiDM::CountTokensForHistory(history);
  F.ChatView().RemoveBubblesFromTurn(ATurn);

  // What the user has typed meanwhile stays, after the question.
  const std::string text = QuestionText(question);
  const std::string typed = PromptBoxText(*F.memoPrompt);
  SetPromptBoxText(*F.memoPrompt, typed.empty() || typed == text ? text : text + "\r\n\r\n" + typed);
  std::vector<std::string> all = files;
  const auto limit = static_cast<std::size_t>(std::max(0, F.GeminiDM().MaxFilesPerRequest));
  for (const std::string& path : F.FlbFiles1)
    if (all.size() < limit && std::find(all.begin(), all.end(), path) == all.end()) all.push_back(path);
  F.Attachments().SetFiles(all);
  F.UpdateContextTokensLabel();
  F.memoPrompt->setFocus();
  F.SetStatusText(ui::kStatusQuestionBack);
}

}  // namespace tarvok
