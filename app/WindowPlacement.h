#pragma once
// Where the main window opens: its design size where the screen's free area (without the
// task bar) allows it, smaller where not, and always inside that area, frame included.

#include <QMargins>
#include <QRect>
#include <QSize>

namespace tarvok {

// A usual title bar and border, for a window not shown yet.
inline constexpr QMargins kAssumedFrame{8, 31, 8, 8};

// The client rectangle: AWanted cut to the area less the frame (never below AMinimum), centred
// in the area, and moved so that the frame's top-left corner stays inside it.
QRect FitClientRect(const QRect& AArea, const QSize& AWanted, const QSize& AMinimum, const QMargins& AFrame);

}  // namespace tarvok
