// Durations as the configuration pages edit them: a number of seconds shown and typed as hours,
// minutes and seconds, and the spin box whose arrows step the part under the caret.
#pragma once
#include <QAbstractSpinBox>
#include <QSpinBox>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QLineEdit;

namespace vtx::manager {

// "%02u:%02u:%02u" while the hours are at most 99, else "%u:%02u:%02u".
std::string FormatDuration(uint32_t seconds);
// "h", "h:", "h:m" or "h:m:s", each part ASCII digits (no blanks, no signs); minutes and seconds
// may exceed 59. Nothing when the text is malformed or the sum exceeds 0xFFFFFFFF seconds.
std::optional<uint32_t> ParseDuration(const std::string& text);

// The part of a duration text that the caret stands in: the number of ':' after it.
enum class DurationPart { Seconds, Minutes, Hours };
DurationPart PartAtCaret(const std::string& text, int caret);

// One step of the spin box: the text's value (an empty text is 0) plus or minus `steps` of the
// part under the caret, never below 0 and never above 0xFFFFFFFF; the new text and the selection
// of the same part in it. Nothing when the text is malformed.
struct DurationStep {
  std::string text;
  int selectionStart = 0;
  int selectionLength = 0;
};
std::optional<DurationStep> StepDuration(const std::string& text, int caret, int steps);

// A duration field: the arrows (and the Up, Down, Page Up and Page Down keys, the wheel) step the
// part under the caret and select it again. The text is kept as typed until the page reads it.
class CDurationSpinBox : public QAbstractSpinBox {
 public:
  explicit CDurationSpinBox(QWidget* parent = nullptr);

  // Shows the value (FormatDuration).
  void SetSeconds(uint32_t seconds);
  std::string Text() const;
  void SetText(const std::string& text);
  QLineEdit* Edit() const { return lineEdit(); }

  // Reading the field against the value kept so far: an empty field is first set to 0 seconds; a
  // malformed text shows `stored` again and gives it back; a good one is shown formatted.
  uint32_t Read(uint32_t stored);

  // A step by the user (arrows, keys, wheel). Typing shows as the edit's own textEdited.
  void SetOnStep(std::function<void()> f) { onStep_ = std::move(f); }
  // The field lost the focus.
  void SetOnFocusOut(std::function<void()> f) { onFocusOut_ = std::move(f); }

  void stepBy(int steps) override;

 protected:
  StepEnabled stepEnabled() const override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  std::function<void()> onStep_;
  std::function<void()> onFocusOut_;
};

// A number field with its range that reports the user's steps; typing shows as the edit's own
// textEdited.
class CNumberSpinBox : public QSpinBox {
 public:
  CNumberSpinBox(int minimum, int maximum, QWidget* parent = nullptr);
  QLineEdit* Edit() const { return lineEdit(); }
  void SetOnStep(std::function<void()> f) { onStep_ = std::move(f); }
  void stepBy(int steps) override;

 private:
  std::function<void()> onStep_;
};

}  // namespace vtx::manager
