#include "tests/app/support/RecordingChatPage.h"

#include <QUrl>

namespace tarvok {

void RecordingChatPage::ResetChatView() {
  Ops.push_back({OpKind::Reset, {}});
  FUrl = QStringLiteral("about:blank");
}

void RecordingChatPage::ShowLocalFile(const QString& AFilePath) {
  Ops.push_back({OpKind::ShowFile, AFilePath.toStdString()});
  FUrl = QUrl::fromLocalFile(AFilePath).toString();
}

std::vector<std::string> RecordingChatPage::Texts(OpKind AKind) const {
  std::vector<std::string> texts;
  for (const Op& op : Ops)
    if (op.Kind == AKind) texts.push_back(op.Text);
  return texts;
}

std::string RecordingChatPage::ChatHtml() const {
  std::string html;
  for (const Op& op : Ops) {
    if (op.Kind == OpKind::Reset) html.clear();
    else if (op.Kind == OpKind::Append) html += op.Text;
  }
  return html;
}

}  // namespace tarvok
