#pragma once
// An up-down control beside an edit box: its arrows step the box's integer within
// Min..Max and write it back as text, which fires the box's change handler.

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace tarvok {

class TUpDown : public QWidget {
  Q_OBJECT
 public:
  TUpDown(QLineEdit* AAssociate, int AMin, int AMax, int APosition, QWidget* AParent);

  int Min() const { return FMin; }
  int Max() const { return FMax; }
  int Position() const { return FPosition; }
  void StepBy(int ADelta);  // what a click on an arrow does

  QToolButton* UpButton() const { return FUp; }
  QToolButton* DownButton() const { return FDown; }

 private:
  QLineEdit* FAssociate;
  QToolButton* FUp;
  QToolButton* FDown;
  int FMin, FMax, FPosition;
};

}  // namespace tarvok
