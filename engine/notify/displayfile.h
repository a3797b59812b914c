// The display-messages file: the on-screen messages that the messenger keeps for the manager,
// newest first, entries apart by kDisplaySeparator. Every write puts a whole new file in place by
// rename; writers and deleters take the lock file "<file>.lock" (the file itself is replaced, so
// it cannot carry the lock).
#pragma once
#include <cstddef>
#include <string>

#include "platform/files.h"
#include "platform/types.h"

namespace vtx::notify {

extern const char kDisplaySeparator[];  // "\r\n\r\n---\r\n\r\n"

// The lock of the display-messages file at `path`, waited for up to 4.5 s.
class DisplayFileLock {
 public:
  explicit DisplayFileLock(const std::string& path);
  ~DisplayFileLock();
  DisplayFileLock(const DisplayFileLock&) = delete;
  DisplayFileLock& operator=(const DisplayFileLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// The file as a viewer shows it: at most `cap` bytes; a longer file is cut at the last separator
// before the cap, so that whole entries, the newest ones, remain. Never waits on a FIFO or a
// device (only a regular file is read). The errors of vtx::ReadRegularFile.
HRESULT ReadDisplayFile(const char* path, size_t cap, std::string* text, vtx::FileStamp* stamp);

// Deletes the file under its lock, only while it is still the one `shown` describes (a message
// written since then stays). True when the file was deleted.
bool DeleteDisplayFileIfUnchanged(const std::string& path, const vtx::FileStamp& shown);

// Registers the default display-messages file ("DisplayMessages.txt" in the product's data folder)
// as "DisplayMessages" unless the store names one already (S_FALSE then).
HRESULT RegisterDisplayMessages();

}  // namespace vtx::notify
