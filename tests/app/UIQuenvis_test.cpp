#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <functional>
#include <map>

#include "analysis/UFFT_iterative_tabs.h"
#include "app/SpinEdit.h"
#include "app/UIQuenvis.h"
#include "support/FakeWaveInService.h"

using quenvis::TForm1;
using quenvis::TSpinEdit;

namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QStringList Controls = {"PowerOffset", "PowerRange", "Remanance", "FreqPlage", "Seuil",
                              "EC2Z1LF1",    "EC2Z1LF2",   "EC2Z2LF1",  "EC2Z2LF2"};

TSpinEdit* Spin(TForm1& Form, const QString& Name) {
  auto* found = Form.findChild<TSpinEdit*>(Name);
  if (!found) qFatal("no spin field %s", qPrintable(Name));
  return found;
}

// The field each spin field's handler writes, read as a double.
double FieldOf(const TForm1& Form, const QString& Control) {
  static const std::map<QString, std::function<double(const TForm1&)>> fields = {
      {"PowerOffset", [](const TForm1& F) { return F.Settings.FOffset; }},
      {"PowerRange", [](const TForm1& F) { return F.Settings.FScale; }},
      {"Remanance", [](const TForm1& F) { return double(F.Settings.FFade); }},
      {"FreqPlage", [](const TForm1& F) { return double(F.Settings.FShift); }},
      {"Seuil", [](const TForm1& F) { return F.Settings.FThreshold; }},
      {"EC2Z1LF1", [](const TForm1& F) { return double(F.Settings.FZone1Lo); }},
      {"EC2Z1LF2", [](const TForm1& F) { return double(F.Settings.FZone1Hi); }},
      {"EC2Z2LF1", [](const TForm1& F) { return double(F.Settings.FZone2Lo); }},
      {"EC2Z2LF2", [](const TForm1& F) { return double(F.Settings.FZone2Hi); }},
  };
  return fields.at(Control)(Form);
}

}  // namespace

class UIQuenvisTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QLocale::setDefault(English); }
  void startUpState();
  void startUpOrder();
  void handlerValues_data();
  void handlerValues();
  void thresholdKeepsScaleOfItsTime();
  void outOfRangeTyping_data();
  void outOfRangeTyping();
  void windowList();
  void labelsFollowLocale_data();
  void labelsFollowLocale();
  void numberTexts();
  void layout_data();
  void layout();
  void spinLimits();
  void windowPropertiesAndTabOrder();
};

void UIQuenvisTest::startUpState() {
  quenvis::TFakeWaveInService service({{"Test input"}});
  TForm1 form(&service);
  QCOMPARE(form.Settings.FOffset, 0.0);
  QCOMPARE(form.Settings.FScale, 25.5);
  QCOMPARE(form.Settings.FFade, 0.95f);
  QCOMPARE(form.Settings.FShift, -1);
  QCOMPARE(form.Settings.FThreshold, 0.51);
  QCOMPARE(form.Settings.FZone1Lo, 10);
  QCOMPARE(form.Settings.FZone1Hi, 79);
  QCOMPARE(form.Settings.FZone2Lo, 56);
  QCOMPARE(form.Settings.FZone2Hi, 209);
  QCOMPARE(form.Settings.FZone1Peak, 0);
  QCOMPARE(form.Settings.FZone2Peak, 0);
  QCOMPARE(form.LPowerRange->text(), QString("0.000 to 10.000 dB"));
  QCOMPARE(form.LFreqPlage->text(), QString("0 to 5,000 Hz"));
  QCOMPARE(form.windowTitle(), QString("Quenvis par ZR ? img/s"));
  QCOMPARE(form.window->currentText(), QString("hamming"));
  QVERIFY(form.FFT);
  QCOMPARE(form.FFT->Window, &quenvis::TabHamming);
  QCOMPARE(form.Rate.FFrameCount, 0);
}

void UIQuenvisTest::startUpOrder() {
  quenvis::TFakeWaveInService service({{"Test input"}});
  TForm1 form(&service);
  // The first handler of the start-up sees the provisional scale log10(255).
  form.Settings.FScale = std::log10(255.0);
  form.PowerOffsetChange(&form);
  QCOMPARE(form.LPowerRange->text(), QString("0.000 to 105.961 dB"));
  form.PowerRangeChange(&form);
  QCOMPARE(form.LPowerRange->text(), QString("0.000 to 10.000 dB"));
}

