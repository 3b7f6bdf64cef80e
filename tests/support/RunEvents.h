#pragma once
// Runs the event loop of a test against a real server, which answers in its
// own time.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

namespace quenvis::test {

// Runs the event loop until Done or the time is up; true when Done.
inline bool RunUntil(const std::function<bool()>& Done, int TimeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!Done()) {
    if (t.elapsed() > TimeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

inline void RunFor(int Ms) {
  RunUntil([] { return false; }, Ms);
}

}  // namespace quenvis::test
