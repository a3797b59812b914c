#include "webservice/soap.h"

#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/codepage.h"
#include "platform/errors.h"

namespace vtx::soap {

const char kSoap11Ns[] = "http://schemas.xmlsoap.org/soap/envelope/";
const char kSoap12Ns[] = "http://www.w3.org/2003/05/soap-envelope";
namespace {
const char kXsiNs[] = "http://www.w3.org/2001/XMLSchema-instance";

[[noreturn]] void Malformed(const std::string& message, uint32_t hr = E_INVALIDDATA) {
  throw ServiceFault(true, "System.Web.Services.Protocols.SoapException", message, "", hr);
}

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct CtxtFree {
  void operator()(xmlParserCtxt* c) const { xmlFreeParserCtxt(c); }
};

// The parser stops at a document type declaration: no internal subset, no entities, no DTD fetch.
void RefuseDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
  ctxt->_private = reinterpret_cast<void*>(1);
  xmlStopParser(ctxt);
}

// This thread's parser context, kept from one request to the next: making one takes a lock of the
// library's (for its dictionary's seed) that every request would otherwise queue on, and so does a
// document that shares the context's dictionary (hence XML_PARSE_NODICT). It is made anew after a
// request that went wrong, and before its dictionary of names grows large.
constexpr size_t kParserNames = 4096;
constexpr unsigned kParserUses = 10000;
thread_local std::unique_ptr<xmlParserCtxt, CtxtFree> t_parser;
thread_local unsigned t_parserUses = 0;

xmlParserCtxt* ThreadParser() {
  if (t_parser && (++t_parserUses > kParserUses || static_cast<size_t>(xmlDictSize(t_parser->dict)) > kParserNames)) t_parser.reset();
  if (!t_parser) {
    t_parser.reset(xmlNewParserCtxt());
    if (!t_parser) throw std::bad_alloc();
    t_parser->sax->internalSubset = RefuseDoctype;
    t_parser->sax->externalSubset = RefuseDoctype;
    t_parserUses = 0;
  }
  t_parser->_private = nullptr;
  return t_parser.get();
}

bool IsNs(const xmlNode* n, const char* ns) {
  return n->ns && n->ns->href && std::strcmp(reinterpret_cast<const char*>(n->ns->href), ns) == 0;
}
bool IsName(const xmlNode* n, const char* name) { return std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0; }

const xmlNode* FirstElement(const xmlNode* n) {
  for (; n; n = n->next)
    if (n->type == XML_ELEMENT_NODE) return n;
  return nullptr;
}

bool HasNonBlankText(const xmlNode* parent) {
  for (const xmlNode* c = parent->children; c; c = c->next)
    if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE)
      for (const xmlChar* p = c->content; p && *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return true;
  return false;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// A caller's text for a log line: one line, at most 300 bytes.
std::string Printable(const std::string& text) {
  std::string out = text.substr(0, 300);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return out;
}

std::string Content(const xmlNode* n) {
  std::string s;
  for (const xmlNode* c = n->children; c; c = c->next) {
    if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
      if (c->content) s += reinterpret_cast<const char*>(c->content);
    } else if (c->type == XML_ELEMENT_NODE) {
      Malformed(std::string("Element ") + reinterpret_cast<const char*>(n->name) + " must hold text only.");
    }
  }
  return s;
}

bool IsNil(const xmlNode* n) {
  for (const xmlAttr* a = n->properties; a; a = a->next) {
    if (!a->ns || !a->ns->href || std::strcmp(reinterpret_cast<const char*>(a->ns->href), kXsiNs) != 0 ||
        std::strcmp(reinterpret_cast<const char*>(a->name), "nil") != 0)
      continue;
    xmlChar* v = xmlNodeListGetString(a->doc, a->children, 1);
    std::string t = Trim(v ? reinterpret_cast<const char*>(v) : "");
    xmlFree(v);
    return t == "true" || t == "1";
  }
  return false;
}

// xs:int: an optional sign and decimal digits within 32 bits.
bool ParseInt(const std::string& t, int32_t* out) {
  size_t i = (!t.empty() && (t[0] == '+' || t[0] == '-')) ? 1 : 0;
  if (i == t.size()) return false;
  int64_t v = 0;
  for (size_t k = i; k < t.size(); ++k) {
    if (t[k] < '0' || t[k] > '9') return false;
    v = v * 10 + (t[k] - '0');
    if (v > 2147483648LL) return false;
  }
  if (t[0] == '-') v = -v;
  if (v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

// A header block addressed to this node that it must understand (it understands none).
bool MustUnderstand(const xmlNode* block, Version version) {
  const char* envNs = version == Version::Soap12 ? kSoap12Ns : kSoap11Ns;
  bool must = false;
  for (const xmlAttr* a = block->properties; a; a = a->next) {
    if (!a->ns || !a->ns->href || std::strcmp(reinterpret_cast<const char*>(a->ns->href), envNs) != 0) continue;
    xmlChar* raw = xmlNodeListGetString(a->doc, a->children, 1);
    std::string v = Trim(raw ? reinterpret_cast<const char*>(raw) : "");
    xmlFree(raw);
    const char* name = reinterpret_cast<const char*>(a->name);
    if (std::strcmp(name, "mustUnderstand") == 0) {
      must = v == "1" || (version == Version::Soap12 && v == "true");
    } else if (version == Version::Soap11 && std::strcmp(name, "actor") == 0) {
      if (v != "http://schemas.xmlsoap.org/soap/actor/next") return false;  // for another node
    } else if (version == Version::Soap12 && std::strcmp(name, "role") == 0) {
      if (v != "http://www.w3.org/2003/05/soap-envelope/role/next" &&
          v != "http://www.w3.org/2003/05/soap-envelope/role/ultimateReceiver")
        return false;
    }
  }
  return must;
}

Value ReadValue(const Param& p, const xmlNode* n) {
  if (p.type == Type::String) {
    if (IsNil(n)) return Value::Str(std::nullopt);
    return Value::Str(Content(n));
  }
  if (IsNil(n)) Malformed(std::string("Parameter ") + p.name + " requires a value.", E_INVALIDARG);
  std::string t = Trim(Content(n));
  if (p.type == Type::Int) {
    int32_t v = 0;
    if (!ParseInt(t, &v)) Malformed(std::string("Parameter ") + p.name + " is not an int.", E_INVALIDARG);
    return Value::Int(v);
  }
  if (p.type == Type::Boolean) {
    if (t == "true" || t == "1") return Value::Bool(true);
    if (t == "false" || t == "0") return Value::Bool(false);
    Malformed(std::string("Parameter ") + p.name + " is not a boolean.", E_INVALIDARG);
  }
  double d;
  if (!ParseDouble(t, &d)) Malformed(std::string("Parameter ") + p.name + " is not a double.", E_INVALIDARG);
  return Value::Num(d);
}

const char* TypeName(Type t) {
  switch (t) {
    case Type::String: return "s:string";
    case Type::Double: return "s:double";
    case Type::Boolean: return "s:boolean";
    case Type::Int: return "s:int";
    case Type::None: break;
  }
  return "s:string";
}

std::string ValueText(const Value& v) {
  switch (v.type) {
    case Type::String: return XmlEscape(v.text ? *v.text : std::string());
    case Type::Double: return DoubleText(v.number);
    case Type::Boolean: return v.flag ? "true" : "false";
    case Type::Int: return std::to_string(v.integer);
    case Type::None: break;
  }
  return {};
}

char Hex(unsigned v) { return "0123456789ABCDEF"[v & 15]; }

bool At(const char* p, const char* end, const char* word) {
  size_t n = std::strlen(word);
  return static_cast<size_t>(end - p) >= n && std::memcmp(p, word, n) == 0;
}

// The parser's own checks grow faster than the text (each attribute is compared with the ones
// before it), so the envelope's shape is bounded first by a look at the bytes alone: attributes of
// one element, and elements, comments and instructions of the whole text. The look assumes
// nothing the parser does not check again.
void CheckShape(const char* p, size_t size) {
  const char* end = p + size;
  size_t nodes = 0;
  auto skipTo = [&](const char* from, const char* word) {
    const char* e = std::search(from, end, word, word + std::strlen(word));
    return e == end ? end : e + std::strlen(word);
  };
  while ((p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p))))) {
    if (++nodes > kMaxNodes)
      Malformed("The request has more than " + std::to_string(kMaxNodes) + " elements.");
    if (At(p, end, "<!--")) {
      p = skipTo(p + 4, "-->");
    } else if (At(p, end, "<![CDATA[")) {
      p = skipTo(p + 9, "]]>");
    } else if (At(p, end, "<?")) {
      p = skipTo(p + 2, "?>");
    } else {
      // A tag: the equals signs outside quoted values are its attributes.
      size_t attributes = 0;
      char quote = 0;
      for (++p; p < end; ++p) {
        char c = *p;
        if (quote) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '=') {
          if (++attributes > kMaxAttributes)
            Malformed("An element of the request has more than " + std::to_string(kMaxAttributes) + " attributes.");
        } else if (c == '>' || c == '<') {
          break;
        }
      }
    }
    if (p >= end) break;
  }
}
}  // namespace

