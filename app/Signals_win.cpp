// A window program on Windows gets no console signals; ending the session closes its
// windows through the window system, which runs the same close as the user's.
#include "app/Signals.h"

namespace tarvok {

void CloseOnQuitSignals(QWidget& /*AWindow*/) {}

}  // namespace tarvok
