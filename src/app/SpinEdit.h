#pragma once
// Integer field with up and down arrows. Unlike QSpinBox it accepts any text
// while the user types and reports every edit, so the owner sees values
// outside the limits until the field loses the focus.
#include <QLineEdit>
#include <cstdint>

class QToolButton;

namespace quenvis {

class TSpinEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TSpinEdit(QWidget* Parent = nullptr);

  std::int32_t minimum() const { return FMinValue; }
  std::int32_t maximum() const { return FMaxValue; }
  // An upper limit below the lower one is raised to it.
  void setRange(std::int32_t Lower, std::int32_t Upper);

  // The integer written in the text; the lower limit when the text is not a
  // 32-bit decimal integer (empty, a sign alone, letters, out of range).
  std::int32_t value() const;
  // Writes the value, brought within the limits, as the text.
  void setValue(std::int32_t Value);
  // Moves the value by Steps, staying within the limits.
  void stepBy(int Steps);

  QToolButton* upButton() const { return FUp; }
  QToolButton* downButton() const { return FDown; }

 signals:
  // Raised by every change of the text, whether typed or set.
  void changed(QObject* Sender);

 protected:
  void focusOutEvent(QFocusEvent* Event) override;
  // Up and Down step by one, Page Up and Page Down by ten.
  void keyPressEvent(QKeyEvent* Event) override;
  // One step per notch; finer wheels add up to whole notches.
  void wheelEvent(QWheelEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void PlaceButtons();

  std::int32_t FMinValue = 0;
  std::int32_t FMaxValue = 0;
  int FWheelRest = 0;  // eighths of a degree not yet turned into a step
  QToolButton* FUp;
  QToolButton* FDown;
};

}  // namespace quenvis
