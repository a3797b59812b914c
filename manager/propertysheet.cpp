#include "manager/propertysheet.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace vtx::manager {

PropertySheet::PropertySheet(QWidget* owner, bool withApply) : QDialog(owner) {
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  tabs_->setUsesScrollButtons(false);
  tabs_->setMinimumHeight(360);
  layout->addWidget(tabs_);
  buttons_ = new QDialogButtonBox(this);
  ok_ = buttons_->addButton(QDialogButtonBox::Ok);
  cancel_ = buttons_->addButton(QDialogButtonBox::Cancel);
  if (withApply) {
    apply_ = buttons_->addButton(QDialogButtonBox::Apply);
    apply_->setEnabled(false);
    connect(apply_, &QPushButton::clicked, this, [this] {
      if (applying_ || !onApply) return;
      applying_ = true;
      onApply(false);
      applying_ = false;
    });
  }
  layout->addWidget(buttons_);
  connect(ok_, &QPushButton::clicked, this, &PropertySheet::accept);
  connect(cancel_, &QPushButton::clicked, this, &PropertySheet::reject);
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) { View(index); });
}

PropertySheet::~PropertySheet() = default;

int PropertySheet::AddPage(const QString& title) {
  auto* page = new QWidget;
  int index = tabs_->addTab(page, title);
  viewed_.push_back(false);
  changed_.push_back(false);
  return index;
}

int PropertySheet::PageCount() const { return tabs_->count(); }
QWidget* PropertySheet::Page(int index) const { return tabs_->widget(index); }
bool PropertySheet::Viewed(int index) const {
  return index >= 0 && index < static_cast<int>(viewed_.size()) && viewed_[index];
}
int PropertySheet::CurrentPage() const { return tabs_->currentIndex(); }

void PropertySheet::SetCurrentPage(int index) {
  if (index < 0 || index >= PageCount()) return;
  if (tabs_->currentIndex() == index) {
    View(index);
  } else {
    tabs_->setCurrentIndex(index);
  }
}

void PropertySheet::Start(int index) {
  started_ = true;
  SetCurrentPage(index);
}

void PropertySheet::View(int index) {
  if (!started_ || index < 0 || index >= static_cast<int>(viewed_.size()) || viewed_[index]) return;
  viewed_[index] = true;
  if (onFirstView) onFirstView(index);
  // The new fields of a visible page show from the event loop; only then do they count.
  FitPages();
  QTimer::singleShot(0, this, [this] { FitPages(); });
}

void PropertySheet::FitPages() {
  // A page built later may need more room than the window has: it grows rather than squeeze the
  // page's fields, within the screen.
  if (layout()) layout()->activate();
  QSize want = sizeHint().expandedTo(size());
  if (QScreen* s = screen()) want = want.boundedTo(s->availableGeometry().size());
  if (want != size()) resize(want);
}

void PropertySheet::SetPageChanged(int index, bool changed) {
  if (index < 0 || index >= static_cast<int>(changed_.size())) return;
  changed_[index] = changed;
  if (apply_) apply_->setEnabled(AnyPageChanged());
}

bool PropertySheet::PageChanged(int index) const {
  return index >= 0 && index < static_cast<int>(changed_.size()) && changed_[index];
}

bool PropertySheet::AnyPageChanged() const { return std::find(changed_.begin(), changed_.end(), true) != changed_.end(); }

void PropertySheet::SetInputEnabled(bool enabled) {
  tabs_->setEnabled(enabled);
  buttons_->setEnabled(enabled);
}

void PropertySheet::accept() {
  if (applying_) return;
  if (onApply) {
    applying_ = true;
    bool ok = onApply(true);
    applying_ = false;
    if (!ok) return;
  }
  QDialog::accept();
}

void PropertySheet::reject() {
  // Also while the buttons are disabled: closing the window is a Cancel whatever runs.
  if (onCancel) onCancel();
  QDialog::reject();
}

}  // namespace vtx::manager
