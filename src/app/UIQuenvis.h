#pragma once
// The main window: side panel controls, the analysis settings they produce,
// and the caption.
#include <QElapsedTimer>
#include <QRegion>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "analysis/AnalysisSettings.h"
#include "analysis/UFFT_iterative.h"
#include "display/DXCommon.h"
#include "display/FrameRenderer.h"

class QComboBox;
class QFrame;
class QLabel;
class QLocale;
class QPlainTextEdit;
class QPushButton;
class QImage;

namespace quenvis {

class TSpinEdit;
class TWaveRecorder;
class CWaveInService;
class TVowelChart;
class CFormantTracker;
class TPlayback;

// Number texts of the window. Digits are always ASCII and the minus sign the
// hyphen-minus; only the separators come from Locale.
// Decimals digits after the locale's decimal separator, no grouping ("0.000").
QString FormatFixed(double Value, int Decimals, const QLocale& Locale);
// Whole number with the locale's thousands separator ("0,000.").
QString FormatGrouped(double Value, const QLocale& Locale);

// The four surfaces and where they are copied into the client area.
inline constexpr int SpectrumLeft = 0, SpectrumTop = 0;
inline constexpr int PlotTop = 257;
inline constexpr int PlotLeft[3] = {241, 498, 755};

// The main window. The frame renderer works directly on its settings and rate
// records.
class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // Service: the capture service the recorder uses; the real one when null.
  // It must outlive the window.
  explicit TForm1(CWaveInService* Service = nullptr, QWidget* Parent = nullptr);
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
  // Opens the vowel chart (beside the layout's own controls).
  QPushButton* Bt_chart;

  // Written only by the handlers below (and the tracker's peaks by the renderer).
  TAnalysisSettings Settings;
  // The block rate measurement: FRateText, FRateNow, FRateLast, FFrameCount.
  TFrameRate Rate;

  std::unique_ptr<TSurfaces> Surfaces;
  std::unique_ptr<CFFT_iterative> FFT;
  TWaveRecorder* Recorder = nullptr;  // a child widget, released by FormDestroy
  // The vowel chart window and its estimator, made when the chart is first
  // opened; released by FormDestroy.
  TVowelChart* Chart = nullptr;
  std::unique_ptr<CFormantTracker> Formants;
  // Plays recordings in the place of capture; made before the recorder,
  // released after it.
  std::unique_ptr<TPlayback> Playback;

  // Start-up sequence; run once by the constructor.
  void FormCreate(QObject* Sender);
  // Release sequence; run once by the destructor.
  void FormDestroy(QObject* Sender);
  // Copies the four surfaces into the client area, now.
  void FormPaint(QObject* Sender);
  void UpdateCaption();

  // The recorder's events.
  void RecorderData(void* Data, std::int32_t Bytes, std::int32_t Frames, std::int32_t& Done);
  void RecorderOpen(QObject* Sender);
  void RecorderClose(QObject* Sender);
  void RecorderDevicesChange(QObject* Sender);

  // Local time of day as a fraction of a day.
  static double TimeOfDay();

  // How long after capture ended by itself it resumes when its device is back.
  static constexpr int ResumeWithinMs = 60000;

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
  void Bt_startClick(QObject* Sender);
  void Bt_stopClick(QObject* Sender);
  // Shows the vowel chart, making it on first use.
  void ShowChart();
  // Plays a recording as if it were captured; returns an empty string or why not.
  QString OpenRecording(const QString& Path);

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;

 private:
  class THost;
  void BuildLayout();
  void UpdatePowerRangeLabel();
  void FillDeviceList();
  // Appends a line to Memo1, which keeps its newest line in view.
  void AddLine(const QString& Line);
  void ShowNewestLine();
  // Start's work; true when capture has started.
  bool StartCapture();
  // Start's button; false when capture cannot start (the reason is shown).
  bool PressStart();
  // The chart's Record: capture started when stopped, the analysis afresh.
  QString PrepareTake();
  // Why Start failed, in a few words.
  const char* StartFailure() const;
  void RunQueuedStart();
  void ResumeIfBack();

  // Lines of Memo1 under "Liste des pilotes : " that list the devices.
  int FDeviceLines = 0;
  // The device the user chose, by number: kept while it is away, so that it is
  // chosen again when it returns. FShownDevice is the one the list showed after
  // its last refill; any other selection found at the next refill is the user's.
  int32_t FChosenDevice = -1;
  int32_t FShownDevice = -1;
  // A Start that came while Stop was closing the device, run once it has closed.
  bool FStartQueued = false;
  // The device whose capture the server or its removal ended, -1 for none;
  // capture resumes on it when it is back within ResumeWithinMs.
  int32_t FResumeDevice = -1;
  QElapsedTimer FResumeSince;

  CWaveInService* FService;
  std::unique_ptr<THost> FHost;
  std::unique_ptr<CFrameRenderer> FRenderer;
  // Views over the surfaces' own pixels, made once; painting copies from them.
  std::unique_ptr<QImage[]> FViews;
  QRegion FImageRegion;
  // Where the four surfaces are shown: the spectrum, then the plots.
  static constexpr QPoint FPlaces[] = {{SpectrumLeft, SpectrumTop},
                                       {PlotLeft[0], PlotTop},
                                       {PlotLeft[1], PlotTop},
                                       {PlotLeft[2], PlotTop}};
};

}  // namespace quenvis