const Operation* Service::Find(const std::string& opName) const {
  for (const Operation& op : operations)
    if (opName == op.name) return &op;
  return nullptr;
}

std::string XmlEscape(const std::string& s) {
  // Text that is not UTF-8 and characters that XML does not allow become U+FFFD.
  std::u16string in = vtx::Utf8ToWide(s), out;
  out.reserve(in.size() + 8);
  for (size_t i = 0; i < in.size(); ++i) {
    char16_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      out += c;
      out += in[++i];
      continue;
    }
    bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD);
    switch (allowed ? c : 0xFFFD) {
      case '&': out += u"&amp;"; break;
      case '<': out += u"&lt;"; break;
      case '>': out += u"&gt;"; break;
      case '"': out += u"&quot;"; break;
      case '\r': out += u"&#xD;"; break;
      default: out += allowed ? c : u'\uFFFD';
    }
  }
  return vtx::WideToUtf8(out);
}

std::string DoubleText(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "INF" : "-INF";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

bool ParseDouble(const std::string& raw, double* out) {
  std::string t = Trim(raw);
  // XML Schema spells INF and NaN; clients of other languages send inf, nan or Infinity.
  std::string lower;
  for (char c : t) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "inf" || lower == "+inf" || lower == "infinity" || lower == "+infinity") {
    *out = HUGE_VAL;
    return true;
  }
  if (lower == "-inf" || lower == "-infinity") {
    *out = -HUGE_VAL;
    return true;
  }
  if (lower == "nan") {
    *out = std::nan("");
    return true;
  }
  // [+-]? (digits (. digits?)? | . digits) ([eE] [+-]? digits)?
  size_t i = 0, n = t.size();
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  size_t mant = 0;
  while (i < n && t[i] >= '0' && t[i] <= '9') ++i, ++mant;
  if (i < n && t[i] == '.') {
    ++i;
    while (i < n && t[i] >= '0' && t[i] <= '9') ++i, ++mant;
  }
  if (mant == 0) return false;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    size_t exp = 0;
    while (i < n && t[i] >= '0' && t[i] <= '9') ++i, ++exp;
    if (exp == 0) return false;
  }
  if (i != n) return false;
  const char* b = t.c_str();
  if (*b == '+') ++b;
  auto r = std::from_chars(b, t.c_str() + n, *out);
  return r.ec == std::errc() && r.ptr == t.c_str() + n;
}

