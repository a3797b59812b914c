#include "platform/mapi.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/codepage.h"
#include "platform/native/syscalls.h"
#include "platform/process.h"
#include "platform/native/productpaths.h"

namespace {

// An anonymous file that the child reads or writes; closed with the object.
class MemoryFile {
 public:
  explicit MemoryFile(const char* name) : fd_(vtx::sys::MemfdCreate(name, MFD_CLOEXEC)) {}
  ~MemoryFile() {
    if (fd_ >= 0) vtx::sys::Close(fd_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  int fd() const { return fd_; }

  bool Write(const std::string& data) {
    for (size_t done = 0; done < data.size();) {
      ssize_t n = vtx::sys::Write(fd_, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return vtx::sys::Lseek(fd_, 0, SEEK_SET) == 0;
  }
  std::string ReadAll() {
    std::string text;
    if (vtx::sys::Lseek(fd_, 0, SEEK_SET) != 0) return text;
    char buf[4096];
    for (ssize_t n; (n = vtx::sys::Read(fd_, buf, sizeof buf)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || text.size() > 65536) break;
      text.append(buf, static_cast<size_t>(n));
    }
    return text;
  }

 private:
  int fd_;
};

// The last line the transport wrote that says something.
std::string LastLine(const std::string& text) {
  size_t end = text.find_last_not_of("\r\n \t");
  if (end == std::string::npos) return "";
  size_t start = text.find_last_of('\n', end);
  start = start == std::string::npos ? 0 : start + 1;
  return text.substr(start, end + 1 - start);
}

}  // namespace

namespace vtx::mapi {

std::string TransportProgram() {
  return env::Get(env::kSendmail, env::kDefaultSendmail);
}

HRESULT Logon(const char* profile) {
  if (profile && *profile) return MAPI_E_LOGON_FAILED;
  return vtx::sys::Access(TransportProgram().c_str(), X_OK) == 0 ? S_OK : MAPI_E_LOGON_FAILED;
}

HRESULT Submit(const std::string& message, DWORD timeoutMs, std::string* errorText) {
  std::string ignored;
  std::string& error = errorText ? *errorText : ignored;
  error.clear();
  // The sendmail interface reads local text: lines end in LF alone.
  std::string text;
  text.reserve(message.size());
  for (size_t i = 0; i < message.size(); ++i)
    if (!(message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n')) text += message[i];

  MemoryFile input("vantrex-mail"), output("vantrex-mail-errors");
  if (input.fd() < 0 || output.fd() < 0 || !input.Write(text)) {
    error = "The message could not be handed to the local mail transport.";
    return HRESULT_FROM_WIN32(Win32FromErrno(errno));
  }
  ProgramStart start;
  start.program = TransportProgram();
  start.arguments = {"-t", "-i"};
  start.inputFd = input.fd();
  start.errorFd = output.fd();
  DWORD code = 0;
  HRESULT hr = RunProgram(start, timeoutMs, &code);
  std::string said = LastLine(output.ReadAll());
  if (hr == E_TIMEOUT) {
    error = "The local mail transport (" + start.program + ") did not take the message within " +
            std::to_string(timeoutMs / 1000) + " seconds.";
    return hr;
  }
  if (FAILED(hr)) {
    error = "The local mail transport (" + start.program + ") could not be started.";
    return hr;
  }
  if (code != 0) {
    error = "The local mail transport (" + start.program + ") refused the message" + (said.empty() ? "." : ": " + said);
    return E_FAIL;
  }
  return S_OK;
}

}  // namespace vtx::mapi
