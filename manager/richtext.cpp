#include "manager/richtext.h"

#include <QAbstractTextDocumentLayout>
#include <QLayout>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include "manager/dialogkit.h"
#include "manager/traymenu.h"
#include "platform/errors.h"
#include "platform/launcher.h"

namespace vtx::manager {

namespace {

// Characters first..last, or the whole text with last < 0.
void FormatRange(CRichTextView* view, int first, int last, const QTextCharFormat& format) {
  QTextCursor c(view->document());
  if (last < 0) {
    c.select(QTextCursor::Document);
  } else {
    c.setPosition(first);
    c.setPosition(last + 1, QTextCursor::KeepAnchor);
  }
  c.mergeCharFormat(format);
}

// The whole text in the window-text colour, not underlined.
void ShowPlain(CRichTextView* view, const QString& text) {
  view->setPlainText(text);
  QTextCharFormat plain;
  plain.setForeground(view->palette().color(QPalette::WindowText));
  plain.setFontUnderline(false);
  FormatRange(view, 0, -1, plain);
}

}  // namespace

void ParseLinkText(const QString& text, QString& display, std::vector<LinkRecord>& links) {
  QString t = text;
  t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  t.replace('\r', '\n');
  display.clear();
  links.clear();
  enum { Plain, Shown, Address } field = Plain;
  LinkRecord link;
  for (qsizetype i = 0; i < t.size(); ++i) {
    QChar c = t[i];
    if (c == '|' && i + 1 < t.size() && t[i + 1] == '|') {
      ++i;  // a literal bar
    } else if (c == '|') {
      switch (field) {
        case Plain:
          link = LinkRecord{static_cast<int>(links.size()), static_cast<int>(display.size()), 0, {}};
          field = Shown;
          break;
        case Shown:
          link.last = static_cast<int>(display.size()) - 1;
          field = Address;
          break;
        case Address:
          links.push_back(link);
          field = Plain;
          break;
      }
      continue;
    }
    if (field == Address) link.address += c;
    else display += c;
  }
  // A link left open ends with the text; without its address it opens nothing.
  if (field == Shown) {
    link.last = static_cast<int>(display.size()) - 1;
    link.address.clear();
  }
  if (field != Plain) links.push_back(link);
}

CRichTextView::CRichTextView(QWidget* parent) : QTextEdit(parent) {
  setReadOnly(true);
  setTextInteractionFlags(Qt::NoTextInteraction);
  setContextMenuPolicy(Qt::NoContextMenu);
  setFocusPolicy(Qt::NoFocus);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette p = palette();
  p.setColor(QPalette::Base, p.color(QPalette::Window));
  setPalette(p);
  viewport()->setMouseTracking(true);
  document()->setDocumentMargin(2);
}

void CRichTextView::ShowParentBackground() {
  QPalette p = palette();
  p.setColor(QPalette::Base, Qt::transparent);
  setPalette(p);
  viewport()->setAutoFillBackground(false);
}

int CRichTextView::CharacterAt(QPoint viewportPoint) const {
  QPointF at = QPointF(viewportPoint) + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    QTextLayout* layout = block.layout();
    if (!layout) continue;
    QPointF inLayout = at - layout->position();
    for (int i = 0; i < layout->lineCount(); ++i) {
      QTextLine line = layout->lineAt(i);
      QRectF r = line.naturalTextRect();
      if (inLayout.y() < r.top() || inLayout.y() >= r.bottom()) continue;
      if (inLayout.x() < r.left() || inLayout.x() >= r.right()) return -1;
      return block.position() + line.xToCursor(inLayout.x(), QTextLine::CursorOnCharacter);
    }
  }
  return -1;
}

