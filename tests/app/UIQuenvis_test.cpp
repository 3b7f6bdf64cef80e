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
  auto* Found = Form.findChild<TSpinEdit*>(Name);
  if (!Found) qFatal("no spin field %s", qPrintable(Name));
  return Found;
}

// The field each spin field's handler writes, read as a double.
double FieldOf(const TForm1& Form, const QString& Control) {
  static const std::map<QString, std::function<double(const TForm1&)>> Fields = {
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
  return Fields.at(Control)(Form);
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
  quenvis::TFakeWaveInService Service({{"Test input"}});
  TForm1 Form(&Service);
  QCOMPARE(Form.Settings.FOffset, 0.0);
  QCOMPARE(Form.Settings.FScale, 25.5);
  QCOMPARE(Form.Settings.FFade, 0.95f);
  QCOMPARE(Form.Settings.FShift, -1);
  QCOMPARE(Form.Settings.FThreshold, 0.51);
  QCOMPARE(Form.Settings.FZone1Lo, 10);
  QCOMPARE(Form.Settings.FZone1Hi, 79);
  QCOMPARE(Form.Settings.FZone2Lo, 56);
  QCOMPARE(Form.Settings.FZone2Hi, 209);
  QCOMPARE(Form.Settings.FZone1Peak, 0);
  QCOMPARE(Form.Settings.FZone2Peak, 0);
  QCOMPARE(Form.LPowerRange->text(), QString("0.000 to 10.000 dB"));
  QCOMPARE(Form.LFreqPlage->text(), QString("0 to 5,000 Hz"));
  QCOMPARE(Form.windowTitle(), QString("Quenvis par ZR ? img/s"));
  QCOMPARE(Form.window->currentText(), QString("hamming"));
  QVERIFY(Form.FFT);
  QCOMPARE(Form.FFT->Window, &quenvis::TabHamming);
  QCOMPARE(Form.Rate.FFrameCount, 0);
}

void UIQuenvisTest::startUpOrder() {
  quenvis::TFakeWaveInService Service({{"Test input"}});
  TForm1 Form(&Service);
  // The first handler of the start-up sees the provisional scale log10(255).
  Form.Settings.FScale = std::log10(255.0);
  Form.PowerOffsetChange(&Form);
  QCOMPARE(Form.LPowerRange->text(), QString("0.000 to 105.961 dB"));
  Form.PowerRangeChange(&Form);
  QCOMPARE(Form.LPowerRange->text(), QString("0.000 to 10.000 dB"));
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
  } Rows[] = {
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
  for (const auto& Row : Rows)
    QTest::addRow("%s=\"%s\"", Row.Control, Row.Text)
        << QString(Row.Control) << QString(Row.Text) << Row.Field << QString(Row.Label);
  for (int i = 0; i < int(quenvis::FadeTab.size()); ++i)
    QTest::addRow("Remanance=%d", i) << QString("Remanance") << QString::number(i)
                                     << double(float(quenvis::FadeTab[i])) << QString();
  const struct {
    int Hz;
    int Bin;
  } Bins[] = {{10, 1}, {110, 10}, {600, 56}, {850, 79}, {2250, 209}, {20000, 1858}};
  for (const char* Zone : {"EC2Z1LF1", "EC2Z1LF2", "EC2Z2LF1", "EC2Z2LF2"})
    for (const auto& B : Bins)
      QTest::addRow("%s=%d", Zone, B.Hz)
          << QString(Zone) << QString::number(B.Hz) << double(B.Bin) << QString();
}

void UIQuenvisTest::handlerValues() {
  QFETCH(QString, control);
  QFETCH(QString, text);
  QFETCH(double, field);
  QFETCH(QString, label);
  quenvis::TFakeWaveInService Service({{"Test input"}});
  TForm1 Form(&Service);
  std::map<QString, double> Before;
  for (const QString& C : Controls) Before[C] = FieldOf(Form, C);
  const QString Labels[] = {Form.LPowerRange->text(), Form.LFreqPlage->text()};
  Spin(Form, control)->setText(text);
  QCOMPARE(FieldOf(Form, control), field);
  // Every other field and label is left alone.
  for (const QString& C : Controls)
    if (C != control) QVERIFY2(FieldOf(Form, C) == Before[C], qPrintable(C));
  const bool Power = control.startsWith("Power");
  QCOMPARE(Form.LPowerRange->text(), Power ? label : Labels[0]);
  QCOMPARE(Form.LFreqPlage->text(), control == "FreqPlage" ? label : Labels[1]);
}

void UIQuenvisTest::thresholdKeepsScaleOfItsTime() {
  quenvis::TFakeWaveInService Service({{"Test input"}});
  TForm1 Form(&Service);
  Form.Seuil->setValue(50);
  QCOMPARE(Form.Settings.FThreshold, 12.75);
  Form.PowerRange->setValue(1);
  QCOMPARE(Form.Settings.FScale, 255.0);
  QCOMPARE(Form.Settings.FThreshold, 12.75);
  Form.Seuil->setValue(2);
  QCOMPARE(Form.Settings.FThreshold, 5.1);
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
  QTest::newRow("Remanance above") << "Remanance" << 10 << "12" << double(0.1f) << "11"
                                   << double(0.99f) << "";
  QTest::newRow("FreqPlage above") << "FreqPlage" << 2 << "9" << 1.0 << "3" << 2.0
                                   << "0 to 40,000 Hz";
  QTest::newRow("FreqPlage below") << "FreqPlage" << 2 << "-1" << -1.0 << "0" << -1.0
                                   << "0 to 5,000 Hz";
  QTest::newRow("Seuil above") << "Seuil" << 2 << "500" << 12.75 << "100" << 25.5 << "";
  QTest::newRow("zone above") << "EC2Z2LF2" << 2250 << "99999" << 929.0 << "20000" << 1858.0
                              << "";
  QTest::newRow("zone far above") << "EC2Z1LF1" << 110 << "5000000" << 464.0 << "20000"
                                  << 1858.0 << "";
  QTest::newRow("PowerRange below") << "PowerRange" << 10 << "-90000000" << 9001.0 * 255
                                    << "-10000" << 2550255.0 << "0.000 to 0.000 dB";
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
  quenvis::TFakeWaveInService Service({{"Test input"}});
  TForm1 Form(&Service);
  Form.show();
  QVERIFY(QTest::qWaitForWindowActive(&Form));
  TSpinEdit* Field = Spin(Form, control);
  Field->setValue(start);
  Field->setFocus();
  Field->selectAll();
  QTest::keyClicks(Field, typed);
  QCOMPARE(Field->text(), typed);
  QCOMPARE(FieldOf(Form, control), whileTyping);
  if (control == "FreqPlage")  // the range still in force
    QCOMPARE(Form.LFreqPlage->text(), whileTyping == 1.0 ? QString("0 to 20,000 Hz")
                                                         : QString("0 to 5,000 Hz"));
  Form.Memo1->setFocus();
  QCOMPARE(Field->text(), textAfterLeaving);
  QCOMPARE(FieldOf(Form, control), afterLeaving);
  QVERIFY(Form.Settings.FScale > 0 && std::isfinite(Form.Settings.FScale));
  if (control.startsWith("Power")) QCOMPARE(Form.LPowerRange->text(), label);
  if (control == "FreqPlage") QCOMPARE(Form.LFreqPlage->text(), label);
}

void UIQuenvisTest::windowList() {
  quenvis::TFakeWaveInService Service({{"Test input"}});
  TForm1 Form(&Service);
  QStringList Items;
  for (int i = 0; i < Form.window->count(); ++i) Items << Form.window->itemText(i);
  QCOMPARE(Items, (QStringList{"hamming", "hanning", "Blackman", "Blackman_Harris",
                               "Blackman_Nuttall"}));
  QVERIFY(!Form.window->isEditable());
  // A selection made by the program does not reach the handler.
  Form.window->setCurrentIndex(3);
  QCOMPARE(Form.FFT->Window, &quenvis::TabHamming);
  Form.window->setCurrentIndex(0);
  const quenvis::TWindowTab* Tables[] = {&quenvis::TabHamming, &quenvis::TabHanning,
                                         &quenvis::TabBlackman, &quenvis::TabBlackmanHarris,
                                         &quenvis::TabBlackmanNuttall};
  for (int i = 1; i < 5; ++i) {
    QTest::keyClick(Form.window, Qt::Key_Down);  // the user's choice
    QCOMPARE(Form.window->currentIndex(), i);
    QCOMPARE(Form.FFT->Window, Tables[i]);
  }
  QTest::keyClick(Form.window, Qt::Key_Home);
  QCOMPARE(Form.FFT->Window, &quenvis::TabHamming);
  Form.FFT->Window = &quenvis::TabBlackman;
  Form.window->setCurrentIndex(-1);
  Form.windowChange(&Form);
  QCOMPARE(Form.FFT->Window, &quenvis::TabHamming);
}

void UIQuenvisTest::labelsFollowLocale_data() {
  QTest::addColumn<QLocale>("locale");
  QTest::addColumn<QString>("power");
  QTest::addColumn<QString>("freq");
  QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany)
                          << "-3,000 to 7,000 dB" << "0 to 5.000 Hz";
  // Swedish groups with a no-break space and has a U+2212 minus of its own.
  QTest::newRow("Swedish") << QLocale(QLocale::Swedish, QLocale::Sweden)
                           << "-3,000 to 7,000 dB" << QString("0 to 5\u00A0000 Hz");
}

