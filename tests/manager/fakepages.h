// Small pages and a scripted update engine for the configuration window's frame: every page has a
// text field, a check box, a combo box and a push button; page 0 has the currency list with its
// remove, properties and test-update buttons, page 1 the database list and its definitions test,
// page 3 the data-source list. What the frame asks of them goes to a log.
#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/foundation/regvalue.h"
#include "engine/update/updatesettings.h"
#include "engine/update/updatethread.h"
#include "manager/configsheet.h"
#include "manager/configtexts.h"

namespace vtxtest {

constexpr int kEditId = 1500, kCheckId = 1501, kComboId = 1502, kPushId = 1503;
// The frame's commands of the product's pages 0 and 1.
constexpr int kRemoveId = vtx::manager::currencylistpage::kRemove;
constexpr int kPropertiesId = vtx::manager::currencylistpage::kProperties;
constexpr int kTestId = vtx::manager::currencylistpage::kTestUpdate;
constexpr int kDefinitionsTestId = vtx::manager::databasepage::kTestDefinitions;

struct PageLog {
  std::vector<std::string> lines;
  bool failValidation[vtx::manager::kPageCount] = {};
  // What ValidatePage of page 3 found in the store's "ProxyServer" (page 0's value).
  std::string storeSeenByPage3;
  void Add(const std::string& line) { lines.push_back(line); }
  bool Has(const std::string& line) const {
    for (auto& l : lines)
      if (l == line) return true;
    return false;
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (auto& l : lines) n += l.compare(0, prefix.size(), prefix) == 0;
    return n;
  }
};

inline std::string StoreString(const char* name) {
  RegStringValueA v;
  if (FAILED(v.Load(HKEY_LOCAL_MACHINE, g_szAppKey, name)) || !v.GetString()) return "";
  return v.GetString();
}

class FakePage : public vtx::manager::IConfigPage {
 public:
  FakePage(int index, PageLog* log) : index_(index), log_(log) {}
  UINT TitleId() const override { return vtx::manager::kStrPageTitleFirst + index_; }

  void BuildPage(vtx::manager::ConfigurationSheet& sheet, QWidget* page, vtx::manager::CFormKit& kit,
                 int index) override {
    kit_ = &kit;
    auto* layout = new QVBoxLayout(page);
    edit = Add(layout, kEditId, new QLineEdit(page));
    check = Add(layout, kCheckId, new QCheckBox("check", page));
    combo = Add(layout, kComboId, new QComboBox(page));
    combo->addItems({"one", "two", "three"});
    push = Add(layout, kPushId, new QPushButton("push", page));
    int listId = index == 0   ? vtx::manager::currencylistpage::kCurrencyList
                 : index == 1 ? vtx::manager::databasepage::kDatabaseList
                 : index == 3 ? vtx::manager::sourcespage::kSourceList
                              : 0;
    if (listId) {
      list = Add(layout, listId, new QTreeWidget(page));
      list->setSelectionMode(QAbstractItemView::ExtendedSelection);
      sheet.AttachList(index, list, listId);
    }
    if (index == 0) {
      remove = Add(layout, kRemoveId, new QPushButton("remove", page));
      test = Add(layout, kTestId, new QPushButton("test", page));
    }
    if (index == 1) test = Add(layout, kDefinitionsTestId, new QPushButton("definitions", page));
    log_->Add("build " + std::to_string(index));
  }

  void InitPage(vtx::manager::ConfigurationSheet& sheet, QWidget*, int index) override {
    log_->Add("init " + std::to_string(index) + (sheet.Initialising() ? " initialising" : ""));
    // Filling by code marks nothing.
    edit->setText(QString::fromStdString(Value(sheet)));
    check->setChecked(true);
    combo->setCurrentIndex(1);
    Fill(sheet);
  }
  void RefillPage(vtx::manager::ConfigurationSheet& sheet, QWidget*, int index) override {
    log_->Add("refill " + std::to_string(index));
    Fill(sheet);
  }

  bool OnPageCommand(vtx::manager::ConfigurationSheet& sheet, QWidget*, int id, UINT code, int index) override {
    log_->Add("command " + std::to_string(index) + " " + std::to_string(id) + " " + std::to_string(code));
    if (id == kTestId) sheet.TestUpdate(false);
    if (id == kDefinitionsTestId) sheet.TestUpdate(true);
    return true;
  }

  LRESULT OnPageNotify(vtx::manager::ConfigurationSheet&, QWidget*, const vtx::manager::PageNotification& n,
                       int index) override {
    log_->Add("notify " + std::to_string(index) + " " + std::to_string(n.controlId));
    // The page's rule: remove only with a selection.
    if (remove && list) remove->setEnabled(!list->selectedItems().isEmpty());
    return 0;
  }