QRect CRichTextView::CharacterRect(int position) const {
  QTextBlock block = document()->findBlock(position);
  QTextLayout* layout = block.isValid() ? block.layout() : nullptr;
  if (!layout) return {};
  int inBlock = position - block.position();
  QTextLine line = layout->lineForTextPosition(inBlock);
  if (!line.isValid()) return {};
  qreal x1 = line.cursorToX(inBlock), x2 = line.cursorToX(inBlock + 1);
  QPointF topLeft = layout->position() + QPointF(x1, line.y()) -
                    QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
  return QRectF(topLeft, QSizeF(x2 - x1, line.height())).toAlignedRect();
}

void CRichTextView::mouseMoveEvent(QMouseEvent* e) {
  if (onMove) onMove(e->position().toPoint());
}

void CRichTextView::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && onClick) onClick();
}

void CRichTextView::mousePressEvent(QMouseEvent*) {}
void CRichTextView::mouseDoubleClickEvent(QMouseEvent*) {}

bool CRichTextView::viewportEvent(QEvent* e) {
  if (e->type() == QEvent::Leave && onLeave) onLeave();
  return QTextEdit::viewportEvent(e);
}

CRichTextView* CreateControlInPlace(QWidget* dialog, int itemId) {
  QWidget* old = FindControl(dialog, itemId);
  if (!old) return nullptr;
  if (auto* view = dynamic_cast<CRichTextView*>(old)) return view;
  QWidget* parent = old->parentWidget();
  auto* view = new CRichTextView(parent);
  view->setFont(old->font());
  QLayout* layout = parent->layout();
  if (QLayoutItem* replaced = layout ? layout->replaceWidget(old, view) : nullptr) {
    delete replaced;
  } else {
    view->setGeometry(old->geometry());
    view->stackUnder(old);
  }
  bool shown = old->isVisibleTo(parent);
  old->hide();
  SetVtxId(old, -1);
  SetVtxId(view, itemId);
  view->setVisible(shown);
  return view;
}

// ---- Link text ----

CRichLinkText::CRichLinkText() = default;

CRichLinkText::~CRichLinkText() { Reset(); }

void CRichLinkText::Reset() {
  displayText_.clear();
  links_.clear();
  hotLink_ = -1;
  handCursor_ = false;
  if (control_) {
    control_->onMove = nullptr;
    control_->onClick = nullptr;
    control_->onLeave = nullptr;
    control_->viewport()->unsetCursor();
  }
}

HRESULT CRichLinkText::SetText(QWidget* dialog, int itemId, const char* text, int cursorId, HMODULE) {
  if (!text) return Show(dialog, itemId, nullptr, cursorId);
  QString t = FromAnsi(text);
  return Show(dialog, itemId, &t, cursorId);
}

HRESULT CRichLinkText::SetText(QWidget* dialog, int itemId, UINT stringId, int cursorId, HMODULE module) {
  Reset();
  if (!dialog) return E_INVALIDARG;
  QString t = CatalogueText(module, stringId);
  if (t.isEmpty()) return E_INVALIDARG;
  return Show(dialog, itemId, &t, cursorId);
}

HRESULT CRichLinkText::SetLink(QWidget* dialog, int itemId, const char* text, const char* address, int cursorId,
                               HMODULE) {
  if (!text && !address) return S_OK;
  if (!text || !address) return E_INVALIDARG;
  if (!*text || !*address) return Show(dialog, itemId, nullptr, cursorId);
  HRESULT hr = Show(dialog, itemId, nullptr, cursorId);
  if (FAILED(hr)) return hr;
  QString shown = FromAnsi(text);
  Display(shown, {LinkRecord{0, 0, static_cast<int>(shown.size()) - 1, FromAnsi(address)}});
  return S_OK;
}

HRESULT CRichLinkText::Show(QWidget* dialog, int itemId, const QString* text, int cursorId) {
  Reset();
  if (!dialog) return E_INVALIDARG;
  if (!FindControl(dialog, itemId)) return E_INVALIDARG;
  CRichTextView* view = CreateControlInPlace(dialog, itemId);
  if (!view) return E_FAIL;
  control_ = view;
  linkColour_ = dialog->palette().color(QPalette::Link);
  view->onMove = [this](QPoint p) { OnMouseMove(p); };
  view->onClick = [this] { OnClick(); };
  view->onLeave = [this] { OnMouseLeave(); };
  if (!text) {
    view->clear();
    return S_OK;
  }
  handCursor_ = cursorId != -1;
  QString display;
  std::vector<LinkRecord> links;
  ParseLinkText(*text, display, links);
  Display(std::move(display), std::move(links));
  return S_OK;
}

