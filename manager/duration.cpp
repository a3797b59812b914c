#include "manager/duration.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionSpinBox>

#include <algorithm>
#include <cstdio>

#include "manager/dialogkit.h"

namespace vtx::manager {

namespace {

constexpr uint64_t kMaxSeconds = 0xFFFFFFFFu;
constexpr int kMaxInputLength = 100;

// Reads the digits at `p` into `value`; false when there are none or the number is too large.
bool Digits(const std::string& text, size_t& p, uint64_t& value) {
  size_t start = p;
  value = 0;
  bool tooLarge = false;
  while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
    value = value * 10 + static_cast<uint64_t>(text[p] - '0');
    if (value > kMaxSeconds) {
      tooLarge = true;
      value = kMaxSeconds;
    }
    ++p;
  }
  return p > start && !tooLarge;
}

}  // namespace

std::string FormatDuration(uint32_t seconds) {
  char text[32];
  unsigned hours = seconds / 3600, minutes = seconds % 3600 / 60, rest = seconds % 60;
  std::snprintf(text, sizeof text, hours <= 99 ? "%02u:%02u:%02u" : "%u:%02u:%02u", hours, minutes, rest);
  return text;
}

std::optional<uint32_t> ParseDuration(const std::string& text) {
  uint64_t parts[3] = {0, 0, 0};
  size_t p = 0;
  int count = 0;
  for (;;) {
    if (!Digits(text, p, parts[count])) return std::nullopt;
    ++count;
    if (p == text.size()) break;
    if (count == 3 || text[p] != ':') return std::nullopt;
    ++p;
    // "h:" stands for hours alone; a ':' after the minutes needs a number after it.
    if (p == text.size()) {
      if (count == 1) break;
      return std::nullopt;
    }
  }
  uint64_t total = count == 1 ? parts[0] * 3600 : (parts[0] * 60 + parts[1]) * 60 + parts[2];
  if (total > kMaxSeconds) return std::nullopt;
  return static_cast<uint32_t>(total);
}

DurationPart PartAtCaret(const std::string& text, int caret) {
  size_t from = static_cast<size_t>(std::clamp(caret, 0, static_cast<int>(text.size())));
  auto colons = std::count(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), ':');
  return colons == 0 ? DurationPart::Seconds : colons == 1 ? DurationPart::Minutes : DurationPart::Hours;
}

std::optional<DurationStep> StepDuration(const std::string& text, int caret, int steps) {
  std::optional<uint32_t> value = text.empty() ? std::optional<uint32_t>(0) : ParseDuration(text);
  if (!value) return std::nullopt;
  DurationPart part = PartAtCaret(text, caret);
  int64_t unit = part == DurationPart::Seconds ? 1 : part == DurationPart::Minutes ? 60 : 3600;
  int64_t next = std::clamp<int64_t>(static_cast<int64_t>(*value) + unit * steps, 0, static_cast<int64_t>(kMaxSeconds));
  DurationStep step;
  step.text = FormatDuration(static_cast<uint32_t>(next));
  size_t first = step.text.find(':'), second = step.text.find(':', first + 1);
  size_t start = part == DurationPart::Hours ? 0 : part == DurationPart::Minutes ? first + 1 : second + 1;
  size_t end = part == DurationPart::Hours ? first : part == DurationPart::Minutes ? second : step.text.size();
  step.selectionStart = static_cast<int>(start);
  step.selectionLength = static_cast<int>(end - start);
  return step;
}

CDurationSpinBox::CDurationSpinBox(QWidget* parent) : QAbstractSpinBox(parent) {
  lineEdit()->setMaxLength(kMaxInputLength);
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  // Wide enough for hundreds of hours; the base class measures no value of its own.
  QStyleOptionSpinBox option;
  initStyleOption(&option);
  QSize text(fontMetrics().horizontalAdvance(QStringLiteral("0000:00:00")) + 8, fontMetrics().height());
  setMinimumWidth(style()->sizeFromContents(QStyle::CT_SpinBox, &option, text, this).width());
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CDurationSpinBox::SetSeconds(uint32_t seconds) { SetText(FormatDuration(seconds)); }

std::string CDurationSpinBox::Text() const { return ToAnsi(lineEdit()->text()); }

void CDurationSpinBox::SetText(const std::string& text) { lineEdit()->setText(FromAnsi(text.c_str())); }

uint32_t CDurationSpinBox::Read(uint32_t stored) {
  std::string text = Text();
  if (text.empty()) text = FormatDuration(0);
  std::optional<uint32_t> value = ParseDuration(text);
  uint32_t result = value ? *value : stored;
  SetSeconds(result);
  return result;
}

void CDurationSpinBox::stepBy(int steps) {
  if (isReadOnly()) return;
  QLineEdit* edit = lineEdit();
  int caret = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
  std::optional<DurationStep> step = StepDuration(Text(), caret, steps);
  if (!step) return;
  SetText(step->text);
  edit->setSelection(step->selectionStart, step->selectionLength);
  if (onStep_) onStep_();
}

QAbstractSpinBox::StepEnabled CDurationSpinBox::stepEnabled() const {
  return isReadOnly() ? StepNone : (StepUpEnabled | StepDownEnabled);
}

void CDurationSpinBox::focusOutEvent(QFocusEvent* event) {
  QAbstractSpinBox::focusOutEvent(event);
  if (onFocusOut_) onFocusOut_();
}

CNumberSpinBox::CNumberSpinBox(int minimum, int maximum, QWidget* parent) : QSpinBox(parent) {
  setRange(minimum, maximum);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CNumberSpinBox::stepBy(int steps) {
  int before = value();
  QSpinBox::stepBy(steps);
  if (value() != before && onStep_) onStep_();
}

}  // namespace vtx::manager
