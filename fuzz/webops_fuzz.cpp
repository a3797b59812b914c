// The web service's own operation table on a private store with rates: either a raw envelope (the
// first byte's low bit set), or one operation with argument texts of the input (the second byte
// picks it, NUL-separated texts fill its string parameters, up to 1 MiB in all). Every call ends
// in a response or a fault, with the status that goes with it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/currency/ratesdata.h"
#include "engine/currency/settings.h"
#include "engine/foundation/inidatabuffer.h"
#include "engine/foundation/regvalue.h"
#include "fuzz/privatestore.h"
#include "platform/native/productpaths.h"
#include "platform/resources.h"
#include "webservice/soap.h"
#include "webservice/web/service.h"

using namespace vtx::soap;

namespace {

void Seed() {
  fuzzstore::UsePrivateStore("webops");
  setenv(vtx::env::kAppData, std::getenv(vtx::env::kRuntimeDir), 1);
  CSettings s;
  if (!s.Create(nullptr)) std::abort();
  CIniDataBuffer<char> ini;
  if (!ini.SetBuffer("[General]\nSource = Fuzz bank\n[EUR]\nUSD = 1.25\nGBP = 0.8\nJPY = 160\nCHF = 0\n"
                     "[Smallest]\nJPY = 1\n") ||
      ini.Load(g_IniTable, kIniTableCount) != 0)
    std::abort();
  s.LoadINIBegin();
  if (s.LoadINI(ini, nullptr, nullptr, false) != 0) std::abort();
  s.LoadINIEnd();
  if (s.Save() != 0 || s.SaveINI() != 0) std::abort();
  // The English catalogue, kept loaded so that each call finds it at once.
  std::string catalogue = std::string(VANTREX_SOURCE_DIR) + "/resources/0409/vantrex.cat";
  RegStringValueA value;
  value = catalogue.c_str();
  if (value.Save(HKEY_LOCAL_MACHINE, g_szAppKey, "Resources0409") != 0) std::abort();
  static HMODULE kept = LoadLibraryA(catalogue.c_str());
  if (!kept) std::abort();
}

std::string Envelope(const Service& service, const Operation& op, const std::vector<std::string>& texts,
                     const uint8_t* bits, size_t bitCount, bool v12) {
  std::string body = "<" + std::string(op.name) + " xmlns=\"" + service.ns + "\">";
  size_t text = 0;
  for (size_t i = 0; i < op.params.size(); ++i) {
    const Param& p = op.params[i];
    uint8_t b = i < bitCount ? bits[i] : 0;
    std::string value;
    if (p.type == Type::String) {
      if (b & 1) continue;  // absent: null
      value = text < texts.size() ? XmlEscape(texts[text++]) : std::string();
    } else if (p.type == Type::Boolean) {
      value = b & 1 ? "true" : "false";
    } else {
      static const char* kNumbers[] = {"1", "0", "-1", "100.5", "1e308", "INF", "-INF", "NaN", "1e-320", "123456789012"};
      value = kNumbers[b % (sizeof kNumbers / sizeof kNumbers[0])];
    }
    body += "<" + std::string(p.name) + ">" + value + "</" + p.name + ">";
  }
  body += "</" + std::string(op.name) + ">";
  return std::string("<s:Envelope xmlns:s=\"") + (v12 ? kSoap12Ns : kSoap11Ns) + "\"><s:Body>" + body +
         "</s:Body></s:Envelope>";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Service service = [] {
    Seed();
    return MakeVantrexService();
  }();
  if (size < 2 || size > (1u << 20) + 16) return 0;
  bool v12 = data[0] & 2;
  const char* type = v12 ? "application/soap+xml; charset=utf-8" : "text/xml; charset=utf-8";
  std::string body;
  if (data[0] & 1) {
    body.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  } else {
    const Operation& op = service.operations[data[1] % service.operations.size()];
    const uint8_t* bits = data + 2;
    size_t bitCount = std::min<size_t>(size - 2, 8);
    std::string rest(reinterpret_cast<const char*>(data + 2 + bitCount), size - 2 - bitCount);
    std::vector<std::string> texts;
    for (size_t at = 0;;) {
      size_t nul = rest.find('\0', at);
      texts.push_back(rest.substr(at, nul == std::string::npos ? std::string::npos : nul - at));
      if (nul == std::string::npos) break;
      at = nul + 1;
    }
    body = Envelope(service, op, texts, bits, bitCount, v12);
  }
  Reply r = Dispatch(service, body.data(), body.size(), type, "");
  if (r.status != 200 && r.status != 400 && r.status != 500) std::abort();
  return 0;
}
