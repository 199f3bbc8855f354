#pragma once
// TForm1, the main window: the composition root. It builds the layout, owns the
// widgets under their given names (also set as objectName) and wires them to the
// classes that hold the behaviour: settings and lists, attachments panel, send flow,
// chat library, new-part process, CLI environment and the chat page.

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ChatPage.h"
#include "app/ChatView.h"
#include "app/Dialogs.h"
#include "core/GeminiDM.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTimer;
class QToolButton;

namespace tarvok {

class TAnswerActions;
class TAttachmentsPanel;
class TChatLibrary;
class TFindBar;
class TCliEnvironmentController;
class TNewPartProcess;
class TSendFlow;
class TSettingsCommand;
class TSettingsLists;
class TUpDown;

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  // The service, dialogs and page are made before the window and outlive nothing of
  // it but the service: a request still running when the window goes is dropped.
  TForm1(TGeminiDM& AGeminiDM, Dialogs& ADialogs, std::unique_ptr<IChatPage> APage, QWidget* AParent = nullptr);
  ~TForm1() override;

  // --- widgets, under their form names ---
  QWidget* LeftPanel = nullptr;
  QPushButton* btnNewChat = nullptr;
  QLineEdit* Edit1 = nullptr;
  QListWidget* ListBox2 = nullptr;
  QWidget* RightPanel = nullptr;
  QLabel* Label7 = nullptr;  // "Истории"
  QListWidget* GeminiListBox = nullptr;
  QSplitter* Splitter1 = nullptr;  // left | centre | right
  QSplitter* Splitter3 = nullptr;  // chat pane over the input panel
  QWidget* WebBrowser1 = nullptr;
  QWidget* Panel2 = nullptr;
  QLabel* Label5 = nullptr;  // "Контекст:"
  QLabel* ContextChatTokensLabel = nullptr;
  QLabel* Label4 = nullptr;  // "Отправь"
  QLineEdit* MaxLimKont = nullptr;
  QLabel* Label2 = nullptr;  // "Креатив"
  QLineEdit* KreaEdit = nullptr;
  TUpDown* UpDown1 = nullptr;
  QLabel* Label3 = nullptr;  // "Таймаут"
  QLineEdit* TimeOutEdit = nullptr;
  TUpDown* UpDown2 = nullptr;
  QPlainTextEdit* memoPrompt = nullptr;
  QWidget* Panel3 = nullptr;
  QLabel* lblFileLimits1 = nullptr;
  QPushButton* btnAddFile1 = nullptr;
  QPushButton* btnClearFiles1 = nullptr;
  QLabel* Label1 = nullptr;  // "Модель:"
  QComboBox* cbModels = nullptr;
  QLabel* Label6 = nullptr;  // "Ключ:"
  QComboBox* editApiKey = nullptr;
  QPushButton* btnSend = nullptr;
  QCheckBox* chkEnableWebSearch = nullptr;
  QCheckBox* GeminiCliCheckBox = nullptr;
  QCheckBox* chkStreamAnswers = nullptr;  // "Поток": REST text answers shown as they arrive
  QCheckBox* chkShowThoughts = nullptr;   // "Мысли": REST text requests ask for thought summaries
  QLabel* TimeoutLabel = nullptr;
  QLabel* Label8 = nullptr;  // "Лимит:"
  QLabel* CountLabel = nullptr;
  QPushButton* btnSettings = nullptr;  // "⚙": the settings dialog
  // Panel3's two groups: the second (check boxes, time, limit, settings) goes under the
  // first when the panel is too narrow for one row.
  QWidget* Panel3Main = nullptr;
  QWidget* Panel3Extra = nullptr;
  QListWidget* ListBox1 = nullptr;
  QPushButton* DownBut = nullptr;
  QStatusBar* statusBar = nullptr;
  TFindBar* FindBar = nullptr;  // find in chat, over the chat pane
  QLabel* StatusText = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* TokenUpdateTimer = nullptr;

  // Pop-up menus and their items.
  QMenu* ListBox2PopupMenu = nullptr;
  QAction* N6 = nullptr;   // "Удалить Чат"
  QAction* N12 = nullptr;  // "Удалить все чаты"
  QMenu* GeminiListBoxPopupMenu = nullptr;
  QAction* N17 = nullptr;  // "Создать пустую новую историю"
  QAction* N14 = nullptr;  // "Создать историю из контекста "
  QAction* N13 = nullptr;  // "Удалить Историю"
  QMenu* ListBox1PopupMenu = nullptr;
  QAction* N1 = nullptr;  // "Добавить Файлы"
  QAction* N3 = nullptr;  // "Удалить Файл"
  QAction* N5 = nullptr;  // "Удалить Все Файлы"
  QMenu* KeysPopupMenu = nullptr;
  QAction* N7 = nullptr;  // "Удалить" (key)
  QMenu* ModelsPopupMenu = nullptr;
  QAction* N8 = nullptr;  // "Удалить" (model)
  QAction* N21 = nullptr;  // "Загрузить список моделей"
  QMenu* GeminiCLIboxPopupMenu = nullptr;
  QAction* N20 = nullptr;
  QAction* N18 = nullptr;
  QAction* CLI1 = nullptr;
  QAction* gemini1 = nullptr;
  QAction* N19 = nullptr;

