#include "app/UpDown.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/IntText.h"
#include "app/QtText.h"

namespace tarvok {

TUpDown::TUpDown(QLineEdit* AAssociate, int AMin, int AMax, int APosition, QWidget* AParent)
    : QWidget(AParent), FAssociate(AAssociate), FMin(AMin), FMax(AMax), FPosition(APosition) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  FUp = new QToolButton(this);
  FDown = new QToolButton(this);
  FUp->setArrowType(Qt::UpArrow);
  FDown->setArrowType(Qt::DownArrow);
  for (auto* b : {FUp, FDown}) {
    b->setAutoRepeat(true);
    b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    layout->addWidget(b);
  }
  connect(FUp, &QToolButton::clicked, this, [this] { StepBy(1); });
  connect(FDown, &QToolButton::clicked, this, [this] { StepBy(-1); });
}

void TUpDown::StepBy(int ADelta) {
  // The box's own number when it holds one, so typing and the arrows stay in step.
  if (auto shown = TryStrToInt(S(FAssociate->text()))) FPosition = std::clamp(*shown, FMin, FMax);
  FPosition = std::clamp(FPosition + ADelta, FMin, FMax);
  FAssociate->setText(QString::number(FPosition));
}

}  // namespace tarvok
