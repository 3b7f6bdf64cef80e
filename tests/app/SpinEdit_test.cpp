#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "app/SpinEdit.h"

using quenvis::TSpinEdit;

class SpinEditTest : public QObject {
  Q_OBJECT

 private slots:
  void valueFromText_data();
  void valueFromText();
  void arrowsStayWithinLimits_data();
  void arrowsStayWithinLimits();
  void leavingTheFieldBringsValueToNearerLimit_data();
  void leavingTheFieldBringsValueToNearerLimit();
  void setValueAndRange();
  void pageKeysAndWheelStep_data();
  void pageKeysAndWheelStep();
};

void SpinEditTest::valueFromText_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("expected");
  QTest::newRow("in range") << "850" << 850;
  QTest::newRow("below, not held") << "-5" << -5;
  QTest::newRow("above, not held") << "99999" << 99999;
  QTest::newRow("plus sign") << "+42" << 42;
  QTest::newRow("int32 max") << "2147483647" << 2147483647;
  QTest::newRow("int32 min") << "-2147483648" << int(-2147483647 - 1);
  QTest::newRow("empty") << "" << 10;
  QTest::newRow("minus alone") << "-" << 10;
  QTest::newRow("plus alone") << "+" << 10;
  QTest::newRow("letters") << "abc" << 10;
  QTest::newRow("trailing letters") << "12a" << 10;
  QTest::newRow("decimal") << "1.5" << 10;
  QTest::newRow("above int32") << "2147483648" << 10;
  QTest::newRow("below int32") << "-2147483649" << 10;
}

void SpinEditTest::valueFromText() {
  QFETCH(QString, text);
  QFETCH(int, expected);
  TSpinEdit spin;
  spin.setRange(10, 20000);
  spin.setText(text);
  QCOMPARE(spin.value(), expected);
}

void SpinEditTest::arrowsStayWithinLimits_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("step");
  QTest::addColumn<bool>("byKey");
  QTest::addColumn<QString>("expected");
  QTest::newRow("up") << "1" << 1 << false << "2";
  QTest::newRow("down") << "1" << -1 << false << "0";
  QTest::newRow("up at upper") << "3" << 1 << false << "3";
  QTest::newRow("down at lower") << "0" << -1 << false << "0";
  QTest::newRow("down from above") << "7" << -1 << false << "3";
  QTest::newRow("up from below") << "-5" << 1 << false << "0";
  QTest::newRow("up from letters") << "x" << 1 << false << "1";
  QTest::newRow("up from int32 max") << "2147483647" << 1 << false << "3";
  QTest::newRow("down from int32 min") << "-2147483648" << -1 << false << "0";
  QTest::newRow("up key") << "2" << 1 << true << "3";
  QTest::newRow("down key from above") << "9" << -1 << true << "3";
}

void SpinEditTest::arrowsStayWithinLimits() {
  QFETCH(QString, text);
  QFETCH(int, step);
  QFETCH(bool, byKey);
  QFETCH(QString, expected);
  TSpinEdit spin;
  spin.setRange(0, 3);
  spin.setText(text);
  if (byKey)
    QTest::keyClick(&spin, step > 0 ? Qt::Key_Up : Qt::Key_Down);
  else
    QTest::mouseClick(step > 0 ? spin.upButton() : spin.downButton(), Qt::LeftButton);
  QCOMPARE(spin.text(), expected);
}

void SpinEditTest::leavingTheFieldBringsValueToNearerLimit_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("textAfter");
  QTest::addColumn<QList<int>>("changes");
  QTest::newRow("above") << "25"
                         << "11" << QList<int>{2, 25, 11};
  QTest::newRow("below") << "-3"
                         << "0" << QList<int>{0, -3, 0};
  QTest::newRow("inside") << "5"
                          << "5" << QList<int>{5};
  QTest::newRow("letters stay") << "q"
                                << "q" << QList<int>{0};
}

void SpinEditTest::leavingTheFieldBringsValueToNearerLimit() {
  QFETCH(QString, typed);
  QFETCH(QString, textAfter);
  QFETCH(QList<int>, changes);
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* spin = new TSpinEdit(&window);
  auto* other = new TSpinEdit(&window);
  layout->addWidget(spin);
  layout->addWidget(other);
  spin->setRange(0, 11);
  spin->setValue(10);
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  spin->setFocus();
  QVERIFY(spin->hasFocus());
  spin->selectAll();
  QList<int> seen;
  connect(spin, &TSpinEdit::changed, this, [&](QObject* Sender) {
    if (Sender == spin) seen.append(spin->value());
  });
  QTest::keyClicks(spin, typed);
  QCOMPARE(spin->text(), typed);
  other->setFocus();
  QVERIFY(!spin->hasFocus());
  QCOMPARE(spin->text(), textAfter);
  QCOMPARE(seen, changes);
}

void SpinEditTest::pageKeysAndWheelStep_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("key");           // 0: the wheel instead
  QTest::addColumn<QList<int>>("wheel");  // angle deltas, in eighths of a degree
  QTest::addColumn<QString>("expected");
  QTest::newRow("page up") << "5" << int(Qt::Key_PageUp) << QList<int>{} << "15";
  QTest::newRow("page down at the limit")
      << "-95" << int(Qt::Key_PageDown) << QList<int>{} << "-100";
  QTest::newRow("page up from above") << "250" << int(Qt::Key_PageUp) << QList<int>{} << "100";
  QTest::newRow("two notches up") << "5" << 0 << QList<int>{240} << "7";
  QTest::newRow("one notch down") << "5" << 0 << QList<int>{-120} << "4";
  QTest::newRow("fine wheel adds up") << "5" << 0 << QList<int>{60, 30, 30, 15} << "6";
  QTest::newRow("wheel at the limit") << "100" << 0 << QList<int>{120} << "100";
}

void SpinEditTest::pageKeysAndWheelStep() {
  QFETCH(QString, text);
  QFETCH(int, key);
  QFETCH(QList<int>, wheel);
  QFETCH(QString, expected);
  TSpinEdit spin;
  spin.setRange(-100, 100);
  spin.setText(text);
  if (key != 0) QTest::keyClick(&spin, Qt::Key(key));
  for (const int delta : wheel) {
    QWheelEvent event(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&spin, &event);
  }
  QCOMPARE(spin.text(), expected);
}

void SpinEditTest::setValueAndRange() {
  TSpinEdit spin;
  spin.setRange(-10000, 10000);
  spin.setValue(10001);
  QCOMPARE(spin.text(), QString("10000"));
  spin.setValue(-2147483647 - 1);
  QCOMPARE(spin.text(), QString("-10000"));
  spin.setRange(5, 2);  // an inverted range collapses onto the lower limit
  QCOMPARE(spin.maximum(), 5);
  spin.setValue(9);
  QCOMPARE(spin.value(), 5);
}

QTEST_MAIN(SpinEditTest)
#include "SpinEdit_test.moc"
