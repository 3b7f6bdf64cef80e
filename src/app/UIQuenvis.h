#pragma once
// The main window: side panel controls, the analysis settings they produce,
// and the caption.
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "analysis/AnalysisSettings.h"
#include "analysis/UFFT_iterative.h"

class QComboBox;
class QFrame;
class QLabel;
class QLocale;
class QPlainTextEdit;
class QPushButton;

namespace quenvis {

class TSpinEdit;

// Number texts of the window. Digits are always ASCII and the minus sign the
// hyphen-minus; only the separators come from Locale.
// Decimals digits after the locale's decimal separator, no grouping ("0.000").
QString FormatFixed(double Value, int Decimals, const QLocale& Locale);
// Whole number with the locale's thousands separator ("0,000.").
QString FormatGrouped(double Value, const QLocale& Locale);

class TForm1 : public QWidget, public TAnalysisSettings {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* Parent = nullptr);
  ~TForm1() override;

  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Controls, owned by their parent widgets; names as in the layout.
  QFrame* tool;
  QComboBox* CB_Pilotes;
  QFrame* command;
  QPushButton* Bt_start;
  QPushButton* Bt_stop;
  TSpinEdit* PowerRange;
  QLabel* LPowerRange;
  TSpinEdit* Remanance;
  TSpinEdit* FreqPlage;
  QLabel* LFreqPlage;
  TSpinEdit* Seuil;
  TSpinEdit* EC2Z1LF1;
  TSpinEdit* EC2Z1LF2;
  TSpinEdit* EC2Z2LF1;
  TSpinEdit* EC2Z2LF2;
  QPlainTextEdit* Memo1;
  TSpinEdit* PowerOffset;
  QComboBox* window;

  // The analysis settings live in the TAnalysisSettings base.

  QString FRateText;
  std::unique_ptr<CFFT_iterative> FFT;
  std::int32_t FFrameCount = 0;

  // Start-up sequence; run once by the constructor.
  void FormCreate(QObject* Sender);
  void UpdateCaption();

 public slots:
  // Each handler writes only its own field (and label). A control value
  // outside its limits, as typed before the field loses the focus, leaves the
  // field as it was.
  void PowerOffsetChange(QObject* Sender);
  void PowerRangeChange(QObject* Sender);
  void CB_RemananceChange(QObject* Sender);
  void FreqPlageChange(QObject* Sender);
  void SeuilChange(QObject* Sender);
  void EC2Z1LF1Change(QObject* Sender);
  void EC2Z1LF2Change(QObject* Sender);
  void EC2Z2LF1Change(QObject* Sender);
  void EC2Z2LF2Change(QObject* Sender);
  void windowChange(QObject* Sender);

 private:
  void BuildLayout();
  void UpdatePowerRangeLabel();
};

}  // namespace quenvis
