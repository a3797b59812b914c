// Data sources: the addresses the server downloads rates from, each with its filter definition,
// two user-data texts and the server's credentials; stored one numbered subkey each under
// "<application key>\Servers". Addresses may hold "[1]", "[2]" and date and time pictures.
#pragma once
#include <cstdint>

#include "engine/foundation/cstring.h"
#include "engine/foundation/pointerlist.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/types.h"

class CDataSource {
 public:
  CDataSource() = default;
  CDataSource(const CDataSource&) = delete;
  CDataSource& operator=(const CDataSource&) = delete;

  const char* GetURL() const { return m_url; }
  const char* GetFilter() const { return m_filter; }
  const char* GetUserData1() const { return m_userData1; }
  const char* GetUserData2() const { return m_userData2; }
  const char* GetUserNameA() const { return m_userName; }
  const char* GetPassword() const { return m_password; }
  // Each copies the text (null clears); false when a non-null text could not be copied.
  bool SetURL(const char* text) { return Set(m_url, text); }
  bool SetFilter(const char* text) { return Set(m_filter, text); }
  bool SetUserData1(const char* text) { return Set(m_userData1, text); }
  bool SetUserData2(const char* text) { return Set(m_userData2, text); }
  bool SetUserNameA(const char* text) { return Set(m_userName, text); }
  bool SetPassword(const char* text) { return Set(m_password, text); }

  // Copies the six texts; 0 when a non-null text could not be copied.
  int CopyFrom(const CDataSource& other);

  // Whether the URL holds "[n]" (n = 1 or 2); for n <= 0, either of them.
  bool IsUserDataURL(int n) const;
  // Whether the URL holds a user-data placeholder or a date or time picture.
  bool IsParsableURL() const;
  // The URL with its placeholders filled in, the pictures from `now` (UTC; null: the current
  // time). 1 on success, 0 when an expansion or an allocation failed.
  int GetParsedURL(CStringA& result, const SYSTEMTIME* now = nullptr) const;

 private:
  static bool Set(CStringA& field, const char* text) {
    field = text;
    return !text || !field.IsNull();
  }

  CStringA m_url, m_filter, m_userData1, m_userData2, m_userName, m_password;
};

// The ordered data sources of the settings; owns them.
class CDataSourceList : public CPointerList<CDataSource> {
 public:
  CDataSourceList() = default;
  ~CDataSourceList() { Empty(); }

  // Deletes every source.
  void Empty();
  // Delete the source and take it out of the list; false when it is not there.
  bool Remove(CDataSource* source);
  bool Remove(uint32_t index);
  // Swap the source with the one before (after) it; 0 at the edge or when it is not in the list.
  int MoveUp(CDataSource* source);
  int MoveDown(CDataSource* source);
  // The first source whose Filter and URL equal the texts without regard to case; a null text
  // matches only a null field. Null when none.
  CDataSource* Find(const char* filter, const char* address) const;
  // Empties the list and appends copies of the other's sources; 0 when memory runs out.
  int CopyFrom(const CDataSourceList& other);

  // Reads "<appKey>\Servers" under `root`; without that key, the list is the single source of
  // earlier versions made of the old texts. Addresses that a filter definition in the folder
  // named by "Filters" replaces are brought up to date. 0, or 0x8007000E when memory runs out
  // (the list then holds the sources read so far).
  HRESULT Load(HKEY root, const char* appKey, const char* oldAddress, const char* oldFilter,
               const char* oldUserId, const char* oldUserName, const char* oldPassword);
  // Rewrites "<appKey>\Servers" in list order inside one store transaction. Every source must have
  // a URL (else 0x8000FFFF, the string writer's code, before anything is written); on any failure
  // the stored sources stay as they were.
  HRESULT Save(HKEY root, const char* appKey) const;

 private:
  int32_t IndexOf(const CDataSource* source) const;
  void Swap(uint32_t a, uint32_t b);
};

// The length of the picture that `text` (the text after a "[") begins with, "]" included in the
// match but not in the length: "dddd]" 4 ... "y]" 1; 0 when none. Case-sensitive.
uint32_t IsDateExpression(const char* text);
// The same for "hh]", "h]", "HH]", "H]", "mm]", "m]", "ss]", "s]", "tt]", "t]".
uint32_t IsTimeExpression(const char* text);
// Formats the time (UTC; null: the current time) with the first `length` characters of `picture`
// as a date (time) picture in English (United States). The length of the text in `result`, 0 on
// failure.
uint32_t ExpandDateExpression(uint32_t length, const char* picture, CStringA& result, const SYSTEMTIME* when = nullptr);
uint32_t ExpandTimeExpression(uint32_t length, const char* picture, CStringA& result, const SYSTEMTIME* when = nullptr);
