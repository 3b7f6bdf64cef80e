// quenvis-render: the live view's analysis and drawing, run over a recording.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QtGlobal>
#include <atomic>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "render/RenderCommand.h"

namespace {

void DropQtMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// The program's own messages go to a copy of stderr. Libraries write
// remarks of their own there (libmpg123's "Note:" lines, libpng through Qt),
// which would make a failure more than one line: stderr itself goes to
// /dev/null. The sanitizer build keeps it, so that no report is hidden.
int SeparateStderr() {
  const int own = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (own < 0) return STDERR_FILENO;
#ifndef QUENVIS_KEEP_LIBRARY_STDERR
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, STDERR_FILENO);
    ::close(null);
  }
#endif
  return own;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything opens a descriptor: a closed standard input would
  // otherwise be whatever the program opens first (an event descriptor of
  // Qt's, which never ends). It is held by /dev/null instead, and "-" refused.
  const int inFlags = ::fcntl(STDIN_FILENO, F_GETFL);
  const bool stdinReadable = inFlags != -1 && (inFlags & O_ACCMODE) != O_WRONLY;
  if (inFlags == -1) {
    const int null = ::open("/dev/null", O_RDONLY);
    if (null > STDIN_FILENO) ::close(null);
  }
  const std::vector<std::string> args(argv + 1, argv + argc);
  qInstallMessageHandler(DropQtMessage);
  const int err = SeparateStderr();

  // SIGINT, SIGTERM and SIGHUP are taken by a thread of their own: the
  // rendering (or the wait for input) stops within a fraction of a second
  // and removes its private folder, then the signal ends the program as it
  // would have. SIGUSR1 only ends that thread.
  sigset_t handled;
  sigemptyset(&handled);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&handled, s);
  pthread_sigmask(SIG_BLOCK, &handled, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<int> caught{0};
  std::thread watcher([&] {
    int s = 0;
    if (sigwait(&handled, &s) != 0 || s == SIGUSR1) return;
    caught = s;
    stop = true;
  });

  // chart.png's text needs a QGuiApplication; the offscreen platform needs
  // no display. Made after the signals are blocked, so that its threads
  // leave them to the watcher.
  char name[] = "quenvis-render", platform[] = "-platform", offscreen[] = "offscreen";
  char* qtArgv[] = {name, platform, offscreen, nullptr};
  int qtArgc = 3;
  const QGuiApplication gui(qtArgc, qtArgv);

  const int status = quenvis::RunRenderCommand(args, err, &stop, stdinReadable);

  pthread_kill(watcher.native_handle(), SIGUSR1);
  watcher.join();
  if (const int s = caught.load()) {
    std::signal(s, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);
    ::raise(s);
  }
  return status;
}
