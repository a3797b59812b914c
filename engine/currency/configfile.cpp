#include "engine/currency/configfile.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/settings.h"
#include "engine/foundation/cstring.h"
#include "engine/foundation/regvalue.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/native/syscalls.h"
#include "platform/registry.h"

using namespace vtx::configfile;

namespace {

const uint8_t kMagic[18] = {0x89, 'h', 'u', 'l', 'v', 'a', 'n', 'e', '.', 'v', 'x', 'c', 'n', 'f', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint8_t kVersion = '4';
constexpr char kExtension[] = ".vx-cnf";

enum : uint32_t { kTagSubkey = 0, kTagValue = 1, kTagKeyBegin = 2, kTagKeyEnd = 3 };

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), left_(n) {}
  bool U32(uint32_t& v) {
    const uint8_t* b;
    if (!Bytes(4, b)) return false;
    v = Le32(b);
    return true;
  }
  bool Bytes(size_t n, const uint8_t*& out) {
    if (n > left_) return false;
    out = p_;
    p_ += n;
    left_ -= n;
    return true;
  }
  size_t Left() const { return left_; }

 private:
  const uint8_t* p_;
  size_t left_;
};

// `length` characters followed by a NUL; none of them NUL, and none a backslash in a key's name
// (it would name a path in the store).
bool NameIsSound(const uint8_t* p, uint32_t length, bool key) {
  for (uint32_t i = 0; i < length; ++i) {
    char16_t c = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
    if (c == 0 || (key && c == u'\\')) return false;
  }
  return p[2 * length] == 0 && p[2 * length + 1] == 0;
}

// The limits that a key-begin record declares for its key's records.
struct Declared {
  uint32_t subkeyName, valueName, valueData;
};

// An ASCII name as the store compares names: character by character in upper case.
bool SameName(const char16_t* name, size_t length, const char* ascii, size_t asciiLength) {
  if (length != asciiLength) return false;
  for (size_t i = 0; i < length; ++i)
    if (vtx::UnicodeUpper(name[i]) != static_cast<char16_t>(std::toupper(static_cast<unsigned char>(ascii[i]))))
      return false;
  return true;
}

std::string WithExtension(const char* path, BOOL addExtension) {
  std::string file = path;
  size_t n = sizeof kExtension - 1;
  if (addExtension && (file.size() < n || _stricmp(file.c_str() + file.size() - n, kExtension) != 0)) file += kExtension;
  return file;
}

// ---- export ----

void Put32(std::string& out, uint32_t v) {
  char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
  out.append(b, 4);
}

void PutName(std::string& out, const char16_t* name, uint32_t length) {
  for (uint32_t i = 0; i <= length; ++i) {
    char16_t c = i < length ? name[i] : 0;
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
}

// The records of one key, from its key-begin to its key-end; Win32 code.
LONG WriteKey(HKEY key, uint32_t depth, std::string& out) {
  DWORD maxSubkey = 0, maxName = 0, maxData = 0;
  LONG r = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &maxSubkey, nullptr, nullptr, &maxName, &maxData,
                            nullptr, nullptr);
  if (r) return r;
  Put32(out, kTagKeyBegin);
  Put32(out, maxSubkey);
  Put32(out, maxName);
  Put32(out, maxData);
  {
    CStringW name;
    std::vector<uint8_t> data(maxData ? maxData : 1);
    if (!name.Resize(maxName + 1)) return ERROR_OUTOFMEMORY;
    for (DWORD index = 0;; ++index) {
      DWORD chars = maxName + 1, size = maxData, type = 0;
      r = RegEnumValueW(key, index, name.GetBuffer(), &chars, nullptr, &type, data.data(), &size);
      if (r == ERROR_NO_MORE_ITEMS) break;
      if (r) return r;
      if (depth == 0 && IsMachineLocalName(name.GetBuffer(), chars)) continue;
      if (size > kMaxValueData) return ERROR_FILE_TOO_LARGE;
      Put32(out, kTagValue);
      Put32(out, type);
      Put32(out, chars);
      Put32(out, size);
      PutName(out, name.GetBuffer(), chars);
      out.append(reinterpret_cast<const char*>(data.data()), size);
    }
  }
  CStringW name;
  if (!name.Resize(kMaxKeyName + 1)) return ERROR_OUTOFMEMORY;
  for (DWORD index = 0;; ++index) {
    DWORD chars = kMaxKeyName + 1;
    r = RegEnumKeyExW(key, index, name.GetBuffer(), &chars, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r) return r;
    if (depth == 0 && IsMachineLocalName(name.GetBuffer(), chars)) continue;
    if (depth + 1 > kMaxDepth) return ERROR_FILE_TOO_LARGE;
    Put32(out, kTagSubkey);
    Put32(out, chars);
    PutName(out, name.GetBuffer(), chars);
    HKEY sub = nullptr;
    if ((r = RegOpenKeyExW(key, name.GetBuffer(), 0, KEY_READ, &sub))) return r;
    r = WriteKey(sub, depth + 1, out);
    RegCloseKey(sub);
    if (r) return r;
  }
  Put32(out, kTagKeyEnd);
  return ERROR_SUCCESS;
}

