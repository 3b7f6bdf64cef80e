#include "chart/ChartHelp.h"

#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace quenvis {

const std::vector<TChartKey>& ChartKeys() {
  static const std::vector<TChartKey> keys = {
      {QStringLiteral("R"), QStringLiteral("Record a take, or end it")},
      {QStringLiteral("M"),
       QStringLiteral("Add a marker at the live time (recording) or the playhead (playing), "
                      "then type its name: Enter keeps it, Escape leaves it unnamed")},
      {QStringLiteral("Shift+M"),
       QStringLiteral("Name the timeline's selection: Enter keeps it, Escape drops it")},
      {QStringLiteral("Space"),
       QStringLiteral("Pause or resume the chart; while a recording plays, pause the playing")},
      {QStringLiteral("Left"), QStringLiteral("Back 5 seconds (playing)")},
      {QStringLiteral("Right"), QStringLiteral("On 5 seconds (playing)")},
      {QStringLiteral("L"),
       QStringLiteral("Loop the selection, or the whole take; again stops looping")},
      {QStringLiteral("C"), QStringLiteral("Clear the trail")},
      {QStringLiteral("Ctrl+O"), QStringLiteral("Play a recording")},
      {QStringLiteral("Ctrl+T"), QStringLiteral("The takes list: open, rename, note, trash")},
      {QStringLiteral("Ctrl+S"),
       QStringLiteral("Save the chart as shown (PNG or SVG), with the take's name and time")},
      {QStringLiteral("Del"), QStringLiteral("Remove the target under the pointer")},
      {QStringLiteral("Ctrl+W"), QStringLiteral("Close the chart window")},
      {QStringLiteral("F1"), QStringLiteral("This list")},
      {QStringLiteral("Click or drag on the timeline"), QStringLiteral("Go there"), true},
      {QStringLiteral("Shift+drag on the timeline"), QStringLiteral("Select a stretch"), true},
      {QStringLiteral("Right-click a marker on the timeline"),
       QStringLiteral("Rename or remove the marker or named selection"), true},
      {QStringLiteral("Click on the spectrogram"),
       QStringLiteral("Tell the time there; go there while a recording plays"), true},
      {QStringLiteral("Ctrl+click on the chart"), QStringLiteral("Add a target vowel there"), true},
      {QStringLiteral("Right-click a target"), QStringLiteral("Remove it"), true},
      {QStringLiteral("A file dropped on the window"),
       QStringLiteral("Play it (a formants table: compare with it)"), true},
  };
  return keys;
}

TChartHelp::TChartHelp(QWidget* Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("ChartHelp"));
  setWindowTitle(QStringLiteral("Vowel chart: keys"));
  const std::vector<TChartKey>& keys = ChartKeys();
  auto* table = new QTableWidget(static_cast<int>(keys.size()), 2, this);
  table->setHorizontalHeaderLabels({QStringLiteral("Key"), QStringLiteral("What it does")});
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setWordWrap(true);
  table->horizontalHeader()->setStretchLastSection(true);
  for (int row = 0; row < static_cast<int>(keys.size()); ++row) {
    const TChartKey& k = keys[static_cast<std::size_t>(row)];
    const QString shown =
        k.Mouse
            ? k.Keys
            : QKeySequence(k.Keys, QKeySequence::PortableText).toString(QKeySequence::NativeText);
    table->setItem(row, 0, new QTableWidgetItem(shown));
    table->setItem(row, 1, new QTableWidgetItem(k.What));
  }
  table->resizeColumnToContents(0);
  table->resizeRowsToContents();
  auto* column = new QVBoxLayout(this);
  column->addWidget(table);
  column->addWidget(new QLabel(
      QStringLiteral("Hover over a control for its hint. In the main window, Ctrl+K opens "
                     "this chart and Ctrl+Q ends the program."),
      this));
  resize(620, 480);
}

}  // namespace quenvis
