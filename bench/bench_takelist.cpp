// The takes list on a folder of thousands: how long listing the folder
// takes, how long until the list shows, and reading every take's length
// from its header (done after the list shows, a few dozen per turn).
//   quenvis_bench_takelist [--takes=N]   (default 5000 takes of 0.1 s)
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <vector>

#include "takes/TakeFolder.h"
#include "takes/TakesList.h"

using namespace quenvis;

namespace {

void MakeFolder(const QString& Folder, int Count) {
  const std::vector<short> frames(2 * 4410, 0);
  for (int i = 0; i < Count; ++i) {
    const QString stem = QStringLiteral("quenvis-2026-01-%1_%2-%3-00")
                             .arg(1 + i / 1440, 2, 10, QLatin1Char('0'))
                             .arg(i / 60 % 24, 2, 10, QLatin1Char('0'))
                             .arg(i % 60, 2, 10, QLatin1Char('0'));
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;  // as Record writes by default
    SNDFILE* f =
        sf_open(QFile::encodeName(Folder + u'/' + stem + QStringLiteral(".flac")).constData(),
                SFM_WRITE, &info);
    if (!f) continue;
    sf_writef_short(f, frames.data(), 4410);
    sf_close(f);
    QFile csv(Folder + u'/' + stem + QStringLiteral(".formants.csv"));
    if (csv.open(QIODevice::WriteOnly)) csv.write("block\n");
  }
}

void ListFolder(benchmark::State& State, const QString& Folder) {
  const CTakeFolder folder(Folder);
  std::vector<TTakeEntry> takes;
  for (auto _ : State) {
    folder.List(takes);
    benchmark::DoNotOptimize(takes.data());
  }
  State.counters["takes"] = double(takes.size());
}
void ListShows(benchmark::State& State, const QString& Folder) {
  TTakesList list;
  list.SetFolder(Folder);
  for (auto _ : State) list.Refresh();
  State.counters["takes"] = list.Count();
}
void EveryLength(benchmark::State& State, const QString& Folder) {
  std::vector<TTakeEntry> takes;
  CTakeFolder(Folder).List(takes);
  for (auto _ : State) {
    QString problem;
    double total = 0;
    for (const TTakeEntry& t : takes) total += CTakeFolder::Length(t.SoundPath, problem);
    benchmark::DoNotOptimize(total);
  }
  State.counters["takes"] = double(takes.size());
}
}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int takes = 5000;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--takes=", 8) == 0) takes = std::atoi(argv[i] + 8);
  QApplication app(argc, argv);
  const QTemporaryDir dir;
  const QString folder = dir.path();
  MakeFolder(folder, takes);
  for (const auto& [name, run] : {std::pair{"ListFolder", &ListFolder},
                                  {"ListShows", &ListShows},
                                  {"EveryLength", &EveryLength}})
    benchmark::RegisterBenchmark(name, run, folder)->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