void UIQuenvisTest::handlerValues_data() {
  QTest::addColumn<QString>("control");
  QTest::addColumn<QString>("text");
  QTest::addColumn<double>("field");
  QTest::addColumn<QString>("label");  // empty: the control has none
  const struct {
    const char* Control;
    const char* Text;
    double Field;
    const char* Label;
  } rows[] = {
      {"PowerRange", "10", 25.5, "0.000 to 10.000 dB"},
      {"PowerRange", "1", 255, "0.000 to 1.000 dB"},
      {"PowerRange", "0", 255, "0.000 to 1.000 dB"},
      {"PowerRange", "-1", 510, "0.000 to 0.500 dB"},
      {"PowerRange", "-9", 2550, "0.000 to 0.100 dB"},
      {"PowerRange", "-10000", 2550255, "0.000 to 0.000 dB"},
      {"PowerRange", "10000", 0.0255, "0.000 to 10000.000 dB"},
      {"PowerRange", "", 2550255, "0.000 to 0.000 dB"},
      {"PowerOffset", "-3", -3, "-3.000 to 7.000 dB"},
      {"PowerOffset", "10000", 10000, "10000.000 to 10010.000 dB"},
      {"PowerOffset", "-10000", -10000, "-10000.000 to -9990.000 dB"},
      {"PowerOffset", "", -10000, "-10000.000 to -9990.000 dB"},
      {"FreqPlage", "0", -1, "0 to 5,000 Hz"},
      {"FreqPlage", "1", 0, "0 to 10,000 Hz"},
      {"FreqPlage", "2", 1, "0 to 20,000 Hz"},
      {"FreqPlage", "3", 2, "0 to 40,000 Hz"},
      {"FreqPlage", "-", -1, "0 to 5,000 Hz"},
      {"Seuil", "0", 0, ""},
      {"Seuil", "50", 12.75, ""},
      {"Seuil", "100", 25.5, ""},
      {"Seuil", "abc", 0, ""},
      {"Remanance", "", 0, ""},
      {"EC2Z1LF1", "", 1, ""},
      {"EC2Z2LF2", "x1", 1, ""},
      {"PowerRange", "2147483648", 2550255, "0.000 to 0.000 dB"},
  };
  for (const auto& row : rows)
    QTest::addRow("%s=\"%s\"", row.Control, row.Text)
        << QString(row.Control) << QString(row.Text) << row.Field << QString(row.Label);
  for (int i = 0; i < int(quenvis::FadeTab.size()); ++i)
    QTest::addRow("Remanance=%d", i) << QString("Remanance") << QString::number(i)
                                     << double(float(quenvis::FadeTab[i])) << QString();
  const struct {
    int Hz;
    int Bin;
  } bins[] = {{10, 1}, {110, 10}, {600, 56}, {850, 79}, {2250, 209}, {20000, 1858}};
  for (const char* zone : {"EC2Z1LF1", "EC2Z1LF2", "EC2Z2LF1", "EC2Z2LF2"})
    for (const auto& b : bins)
      QTest::addRow("%s=%d", zone, b.Hz)
          << QString(zone) << QString::number(b.Hz) << double(b.Bin) << QString();
}

void UIQuenvisTest::handlerValues() {
  QFETCH(QString, control);
  QFETCH(QString, text);
  QFETCH(double, field);
  QFETCH(QString, label);
  quenvis::TFakeWaveInService service({{"Test input"}});
  TForm1 form(&service);
  std::map<QString, double> before;
  for (const QString& c : Controls) before[c] = FieldOf(form, c);
  const QString labels[] = {form.LPowerRange->text(), form.LFreqPlage->text()};
  Spin(form, control)->setText(text);
  QCOMPARE(FieldOf(form, control), field);
  // Every other field and label is left alone.
  for (const QString& c : Controls)
    if (c != control) QVERIFY2(FieldOf(form, c) == before[c], qPrintable(c));
  const bool power = control.startsWith("Power");
  QCOMPARE(form.LPowerRange->text(), power ? label : labels[0]);
  QCOMPARE(form.LFreqPlage->text(), control == "FreqPlage" ? label : labels[1]);
}

