#include "platform/resources.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/native/syscalls.h"
#include "platform/numtext.h"

namespace {

// One file as parsed. A catalogue nobody holds stays parsed while its file stays the same, so that
// loading it again (a call of the web service, an exception's text) costs no parse.
struct Catalogue {
  std::string path;  // resolved, identifies the file
  int refs = 1;
  // The file as it was parsed; a file that changed since is parsed anew.
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  bool current = true;  // the latest parse of its file
  std::map<uint32_t, std::u16string> strings;
  std::map<uint32_t, std::u16string> messages;

  bool Is(const struct stat& st) const {
    return device == st.st_dev && inode == st.st_ino && size == st.st_size &&
           modified.tv_sec == st.st_mtim.tv_sec && modified.tv_nsec == st.st_mtim.tv_nsec;
  }
};

// The catalogues of the process, in load order, those nobody holds included. Never destroyed: a
// handle may still be freed while the process ends.
struct Loaded {
  std::mutex mutex;
  std::vector<Catalogue*> list;
};
Loaded& TheLoaded() {
  static Loaded* const loaded = new Loaded;
  return *loaded;
}
thread_local std::string t_catalogueError;

// A catalogue somebody holds.
Catalogue* FindLoaded(HMODULE module) {
  for (Catalogue* c : TheLoaded().list)
    if (c == module && c->refs > 0) return c;
  return nullptr;
}

// The parse of the file that `st` describes; null when there is none. Older parses of the file
// are no longer handed out, and go once nobody holds them. Under TheLoaded().mutex.
Catalogue* TakeParsed(const char* resolved, const struct stat& st) {
  Catalogue* found = nullptr;
  for (auto it = TheLoaded().list.begin(); it != TheLoaded().list.end();) {
    Catalogue* c = *it;
    if (c->path == resolved && c->current) {
      if (c->Is(st)) {
        found = c;
      } else {
        c->current = false;
        if (c->refs == 0) {
          delete c;
          it = TheLoaded().list.erase(it);
          continue;
        }
      }
    }
    ++it;
  }
  if (found) ++found->refs;
  return found;
}

bool ParseId(const std::string& line, size_t& pos, uint32_t& id) {
  uint64_t v = 0;
  size_t start = pos;
  if (line.compare(pos, 2, "0x") == 0 || line.compare(pos, 2, "0X") == 0) {
    pos += 2;
    size_t digits = pos;
    while (pos < line.size() && std::isxdigit(static_cast<unsigned char>(line[pos]))) {
      v = v * 16 + static_cast<uint64_t>(vtx::DigitValue(line[pos]));
      if (v > UINT32_MAX) return false;
      ++pos;
    }
    if (pos == digits) return false;
  } else {
    while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') {
      v = v * 10 + static_cast<uint64_t>(line[pos] - '0');
      if (v > UINT32_MAX) return false;
      ++pos;
    }
    if (pos == start) return false;
  }
  id = static_cast<uint32_t>(v);
  return true;
}

// Reads the file; on failure the reason goes to `error`.
bool ParseCatalogue(const std::string& file, const std::string& data, Catalogue& cat, std::string& error) {
  size_t offset = data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  if (!data.empty() && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, data.data() + offset,
                                           static_cast<int>(data.size() - offset), nullptr, 0) <= 0 &&
      data.size() > offset) {
    error = file + ": not UTF-8 text";
    return false;
  }
  enum { None, Strings, Messages } section = None;
  std::istringstream in(data.substr(offset));
  std::string line;
  int number = 0;
  auto fail = [&](const std::string& why) {
    error = file + ":" + std::to_string(number) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line == "[strings]") section = Strings;
      else if (line == "[messages]") section = Messages;
      else return fail("unknown section " + line);
      continue;
    }
    if (section == None) return fail("an entry before the first section");
    size_t pos = 0;
    uint32_t id;
    if (!ParseId(line, pos, id)) return fail("expected a number at the start of the line");
    if (section == Strings && id > 0xFFFF) return fail("string number above 65535");
    if (pos < line.size()) {
      if (line[pos] != ' ' && line[pos] != '\t') return fail("expected a blank after the number");
      ++pos;
    }
    std::string text;
    for (; pos < line.size(); ++pos) {
      char c = line[pos];
      if (c != '\\') {
        text += c;
        continue;
      }
      if (++pos == line.size()) return fail("a backslash at the end of the line");
      switch (line[pos]) {
        case 'n': text += '\n'; break;
        case 'r': text += '\r'; break;
        case 't': text += '\t'; break;
        case '\\': text += '\\'; break;
        case ':': text += "\\:"; break;  // a colon inside a choice, kept for the formatter
        default: return fail(std::string("unknown escape \\") + line[pos]);
      }
    }
    auto& table = section == Strings ? cat.strings : cat.messages;
    if (!table.emplace(id, vtx::Utf8ToWide(text)).second) return fail("number " + std::to_string(id) + " given twice");
  }
  return true;
}

