#include "app/AttachmentsPanel.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStringList>

#include "app/MainWindow.h"
#include "app/PromptBox.h"
#include "app/QtDialogs.h"
#include "app/QtText.h"
#include "app/UiTexts.h"
#include "core/Platform.h"
#include "core/Text.h"
#include "core/TextAttachment.h"
#include "core/TokenEstimate.h"
#include "storage/Attachments.h"

namespace tarvok {
namespace {

std::string FileNameOnly(const std::string& APath) { return PathToUtf8(PathFromUtf8(APath).filename()); }

bool ContainsNoCase(const std::vector<std::string>& APaths, const std::string& APath) {
  for (const auto& p : APaths)
    if (SameTextNoCase(p, APath)) return true;
  return false;
}

}  // namespace

void TAttachmentsPanel::btnAddFile1Click() {
  const int limit = F.GeminiDM().MaxFilesPerRequest;
  if (static_cast<int>(F.FlbFiles1.size()) >= limit) {
    F.Dlg().ShowMessage(Q(ui::kMsgFileLimitStart) + QString::number(limit) + ").");
    return;
  }
  const QStringList chosen =
      F.Dlg().OpenFiles(Q(ui::kOpenFilesTitle), QString(), ToQtFileFilter(Q(ui::kOpenFilesFilter)));
  if (chosen.isEmpty()) return;
  AddFiles(chosen);
}

void TAttachmentsPanel::AddFiles(const QStringList& APaths) {
  const int limit = F.GeminiDM().MaxFilesPerRequest;
  for (const QString& file : APaths) {
    if (static_cast<int>(F.FlbFiles1.size()) >= limit) {
      F.Dlg().ShowMessage(Q(ui::kMsgFileLimitStopped));
      break;
    }
    const std::string path = S(file);
    if (GetMimeTypeFromFileExt(path).empty()) {
      F.Dlg().ShowMessage(Q(ui::kMsgUnsupportedStart) + Q(FileNameOnly(path)) + Q(ui::kMsgUnsupportedEnd));
      continue;
    }
    if (ContainsNoCase(F.FlbFiles1, path)) continue;
    F.FlbFiles1.push_back(path);
    F.ListBox1->addItem(Q(FileNameOnly(path)));
  }
  UpdateFilesLabel();
}

void TAttachmentsPanel::N3Click() {
  const int index = F.ListBox1->currentRow();
  if (index < 0 || index >= static_cast<int>(F.FlbFiles1.size()) || !F.ListBox1->currentItem() ||
      !F.ListBox1->currentItem()->isSelected())
    return;
  F.FlbFiles1.erase(F.FlbFiles1.begin() + index);
  delete F.ListBox1->takeItem(index);
  UpdateFilesLabel();
}

void TAttachmentsPanel::btnClearFiles1Click() {
  if (F.Dlg().AskYesNo(Q(ui::kAskClearFiles), QString(), Dialogs::Icon::Question)) ClearInputs();
}

void TAttachmentsPanel::ClearInputs() {
  F.memoPrompt->clear();
  F.FlbFiles1.clear();
  F.ListBox1->clear();
  UpdateFilesLabel();
}

void TAttachmentsPanel::SetFiles(const std::vector<std::string>& APaths) {
  F.FlbFiles1 = APaths;
  F.ListBox1->clear();
  for (const auto& path : APaths) F.ListBox1->addItem(Q(FileNameOnly(path)));
  UpdateFilesLabel();
}

void TAttachmentsPanel::UpdateFilesLabel() {
  F.lblFileLimits1->setText(
      QString::asprintf(ui::kFilesLabelFormat, static_cast<int>(F.FlbFiles1.size()), F.GeminiDM().MaxFilesPerRequest));
  UpdateContextTokensLabel();
}

void TAttachmentsPanel::UpdateContextTokensLabel() {
  const int history = F.GeminiDM().FActualHistoryTokens;
  const std::string prompt = PromptBoxText(*F.memoPrompt);
  TContentParts pending;
  pending.push_back(TContentPart{TPartType::ptText, prompt, {}, {}, {}});
  for (const auto& path : F.FlbFiles1) {
    TContentPart part;
    part.PartType = TPartType::ptInlineData;
    part.MimeType = GetMimeTypeFromFileExt(path);
    part.FileName = path;
    if (IsTextMimeType(part.MimeType)) part.Text = SanitizeTextFile(path);
    pending.push_back(std::move(part));
  }
  if (!Trim(prompt).empty() || !F.FlbFiles1.empty())
    F.ContextChatTokensLabel->setText(QString::asprintf("%d + %d", history, CountTokens(pending)));
  else
    F.ContextChatTokensLabel->setText(QString::number(history));
}

}  // namespace tarvok
