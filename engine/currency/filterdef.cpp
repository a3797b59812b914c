#include "engine/currency/filterdef.h"

#include <new>
#include <string>
#include <vector>

#include "engine/foundation/inidatabuffer.h"
#include "engine/foundation/stringutil.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/numtext.h"

namespace {

const char* const kSectionRow = nullptr;  // the row that describes a section has no key
enum : uint32_t {
  kIdGeneral = 0,
  kIdName = 1,
  kIdExecutable = 2,
  kIdInformation = 3,
  kIdAppend = 4,
  kIdRequiredVersion = 5,
  kIdHide = 6,
  kIdURL = 7,
  kIdAddress = 8,
  kIdReplaces = 9,
  kIdComment = 10,
  kIdResource = 11,
  kIdUrlName = 12,
  kIdType = 13,
  kIdUrlExecutable = 14,
  kIdUrlAppend = 15,
  kIdBaseUnit = 16,
  kIdDefaultRate = 17,
  kIdTimeFormat = 18,
  kIdNamespaces = 19,
  kIdXPathTime = 20,
  kIdXPathInvertRate = 25,
  kIdTimeInfo = 26,
  kIdUrlRequiredVersion = 27,
};

struct TypeWord {
  const char* word;
  uint32_t flag;
};
const TypeWord kTypeWords[] = {{"FREE", kUrlTypeFree}, {"EDIT", kUrlTypeEdit}};

// Copies `text` into `dst`; false only when the copy could not be made.
bool SetText(CStringA& dst, const char* text) {
  dst = text;
  return !text || !dst.IsNull();
}

bool ContainsNoCase(const char* haystack, const char* needle) {
  if (!haystack || !needle) return false;
  size_t n = CStringUtil<char>::StringLen(needle);
  for (const char* p = haystack; *p; ++p)
    if (_strnicmp(p, needle, n) == 0) return true;
  return n == 0;
}

bool EqualNoCase(const char* a, const char* b) { return a && b && _stricmp(a, b) == 0; }

// A whole item as a number: decimal, "0x" hexadecimal or octal with a leading 0.
bool ReadNumber(const char* text, int32_t* value) {
  if (!text) return false;
  const char* end = text;
  vtx::ParseResult r;
  int32_t v = vtx::TextToSigned(text, &end, 0, &r);
  if (!r.any || r.overflow) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end) return false;
  *value = v;
  return true;
}

}  // namespace

const IniTableEntry<char> g_FilterIniTable[g_FilterIniTableCount] = {
    {"General", kSectionRow, kIdGeneral, IniTypeSection},
    {"General", "Name", kIdName, IniTypeString},
    {"General", "Executable", kIdExecutable, IniTypePath},
    {"General", "Information", kIdInformation, IniTypeString},
    {"General", "Append", kIdAppend, IniTypeString},
    {"General", "RequiredVersion", kIdRequiredVersion, IniTypeString},
    {"General", "Hide", kIdHide, IniTypeLong},
    {"URL", kSectionRow, kIdURL, IniTypeSection},
    {"URL", "Address", kIdAddress, IniTypePath},
    {"URL", "Replaces", kIdReplaces, IniTypeString},
    {"URL", "Comment", kIdComment, IniTypeString},
    {"URL", "Description", kIdComment, IniTypeString},
    {"URL", "Resource", kIdResource, IniTypeString},
    {"URL", "Name", kIdUrlName, IniTypeString},
    {"URL", "Type", kIdType, IniTypeMultiString},
    {"URL", "Executable", kIdUrlExecutable, IniTypePath},
    {"URL", "Append", kIdUrlAppend, IniTypeString},
    {"URL", "BaseUnit", kIdBaseUnit, IniTypeMultiString},
    {"URL", "DefaultRate", kIdDefaultRate, IniTypeString},
    {"URL", "TimeFormat", kIdTimeFormat, IniTypeString},
    {"URL", "Namespaces", kIdNamespaces, IniTypeMultiString},
    {"URL", "XPathTime", 20, IniTypeString},
    {"URL", "XPathCode", 21, IniTypeString},
    {"URL", "XPathName", 22, IniTypeString},
    {"URL", "XPathUnit", 23, IniTypeString},
    {"URL", "XPathMultiplier", 23, IniTypeString},
    {"URL", "XPathRate", 24, IniTypeString},
    {"URL", "XPathInvertRate", kIdXPathInvertRate, IniTypeString},
    {"URL", "TimeInfo", kIdTimeInfo, IniTypeMultiString},
    {"URL", "RequiredVersion", kIdUrlRequiredVersion, IniTypeString},
};

