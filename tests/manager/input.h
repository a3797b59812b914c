// Input as the user gives it, for widgets that QTest cannot reach by itself.
#pragma once
#include <QAbstractSpinBox>
#include <QApplication>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSpinBox>

namespace vtxtest {

// A mouse event sent straight to the widget (the offscreen platform tracks no pointer).
inline void MouseAt(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::NoButton) {
  QMouseEvent e(type, pos, w->mapToGlobal(pos), button, button == Qt::NoButton ? Qt::NoButton : button,
                Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

// The middle of a spin box's up or down arrow.
inline QPoint ArrowPoint(QAbstractSpinBox* box, bool up) {
  QStyleOptionSpinBox option;
  option.initFrom(box);
  option.subControls = QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
  option.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
  return box->style()
      ->subControlRect(QStyle::CC_SpinBox, &option, up ? QStyle::SC_SpinBoxUp : QStyle::SC_SpinBoxDown, box)
      .center();
}

}  // namespace vtxtest
