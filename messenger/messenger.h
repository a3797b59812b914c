// vtxmessenger: on-screen messages into the display-messages file, and programs started for the
// other programs of the system, under a configured account or the caller's own; a watchdog on
// vtxservice.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"
#include "serviceframe/frame.h"

namespace vtx::msg {

// Adds one entry for `text` at the top of the display-messages file: the header of
// DisplayMessageEntry with the text as its title. The file is replaced whole (a reader sees the
// old file or the new one); writers take the lock file "<path>.lock", up to 10 tries 500 ms
// apart. S_FALSE when there is nothing to write (no path or no text), E_TIMEOUT when the lock was
// not to be had (the entry is lost), else the result of the write.
// The file keeps the newest entries within kMaxDisplayFileBytes; one entry is cut at
// kMaxDisplayEntryBytes.
constexpr size_t kMaxDisplayFileBytes = 1024 * 1024;
constexpr size_t kMaxDisplayEntryBytes = 64 * 1024;
HRESULT WriteDisplayLog(const std::string& path, const char* text, UINT flags, HMODULE resourceLibrary);
// Deletes the file under the same lock; true when a file was deleted.
bool DeleteDisplayLog(const std::string& path);

// The text and the message-box flags of a VXMSG_MESSAGEBOX or VXMSG_MESSAGEDIALOG request, read
// within its data; false for another request or data that do not hold a whole text.
bool ReadDisplayRequest(ULONG_PTR kind, const void* data, DWORD size, std::string* text, UINT* flags);

// A VXMSG_EXECUTE request, read within its data.
struct ExecuteRequest {
  DWORD owner = 0;
  DWORD wait = 0;
  std::string file, parameters, directory, user, domain, password;
};
// False when the data are too short or a string does not end inside them.
bool ParseExecute(const void* data, DWORD size, ExecuteRequest* request);
// The program and its arguments: the file (without the double quotes around a path with blanks)
// and the parameters split as a Windows program splits its command line.
vtx::ProgramStart BuildCommandLine(const ExecuteRequest& request);

class Messenger : public vtx::svc::ServiceModule {
 public:
  Messenger();
  ~Messenger() override;

  // The most waited programs that run at once; a further request is refused as busy.
  static constexpr size_t kMaxWaitedRuns = 32;

 protected:
  DWORD OnStart() override;
  void OnRunEnded() override;
  DWORD OnRequest(DWORD msg, WPARAM wParam, LPARAM lParam) override;
  void OnWatchdogTick() override;
  void OnPeerSilent() override;
  std::vector<vtx::service::UnitConfig> Units() const override;
  HRESULT OnInstalled(std::string* message) override;
  void OnUninstalled() override;

 private:
  struct WaitedRun;
  DWORD Execute(const COPYDATASTRUCT& cds);
  // WriteDisplayLog of the configured file, as ProductFileAccess allows: S_OK when the entry
  // was written.
  HRESULT WriteDisplay(const char* text, UINT flags);
  bool MayExecute();
  void FinishRun(WaitedRun* run, bool ended);

  HMODULE resources_ = nullptr;
  std::string displayLog_;
  std::vector<std::unique_ptr<WaitedRun>> runs_;
};

}  // namespace vtx::msg
