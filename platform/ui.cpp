#include "platform/ui.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/native/syscalls.h"

namespace {

struct Button {
  int id;
  const char* label;  // the first letter is the key
};

std::vector<Button> ButtonSet(UINT type) {
  switch (type & 0xF) {
    case MB_OKCANCEL: return {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
    case MB_ABORTRETRYIGNORE: return {{IDABORT, "Abort"}, {IDRETRY, "Retry"}, {IDIGNORE, "Ignore"}};
    case MB_YESNOCANCEL: return {{IDYES, "Yes"}, {IDNO, "No"}, {IDCANCEL, "Cancel"}};
    case MB_YESNO: return {{IDYES, "Yes"}, {IDNO, "No"}};
    case MB_RETRYCANCEL: return {{IDRETRY, "Retry"}, {IDCANCEL, "Cancel"}};
    default: return {{IDOK, "OK"}};
  }
}

const char* KindOf(UINT type) {
  switch (type & 0xF0) {
    case MB_ICONHAND: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONWARNING: return "warning";
    case MB_ICONINFORMATION: return "information";
    default: return nullptr;
  }
}

std::atomic<vtx::ui::MessageBoxBackend> g_backend{nullptr};

// A process without a screen.
class HeadlessDialogs : public vtx::ui::MessageDialogBackend {
 public:
  HRESULT Post(std::function<void()>) override { return E_NOTIMPL; }
  HRESULT Open(const vtx::ui::MessageDialogSpec&, std::function<void(int)>, vtx::ui::MessageDialogId*) override {
    return E_NOTIMPL;
  }
  void SetText(vtx::ui::MessageDialogId, const char*, bool) override {}
  void Close(vtx::ui::MessageDialogId) override {}
  HRESULT ShowModal(const vtx::ui::MessageDialogSpec&, int*) override { return E_NOTIMPL; }
};

std::atomic<vtx::ui::MessageDialogBackend*> g_dialogs{nullptr};

}  // namespace

namespace vtx::ui {

MessageBoxBackend SetMessageBoxBackend(MessageBoxBackend backend) { return g_backend.exchange(backend); }

MessageDialogBackend* SetMessageDialogBackend(MessageDialogBackend* backend) { return g_dialogs.exchange(backend); }

MessageDialogBackend& MessageDialogs() {
  static HeadlessDialogs headless;
  MessageDialogBackend* installed = g_dialogs.load();
  return installed ? *installed : headless;
}

std::vector<int> ButtonsOf(UINT type) {
  std::vector<int> ids;
  for (const Button& b : ButtonSet(type)) ids.push_back(b.id);
  return ids;
}

size_t DefaultButtonIndex(UINT type) {
  size_t def = (type >> 8) & 0xF;
  return def < ButtonSet(type).size() ? def : 0;
}

int MessageBoxOn(FILE* in, FILE* out, bool interactive, const char* text, const char* caption, UINT type) {
  std::vector<Button> buttons = ButtonSet(type);
  size_t def = DefaultButtonIndex(type);
  std::string cap = vtx::AnsiToUtf8(caption ? caption : "Error");
  std::string body = vtx::AnsiToUtf8(text ? text : "");
  const char* kind = KindOf(type);
  std::fprintf(out, "%s%s%s%s: %s\n", cap.c_str(), kind ? " (" : "", kind ? kind : "", kind ? ")" : "",
               body.c_str());
  if (!interactive || !in || buttons.size() == 1) {
    std::fflush(out);
    return buttons[def].id;
  }
  for (;;) {
    for (size_t i = 0; i < buttons.size(); ++i)
      std::fprintf(out, "%s[%c]%s", i ? " " : "", buttons[i].label[0], buttons[i].label + 1);
    std::fprintf(out, " (default %s): ", buttons[def].label);
    std::fflush(out);
    char line[256];
    if (!std::fgets(line, sizeof line, in)) return buttons[def].id;
    std::string answer;
    for (char* p = line; *p; ++p)
      if (!std::isspace(static_cast<unsigned char>(*p))) answer.push_back(static_cast<char>(std::tolower(*p)));
    if (answer.empty()) return buttons[def].id;
    for (auto& b : buttons) {
      std::string label;
      for (const char* p = b.label; *p; ++p) label.push_back(static_cast<char>(std::tolower(*p)));
      if (answer == label || (answer.size() == 1 && answer[0] == label[0])) return b.id;
    }
  }
}

}  // namespace vtx::ui

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
  if (vtx::ui::MessageBoxBackend backend = g_backend.load()) return backend(owner, text, caption, type);
  bool tty = vtx::sys::Isatty(STDIN_FILENO) && vtx::sys::Isatty(STDERR_FILENO);
  return vtx::ui::MessageBoxOn(stdin, stderr, tty, text, caption, type);
}
