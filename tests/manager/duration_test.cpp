// Durations: reading and showing them, stepping the part under the caret, and the spin boxes that
// report the user's steps.
#include <QApplication>
#include <QLineEdit>
#include <QtTest>

#include "manager/duration.h"
#include "tests/manager/input.h"

using vtxtest::ArrowPoint;

using namespace vtx::manager;

namespace {

constexpr qint64 kMalformed = -1;

// A window with the field and another control to move the focus to.
struct FieldWindow {
  FieldWindow() {
    other->move(0, 60);
    window.show();
  }
  QWidget window;
  CDurationSpinBox* box = new CDurationSpinBox(&window);
  QLineEdit* other = new QLineEdit(&window);
};

}  // namespace

class DurationTest : public QObject {
  Q_OBJECT

 private slots:
  void Parse_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("seconds");
    QTest::newRow("hours:minutes") << "1:30" << qint64(5400);
    QTest::newRow("hours alone") << "90" << qint64(324000);
    QTest::newRow("all three") << "1:2:3" << qint64(3723);
    QTest::newRow("hours and a colon") << "1:" << qint64(3600);
    QTest::newRow("minutes over 59") << "1:75" << qint64(8100);
    QTest::newRow("seconds over 59") << "0:0:4294967295" << qint64(4294967295);
    QTest::newRow("the largest") << "1193046:28:15" << qint64(4294967295);
    QTest::newRow("zero") << "00:00:00" << qint64(0);
    QTest::newRow("minutes and a colon") << "1:2:" << kMalformed;
    QTest::newRow("a letter after") << "1x" << kMalformed;
    QTest::newRow("empty") << "" << kMalformed;
    QTest::newRow("leading blank") << " 1" << kMalformed;
    QTest::newRow("trailing blank") << "1 " << kMalformed;
    QTest::newRow("plus") << "+1" << kMalformed;
    QTest::newRow("minus") << "-1" << kMalformed;
    QTest::newRow("no hours") << ":30" << kMalformed;
    QTest::newRow("empty minutes") << "1::3" << kMalformed;
    QTest::newRow("four parts") << "1:2:3:" << kMalformed;
    QTest::newRow("hours past 32 bits") << "4294967296" << kMalformed;
    QTest::newRow("one second too many") << "1193046:28:16" << kMalformed;
    QTest::newRow("an hour too many") << "1193047:00:00" << kMalformed;
    QTest::newRow("past 64 bits") << "99999999999999999999999" << kMalformed;
    QTest::newRow("other digits") << "\xd9\xa1" << kMalformed;
  }
  void Parse() {
    QFETCH(QString, text);
    QFETCH(qint64, seconds);
    std::optional<uint32_t> got = ParseDuration(text.toStdString());
    QCOMPARE(got ? qint64(*got) : kMalformed, seconds);
  }

  void Format_data() {
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "00:00:00";
    QTest::newRow("an hour and a half") << qint64(5400) << "01:30:00";
    QTest::newRow("two digits at most") << qint64(99 * 3600 + 59 * 60 + 59) << "99:59:59";
    QTest::newRow("100 hours") << qint64(100 * 3600) << "100:00:00";
    QTest::newRow("the largest") << qint64(4294967295) << "1193046:28:15";
  }
  void Format() {
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(FormatDuration(static_cast<uint32_t>(seconds))), text);
    QCOMPARE(qint64(*ParseDuration(text.toStdString())), seconds);
  }

  void Step_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("caret");
    QTest::addColumn<int>("steps");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::newRow("minutes down stop at 0") << "00:00:30" << 4 << -1 << "00:00:00" << 3 << 2;
    QTest::newRow("seconds up") << "00:00:30" << 8 << 1 << "00:00:31" << 6 << 2;
    QTest::newRow("seconds down to 0") << "00:00:01" << 7 << -3 << "00:00:00" << 6 << 2;
    QTest::newRow("hours up") << "00:00:30" << 0 << 1 << "01:00:30" << 0 << 2;
    QTest::newRow("into three hour digits") << "99:10:00" << 1 << 1 << "100:10:00" << 0 << 3;
    QTest::newRow("a page of minutes") << "00:00:00" << 3 << 10 << "00:10:00" << 3 << 2;
    QTest::newRow("typed hours:minutes, caret at the start") << "1:30" << 0 << 1 << "01:31:00" << 3 << 2;
    QTest::newRow("minutes carry into hours") << "00:59:00" << 4 << 1 << "01:00:00" << 3 << 2;
    QTest::newRow("empty is 0") << "" << 0 << 1 << "00:00:01" << 6 << 2;
    QTest::newRow("the top saturates") << "1193046:28:15" << 0 << 1 << "1193046:28:15" << 0 << 7;
    QTest::newRow("the top saturates by seconds") << "1193046:28:10" << 12 << 99 << "1193046:28:15" << 11 << 2;
    QTest::newRow("caret beyond the text") << "00:00:05" << 40 << 1 << "00:00:06" << 6 << 2;
  }
  void Step() {
    QFETCH(QString, text);
    QFETCH(int, caret);
    QFETCH(int, steps);
    QFETCH(QString, result);
    QFETCH(int, start);
    QFETCH(int, length);
    std::optional<DurationStep> step = StepDuration(text.toStdString(), caret, steps);
    QVERIFY(step);
    QCOMPARE(QString::fromStdString(step->text), result);
    QCOMPARE(step->selectionStart, start);
    QCOMPARE(step->selectionLength, length);
  }
  void StepMalformed() { QVERIFY(!StepDuration("1x", 0, 1)); }

  // The arrows and keys step the part under the caret, select it again and report the step; the
  // mouse on an arrow too. Code filling the field does not.
  void SpinBoxSteps() {
    FieldWindow w;
    CDurationSpinBox* box = w.box;
    QLineEdit* other = w.other;
    int edits = 0;
    box->SetOnStep([&] { ++edits; });
    box->SetSeconds(30);
    QCOMPARE(box->Text(), std::string("00:00:30"));
    QCOMPARE(edits, 0);
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));

    box->setFocus();
    box->Edit()->setCursorPosition(4);
    QTest::keyClick(box, Qt::Key_Up);
    QCOMPARE(box->Text(), std::string("00:01:30"));
    QCOMPARE(box->Edit()->selectedText(), QString("01"));
    QTest::keyClick(box, Qt::Key_Up);  // the selection keeps the part
    QCOMPARE(box->Text(), std::string("00:02:30"));
    QTest::keyClick(box, Qt::Key_Down);
    QTest::keyClick(box, Qt::Key_Down);
    QTest::keyClick(box, Qt::Key_Down);  // a minute less than 00:00:30 is 0
    QCOMPARE(box->Text(), std::string("00:00:00"));
    QCOMPARE(edits, 5);

    // The mouse on the up arrow of a field without the focus.
    other->setFocus();
    box->Edit()->setCursorPosition(0);
    QTest::mouseClick(box, Qt::LeftButton, {}, ArrowPoint(box, true));
    QCOMPARE(box->Text(), std::string("01:00:00"));
    QCOMPARE(edits, 6);
    QTest::mouseClick(box, Qt::LeftButton, {}, ArrowPoint(box, false));
    QCOMPARE(box->Text(), std::string("00:00:00"));

    // A malformed text is not stepped.
    box->Edit()->selectAll();
    QTest::keyClicks(box->Edit(), "1x");
    QTest::keyClick(box, Qt::Key_Up);
    QCOMPARE(box->Text(), std::string("1x"));
    QCOMPARE(edits, 7);
  }

  // Reading a field: empty is 0, malformed brings back the value kept so far, a good text is
  // shown formatted; the focus leaving the field is reported.
  void SpinBoxRead() {
    CDurationSpinBox box;
    struct Case {
      const char* typed;
      uint32_t stored;
      uint32_t read;
      const char* shown;
    } cases[] = {
        {"", 7200, 0, "00:00:00"},
        {"1x", 7200, 7200, "02:00:00"},
        {"1:75", 7200, 8100, "02:15:00"},
        {"90", 0, 324000, "90:00:00"},
        {"1193047:00:00", 60, 60, "00:01:00"},
    };
    for (const Case& c : cases) {
      box.SetText(c.typed);
      QCOMPARE(box.Read(c.stored), c.read);
      QCOMPARE(box.Text(), std::string(c.shown));
    }
    QCOMPARE(box.Edit()->maxLength(), 100);
  }

  void SpinBoxFocusOut() {
    FieldWindow w;
    int left = 0;
    w.box->SetOnFocusOut([&] { ++left; });
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QApplication::setActiveWindow(&w.window);
    w.box->setFocus();
    QTRY_VERIFY(w.box->hasFocus());
    w.other->setFocus();
    QTRY_COMPARE(left, 1);
  }

  void NumberSpinBox() {
    CNumberSpinBox box(1, 10);
    int edits = 0;
    box.SetOnStep([&] { ++edits; });
    box.setValue(10);
    QCOMPARE(edits, 0);
    box.stepBy(1);  // at the top: nothing changes
    QCOMPARE(edits, 0);
    box.stepBy(-1);
    QCOMPARE(box.value(), 9);
    QCOMPARE(edits, 1);
    box.Edit()->selectAll();
    QTest::keyClicks(box.Edit(), "3");
    QCOMPARE(box.value(), 3);
    QCOMPARE(edits, 1);
  }
};

QTEST_MAIN(DurationTest)
#include "duration_test.moc"