namespace {

// The document names its own encoding: a byte order mark, UTF-16 or UTF-32 without one (zero bytes
// in its first character), or an encoding in its XML declaration.
bool NamesItsEncoding(const char* body, size_t size) {
  const auto* b = reinterpret_cast<const unsigned char*>(body);
  if (size >= 2 && ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0xFF && b[1] == 0xFE) || !b[0] || !b[1])) return true;
  if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return true;
  if (size < 5 || std::memcmp(body, "<?xml", 5) != 0) return false;
  const char* end = static_cast<const char*>(memmem(body, size, "?>", 2));
  return end && memmem(body, static_cast<size_t>(end - body), "encoding", 8) != nullptr;
}

}  // namespace

std::string CharsetOf(const std::string& contentType) {
  for (size_t at = contentType.find(';'); at != std::string::npos; at = contentType.find(';', at + 1)) {
    std::string param = Trim(contentType.substr(at + 1, contentType.find(';', at + 1) - at - 1));
    if (param.size() < 8 || strncasecmp(param.c_str(), "charset=", 8) != 0) continue;
    std::string value = Trim(param.substr(8));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return value;
  }
  return {};
}

Request ParseRequest(const Service& service, const char* body, size_t size, Version version,
                     const std::string& soapAction, const std::string& charset) {
  if (size > static_cast<size_t>(INT32_MAX)) Malformed("The request is too large.");
  CheckShape(body, size);
  // The HTTP charset stands in for an encoding that the document does not name.
  const char* encoding = nullptr;
  if (!charset.empty() && !NamesItsEncoding(body, size)) {
    if (xmlCharEncodingHandlerPtr known = xmlFindCharEncodingHandler(charset.c_str())) {
      xmlCharEncCloseFunc(known);
    } else {
      Malformed("The request's charset \"" + Printable(charset) + "\" is not one the service reads.");
    }
    encoding = charset.c_str();
  }
  xmlParserCtxt* ctxt = ThreadParser();
  std::unique_ptr<xmlDoc, DocFree> doc(xmlCtxtReadMemory(ctxt, body, static_cast<int>(size), nullptr, encoding,
                                                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                                             XML_PARSE_NOCDATA | XML_PARSE_NODICT));
  const bool doctype = ctxt->_private != nullptr, wellFormed = doc && ctxt->wellFormed;
  if (doctype || !wellFormed) {
    doc.reset();
    t_parser.reset();
  }
  if (doctype) Malformed("A document type declaration is not allowed.");
  if (!wellFormed) Malformed("The request is not well-formed XML.");

  Request req;
  req.version = version;
  const char* envNs = version == Version::Soap12 ? kSoap12Ns : kSoap11Ns;
  const xmlNode* env = xmlDocGetRootElement(doc.get());
  if (!env || !IsName(env, "Envelope")) Malformed("The request is not a SOAP envelope.");
  if (!IsNs(env, envNs)) {
    if (IsNs(env, kSoap11Ns) || IsNs(env, kSoap12Ns))
      Malformed("The envelope's namespace does not match the content type's SOAP version.");
    ServiceFault f(true, "System.Web.Services.Protocols.SoapException",
                   "The envelope's namespace is not one of a SOAP version this service speaks.", "", E_INVALIDDATA);
    f.code = "VersionMismatch";
    throw f;
  }
  const xmlNode* part = FirstElement(env->children);
  if (part && IsNs(part, envNs) && IsName(part, "Header")) {
    for (const xmlNode* block = FirstElement(part->children); block; block = FirstElement(block->next)) {
      if (!MustUnderstand(block, version)) continue;
      std::string name = reinterpret_cast<const char*>(block->name);
      ServiceFault f(true, "System.Web.Services.Protocols.SoapHeaderException",
                     "The SOAP header " + name + " was not understood.", "", E_INVALIDARG);
      f.code = "MustUnderstand";
      f.headerName = name;
      f.headerNs = block->ns && block->ns->href ? reinterpret_cast<const char*>(block->ns->href) : "";
      throw f;
    }
    part = FirstElement(part->next);
  }
  if (!part || !IsNs(part, envNs) || !IsName(part, "Body")) Malformed("The envelope has no Body.");
  const xmlNode* wrapper = FirstElement(part->children);
  if (!wrapper) Malformed("The Body holds no operation.");
  if (FirstElement(wrapper->next)) Malformed("The Body holds more than one element.");
  std::string opName = reinterpret_cast<const char*>(wrapper->name);
  req.op = IsNs(wrapper, service.ns.c_str()) ? service.Find(opName) : nullptr;
  if (!req.op) Malformed("Unknown operation: " + opName, E_INVALIDARG);
  std::string action = soapAction;
  if (action.size() >= 2 && action.front() == '"' && action.back() == '"') action = action.substr(1, action.size() - 2);
  if (!action.empty() && action != service.ns + opName)
    Malformed("The SOAPAction \"" + action + "\" does not match the operation " + opName + ".", E_INVALIDARG);

  std::vector<const xmlNode*> found(req.op->params.size(), nullptr);
  for (const xmlNode* c = FirstElement(wrapper->children); c; c = FirstElement(c->next)) {
    if (!IsNs(c, service.ns.c_str())) continue;  // not ours: ignored, as unknown elements are
    for (size_t i = 0; i < found.size(); ++i) {
      if (!IsName(c, req.op->params[i].name)) continue;
      if (found[i]) Malformed(std::string("Parameter ") + req.op->params[i].name + " is given twice.", E_INVALIDARG);
      found[i] = c;
    }
  }
  if (HasNonBlankText(wrapper)) Malformed("The operation element holds text.");
  for (size_t i = 0; i < found.size(); ++i) {
    const Param& p = req.op->params[i];
    if (found[i]) {
      req.args.push_back(ReadValue(p, found[i]));
    } else if (p.type == Type::String) {
      req.args.push_back(Value::Str(std::nullopt));
    } else {
      Malformed(std::string("Parameter ") + p.name + " is required.", E_INVALIDARG);
    }
  }
  return req;
}

