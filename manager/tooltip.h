// The help pop-up of dialogs and pages: a small window of wrapped text next to a control that goes
// away on the next completed click, on the release of a key pressed while it is shown, or when it
// loses the focus. Its layout and placement are plain functions of a text measure and a screen.
#pragma once
#include <QColor>
#include <QPalette>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

#include "platform/types.h"

class QWidget;

namespace vtx::manager {

// Pixels of the help pop-up's text box.
struct TooltipStyle {
  int maxWidth = 300;   // lines wrap when wider
  int marginLeft = 18;  // left and right of the text
  int marginTop = 8;    // above and below the text
  int marginExtra1 = 0;  // two further margins, added to the height
  int marginExtra2 = 0;
  int lineGap = 3;
};

struct TooltipLayout {
  QStringList lines;
  int width = 0;
  int height = 0;
  int textHeight = 0;
  int lineHeight = 0;
};

// The width in pixels of one line of text.
using TextMeasure = std::function<int(const QString&)>;

// CR LF counts as LF; lines break at LF and, when wider than the limit, at the last space that
// fits (one word wider than the limit stays whole); an empty text is a single space.
TooltipLayout LayoutTooltip(const QString& text, const TooltipStyle& style, const TextMeasure& measure,
                            int lineHeight);

// Placement flags: bits 0-1 horizontal anchor, bits 2-3 vertical anchor, then where the point is,
// which screen edges bind, and compute-only.
constexpr unsigned kAnchorLeft = 0, kAnchorCentre = 1, kAnchorRight = 2;
constexpr unsigned kAnchorTop = 0, kAnchorMiddle = 4, kAnchorBottom = 8;
constexpr unsigned kPointInOwner = 0x10, kInsideScreenWidth = 0x20, kInsideScreenHeight = 0x40;
constexpr unsigned kComputeOnly = 0x80;
// The help pop-up's own placement: centred below the control, inside the screen.
constexpr unsigned kHelpPlacement = 0xF1;
// Result bits.
constexpr unsigned kPlacedShown = 1, kPlacedKeptX = 2, kPlacedKeptY = 4;

struct TooltipPlacement {
  QRect rect;
  unsigned result = 0;
};

// Places a window of `size` at `point` (screen coordinates, or the owner's with kPointInOwner,
// whose origin on the screen is `ownerOrigin`), keeping it inside `screen` as flagged.
TooltipPlacement PlaceTooltip(QSize size, QPoint point, unsigned flags, const QRect& screen,
                              QPoint ownerOrigin = {});
// The pop-up for a control (screen rectangle): first computed at the control's anchor; when it
// does not fit below, its bottom edge goes to the control's top - 1.
TooltipPlacement PlaceForControl(QSize size, const QRect& control, const QRect& screen,
                                 unsigned flags = kHelpPlacement);

// Background and text colours: the palette's tip colours when its base colour is pure white,
// else its base and text colours.
std::pair<QColor, QColor> TooltipColours(const QPalette& palette);

class TooltipPopup;

class CTooltipWindow {
 public:
  CTooltipWindow();
  ~CTooltipWindow();
  CTooltipWindow(const CTooltipWindow&) = delete;
  CTooltipWindow& operator=(const CTooltipWindow&) = delete;

  // Shows string `helpId` (at most 4000 characters) for the control of that id in the dialog;
  // false when the string or the control is missing.
  bool ShowForControl(UINT helpId, int controlId, QWidget* dialog, HMODULE module);
  // The same for a text in the ANSI code page.
  bool ShowText(const char* text, int controlId, QWidget* dialog);
  // The same for a control itself.
  bool ShowText(const QString& text, QWidget* control);
  void Hide();

  // The pop-up while it is shown, else null.
  QWidget* Window() const;
  QString Text() const { return text_; }

 private:
  QPointer<TooltipPopup> window_;
  QString text_;
};

}  // namespace vtx::manager
