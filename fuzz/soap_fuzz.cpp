// The SOAP envelope reader on arbitrary bytes: either a request of the table or a client fault.
#include <cstddef>
#include <cstdint>
#include <string>

#include "webservice/soap.h"

using namespace vtx::soap;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Service service = [] {
    Service s{"Vantrex", "urn:fuzz/", "", {}};
    s.operations.push_back(Operation{"Op", "", {{"a", Type::String}, {"b", Type::Double}, {"c", Type::Boolean}},
                                     Type::String, [](const std::vector<Value>& v) {
                                       return Value::Str(v[0].text ? *v[0].text : std::string("\x01\xC3"));
                                     }});
    s.operations.push_back(Operation{"Count", "", {{"n", Type::Int}}, Type::None,
                                     [](const std::vector<Value>&) { return Value::Nothing(); }});
    return s;
  }();
  // The first byte picks the SOAP version, the rest is the body.
  if (size == 0) return 0;
  const char* type = data[0] & 1 ? "application/soap+xml" : "text/xml";
  Reply r = Dispatch(service, reinterpret_cast<const char*>(data + 1), size - 1, type, "");
  if (r.status != 200 && r.status != 400 && r.status != 500) __builtin_trap();
  return 0;
}
