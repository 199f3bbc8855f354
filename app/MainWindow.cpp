#include "app/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "app/AnswerActions.h"
#include "app/AttachmentsPanel.h"
#include "app/ChatLibrary.h"
#include "app/DesktopActions.h"
#include "app/FindBar.h"
#include "app/CliEnvironment.h"
#include "app/NewPartProcess.h"
#include "app/QtText.h"
#include "app/SendFlow.h"
#include "app/SettingsCommand.h"
#include "app/SettingsLists.h"
#include "app/ShownText.h"
#include "app/UiTexts.h"
#include "app/UpDown.h"
#include "app/WindowPlacement.h"
#include "app/WindowTexts.h"

namespace tarvok {
namespace {

// Design geometry of the input panel, in pixels.
constexpr int kClientWidth = 1165;
constexpr int kClientHeight = 792;
constexpr int kLeftWidth = 177;
constexpr int kRightWidth = 152;
constexpr int kInputHeight = 156;
constexpr int kMemoLeft = 130;
constexpr int kMemoWidth = 470;
constexpr int kPanel3Height = 34;
// The lowest edge of the settings column (the time-out box), with its margin.
constexpr int kSettingsColumnBottom = 126;

template <typename T>
T* Named(T* AWidget, const char* AName) {
  AWidget->setObjectName(QString::fromLatin1(AName));
  return AWidget;
}

QAction* NamedAction(QMenu* AMenu, const char* AName, const char* ACaption) {
  auto* action = AMenu->addAction(Q(ACaption));
  action->setObjectName(QString::fromLatin1(AName));
  return action;
}

}  // namespace

TForm1::TForm1(TGeminiDM& AGeminiDM, Dialogs& ADialogs, std::unique_ptr<IChatPage> APage, QWidget* AParent)
    : QMainWindow(AParent), FGeminiDM(AGeminiDM), FDialogs(ADialogs), FPage(std::move(APage)) {
  setObjectName("Form1");
  setWindowTitle("Tarvok - Beta v2");
  QFont font(QStringLiteral("Segoe UI"));
  font.setPointSize(9);
  setFont(font);
  setStyleSheet("QMainWindow { background: white; }");

  FChatView = std::make_unique<TChatView>(*FPage, FDialogs);
  FChatView->OnStatusText = [this](const QString& AText) { SetStatusText(S(AText)); };
  FChatView->ShownHistory = [this]() -> const TChatHistory& { return FGeminiDM.ChatHistory(); };

  BuildLayout();
  BuildMenus();
  // Names, answers and error texts reach these as they are: never markup, no bidi controls.
  StatusText->setTextFormat(Qt::PlainText);
  for (QListWidget* list : {ListBox1, ListBox2, GeminiListBox}) list->setItemDelegate(new TShownNameDelegate(list));

  FSettings = std::make_unique<TSettingsLists>(*this);
  FAttachments = std::make_unique<TAttachmentsPanel>(*this);
  FSendFlow = std::make_unique<TSendFlow>(*this);
  FLibrary = std::make_unique<TChatLibrary>(*this);
  FNewPart = std::make_unique<TNewPartProcess>(*this);
  FAnswerActions = std::make_unique<TAnswerActions>(*this);
  FSettingsCommand = std::make_unique<TSettingsCommand>(*this);
  FChatView->OnBubbleAction = [this](const QString& AAction, int ATurn) {
    RunCommand([&] { FAnswerActions->BubbleAction(AAction, ATurn); });
  };

  TCliEnvironmentWidgets cliWidgets;
  cliWidgets.GeminiCliCheckBox = GeminiCliCheckBox;
  cliWidgets.ApiFields = {editApiKey, KreaEdit, UpDown1};
  cliWidgets.SetStatusText = [this](const QString& AText) { SetStatusText(S(AText)); };
  cliWidgets.ModelsChanged = [this] { RunCommand([this] { FSettings->cbModelsChange(); }); };
  FCliEnvironment = new TCliEnvironmentController(FDialogs, std::move(cliWidgets), FGeminiDM.MainThread(), this);

  WireHandlers();
  new TDesktopActions(*this);  // drops, paste, export, shortcuts; a child of the window
  FindBar = new TFindBar(*this);

  PlaceOnScreen();
  FormCreate();
}

TForm1::~TForm1() {
  // Whatever a pending request brings back later must find no window.
  FClosed = true;
}

void TForm1::BuildLayout() {
  auto* central = new QWidget(this);
  auto* centralLayout = new QHBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  Splitter1 = Named(new QSplitter(Qt::Horizontal, central), "Splitter1");
  Splitter1->setHandleWidth(3);
  centralLayout->addWidget(Splitter1);
  setCentralWidget(central);

  // Chat list panel.
  LeftPanel = Named(new QWidget(Splitter1), "LeftPanel");
  auto* left = new QVBoxLayout(LeftPanel);
  left->setContentsMargins(2, 2, 2, 2);
  left->setSpacing(2);
  auto* searchRow = new QHBoxLayout;
  btnNewChat = Named(new QPushButton("+", LeftPanel), "btnNewChat");
  btnNewChat->setToolTip(Q(ui::kHintNewChat));
  btnNewChat->setFixedWidth(28);
  Edit1 = Named(new QLineEdit(LeftPanel), "Edit1");
  searchRow->addWidget(btnNewChat);
  searchRow->addWidget(Edit1);
  left->addLayout(searchRow);
  ListBox2 = Named(new QListWidget(LeftPanel), "ListBox2");
  left->addWidget(ListBox2);

  // Centre: the chat pane over the input panel.
  Splitter3 = Named(new QSplitter(Qt::Vertical, Splitter1), "Splitter3");
  Splitter3->setHandleWidth(3);
  WebBrowser1 = FPage->Widget();
  if (!WebBrowser1) WebBrowser1 = new QWidget;
  WebBrowser1->setObjectName("WebBrowser1");
  Splitter3->addWidget(WebBrowser1);
  BuildInputPanel();
  Splitter3->addWidget(Panel2);
  Splitter3->setStretchFactor(0, 1);
  Splitter3->setStretchFactor(1, 0);
  Splitter3->setCollapsible(0, false);
  Splitter3->setCollapsible(1, false);

  // Parts panel.
  RightPanel = Named(new QWidget(Splitter1), "RightPanel");
  auto* right = new QVBoxLayout(RightPanel);
  right->setContentsMargins(2, 2, 2, 2);
  right->setSpacing(2);
  Label7 = Named(new QLabel(Q(ui::kCaptionParts), RightPanel), "Label7");
  Label7->setAlignment(Qt::AlignCenter);
  right->addWidget(Label7);
  GeminiListBox = Named(new QListWidget(RightPanel), "GeminiListBox");
  right->addWidget(GeminiListBox);

  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setStretchFactor(2, 0);
  Splitter1->setSizes({kLeftWidth, kClientWidth - kLeftWidth - kRightWidth - 6, kRightWidth});
  Splitter3->setSizes({kClientHeight - kInputHeight - 3, kInputHeight});

  statusBar = Named(new QStatusBar(this), "statusBar");
  StatusText = Named(new QLabel(statusBar), "StatusText");
  statusBar->addWidget(StatusText, 1);
  statusBar->setSizeGripEnabled(false);
  setStatusBar(statusBar);

  Timer1 = Named(new QTimer(this), "Timer1");
  Timer1->setInterval(1000);
  TokenUpdateTimer = Named(new QTimer(this), "TokenUpdateTimer");
  TokenUpdateTimer->setInterval(1000);
}

void TForm1::BuildInputPanel() {
  Panel2 = Named(new QWidget, "Panel2");
  FPanel2DesignWidth = kClientWidth - kLeftWidth - kRightWidth - 6;
  FMemoDesignLeft = kMemoLeft;
  FMemoDesignWidth = kMemoWidth;

  // Settings column with the context count on top.
  Label5 = Named(new QLabel(Q(ui::kLabelContext), Panel2), "Label5");
  Label5->setToolTip(Q(ui::kHintContext));
  Label5->setGeometry(4, 4, 120, 16);
  ContextChatTokensLabel = Named(new QLabel("0", Panel2), "ContextChatTokensLabel");
  ContextChatTokensLabel->setGeometry(4, 20, 120, 18);
  Label4 = Named(new QLabel(Q(ui::kLabelMaxLimKont), Panel2), "Label4");
  Label4->setToolTip(Q(ui::kHintMaxLimKontLabel));
  Label4->setGeometry(4, 46, 62, 18);
  MaxLimKont = Named(new QLineEdit("125000", Panel2), "MaxLimKont");
  MaxLimKont->setToolTip(Q(ui::kHintMaxLimKont));
  MaxLimKont->setGeometry(66, 44, 58, 22);
  Label2 = Named(new QLabel(Q(ui::kLabelKrea), Panel2), "Label2");
  Label2->setGeometry(4, 74, 62, 18);
  KreaEdit = Named(new QLineEdit("0", Panel2), "KreaEdit");
  KreaEdit->setToolTip(Q(ui::kHintKrea));
  KreaEdit->setGeometry(66, 72, 42, 22);
  UpDown1 = Named(new TUpDown(KreaEdit, 0, 5, 0, Panel2), "UpDown1");
  UpDown1->setGeometry(108, 72, 16, 22);
  Label3 = Named(new QLabel(Q(ui::kLabelTimeOut), Panel2), "Label3");
  Label3->setGeometry(4, 102, 62, 18);
  TimeOutEdit = Named(new QLineEdit("8", Panel2), "TimeOutEdit");
  TimeOutEdit->setToolTip(Q(ui::kHintTimeOut));
  TimeOutEdit->setGeometry(66, 100, 42, 22);
  UpDown2 = Named(new TUpDown(TimeOutEdit, 0, 60, 8, Panel2), "UpDown2");
  UpDown2->setGeometry(108, 100, 16, 22);

  memoPrompt = Named(new QPlainTextEdit(Panel2), "memoPrompt");
  memoPrompt->setToolTip(Q(ui::kHintPrompt));
  memoPrompt->setGeometry(kMemoLeft, 4, kMemoWidth, kInputHeight - kPanel3Height - 10);

  Panel3 = Named(new QWidget(Panel2), "Panel3");
  auto* rows = new QGridLayout(Panel3);
  rows->setContentsMargins(0, 2, 0, 2);
  rows->setHorizontalSpacing(3);
  rows->setVerticalSpacing(2);
  Panel3Main = Named(new QWidget(Panel3), "Panel3Main");
  Panel3Extra = Named(new QWidget(Panel3), "Panel3Extra");
  auto* row = new QHBoxLayout(Panel3Main);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(3);
  auto* extraRow = new QHBoxLayout(Panel3Extra);
  extraRow->setContentsMargins(0, 0, 0, 0);
  extraRow->setSpacing(3);
  lblFileLimits1 = Named(new QLabel(Q(ui::kLabelFilesDesign), Panel3Main), "lblFileLimits1");
  btnAddFile1 = Named(new QPushButton("+", Panel3Main), "btnAddFile1");
  btnClearFiles1 = Named(new QPushButton("-", Panel3Main), "btnClearFiles1");
  btnClearFiles1->setToolTip(Q(ui::kHintClearFiles));
  for (auto* b : {btnAddFile1, btnClearFiles1}) b->setFixedWidth(26);
  Label1 = Named(new QLabel(Q(ui::kLabelModel), Panel3Main), "Label1");
  cbModels = Named(new QComboBox(Panel3Main), "cbModels");
  Label6 = Named(new QLabel(Q(ui::kLabelKey), Panel3Main), "Label6");
  editApiKey = Named(new QComboBox(Panel3Main), "editApiKey");
  for (auto* box : {cbModels, editApiKey}) {
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    // Enter or leaving the box keeps the text as typed: with a case-insensitive completer
    // the box would switch to an entry that differs only in letter case.
    box->completer()->setCaseSensitivity(Qt::CaseSensitive);
    box->setToolTip("Enter Save");
    box->setMinimumWidth(96);
    box->setMaximumWidth(170);
    // A long key or model name must not widen the row past the window.
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(8);
  }
  // The built-in models, there before Models.txt exists.
  for (const char* model : {"gemini-2.5-pro", "gemini-2.5-flash", "gemini-2.5-flash-lite"}) cbModels->addItem(model);
  btnSend = Named(new QPushButton(Q(ui::kCaptionSend), Panel3Main), "btnSend");
  btnSend->setToolTip("Ctrl+Enter");
  btnSend->setFixedWidth(36);
  chkEnableWebSearch = Named(new QCheckBox(Q(ui::kCaptionWeb), Panel3Extra), "chkEnableWebSearch");
  chkEnableWebSearch->setToolTip(Q(ui::kHintWeb));
  GeminiCliCheckBox = Named(new QCheckBox("CLI", Panel3Extra), "GeminiCliCheckBox");
  GeminiCliCheckBox->setToolTip("Gemini CLI");
  chkStreamAnswers = Named(new QCheckBox(Q(ui::kCaptionStream), Panel3Extra), "chkStreamAnswers");
  chkStreamAnswers->setToolTip(Q(ui::kHintStream));
  chkShowThoughts = Named(new QCheckBox(Q(ui::kCaptionThoughts), Panel3Extra), "chkShowThoughts");
  chkShowThoughts->setToolTip(Q(ui::kHintThoughts));
  TimeoutLabel = Named(new QLabel("00:00", Panel3Extra), "TimeoutLabel");
  TimeoutLabel->setMinimumWidth(36);
  Label8 = Named(new QLabel(Q(ui::kLabelLimit), Panel3Extra), "Label8");
  CountLabel = Named(new QLabel("0", Panel3Extra), "CountLabel");
  CountLabel->setToolTip(Q(ui::kHintLimit));
  CountLabel->setMinimumWidth(24);
  btnSettings = Named(new QPushButton(Q(ui::kCaptionSettings), Panel3Extra), "btnSettings");
  btnSettings->setToolTip(Q(ui::kHintSettings));
  btnSettings->setFixedWidth(28);
  for (QWidget* w : std::initializer_list<QWidget*>{lblFileLimits1, btnAddFile1, btnClearFiles1, Label1, cbModels, Label6,
                                                   editApiKey, btnSend})
    row->addWidget(w, w == cbModels || w == editApiKey ? 1 : 0);
  for (QWidget* w : std::initializer_list<QWidget*>{chkEnableWebSearch, GeminiCliCheckBox, chkStreamAnswers,
                                                   chkShowThoughts, TimeoutLabel, Label8, CountLabel})
    extraRow->addWidget(w);
  extraRow->addStretch(1);
  extraRow->addWidget(btnSettings);
  rows->addWidget(Panel3Main, 0, 0);
  rows->addWidget(Panel3Extra, 0, 1);
  rows->setColumnStretch(0, 1);
  Panel3->resize(Panel3->sizeHint().width(), kPanel3Height);

  ListBox1 = Named(new QListWidget(Panel2), "ListBox1");
  DownBut = Named(new QPushButton(Q(ui::kCaptionDown), Panel2), "DownBut");
  DownBut->setFixedSize(26, 26);

  // The settings column must show whole, and the prompt box keep a few lines beside it;
  // the width is the narrowest the two-row Panel3 and the file list still fit in.
  Panel2->setMinimumHeight(kSettingsColumnBottom);
  Panel2->setMinimumWidth(kMemoLeft + std::max(kMinMemoWidth + 5 + kMinFilesWidth + 4 + DownBut->width(),
                                               std::max(Panel3Main->minimumSizeHint().width(),
                                                        Panel3Extra->minimumSizeHint().width())) +
                          8);
  Panel2->installEventFilter(this);
  Panel2->resize(FPanel2DesignWidth, kInputHeight);
  Panel2Resize();
}

int TForm1::ArrangePanel3(int AWidth) {
  auto* rows = static_cast<QGridLayout*>(Panel3->layout());
  const int oneRow =
      Panel3Main->minimumSizeHint().width() + rows->horizontalSpacing() + Panel3Extra->minimumSizeHint().width();
  const bool wrap = AWidth < oneRow;
  if (wrap != FPanel3Wrapped) {
    FPanel3Wrapped = wrap;
    rows->removeWidget(Panel3Extra);
    rows->addWidget(Panel3Extra, wrap ? 1 : 0, wrap ? 0 : 1);
  }
  return wrap ? 2 * kPanel3Height - 4 : kPanel3Height;
}

void TForm1::PlaceOnScreen() {
  const QSize wanted(kClientWidth, kClientHeight + statusBar->sizeHint().height());
  const QScreen* screen = QApplication::primaryScreen();
  if (!screen) {
    resize(wanted);
    return;
  }
  // The frame is not known before the window is shown: a usual title bar and border.
  const QRect client = FitClientRect(screen->availableGeometry(), wanted, minimumSizeHint(), kAssumedFrame);
  resize(client.size());
  move(client.topLeft() - QPoint(kAssumedFrame.left(), kAssumedFrame.top()));
}

void TForm1::BuildMenus() {
  ListBox2PopupMenu = Named(new QMenu(this), "ListBox2PopupMenu");
  N6 = NamedAction(ListBox2PopupMenu, "N6", ui::kMenuDeleteChat);
  N12 = NamedAction(ListBox2PopupMenu, "N12", ui::kMenuDeleteAllChats);

  GeminiListBoxPopupMenu = Named(new QMenu(this), "GeminiListBoxPopupMenu");
  N17 = NamedAction(GeminiListBoxPopupMenu, "N17", ui::kMenuNewEmptyPart);
  N14 = NamedAction(GeminiListBoxPopupMenu, "N14", ui::kMenuNewPartFromContext);
  N13 = NamedAction(GeminiListBoxPopupMenu, "N13", ui::kMenuDeletePart);

  ListBox1PopupMenu = Named(new QMenu(this), "ListBox1PopupMenu");
  N1 = NamedAction(ListBox1PopupMenu, "N1", ui::kMenuAddFiles);
  N3 = NamedAction(ListBox1PopupMenu, "N3", ui::kMenuRemoveFile);
  N5 = NamedAction(ListBox1PopupMenu, "N5", ui::kMenuRemoveAllFiles);

  KeysPopupMenu = Named(new QMenu(this), "KeysPopupMenu");
  N7 = NamedAction(KeysPopupMenu, "N7", ui::kMenuDelete);
  ModelsPopupMenu = Named(new QMenu(this), "ModelsPopupMenu");
  N8 = NamedAction(ModelsPopupMenu, "N8", ui::kMenuDelete);
  N21 = NamedAction(ModelsPopupMenu, "N21", ui::kMenuLoadModels);

  GeminiCLIboxPopupMenu = Named(new QMenu(this), "GeminiCLIboxPopupMenu");
  N20 = NamedAction(GeminiCLIboxPopupMenu, "N20", ui::kMenuCliInstall);
  N18 = NamedAction(GeminiCLIboxPopupMenu, "N18", ui::kMenuCliUpdate);
  CLI1 = NamedAction(GeminiCLIboxPopupMenu, "CLI1", ui::kMenuCliAuth);
  gemini1 = NamedAction(GeminiCLIboxPopupMenu, "gemini1", ui::kMenuCliDeleteAccount);
  GeminiCLIboxPopupMenu->addSeparator();
  N19 = NamedAction(GeminiCLIboxPopupMenu, "N19", ui::kMenuCliRemove);

  auto attach = [](QWidget* AWidget, QMenu* AMenu) {
    AWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(AWidget, &QWidget::customContextMenuRequested, AMenu,
                     [AWidget, AMenu](const QPoint& APos) { AMenu->popup(AWidget->mapToGlobal(APos)); });
  };
  attach(ListBox2, ListBox2PopupMenu);
  attach(GeminiListBox, GeminiListBoxPopupMenu);
  attach(ListBox1, ListBox1PopupMenu);
  attach(GeminiCliCheckBox, GeminiCLIboxPopupMenu);
  for (auto [box, menu] : {std::pair{editApiKey, KeysPopupMenu}, std::pair{cbModels, ModelsPopupMenu}}) {
    box->lineEdit()->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(box->lineEdit(), &QWidget::customContextMenuRequested, menu,
                     [edit = box->lineEdit(), m = menu](const QPoint& APos) { m->popup(edit->mapToGlobal(APos)); });
  }
}

void TForm1::WireHandlers() {
  auto on = [this](auto* ASender, auto ASignal, std::function<void()> AHandler) {
    connect(ASender, ASignal, this, [this, AHandler] { RunCommand(AHandler); });
  };
  // Settings and lists.
  on(KreaEdit, &QLineEdit::textChanged, [this] { FSettings->KreaEditChange(); });
  on(TimeOutEdit, &QLineEdit::textChanged, [this] { FSettings->TimeOutEditChange(); });
  on(MaxLimKont, &QLineEdit::textChanged, [this] { FSettings->MaxLimKontChange(); });
  on(editApiKey, &QComboBox::editTextChanged, [this] { FSettings->editApiKeyChange(); });
  on(cbModels, &QComboBox::editTextChanged, [this] { FSettings->cbModelsChange(); });
  on(N7, &QAction::triggered, [this] { FSettings->N7Click(); });
  on(N8, &QAction::triggered, [this] { FSettings->N8Click(); });
  on(N21, &QAction::triggered, [this] { FSettings->N21Click(); });
  editApiKey->lineEdit()->installEventFilter(this);
  cbModels->lineEdit()->installEventFilter(this);

  // Attachments.
  on(btnAddFile1, &QPushButton::clicked, [this] { FAttachments->btnAddFile1Click(); });
  on(N1, &QAction::triggered, [this] { FAttachments->btnAddFile1Click(); });
  on(N3, &QAction::triggered, [this] { FAttachments->N3Click(); });
  on(btnClearFiles1, &QPushButton::clicked, [this] { FAttachments->btnClearFiles1Click(); });
  on(N5, &QAction::triggered, [this] { FAttachments->btnClearFiles1Click(); });
  on(TokenUpdateTimer, &QTimer::timeout, [this] { TokenUpdateTimerTimer(); });

  // Send flow.
  connect(btnSend, &QPushButton::pressed, this, [this] { FSendPressedWhilePending = FRequestPending; });
  on(btnSend, &QPushButton::clicked, [this] { FSendFlow->btnSendClick(); });
  on(Timer1, &QTimer::timeout, [this] { Timer1Timer(); });
  memoPrompt->installEventFilter(this);
  on(DownBut, &QPushButton::clicked, [this] { FChatView->DownButClick(); });

  // Chat library, search and new parts.
  on(btnNewChat, &QPushButton::clicked, [this] { FLibrary->btnNewChatClick(); });
  on(ListBox2, &QListWidget::itemSelectionChanged, [this] { FLibrary->ListBox2Click(ListBox2); });
  on(GeminiListBox, &QListWidget::itemSelectionChanged, [this] { FLibrary->ListBox2Click(GeminiListBox); });
  // A click on the entry already selected changes no selection; under the help page it
  // still means "show me this chat".
  for (QListWidget* list : {ListBox2, GeminiListBox})
    on(list, &QListWidget::itemClicked, [this, list] {
      if (FChatView->ShowsHelpPage()) FLibrary->ListBox2Click(list);
    });
  on(N6, &QAction::triggered, [this] { FLibrary->N6Click(); });
  on(N12, &QAction::triggered, [this] { FLibrary->N12Click(); });
  on(N13, &QAction::triggered, [this] { FLibrary->N13Click(); });
  on(N17, &QAction::triggered, [this] { FLibrary->N17Click(); });
  on(N14, &QAction::triggered, [this] { FNewPart->N14Click(); });
  Edit1->installEventFilter(this);

  // The settings dialog.
  on(btnSettings, &QPushButton::clicked, [this] { FSettingsCommand->btnSettingsClick(); });
  SettingsShortcut = new QAction(this);
  SettingsShortcut->setObjectName("SettingsShortcut");
  SettingsShortcut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
  SettingsShortcut->setShortcutContext(Qt::WindowShortcut);
  addAction(SettingsShortcut);
  on(SettingsShortcut, &QAction::triggered, [this] { FSettingsCommand->btnSettingsClick(); });

  // CLI environment.
  connect(N20, &QAction::triggered, FCliEnvironment, &TCliEnvironmentController::N20Click);
  connect(N18, &QAction::triggered, FCliEnvironment, &TCliEnvironmentController::N18Click);
  connect(CLI1, &QAction::triggered, FCliEnvironment, &TCliEnvironmentController::CLI1Click);
  connect(gemini1, &QAction::triggered, FCliEnvironment, &TCliEnvironmentController::gemini1Click);
  connect(N19, &QAction::triggered, FCliEnvironment, &TCliEnvironmentController::N19Click);
}

bool TForm1::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AWatched == Panel2 && AEvent->type() == QEvent::Resize) {
    Panel2Resize();
    return false;
  }
  if (AEvent->type() != QEvent::KeyPress && AEvent->type() != QEvent::KeyRelease)
    return QMainWindow::eventFilter(AWatched, AEvent);
  auto* key = static_cast<QKeyEvent*>(AEvent);
  const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
  if (AWatched == memoPrompt && AEvent->type() == QEvent::KeyPress) {
    bool swallow = false;
    RunCommand([&] { swallow = FSendFlow->memoPromptKeyDown(key->key(), key->modifiers() & ~Qt::KeypadModifier); });
    return swallow;
  }
  if (AEvent->type() == QEvent::KeyRelease && enter && !key->isAutoRepeat()) {
    if (AWatched == editApiKey->lineEdit()) RunCommand([this] { FSettings->editApiKeyKeyUp(); });
    else if (AWatched == cbModels->lineEdit()) RunCommand([this] { FSettings->cbModelsKeyUp(); });
    else if (AWatched == Edit1) RunCommand([this] { FLibrary->Edit1KeyUp(); });
  }
  return QMainWindow::eventFilter(AWatched, AEvent);
}

}  // namespace tarvok
