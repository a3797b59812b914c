#include "manager/tooltip.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

#include "manager/dialogkit.h"

namespace vtx::manager {

namespace {

// Breaks one paragraph (no LF) into lines no wider than `limit` where a space allows it.
void WrapParagraph(const QString& paragraph, int limit, const TextMeasure& measure, QStringList& lines) {
  QString rest = paragraph;
  while (measure(rest) > limit) {
    // The last space whose text before it fits; else the first space (the word stays whole).
    int cut = -1;
    for (int i = rest.indexOf(' '); i >= 0; i = rest.indexOf(' ', i + 1)) {
      if (measure(rest.left(i)) > limit) {
        if (cut < 0) cut = i;
        break;
      }
      cut = i;
    }
    if (cut < 0) break;  // one word, wider than the limit
    lines << rest.left(cut);
    rest = rest.mid(cut + 1);
  }
  lines << rest;
}

}  // namespace

TooltipLayout LayoutTooltip(const QString& text, const TooltipStyle& style, const TextMeasure& measure,
                            int lineHeight) {
  QString t = text.isEmpty() ? QStringLiteral(" ") : text;
  t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  TooltipLayout layout;
  for (const QString& paragraph : t.split('\n')) WrapParagraph(paragraph, style.maxWidth, measure, layout.lines);
  int widest = 0;
  for (const QString& line : layout.lines) widest = std::max(widest, measure(line));
  int n = static_cast<int>(layout.lines.size());
  layout.lineHeight = lineHeight;
  layout.textHeight = n * lineHeight + (n - 1) * style.lineGap;
  layout.width = widest + 2 * style.marginLeft;
  layout.height = layout.textHeight + 2 * style.marginTop + style.marginExtra1 + style.marginExtra2;
  return layout;
}

TooltipPlacement PlaceTooltip(QSize size, QPoint point, unsigned flags, const QRect& screen, QPoint ownerOrigin) {
  if (flags & kPointInOwner) point += ownerOrigin;
  int x = point.x(), y = point.y();
  switch (flags & 3) {
    case kAnchorCentre: x -= size.width() / 2; break;
    case kAnchorRight: x -= size.width(); break;
  }
  switch (flags & 0xC) {
    case kAnchorMiddle: y -= size.height() / 2; break;
    case kAnchorBottom: y -= size.height(); break;
  }
  TooltipPlacement placed;
  int x0 = x, y0 = y;
  if (flags & kInsideScreenWidth) {
    if (x + size.width() > screen.x() + screen.width()) x = screen.x() + screen.width() - size.width();
    if (x < screen.x()) x = screen.x();
  }
  if (flags & kInsideScreenHeight) {
    if (y + size.height() > screen.y() + screen.height()) y = screen.y() + screen.height() - size.height();
    if (y < screen.y()) y = screen.y();
  }
  placed.rect = QRect(QPoint(x, y), size);
  if (!(flags & kComputeOnly)) placed.result |= kPlacedShown;
  if (x == x0) placed.result |= kPlacedKeptX;
  if (y == y0) placed.result |= kPlacedKeptY;
  return placed;
}

TooltipPlacement PlaceForControl(QSize size, const QRect& control, const QRect& screen, unsigned flags) {
  QPoint anchor = (flags & 3) == kAnchorCentre ? QPoint(control.x() + control.width() / 2, control.y() + control.height())
                                                : QPoint(control.x(), control.y() + 10);
  flags &= ~kPointInOwner;
  TooltipPlacement first = PlaceTooltip(size, anchor, flags | kComputeOnly, screen);
  if (!(first.result & kPlacedKeptY)) {
    flags = (flags & ~0xCu) | kAnchorBottom;
    anchor.setY(control.y() - 1);
  }
  return PlaceTooltip(size, anchor, flags & ~kComputeOnly, screen);
}

std::pair<QColor, QColor> TooltipColours(const QPalette& palette) {
  if (palette.color(QPalette::Base) == QColor(Qt::white))
    return {palette.color(QPalette::ToolTipBase), palette.color(QPalette::ToolTipText)};
  return {palette.color(QPalette::Base), palette.color(QPalette::Text)};
}

// The pop-up itself: painted by us; hides on a completed click, on the release of a key that was
// pressed on it, and when it loses the focus.
class TooltipPopup : public QWidget {
 public:
  TooltipPopup(QWidget* owner, std::function<void()> hidden)
      : QWidget(owner, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint), hidden_(std::move(hidden)) {
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    setFocusPolicy(Qt::StrongFocus);
  }
  void SetContent(const TooltipLayout& layout, const TooltipStyle& style, QColor background, QColor text) {
    layout_ = layout;
    style_ = style;
    background_ = background;
    textColour_ = text;
    pressedKey_ = -1;
    buttons_ = Qt::NoButton;
    update();
  }
  void Forget() { hidden_ = nullptr; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QRect r = rect();
    p.fillRect(r, background_);
    p.setPen(Qt::black);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.setPen(QColor(0xC0, 0xC0, 0xC0));
    p.drawRect(r.adjusted(1, 1, -2, -2));
    p.setPen(textColour_);
    QFontMetrics fm(font());
    int y = style_.marginTop;
    for (const QString& line : layout_.lines) {
      p.drawText(style_.marginLeft, y + fm.ascent(), line);
      y += layout_.lineHeight + style_.lineGap;
    }
  }
  void keyPressEvent(QKeyEvent* e) override {
    if (!e->isAutoRepeat() && pressedKey_ < 0) pressedKey_ = e->key();
  }
  void keyReleaseEvent(QKeyEvent* e) override {
    if (!e->isAutoRepeat() && e->key() == pressedKey_) Close();
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (rect().contains(e->position().toPoint())) buttons_ |= e->button();
    else Close();  // a click elsewhere
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (buttons_ & e->button()) Close();
  }
  void focusOutEvent(QFocusEvent*) override {
    if (isVisible() && !isActiveWindow()) Close();
  }
  bool event(QEvent* e) override {
    if (e->type() == QEvent::WindowDeactivate && isVisible()) Close();
    return QWidget::event(e);
  }
  void hideEvent(QHideEvent*) override {
    // Closed by Qt as well (a click outside a pop-up).
    if (auto h = std::exchange(hidden_, nullptr)) h();
  }

