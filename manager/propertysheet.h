// A property sheet: pages on tabs, OK, Cancel and (optionally) Apply. Each page is built on its
// first view; the owner decides what OK and Apply do and keeps the pages' change marks.
#pragma once
#include <QDialog>

#include <functional>
#include <vector>

#include "platform/types.h"

class QDialogButtonBox;
class QPushButton;
class QTabWidget;

namespace vtx::manager {

class PropertySheet : public QDialog {
 public:
  // Without Apply the sheet has OK and Cancel only.
  PropertySheet(QWidget* owner, bool withApply);
  ~PropertySheet() override;

  // Adds a page's tab with an empty container; its contents come on its first view.
  int AddPage(const QString& title);
  // Opens on the page (building it at once); pages are viewed from here on.
  void Start(int index);
  int PageCount() const;
  QWidget* Page(int index) const;
  // The page has been viewed (built).
  bool Viewed(int index) const;
  int CurrentPage() const;
  // Switches to the page, building it when it is viewed for the first time.
  void SetCurrentPage(int index);

  // PSM_CHANGED and PSM_UNCHANGED: Apply is enabled while any page is marked.
  void SetPageChanged(int index, bool changed);
  bool PageChanged(int index) const;
  bool AnyPageChanged() const;

  QTabWidget* Tabs() const { return tabs_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* ApplyButton() const { return apply_; }
  // The buttons and the tabs, for disabling the sheet while it waits for work.
  void SetInputEnabled(bool enabled);

  // The owner's side. A page's first view; OK (true) or Apply (false): the sheet closes after OK
  // only when it answers true; Cancel (also Escape and the window's close button).
  std::function<void(int index)> onFirstView;
  std::function<bool(bool ok)> onApply;
  std::function<void()> onCancel;

  // OK pressed: runs onApply(true) and closes with Accepted when it agrees.
  void accept() override;
  // Cancel: closes with Rejected.
  void reject() override;

 private:
  void View(int index);
  void FitPages();

  QTabWidget* tabs_;
  QDialogButtonBox* buttons_;
  QPushButton* ok_;
  QPushButton* cancel_;
  QPushButton* apply_ = nullptr;
  std::vector<bool> viewed_;
  std::vector<bool> changed_;
  bool applying_ = false;
  bool started_ = false;
};

}  // namespace vtx::manager
