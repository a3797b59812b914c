// The registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER in one SQLite store ($VANTREX_REGISTRY,
// default /var/lib/vantrex/registry.db). Every call returns a Win32 code, as the Windows calls do.
//
// Names are case-insensitive and keep their case; subkeys enumerate in case-insensitive name order,
// values in the order they were first written. String data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is
// stored as UTF-16LE; the A forms convert names and string data through CP_ACP.
#pragma once
#include "platform/errors.h"
#include "platform/native/productpaths.h"  // RegistryStorePath
#include "platform/types.h"

struct VtxRegKey;
using HKEY = VtxRegKey*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM DELETE_ACCESS = 0x00010000;  // DELETE
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Win32 codes of the store beyond those of errors.h.
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_REGISTRY_IO_FAILED = 1016;

// Longest key name (one path component) and value name, in characters.
constexpr DWORD REG_MAX_KEY_NAME = 255;
constexpr DWORD REG_MAX_VALUE_NAME = 16383;

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM access,
                        void* security, PHKEY result, DWORD* disposition);
LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,
                        void* security, PHKEY result, DWORD* disposition);
LSTATUS RegCloseKey(HKEY key);

// A null data pointer with a size pointer asks for the size; a short buffer gives ERROR_MORE_DATA with
// the size needed.
LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataBytes);
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataBytes);
LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD dataBytes);
LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD dataBytes);
LSTATUS RegDeleteValueA(HKEY key, LPCSTR name);
LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED otherwise), with its values.
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey);
// Deletes the subkey with everything under it; with a null or empty subkey, everything under the key
// (its values and subkeys) and not the key. One change: all of it or nothing. The key needs DELETE,
// KEY_ENUMERATE_SUB_KEYS and KEY_QUERY_VALUE access.
LSTATUS RegDeleteTreeA(HKEY key, LPCSTR subKey);
LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subKey);

// Name sizes are in characters: in, the buffer with its NUL; out, the name without it.
LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameChars, DWORD* reserved, LPSTR keyClass,
                      DWORD* classChars, FILETIME* lastWrite);
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameChars, DWORD* reserved, LPWSTR keyClass,
                      DWORD* classChars, FILETIME* lastWrite);
LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, DWORD* nameChars, DWORD* reserved, DWORD* type,
                      BYTE* data, DWORD* dataBytes);
LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD* nameChars, DWORD* reserved, DWORD* type,
                      BYTE* data, DWORD* dataBytes);
// Longest names are in characters without the NUL, in the width of the call; the longest data in bytes.
LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR keyClass, DWORD* classChars, DWORD* reserved, DWORD* subKeys,
                         DWORD* maxSubKeyChars, DWORD* maxClassChars, DWORD* values, DWORD* maxValueNameChars,
                         DWORD* maxValueBytes, DWORD* securityBytes, FILETIME* lastWrite);
LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, DWORD* classChars, DWORD* reserved, DWORD* subKeys,
                         DWORD* maxSubKeyChars, DWORD* maxClassChars, DWORD* values, DWORD* maxValueNameChars,
                         DWORD* maxValueBytes, DWORD* securityBytes, FILETIME* lastWrite);

namespace vtx {

// A store transaction on the calling thread. Scopes nest: an inner scope that ends without Commit
// undoes only its own changes, the outermost one decides for all. Engine code runs every "delete,
// then rewrite" and every read of a whole configuration inside one, so that other processes see the
// old data or the new, never a half, and a crash midway leaves the old data whole.
//
// Every outer transaction that changed something moves the store's change counter as it commits
// (RegistryChangeCount), unless its changes were made inside a Quiet scope.
class RegTransaction {
 public:
  enum Kind { Write, Read, Quiet };
  // A Write scope waits (busy time-out) for other writers; a Read scope sees one snapshot and may
  // not write: inside it every change and every Write scope fails with ERROR_ACCESS_DENIED. A Quiet
  // scope is a Write scope whose changes leave the change counter alone: for data that no reader of
  // the configuration looks at (hit counts). The constructor's result is Status().
  explicit RegTransaction(Kind kind = Write);
  ~RegTransaction();
  RegTransaction(const RegTransaction&) = delete;
  RegTransaction& operator=(const RegTransaction&) = delete;

  // ERROR_SUCCESS when the scope began.
  DWORD Status() const { return m_status; }
  // Keeps the changes of this scope; the Win32 code of the commit.
  DWORD Commit();
  // Undoes the changes of this scope now.
  void Rollback();

 private:
  DWORD m_status;
  int m_level = 0;
  bool m_open = false;
};

// The store's change counter: it moves with every committed change outside Quiet scopes, whoever
// made it through this layer, so a reader that remembers it knows in microseconds, without a lock,
// whether anything it read may have changed. Inside a transaction it is the counter of that
// snapshot. A missing store that cannot be made counts 0; a failure gives its Win32 code.
DWORD RegistryChangeCount(uint64_t* count);

// The store's published change generation: a word in shared memory beside the store
// ("<store>-changes") that every writer through this layer moves after each commit that moves the
// change counter, once the commit is done. A reader that read it before reading the store, and
// finds it unchanged, knows that nothing it read has changed; reading it takes no lock and, once
// mapped, no system call. False when there is none to read (no such file, or one that cannot be
// mapped): RegistryChangeCount is the authority then.
bool RegistryChangeGeneration(uint64_t* generation);

// A process that only reads the store (the web service) never makes one: a missing store, or an
// empty file in its place, is then ERROR_FILE_NOT_FOUND to every call instead of a new store.
void RegistryNeverCreates(bool never);

// Receives what RegReadTree reads. Names and string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) come
// in the width that was asked for: ANSI in CP_ACP, or UTF-16. Names end with a NUL; data are
// followed by two NUL characters of that width beyond `size`. A result other than ERROR_SUCCESS
// ends the walk with that result.
class RegTreeVisitor {
 public:
  virtual ~RegTreeVisitor() = default;
  // A direct subkey; its values follow.
  virtual DWORD OnSubkey(const void* name) = 0;
  virtual DWORD OnValue(const void* name, DWORD type, const BYTE* data, DWORD size) = 0;
};
// The values of an open key in creation order, then each direct subkey in name order with its
// values; one snapshot, two statements. Needs KEY_QUERY_VALUE and KEY_ENUMERATE_SUB_KEYS.
DWORD RegReadTree(HKEY key, bool ansi, RegTreeVisitor& visitor);

// For programs that only read, before their first use of the store: it is opened read-only and
// never made or changed (a store on a read-only file system included).
void SetRegistryReadOnly(bool readOnly);
// ERROR_SUCCESS when this process may write the store, ERROR_ACCESS_DENIED when the store or its file
// system is read-only, or the failure met; nothing is changed.
DWORD RegistryWriteProbe();

}  // namespace vtx
