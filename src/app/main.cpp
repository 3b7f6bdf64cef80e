// Quenvis: live spectrum and two-formant tracker.
#include <QApplication>

#include "app/UIQuenvis.h"

int main(int argc, char** argv) {
  QApplication Application(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quenvis"));
  QApplication::setApplicationName(QStringLiteral("Quenvis"));
  QApplication::setDesktopFileName(QStringLiteral("quenvis"));
  // The main window is a tool window, which Qt does not count as the last
  // window; its destruction is what ends the program.
  QApplication::setQuitOnLastWindowClosed(false);

  auto* Form1 = new quenvis::TForm1();
  Form1->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(Form1, &QObject::destroyed, &Application, &QCoreApplication::quit);
  Form1->show();
  if (QApplication::arguments().contains(QStringLiteral("--chart"))) Form1->ShowChart();
  return QApplication::exec();
}