  HRESULT ValidatePage(vtx::manager::ConfigurationSheet& sheet, QWidget*, int index) override {
    if (index == 3) log_->storeSeenByPage3 = StoreString("ProxyServer");
    if (log_->failValidation[index]) {
      log_->Add("message " + std::to_string(index));
      return 0x80070057;
    }
    log_->Add("validate " + std::to_string(index));
    if (CStringA* field = Field(sheet)) *field = edit->text().toStdString().c_str();
    return 0;
  }

  QLineEdit* edit = nullptr;
  QCheckBox* check = nullptr;
  QComboBox* combo = nullptr;
  QPushButton* push = nullptr;
  QTreeWidget* list = nullptr;
  QPushButton* remove = nullptr;
  QPushButton* test = nullptr;

 private:
  template <class W>
  W* Add(QVBoxLayout* layout, int id, W* w) {
    kit_->Add(id, w);
    layout->addWidget(w);
    return w;
  }
  // Page 0 edits "ProxyServer", page 3 "DialUp".
  CStringA* Field(vtx::manager::ConfigurationSheet& sheet) const {
    CSettingsData* d = sheet.Settings().GetData();
    if (!d) return nullptr;
    if (index_ == 0) return &d->ProxyServer;
    if (index_ == 3) return &d->DialUp;
    return nullptr;
  }
  std::string Value(vtx::manager::ConfigurationSheet& sheet) const {
    CStringA* f = Field(sheet);
    return f && f->c_str() ? f->c_str() : "";
  }
  // Page 0's list holds the active currencies.
  void Fill(vtx::manager::ConfigurationSheet& sheet) {
    if (!list || index_ != 0) return;
    list->clear();
    for (char* e : sheet.Settings().GetRates().Active) {
      auto* rec = reinterpret_cast<CurrencyInfo*>(e);
      list->addTopLevelItem(new QTreeWidgetItem(QStringList{rec->szCode, "name"}));
    }
  }

  int index_;
  PageLog* log_;
  vtx::manager::CFormKit* kit_ = nullptr;
};

struct FakePages {
  PageLog log;
  std::vector<FakePage*> pages;
  vtx::manager::ConfigurationSheet::PageFactory Factory() {
    return [this] {
      pages.clear();
      std::vector<std::unique_ptr<vtx::manager::IConfigPage>> made;
      for (int i = 0; i < vtx::manager::kPageCount; ++i) {
        auto p = std::make_unique<FakePage>(i, &log);
        pages.push_back(p.get());
        made.push_back(std::move(p));
      }
      return made;
    };
  }
};

// An update engine whose runs wait for the test to let them go, add the currencies it names to
// the thread's settings and end with the result it is given.
struct ScriptedEngine {
  std::mutex m;
  std::condition_variable cv;
  bool hold = false;
  bool running = false;
  HRESULT result = 0;
  std::vector<std::string> add;
  std::vector<std::string> notices;

  void Release() {
    std::lock_guard<std::mutex> l(m);
    hold = false;
    cv.notify_all();
  }
  bool Running() {
    std::lock_guard<std::mutex> l(m);
    return running;
  }

  class Engine : public IUpdateEngine {
   public:
    explicit Engine(std::shared_ptr<ScriptedEngine> s) : s_(std::move(s)) {}
    HRESULT UpdateRun(CUpdateThread& thread) override {
      Wait();
      CSettings& settings = static_cast<CUpdateSettings&>(thread.GetSettings()).Get();
      for (auto& code : s_->add) {
        CurrencyInfo rec{};
        settings.InitCurrencyInfo(rec, code.c_str());
        rec.dRate = 2.0;
        settings.Add(rec);
      }
      return s_->result;
    }
    HRESULT CheckDefinitions(CUpdateThread&, const char* unknownCodes) override {
      if (unknownCodes == nullptr) Wait();
      return 0;
    }
    void Notify(CUpdateThread&, HWND, const char* text, const char*, UINT, HMODULE) override {
      std::lock_guard<std::mutex> l(s_->m);
      s_->notices.push_back(text ? text : "");
    }
    void ArchiveRun(CUpdateThread&) override {}

   private:
    void Wait() {
      std::unique_lock<std::mutex> l(s_->m);
      s_->running = true;
      s_->cv.wait(l, [&] { return !s_->hold; });
      s_->running = false;
    }
    std::shared_ptr<ScriptedEngine> s_;
  };

  static vtx::manager::ConfigurationSheet::EngineFactory Factory(std::shared_ptr<ScriptedEngine> s) {
    return [s] { return std::make_unique<Engine>(s); };
  }
};

}  // namespace vtxtest
