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
  auto* Button = new QToolButton(Parent);
  Button->setArrowType(Arrow);
  Button->setAutoRepeat(true);
  Button->setFocusPolicy(Qt::NoFocus);
  Button->setCursor(Qt::ArrowCursor);
  return Button;
}

}  // namespace

TSpinEdit::TSpinEdit(QWidget* Parent)
    : QLineEdit(Parent),
      FUp(MakeArrow(this, Qt::UpArrow)),
      FDown(MakeArrow(this, Qt::DownArrow)) {
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
  bool Ok = false;
  // int is 32 bits on every platform we build for; toInt refuses anything
  // that does not fit.
  const int Parsed = text().toInt(&Ok, 10);
  return Ok ? static_cast<std::int32_t>(Parsed) : FMinValue;
}

void TSpinEdit::setValue(std::int32_t Value) {
  setText(QString::number(std::clamp(Value, FMinValue, FMaxValue)));
}

void TSpinEdit::stepBy(int Steps) {
  // Widened so that a typed value near the int32 ends cannot overflow.
  const std::int64_t Target = static_cast<std::int64_t>(value()) + Steps;
  setValue(static_cast<std::int32_t>(std::clamp<std::int64_t>(Target, FMinValue, FMaxValue)));
}

void TSpinEdit::focusOutEvent(QFocusEvent* Event) {
  const std::int32_t Current = value();
  if (Current < FMinValue || Current > FMaxValue) setValue(Current);
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
  const int Steps = FWheelRest / Notch;
  FWheelRest -= Steps * Notch;
  if (Steps != 0) stepBy(Steps);
  Event->accept();
}

void TSpinEdit::resizeEvent(QResizeEvent* Event) {
  QLineEdit::resizeEvent(Event);
  PlaceButtons();
}

void TSpinEdit::PlaceButtons() {
  const int Inner = std::max(2, height() - 4);
  const int UpHeight = Inner / 2;
  const int X = width() - ArrowWidth - 2;
  FUp->setGeometry(X, 2, ArrowWidth, UpHeight);
  FDown->setGeometry(X, 2 + UpHeight, ArrowWidth, Inner - UpHeight);
}

}  // namespace quenvis
