// The display-messages file as the manager reads it, whatever the file holds: at most the cap,
// a prefix of the file, and a file longer than the cap cut before a separator when one lies
// within the cap (whole entries, the newest ones, remain).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/notify/displayfile.h"
#include "fuzz/privatestore.h"
#include "platform/native/productpaths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    fuzzstore::UsePrivateStore("displayfile");
    return std::string(std::getenv(vtx::env::kRuntimeDir)) + "/display.txt";
  }();
  if (size < 2 || size > 1u << 16) return 0;
  // The first two bytes give the cap, the rest is the file.
  const size_t cap = static_cast<size_t>(data[0]) << 8 | data[1];
  const std::string file(reinterpret_cast<const char*>(data) + 2, size - 2);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    if (!out) std::abort();
  }
  std::string text;
  vtx::FileStamp stamp;
  if (FAILED(vtx::notify::ReadDisplayFile(path.c_str(), cap, &text, &stamp))) std::abort();
  if (text.size() > cap || file.compare(0, text.size(), text) != 0) std::abort();
  if (file.size() > cap) {
    const std::string sep = vtx::notify::kDisplaySeparator;
    size_t last = file.substr(0, cap).rfind(sep);
    if (last != std::string::npos && last > 0 && text.size() != last) std::abort();
  } else if (text != file) {
    std::abort();
  }
  return 0;
}