// Puts `data` in place of `file` in one step. The export holds the scrambled credentials, so the
// file is private whatever stood there: the old file is not looked at, and a link gives way to a
// file of its own.
HRESULT ReplaceFile(const std::string& file, const std::string& data) {
  if (file.empty() || file.back() == '/') return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
  return vtx::WriteFileReplacing(file.c_str(), data.data(), data.size(), 0600, vtx::ReplaceMode::kAlwaysNew);
}

// ---- import ----

HRESULT ReadFileWithin(const std::string& file, std::string* data) {
  struct stat st;
  if (vtx::sys::Stat(file.c_str(), &st) != 0) return HRESULT_FROM_WIN32(vtx::Win32FromErrno(errno));
  if (S_ISDIR(st.st_mode)) return E_ACCESSDENIED;
  if (!S_ISREG(st.st_mode)) return E_INVALIDDATA;
  if (static_cast<uint64_t>(st.st_size) > kMaxFileBytes) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  HRESULT hr = vtx::ReadWholeFile(file.c_str(), data);
  if (SUCCEEDED(hr) && data->size() > kMaxFileBytes) hr = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  return hr;
}

// A name of the file in the engine's wide text.
bool Decode(const uint8_t* p, uint32_t length, CStringW& name) {
  if (!name.Resize(length + 1)) return false;
  char16_t* w = name.GetBuffer();
  for (uint32_t i = 0; i < length; ++i) w[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
  w[length] = 0;
  return true;
}

// Deletes every value and subkey of the application key except the machine's own; Win32 code.
LONG ClearApplicationKey(HKEY app) {
  CStringW name;
  if (!name.Resize(kMaxKeyName + 1)) return ERROR_OUTOFMEMORY;
  for (DWORD index = 0;;) {
    DWORD chars = kMaxKeyName + 1;
    LONG r = RegEnumKeyExW(app, index, name.GetBuffer(), &chars, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r) return r;
    if (IsMachineLocalName(name.GetBuffer(), chars)) {
      ++index;
      continue;
    }
    HKEY sub = nullptr;
    if ((r = RegOpenKeyExW(app, name.GetBuffer(), 0, KEY_ALL_ACCESS, &sub))) return r;
    r = DeleteRegistryKeyContents(sub, nullptr) ? LONG{ERROR_SUCCESS} : static_cast<LONG>(GetLastError());
    RegCloseKey(sub);
    if (r || (r = RegDeleteKeyW(app, name.GetBuffer()))) return r;
  }
  DWORD maxName = 0;
  LONG r = RegQueryInfoKeyW(app, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, nullptr,
                            nullptr, nullptr);
  if (r) return r;
  if (!name.Resize(maxName + 1)) return ERROR_OUTOFMEMORY;
  for (DWORD index = 0;;) {
    DWORD chars = maxName + 1;
    r = RegEnumValueW(app, index, name.GetBuffer(), &chars, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (r) return r;
    if (IsMachineLocalName(name.GetBuffer(), chars)) {
      ++index;
      continue;
    }
    if ((r = RegDeleteValueW(app, name.GetBuffer()))) return r;
  }
}

// Writes the records into the store below the application key; the machine's own names of the
// file are passed over, with everything under them.
class StoreWriter : public Visitor {
 public:
  explicit StoreWriter(HKEY app) : keys_{app} {}
  ~StoreWriter() override {
    for (size_t i = 1; i < keys_.size(); ++i) RegCloseKey(keys_[i]);
  }

  HRESULT Subkey(const uint8_t* p, uint32_t length) override {
    if (skipped_) {
      ++skipped_;
      return S_OK;
    }
    CStringW name;
    if (!Decode(p, length, name)) return E_OUTOFMEMORY;
    if (keys_.size() == 1 && IsMachineLocalName(name.GetBuffer(), length)) {
      skipped_ = 1;
      return S_OK;
    }
    HKEY key = nullptr;
    LONG r = RegCreateKeyExW(keys_.back(), name.GetBuffer(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                             nullptr, &key, nullptr);
    if (r) return HRESULT_FROM_WIN32(static_cast<DWORD>(r));
    keys_.push_back(key);
    return S_OK;
  }

  HRESULT Value(const uint8_t* p, uint32_t length, uint32_t type, const uint8_t* data, uint32_t size) override {
    if (skipped_) return S_OK;
    CStringW name;
    if (!Decode(p, length, name)) return E_OUTOFMEMORY;
    if (keys_.size() == 1 && IsMachineLocalName(name.GetBuffer(), length)) return S_OK;
    LONG r = RegSetValueExW(keys_.back(), name.GetBuffer(), 0, type, data, size);
    return r ? HRESULT_FROM_WIN32(static_cast<DWORD>(r)) : S_OK;
  }

  HRESULT EndKey() override {
    if (skipped_) {
      --skipped_;
      return S_OK;
    }
    RegCloseKey(keys_.back());
    keys_.pop_back();
    return S_OK;
  }

 private:
  std::vector<HKEY> keys_;  // the application key, then the open subkeys down to the current one
  uint32_t skipped_ = 0;    // levels inside a subkey that is passed over
};

}  // namespace

namespace vtx::configfile {

bool IsMachineLocalName(const char16_t* name, size_t length) {
  static const char* const kNames[] = {"Actions",
                                       "Configurations",
                                       "DisplayMessages",
                                       "Filters",
                                       "Logs",
                                       "Path",
                                       "Server",
                                       "Validators",
                                       "WebServiceSite",
                                       "WebServiceSiteNumber",
                                       "WebServiceSiteURL",
                                       "WebServiceSiteVirtualDirectory",
                                       "WebServiceAddress",
                                       "WebServicePort",
                                       "WebServicePath",
                                       "WebServiceThreads"};
  if (!name) return false;
  for (const char* n : kNames)
    if (SameName(name, length, n, std::strlen(n))) return true;
  // "Resources" and four hex digits: the catalogue of each language.
  if (length != 13 || !SameName(name, 9, "Resources", 9)) return false;
  for (size_t i = 9; i < 13; ++i)
    if (name[i] >= 0x80 || !std::isxdigit(name[i])) return false;
  return true;
}

HRESULT ReadConfiguration(const uint8_t* data, size_t size, Visitor* visitor) {
  if (!data || size < kHeaderBytes || std::memcmp(data, kMagic, sizeof kMagic) != 0) return E_INVALIDDATA;
  if (data[18] > kVersion) return VX_E_NEWER_CONFIGURATION;
  uint32_t further = Le32(data + 20);
  if (further > size - kHeaderBytes) return E_INVALIDDATA;
  Reader in(data + kHeaderBytes + further, size - kHeaderBytes - further);
  std::vector<Declared> open;  // the keys whose records are being read, the application key first
  bool beginNext = true;
  for (;;) {
    uint32_t tag;
    if (!in.U32(tag)) return E_INVALIDDATA;
    if (beginNext) {
      Declared d;
      if (tag != kTagKeyBegin || !in.U32(d.subkeyName) || !in.U32(d.valueName) || !in.U32(d.valueData))
        return E_INVALIDDATA;
      open.push_back(d);
      beginNext = false;
      continue;
    }
    const Declared& limits = open.back();
    HRESULT hr = S_OK;
    switch (tag) {
      case kTagValue: {
        uint32_t type, length, bytes;
        const uint8_t *name, *value;
        if (!in.U32(type) || !in.U32(length) || !in.U32(bytes)) return E_INVALIDDATA;
        if (length > limits.valueName || length > kMaxValueName || bytes > limits.valueData || bytes > kMaxValueData)
          return E_INVALIDDATA;
        if (!in.Bytes(2 * size_t{length} + 2, name) || !in.Bytes(bytes, value)) return E_INVALIDDATA;
        if (!NameIsSound(name, length, false)) return E_INVALIDDATA;
        if (visitor) hr = visitor->Value(name, length, type, value, bytes);
        break;
      }
      case kTagSubkey: {
        uint32_t length;
        const uint8_t* name;
        if (!in.U32(length) || length == 0 || length > limits.subkeyName || length > kMaxKeyName) return E_INVALIDDATA;
        if (!in.Bytes(2 * size_t{length} + 2, name) || !NameIsSound(name, length, true)) return E_INVALIDDATA;
        if (open.size() > kMaxDepth) return E_INVALIDDATA;  // the new key would lie deeper than allowed
        if (visitor) hr = visitor->Subkey(name, length);
        beginNext = true;
        break;
      }
      case kTagKeyEnd:
        open.pop_back();
        // Nothing may follow the application key's end.
        if (open.empty()) return in.Left() == 0 ? S_OK : E_INVALIDDATA;
        if (visitor) hr = visitor->EndKey();
        break;
      default:
        return E_INVALIDDATA;
    }
    if (FAILED(hr)) return hr;
  }
}

}  // namespace vtx::configfile

HRESULT ExportConfiguration(const char* path, BOOL addExtension, const vtx::Account* as) {
  if (!path) return E_POINTER;
  if (!*path) return E_INVALIDARG;
  std::string out(reinterpret_cast<const char*>(kMagic), sizeof kMagic);
  out.push_back(static_cast<char>(kVersion));
  out.push_back(0);
  Put32(out, 0);
  {
    // One state of the store from the first record to the last.
    vtx::RegTransaction snapshot(vtx::RegTransaction::Read);
    if (snapshot.Status()) return HRESULT_FROM_WIN32(snapshot.Status());
    HKEY app = nullptr;
    LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, g_szAppKey, 0, KEY_READ, &app);
    if (!r) {
      r = WriteKey(app, 0, out);
      RegCloseKey(app);
    }
    if (r) return HRESULT_FROM_WIN32(static_cast<DWORD>(r));
  }
  if (out.size() > kMaxFileBytes) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  std::optional<vtx::FileAccessAs> rights;
  if (as && !rights.emplace(as->uid, as->gid).Ok()) return E_ACCESSDENIED;
  return ReplaceFile(WithExtension(path, addExtension), out);
}

HRESULT ImportConfiguration(const char* path, BOOL addExtension, const vtx::Account* as) {
  if (!path) return E_POINTER;
  if (!*path) return E_INVALIDARG;
  std::string file;
  HRESULT hr;
  {
    std::optional<vtx::FileAccessAs> rights;
    if (as && !rights.emplace(as->uid, as->gid).Ok()) return E_ACCESSDENIED;
    hr = ReadFileWithin(WithExtension(path, addExtension), &file);
  }
  if (FAILED(hr)) return hr;
  const auto* data = reinterpret_cast<const uint8_t*>(file.data());
  // The whole file is sound before the store is touched.
  if (FAILED(hr = ReadConfiguration(data, file.size(), nullptr))) return hr;

  CSettingsAccess lock;
  if (!lock.IsHeld()) return lock.Status();
  vtx::RegTransaction scope(vtx::RegTransaction::Write);
  if (scope.Status()) return HRESULT_FROM_WIN32(scope.Status());
  HKEY app = nullptr;
  LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, g_szAppKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           &app, nullptr);
  if (r) return HRESULT_FROM_WIN32(static_cast<DWORD>(r));
  r = ClearApplicationKey(app);
  if (r) {
    hr = HRESULT_FROM_WIN32(static_cast<DWORD>(r));
  } else {
    StoreWriter writer(app);
    hr = ReadConfiguration(data, file.size(), &writer);
  }
  RegCloseKey(app);
  if (FAILED(hr)) return hr;  // the scope undoes every change on its way out
  DWORD rc = scope.Commit();
  return rc ? HRESULT_FROM_WIN32(rc) : S_OK;
}
