// The messenger's pipe payloads: a message box, a message dialog or a program start, whatever
// bytes they hold. A message is written to a display-messages file of its own, which must then
// hold exactly one entry: no text poses as a second one. A program start is read and its command
// line built, never run.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/notify/displayfile.h"
#include "engine/notify/notifychannels.h"
#include "fuzz/privatestore.h"
#include "messenger/messenger.h"
#include "platform/native/productpaths.h"
#include "platform/resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static HMODULE catalogue = nullptr;
  static const std::string path = [] {
    fuzzstore::UsePrivateStore("messenger");
    catalogue = LoadLibraryA(VANTREX_SOURCE_DIR "/resources/0409/vantrex.cat");
    if (!catalogue) std::abort();
    return std::string(std::getenv(vtx::env::kRuntimeDir)) + "/display.txt";
  }();
  if (size < 1 || size > 1u << 16) return 0;
  // The first byte picks the request, the rest is its data.
  const ULONG_PTR kinds[3] = {VXMSG_MESSAGEBOX, VXMSG_MESSAGEDIALOG, VXMSG_EXECUTE};
  const ULONG_PTR kind = kinds[data[0] % 3];
  const void* payload = data + 1;
  const DWORD length = static_cast<DWORD>(size - 1);

  if (kind == VXMSG_EXECUTE) {
    vtx::msg::ExecuteRequest request;
    if (vtx::msg::ParseExecute(payload, length, &request)) {
      vtx::ProgramStart start = vtx::msg::BuildCommandLine(request);
      if (start.program.size() > request.file.size()) std::abort();
    }
    return 0;
  }
  std::string text;
  UINT flags = 0;
  if (!vtx::msg::ReadDisplayRequest(kind, payload, length, &text, &flags)) return 0;
  if (text.size() >= length) std::abort();  // read within the data
  unlink(path.c_str());
  HRESULT hr = vtx::msg::WriteDisplayLog(path, text.c_str(), flags, catalogue);
  if (FAILED(hr)) std::abort();
  std::string written;
  vtx::FileStamp stamp;
  if (hr == S_OK) {
    if (FAILED(vtx::notify::ReadDisplayFile(path.c_str(), 1u << 20, &written, &stamp))) std::abort();
    if (written.find(vtx::notify::kDisplaySeparator) != std::string::npos) std::abort();
  }
  return 0;
}
