// The tray icon's pop-up menu as data: built from the catalogue and the actions folder, shown by
// the Qt tray view, its commands carried out by the controller.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace vtx::manager {

struct MenuItem {
  UINT id = 0;            // command id; 0 for a separator
  std::string text;       // UTF-8
  bool separator = false;
  bool grayed = false;
  bool isDefault = false;
  bool literal = false;   // a file name: '&' is shown, never a mnemonic
  bool hasSubmenu = false;
  std::vector<MenuItem> submenu;
};

// A file of the actions folder and the command that starts it.
struct ActionItem {
  UINT id;
  std::string path;
};

// Table entries of BuildPopupMenu: a string id in the low 16 bits and the menu state in the high
// 16 bits, or kMenuSeparator.
constexpr DWORD kMenuSeparator = 0xFFFFFFFF;
constexpr DWORD kMenuStateGrayed = 3;
constexpr DWORD kMenuStateDefault = 0x1000;
// Paths of this many bytes or more are left out of the menu.
constexpr size_t kMaxMenuPath = 260;
// The first command id of the actions submenu.
constexpr UINT kFirstActionId = 8;

// `folder` + "/" + `name` (no second '/'); false when the result would take 260 bytes or more.
bool JoinPath(std::string& out, const std::string& folder, const std::string& name);
// A non-empty REG_SZ value under the application key as a UTF-8 path ("Path", "Actions", ...).
bool ReadAppPath(const char* name, std::string& out);

// Fills `menu` from the table, command id = position + 1; false when a string does not load.
bool BuildPopupMenu(std::vector<MenuItem>& menu, const DWORD* table, size_t count, HMODULE module);

// Turns `item` into the submenu of `folder`: files and folders in case-insensitive name order,
// folders as submenus, a grayed string 457 when a level is empty. Hidden names (a leading '.'),
// links to folders and anything but files and folders are left out. Every item takes the next
// command id, depth first; the files are recorded in `actions`. Returns the next free id.
UINT BuildActionsMenu(MenuItem& item, UINT nextId, const std::string& folder, std::vector<ActionItem>& actions,
                      HMODULE module);

// Opening addresses and files (the platform's launcher; tests record instead).
class ILauncher {
 public:
  virtual ~ILauncher() = default;
  virtual HRESULT OpenUrl(const char* url) = 0;
  virtual HRESULT OpenFile(const char* path, const char* folder) = 0;
};
ILauncher& SystemLauncher();

// ShellOpen: an address of an allowed scheme through OpenUrl, anything else as a file.
HRESULT ShellOpen(ILauncher& launcher, const std::string& target);

// The tray menu: what it holds and what its commands do.
class TrayMenuController {
 public:
  TrayMenuController(HMODULE resources, ILauncher& launcher, std::function<void()> openConfiguration)
      : resources_(resources), launcher_(launcher), openConfiguration_(std::move(openConfiguration)) {}

  // Reads "Path" and "Actions" and builds the menu; false when a string of the menu is missing
  // (the menu is then not shown).
  bool Build();
  const std::vector<MenuItem>& Items() const { return items_; }
  const std::vector<ActionItem>& Actions() const { return actions_; }
  const std::string& HelpFile() const { return helpFile_; }
  // Carries out a command of the last built menu; 0 (dismissed) does nothing.
  void Command(UINT id);

 private:
  HMODULE resources_;
  ILauncher& launcher_;
  std::function<void()> openConfiguration_;
  std::vector<MenuItem> items_;
  std::vector<ActionItem> actions_;
  std::vector<DWORD> table_;
  std::string helpFile_;
  std::string actionsFolder_;
};

}  // namespace vtx::manager
