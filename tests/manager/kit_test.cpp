// The kit of dialogs and pages on the offscreen platform: the help pop-up's layout and placement,
// context help (F1, the help menu from the mouse and the keyboard, hiding), and the link text.
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <QtTest>

#include "manager/dialogkit.h"
#include "manager/richtext.h"
#include "manager/tooltip.h"
#include "tests/manager/fakes.h"
#include "tests/manager/fixture.h"
#include "tests/manager/input.h"

using namespace vtx::manager;
using vtxtest::MouseAt;

namespace {

// 7 pixels a character, lines 13 pixels high.
int Measure(const QString& s) { return 7 * static_cast<int>(s.size()); }

// A form with a text field (help 51), a button (help 302), a disabled button (help 303), a label
// without help and some empty room.
struct HelpForm {
  explicit HelpForm(HMODULE module) : kit(&dialog, module) {
    auto* layout = new QVBoxLayout(&dialog);
    edit = kit.Add(10, new QLineEdit(&dialog));
    button = kit.Add(11, new QPushButton("Button", &dialog));
    disabled = kit.Add(12, new QPushButton("Disabled", &dialog));
    disabled->setEnabled(false);
    label = kit.Add(13, new QLabel("Label", &dialog));
    for (QWidget* w : {static_cast<QWidget*>(edit), static_cast<QWidget*>(button), static_cast<QWidget*>(disabled),
                       static_cast<QWidget*>(label)})
      layout->addWidget(w);
    layout->addSpacing(80);
    kit.SetHelpMap({{10, 51}, {11, 302}, {12, 303}}, {13});
    dialog.setGeometry(100, 100, 300, 260);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  }
  ~HelpForm() { kit.Tooltip().Hide(); }
  QDialog dialog;
  CFormKit kit;
  QLineEdit* edit;
  QPushButton* button;
  QPushButton* disabled;
  QLabel* label;
};

void ContextMenuAt(QWidget* receiver, QPoint pos, QContextMenuEvent::Reason reason = QContextMenuEvent::Mouse) {
  QContextMenuEvent e(reason, pos, receiver->mapToGlobal(pos));
  QApplication::sendEvent(receiver, &e);
}

}  // namespace

class KitTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    c_ = std::make_unique<vtxtest::CatalogueEnvironment>();
    lib_ = c_->lib;
    QVERIFY(lib_);
  }
  void cleanupTestCase() { c_.reset(); }

  void TooltipLayoutTable() {
    QString a20(20, 'a'), b20(20, 'b'), c20(20, 'c'), x50(50, 'x'), a42(42, 'a');
    const struct {
      QString text;
      QStringList lines;
      int width, height;
    } cases[] = {
        {"", {" "}, 7 + 36, 13 + 16},
        {"Help", {"Help"}, 28 + 36, 13 + 16},
        {a20 + " " + b20 + " " + c20, {a20 + " " + b20, c20}, 287 + 36, 2 * 13 + 3 + 16},
        {a42 + " b", {a42, "b"}, 294 + 36, 2 * 13 + 3 + 16},     // 294 fits, 308 does not
        {x50 + " y", {x50, "y"}, 350 + 36, 2 * 13 + 3 + 16},     // a word wider than 300 stays whole
        {"one\r\ntwo\n\nthree", {"one", "two", "", "three"}, 35 + 36, 4 * 13 + 3 * 3 + 16},
    };
    for (const auto& c : cases) {
      TooltipLayout l = LayoutTooltip(c.text, TooltipStyle{}, Measure, 13);
      QCOMPARE(l.lines, c.lines);
      QCOMPARE(l.width, c.width);
      QCOMPARE(l.height, c.height);
    }
  }

  void TooltipPlacementTable() {
    QRect screen(0, 0, 1000, 700);
    QSize size(200, 50);
    const struct {
      const char* what;
      QRect control;
      QRect placed;
    } cases[] = {
        {"centred below", {100, 100, 80, 20}, {40, 120, 200, 50}},
        {"above at the screen's bottom", {100, 670, 80, 20}, {40, 619, 200, 50}},
        {"left edge", {0, 100, 20, 20}, {0, 120, 200, 50}},
        {"right edge", {950, 100, 40, 20}, {800, 120, 200, 50}},
        {"above and right", {960, 680, 40, 20}, {800, 629, 200, 50}},
    };
    for (const auto& c : cases) QCOMPARE(PlaceForControl(size, c.control, screen).rect, c.placed);

    // The result bits: shown, kept horizontally, kept vertically.
    TooltipPlacement p = PlaceTooltip(size, {500, 300}, kHelpPlacement, screen);
    QCOMPARE(p.result, kPlacedKeptX | kPlacedKeptY);  // compute-only: not shown
    p = PlaceTooltip(size, {500, 300}, kHelpPlacement & ~kComputeOnly, screen);
    QCOMPARE(p.result, kPlacedShown | kPlacedKeptX | kPlacedKeptY);
    p = PlaceTooltip(size, {990, 690}, kInsideScreenWidth | kInsideScreenHeight, screen);
    QCOMPARE(p.rect, QRect(800, 650, 200, 50));
    QCOMPARE(p.result, kPlacedShown);
    p = PlaceTooltip(size, {990, 690}, 0, screen);
    QCOMPARE(p.rect.topLeft(), QPoint(990, 690));  // "no clamps asked for"
    p = PlaceTooltip(size, {10, 20}, kAnchorRight | kAnchorBottom | kPointInOwner, screen, {300, 200});
    QCOMPARE(p.rect.topLeft(), QPoint(110, 170));
  }

  void TooltipColoursFollowThePalette() {
    QPalette white;
    white.setColor(QPalette::Base, Qt::white);
    white.setColor(QPalette::ToolTipBase, QColor(255, 255, 220));
    white.setColor(QPalette::ToolTipText, Qt::darkBlue);
    QCOMPARE(TooltipColours(white), std::make_pair(QColor(255, 255, 220), QColor(Qt::darkBlue)));
    QPalette dark;
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(220, 220, 220));
    QCOMPARE(TooltipColours(dark), std::make_pair(QColor(30, 30, 30), QColor(220, 220, 220)));
  }

  void F1ShowsTheMappedStringAndKeysHideIt() {
    HelpForm f(lib_);
    f.edit->setFocus();
    QTest::keyClick(f.edit, Qt::Key_F1);
    QWidget* pop = f.kit.Tooltip().Window();
    QVERIFY(pop && pop->isVisible());
    QCOMPARE(f.kit.Tooltip().Text(), CatalogueText(lib_, 51));
    QVERIFY(pop->geometry().top() >= f.edit->mapToGlobal(QPoint(0, f.edit->height())).y());
    // F1 was pressed before the pop-up opened: its release does not hide it.
    QTest::keyRelease(pop, Qt::Key_F1);
    QVERIFY(f.kit.Tooltip().Window());
    QTest::keyPress(pop, Qt::Key_A);
    QVERIFY(f.kit.Tooltip().Window());
    QTest::keyRelease(pop, Qt::Key_A);
    QVERIFY(!f.kit.Tooltip().Window());

    // A click hides it on release.
    f.kit.ShowHelp(11);
    pop = f.kit.Tooltip().Window();
    QVERIFY(pop);
    MouseAt(pop, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton);
    QVERIFY(f.kit.Tooltip().Window());
    MouseAt(pop, QEvent::MouseButtonRelease, {5, 5}, Qt::LeftButton);
    QVERIFY(!f.kit.Tooltip().Window());

    // F1 on a control without help shows nothing.
    QTest::keyClick(f.label, Qt::Key_F1);
    QVERIFY(!f.kit.Tooltip().Window());
  }

  void HelpMenuFromTheMouseAndTheKeyboard() {
    HelpForm f(lib_);
    // Empty room of the dialog: no menu.
    ContextMenuAt(&f.dialog, {150, 240});
    QVERIFY(!f.kit.HelpMenu());
    // Over a disabled control (which gets no events itself): its menu.
    ContextMenuAt(&f.dialog, f.disabled->geometry().center());
    QMenu* menu = f.kit.HelpMenu();
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().at(0)->text(), CatalogueText(lib_, kStrHelpMenuItem));
    menu->actions().at(0)->trigger();
    menu->close();
    QCOMPARE(f.kit.Tooltip().Text(), CatalogueText(lib_, 303));
    f.kit.Tooltip().Hide();
    // A control without help: no menu.
    ContextMenuAt(&f.dialog, f.label->geometry().center());
    QVERIFY(!f.kit.HelpMenu());

    // Shift+F10 and the Menu key open it at the control's lower-left corner.
    f.button->setFocus();
    QTest::keyClick(f.button, Qt::Key_F10, Qt::ShiftModifier);
    menu = f.kit.HelpMenu();
    QVERIFY(menu);
    QCOMPARE(menu->pos(), f.button->mapToGlobal(QPoint(0, f.button->height())));
    menu->close();
    ContextMenuAt(f.button, {3, 3}, QContextMenuEvent::Keyboard);
    QVERIFY(f.kit.HelpMenu());
    QCOMPARE(f.kit.HelpMenu()->pos(), f.button->mapToGlobal(QPoint(0, f.button->height())));
    f.kit.HelpMenu()->close();

    // A text field keeps its own menu; F1 still helps there.
    ContextMenuAt(f.edit, {5, 5});
    QVERIFY(!f.kit.HelpMenu());
    auto* own = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QVERIFY(own);
    own->close();
  }

  void ControlsAreFoundWithinTheirOwnForm() {
    QWidget outer;
    CFormKit outerKit(&outer, lib_);
    auto* a = outerKit.Add(5, new QLabel(&outer));
    auto* page = new QWidget(&outer);
    CFormKit pageKit(page, lib_);
    auto* b = pageKit.Add(5, new QLabel(page));
    auto* c = pageKit.Add(6, new QLabel(page));
    QCOMPARE(FindControl(&outer, 5), a);
    QCOMPARE(FindControl(page, 5), b);
    QCOMPARE(FindControl(&outer, 6), nullptr);
    QCOMPARE(TaggedControl(c, page), c);
    QCOMPARE(TaggedControl(page, &outer), nullptr);
  }

  void LinkParserTable() {
    const struct {
      QString text;
      QString display;
      std::vector<std::tuple<int, int, QString>> links;
    } cases[] = {
        {"a ||b", "a |b", {}},
        {"see |here|http://x/| now", "see here now", {{4, 7, "http://x/"}}},
        {"|home|http://x/", "home", {{0, 3, "http://x/"}}},         // the address is never closed
        {"go |there", "go there", {{3, 7, ""}}},                   // the shown part is never closed
        {"a\r\n|b|u|\rc", "a\nb\nc", {{2, 2, "u"}}},
        {"|a|1| and |b|2|", "a and b", {{0, 0, "1"}, {6, 6, "2"}}},
        {"|x|http://h/?a=||b|", "x", {{0, 0, "http://h/?a=|b"}}},
        {"", "", {}},
    };
    for (const auto& c : cases) {
      QString display;
      std::vector<LinkRecord> links;
      ParseLinkText(c.text, display, links);
      QCOMPARE(display, c.display);
      QCOMPARE(links.size(), c.links.size());
      for (size_t i = 0; i < links.size(); ++i) {
        QCOMPARE(links[i].index, static_cast<int>(i));
        QCOMPARE(links[i].first, std::get<0>(c.links[i]));
        QCOMPARE(links[i].last, std::get<1>(c.links[i]));
        QCOMPARE(links[i].address, std::get<2>(c.links[i]));
      }
    }
  }

  void SetLinkTakesBarsLiterally() {
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* placeholder = new QLabel("placeholder", &dialog);
    SetVtxId(placeholder, datasourcedialog::kHomePageLink);
    layout->addWidget(placeholder);
    CRichLinkText link;
    QCOMPARE(link.SetLink(&dialog, datasourcedialog::kHomePageLink, "a|b", "http://x/?q=|", 109, lib_), S_OK);
    // Made in place: the view has the item's id and layout slot; the placeholder is hidden.
    QVERIFY(link.Control());
    QCOMPARE(FindControl(&dialog, datasourcedialog::kHomePageLink), link.Control());
    QCOMPARE(layout->indexOf(link.Control()), 0);
    QVERIFY(placeholder->isHidden());
    QCOMPARE(link.DisplayText(), QString("a|b"));
    QCOMPARE(link.Links().size(), size_t{1});
    QCOMPARE(link.Links()[0].last, 2);
    QCOMPARE(link.Links()[0].address, QString("http://x/?q=|"));

    QCOMPARE(link.SetLink(&dialog, datasourcedialog::kHomePageLink, nullptr, nullptr, 109, lib_), S_OK);
    QCOMPARE(link.DisplayText(), QString("a|b"));  // "both null changes nothing"
    QCOMPARE(link.SetLink(&dialog, datasourcedialog::kHomePageLink, "a", nullptr, 109, lib_), E_INVALIDARG);
    QCOMPARE(link.SetLink(&dialog, datasourcedialog::kHomePageLink, "", "http://x/", 109, lib_), S_OK);
    QVERIFY(link.DisplayText().isEmpty());
    QVERIFY(link.Control()->toPlainText().isEmpty());
    QCOMPARE(link.SetText(&dialog, datasourcedialog::kHomePageLink, UINT{65000}, 109, lib_), E_INVALIDARG);
    QCOMPARE(link.SetText(&dialog, 999, "x", 109, lib_), E_INVALIDARG);
    QCOMPARE(link.SetText(nullptr, datasourcedialog::kHomePageLink, "x", 109, lib_), E_INVALIDARG);

    CRichText plain;
    QCOMPARE(plain.Attach(&dialog, datasourcedialog::kHomePageLink, UINT{kStrHomePageLink}, lib_), S_OK);
    QCOMPARE(plain.Control()->toPlainText(), CatalogueText(lib_, kStrHomePageLink));
    QCOMPARE(plain.SetText(UINT{65000}, lib_), E_INVALIDARG);
  }

  void LinkHoverAndClick() {
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new CRichTextView(&dialog);
    SetVtxId(view, 7);
    layout->addWidget(view);
    dialog.resize(400, 120);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    CRichLinkText link;
    QCOMPARE(link.SetText(&dialog, 7, "Open |the page|https://example.com/| now", 109, lib_), S_OK);
    QCOMPARE(link.Control(), view);  // "a text view already is one"
    QWidget* port = view->viewport();
    auto underlined = [&](int pos) {
      QTextCursor c(view->document());
      c.setPosition(pos + 1);
      return c.charFormat().fontUnderline();
    };
    QPoint onLink = view->CharacterRect(7).center(), onPlain = view->CharacterRect(1).center();
    QCOMPARE(view->CharacterAt(onLink), 7);

    MouseAt(port, QEvent::MouseMove, onLink);
    QCOMPARE(link.HotLink(), 0);
    QVERIFY(underlined(7));
    QCOMPARE(port->cursor().shape(), Qt::PointingHandCursor);
    MouseAt(port, QEvent::MouseMove, onPlain);
    QCOMPARE(link.HotLink(), -1);
    QVERIFY(!underlined(7));
    QCOMPARE(port->cursor().shape(), Qt::ArrowCursor);
    MouseAt(port, QEvent::MouseMove, onLink);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(port, &leave);
    QCOMPARE(link.HotLink(), -1);
    QVERIFY(!underlined(7));

    // A click hands the address to the handler; a negative answer is not opened.
    std::vector<std::string> handled;
    HRESULT answer = S_OK;
    link.SetClickHandler(
        [&](const char* a, DWORD context) {
          handled.push_back(std::string(a) + " " + std::to_string(context));
          return answer;
        },
        42);
    MouseAt(port, QEvent::MouseMove, onLink);
    MouseAt(port, QEvent::MouseButtonPress, onLink, Qt::LeftButton);
    MouseAt(port, QEvent::MouseButtonRelease, onLink, Qt::LeftButton);
    QCOMPARE(handled, std::vector<std::string>{"https://example.com/ 42"});
    answer = E_FAIL;
    QCOMPARE(link.OnClick(), 0);
    answer = S_FALSE;
    QCOMPARE(link.OnClick(), 1);
    link.SetClickHandler(nullptr, 0);

    // Without a handler only the allowed schemes reach the desktop.
    vtxtest::RecordingLauncher launcher;
    const struct {
      const char* address;
      int opened;
    } clicks[] = {{"https://example.com/", 1}, {"javascript:alert(1)", 0}, {"/bin/sh", 0}, {"mailto:a@example.com", 1}};
    for (const auto& c : clicks) {
      std::string text = std::string("|x|") + c.address + "|";
      QCOMPARE(link.SetText(&dialog, 7, text.c_str(), 109, lib_), S_OK);
      link.SetLauncher(&launcher);
      QCOMPARE(link.OnMouseMove(view->CharacterRect(0).center()), 1);
      QCOMPARE(link.OnClick(), c.opened);
    }
    QCOMPARE(launcher.calls.size(), size_t{2});
    QCOMPARE(launcher.calls[1].target, std::string("mailto:a@example.com"));
    // No hand cursor asked for: hot, but 0.
    QCOMPARE(link.SetText(&dialog, 7, "|x|https://example.com/|", -1, lib_), S_OK);
    QCOMPARE(link.OnMouseMove(view->CharacterRect(0).center()), 0);
    QCOMPARE(link.HotLink(), 0);
  }

 private:
  std::unique_ptr<vtxtest::CatalogueEnvironment> c_;
  HMODULE lib_ = nullptr;
};

QTEST_MAIN(KitTest)
#include "kit_test.moc"
