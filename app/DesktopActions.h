#pragma once
// What a desktop user tries first: files dropped on the window or pasted into the prompt
// box are attached, the chat can be exported, and the usual shortcuts work
// (Ctrl+N, Ctrl+F, Ctrl+O, F1). Everything goes through the window's own commands.

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

class QAction;
class QKeySequence;
class QMimeData;

namespace tarvok {

class TForm1;

// A window-wide shortcut named AName, owned by the window.
QAction* Shortcut(TForm1& AForm, const char* AName, const QKeySequence& AKeys);

class TDesktopActions : public QObject {
  Q_OBJECT
 public:
  explicit TDesktopActions(TForm1& AForm);

  // Dropped or pasted files, with the attachments panel's rules; folders are refused
  // with a message. Returns false when the data holds no local file at all.
  bool AttachUrls(const QList<QUrl>& AUrls);
  // Ctrl+V in the prompt box: files are attached; a picture that comes without text is saved
  // as PNG into "attachments" and attached. False otherwise: the text pastes as usual.
  bool PasteIntoPrompt(const QMimeData* AData);
  void ExportChatClick();  // "Экспортировать…"
  void ShowKeyHelp();      // F1

  QAction* ExportChat = nullptr;  // in the chat list's menu
  QAction* NewChatShortcut = nullptr;
  QAction* SearchShortcut = nullptr;
  QAction* AttachShortcut = nullptr;
  QAction* HelpShortcut = nullptr;

 protected:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  bool IsDropTarget(QObject* AObject) const;
  QString SavePastedPicture(const QMimeData* AData);

  TForm1& F;
  QString FLastExportDir;
};

}  // namespace tarvok
