// A filter definition file as the server loads it from the filters folder (written to a private
// folder first), and the look-ups of addresses in it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/currency/filterdef.h"
#include "fuzz/privatestore.h"
#include "platform/native/productpaths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    fuzzstore::UsePrivateStore("filterdef");
    return std::string(std::getenv(vtx::env::kRuntimeDir));
  }();
  if (size > 1u << 20) return 0;
  {
    std::ofstream out(folder + "/Fuzz.ini", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  CFilter filter;
  HRESULT result = 0;
  if (!filter.Create(folder.c_str(), "fuzz.INI", &result)) return 0;
  filter.GetDisplayName();
  filter.IsDefault();
  // Every address of the definition finds its own entry (or an earlier one of the same text).
  for (uint32_t i = 0; i < filter.GetURLCount(); ++i) {
    const char* address = filter.GetURLAddress(i);
    if (!address) continue;
    int32_t at = filter.FindURL(address);
    if (at < 0 || static_cast<uint32_t>(at) > i) std::abort();
    if (filter.IFindURL(address) < 0) std::abort();
    filter.GetAddressName(address);
    filter.ReplacedBy(address);
  }
  filter.FindURL("");
  filter.GetAddressName("http://example.com/rates.csv");
  return 0;
}