// The text of a message-table entry, copied under the lock.
bool MessageText(HMODULE module, DWORD id, std::u16string& out) {
  std::lock_guard<std::mutex> lock(TheLoaded().mutex);
  if (module) {
    Catalogue* c = FindLoaded(module);
    if (!c) return false;
    auto it = c->messages.find(id);
    if (it == c->messages.end()) return false;
    out = it->second;
    return true;
  }
  for (Catalogue* c : TheLoaded().list) {
    auto it = c->messages.find(id);
    if (it != c->messages.end()) {
      out = it->second;
      return true;
    }
  }
  return false;
}

// ---- message formatting, on UTF-16 text ----

struct Spec {
  std::string flags;
  int width = -1, precision = -1;
  int bits = 32;  // 16, 32 or 64
  char conv = 's';
};

bool ParseSpec(const std::u16string& f, Spec& s) {
  size_t i = 0;
  while (i < f.size() && std::strchr("-+ #0", static_cast<char>(f[i])) && f[i] < 0x80) s.flags += static_cast<char>(f[i++]);
  auto num = [&](int& out) {
    if (i < f.size() && f[i] == '*') return false;  // widths taken from inserts are not supported
    if (i < f.size() && f[i] >= '0' && f[i] <= '9') {
      out = 0;
      while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
        out = out * 10 + (f[i++] - '0');
        if (out > 4096) return false;
      }
    }
    return true;
  };
  if (!num(s.width)) return false;
  if (i < f.size() && f[i] == '.') {
    ++i;
    s.precision = 0;
    if (!num(s.precision)) return false;
  }
  std::u16string rest = f.substr(i);
  auto take = [&](const char16_t* p, int bits) {
    size_t n = vtx::StrLen16(p);
    if (rest.compare(0, n, p) == 0) {
      rest.erase(0, n);
      s.bits = bits;
      return true;
    }
    return false;
  };
  if (!take(u"I64", 64) && !take(u"ll", 64) && !take(u"I32", 32) && !take(u"hh", 16) && !take(u"h", 16) &&
      !take(u"l", 32) && !take(u"w", 32)) {
  }
  if (rest.size() != 1) return false;
  char c = static_cast<char>(rest[0]);
  if (rest[0] > 0x7F || !std::strchr("diouxXcCsS", c)) return false;
  s.conv = c;
  return true;
}

bool FormatOne(const FormatInsert& in, const Spec& s, bool narrowSource, std::u16string& out) {
  if (s.conv == 's' || s.conv == 'S') {
    std::u16string text;
    if (in.kind == FormatInsert::Kind::Text) text = in.text ? vtx::AnsiToWide(in.text) : u"(null)";
    else if (in.kind == FormatInsert::Kind::WideText) text = in.wide ? std::u16string(in.wide) : u"(null)";
    else return false;
    if (s.precision >= 0 && text.size() > static_cast<size_t>(s.precision)) text.resize(static_cast<size_t>(s.precision));
    size_t pad = s.width > 0 && text.size() < static_cast<size_t>(s.width) ? s.width - text.size() : 0;
    if (s.flags.find('-') != std::string::npos) out += text + std::u16string(pad, u' ');
    else out += std::u16string(pad, u' ') + text;
    return true;
  }
  if (in.kind != FormatInsert::Kind::Signed && in.kind != FormatInsert::Kind::Unsigned) return false;
  uint64_t raw = in.kind == FormatInsert::Kind::Signed ? static_cast<uint64_t>(in.i) : in.u;
  if (s.bits == 16) raw &= 0xFFFF;
  else if (s.bits == 32) raw &= 0xFFFFFFFFu;
  if (s.conv == 'c' || s.conv == 'C') {
    char16_t ch = static_cast<char16_t>(raw);
    if (narrowSource && s.conv == 'c') {
      char b[2] = {static_cast<char>(raw & 0xFF), 0};
      std::u16string w = vtx::AnsiToWide(b);
      ch = w.empty() ? u'?' : w[0];
    }
    size_t pad = s.width > 1 ? static_cast<size_t>(s.width - 1) : 0;
    if (s.flags.find('-') != std::string::npos) out += std::u16string(1, ch) + std::u16string(pad, u' ');
    else out += std::u16string(pad, u' ') + std::u16string(1, ch);
    return true;
  }
  std::string fmt(1, '%');
  fmt += s.flags;
  if (s.width >= 0) fmt += std::to_string(s.width);
  if (s.precision >= 0) fmt.append(".").append(std::to_string(s.precision));
  fmt += "ll";
  fmt += s.conv;
  char buf[4200];
  int n;
  if (s.conv == 'd' || s.conv == 'i') {
    long long v;
    if (s.bits == 16) v = static_cast<int16_t>(raw);
    else if (s.bits == 32) v = static_cast<int32_t>(raw);
    else v = static_cast<long long>(raw);
    n = std::snprintf(buf, sizeof buf, fmt.c_str(), v);
  } else {
    n = std::snprintf(buf, sizeof buf, fmt.c_str(), static_cast<unsigned long long>(raw));
  }
  if (n < 0) return false;
  for (const char* p = buf; *p; ++p) out += static_cast<char16_t>(static_cast<unsigned char>(*p));
  return true;
}

