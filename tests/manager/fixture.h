// The manager's tests: a private store, runtime folder and XDG_RUNTIME_DIR per test, the English
// catalogue registered, and message boxes answered from a script.
#pragma once
#include <sys/stat.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "engine/foundation/resourcelib.h"
#include "manager/managerdefs.h"
#include "platform/codepage.h"
#include "platform/native/productpaths.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "tests/support/accounts.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"
#include "tests/support/store.h"

namespace vtxtest {

// Values under the application key.
inline void PutAppString(const char* name, const std::string& utf8) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, vtx::manager::kAppKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != 0)
    return;
  std::u16string data = vtx::Utf8ToWide(utf8);
  std::u16string wname = vtx::Utf8ToWide(name);
  RegSetValueExW(key, wname.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((data.size() + 1) * 2));
  RegCloseKey(key);
}

inline void PutAppDword(const char* name, DWORD value) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, vtx::manager::kAppKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != 0)
    return;
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  RegCloseKey(key);
}

// One test's own store, runtime folder and XDG_RUNTIME_DIR; the catalogue is registered unless
// asked otherwise.
class ManagerEnvironment {
 public:
  explicit ManagerEnvironment(bool catalogue = true) {
    mkdir((dir_ / "xdg").c_str(), 0700);
    if (catalogue) PutAppString("Resources0409", SourcePath("resources/0409/vantrex.cat"));
  }
  std::string operator/(const std::string& name) const { return dir_ / name; }
  const std::string& path() const { return dir_.path(); }

 private:
  PrivateStore dir_;
  ScopedEnv xdg_{"XDG_RUNTIME_DIR", dir_ / "xdg"};
  // No product account or group, whatever the host has: the test's files stay the test's.
  ScopedEnv account_{vtx::env::kAccount, kNoProductAccount};
};

// A test's environment with the catalogue loaded.
class CatalogueEnvironment {
 public:
  CatalogueEnvironment() : lib(LoadResourceLibrary(vtx::manager::kAppKey)) {}
  ~CatalogueEnvironment() {
    if (lib) FreeLibrary(lib);
  }
  ManagerEnvironment env;
  HMODULE lib;
};

// Message boxes answered from a script, those formatted from the catalogue included: each box is
// recorded; a box with no answer left is unexpected and answers Cancel, so nothing modal ever
// waits in a test.
class ScriptedBoxes {
 public:
  struct Box {
    std::string text;
    std::string caption;
    UINT type;
  };
  explicit ScriptedBoxes(std::deque<int> answers = {}) {
    answers_ = std::move(answers);
    shown_.clear();
    unexpected_ = 0;
    previous_ = vtx::ui::SetMessageBoxBackend(Answer);
    previousHandler_ = vtx::SetMessageBoxHandler(
        [](void* owner, const char* text, const char* caption, UINT type) {
          return MessageBoxA(static_cast<HWND>(owner), text, caption, type);
        });
  }
  ~ScriptedBoxes() {
    vtx::ui::SetMessageBoxBackend(previous_);
    vtx::SetMessageBoxHandler(previousHandler_);
  }
  static const std::vector<Box>& Shown() { return shown_; }
  static int Unexpected() { return unexpected_; }
  static size_t AnswersLeft() { return answers_.size(); }

 private:
  static int Answer(HWND, const char* text, const char* caption, UINT type) {
    shown_.push_back({vtx::AnsiToUtf8(text ? text : ""), vtx::AnsiToUtf8(caption ? caption : ""), type});
    if (answers_.empty()) {
      ++unexpected_;
      return 2;  // IDCANCEL
    }
    int a = answers_.front();
    answers_.pop_front();
    return a;
  }
  static inline std::deque<int> answers_;
  static inline std::vector<Box> shown_;
  static inline int unexpected_ = 0;
  vtx::ui::MessageBoxBackend previous_ = nullptr;
  vtx::MessageBoxHandler previousHandler_ = nullptr;
};

}  // namespace vtxtest
