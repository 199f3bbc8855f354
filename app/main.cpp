// The program: the window first, then the generation service, then the message loop.
#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "app/QtMainThread.h"
#include "app/Signals.h"
#include "app/SingleInstance.h"
#include "app/WebChatPage.h"
#include "cli/ConsoleRunner.h"
#include "cli/PrivateFiles.h"
#include "core/DataFolder.h"
#include "core/Platform.h"

int main(int argc, char** argv) {
  // A parent may leave SIGCHLD ignored; children would then be reaped by the system before
  // the console runner could wait for them.
  tarvok::ResetChildSignal();
  tarvok::WebChatPage::PrepareBrowserEngine();
  QApplication app(argc, argv);
  // Ties the window to its launcher tarvok.desktop (Wayland's app id; X11's WM_CLASS is
  // "tarvok" from the executable's name, the launcher's StartupWMClass).
  QGuiApplication::setDesktopFileName(QStringLiteral("tarvok"));

  // Settings, chats and counters live beside the executable (in the user's data folder
  // when that folder holds none of them and is read-only), and Keys.txt and Models.txt are
  // opened by bare name, so the program works in its data folder.
  const std::filesystem::path exeDir = tarvok::PathFromUtf8(QCoreApplication::applicationDirPath().toStdString());
  const std::filesystem::path dataDir = tarvok::DataDirFor(exeDir, tarvok::UserDataRoot());
  std::error_code ec;
  std::filesystem::create_directories(dataDir, ec);
  tarvok::SetInstallDir(exeDir);
  tarvok::SetProgramDir(dataDir);
  std::filesystem::current_path(dataDir, ec);

  // A second program on the same folder would write its old copy of a chat over the turns
  // the first one added: the running one is brought to the front instead.
  tarvok::TSingleInstance instance(dataDir);
  switch (instance.Start()) {
    case tarvok::TSingleInstance::TStart::First:
      break;
    case tarvok::TSingleInstance::TStart::HandedOver:
      return 0;
    case tarvok::TSingleInstance::TStart::Refused:
      QMessageBox::information(nullptr, QStringLiteral("Tarvok"), QString::fromUtf8(tarvok::kMsgAlreadyRunning));
      return 1;
  }

  // Workers keep a reference to the main-thread link and may outlive main(), so it lives
  // for the whole process and is never destroyed. A static holds it: it stays reachable to
  // the end, and the leak checker does not take it for memory lost on a normal exit.
  static auto* const mainThread = new tarvok::TQtMainThread;
  tarvok::TQtDialogs dialogs;
  tarvok::TGeminiDM geminiDM(*mainThread);
  int result = 0;
  {
    tarvok::TForm1 form(geminiDM, dialogs, std::make_unique<tarvok::WebChatPage>());
    dialogs.SetParent(&form);
    instance.OnActivate = [&form] {
      form.setWindowState((form.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
      form.show();
      form.raise();
      form.activateWindow();
    };
    form.show();
    tarvok::CloseOnQuitSignals(form);
    // Folders of CLI runs whose program was ended before it could remove them.
    tarvok::RemoveStaleRunFolders();
    result = QApplication::exec();
    // A request still pending has nowhere to report to: its steps are dropped from now on.
    mainThread->Close();
    instance.OnActivate = nullptr;
    dialogs.SetParent(nullptr);
  }
  return result;
}
