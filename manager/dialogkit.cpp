#include "manager/dialogkit.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QChildEvent>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>

#include "engine/foundation/resourcelib.h"
#include "platform/codepage.h"

namespace vtx::manager {

namespace {

// Marks the widget that a kit serves, so that a kit leaves the controls of a form nested in its
// own (a page inside the configuration window) to that form's kit.
constexpr char kFormProperty[] = "vtxForm";

// Edit controls have their own context menu (cut, copy, paste).
bool IsTextField(QWidget* w) {
  auto isEdit = [](QWidget* x) {
    if (qobject_cast<QLineEdit*>(x) || qobject_cast<QAbstractSpinBox*>(x) || qobject_cast<QPlainTextEdit*>(x))
      return true;
    auto* edit = qobject_cast<QTextEdit*>(x);
    return edit && edit->contextMenuPolicy() != Qt::NoContextMenu;
  };
  if (isEdit(w)) return true;
  // The viewport of a multi-line edit.
  auto* area = w && w->parentWidget() ? qobject_cast<QAbstractScrollArea*>(w->parentWidget()) : nullptr;
  return area && area->viewport() == w && isEdit(area);
}

}  // namespace

QString FromAnsi(const char* text) { return QString::fromStdString(AnsiToUtf8(text ? text : "")); }

std::string ToAnsi(const QString& text) { return Utf8ToAnsi(text.toStdString()); }

QString CatalogueText(HMODULE module, UINT id, int limit) { return FromAnsi(LoadText(module, id, limit).c_str()); }

void SetVtxId(QWidget* widget, int id) {
  if (widget) widget->setProperty(kVtxIdProperty, id);
}

int VtxId(const QWidget* widget) {
  QVariant v = widget ? widget->property(kVtxIdProperty) : QVariant();
  return v.isValid() ? v.toInt() : 0;
}

QWidget* FindControl(QWidget* form, int id) {
  if (!form) return nullptr;
  // Breadth first, not into nested forms.
  std::vector<QWidget*> level{form};
  while (!level.empty()) {
    std::vector<QWidget*> next;
    for (QWidget* parent : level)
      for (QObject* o : parent->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || w->isWindow()) continue;
        if (VtxId(w) == id) return w;
        if (!w->property(kFormProperty).isValid()) next.push_back(w);
      }
    level.swap(next);
  }
  return nullptr;
}

QWidget* TaggedControl(QWidget* widget, QWidget* form) {
  for (QWidget* w = widget; w && w != form; w = w->parentWidget()) {
    if (VtxId(w) != 0) return w;
    if (w->isWindow()) break;
  }
  return nullptr;
}

CFormKit::CFormKit(QWidget* form, HMODULE module) : form_(form), module_(module) {
  form_->setProperty(kFormProperty, true);
  Watch(form_);
}

CFormKit::~CFormKit() { delete menu_; }

void CFormKit::Watch(QWidget* widget) {
  widget->installEventFilter(this);
  for (QObject* o : widget->children())
    if (auto* w = qobject_cast<QWidget*>(o)) Watch(w);
}

bool CFormKit::Owns(QWidget* widget) const {
  if (widget->window() != form_->window()) return false;  // pop-ups and menus
  for (QWidget* w = widget; w; w = w->parentWidget())
    if (w->property(kFormProperty).isValid()) return w == form_;
  return false;
}

QLabel* CFormKit::AddLabel(int id, UINT textId, QWidget* buddy) {
  auto* label = Add(id, new QLabel(Text(textId), form_));
  if (buddy) label->setBuddy(buddy);
  return label;
}

void CFormKit::AddRow(QGridLayout* grid, int row, int labelId, UINT textId, QWidget* field, int fieldColumns) {
  grid->addWidget(AddLabel(labelId, textId, field), row, 0);
  grid->addWidget(field, row, 1, 1, fieldColumns);
}

QPushButton* CFormKit::AddButton(int id, UINT textId) { return Add(id, new QPushButton(Text(textId), form_)); }

void CFormKit::SetHelpMap(HelpMap map, std::vector<int> noHelp) {
  help_ = std::move(map);
  noHelp_ = std::move(noHelp);
}

int CFormKit::HelpFor(int controlId) const {
  for (const auto& [control, help] : help_)
    if (control == controlId) return help;
  return -1;
}

bool CFormKit::ShowHelp(QWidget* control) {
  int id = VtxId(control);
  int help = id ? HelpFor(id) : -1;
  if (help < 0) return false;
  QString text = helpText_ ? helpText_(id, help) : Text(static_cast<UINT>(help));
  return tooltip_.ShowText(text, control);
}

QMenu* CFormKit::HelpMenu() const { return menu_ && menu_->isVisible() ? menu_.data() : nullptr; }

void CFormKit::OpenHelpMenu(QWidget* control, QPoint at) {
  delete menu_;
  menu_ = new QMenu(form_);
  menuControl_ = control;
  QAction* item = menu_->addAction(Text(kStrHelpMenuItem));
  QObject::connect(item, &QAction::triggered, this, [this] {
    if (menuControl_) ShowHelp(menuControl_);
  });
  menu_->popup(at);
}

bool CFormKit::eventFilter(QObject* watched, QEvent* event) {
  auto* w = qobject_cast<QWidget*>(watched);
  if (!w) return false;
  switch (event->type()) {
    case QEvent::ChildAdded: {
      auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child());
      if (child) Watch(child);
      return false;
    }
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      if (!Owns(w)) return false;
      if (key->key() == Qt::Key_F1 && !(key->modifiers() & ~Qt::KeypadModifier)) {
        ShowHelp(TaggedControl(w, form_));
        return true;
      }
      if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
        // The keyboard's context menu, as the Menu key gives it.
        QPoint corner(0, w->height());
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, corner, w->mapToGlobal(corner));
        QApplication::sendEvent(w, &menu);
        return true;
      }
      return false;
    }
    case QEvent::ContextMenu: {
      if (!Owns(w) || IsTextField(w)) return false;
      auto* e = static_cast<QContextMenuEvent*>(event);
      QWidget* control;
      QPoint at;
      if (e->reason() == QContextMenuEvent::Keyboard) {
        control = TaggedControl(w, form_);
        if (control) at = control->mapToGlobal(QPoint(0, control->height()));
      } else {
        // The visible child under the point, disabled ones included.
        QWidget* under = w->childAt(e->pos());
        control = TaggedControl(under ? under : w, form_);
        at = e->globalPos();
      }
      if (control && HelpFor(VtxId(control)) >= 0) OpenHelpMenu(control, at);
      e->accept();
      return true;
    }
    default:
      return false;
  }
}

CKitDialog::CKitDialog(QWidget* owner, HMODULE module, UINT titleId) : QDialog(owner), kit_(this, module) {
  setWindowTitle(kit_.Text(titleId));
  setModal(true);
}

QDialogButtonBox* CKitDialog::MakeButtons() {
  auto* box = new QDialogButtonBox(this);
  ok_ = kit_.AddButton(IDC_OK, kStrOk);
  QPushButton* cancel = kit_.AddButton(IDC_CANCEL, kStrCancel);
  ok_->setDefault(true);
  box->addButton(ok_, QDialogButtonBox::AcceptRole);
  box->addButton(cancel, QDialogButtonBox::RejectRole);
  QObject::connect(ok_, &QPushButton::clicked, this, [this] { OnOk(); });
  QObject::connect(cancel, &QPushButton::clicked, this, [this] { done(IDC_CANCEL); });
  return box;
}

int CKitDialog::Run() { return exec() == IDC_OK ? IDC_OK : IDC_CANCEL; }

}  // namespace vtx::manager
