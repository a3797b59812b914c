#include "engine/notify/displayfile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

#include "engine/foundation/regvalue.h"
#include "engine/foundation/servercommands.h"
#include "platform/native/syscalls.h"
#include "platform/service.h"

namespace vtx::notify {

const char kDisplaySeparator[] = "\r\n\r\n---\r\n\r\n";

namespace {
// A writer holds the lock for one read and one replace of a bounded file.
constexpr DWORD kLockWaitMs = 4500;
}  // namespace

DisplayFileLock::DisplayFileLock(const std::string& path) {
  // Like the other lock files: never through a link, and shared by the product's group.
  fd_ = vtx::sys::Open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0660);
  if (fd_ < 0) return;
  struct stat st;
  // Made with another account's rights (the messenger writes as the product's account), it is
  // that account's to share.
  uid_t fileUser = static_cast<uid_t>(vtx::sys::Setfsuid(static_cast<uid_t>(-1)));
  if (vtx::sys::Fstat(fd_, &st) == 0 && st.st_uid == fileUser) vtx::ShareWithProductGroup(fd_, 0660);
  held_ = SUCCEEDED(vtx::LockWithin(fd_, kLockWaitMs));
}

DisplayFileLock::~DisplayFileLock() {
  if (fd_ >= 0) vtx::sys::Close(fd_);
}

HRESULT ReadDisplayFile(const char* path, size_t cap, std::string* text, vtx::FileStamp* stamp) {
  // One byte more than the cap tells whether the file goes on.
  HRESULT hr = vtx::ReadRegularFile(path, cap + 1, text, stamp);
  if (FAILED(hr) || text->size() <= cap) return hr;
  text->resize(cap);
  size_t cut = text->rfind(kDisplaySeparator);
  if (cut != std::string::npos && cut > 0) text->resize(cut);
  return hr;
}

bool DeleteDisplayFileIfUnchanged(const std::string& path, const vtx::FileStamp& shown) {
  DisplayFileLock lock(path);
  vtx::FileStamp now;
  return lock.held() && SUCCEEDED(vtx::StampFile(path.c_str(), &now)) && now == shown &&
         vtx::sys::Unlink(path.c_str()) == 0;
}

HRESULT RegisterDisplayMessages() {
  RegStringValueA value;
  if (SUCCEEDED(value.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "DisplayMessages")) && value.GetString() &&
      *value.GetString())
    return S_FALSE;
  value = vtx::service::DefaultDisplayMessagesPath().c_str();
  return value.Save(HKEY_LOCAL_MACHINE, g_szAppKey, "DisplayMessages");
}

}  // namespace vtx::notify
