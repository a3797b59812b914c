// SOAP 1.1 and 1.2 envelopes (document/literal wrapped), faults and the WSDL, all driven by one
// operation table. Knows nothing of HTTP or of what the operations do.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vtx::soap {

// None is the result of an operation that answers nothing.
enum class Type { String, Double, Boolean, Int, None };

// A parameter or result. Strings are UTF-8; a string without value is null.
struct Value {
  Type type = Type::String;
  std::optional<std::string> text;
  double number = 0;
  bool flag = false;
  int32_t integer = 0;

  static Value Str(std::optional<std::string> s) { return Value{Type::String, std::move(s), 0, false}; }
  static Value Num(double d) { return Value{Type::Double, std::nullopt, d, false}; }
  static Value Bool(bool b) { return Value{Type::Boolean, std::nullopt, 0, b}; }
  static Value Int(int32_t i) { return Value{Type::Int, std::nullopt, 0, false, i}; }
  static Value Nothing() { return Value{Type::None, std::nullopt, 0, false}; }
};

struct Param {
  const char* name;
  Type type;
};

// What an operation throws to end the call with a fault.
struct ServiceFault : std::runtime_error {
  ServiceFault(bool clientFault, std::string exceptionType, const std::string& message, std::string parameter,
               uint32_t hresult)
      : std::runtime_error(message),
        client(clientFault),
        type(std::move(exceptionType)),
        paramName(std::move(parameter)),
        hr(hresult) {}
  bool client;            // the caller's fault (Client / Sender), else Server / Receiver
  std::string type;       // exception type, as "System.ArgumentNullException"
  std::string paramName;  // empty when none
  uint32_t hr;
  // A fault code of the envelope's own ("MustUnderstand", "VersionMismatch") in place of the
  // caller's or the server's; with MustUnderstand, the header that was not understood.
  std::string code;
  std::string headerNs, headerName;
};

struct Operation {
  const char* name;
  const char* description;
  std::vector<Param> params;
  Type result;
  std::function<Value(const std::vector<Value>&)> call;
};

struct Service {
  std::string name;  // "Vantrex"
  std::string ns;    // target namespace; soapAction = ns + operation
  std::string description;
  std::vector<Operation> operations;

  const Operation* Find(const std::string& name) const;
};

enum class Version { Soap11, Soap12 };

extern const char kSoap11Ns[];
extern const char kSoap12Ns[];

// A request read from an envelope: the operation and its arguments in table order.
struct Request {
  Version version = Version::Soap11;
  const Operation* op = nullptr;
  std::vector<Value> args;
};

// Limits of a request's shape, far above what any operation needs: attributes of one element, and
// elements (with comments and processing instructions) of the whole envelope.
constexpr size_t kMaxAttributes = 256;
constexpr size_t kMaxNodes = 1024;

// Reads an envelope. `version` is the form the content type asks for; the envelope's own namespace
// must agree (an envelope of a namespace of no SOAP version is a VersionMismatch fault), and a
// header block that must be understood is a MustUnderstand fault (the service understands none).
// An envelope beyond the limits above, a DOCTYPE, malformed XML, a wrong envelope, an unknown
// operation or a bad value throw a client ServiceFault; nothing is fetched from the network and no
// entity is expanded. `charset` (the HTTP Content-Type's) is the encoding of a document that names
// none of its own (no byte order mark, no encoding in its XML declaration).
Request ParseRequest(const Service& service, const char* body, size_t size, Version version,
                     const std::string& soapAction, const std::string& charset = "");
// The charset parameter of a Content-Type, unquoted; empty when it has none.
std::string CharsetOf(const std::string& contentType);

// The response envelope of a result, and the fault envelope of a fault.
std::string WriteResponse(const Service& service, const Request& request, const Value& result);
std::string WriteFault(const Service& service, Version version, const ServiceFault& fault);

// The service description; `location` is the address clients are to call.
std::string WriteWsdl(const Service& service, const std::string& location);
// A small HTML page that lists the operations with their descriptions and links the description.
std::string WriteServicePage(const Service& service, const std::string& wsdlAddress);

// XML-safe text: valid UTF-8 of characters XML can carry, everything else U+FFFD; escaped.
std::string XmlEscape(const std::string& utf8);
// The shortest text that reads back as the same double (INF, -INF, NaN as XML Schema spells them).
std::string DoubleText(double d);
// XML Schema double text; false when it is not one.
bool ParseDouble(const std::string& text, double* out);

// Runs one request through the table: the response or fault envelope, with the HTTP status.
struct Reply {
  int status;
  std::string body;
  std::string contentType;
  // A failed call, for the log: the operation, the fault's code and its text; empty on success.
  std::string failure;
};
Reply Dispatch(const Service& service, const char* body, size_t size, const std::string& contentType,
               const std::string& soapAction);

// Dispatch in two steps, so that a host can decide where a call runs once it knows the operation:
// Prepare reads the request (a request it cannot read has its reply already), Run runs it.
struct Prepared {
  Version version = Version::Soap11;
  std::optional<Request> request;
  Reply reply;
};
Prepared Prepare(const Service& service, const char* body, size_t size, const std::string& contentType,
                 const std::string& soapAction);
Reply Run(const Service& service, Prepared& prepared);

}  // namespace vtx::soap
