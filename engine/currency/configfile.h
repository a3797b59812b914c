// The configuration file (".vx-cnf"): the application key with its values and subkeys, less the
// values that belong to the machine itself, as tagged records after a 24-byte header. All numbers
// are u32 little-endian; names are UTF-16LE with their NUL.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/errors.h"
#include "platform/process.h"
#include "platform/types.h"

// The file was written in a newer version of the format.
constexpr HRESULT VX_E_NEWER_CONFIGURATION = 0x8004020D;

// Writes the application key to `path` (".vx-cnf" appended when `addExtension` is set and the name
// lacks it). The file is private to its owner (mode 0600), as it holds the scrambled credentials;
// an existing file is replaced whole, or kept as it was when the export fails. With `as`, the file
// is written with that account's rights (the caller whose request it is), never the program's own.
HRESULT ExportConfiguration(const char* path, BOOL addExtension, const vtx::Account* as = nullptr);

// Replaces the application key's contents with the file's, except the machine's own names, which
// keep their values (and stay absent when they were). The whole file is checked before anything
// changes; the change is one store transaction under the settings lock, so a failure leaves the
// key as it was. 0x80004003 for a null path, 0x8007000D for a file that is not a configuration
// file or whose body is damaged, VX_E_NEWER_CONFIGURATION, 0x800700DF for a file over the size
// limit, Win32 errors as 0x8007xxxx. With `as`, the file is read with that account's rights.
HRESULT ImportConfiguration(const char* path, BOOL addExtension, const vtx::Account* as = nullptr);

namespace vtx::configfile {

constexpr size_t kHeaderBytes = 24;
// Limits of what an import reads (an export that would break them fails with 0x800700DF).
constexpr size_t kMaxFileBytes = size_t{64} << 20;
constexpr uint32_t kMaxKeyName = 255;             // characters
constexpr uint32_t kMaxValueName = 16383;         // characters
constexpr uint32_t kMaxValueData = uint32_t{1} << 20;  // bytes
constexpr uint32_t kMaxDepth = 512;               // subkey levels below the application key

// The records of a file in order. Names arrive as `length` UTF-16LE characters, checked: no NUL
// inside, no backslash in a key name, within the limits.
class Visitor {
 public:
  virtual ~Visitor() = default;
  // A subkey of the current key; its values and subkeys follow until the matching EndKey.
  virtual HRESULT Subkey(const uint8_t* name, uint32_t length) = 0;
  virtual HRESULT Value(const uint8_t* name, uint32_t length, uint32_t type, const uint8_t* data, uint32_t size) = 0;
  // The end of the current subkey (the application key's own end is not reported).
  virtual HRESULT EndKey() = 0;
};

// Checks a whole file and, with a visitor, reports its records; a visitor's failure ends the walk
// with its code. S_OK, 0x8007000D or VX_E_NEWER_CONFIGURATION.
HRESULT ReadConfiguration(const uint8_t* data, size_t size, Visitor* visitor);

// True for the names of the application key that belong to the machine (install paths, folders, the
// server program, the language catalogues, the web service's host and site), compared as the store
// compares names.
bool IsMachineLocalName(const char16_t* name, size_t length);

}  // namespace vtx::configfile