std::string WriteResponse(const Service& service, const Request& request, const Value& result) {
  const bool v12 = request.version == Version::Soap12;
  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"";
  out += v12 ? kSoap12Ns : kSoap11Ns;
  out += "\"><soap:Body><";
  out += request.op->name;
  out += "Response xmlns=\"" + XmlEscape(service.ns) + "\">";
  if (request.op->result != Type::None && (result.type != Type::String || result.text)) {
    out.append("<").append(request.op->name).append("Result>").append(ValueText(result));
    out.append("</").append(request.op->name).append("Result>");
  }
  out += "</" + std::string(request.op->name) + "Response></soap:Body></soap:Envelope>";
  return out;
}

std::string WriteFault(const Service& service, Version version, const ServiceFault& fault) {
  char hr[11] = "0x";
  for (int i = 0; i < 8; ++i) hr[2 + i] = Hex(fault.hr >> (28 - 4 * i));
  hr[10] = 0;
  std::string detail = "<ExceptionInfo xmlns=\"" + XmlEscape(service.ns) + "\"><ExceptionType>" +
                       XmlEscape(fault.type) + "</ExceptionType>";
  if (!fault.paramName.empty()) detail += "<ParameterName>" + XmlEscape(fault.paramName) + "</ParameterName>";
  detail += std::string("<HResult>") + hr + "</HResult></ExceptionInfo>";
  std::string text = XmlEscape(fault.what());
  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"";
  if (version == Version::Soap12) {
    out += kSoap12Ns;
    out += "\">";
    if (!fault.headerName.empty())
      out += "<soap:Header><soap:NotUnderstood xmlns:h=\"" + XmlEscape(fault.headerNs) + "\" qname=\"h:" +
             XmlEscape(fault.headerName) + "\"/></soap:Header>";
    out += "<soap:Body><soap:Fault><soap:Code><soap:Value>";
    out += !fault.code.empty() ? "soap:" + fault.code : fault.client ? "soap:Sender" : "soap:Receiver";
    out += "</soap:Value></soap:Code><soap:Reason><soap:Text xml:lang=\"en\">" + text +
           "</soap:Text></soap:Reason><soap:Detail>" + detail + "</soap:Detail></soap:Fault>";
  } else {
    out += kSoap11Ns;
    out += "\"><soap:Body><soap:Fault><faultcode>";
    out += !fault.code.empty() ? "soap:" + fault.code : fault.client ? "soap:Client" : "soap:Server";
    out += "</faultcode><faultstring>" + text + "</faultstring><detail>" + detail + "</detail></soap:Fault>";
  }
  out += "</soap:Body></soap:Envelope>";
  return out;
}

