// Managers as processes: one per user, the requests a second start sends, the quit path by signal,
// and the program without a display.
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <memory>

#include "manager/instance.h"
#include "platform/pipes.h"
#include "tests/manager/fixture.h"
#include "tests/manager/waiting.h"

using vtxtest::Ended;
using vtxtest::ManagerEnvironment;
using vtxtest::WaitFor;

namespace {

const QString kHost = QString::fromStdString(vtxtest::Program("manager_testhost"));
const QString kManager = QString::fromStdString(vtxtest::Program("vtxmanager"));

// A manager process writing its log to `log` in the test's folder.
std::unique_ptr<QProcess> Start(const ManagerEnvironment& env, const QString& log, const QStringList& args,
                                 const QString& program = kHost) {
  auto p = std::make_unique<QProcess>();
  QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
  e.insert("VTX_MANAGER_LOG", QString::fromStdString(env / log.toStdString()));
  p->setProcessEnvironment(e);
  p->setProcessChannelMode(QProcess::ForwardedChannels);
  p->start(program, args);
  p->waitForStarted(10000);
  return p;
}

QStringList Log(const ManagerEnvironment& env, const QString& name) {
  QString text = QString::fromStdString(vtxtest::ReadFile(env / name.toStdString()));
  return text.split('\n', Qt::SkipEmptyParts);
}

bool Serving() { return vtx::pipes::Exists(vtx::manager::ManagerSocketPath().c_str()); }

}  // namespace

class ProcessTest : public QObject {
  Q_OBJECT

 private slots:
  void twoAtOnceOneServes() {
    ManagerEnvironment env;
    auto a = Start(env, "a.log", {"/s"});
    auto b = Start(env, "b.log", {"/s"});
    // Exactly one of the two finds the other and ends without a request.
    QVERIFY(WaitFor([&] { return a->state() == QProcess::NotRunning || b->state() == QProcess::NotRunning; }));
    QTest::qWait(300);
    QProcess& ended = a->state() == QProcess::NotRunning ? *a : *b;
    QProcess& serving = &ended == a.get() ? *b : *a;
    QCOMPARE(ended.exitCode(), 0);
    QCOMPARE(serving.state(), QProcess::Running);
    QVERIFY(Serving());
    QCOMPARE(Log(env, &serving == a.get() ? "a.log" : "b.log"), QStringList{});
    serving.terminate();
    QCOMPARE(Ended(serving), 0);
  }

  void plainStartBesideSilent() {
    ManagerEnvironment env;
    auto first = Start(env, "first.log", {"/s"});
    QVERIFY(WaitFor(Serving));
    auto second = Start(env, "second.log", {});
    QCOMPARE(Ended(*second), 0);
    QVERIFY(WaitFor([&] { return Log(env, "first.log").size() >= 2; }));
    QCOMPARE(Log(env, "first.log"), (QStringList{"request 0x8000", "session start"}));
    QCOMPARE(Log(env, "second.log"), QStringList{"exit 0"});
    // A second plain start raises the window that is open.
    auto third = Start(env, "third.log", {});
    QCOMPARE(Ended(*third), 0);
    QVERIFY(WaitFor([&] { return Log(env, "first.log").size() >= 4; }));
    QCOMPARE(Log(env, "first.log").mid(2), (QStringList{"request 0x8000", "session raise"}));
    // The quit path ends the open session before the program ends.
    first->terminate();
    QCOMPARE(Ended(*first), 0);
    QCOMPARE(Log(env, "first.log").mid(4), (QStringList{"session end", "exit 0"}));
  }

  void silentBesideRunning() {
    ManagerEnvironment env;
    auto first = Start(env, "first.log", {"/s"});
    QVERIFY(WaitFor(Serving));
    auto second = Start(env, "second.log", {"/s"});
    QCOMPARE(Ended(*second), 0);
    QTest::qWait(200);
    QCOMPARE(Log(env, "first.log"), QStringList{});
    first->terminate();
    QCOMPARE(Ended(*first), 0);
  }

  void quitWithOneRunning() {
    ManagerEnvironment env;
    auto first = Start(env, "first.log", {"/s"});
    QVERIFY(WaitFor(Serving));
    auto closer = Start(env, "closer.log", {"/q"});
    QCOMPARE(Ended(*closer), 0);
    QCOMPARE(Ended(*first), 0);
    QStringList requests = Log(env, "first.log").filter("request");
    QVERIFY(!requests.isEmpty() && requests.size() <= 6);
    QCOMPARE(requests.filter("0x8001").size(), requests.size());
    QVERIFY(!Serving());
  }

  void quitAlone() {
    ManagerEnvironment env;
    QElapsedTimer t;
    t.start();
    auto p = Start(env, "q.log", {"/q"});
    QCOMPARE(Ended(*p), 0);
    QVERIFY(t.elapsed() < 5000);
    QCOMPARE(Log(env, "q.log"), QStringList{"exit 0"});
    QVERIFY(!Serving());
  }

  // "/w" waits for a manager: one that comes late is asked to open its configuration.
  void waitSwitch() {
    ManagerEnvironment env;
    QElapsedTimer t;
    t.start();
    auto waiter = Start(env, "waiter.log", {"/w"});
    QTest::qWait(1500);
    QVERIFY(!Serving());
    auto late = Start(env, "late.log", {"/s"});
    QCOMPARE(Ended(*waiter), 0);
    QVERIFY(WaitFor([&] { return Log(env, "late.log").size() >= 2; }));
    QCOMPARE(Log(env, "late.log"), (QStringList{"request 0x8000", "session start"}));
    late->terminate();
    QCOMPARE(Ended(*late), 0);
    QVERIFY(t.elapsed() < 9000);
  }

  void waitAloneEnds() {
    ManagerEnvironment env;
    QElapsedTimer t;
    t.start();
    auto p = Start(env, "w.log", {"/w"});
    QCOMPARE(Ended(*p, 20000), 0);
    QVERIFY(t.elapsed() >= 9500);
    QCOMPARE(Log(env, "w.log"), QStringList{"exit 0"});
  }

  void realProgram() {
    ManagerEnvironment env;
    auto q = Start(env, "", {"/q"}, kManager);
    QCOMPARE(Ended(*q), 0);
    // Without a display: one line on stderr and status 255.
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) e.remove(v);
    p.setProcessEnvironment(e);
    p.start(kManager, {"/s"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 255);
    QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(err.count('\n'), 1);
    QVERIFY(err.contains("no display"));
    QVERIFY(!Serving());
  }
};

QTEST_MAIN(ProcessTest)
#include "process_test.moc"