void CRichLinkText::Display(QString display, std::vector<LinkRecord> links) {
  displayText_ = std::move(display);
  links_ = std::move(links);
  hotLink_ = -1;
  ShowPlain(control_, displayText_);
  for (size_t i = 0; i < links_.size(); ++i) Format(static_cast<int>(i), false);
}

void CRichLinkText::Format(int link, bool hot) {
  const LinkRecord& r = links_[static_cast<size_t>(link)];
  if (!control_ || r.last < r.first) return;
  QTextCharFormat f;
  f.setForeground(linkColour_);
  f.setFontUnderline(hot);
  FormatRange(control_, r.first, r.last, f);
}

int CRichLinkText::OnMouseMove(QPoint viewportPoint) {
  if (displayText_.isEmpty() || !control_) return 0;
  int c = control_->CharacterAt(viewportPoint);
  int found = -1;
  if (c >= 0 && c < displayText_.size())
    for (const LinkRecord& r : links_)
      if (r.first <= c && c <= r.last) {
        found = r.index;
        break;
      }
  if (found != hotLink_) {
    if (hotLink_ >= 0) Format(hotLink_, false);
    hotLink_ = found;
    if (found >= 0) Format(found, true);
  }
  if (found >= 0 && handCursor_) {
    control_->viewport()->setCursor(Qt::PointingHandCursor);
    return 1;
  }
  control_->viewport()->unsetCursor();
  return 0;
}

int CRichLinkText::OnClick() {
  if (hotLink_ < 0) return 0;
  const QString& address = links_[static_cast<size_t>(hotLink_)].address;
  if (address.isEmpty()) return 0;
  std::string a = ToAnsi(address);
  if (onClick_) return FAILED(onClick_(a.c_str(), onClickContext_)) ? 0 : 1;
  if (!IsOpenableUrl(a.c_str())) return 0;
  ILauncher& launcher = launcher_ ? *launcher_ : SystemLauncher();
  return FAILED(launcher.OpenUrl(a.c_str())) ? 0 : 1;
}

void CRichLinkText::OnMouseLeave() {
  if (hotLink_ >= 0) Format(hotLink_, false);
  hotLink_ = -1;
  if (control_) control_->viewport()->unsetCursor();
}

// ---- Rich text ----

HRESULT CRichText::Attach(QWidget* dialog, int itemId, const char* text, HMODULE) {
  if (!dialog) return E_INVALIDARG;
  control_ = CreateControlInPlace(dialog, itemId);
  if (!control_) return E_FAIL;
  return SetText(text);
}

HRESULT CRichText::Attach(QWidget* dialog, int itemId, UINT stringId, HMODULE module) {
  if (!dialog) return E_INVALIDARG;
  control_ = CreateControlInPlace(dialog, itemId);
  if (!control_) return E_FAIL;
  return SetText(stringId, module);
}

HRESULT CRichText::SetText(const char* text) { return Show(FromAnsi(text)); }

HRESULT CRichText::SetText(UINT stringId, HMODULE module) {
  QString t = CatalogueText(module, stringId);
  if (t.isEmpty()) return E_INVALIDARG;
  return Show(t);
}

HRESULT CRichText::Show(const QString& text) {
  if (!control_) return E_FAIL;
  ShowPlain(control_, text);
  return S_OK;
}

void CRichText::SetFormat(const QTextCharFormat& format) {
  if (control_) FormatRange(control_, 0, -1, format);
}

void CRichText::SetFormat(int first, int last, const QTextCharFormat& format) {
  if (control_ && first >= 0 && last >= first) FormatRange(control_, first, last, format);
}

}  // namespace vtx::manager