void UIQuenvisTest::thresholdKeepsScaleOfItsTime() {
  quenvis::TFakeWaveInService service({{"Test input"}});
  TForm1 form(&service);
  form.Seuil->setValue(50);
  QCOMPARE(form.Settings.FThreshold, 12.75);
  form.PowerRange->setValue(1);
  QCOMPARE(form.Settings.FScale, 255.0);
  QCOMPARE(form.Settings.FThreshold, 12.75);
  form.Seuil->setValue(2);
  QCOMPARE(form.Settings.FThreshold, 5.1);
}

void UIQuenvisTest::outOfRangeTyping_data() {
  QTest::addColumn<QString>("control");
  QTest::addColumn<int>("start");
  QTest::addColumn<QString>("typed");
  // The field holds the last value typed within the limits.
  QTest::addColumn<double>("whileTyping");
  QTest::addColumn<QString>("textAfterLeaving");
  QTest::addColumn<double>("afterLeaving");
  QTest::addColumn<QString>("label");  // the label once the field is left
  QTest::newRow("Remanance above")
      << "Remanance" << 10 << "12" << double(0.1f) << "11" << double(0.99f) << "";
  QTest::newRow("FreqPlage above")
      << "FreqPlage" << 2 << "9" << 1.0 << "3" << 2.0 << "0 to 40,000 Hz";
  QTest::newRow("FreqPlage below")
      << "FreqPlage" << 2 << "-1" << -1.0 << "0" << -1.0 << "0 to 5,000 Hz";
  QTest::newRow("Seuil above") << "Seuil" << 2 << "500" << 12.75 << "100" << 25.5 << "";
  QTest::newRow("zone above") << "EC2Z2LF2" << 2250 << "99999" << 929.0 << "20000" << 1858.0 << "";
  QTest::newRow("zone far above") << "EC2Z1LF1" << 110 << "5000000" << 464.0 << "20000" << 1858.0
                                  << "";
  QTest::newRow("PowerRange below") << "PowerRange" << 10 << "-90000000" << 9001.0 * 255 << "-10000"
                                    << 2550255.0 << "0.000 to 0.000 dB";
  QTest::newRow("PowerOffset above") << "PowerOffset" << 0 << "20000" << 2000.0 << "10000"
                                     << 10000.0 << "10000.000 to 10010.000 dB";
}

void UIQuenvisTest::outOfRangeTyping() {
  QFETCH(QString, control);
  QFETCH(int, start);
  QFETCH(QString, typed);
  QFETCH(double, whileTyping);
  QFETCH(QString, textAfterLeaving);
  QFETCH(double, afterLeaving);
  QFETCH(QString, label);
  quenvis::TFakeWaveInService service({{"Test input"}});
  TForm1 form(&service);
  form.show();
  QVERIFY(QTest::qWaitForWindowActive(&form));
  TSpinEdit* field = Spin(form, control);
  field->setValue(start);
  field->setFocus();
  field->selectAll();
  QTest::keyClicks(field, typed);
  QCOMPARE(field->text(), typed);
  QCOMPARE(FieldOf(form, control), whileTyping);
  if (control == "FreqPlage")  // the range still in force
    QCOMPARE(form.LFreqPlage->text(),
             whileTyping == 1.0 ? QString("0 to 20,000 Hz") : QString("0 to 5,000 Hz"));
  form.Memo1->setFocus();
  QCOMPARE(field->text(), textAfterLeaving);
  QCOMPARE(FieldOf(form, control), afterLeaving);
  QVERIFY(form.Settings.FScale > 0 && std::isfinite(form.Settings.FScale));
  if (control.startsWith("Power")) QCOMPARE(form.LPowerRange->text(), label);
  if (control == "FreqPlage") QCOMPARE(form.LFreqPlage->text(), label);
}

