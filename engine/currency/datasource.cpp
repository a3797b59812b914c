#include "engine/currency/datasource.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "engine/currency/filterdef.h"
#include "engine/foundation/buffer.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/scramble.h"
#include "engine/foundation/stringutil.h"
#include "platform/heap.h"
#include "platform/native/syscalls.h"
#include "platform/systime.h"

namespace {

constexpr uint32_t kMaxSources = 10000;  // subkeys are read below this number
constexpr uint8_t kCredentialCount = 7;  // what the stored value's first byte says

// Bytes for the padding of stored credentials; they only need to differ between saves.
uint32_t TickCount() {
  timespec ts{};
  vtx::sys::ClockGettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

// "<appKey>\Servers" or "<appKey>\Servers\<n>"; false when out of memory.
bool ServersPath(CStringA& out, const char* appKey, uint32_t n) {
  uint32_t need = CStringUtil<char>::StringLen(appKey) + 32;
  if (!out.Resize(need)) return false;
  if (n)
    std::snprintf(out.GetBuffer(), need, "%s\\Servers\\%u", appKey, n);
  else
    std::snprintf(out.GetBuffer(), need, "%s\\Servers", appKey);
  return true;
}

bool HasText(const char* s) { return s && *s; }

bool SameOrBothNull(const char* a, const char* b) {
  if (!a || !b) return !a && !b;
  return _stricmp(a, b) == 0;
}

// Reads an optional text; a missing or unreadable value leaves the field null. Only running out
// of memory is an error.
HRESULT ReadOptional(HKEY root, const char* path, const char* name, CDataSource& source,
                     bool (CDataSource::*set)(const char*)) {
  RegStringValueA value;
  HRESULT hr = value.Load(root, path, name);
  if (hr == E_OUTOFMEMORY) return hr;
  if (FAILED(hr)) return S_OK;
  return (source.*set)(value.GetString()) ? S_OK : E_OUTOFMEMORY;
}

// The stored user name and password: a count byte, both texts with their NULs, padding, all
// scrambled. A text that lacks its NUL ends with the value; one beyond the end stays null.
HRESULT ReadCredentials(HKEY root, const char* path, CDataSource& source) {
  RegBinaryValue value;
  HRESULT hr = value.Load(root, path, "Authentication");
  if (hr == E_OUTOFMEMORY) return hr;
  if (FAILED(hr)) return S_OK;
  uint32_t size = value.GetSize();
  char* data = static_cast<char*>(value.GetBuffer());
  DecryptBuffer(data, size);
  CStringA texts[2];
  uint32_t at = 1;
  for (CStringA& text : texts) {
    if (at >= size) break;
    uint32_t end = at;
    while (end < size && data[end]) ++end;
    if (!text.Resize(end - at + 1)) return E_OUTOFMEMORY;
    std::memcpy(text.GetBuffer(), data + at, end - at);
    text.GetBuffer()[end - at] = 0;
    at = end + 1;
  }
  std::memset(data, 0, size);
  if (!source.SetUserNameA(texts[0]) || !source.SetPassword(texts[1])) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT WriteCredentials(HKEY root, const char* path, const CDataSource& source) {
  const char* user = source.GetUserNameA();
  const char* password = source.GetPassword();
  uint32_t userLen = CStringUtil<char>::StringLen(user);
  uint32_t passwordLen = CStringUtil<char>::StringLen(password);
  if (!userLen && !passwordLen) return S_OK;
  uint64_t n = static_cast<uint64_t>(userLen) + passwordLen + 3;
  uint64_t total = n + (32 - n % 32);
  if (total > UINT32_MAX) return E_OUTOFMEMORY;
  RegBinaryValue value;
  if (!value.SetBuffer(static_cast<uint32_t>(total))) return E_OUTOFMEMORY;
  uint8_t* data = static_cast<uint8_t*>(value.GetBuffer());
  data[0] = kCredentialCount;
  std::memcpy(data + 1, user ? user : "", userLen + 1);
  std::memcpy(data + 2 + userLen, password ? password : "", passwordLen + 1);
  uint32_t t = TickCount();
  for (uint64_t i = n; i < total; ++i) {
    data[i] = static_cast<uint8_t>(t);
    t = (t >> 1) | (t << 31);
  }
  EncryptBuffer(data, static_cast<uint32_t>(total));
  return value.Save(root, path, "Authentication");
}

HRESULT WriteText(HKEY root, const char* path, const char* name, const char* text) {
  RegStringValueA value;
  value = text;
  if (text && !value.GetString()) return E_OUTOFMEMORY;
  return value.Save(root, path, name);
}

// --- pictures ---

const char* const kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

struct PictureEntry {
  const char* text;
  uint32_t length;
};
const PictureEntry kDatePictures[] = {{"dddd]", 4}, {"ddd]", 3}, {"dd]", 2},   {"d]", 1},  {"MMMM]", 4}, {"MMM]", 3},
                                      {"MM]", 2},   {"M]", 1},   {"yyyy]", 4}, {"yy]", 2}, {"y]", 1}};
const PictureEntry kTimePictures[] = {{"hh]", 2}, {"h]", 1}, {"HH]", 2}, {"H]", 1}, {"mm]", 2},
                                      {"m]", 1},  {"ss]", 2}, {"s]", 1}, {"tt]", 2}, {"t]", 1}};

template <size_t N>
uint32_t MatchPicture(const char* text, const PictureEntry (&table)[N]) {
  if (!text) return 0;
  for (const PictureEntry& e : table)
    if (std::strncmp(text, e.text, e.length + 1) == 0) return e.length;
  return 0;
}

// Day of the week (0 Sunday) of a Gregorian date.
int DayOfWeek(int year, int month, int day) {
  static const int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  return (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
}

bool AppendNumber(CBuffer<char>& out, uint32_t value, uint32_t width) {
  char text[16];
  int n = std::snprintf(text, sizeof text, "%0*u", static_cast<int>(width), value);
  return n > 0 && out.Add(text, static_cast<uint32_t>(n));
}

bool AppendText(CBuffer<char>& out, const char* text, uint32_t n) { return out.Add(text, n); }

// One run of a picture letter; false when out of memory.
bool FormatDateRun(CBuffer<char>& out, char letter, uint32_t run, const SYSTEMTIME& t) {
  switch (letter) {
    case 'd':
      if (run <= 2) return AppendNumber(out, t.wDay, run);
      {
        const char* name = kDayNames[DayOfWeek(t.wYear, t.wMonth, t.wDay)];
        return AppendText(out, name, run == 3 ? 3 : static_cast<uint32_t>(std::strlen(name)));
      }
    case 'M':
      if (run <= 2) return AppendNumber(out, t.wMonth, run);
      {
        const char* name = kMonthNames[t.wMonth - 1];
        return AppendText(out, name, run == 3 ? 3 : static_cast<uint32_t>(std::strlen(name)));
      }
    default:  // 'y'
      if (run == 1) return AppendNumber(out, t.wYear % 100, 1);
      if (run == 2) return AppendNumber(out, t.wYear % 100, 2);
      return AppendNumber(out, t.wYear, 1);
  }
}

bool FormatTimeRun(CBuffer<char>& out, char letter, uint32_t run, const SYSTEMTIME& t) {
  uint32_t width = run >= 2 ? 2 : 1;
  switch (letter) {
    case 'h':
      return AppendNumber(out, t.wHour % 12 == 0 ? 12 : t.wHour % 12, width);
    case 'H':
      return AppendNumber(out, t.wHour, width);
    case 'm':
      return AppendNumber(out, t.wMinute, width);
    case 's':
      return AppendNumber(out, t.wSecond, width);
    default:  // 't'
      return AppendText(out, t.wHour < 12 ? "AM" : "PM", width);
  }
}

// English (United States) pictures as the system's date and time formatting reads them: runs of
// the picture letters, text in single quotes ('' is a quote), everything else as it stands.
uint32_t FormatPicture(bool date, uint32_t length, const char* picture, CStringA& result, const SYSTEMTIME* when) {
  if (!picture) return 0;
  SYSTEMTIME t{};
  if (when) {
    t = *when;
    FILETIME check;
    if (!SystemTimeToFileTime(&t, &check)) return 0;
  } else {
    GetSystemTime(&t);
  }
  const char* letters = date ? "dMy" : "hHmst";
  CBuffer<char> out(32, 32);
  if (!out.GetData()) return 0;
  uint32_t i = 0;
  while (i < length && picture[i]) {
    char c = picture[i];
    if (c == '\'' && i + 1 < length && picture[i + 1] == '\'') {
      if (!out.Add('\'')) return 0;
      i += 2;
      continue;
    }
    if (c == '\'') {
      ++i;
      while (i < length && picture[i]) {
        if (picture[i] == '\'') {
          if (i + 1 < length && picture[i + 1] == '\'') {
            if (!out.Add('\'')) return 0;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        if (!out.Add(picture[i++])) return 0;
      }
      continue;
    }
    if (!std::strchr(letters, c)) {
      if (!out.Add(c)) return 0;
      ++i;
      continue;
    }
    uint32_t run = 0;
    while (i < length && picture[i] == c) ++i, ++run;
    if (!(date ? FormatDateRun(out, c, run, t) : FormatTimeRun(out, c, run, t))) return 0;
  }
  uint32_t n = out.GetCount();
  if (!out.Add('\0')) return 0;
  result.Attach(out.Detach());
  return n;
}

}  // namespace

// --- CDataSource ---

int CDataSource::CopyFrom(const CDataSource& other) {
  if (this == &other) return 1;
  return SetURL(other.m_url) && SetFilter(other.m_filter) && SetUserData1(other.m_userData1) &&
                 SetUserData2(other.m_userData2) && SetUserNameA(other.m_userName) && SetPassword(other.m_password)
             ? 1
             : 0;
}

bool CDataSource::IsUserDataURL(int n) const {
  const char* url = m_url;
  if (!url) return false;
  for (const char* p = url; *p; ++p) {
    if (p[0] != '[' || p[1] < '0' || p[1] > '9' || p[2] != ']') continue;
    int digit = p[1] - '0';
    if (n <= 0 ? (digit == 1 || digit == 2) : digit == n) return true;
  }
  return false;
}

bool CDataSource::IsParsableURL() const {
  if (IsUserDataURL(0)) return true;
  const char* url = m_url;
  if (!url) return false;
  for (const char* p = std::strchr(url, '['); p; p = std::strchr(p + 1, '['))
    if (IsDateExpression(p + 1) || IsTimeExpression(p + 1)) return true;
  return false;
}

int CDataSource::GetParsedURL(CStringA& result, const SYSTEMTIME* now) const {
  const char* url = m_url.c_str();
  // Every picture of one address shows the same instant.
  SYSTEMTIME t{};
  if (now)
    t = *now;
  else
    GetSystemTime(&t);
  CBuffer<char> out(64, 64);
  if (!out.GetData()) return 0;
  for (const char* p = url; *p;) {
    if (*p != '[') {
      if (!out.Add(*p++)) return 0;
      continue;
    }
    if ((p[1] == '1' || p[1] == '2') && p[2] == ']') {
      const char* data = p[1] == '1' ? m_userData1 : m_userData2;
      if (!out.Add(data ? data : "", CStringUtil<char>::StringLen(data))) return 0;
      p += 3;
      continue;
    }
    uint32_t len = IsDateExpression(p + 1);
    bool date = len != 0;
    if (!len) len = IsTimeExpression(p + 1);
    if (!len) {
      if (!out.Add(*p++)) return 0;
      continue;
    }
    CStringA piece;
    uint32_t n = date ? ExpandDateExpression(len, p + 1, piece, &t) : ExpandTimeExpression(len, p + 1, piece, &t);
    if (!n || !out.Add(piece.GetBuffer(), n)) return 0;
    p += len + 2;
  }
  if (!out.Add('\0')) return 0;
  result.Attach(out.Detach());
  return 1;
}

// --- pictures ---

uint32_t IsDateExpression(const char* text) { return MatchPicture(text, kDatePictures); }
uint32_t IsTimeExpression(const char* text) { return MatchPicture(text, kTimePictures); }

uint32_t ExpandDateExpression(uint32_t length, const char* picture, CStringA& result, const SYSTEMTIME* when) {
  return FormatPicture(true, length, picture, result, when);
}
uint32_t ExpandTimeExpression(uint32_t length, const char* picture, CStringA& result, const SYSTEMTIME* when) {
  return FormatPicture(false, length, picture, result, when);
}

// --- CDataSourceList ---

void CDataSourceList::Empty() {
  for (CDataSource* s : *this) delete s;
  CPointerList<CDataSource>::Empty();
}

int32_t CDataSourceList::IndexOf(const CDataSource* source) const {
  int32_t i = 0;
  for (const CDataSource* s : *this) {
    if (s == source) return i;
    ++i;
  }
  return -1;
}

bool CDataSourceList::Remove(uint32_t index) {
  if (index >= GetCount()) return false;
  CDataSource* s = (*this)[index];
  CPointerList<CDataSource>::Remove(index);
  delete s;
  return true;
}

bool CDataSourceList::Remove(CDataSource* source) {
  int32_t i = IndexOf(source);
  return i >= 0 && Remove(static_cast<uint32_t>(i));
}

void CDataSourceList::Swap(uint32_t a, uint32_t b) {
  CDataSource* t = (*this)[a];
  (*this)[a] = (*this)[b];
  (*this)[b] = t;
}

int CDataSourceList::MoveUp(CDataSource* source) {
  int32_t i = IndexOf(source);
  if (i <= 0) return 0;
  Swap(static_cast<uint32_t>(i), static_cast<uint32_t>(i - 1));
  return 1;
}

int CDataSourceList::MoveDown(CDataSource* source) {
  int32_t i = IndexOf(source);
  if (i < 0 || static_cast<uint32_t>(i) + 1 >= GetCount()) return 0;
  Swap(static_cast<uint32_t>(i), static_cast<uint32_t>(i + 1));
  return 1;
}

CDataSource* CDataSourceList::Find(const char* filter, const char* address) const {
  for (CDataSource* s : *this)
    if (SameOrBothNull(s->GetFilter(), filter) && SameOrBothNull(s->GetURL(), address)) return s;
  return nullptr;
}

int CDataSourceList::CopyFrom(const CDataSourceList& other) {
  if (this == &other) return 1;
  Empty();
  for (const CDataSource* s : other) {
    CDataSource* copy = vtx::heap::New<CDataSource>();
    if (!copy) return 0;
    if (!copy->CopyFrom(*s) || !Add(copy)) {
      delete copy;
      return 0;
    }
  }
  return 1;
}

HRESULT CDataSourceList::Load(HKEY root, const char* appKey, const char* oldAddress, const char* oldFilter,
                              const char* oldUserId, const char* oldUserName, const char* oldPassword) {
  Empty();
  if (!appKey) return E_INVALIDARG;
  // One snapshot, so that a save in another process never shows half a list.
  vtx::RegTransaction snapshot(vtx::RegTransaction::Read);
  CStringA path;
  if (!ServersPath(path, appKey, 0)) return E_OUTOFMEMORY;
  if (RegistryKeyExists(root, path)) {
    for (uint32_t n = 1; n < kMaxSources; ++n) {
      if (!ServersPath(path, appKey, n)) return E_OUTOFMEMORY;
      RegStringValueA url;
      HRESULT hr = url.Load(root, path, "URL");
      if (hr == E_OUTOFMEMORY) return hr;
      if (FAILED(hr)) break;
      CDataSource* source = vtx::heap::New<CDataSource>();
      if (!source) return E_OUTOFMEMORY;
      if (!source->SetURL(url.GetString()) ||
          (hr = ReadOptional(root, path, "Filter", *source, &CDataSource::SetFilter)) != S_OK ||
          (hr = ReadOptional(root, path, "UserData1", *source, &CDataSource::SetUserData1)) != S_OK ||
          (hr = ReadOptional(root, path, "UserData2", *source, &CDataSource::SetUserData2)) != S_OK ||
          (hr = ReadCredentials(root, path, *source)) != S_OK || !Add(source)) {
        delete source;
        return E_OUTOFMEMORY;
      }
    }
  } else if (oldAddress) {
    // Without an address there is nothing to fetch, and a source without one could never be saved.
    CDataSource* source = vtx::heap::New<CDataSource>();
    if (!source) return E_OUTOFMEMORY;
    if (!source->SetURL(oldAddress) || !source->SetFilter(oldFilter) || !source->SetUserData1(oldUserId) ||
        !source->SetUserNameA(oldUserName) || !source->SetPassword(oldPassword) || !Add(source)) {
      delete source;
      return E_OUTOFMEMORY;
    }
  }

  // Addresses that a newer definition of the source's filter replaces.
  RegStringValue<char> folder;
  HRESULT hr = folder.Load(root, appKey, "Filters");
  if (hr == E_OUTOFMEMORY) return hr;
  if (FAILED(hr) || !folder.GetString() || !*folder.GetString() || !GetCount()) return S_OK;
  CFilterList filters;
  if (!filters.Create(folder.GetString(), false)) return E_OUTOFMEMORY;
  for (CDataSource* s : *this) {
    if (!s->GetFilter() || !s->GetURL()) continue;
    int32_t i = filters.Find(s->GetFilter(), 0);
    if (i < 0) continue;
    const char* by = filters[static_cast<uint32_t>(i)]->ReplacedBy(s->GetURL());
    if (by && !s->SetURL(by)) return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CDataSourceList::Save(HKEY root, const char* appKey) const {
  if (!appKey) return E_INVALIDARG;
  // A source without an address would stop the save halfway: refuse before anything changes.
  for (const CDataSource* s : *this)
    if (!s->GetURL()) return E_UNEXPECTED;
  vtx::RegTransaction tx;
  if (tx.Status()) return HRESULT_FROM_WIN32(tx.Status());
  CStringA path;
  if (!ServersPath(path, appKey, 0)) return E_OUTOFMEMORY;
  if (!DeleteRegistryKey(root, path)) {
    DWORD e = GetLastError();
    if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND) return HRESULT_FROM_WIN32(e);
  }
  // The key itself stays, empty or not: a missing "Servers" key reads as an older version's
  // configuration and brings the default source back.
  RegStringValueA keyOnly;
  HRESULT made = keyOnly.Save(root, path, nullptr);
  if (FAILED(made)) return made;
  uint32_t n = 0;
  for (const CDataSource* s : *this) {
    if (!ServersPath(path, appKey, ++n)) return E_OUTOFMEMORY;
    HRESULT hr = WriteText(root, path, "URL", s->GetURL());
    if (SUCCEEDED(hr) && HasText(s->GetFilter())) hr = WriteText(root, path, "Filter", s->GetFilter());
    if (SUCCEEDED(hr) && HasText(s->GetUserData1())) hr = WriteText(root, path, "UserData1", s->GetUserData1());
    if (SUCCEEDED(hr) && HasText(s->GetUserData2())) hr = WriteText(root, path, "UserData2", s->GetUserData2());
    if (SUCCEEDED(hr)) hr = WriteCredentials(root, path, *s);
    if (FAILED(hr)) return hr;
  }
  DWORD e = tx.Commit();
  return e ? HRESULT_FROM_WIN32(e) : S_OK;
}