 private:
  void Close() {
    if (auto h = std::exchange(hidden_, nullptr)) h();
  }

  TooltipLayout layout_;
  TooltipStyle style_;
  QColor background_, textColour_;
  int pressedKey_ = -1;
  Qt::MouseButtons buttons_ = Qt::NoButton;
  std::function<void()> hidden_;
};

CTooltipWindow::CTooltipWindow() = default;

CTooltipWindow::~CTooltipWindow() { Hide(); }

bool CTooltipWindow::ShowForControl(UINT helpId, int controlId, QWidget* dialog, HMODULE module) {
  QString text = CatalogueText(module, helpId);
  if (text.isEmpty()) return false;
  QWidget* control = dialog ? FindControl(dialog, controlId) : nullptr;
  return control && ShowText(text, control);
}

bool CTooltipWindow::ShowText(const char* text, int controlId, QWidget* dialog) {
  QWidget* control = dialog ? FindControl(dialog, controlId) : nullptr;
  return control && ShowText(FromAnsi(text), control);
}

bool CTooltipWindow::ShowText(const QString& text, QWidget* control) {
  if (!control) return false;
  QWidget* owner = control->window();
  if (window_ && window_->parentWidget() != owner) Hide();
  text_ = text;
  if (!window_) window_ = new TooltipPopup(owner, [this] { Hide(); });
  window_->setFont(QApplication::font());
  QFontMetrics fm(window_->font());
  TooltipStyle style;
  TooltipLayout layout = LayoutTooltip(
      text, style, [&fm](const QString& line) { return fm.horizontalAdvance(line); }, fm.height());
  auto [background, foreground] = TooltipColours(owner->palette());
  window_->SetContent(layout, style, background, foreground);

  QRect controlRect(control->mapToGlobal(QPoint(0, 0)), control->size());
  QScreen* screen = QGuiApplication::screenAt(controlRect.center());
  if (!screen) screen = owner->screen();
  QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 16, 1 << 16);
  TooltipPlacement placed = PlaceForControl(QSize(layout.width, layout.height), controlRect, available);
  window_->setGeometry(placed.rect);
  window_->show();
  window_->raise();
  window_->activateWindow();
  window_->setFocus(Qt::PopupFocusReason);
  return true;
}

void CTooltipWindow::Hide() {
  if (!window_) return;
  TooltipPopup* w = window_;
  window_ = nullptr;
  text_.clear();
  w->Forget();
  w->hide();
  w->deleteLater();
}

QWidget* CTooltipWindow::Window() const { return window_; }

}  // namespace vtx::manager