std::string WriteWsdl(const Service& service, const std::string& location) {
  const std::string ns = XmlEscape(service.ns);
  std::string o;
  o.reserve(16384);
  o += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
       "<wsdl:definitions xmlns:soap=\"http://schemas.xmlsoap.org/wsdl/soap/\""
       " xmlns:soap12=\"http://schemas.xmlsoap.org/wsdl/soap12/\""
       " xmlns:s=\"http://www.w3.org/2001/XMLSchema\""
       " xmlns:http=\"http://schemas.xmlsoap.org/wsdl/http/\""
       " xmlns:tns=\"" + ns + "\" targetNamespace=\"" + ns + "\" xmlns:wsdl=\"http://schemas.xmlsoap.org/wsdl/\">\n"
       "<wsdl:documentation xmlns:wsdl=\"http://schemas.xmlsoap.org/wsdl/\">" + XmlEscape(service.description) +
       "</wsdl:documentation>\n"
       "<wsdl:types><s:schema elementFormDefault=\"qualified\" targetNamespace=\"" + ns + "\">\n";
  for (const Operation& op : service.operations) {
    o += std::string("<s:element name=\"") + op.name + "\"><s:complexType><s:sequence>";
    for (const Param& p : op.params) {
      o += std::string("<s:element minOccurs=\"") + (p.type == Type::String ? "0" : "1") + "\" maxOccurs=\"1\" name=\"" +
           p.name + "\" type=\"" + TypeName(p.type) + "\"/>";
    }
    o += "</s:sequence></s:complexType></s:element>\n";
    if (op.result == Type::None)
      o += std::string("<s:element name=\"") + op.name + "Response\"><s:complexType/></s:element>\n";
    else
      o += std::string("<s:element name=\"") + op.name + "Response\"><s:complexType><s:sequence><s:element minOccurs=\"" +
           (op.result == Type::String ? "0" : "1") + "\" maxOccurs=\"1\" name=\"" + op.name + "Result\" type=\"" +
           TypeName(op.result) + "\"/></s:sequence></s:complexType></s:element>\n";
  }
  o += "</s:schema></wsdl:types>\n";
  for (const Operation& op : service.operations) {
    std::string n = op.name;
    o += "<wsdl:message name=\"" + n + "SoapIn\"><wsdl:part name=\"parameters\" element=\"tns:" + n +
         "\"/></wsdl:message>\n";
    o += "<wsdl:message name=\"" + n + "SoapOut\"><wsdl:part name=\"parameters\" element=\"tns:" + n +
         "Response\"/></wsdl:message>\n";
  }
  o += "<wsdl:portType name=\"" + service.name + "Soap\">\n";
  for (const Operation& op : service.operations) {
    std::string n = op.name;
    o += "<wsdl:operation name=\"" + n + "\"><wsdl:documentation xmlns:wsdl=\"http://schemas.xmlsoap.org/wsdl/\">" +
         XmlEscape(op.description) + "</wsdl:documentation><wsdl:input message=\"tns:" + n +
         "SoapIn\"/><wsdl:output message=\"tns:" + n + "SoapOut\"/></wsdl:operation>\n";
  }
  o += "</wsdl:portType>\n";
  for (const char* prefix : {"soap", "soap12"}) {
    std::string pre = prefix;
    std::string binding = service.name + (pre == "soap" ? "Soap" : "Soap12");
    o += "<wsdl:binding name=\"" + binding + "\" type=\"tns:" + service.name + "Soap\"><" + pre +
         ":binding transport=\"http://schemas.xmlsoap.org/soap/http\"/>\n";
    for (const Operation& op : service.operations) {
      o += std::string("<wsdl:operation name=\"") + op.name + "\"><" + pre + ":operation soapAction=\"" + ns + op.name +
           "\" style=\"document\"/><wsdl:input><" + pre + ":body use=\"literal\"/></wsdl:input><wsdl:output><" + pre +
           ":body use=\"literal\"/></wsdl:output></wsdl:operation>\n";
    }
    o += "</wsdl:binding>\n";
  }
  o += "<wsdl:service name=\"" + service.name + "\"><wsdl:documentation xmlns:wsdl=\"http://schemas.xmlsoap.org/wsdl/\">" +
       XmlEscape(service.description) + "</wsdl:documentation>\n";
  o += "<wsdl:port name=\"" + service.name + "Soap\" binding=\"tns:" + service.name + "Soap\"><soap:address location=\"" +
       XmlEscape(location) + "\"/></wsdl:port>\n";
  o += "<wsdl:port name=\"" + service.name + "Soap12\" binding=\"tns:" + service.name +
       "Soap12\"><soap12:address location=\"" + XmlEscape(location) + "\"/></wsdl:port>\n";
  o += "</wsdl:service>\n</wsdl:definitions>\n";
  return o;
}