bool Format(const std::u16string& src, DWORD flags, const FormatInserts* inserts, bool narrow, std::u16string& out) {
  bool ignore = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
  bool noBreaks = (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK;
  out.clear();
  size_t i = 0;
  const size_t n = src.size();
  while (i < n) {
    char16_t c = src[i];
    if (c != '%') {
      if (noBreaks && (c == '\r' || c == '\n')) {
        ++i;
        continue;
      }
      out += c;
      ++i;
      continue;
    }
    if (i + 1 >= n) {
      out += c;
      break;
    }
    char16_t e = src[i + 1];
    if (e >= '1' && e <= '9') {
      size_t start = i;
      size_t j = i + 1;
      size_t k = static_cast<size_t>(src[j++] - '0');
      if (j < n && src[j] >= '0' && src[j] <= '9') k = k * 10 + static_cast<size_t>(src[j++] - '0');
      std::u16string spec = u"s";
      bool explicitSpec = j < n && src[j] == '!';
      if (explicitSpec) {
        size_t close = src.find(u'!', j + 1);
        if (close == std::u16string::npos) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return false;
        }
        spec = src.substr(j + 1, close - j - 1);
        j = close + 1;
      }
      i = j;
      if (ignore) {
        out += src.substr(start, j - start);
        continue;
      }
      Spec s;
      if (!inserts || k > inserts->count || !inserts->items || !ParseSpec(spec, s)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
      }
      const FormatInsert& in = inserts->items[k - 1];
      // A number without a format of its own is shown in decimal.
      if (!explicitSpec && (in.kind == FormatInsert::Kind::Signed || in.kind == FormatInsert::Kind::Unsigned)) {
        s.conv = in.kind == FormatInsert::Kind::Signed ? 'd' : 'u';
        s.bits = 64;
      }
      if (!FormatOne(in, s, narrow, out)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
      }
      continue;
    }
    i += 2;
    switch (e) {
      case '0': return true;
      case 'n': out += u"\r\n"; break;
      case 'r': out += u'\r'; break;
      case 't': out += u'\t'; break;
      default:
        if (ignore) out += u'%';
        out += e;
        break;
    }
  }
  return true;
}

template <class T>
DWORD Deliver(const std::basic_string<T>& text, DWORD flags, T* buffer, DWORD size) {
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    T** target = reinterpret_cast<T**>(buffer);
    *target = nullptr;
    if (text.empty()) {
      SetLastError(ERROR_SUCCESS);
      return 0;
    }
    T* block = static_cast<T*>(LocalAlloc(0, (text.size() + 1) * sizeof(T)));
    if (!block) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(block, text.c_str(), (text.size() + 1) * sizeof(T));
    *target = block;
    return static_cast<DWORD>(text.size());
  }
  if (text.size() + 1 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(T));
  return static_cast<DWORD>(text.size());
}

template <class T>
DWORD FormatMessageT(DWORD flags, LPCVOID source, DWORD id, T* buffer, DWORD size, const FormatInserts* inserts) {
  if (!buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) *reinterpret_cast<T**>(buffer) = nullptr;
  std::u16string src;
  if (flags & FORMAT_MESSAGE_FROM_STRING) {
    if (!source) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if constexpr (sizeof(T) == 1) src = vtx::AnsiToWide(static_cast<const char*>(source));
    else src = static_cast<const char16_t*>(source);
  } else {
    bool found = false;
    if (flags & FORMAT_MESSAGE_FROM_HMODULE)
      found = MessageText(const_cast<HMODULE>(source), id, src);
    if (!found && (flags & FORMAT_MESSAGE_FROM_SYSTEM)) {
      if (const char* t = vtx::SystemErrorText(id)) {
        src = vtx::Utf8ToWide(t);
        found = true;
      }
    }
    if (!found) {
      SetLastError((flags & (FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM)) ? ERROR_MR_MID_NOT_FOUND
                                                                                      : ERROR_INVALID_PARAMETER);
      return 0;
    }
  }
  std::u16string out;
  if (!Format(src, flags, inserts, sizeof(T) == 1, out)) return 0;
  if constexpr (sizeof(T) == 1)
    return Deliver(vtx::WideToAnsi(out), flags, buffer, size);
  else
    return Deliver(out, flags, buffer, size);
}

