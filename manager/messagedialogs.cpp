#include "manager/messagedialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSizeGrip>
#include <QThread>

#include "engine/notify/messagewindow.h"
#include "manager/controlids.h"
#include "manager/dialogkit.h"
#include "manager/qtparts.h"
#include "platform/errors.h"

namespace vtx::manager {

namespace {

// The text fills the dialog less these margins; the OK button sits centred in the strip below.
constexpr int kMarginWidth = 22;
constexpr int kMarginHeight = 50;
constexpr int kButtonStrip = 39;

QString ShownText(const char* text) {
  QString s = FromAnsi(text);
  s.remove(QLatin1Char('\r'));
  return s;
}

}  // namespace

MessageDialog::MessageDialog(const vtx::ui::MessageDialogSpec& spec) : QDialog(nullptr) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (spec.flags & vtx::ui::kMessageDialogTopmost) flags |= Qt::WindowStaysOnTopHint;
  setWindowFlags(flags);
  setWindowTitle(FromAnsi(spec.title.c_str()));
  if (spec.iconId == kMessageWindowIcon) setWindowIcon(ManagerIcon());

  text_ = new QPlainTextEdit(this);
  text_->setReadOnly(true);
  SetVtxId(text_, spec.flags & vtx::ui::kMessageDialogRichEdit ? messagedialog::kRichEdit : messagedialog::kPlainEdit);
  QPalette palette = text_->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Button));
  text_->setPalette(palette);

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons_->setCenterButtons(true);
  SetVtxId(buttons_->button(QDialogButtonBox::Ok), IDC_OK);
  connect(buttons_, &QDialogButtonBox::accepted, this, [this] { done(IDOK); });

  setSizeGripEnabled(true);
  if (QSizeGrip* grip = findChild<QSizeGrip*>()) SetVtxId(grip, messagedialog::kSizeGrip);
  resize(520, 340);
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());
  SetText(spec.text.c_str(), true);
}

void MessageDialog::SetText(const char* text, bool replace) {
  QScrollBar* bar = text_->verticalScrollBar();
  if (replace) {
    text_->setPlainText(ShownText(text));
    bar->setValue(0);
    return;
  }
  int first = bar->value();
  bool atEnd = first >= bar->maximum();
  text_->setUpdatesEnabled(false);
  text_->setPlainText(ShownText(text));
  bar->setValue(first);
  if (atEnd) bar->setValue(bar->maximum());
  text_->setUpdatesEnabled(true);
}

void MessageDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  int w = width(), h = height();
  text_->setGeometry(kMarginWidth / 2, kMarginWidth / 2, w - kMarginWidth, h - kMarginHeight);
  int bh = buttons_->sizeHint().height();
  buttons_->setGeometry(kMarginWidth / 2, h - kButtonStrip + std::max(0, (kButtonStrip - bh) / 2), w - kMarginWidth, bh);
}

QtMessageDialogs::QtMessageDialogs() = default;

QtMessageDialogs::~QtMessageDialogs() {
  for (auto& [id, dialog] : open_) delete dialog;
}

bool QtMessageDialogs::OnGuiThread() const { return QThread::currentThread() == thread(); }

HRESULT QtMessageDialogs::Post(std::function<void()> task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
  return S_OK;
}

HRESULT QtMessageDialogs::Open(const vtx::ui::MessageDialogSpec& spec, std::function<void(int)> ended,
                               vtx::ui::MessageDialogId* id) {
  if (!id) return E_POINTER;
  *id = 0;
  if (!OnGuiThread()) return E_UNEXPECTED;
  auto* dialog = new MessageDialog(spec);
  vtx::ui::MessageDialogId mine = next_++;
  open_[mine] = dialog;
  connect(dialog, &QDialog::finished, this, [this, mine, ended = std::move(ended)](int result) {
    auto it = open_.find(mine);
    if (it == open_.end()) return;
    it->second->deleteLater();
    open_.erase(it);
    if (ended) ended(result);
  });
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
  *id = mine;
  return S_OK;
}

void QtMessageDialogs::SetText(vtx::ui::MessageDialogId id, const char* text, bool replace) {
  if (MessageDialog* dialog = Find(id)) dialog->SetText(text, replace);
}

void QtMessageDialogs::Close(vtx::ui::MessageDialogId id) {
  if (!OnGuiThread()) {
    QMetaObject::invokeMethod(this, [this, id] { Close(id); }, Qt::QueuedConnection);
    return;
  }
  auto it = open_.find(id);
  if (it == open_.end()) return;
  MessageDialog* dialog = it->second;
  open_.erase(it);
  dialog->disconnect(this);
  dialog->hide();
  dialog->deleteLater();
}

HRESULT QtMessageDialogs::ShowModal(const vtx::ui::MessageDialogSpec& spec, int* result) {
  if (!result) return E_POINTER;
  if (!OnGuiThread()) {
    HRESULT hr = E_FAIL;
    QMetaObject::invokeMethod(this, [&] { hr = ShowModal(spec, result); }, Qt::BlockingQueuedConnection);
    return hr;
  }
  MessageDialog dialog(spec);
  dialog.setWindowModality(Qt::ApplicationModal);
  *result = dialog.exec();
  return S_OK;
}

MessageDialog* QtMessageDialogs::Find(vtx::ui::MessageDialogId id) const {
  auto it = open_.find(id);
  return it == open_.end() ? nullptr : it->second;
}

QtMessageDialogsScope::QtMessageDialogsScope()
    : dialogs_(std::make_unique<QtMessageDialogs>()), previous_(vtx::ui::SetMessageDialogBackend(dialogs_.get())) {}

QtMessageDialogsScope::~QtMessageDialogsScope() { vtx::ui::SetMessageDialogBackend(previous_); }

}  // namespace vtx::manager
