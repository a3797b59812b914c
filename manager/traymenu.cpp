#include "manager/traymenu.h"

#include <sys/stat.h>

#include <algorithm>

#include "engine/foundation/regvalue.h"
#include "manager/managerdefs.h"
#include "platform/codepage.h"
#include "platform/launcher.h"
#include "platform/native/syscalls.h"
#include "platform/registry.h"
#include "platform/resources.h"

namespace vtx::manager {

namespace {

constexpr int kMenuTextMax = 200;
constexpr int kEmptyTextMax = 260;

bool LoadText(HMODULE module, UINT id, int max, std::string& out) {
  const char16_t* text = nullptr;
  int n = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (n <= 0 || !text) return false;
  out = WideToUtf8(std::u16string(text, static_cast<size_t>(std::min(n, max - 1))));
  return true;
}

struct Entry {
  std::string name;
  bool folder;
};

// The entries the menu shows, sorted; folders are only real folders, never links to them.
std::vector<Entry> ListEntries(const std::string& folder) {
  std::vector<Entry> entries;
  DIR* dir = vtx::sys::Opendir(folder.c_str());
  if (!dir) return entries;
  while (dirent* d = vtx::sys::Readdir(dir)) {
    if (d->d_name[0] == '.') continue;
    std::string path = folder + "/" + d->d_name;
    struct stat own, target;
    if (vtx::sys::Lstat(path.c_str(), &own) != 0) continue;
    if (S_ISDIR(own.st_mode)) {
      entries.push_back({d->d_name, true});
    } else if (S_ISREG(own.st_mode) ||
               (S_ISLNK(own.st_mode) && vtx::sys::Stat(path.c_str(), &target) == 0 && S_ISREG(target.st_mode))) {
      entries.push_back({d->d_name, false});
    }
  }
  vtx::sys::Closedir(dir);
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    int c = UnicodeICompare(a.name.c_str(), b.name.c_str());
    return c != 0 ? c < 0 : a.name < b.name;
  });
  return entries;
}

class PlatformLauncher : public ILauncher {
 public:
  HRESULT OpenUrl(const char* url) override { return vtx::OpenUrl(url); }
  HRESULT OpenFile(const char* path, const char* folder) override { return vtx::OpenFile(path, folder); }
};

}  // namespace

bool ReadAppPath(const char* name, std::string& out) {
  RegStringValueW value;
  if (FAILED(value.Load(HKEY_LOCAL_MACHINE, kAppKey, name)) || !value.GetString() || !*value.GetString())
    return false;
  out = WideToUtf8(value.GetString());
  return true;
}

ILauncher& SystemLauncher() {
  static PlatformLauncher launcher;
  return launcher;
}

HRESULT ShellOpen(ILauncher& launcher, const std::string& target) {
  if (IsOpenableUrl(target.c_str())) return launcher.OpenUrl(target.c_str());
  return launcher.OpenFile(target.c_str(), nullptr);
}

bool JoinPath(std::string& out, const std::string& folder, const std::string& name) {
  if (folder.size() + name.size() + 1 >= kMaxMenuPath) return false;
  out = !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
  return true;
}

bool BuildPopupMenu(std::vector<MenuItem>& menu, const DWORD* table, size_t count, HMODULE module) {
  menu.clear();
  for (size_t i = 0; i < count; ++i) {
    MenuItem item;
    if (table[i] == kMenuSeparator) {
      item.separator = true;
    } else {
      if (!LoadText(module, table[i] & 0xFFFF, kMenuTextMax, item.text)) return false;
      DWORD state = table[i] >> 16;
      item.id = static_cast<UINT>(i + 1);
      item.grayed = (state & kMenuStateGrayed) != 0;
      item.isDefault = (state & kMenuStateDefault) != 0;
    }
    menu.push_back(std::move(item));
  }
  return true;
}

UINT BuildActionsMenu(MenuItem& item, UINT nextId, const std::string& folder, std::vector<ActionItem>& actions,
                      HMODULE module) {
  item.hasSubmenu = true;
  item.submenu.clear();
  std::string pattern;
  if (JoinPath(pattern, folder, "*.*")) {
    for (const Entry& e : ListEntries(folder)) {
      std::string path;
      if (!JoinPath(path, folder, e.name)) continue;  // too long: left out
      MenuItem sub;
      sub.id = nextId++;
      sub.text = e.name;
      sub.literal = true;
      if (e.folder) {
        item.submenu.push_back(std::move(sub));
        nextId = BuildActionsMenu(item.submenu.back(), nextId, path, actions, module);
      } else {
        actions.push_back({sub.id, path});
        item.submenu.push_back(std::move(sub));
      }
    }
  }
  if (item.submenu.empty()) {
    MenuItem empty;
    empty.id = nextId++;
    empty.grayed = true;
    LoadText(module, kStrMenuActionsEmpty, kEmptyTextMax, empty.text);
    item.submenu.push_back(std::move(empty));
  }
  return nextId;
}

bool TrayMenuController::Build() {
  items_.clear();
  actions_.clear();
  helpFile_.clear();
  actionsFolder_.clear();
  std::string path;
  if (ReadAppPath("Path", path)) {
    std::string help = path + (path.back() == '/' ? "" : "/") + kHelpFile;
    struct stat st;
    if (vtx::sys::Stat(help.c_str(), &st) == 0) helpFile_ = help;
  }
  bool haveActions = ReadAppPath("Actions", actionsFolder_);
  table_ = {kStrMenuOpen | kMenuStateDefault << 16,
            kMenuSeparator,
            kStrMenuActions | (haveActions ? 0 : kMenuStateGrayed << 16),
            kMenuSeparator,
            kStrMenuHelp | (helpFile_.empty() ? kMenuStateGrayed << 16 : 0),
            kStrMenuProductPage};
  if (!BuildPopupMenu(items_, table_.data(), table_.size(), resources_)) {
    items_.clear();
    return false;
  }
  if (haveActions) BuildActionsMenu(items_[2], kFirstActionId, actionsFolder_, actions_, resources_);
  return true;
}

void TrayMenuController::Command(UINT id) {
  if (id == 0) return;
  if (id < kFirstActionId) {
    if (id > table_.size()) return;
    switch (table_[id - 1] & 0xFFFF) {
      case kStrMenuOpen:
        if (openConfiguration_) openConfiguration_();
        break;
      case kStrMenuHelp:
        if (!helpFile_.empty()) ShellOpen(launcher_, helpFile_);
        break;
      case kStrMenuProductPage:
        ShellOpen(launcher_, kProductPage);
        break;
    }
    return;
  }
  for (const ActionItem& a : actions_)
    if (a.id == id) {
      launcher_.OpenFile(a.path.c_str(), actionsFolder_.c_str());
      return;
    }
}

}  // namespace vtx::manager
