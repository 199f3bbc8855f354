#pragma once
// Find in chat: a bar over the top right of the chat pane. Ctrl+Shift+F opens it; typing
// highlights the matches and shows "N из M"; Enter or F3 goes to the next, Shift+Enter or
// Shift+F3 to the previous; Esc closes it and gives the focus back to where it was.

#include <QPointer>
#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class QToolButton;

namespace tarvok {

class TForm1;

class TFindBar : public QWidget {
  Q_OBJECT
 public:
  explicit TFindBar(TForm1& AForm);

  void Open();
  void Close();
  void FindNext() { Find(false); }
  void FindPrevious() { Find(true); }

  QLineEdit* FindEdit = nullptr;
  QLabel* FindCount = nullptr;
  QToolButton* btnFindPrevious = nullptr;
  QToolButton* btnFindNext = nullptr;
  QToolButton* btnFindClose = nullptr;
  QAction* OpenShortcut = nullptr;      // Ctrl+Shift+F
  QAction* NextShortcut = nullptr;      // F3, while the bar is open
  QAction* PreviousShortcut = nullptr;  // Shift+F3, while the bar is open

 protected:
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  void Find(bool ABackward);
  void ShowResult(int AActive, int ATotal);
  void PlaceOverPane();

  TForm1& F;
  QPointer<QWidget> FFocusBefore;
  // Results of a search overtaken by a later one are dropped.
  int FSearch = 0;
};

}  // namespace tarvok
