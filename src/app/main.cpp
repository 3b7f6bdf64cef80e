// Quenvis: live spectrum and two-formant tracker.
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/UIQuenvis.h"
#include "chart/ChartTools.h"
#include "chart/VowelChart.h"

namespace {

constexpr const char* Usage =
    "Usage: quenvis [options] [FILE]\n"
    "Shows the live spectrum of the sound from a capture device and follows two\n"
    "spectral peaks, one per frequency zone. The window's side panel holds the\n"
    "settings; quenvis-render runs the same analysis over recordings.\n"
    "With FILE, plays that recording as if it were captured (Start goes back\n"
    "to capture).\n"
    "Options:\n"
    "  --chart        open the vowel chart as well\n"
    "  --compare TAKE open the vowel chart showing the vowels of TAKE (a take's\n"
    "                 recording or its .formants.csv) behind the trail\n"
    "  -h, --help     show this text\n"
    "  --version      show the version\n"
    "Qt's own options work too, for example -platform offscreen or -display :1.\n";

// While the application object starts, Qt's remarks are held back: without
// a display it would print several lines and abort. One line and status 1
// say the same.
void StartupMessage(QtMsgType Type, const QMessageLogContext&, const QString&) {
  if (Type != QtFatalMsg) return;
  std::fputs(
      "quenvis: needs a display, and none could be opened "
      "(is DISPLAY or WAYLAND_DISPLAY set?)\n",
      stderr);
  std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before Qt starts, so that they need no display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
      return std::fputs(Usage, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
    if (std::strcmp(argv[i], "--version") == 0)
      return std::printf("quenvis %s\n", QUENVIS_VERSION) > 0 && std::fflush(stdout) == 0 ? 0 : 1;
  }

  const QtMessageHandler previous = qInstallMessageHandler(StartupMessage);
  QApplication application(argc, argv);
  qInstallMessageHandler(previous);
  QApplication::setOrganizationName(QStringLiteral("Quenvis"));
  QApplication::setApplicationName(QStringLiteral("Quenvis"));
  QApplication::setDesktopFileName(QStringLiteral("io.github.quenvis.Quenvis"));
  // Found once the package has put the icon into the theme; X11 window
  // managers take the window's icon from here, not from the desktop entry.
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("io.github.quenvis.Quenvis")));
  // The main window is a tool window, which Qt does not count as the last
  // window; its destruction is what ends the program.
  QApplication::setQuitOnLastWindowClosed(false);

  auto* form1 = new quenvis::TForm1();
  form1->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(form1, &QObject::destroyed, &application, &QCoreApplication::quit);
  form1->show();
  // Qt has taken its own options out: what is left that is no option is a file.
  const QStringList arguments = QApplication::arguments();
  if (arguments.contains(QStringLiteral("--chart"))) form1->ShowChart();
  const qsizetype compare = arguments.indexOf(QStringLiteral("--compare"));
  if (compare > 0) {
    form1->ShowChart();
    const QString error = compare + 1 < arguments.size()
                              ? form1->Chart->Tools().CompareWith(arguments[compare + 1])
                              : QStringLiteral("--compare needs a take");
    if (!error.isEmpty()) {
      std::fprintf(stderr, "quenvis: %s\n", error.toLocal8Bit().constData());
      delete form1;
      return 1;
    }
  }
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i].startsWith(u'-') || (compare > 0 && i == compare + 1)) continue;
    const QString error = form1->OpenRecording(arguments[i]);
    if (!error.isEmpty()) {
      std::fprintf(stderr, "quenvis: %s\n", error.toLocal8Bit().constData());
      delete form1;
      return 1;
    }
    break;
  }
  return QApplication::exec();
}