uint32_t GetUrlTypeFlag(const char* word) {
  if (!word) return 0;
  for (const TypeWord& t : kTypeWords)
    if (_stricmp(word, t.word) == 0) return t.flag;
  return 0;
}

// --- CFilter ---

void CFilter::Empty() {
  for (CFilterURL* url : m_urls) delete url;
  m_urls.Empty();
  m_fileName.Empty();
  m_shortName.Empty();
  m_displayName.Empty();
  m_executable.Empty();
  m_information.Empty();
  m_append.Empty();
  m_requiredVersion.Empty();
  m_hide = 0;
}

HRESULT CFilter::SetNames(const char* fileName) {
  const char* dot = strchr(fileName, '.');
  std::string shortName(fileName, static_cast<size_t>(dot - fileName));
  if (!SetText(m_fileName, fileName) || !SetText(m_shortName, shortName.c_str())) return E_OUTOFMEMORY;
  return S_OK;
}

int CFilter::Create(const char* filtersFolder, const char* fileName, HRESULT* result) {
  HRESULT ignored;
  if (!result) result = &ignored;
  Empty();
  if (!fileName) fileName = g_szDefaultFilter;
  *result = E_INVALIDARG;
  // The name comes from the configuration: it must name a file inside the folder.
  if (!vtx::IsPlainFileName(fileName)) return 0;
  const char* dot = strchr(fileName, '.');
  if (!dot || _stricmp(dot, ".INI") != 0) return 0;
  if (!filtersFolder || !*filtersFolder) {
    *result = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  std::string path;
  *result = vtx::ResolveFileName(filtersFolder, fileName, &path);
  if (FAILED(*result)) return 0;
  *result = Load(path.c_str());
  if (SUCCEEDED(*result)) *result = SetNames(fileName);
  if (FAILED(*result)) {
    Empty();
    return 0;
  }
  return 1;
}

HRESULT CFilter::Load(const char* path, uint32_t* errorLine) {
  if (errorLine) *errorLine = 0;
  if (!path) return E_INVALIDARG;
  Empty();

  CIniDataBuffer<char> data;
  HRESULT hr = IniLoadFile(path, &data, g_FilterIniTable, g_FilterIniTableCount, errorLine);
  if (FAILED(hr)) return hr;

  using Ini = CIniData<char>;
  uint32_t section = IniNoId;
  const char* sectionName = nullptr;
  CFilterURL* url = nullptr;
  for (Ini::Row row : data) {
    if (Ini::GetType(row) == IniTypeSection) {
      sectionName = Ini::GetSection(row);
      section = FindIniTableEntryID<char>(sectionName, nullptr, g_FilterIniTable, g_FilterIniTableCount);
      if (section == kIdURL) {
        url = vtx::heap::New<CFilterURL>();
        if (!url) return E_OUTOFMEMORY;
        if (!m_urls.Add(url)) {
          delete url;
          return E_OUTOFMEMORY;
        }
      }
      continue;
    }
    uint32_t id = FindIniTableEntryID<char>(sectionName, Ini::GetName(row), g_FilterIniTable, g_FilterIniTableCount);
    const char* value = Ini::GetStringValue(row);
    bool ok = true;
    if (section == kIdGeneral) {
      switch (id) {
        case kIdName: ok = SetText(m_displayName, value); break;
        case kIdExecutable: ok = SetText(m_executable, value); break;
        case kIdInformation: ok = SetText(m_information, value); break;
        case kIdAppend: ok = SetText(m_append, value); break;
        case kIdRequiredVersion: ok = SetText(m_requiredVersion, value); break;
        case kIdHide: m_hide = static_cast<uint32_t>(Ini::GetLongValue(row)); break;
        default: break;
      }
    } else if (section == kIdURL && url) {
      uint32_t items = Ini::GetStringCount(row);
      switch (id) {
        case kIdAddress: ok = SetText(url->m_address, value); break;
        case kIdReplaces: ok = !value || url->m_replaces.Add(value); break;
        case kIdComment: ok = SetText(url->m_comment, value); break;
        case kIdResource: ok = SetText(url->m_resource, value); break;
        case kIdUrlName: ok = SetText(url->m_name, value); break;
        case kIdType:
          url->m_flags = 0;
          for (uint32_t i = 0; i < items; ++i) url->m_flags |= GetUrlTypeFlag(Ini::GetStringN(row, i));
          break;
        case kIdUrlExecutable: ok = SetText(url->m_executable, value); break;
        case kIdUrlAppend: ok = SetText(url->m_append, value); break;
        case kIdBaseUnit:
          ok = SetText(url->m_baseUnit, value) && SetText(url->m_baseUnit2, items > 1 ? Ini::GetStringN(row, 1) : nullptr);
          break;
        case kIdDefaultRate:
          if (EqualNoCase(value, "DIRECT")) url->m_direction = 1;
          else if (EqualNoCase(value, "INVERSE")) url->m_direction = 0;
          else return E_INVALIDARG;
          break;
        case kIdTimeFormat: ok = SetText(url->m_timeFormat, value); break;
        case kIdNamespaces:
          for (uint32_t i = 0; i < items && ok; ++i) ok = url->m_namespaces.Add(Ini::GetStringN(row, i));
          break;
        case kIdTimeInfo: {
          int32_t n;
          if (!ReadNumber(value, &n) || n < 0) return E_INVALIDARG;
          url->m_timeInfo = static_cast<uint32_t>(n);
          ok = SetText(url->m_timeInfoText, items > 1 ? Ini::GetStringN(row, 1) : nullptr);
          break;
        }
        case kIdUrlRequiredVersion: ok = SetText(url->m_requiredVersion, value); break;
        default:
          if (id >= kIdXPathTime && id <= kIdXPathInvertRate)
            ok = SetText(url->m_xpath[id - kIdXPathTime], value);
          break;
      }
    }
    if (!ok) return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool CFilter::IsDefault() const { return EqualNoCase(m_fileName, g_szDefaultFilter); }

const char* CFilter::GetDisplayName() const { return m_displayName.IsEmpty() ? m_shortName : m_displayName; }

const char* CFilter::GetURLAddress(uint32_t n) const {
  const CFilterURL* url = GetURL(n);
  return url ? static_cast<const char*>(url->m_address) : nullptr;
}

int32_t CFilter::FindURLBy(const char* address, bool ignoreCase) const {
  if (!address) return -1;
  int32_t i = 0;
  for (const CFilterURL* url : m_urls) {
    const char* a = url->m_address;
    if (a && (ignoreCase ? _stricmp(a, address) : CStringUtil<char>::StringCmp(a, address)) == 0) return i;
    ++i;
  }
  return -1;
}

const char* CFilter::GetAddressName(const char* address) const {
  int32_t i = IFindURL(address);
  if (i < 0) return nullptr;
  const CFilterURL* url = m_urls[static_cast<uint32_t>(i)];
  if (url->m_name.IsEmpty() || (url->m_flags & kUrlTypeEdit)) return nullptr;
  return url->m_name;
}

const char* CFilter::ReplacedBy(const char* address) const {
  if (!address) return nullptr;
  for (const CFilterURL* url : m_urls)
    if (url->m_replaces.IFind(address) >= 0) return url->m_address;
  return nullptr;
}

// --- CFilterList ---

void CFilterList::Empty() {
  for (CFilter* f : *this) delete f;
  CPointerList<CFilter>::Empty();
}

int CFilterList::Create(const char* filtersFolder, bool sorted) {
  Empty();
  if (!filtersFolder || !*filtersFolder) return 0;
  std::vector<std::string> names;
  if (FAILED(vtx::ListFiles(filtersFolder, ".ini", &names))) return 1;  // no folder: no definitions
  for (const std::string& name : names) {
    CFilter* filter = vtx::heap::New<CFilter>();
    if (!filter) return 0;
    HRESULT hr = S_OK;
    if (!filter->Create(filtersFolder, name.c_str(), &hr)) {
      delete filter;
      if (hr == E_OUTOFMEMORY) return 0;
      continue;
    }
    uint32_t at = kListAppend;
    if (sorted) {
      uint32_t i = 0;
      for (const CFilter* f : *this) {
        if (_stricmp(f->GetDisplayName(), filter->GetDisplayName()) > 0) {
          at = i;
          break;
        }
        ++i;
      }
    }
    if (!Add(filter, at)) {
      delete filter;
      return 0;
    }
  }
  return 1;
}

int32_t CFilterList::Find(const char* text, uint32_t mode) const {
  if (!GetCount()) return -1;
  int32_t i = 0;
  if (!text) {
    for (const CFilter* f : *this) {
      if (f->IsDefault()) return i;
      ++i;
    }
    return 0;
  }
  for (const CFilter* f : *this) {
    const char* name = (mode & 2) ? f->GetDisplayName() : f->GetName();
    if ((mode & 1) ? ContainsNoCase(name, text) : EqualNoCase(name, text)) return i;
    ++i;
  }
  return -1;
}