void UIQuenvisTest::labelsFollowLocale() {
  QFETCH(QLocale, locale);
  QFETCH(QString, power);
  QFETCH(QString, freq);
  QLocale::setDefault(locale);
  quenvis::TFakeWaveInService Service({{"Test input"}});
  TForm1 Form(&Service);
  Form.PowerOffset->setValue(-3);
  QCOMPARE(Form.LPowerRange->text(), power);
  QCOMPARE(Form.LFreqPlage->text(), freq);
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
  } Rows[] = {
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
  for (const auto& Row : Rows)
    QTest::newRow(Row.Name) << QString(Row.Name) << QString(Row.Parent) << Row.Geometry
                            << QString(Row.Hint);
}

void UIQuenvisTest::layout() {
  QFETCH(QString, name);
  QFETCH(QString, parent);
  QFETCH(QRect, geometry);
  QFETCH(QString, hint);
  quenvis::TFakeWaveInService Service({{"Test input"}});
  TForm1 Form(&Service);
  auto* Control = Form.findChild<QWidget*>(name);
  QVERIFY(Control);
  QCOMPARE(Control->parentWidget()->objectName(), parent);
  QCOMPARE(Control->geometry(), geometry);
  QCOMPARE(Control->toolTip(), hint);
}

void UIQuenvisTest::spinLimits() {
  quenvis::TFakeWaveInService Service({{"Test input"}});
  TForm1 Form(&Service);
  const struct {
    TSpinEdit* Field;
    int Lower, Upper;
    const char* Initial;
  } Rows[] = {{Form.PowerOffset, -10000, 10000, "0"}, {Form.PowerRange, -10000, 10000, "10"},
              {Form.Remanance, 0, 11, "10"},          {Form.FreqPlage, 0, 3, "0"},
              {Form.Seuil, 0, 100, "2"},              {Form.EC2Z1LF1, 10, 20000, "110"},
              {Form.EC2Z1LF2, 10, 20000, "850"},      {Form.EC2Z2LF1, 10, 20000, "600"},
              {Form.EC2Z2LF2, 10, 20000, "2250"}};
  for (const auto& Row : Rows) {
    QCOMPARE(Row.Field->minimum(), Row.Lower);
    QCOMPARE(Row.Field->maximum(), Row.Upper);
    QCOMPARE(Row.Field->text(), QString(Row.Initial));
  }
  QCOMPARE(Form.Bt_start->text(), QString("Start"));
  QCOMPARE(Form.Bt_stop->text(), QString("Stop"));
  QVERIFY(!Form.Memo1->isReadOnly());
  QCOMPARE(Form.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  QCOMPARE(Form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  QCOMPARE(Form.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  QCOMPARE(Form.CB_Pilotes->count(), 1);  // the one fake device
  QVERIFY(!Form.CB_Pilotes->isEditable());
  // Labels keep their place and fit their text.
  QCOMPARE(Form.LPowerRange->pos(), QPoint(104, 48));
  QCOMPARE(Form.LPowerRange->size(), Form.LPowerRange->sizeHint());
  QCOMPARE(Form.LFreqPlage->pos(), QPoint(104, 176));
  QCOMPARE(Form.LFreqPlage->size(), Form.LFreqPlage->sizeHint());
}

void UIQuenvisTest::windowPropertiesAndTabOrder() {
  quenvis::TFakeWaveInService Service({{"Test input"}});
  TForm1 Form(&Service);
  QCOMPARE(Form.pos(), QPoint(351, 256));
  QCOMPARE(Form.minimumSize(), QSize(1024, 768));
  QCOMPARE(Form.maximumSize(), QSize(1024, 768));
  QVERIFY((Form.windowFlags() & Qt::WindowType_Mask) == Qt::Tool);
  QCOMPARE(Form.font().pointSize(), 8);
  QCOMPARE(Form.font().styleHint(), QFont::SansSerif);
  QCOMPARE(Form.palette().color(QPalette::Window), Form.palette().color(QPalette::Button));

  const QList<QWidget*> Expected = {
      Form.CB_Pilotes, Form.PowerRange, Form.Remanance, Form.FreqPlage,   Form.Seuil,
      Form.EC2Z1LF1,   Form.EC2Z1LF2,   Form.EC2Z2LF1,  Form.EC2Z2LF2,    Form.Memo1,
      Form.PowerOffset, Form.window,    Form.Bt_start,  Form.Bt_stop};
  QList<QWidget*> Chain;
  QWidget* W = Form.CB_Pilotes;
  do {
    if (Expected.contains(W)) Chain << W;
    W = W->nextInFocusChain();
  } while (W != Form.CB_Pilotes);
  QCOMPARE(Chain, Expected);
}

QTEST_MAIN(UIQuenvisTest)
#include "UIQuenvis_test.moc"