  // --- fields shared by the concerns ---
  bool FFormShown = false;
  bool FIsLoading = false;
  int FSecondsElapsed = 0;
  std::vector<std::string> FlbFiles1;  // full paths of the attached files, UTF-8
  std::string FCurrentChatFile;        // empty for a new chat not saved yet
  std::string FNewPartPromptText;

  TGeminiDM& GeminiDM() { return FGeminiDM; }
  Dialogs& Dlg() { return FDialogs; }
  TChatView& ChatView() { return *FChatView; }
  IChatPage& Page() { return *FPage; }
  TSettingsLists& Settings() { return *FSettings; }
  TAttachmentsPanel& Attachments() { return *FAttachments; }
  TSendFlow& SendFlow() { return *FSendFlow; }
  TChatLibrary& Library() { return *FLibrary; }
  TNewPartProcess& NewPart() { return *FNewPart; }
  TAnswerActions& AnswerActions() { return *FAnswerActions; }
  TSettingsCommand& SettingsCommand() { return *FSettingsCommand; }
  QAction* SettingsShortcut = nullptr;  // Ctrl+,

  // The status line: one text, overwritten by every operation.
  void SetStatusText(const std::string& AText);
  std::string StatusTextValue() const;

  // While a request is pending nothing may start a second one or replace the history
  // under it: the send, the chat and part lists, their menus and the new-chat button
  // are disabled, and Ctrl+Enter is ignored.
  // btnSend stays usable: while pending it shows "■" and stops the request.
  void SetRequestPending(bool APending);
  bool RequestPending() const { return FRequestPending; }
  // The stop token of the request about to start; StopPendingRequest stops it (btnSend, Esc).
  TStopTokenPtr NewPendingStop(TStopTokenPtr AToken = nullptr);
  void StopPendingRequest();
  // A press of btnSend that was meant as "■" for a request that has just ended.
  bool LateStopPress() const;

  // Runs a command; an error it does not catch itself ends it and is shown by the
  // general error report.
  void RunCommand(const std::function<void()>& ACommand);

  // The elapsed-time display of a running request.
  void StartElapsedTime();
  void StopElapsedTime();

  // Handlers under their form names.
  void FormCreate();
  void FormShow();
  void FormClose();
  void FormResize();
  void Panel2Resize();
  void Timer1Timer();
  void TokenUpdateTimerTimer();
  void ResetChatView();  // page reset, then ClearInputs
  void UpdateContextTokensLabel();

 protected:
  void showEvent(QShowEvent* AEvent) override;
  void closeEvent(QCloseEvent* AEvent) override;
  void resizeEvent(QResizeEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  void BuildLayout();
  void BuildInputPanel();
  void BuildMenus();
  // Panel3 in one row when the width allows, else in two; returns its height.
  int ArrangePanel3(int AWidth);
  // Client size and place: the design size where the screen's free area allows it.
  void PlaceOnScreen();
  void WireHandlers();

  TGeminiDM& FGeminiDM;
  Dialogs& FDialogs;
  std::unique_ptr<IChatPage> FPage;
  std::unique_ptr<TChatView> FChatView;
  std::unique_ptr<TSettingsLists> FSettings;
  std::unique_ptr<TAttachmentsPanel> FAttachments;
  std::unique_ptr<TSendFlow> FSendFlow;
  std::unique_ptr<TChatLibrary> FLibrary;
  std::unique_ptr<TNewPartProcess> FNewPart;
  std::unique_ptr<TAnswerActions> FAnswerActions;
  std::unique_ptr<TSettingsCommand> FSettingsCommand;
  TCliEnvironmentController* FCliEnvironment = nullptr;
  bool FRequestPending = false;
  TStopTokenPtr FPendingStop;
  bool FSendPressedWhilePending = false;
  bool FClosed = false;
  // The least the prompt box and the attached-file list are given on a narrow panel.
  static constexpr int kMinMemoWidth = 220;
  static constexpr int kMinFilesWidth = 60;
  int FMemoDesignLeft = 0;
  int FMemoDesignWidth = 0;
  bool FPanel3Wrapped = false;
  int FPanel2DesignWidth = 0;
};

}  // namespace tarvok
