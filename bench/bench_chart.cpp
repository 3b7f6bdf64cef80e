// The vowel chart's cost per block: taking one estimate and repainting the
// window (the cached background, a full two-second trail and the readout),
// at 800 x 600 and at 1600 x 1200 (a scaled or large screen); and the voice
// pane's, taking one block's measures and repainting its numbers and strips.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

#include "PairedRatio.h"
#include "analysis/Common.h"
#include "chart/VoicePanel.h"
#include "chart/VowelChart.h"

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
