#include "app/FindBar.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QToolButton>

#include "app/MainWindow.h"
#include "app/DesktopActions.h"
#include "app/QtText.h"
#include "app/WindowTexts.h"

namespace tarvok {
namespace {

QToolButton* Button(QWidget* AParent, const char* AName, const QString& AText, const char* AHint) {
  auto* button = new QToolButton(AParent);
  button->setObjectName(AName);
  button->setText(AText);
  button->setToolTip(Q(AHint));
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

}  // namespace

TFindBar::TFindBar(TForm1& AForm) : QWidget(AForm.WebBrowser1), F(AForm) {
  setObjectName("FindBar");
  setAutoFillBackground(true);
  setStyleSheet("#FindBar { background: #ffffff; border: 1px solid #bbb; border-radius: 4px; }");
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(6, 3, 3, 3);
  row->setSpacing(3);
  FindEdit = new QLineEdit(this);
  FindEdit->setObjectName("FindEdit");
  FindEdit->setPlaceholderText(Q(ui::kFindPlaceholder));
  FindEdit->setMinimumWidth(180);
  FindCount = new QLabel(this);
  FindCount->setObjectName("FindCount");
  FindCount->setMinimumWidth(60);
  FindCount->setTextFormat(Qt::PlainText);
  btnFindPrevious = Button(this, "btnFindPrevious", QStringLiteral("▲"), ui::kHintFindPrevious);
  btnFindNext = Button(this, "btnFindNext", QStringLiteral("▼"), ui::kHintFindNext);
  btnFindClose = Button(this, "btnFindClose", QStringLiteral("✕"), ui::kHintFindClose);
  for (QWidget* w : std::initializer_list<QWidget*>{FindEdit, FindCount, btnFindPrevious, btnFindNext, btnFindClose})
    row->addWidget(w);
  hide();

  connect(FindEdit, &QLineEdit::textChanged, this, [this] { FindNext(); });
  connect(btnFindPrevious, &QToolButton::clicked, this, [this] { FindPrevious(); });
  connect(btnFindNext, &QToolButton::clicked, this, [this] { FindNext(); });
  connect(btnFindClose, &QToolButton::clicked, this, [this] { Close(); });
  FindEdit->installEventFilter(this);
  F.WebBrowser1->installEventFilter(this);

  OpenShortcut = Shortcut(F, "FindInChatShortcut", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
  connect(OpenShortcut, &QAction::triggered, this, [this] { Open(); });
  NextShortcut = Shortcut(F, "FindNextShortcut", QKeySequence(Qt::Key_F3));
  connect(NextShortcut, &QAction::triggered, this, [this] { FindNext(); });
  PreviousShortcut = Shortcut(F, "FindPreviousShortcut", QKeySequence(Qt::SHIFT | Qt::Key_F3));
  connect(PreviousShortcut, &QAction::triggered, this, [this] { FindPrevious(); });
  NextShortcut->setEnabled(false);
  PreviousShortcut->setEnabled(false);
}

void TFindBar::Open() {
  QWidget* focus = QApplication::focusWidget();
  if (focus && focus != FindEdit && !isAncestorOf(focus)) FFocusBefore = focus;
  const bool wasOpen = isVisible();
  PlaceOverPane();
  show();
  raise();
  NextShortcut->setEnabled(true);
  PreviousShortcut->setEnabled(true);
  FindEdit->setFocus(Qt::ShortcutFocusReason);
  FindEdit->selectAll();
  // Reopened over a changed chat: the matches are counted anew.
  if (!wasOpen && !FindEdit->text().isEmpty()) FindNext();
}

void TFindBar::Close() {
  if (!isVisible()) return;
  hide();
  NextShortcut->setEnabled(false);
  PreviousShortcut->setEnabled(false);
  ++FSearch;
  F.Page().FindText(QString(), false, {});  // the highlights go with the bar
  QWidget* back = FFocusBefore ? FFocusBefore.data() : static_cast<QWidget*>(F.memoPrompt);
  back->setFocus(Qt::OtherFocusReason);
}

void TFindBar::Find(bool ABackward) {
  if (!isVisible()) return;
  const int search = ++FSearch;
  const QString text = FindEdit->text();
  if (text.isEmpty()) {
    F.Page().FindText(QString(), false, {});
    FindCount->clear();
    return;
  }
  QPointer<TFindBar> self(this);
  F.Page().FindText(text, ABackward, [self, search](int AActive, int ATotal) {
    if (self && search == self->FSearch) self->ShowResult(AActive, ATotal);
  });
}

void TFindBar::ShowResult(int AActive, int ATotal) {
  FindCount->setText(Q(ui::kFindCountFormat).arg(AActive).arg(ATotal));
}

void TFindBar::PlaceOverPane() {
  adjustSize();
  const QWidget* pane = F.WebBrowser1;
  const int width = std::min(sizeHint().width(), std::max(120, pane->width() - 8));
  setGeometry(std::max(0, pane->width() - width - 20), 4, width, sizeHint().height());
}

bool TFindBar::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AWatched == F.WebBrowser1) {
    if (AEvent->type() == QEvent::Resize && isVisible()) PlaceOverPane();
    // The engine makes its own child widgets after the bar: the bar stays on top of them.
    if (AEvent->type() == QEvent::ChildAdded && isVisible()) raise();
    return false;
  }
  if (AWatched == FindEdit && AEvent->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(AEvent);
    if (key->key() == Qt::Key_Escape) {
      Close();
      return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      Find((key->modifiers() & Qt::ShiftModifier) != 0);
      return true;
    }
  }
  return QWidget::eventFilter(AWatched, AEvent);
}

}  // namespace tarvok
