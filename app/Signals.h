#pragma once
// Ending the program from outside (Ctrl+C in its terminal, SIGTERM at logout) closes the
// window the way the user would: CLI runs are stopped and their folders removed, settings
// and the chat are saved, and the program ends.

class QWidget;

namespace tarvok {

// Call once, on the main thread, after the window exists. A second request to end while
// the first is still being handled ends the program at once.
void CloseOnQuitSignals(QWidget& AWindow);

}  // namespace tarvok
