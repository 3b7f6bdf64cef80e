#include "app/SpinEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>

namespace quenvis {

namespace {

constexpr int ArrowWidth = 15;

QToolButton* MakeArrow(QWidget* Parent, Qt::ArrowType Arrow) {
  auto* button = new QToolButton(Parent);
  button->setArrowType(Arrow);
  button->setAutoRepeat(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setCursor(Qt::ArrowCursor);
  return button;
}

}  // namespace

TSpinEdit::TSpinEdit(QWidget* Parent)
    : QLineEdit(Parent), FUp(MakeArrow(this, Qt::UpArrow)), FDown(MakeArrow(this, Qt::DownArrow)) {
  setTextMargins(0, 0, ArrowWidth, 0);
  connect(FUp, &QToolButton::clicked, this, [this] { stepBy(1); });
  connect(FDown, &QToolButton::clicked, this, [this] { stepBy(-1); });
  connect(this, &QLineEdit::textChanged, this, [this] { emit changed(this); });
  PlaceButtons();
}

void TSpinEdit::setRange(std::int32_t Lower, std::int32_t Upper) {
  FMinValue = Lower;
  FMaxValue = std::max(Lower, Upper);
}

std::int32_t TSpinEdit::value() const {
  bool ok = false;
  // int is 32 bits on every platform we build for; toInt refuses anything
  // that does not fit.
  const int parsed = text().toInt(&ok, 10);
  return ok ? static_cast<std::int32_t>(parsed) : FMinValue;
}

void TSpinEdit::setValue(std::int32_t Value) {
  setText(QString::number(std::clamp(Value, FMinValue, FMaxValue)));
}

void TSpinEdit::stepBy(int Steps) {
  // Widened so that a typed value near the int32 ends cannot overflow.
  const std::int64_t target = static_cast<std::int64_t>(value()) + Steps;
  setValue(static_cast<std::int32_t>(std::clamp<std::int64_t>(target, FMinValue, FMaxValue)));
}

void TSpinEdit::focusOutEvent(QFocusEvent* Event) {
  const std::int32_t current = value();
  if (current < FMinValue || current > FMaxValue) setValue(current);
  QLineEdit::focusOutEvent(Event);
}

void TSpinEdit::keyPressEvent(QKeyEvent* Event) {
  switch (Event->key()) {
    case Qt::Key_Up:
      stepBy(1);
      Event->accept();
      return;
    case Qt::Key_Down:
      stepBy(-1);
      Event->accept();
      return;
    case Qt::Key_PageUp:
      stepBy(10);
      Event->accept();
      return;
    case Qt::Key_PageDown:
      stepBy(-10);
      Event->accept();
      return;
    default:
      QLineEdit::keyPressEvent(Event);
  }
}

void TSpinEdit::wheelEvent(QWheelEvent* Event) {
  constexpr int Notch = 120;
  FWheelRest += Event->angleDelta().y();
  const int steps = FWheelRest / Notch;
  FWheelRest -= steps * Notch;
  if (steps != 0) stepBy(steps);
  Event->accept();
}

void TSpinEdit::resizeEvent(QResizeEvent* Event) {
  QLineEdit::resizeEvent(Event);
  PlaceButtons();
}

void TSpinEdit::PlaceButtons() {
  const int inner = std::max(2, height() - 4);
  const int upHeight = inner / 2;
  const int x = width() - ArrowWidth - 2;
  FUp->setGeometry(x, 2, ArrowWidth, upHeight);
  FDown->setGeometry(x, 2 + upHeight, ArrowWidth, inner - upHeight);
}

}  // namespace quenvis
