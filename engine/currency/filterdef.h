// Filter definitions: the ".ini" files of the filters folder that name a filter program, the
// addresses it reads, how each is to be read and which older addresses each replaces.
#pragma once
#include <cstdint>

#include "engine/foundation/cstring.h"
#include "engine/foundation/inidata.h"
#include "engine/foundation/pointerlist.h"
#include "engine/foundation/stringlist.h"
#include "platform/errors.h"

// The definition file's schema.
constexpr uint32_t g_FilterIniTableCount = 30;
extern const IniTableEntry<char> g_FilterIniTable[g_FilterIniTableCount];

// Flags of the "Type" words of an address.
constexpr uint32_t kUrlTypeFree = 4;
constexpr uint32_t kUrlTypeEdit = 8;
// The flag of a "Type" word (case-insensitive), 0 for a word not in the table.
uint32_t GetUrlTypeFlag(const char* word);

constexpr const char* g_szDefaultFilter = "Default.ini";

class CFilter {
 public:
  // One [URL] section. Every string may be null.
  class CFilterURL {
   public:
    enum XPath { XPathTime, XPathCode, XPathName, XPathUnit, XPathRate, XPathInvertRate, XPathCount };

    uint32_t GetFlags() const { return m_flags; }
    uint32_t GetDirection() const { return m_direction; }  // 1 DIRECT, 0 INVERSE
    uint32_t GetTimeInfo() const { return m_timeInfo; }
    const char* GetAddress() const { return m_address; }
    const char* GetResource() const { return m_resource; }
    const char* GetComment() const { return m_comment; }
    const char* GetName() const { return m_name; }
    const char* GetExecutable() const { return m_executable; }
    const char* GetAppend() const { return m_append; }
    const char* GetBaseUnit() const { return m_baseUnit; }
    const char* GetSecondBaseUnit() const { return m_baseUnit2; }
    const char* GetTimeFormat() const { return m_timeFormat; }
    const char* GetTimeInfoText() const { return m_timeInfoText; }
    const char* GetXPath(XPath which) const { return which < XPathCount ? static_cast<const char*>(m_xpath[which]) : nullptr; }
    const char* GetRequiredVersion() const { return m_requiredVersion; }
    const CStringList<char>& GetReplaces() const { return m_replaces; }
    const CStringList<char>& GetNamespaces() const { return m_namespaces; }

   private:
    friend class CFilter;
    uint32_t m_flags = 0;
    uint32_t m_direction = 1;
    uint32_t m_timeInfo = 360;
    CStringA m_address, m_resource, m_comment, m_name, m_executable, m_append;
    CStringA m_baseUnit, m_baseUnit2, m_timeFormat, m_timeInfoText, m_requiredVersion;
    CStringA m_xpath[XPathCount];
    CStringList<char> m_replaces;
    CStringList<char> m_namespaces;
  };

  CFilter() = default;
  ~CFilter() { Empty(); }
  CFilter(const CFilter&) = delete;
  CFilter& operator=(const CFilter&) = delete;

  void Empty();

  // Loads "<filtersFolder>/<fileName>" (null: "Default.ini"); the file name's case may differ from
  // the disk. 1 on success; 0 for a name without ".INI" as its extension (from the first "."), a
  // name that would leave the folder ("/", "\", ":", "." or ".."), a null folder, or a failed
  // load (`Load`'s result in `result` when given).
  int Create(const char* filtersFolder, const char* fileName, HRESULT* result = nullptr);
  // Reads the file and fills the definition; HRESULT. A malformed file gives the parser's line in
  // `errorLine` when given.
  HRESULT Load(const char* path, uint32_t* errorLine = nullptr);

  bool IsDefault() const;
  const char* GetName() const { return m_fileName; }        // the file name
  const char* GetShortName() const { return m_shortName; }  // without ".INI"
  const char* GetDisplayName() const;                       // Name, else the short name
  const char* GetExecutable() const { return m_executable; }
  const char* GetInformation() const { return m_information; }
  const char* GetAppend() const { return m_append; }
  const char* GetRequiredVersion() const { return m_requiredVersion; }
  uint32_t GetHide() const { return m_hide; }

  uint32_t GetURLCount() const { return m_urls.GetCount(); }
  const CFilterURL* GetURL(uint32_t n) const { return n < m_urls.GetCount() ? m_urls[n] : nullptr; }
  const char* GetURLAddress(uint32_t n) const;
  int32_t FindURL(const char* address) const { return FindURLBy(address, false); }
  int32_t IFindURL(const char* address) const { return FindURLBy(address, true); }
  const char* GetAddressName(const char* address) const;
  const char* ReplacedBy(const char* address) const;

 private:
  int32_t FindURLBy(const char* address, bool ignoreCase) const;
  HRESULT SetNames(const char* fileName);

  CStringA m_fileName, m_shortName;
  CStringA m_displayName, m_executable, m_information, m_append, m_requiredVersion;
  uint32_t m_hide = 0;
  CPointerList<CFilterURL> m_urls;
};

// The definitions of the filters folder; owns them.
class CFilterList : public CPointerList<CFilter> {
 public:
  CFilterList() = default;
  ~CFilterList() { Empty(); }

  void Empty();
  // Every "*.ini" file of the folder (any case) that loads; files that fail are left out. Sorted:
  // by display name without regard to case; otherwise in the folder's name order. 1 on success
  // (a missing folder gives an empty list); 0 for a null folder or when memory runs out.
  int Create(const char* filtersFolder, bool sorted);
  // The index of a definition: mode 2 compares with the display name instead of the file name,
  // mode 1 looks for the text anywhere in it; both ignore case. A null text finds the first
  // "Default.ini", else 0 when the list is not empty. -1 when nothing matches.
  int32_t Find(const char* text, uint32_t mode = 0) const;
};
