// Read-only text areas of dialogs and pages: long catalogue texts, and texts with links written
// inside them as a bar, the shown text, a bar, the address and a bar ("||" is one literal bar).
// The widget holds plain text only; links are ranges of it with their addresses.
#pragma once
#include <QColor>
#include <QPointer>
#include <QString>
#include <QTextCharFormat>
#include <QTextEdit>

#include <functional>
#include <vector>

#include "platform/types.h"

namespace vtx::manager {

class ILauncher;

struct LinkRecord {
  int index = 0;  // 0, 1, ... in text order
  int first = 0;  // positions of the shown text in the display text
  int last = 0;
  QString address;  // empty for a link that never got one (not clickable)
};

// Splits bar syntax into the text as shown and its links. CR LF and a lone CR become LF first.
// A link whose shown part is never closed ends at the end of the text with no address; an
// address that is never closed ends there too.
void ParseLinkText(const QString& text, QString& display, std::vector<LinkRecord>& links);

// The widget: read-only, no selection, no context menu, the dialog's background. It hands its
// own mouse moves, clicks and the pointer's leaving to whoever attached to it.
class CRichTextView : public QTextEdit {
 public:
  explicit CRichTextView(QWidget* parent = nullptr);
  // The character under a point of the viewport, -1 when none.
  int CharacterAt(QPoint viewportPoint) const;
  // Where a character is drawn, in viewport coordinates (empty when it is not laid out).
  QRect CharacterRect(int position) const;
  // Draws no background, so the text stands on its parent as a label does (a tab's page is
  // lighter than the dialog).
  void ShowParentBackground();

  std::function<void(QPoint)> onMove;
  std::function<void()> onClick;
  std::function<void()> onLeave;

 protected:
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  bool viewportEvent(QEvent* e) override;
};

// Makes the dialog's item `itemId` a CRichTextView: the item itself when it is one, else a new
// view in its place (same layout slot or geometry, id and font) with the old item hidden and
// without an id. Null when the dialog has no such item.
CRichTextView* CreateControlInPlace(QWidget* dialog, int itemId);

class CRichLinkText {
 public:
  // The click handler gets the address (ANSI code page) and the context; a negative result means
  // the link was not opened.
  using ClickHandler = std::function<HRESULT(const char* address, DWORD context)>;

  CRichLinkText();
  ~CRichLinkText();
  CRichLinkText(const CRichLinkText&) = delete;
  CRichLinkText& operator=(const CRichLinkText&) = delete;

  // Shows the text (ANSI code page) in the item; cursorId -1 = no hand cursor over links.
  // 0x80070057 without a dialog or item, 0x80004005 when the item cannot be made a text view.
  HRESULT SetText(QWidget* dialog, int itemId, const char* text, int cursorId, HMODULE module);
  // The same with string `stringId` (at most 4000 characters); 0x80070057 when it does not load.
  HRESULT SetText(QWidget* dialog, int itemId, UINT stringId, int cursorId, HMODULE module);
  // One link showing `text` that opens `address`, both taken as they are (bars included): both
  // null gives S_OK and changes nothing, one null 0x80070057, either empty no text.
  HRESULT SetLink(QWidget* dialog, int itemId, const char* text, const char* address, int cursorId, HMODULE module);

  // The pointer at a point of the control's viewport: makes the link under it hot; 1 when it is
  // over a link and the hand cursor is on.
  int OnMouseMove(QPoint viewportPoint);
  // 1 when the hot link was opened: by the handler, else by the desktop for an address of an
  // allowed scheme (http, https, ftp, mailto, file).
  int OnClick();
  void OnMouseLeave();
  void Reset();

  void SetClickHandler(ClickHandler handler, DWORD context) {
    onClick_ = std::move(handler);
    onClickContext_ = context;
  }
  // Who opens addresses without a handler (tests); null: the desktop.
  void SetLauncher(ILauncher* launcher) { launcher_ = launcher; }

  CRichTextView* Control() const { return control_; }
  const QString& DisplayText() const { return displayText_; }
  const std::vector<LinkRecord>& Links() const { return links_; }
  // Index of the hot link, -1 when none.
  int HotLink() const { return hotLink_; }

 private:
  // Parses the text (null: none) into the item.
  HRESULT Show(QWidget* dialog, int itemId, const QString* text, int cursorId);
  // Shows display text and links as they are.
  void Display(QString display, std::vector<LinkRecord> links);
  void Format(int link, bool hot);

  QPointer<CRichTextView> control_;
  bool handCursor_ = false;
  QString displayText_;
  QColor linkColour_;
  ClickHandler onClick_;
  DWORD onClickContext_ = 0;
  ILauncher* launcher_ = nullptr;
  int hotLink_ = -1;
  std::vector<LinkRecord> links_;
};

class CRichText {
 public:
  // Makes the item a text view and shows the text (ANSI code page) or string.
  HRESULT Attach(QWidget* dialog, int itemId, const char* text, HMODULE module);
  HRESULT Attach(QWidget* dialog, int itemId, UINT stringId, HMODULE module);
  HRESULT SetText(const char* text);
  HRESULT SetText(UINT stringId, HMODULE module);
  // Applies a format to characters first..last, or to all of them.
  void SetFormat(const QTextCharFormat& format);
  void SetFormat(int first, int last, const QTextCharFormat& format);
  CRichTextView* Control() const { return control_; }

 private:
  HRESULT Show(const QString& text);

  QPointer<CRichTextView> control_;
};

}  // namespace vtx::manager
