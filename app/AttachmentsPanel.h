#pragma once
// The attachments panel: the attached files (at most MaxFilesPerRequest), their list,
// the counter label, and the context-token label with its typing delay.

#include <QStringList>
#include <string>
#include <vector>

namespace tarvok {

class TForm1;

class TAttachmentsPanel {
 public:
  explicit TAttachmentsPanel(TForm1& AForm) : F(AForm) {}

  void btnAddFile1Click();  // also "Добавить Файлы"
  // The chosen files in order, with the rules of the dialog: the limit, the supported
  // types, no duplicates; then the labels. Dropped and pasted files come here too.
  void AddFiles(const QStringList& APaths);
  void N3Click();           // "Удалить Файл"
  void btnClearFiles1Click();  // also "Удалить Все Файлы"
  void ClearInputs();
  void UpdateFilesLabel();
  void UpdateContextTokensLabel();
  // Puts back a list of files (the send flow's restore).
  void SetFiles(const std::vector<std::string>& APaths);

 private:
  TForm1& F;
};

}  // namespace tarvok