std::string WriteServicePage(const Service& service, const std::string& wsdlAddress) {
  const std::string name = XmlEscape(service.name);
  std::string o = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + name +
                  " Web service</title></head><body>\n<h1>" + name + "</h1>\n<p>" + XmlEscape(service.description) +
                  "</p>\n<p>The service description: <a href=\"" + XmlEscape(wsdlAddress) + "\">" +
                  XmlEscape(wsdlAddress) + "</a></p>\n<h2>Operations</h2>\n<dl>\n";
  for (const Operation& op : service.operations)
    o += "<dt>" + XmlEscape(op.name) + "</dt><dd>" + XmlEscape(op.description) + "</dd>\n";
  o += "</dl>\n</body></html>\n";
  return o;
}

namespace {
Reply FaultReply(const Service& service, Version version, const Operation* op, const ServiceFault& f) {
  const std::string ctype =
      version == Version::Soap12 ? "application/soap+xml; charset=utf-8" : "text/xml; charset=utf-8";
  int status = version == Version::Soap12 && f.client && f.code.empty() ? 400 : 500;
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", f.hr);
  std::string failure = std::string(op ? op->name : "a request") + " failed with " + code + " (" + f.type +
                        (f.client ? ", the caller's fault" : ", the service's fault") + "): " + Printable(f.what());
  return Reply{status, WriteFault(service, version, f), ctype, std::move(failure)};
}

Reply OutOfMemory(const Service& service, Version version, const Operation* op) {
  return FaultReply(service, version, op,
                    ServiceFault(false, "System.OutOfMemoryException", "Out of memory.", "", E_OUTOFMEMORY));
}
}  // namespace

