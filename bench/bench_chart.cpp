// The vowel chart's cost per block: taking one estimate and repainting the
// window (the cached background, a full two-second trail and the readout),
// at 800 x 600 and at 1600 x 1200 (a scaled or large screen); and the voice
// pane's, taking one block's measures and repainting its numbers and strips;
// and the chart's with a take of 30 000 rows compared and five targets the
// voice passes through (their rings filling and emptying), and loading
// that take.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdio>

#include "PairedRatio.h"
#include "analysis/Common.h"
#include "chart/ChartTools.h"
#include "chart/VoicePanel.h"
#include "chart/VowelChart.h"
#include "chart/VowelPlane.h"

namespace {

using namespace quenvis;

void BM_ChartBlock(benchmark::State& State) {
  const int w = static_cast<int>(State.range(0)), h = static_cast<int>(State.range(1));
  TVowelChart chart;
  chart.resize(w, h + TVowelChart::ToolbarHeight);
  QImage target(chart.size(), QImage::Format_ARGB32_Premultiplied);
  int k = 0;
  for (auto _ : State) {
    // A voice gliding across the plane, so every block moves the dot.
    const double t = (k++ % 200) / 200.0;
    chart.AddEstimate({true, 110 + 40 * t, 300 + 400 * t, 2200 - 1100 * t});
    QPainter painter(&target);
    chart.render(&painter);
    painter.end();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ChartBlock)->Args({800, 600})->Args({1600, 1200})->Unit(benchmark::kMillisecond);

// Five minutes of 10 ms rows over five vowels.
QString ComparisonTake() {
  const QString path = QDir::temp().filePath(
      QStringLiteral("quenvis-bench-%1.formants.csv").arg(QCoreApplication::applicationPid()));
  if (QFile::exists(path)) return path;
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return path;
  f.write("block,time_s,f0_hz,f1_hz,f2_hz,f3_hz,b1_hz,b2_hz,b3_hz,voiced,confidence\n");
  const double vowels[5][2] = {{310, 2790}, {850, 1220}, {370, 950}, {610, 2330}, {760, 1400}};
  for (int r = 0; r < 30000; ++r) {
    const double* v = vowels[(r / 300) % 5];
    f.write(QStringLiteral("%1,%2,220,%3,%4,,,,,1,0.8\n")
                .arg(r)
                .arg(r * 0.01)
                .arg(v[0] * (1 + 0.04 * std::sin(r * 1.3)))
                .arg(v[1] * (1 + 0.04 * std::cos(r * 0.7)))
                .toUtf8());
  }
  return path;
}

void BM_ChartBlockCompared(benchmark::State& State) {
  const int w = static_cast<int>(State.range(0)), h = static_cast<int>(State.range(1));
  TVowelChart chart;
  chart.resize(w, h + TVowelChart::ToolbarHeight);
  chart.SetVoice(EVoice::Woman);
  if (!chart.Tools().CompareWith(ComparisonTake()).isEmpty()) State.SkipWithError("no take");
  chart.Tools().TargetsFromComparison();
  QImage target(chart.size(), QImage::Format_ARGB32_Premultiplied);
  int k = 0;
  for (auto _ : State) {
    // 16 blocks (0.74 s) on each vowel in turn: every ring fills and
    // empties.
    static constexpr double Vowels[5][2] = {{310, 2790}, {850, 1220}, {370, 950}, {610, 2330},
                                            {760, 1400}};
    const double* at = Vowels[(k / 16) % 5];
    chart.AddEstimate({true, 220, at[0] * (1 + 0.01 * (k % 3)), at[1]});
    ++k;
    QPainter painter(&target);
    chart.render(&painter);
    painter.end();
    benchmark::ClobberMemory();
  }
  chart.Tools().ClearTargets();
}
BENCHMARK(BM_ChartBlockCompared)->Args({800, 600})->Unit(benchmark::kMillisecond);

void BM_LoadComparison(benchmark::State& State) {
  TVowelChart chart;
  chart.resize(800, 600 + TVowelChart::ToolbarHeight);
  const QString take = ComparisonTake();
  for (auto _ : State) {
    if (!chart.Tools().CompareWith(take).isEmpty()) State.SkipWithError("no take");
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LoadComparison)->Unit(benchmark::kMillisecond);

void BM_VoicePanelBlock(benchmark::State& State) {
  TVoicePanel panel;
  panel.resize(800, 240);
  QImage target(panel.size(), QImage::Format_ARGB32_Premultiplied);
  int k = 0;
  for (auto _ : State) {
    // Every measure known and moving, the strips full.
    const double t = (k++ % 200) / 200.0;
    TVoice v;
    v.Voiced = true;
    v.Cpps = 14 + 3 * t, v.Hnr = 20 + 5 * t, v.H1H2Corrected = 4 - t, v.JitterPct = 0.4 + 0.2 * t;
    v.ShimmerPct = 3 + t, v.VibratoHz = 5.5 + 0.3 * t, v.VibratoCents = 60;
    v.SingingPowerRatio = -25 + 2 * t, v.AlphaRatio = -10 + t;
    panel.Add(v, 220 + 5 * t);
    QPainter painter(&target);
    panel.render(&painter);
    painter.end();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_VoicePanelBlock)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  quenvis::bench::CPairedReporter reporter;
  if (!quenvis::bench::RunInterleaved(argc, argv, "10", reporter)) return 1;
  std::printf("\nchart per block (median): 800 x 600 %.3f ms, 1600 x 1200 %.3f ms (goal 1)\n",
              reporter.Median("BM_ChartBlock/800/600"), reporter.Median("BM_ChartBlock/1600/1200"));
  std::printf("chart per block with a take compared and five targets (median): 800 x 600 %.3f ms "
              "(goal 1); loading the take of 30 000 rows %.1f ms\n",
              reporter.Median("BM_ChartBlockCompared/800/600"),
              reporter.Median("BM_LoadComparison"));
  QFile::remove(ComparisonTake());
  const double panel = reporter.Median("BM_VoicePanelBlock");
  // The pane repaints every second block.
  std::printf(
      "voice pane per repaint (median): %.3f ms, %.2f %% of a core at %.1f repaints a "
      "second (goal, with the measures' own cost: 0.5 %%)\n",
      panel, panel / 10 * double(SampleRate) / BlockFrames / 2,
      double(SampleRate) / BlockFrames / 2);
  benchmark::Shutdown();
  return 0;
}