void UIQuenvisTest::windowList() {
  quenvis::TFakeWaveInService service({{"Test input"}});
  TForm1 form(&service);
  QStringList items;
  for (int i = 0; i < form.window->count(); ++i) items << form.window->itemText(i);
  QCOMPARE(items,
           (QStringList{"hamming", "hanning", "Blackman", "Blackman_Harris", "Blackman_Nuttall"}));
  QVERIFY(!form.window->isEditable());
  // A selection made by the program does not reach the handler.
  form.window->setCurrentIndex(3);
  QCOMPARE(form.FFT->Window, &quenvis::TabHamming);
  form.window->setCurrentIndex(0);
  const quenvis::TWindowTab* tables[] = {&quenvis::TabHamming, &quenvis::TabHanning,
                                         &quenvis::TabBlackman, &quenvis::TabBlackmanHarris,
                                         &quenvis::TabBlackmanNuttall};
  for (int i = 1; i < 5; ++i) {
    QTest::keyClick(form.window, Qt::Key_Down);  // the user's choice
    QCOMPARE(form.window->currentIndex(), i);
    QCOMPARE(form.FFT->Window, tables[i]);
  }
  QTest::keyClick(form.window, Qt::Key_Home);
  QCOMPARE(form.FFT->Window, &quenvis::TabHamming);
  form.FFT->Window = &quenvis::TabBlackman;
  form.window->setCurrentIndex(-1);
  form.windowChange(&form);
  QCOMPARE(form.FFT->Window, &quenvis::TabHamming);
}

void UIQuenvisTest::labelsFollowLocale_data() {
  QTest::addColumn<QLocale>("locale");
  QTest::addColumn<QString>("power");
  QTest::addColumn<QString>("freq");
  QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << "-3,000 to 7,000 dB"
                          << "0 to 5.000 Hz";
  // Swedish groups with a no-break space and has a U+2212 minus of its own.
  QTest::newRow("Swedish") << QLocale(QLocale::Swedish, QLocale::Sweden) << "-3,000 to 7,000 dB"
                           << QString("0 to 5\u00A0000 Hz");
}

void UIQuenvisTest::labelsFollowLocale() {
  QFETCH(QLocale, locale);
  QFETCH(QString, power);
  QFETCH(QString, freq);
  QLocale::setDefault(locale);
  quenvis::TFakeWaveInService service({{"Test input"}});
  TForm1 form(&service);
  form.PowerOffset->setValue(-3);
  QCOMPARE(form.LPowerRange->text(), power);
  QCOMPARE(form.LFreqPlage->text(), freq);
}

void UIQuenvisTest::numberTexts() {
  QCOMPARE(quenvis::FormatFixed(1234.5, 3, English), QString("1234.500"));
  QCOMPARE(quenvis::FormatFixed(-0.5, 2, English), QString("-0.50"));
  QCOMPARE(quenvis::FormatFixed(-1e-15, 3, English), QString("0.000"));
  QCOMPARE(quenvis::FormatFixed(-0.0005001, 3, English), QString("-0.001"));
  QCOMPARE(quenvis::FormatFixed(21.5332, 2, English), QString("21.53"));
  QCOMPARE(quenvis::FormatFixed(7, 0, English), QString("7"));
  QCOMPARE(quenvis::FormatGrouped(1234567, English), QString("1,234,567"));
  QCOMPARE(quenvis::FormatGrouped(-123456, English), QString("-123,456"));
  QCOMPARE(quenvis::FormatGrouped(999, English), QString("999"));
}

void UIQuenvisTest::layout_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("parent");
  QTest::addColumn<QRect>("geometry");
  QTest::addColumn<QString>("hint");
  const struct {
    const char* Name;
    const char* Parent;
    QRect Geometry;
    const char* Hint;
  } rows[] = {
      {"tool", "Form1", {0, 320, 230, 441}, ""},
      {"CB_Pilotes", "tool", {8, 8, 209, 21}, ""},
      {"PowerRange", "tool", {8, 32, 89, 22}, "Power Range"},
      {"Remanance", "tool", {8, 144, 89, 22}, "Remanance"},
      {"FreqPlage", "tool", {8, 168, 89, 22}, "Freq. Plage"},
      {"Seuil", "tool", {8, 80, 89, 22}, "Noise Threshold (1/100) "},
      {"EC2Z1LF1", "tool", {8, 216, 89, 22}, "Couple 2 z1 f1 "},
      {"EC2Z1LF2", "tool", {104, 216, 89, 22}, "Couple 2 z1 f2 "},
      {"EC2Z2LF1", "tool", {8, 248, 89, 22}, "Couple 2 z2 f1 "},
      {"EC2Z2LF2", "tool", {104, 248, 89, 22}, "Couple 2 z2 f2 "},
      {"Memo1", "tool", {8, 344, 217, 89}, ""},
      {"PowerOffset", "tool", {8, 56, 89, 22}, "Power Offset"},
      {"window", "tool", {9, 112, 208, 21}, "Windowing"},
      {"command", "Form1", {0, 272, 230, 41}, ""},
      {"Bt_start", "command", {8, 8, 49, 25}, ""},
      {"Bt_stop", "command", {64, 8, 41, 25}, ""},
  };
  for (const auto& row : rows)
    QTest::newRow(row.Name) << QString(row.Name) << QString(row.Parent) << row.Geometry
                            << QString(row.Hint);
}

