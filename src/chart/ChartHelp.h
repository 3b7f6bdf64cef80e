#pragma once
// F1 in the chart window: every key and mouse gesture it knows, in a small
// window of its own that stays open beside the chart.
#include <QDialog>
#include <QString>
#include <vector>

namespace quenvis {

struct TChartKey {
  QString Keys;  // a key sequence in portable text ("Ctrl+O"), or a gesture
  QString What;
  bool Mouse = false;  // a gesture, not a key
};

// The chart window's keys and gestures, in the order the help lists them.
const std::vector<TChartKey>& ChartKeys();

class TChartHelp : public QDialog {
  Q_OBJECT

 public:
  explicit TChartHelp(QWidget* Parent = nullptr);
};

}  // namespace quenvis
