// Waiting in the manager's tests while Qt's loop runs: for a condition, and for a process to end.
#pragma once
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <functional>

namespace vtxtest {

// Polls `condition` every 20 ms, the loop running meanwhile; false when `ms` pass first.
inline bool WaitFor(const std::function<bool()>& condition, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!condition()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(20);
  }
  return true;
}

// The exit status; -1000 when the process has not ended within `ms` (it is then killed), -2000
// when it was killed by a signal.
inline int Ended(QProcess& p, int ms = 15000) {
  if (!p.waitForFinished(ms)) {
    p.kill();
    p.waitForFinished(5000);
    return -1000;
  }
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2000;
}

}  // namespace vtxtest
