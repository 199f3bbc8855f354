// TForm1's lifecycle: creation, first showing, closing, the layout rule, the timers,
// the status line and the pending-request lock.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "app/AttachmentsPanel.h"
#include "app/ChatLibrary.h"
#include "app/CliEnvironment.h"
#include "app/IntText.h"
#include "app/MainWindow.h"
#include "app/NewPartProcess.h"
#include "app/QtText.h"
#include "app/SendFlow.h"
#include "app/SettingsLists.h"
#include "app/ShownText.h"
#include "app/UiTexts.h"
#include "cli/CliRuns.h"
#include "core/ApiKeyStats.h"
#include "core/Platform.h"
#include "core/RequestThread.h"

namespace tarvok {

void TForm1::FormCreate() {
  FlbFiles1.clear();
  FIsLoading = false;
  FFormShown = false;
  FCurrentChatFile.clear();
  FChatView->FIsSaving = false;
  try {
    CreateChatFolders();
  } catch (const std::exception&) {
    // A read-only program folder: the first save reports it.
  }
}

void TForm1::showEvent(QShowEvent* AEvent) {
  QMainWindow::showEvent(AEvent);
  if (!AEvent->spontaneous()) RunCommand([this] { FormShow(); });
}

void TForm1::FormShow() {
  TGeminiDM& dm = FGeminiDM;
  dm.MaxInputTextLength = 30020;
  dm.MaxFilesPerRequest = 16;
  dm.MaxContextTokens = 124000;
  dm.MaxOutputTokens = 500000;
  dm.GeminiApiUrlBase = kDefaultGeminiApiUrlBase;
  dm.MethodGenerate = "generateContent";
  // Attachments too big to go inline go up through the Files API.
  dm.UseFilesApi = true;
  // A program folder that takes no files (read-only, say) must not stop the start-up:
  // the first refused write is kept and told once, at its end.
  std::string writeError;
  auto tolerate = [&writeError](const std::function<void()>& AStep) {
    try {
      AStep();
    } catch (const std::exception& e) {
      if (writeError.empty()) writeError = e.what();
    }
  };
  tolerate([this] { FSettings->LoadSettings(ProgramDir() / "config.ini"); });
  FNewPart->LoadNewPartPrompt();

  if (dm.TimeOut1 <= 0) {
    const std::string text = S(TimeOutEdit->text());
    if (!text.empty()) dm.TimeOut1 = TryStrToInt(text).value_or(0) * 60;
  }
  if (dm.TimeOut1 <= 0) dm.TimeOut1 = 60;
  TimeOutEdit->setText(QString::number(dm.TimeOut1 / 60));
  FSettings->TimeOutEditChange();
  FSettings->KreaEditChange();
  FSettings->TimeOutEditChange();
  {
    const QSignalBlocker block(MaxLimKont);
    MaxLimKont->setText(QString::number(dm.MaxContextTokens));
  }
  Timer1->setInterval(1000);
  Timer1->stop();
  TimeoutLabel->hide();
  tolerate([this] { FSettings->LoadLists(); });

  if (FFormShown) return;
  FFormShown = true;
  tolerate([this] { FLibrary->LoadChatList(); });
  FIsLoading = true;
  ListBox2->insertItem(0, Q(ui::kNewChatEntry));
  ListBox2->setCurrentRow(0);
  FIsLoading = false;
  dm.ClearHistory();
  ResetChatView();
  FCurrentChatFile.clear();
  SetStatusText(ui::kStatusNewChat);
  CountLabel->setText(QString::number(GetRequestCount(S(editApiKey->currentText()), S(cbModels->currentText()))));
  UpdateContextTokensLabel();
  FChatView->AttachTitleHandler();
  memoPrompt->setFocus();
  if (!writeError.empty()) FDialogs.ShowMessage(Q(ui::kMsgProgramFolderNotWritable) + Q(writeError));
}

void TForm1::closeEvent(QCloseEvent* AEvent) {
  RunCommand([this] { FormClose(); });
  AEvent->accept();
}

void TForm1::FormClose() {
  if (FClosed) return;
  FClosed = true;
  // A CLI run still going would outlive the window with the conversation on disk, and a
  // REST transfer still going would run while the process takes its libraries down.
  TCliRuns::Instance().StopAll(std::chrono::seconds(10));
  TGeminiRequestThread::StopAll(std::chrono::seconds(5));
  FSettings->SaveSettings(ProgramDir() / "config.ini");
  FLibrary->SaveCurrentChat();
  // The request counts are written in the background; closing the window writes them now.
  FlushRequestCounts();
  FLibrary->ClearChatList();
  FlbFiles1.clear();
}

void TForm1::resizeEvent(QResizeEvent* AEvent) {
  QMainWindow::resizeEvent(AEvent);
  FormResize();
}

void TForm1::FormResize() { Panel2Resize(); }

void TForm1::Panel2Resize() {
  if (!Panel2 || !memoPrompt) return;
  const int width = Panel2->width();
  const int height = Panel2->height();
  // The prompt box keeps its relative horizontal place (its centre scales with the
  // panel), but never slides over the settings column.
  int memoWidth = FMemoDesignWidth;
  const double centre = (FMemoDesignLeft + memoWidth / 2.0) * width / std::max(1, FPanel2DesignWidth);
  const int memoLeft = std::max(FMemoDesignLeft, static_cast<int>(centre - memoWidth / 2.0 + 0.5));
  // On a narrow panel it gives way, so that the file list and "↓" stay in view.
  const int room = width - memoLeft - 5 - kMinFilesWidth - 4 - DownBut->width() - 4;
  if (memoWidth > room) memoWidth = std::max(kMinMemoWidth, room);
  // Under the prompt box, as wide as the panel leaves it, in two rows when one does not fit.
  const int panel3Width = width - memoLeft - 4;
  const int panel3Height = ArrangePanel3(panel3Width);
  memoPrompt->setGeometry(memoLeft, 4, memoWidth, std::max(20, height - panel3Height - 10));
  Panel3->setGeometry(memoLeft, memoPrompt->y() + memoPrompt->height() + 2, panel3Width, panel3Height);
  const int listLeft = memoPrompt->x() + memoPrompt->width() + 5;
  DownBut->move(width - DownBut->width() - 4, 4);
  ListBox1->setGeometry(listLeft, 4, std::max(40, DownBut->x() - 4 - listLeft), memoPrompt->height());
}

void TForm1::Timer1Timer() {
  ++FSecondsElapsed;
  char text[32];
  std::snprintf(text, sizeof text, "%.2d:%.2d", FSecondsElapsed / 60, FSecondsElapsed % 60);
  TimeoutLabel->setText(QString::fromLatin1(text));
}

void TForm1::StartElapsedTime() {
  FSecondsElapsed = 0;
  TimeoutLabel->setText("00:00");
  TimeoutLabel->show();
  Timer1->start();
}

void TForm1::StopElapsedTime() {
  Timer1->stop();
  TimeoutLabel->hide();
}

void TForm1::TokenUpdateTimerTimer() {
  TokenUpdateTimer->stop();
  UpdateContextTokensLabel();
}

void TForm1::UpdateContextTokensLabel() { FAttachments->UpdateContextTokensLabel(); }

void TForm1::ResetChatView() {
  FChatView->ResetChatView();
  FAttachments->ClearInputs();
}

void TForm1::SetStatusText(const std::string& AText) { StatusText->setText(ShownText(Q(AText))); }

std::string TForm1::StatusTextValue() const { return S(StatusText->text()); }

void TForm1::SetRequestPending(bool APending) {
  FRequestPending = APending;
  if (!APending) FPendingStop.reset();
  // btnSend stays usable: while pending it is "■" and stops the request.
  btnSend->setText(Q(APending ? ui::kCaptionStop : ui::kCaptionSend));
  btnSend->setToolTip(APending ? Q(ui::kHintStop) : QStringLiteral("Ctrl+Enter"));
  // The search box too: a search would replace the chat selection the pending request
  // answers into. The route boxes are fixed for the request's length.
  for (QWidget* w : std::initializer_list<QWidget*>{ListBox2, btnNewChat, GeminiListBox, Edit1, chkEnableWebSearch,
                                                   chkStreamAnswers, chkShowThoughts})
    w->setEnabled(!APending);
  // The CLI box is also off while its own check runs.
  GeminiCliCheckBox->setEnabled(!APending && !FCliEnvironment->IsBusy());
  for (QAction* a : {N6, N12, N13, N14, N17}) a->setEnabled(!APending);
}

TStopTokenPtr TForm1::NewPendingStop(TStopTokenPtr AToken) {
  FPendingStop = AToken ? std::move(AToken) : std::make_shared<TStopToken>();
  return FPendingStop;
}

bool TForm1::LateStopPress() const {
  // Pressed while it showed "■", released after the answer came: the answer won the race
  // with the stop, and the press is dropped, not taken as a send.
  return !FRequestPending && FSendPressedWhilePending;
}

void TForm1::StopPendingRequest() {
  if (FRequestPending && FPendingStop) FPendingStop->Stop();
}

void TForm1::RunCommand(const std::function<void()>& ACommand) {
  try {
    ACommand();
  } catch (const std::exception& e) {
    FDialogs.ShowError(Q(e.what()));
  }
}

}  // namespace tarvok