// Cuts UTF-8 text to at most `max` bytes without splitting a character.
size_t Utf8Cut(const std::string& s, size_t max) {
  if (s.size() <= max) return s.size();
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR path) {
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string file = vtx::AnsiCodePageIsUtf8() ? std::string(path) : vtx::AnsiToUtf8(path);
  char resolved[PATH_MAX];
  if (!vtx::sys::Realpath(file.c_str(), resolved)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    t_catalogueError = file + ": not found";
    return nullptr;
  }
  struct stat st{};
  bool isFile = vtx::sys::Stat(resolved, &st) == 0 && S_ISREG(st.st_mode);
  if (isFile) {
    std::lock_guard<std::mutex> lock(TheLoaded().mutex);
    if (Catalogue* c = TakeParsed(resolved, st)) {
      t_catalogueError.clear();
      return c;
    }
  }
  std::string data;
  if (!isFile || FAILED(vtx::ReadWholeFile(resolved, &data))) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    t_catalogueError = file + ": cannot be read";
    return nullptr;
  }
  auto* cat = vtx::heap::New<Catalogue>();
  if (!cat) return nullptr;
  cat->path = resolved;
  cat->device = st.st_dev;
  cat->inode = st.st_ino;
  cat->size = st.st_size;
  cat->modified = st.st_mtim;
  std::string error;
  if (!ParseCatalogue(file, data, *cat, error)) {
    delete cat;
    t_catalogueError = error;
    SetLastError(ERROR_BAD_FORMAT);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(TheLoaded().mutex);
  // Another thread may have parsed the same file meanwhile.
  if (Catalogue* c = TakeParsed(resolved, st)) {
    delete cat;
    t_catalogueError.clear();
    return c;
  }
  TheLoaded().list.push_back(cat);
  t_catalogueError.clear();
  return cat;
}

BOOL FreeLibrary(HMODULE module) {
  std::lock_guard<std::mutex> lock(TheLoaded().mutex);
  for (auto it = TheLoaded().list.begin(); it != TheLoaded().list.end(); ++it) {
    if (*it != module || (*it)->refs == 0) continue;
    // The latest parse of a file stays for the next load; an older one goes.
    if (--(*it)->refs == 0 && !(*it)->current) {
      delete *it;
      TheLoaded().list.erase(it);
    }
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size) {
  if (!buffer || size < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::mutex> lock(TheLoaded().mutex);
  Catalogue* c = FindLoaded(module);
  if (!c) {
    if (size) buffer[0] = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  auto it = c->strings.find(id);
  if (it == c->strings.end()) {
    if (size) buffer[0] = 0;
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  const std::u16string& text = it->second;
  if (size == 0) {
    *reinterpret_cast<const char16_t**>(buffer) = text.c_str();
    return static_cast<int>(text.size());
  }
  size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  // Never half a surrogate pair.
  if (n && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  std::memcpy(buffer, text.data(), n * sizeof(char16_t));
  buffer[n] = 0;
  return static_cast<int>(n);
}

int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int size) {
  if (!buffer || size <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string text;
  {
    std::lock_guard<std::mutex> lock(TheLoaded().mutex);
    Catalogue* c = FindLoaded(module);
    if (!c) {
      buffer[0] = 0;
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    auto it = c->strings.find(id);
    if (it == c->strings.end()) {
      buffer[0] = 0;
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return 0;
    }
    text = it->second;
  }
  std::string narrow = vtx::WideToAnsi(text);
  size_t n = vtx::AnsiCodePageIsUtf8() ? Utf8Cut(narrow, static_cast<size_t>(size - 1))
                                       : std::min(narrow.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, narrow.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD, LPSTR buffer, DWORD size,
                     const FormatInserts* inserts) {
  return FormatMessageT(flags, source, messageId, buffer, size, inserts);
}

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD, LPWSTR buffer, DWORD size,
                     const FormatInserts* inserts) {
  return FormatMessageT(flags, source, messageId, buffer, size, inserts);
}

namespace vtx {

const std::string& LastCatalogueError() { return t_catalogueError; }

bool MessageTableText(HMODULE module, DWORD id, std::string& utf8) {
  std::u16string text;
  if (!MessageText(module, id, text)) return false;
  utf8 = WideToUtf8(text);
  return true;
}

}  // namespace vtx
