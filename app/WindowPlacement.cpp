#include "app/WindowPlacement.h"

#include <algorithm>

namespace tarvok {

QRect FitClientRect(const QRect& AArea, const QSize& AWanted, const QSize& AMinimum, const QMargins& AFrame) {
  const QSize room(AArea.width() - AFrame.left() - AFrame.right(), AArea.height() - AFrame.top() - AFrame.bottom());
  const QSize size = AWanted.boundedTo(room).expandedTo(AMinimum);
  const int outerWidth = size.width() + AFrame.left() + AFrame.right();
  const int outerHeight = size.height() + AFrame.top() + AFrame.bottom();
  // Centred; a window larger than the area (its minimum does not fit) starts at its corner,
  // so the title bar stays reachable.
  const int left = AArea.left() + std::max(0, (AArea.width() - outerWidth) / 2);
  const int top = AArea.top() + std::max(0, (AArea.height() - outerHeight) / 2);
  return QRect(QPoint(left + AFrame.left(), top + AFrame.top()), size);
}

}  // namespace tarvok