Prepared Prepare(const Service& service, const char* body, size_t size, const std::string& contentType,
                 const std::string& soapAction) {
  Prepared p;
  std::string media = contentType.substr(0, contentType.find(';'));
  media = Trim(media);
  for (char& c : media) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (media == "text/xml") {
    p.version = Version::Soap11;
  } else if (media == "application/soap+xml") {
    p.version = Version::Soap12;
  } else {
    p.reply = Reply{415, "Content type must be text/xml (SOAP 1.1) or application/soap+xml (SOAP 1.2).\n",
                    "text/plain; charset=utf-8", "a request refused: content type \"" + Printable(contentType) + "\""};
    return p;
  }
  try {
    p.request = ParseRequest(service, body, size, p.version, soapAction, CharsetOf(contentType));
  } catch (const ServiceFault& f) {
    p.reply = FaultReply(service, p.version, nullptr, f);
  } catch (const std::bad_alloc&) {
    p.reply = OutOfMemory(service, p.version, nullptr);
  } catch (const std::exception& e) {
    p.reply = FaultReply(service, p.version, nullptr, ServiceFault(false, "System.Exception", e.what(), "", E_FAIL));
  }
  return p;
}

Reply Run(const Service& service, Prepared& p) {
  if (!p.request) return std::move(p.reply);
  const Operation* op = p.request->op;
  try {
    Value result = op->call(p.request->args);
    const char* ctype =
        p.version == Version::Soap12 ? "application/soap+xml; charset=utf-8" : "text/xml; charset=utf-8";
    return Reply{200, WriteResponse(service, *p.request, result), ctype, {}};
  } catch (const ServiceFault& f) {
    return FaultReply(service, p.version, op, f);
  } catch (const std::bad_alloc&) {
    return OutOfMemory(service, p.version, op);
  } catch (const std::exception& e) {
    return FaultReply(service, p.version, op, ServiceFault(false, "System.Exception", e.what(), "", E_FAIL));
  }
}

Reply Dispatch(const Service& service, const char* body, size_t size, const std::string& contentType,
               const std::string& soapAction) {
  Prepared p = Prepare(service, body, size, contentType, soapAction);
  return Run(service, p);
}

}  // namespace vtx::soap