void UIQuenvisTest::layout() {
  QFETCH(QString, name);
  QFETCH(QString, parent);
  QFETCH(QRect, geometry);
  QFETCH(QString, hint);
  quenvis::TFakeWaveInService service({{"Test input"}});
  TForm1 form(&service);
  auto* control = form.findChild<QWidget*>(name);
  QVERIFY(control);
  QCOMPARE(control->parentWidget()->objectName(), parent);
  QCOMPARE(control->geometry(), geometry);
  QCOMPARE(control->toolTip(), hint);
}

void UIQuenvisTest::spinLimits() {
  quenvis::TFakeWaveInService service({{"Test input"}});
  TForm1 form(&service);
  const struct {
    TSpinEdit* Field;
    int Lower, Upper;
    const char* Initial;
  } rows[] = {{form.PowerOffset, -10000, 10000, "0"},
              {form.PowerRange, -10000, 10000, "10"},
              {form.Remanance, 0, 11, "10"},
              {form.FreqPlage, 0, 3, "0"},
              {form.Seuil, 0, 100, "2"},
              {form.EC2Z1LF1, 10, 20000, "110"},
              {form.EC2Z1LF2, 10, 20000, "850"},
              {form.EC2Z2LF1, 10, 20000, "600"},
              {form.EC2Z2LF2, 10, 20000, "2250"}};
  for (const auto& row : rows) {
    QCOMPARE(row.Field->minimum(), row.Lower);
    QCOMPARE(row.Field->maximum(), row.Upper);
    QCOMPARE(row.Field->text(), QString(row.Initial));
  }
  QCOMPARE(form.Bt_start->text(), QString("Start"));
  QCOMPARE(form.Bt_stop->text(), QString("Stop"));
  QVERIFY(!form.Memo1->isReadOnly());
  QCOMPARE(form.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  QCOMPARE(form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  QCOMPARE(form.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  QCOMPARE(form.CB_Pilotes->count(), 1);  // the one fake device
  QVERIFY(!form.CB_Pilotes->isEditable());
  // Labels keep their place and fit their text.
  QCOMPARE(form.LPowerRange->pos(), QPoint(104, 48));
  QCOMPARE(form.LPowerRange->size(), form.LPowerRange->sizeHint());
  QCOMPARE(form.LFreqPlage->pos(), QPoint(104, 176));
  QCOMPARE(form.LFreqPlage->size(), form.LFreqPlage->sizeHint());
}

void UIQuenvisTest::windowPropertiesAndTabOrder() {
  quenvis::TFakeWaveInService service({{"Test input"}});
  TForm1 form(&service);
  QCOMPARE(form.pos(), QPoint(351, 256));
  QCOMPARE(form.minimumSize(), QSize(1024, 768));
  QCOMPARE(form.maximumSize(), QSize(1024, 768));
  QVERIFY((form.windowFlags() & Qt::WindowType_Mask) == Qt::Tool);
  QCOMPARE(form.font().pointSize(), 8);
  QCOMPARE(form.font().styleHint(), QFont::SansSerif);
  QCOMPARE(form.palette().color(QPalette::Window), form.palette().color(QPalette::Button));

  const QList<QWidget*> expected = {
      form.CB_Pilotes,  form.PowerRange, form.Remanance, form.FreqPlage, form.Seuil,
      form.EC2Z1LF1,    form.EC2Z1LF2,   form.EC2Z2LF1,  form.EC2Z2LF2,  form.Memo1,
      form.PowerOffset, form.window,     form.Bt_start,  form.Bt_stop};
  QList<QWidget*> chain;
  QWidget* w = form.CB_Pilotes;
  do {
    if (expected.contains(w)) chain << w;
    w = w->nextInFocusChain();
  } while (w != form.CB_Pilotes);
  QCOMPARE(chain, expected);
}

QTEST_MAIN(UIQuenvisTest)
#include "UIQuenvis_test.moc"
