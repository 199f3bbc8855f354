// SIGINT and SIGTERM reach the main thread through a pipe: the handler only writes a byte,
// and the event loop closes the window when it reads it.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <atomic>
#include <cerrno>

#include "app/Signals.h"

namespace tarvok {
namespace {

int GWakeWrite = -1;
std::atomic<bool> GPending{false};

void OnQuitSignal(int ASignal) {
  // Asked again while the first is still being handled (a run that will not end, a hung
  // save): the user means it, so the default action ends the program now.
  if (GPending.exchange(true)) {
    ::signal(ASignal, SIG_DFL);
    ::raise(ASignal);
    return;
  }
  const int saved = errno;
  const char byte = static_cast<char>(ASignal);
  [[maybe_unused]] const ssize_t n = ::write(GWakeWrite, &byte, 1);
  errno = saved;
}

}  // namespace

void CloseOnQuitSignals(QWidget& AWindow) {
  int fds[2];
  if (GWakeWrite >= 0 || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  GWakeWrite = fds[1];
  auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, qApp);
  QPointer<QWidget> window(&AWindow);
  QObject::connect(notifier, &QSocketNotifier::activated, qApp, [window, fd = fds[0]] {
    char bytes[16];
    while (::read(fd, bytes, sizeof bytes) > 0) {
    }
    // Dialogs first, so that no nested loop holds the window; then the window, whose close
    // stops the runs and saves; then the loops end even if a dialog would not close.
    QApplication::closeAllWindows();
    if (window) window->close();
    QCoreApplication::exit(0);
  });
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace tarvok
