// Facts about the machine: its processors (sysfs), the name of the running system (os-release and
// the kernel), and the computer's names.
#pragma once
#include <cstdint>
#include <string>

#include "platform/errors.h"
#include "platform/types.h"

// The longest NetBIOS-style computer name; the names here are the host name's first label and may
// be longer (up to 63 characters).
constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;

enum COMPUTER_NAME_FORMAT {
  ComputerNameNetBIOS = 0,
  ComputerNameDnsHostname = 1,
  ComputerNameDnsDomain = 2,
  ComputerNameDnsFullyQualified = 3,
};

// The host name's first label. `size` is the buffer in characters with the NUL; on success it
// receives the length without it. A short buffer gives FALSE, last error 111, and the size needed.
BOOL GetComputerNameA(char* buffer, DWORD* size);
// The host label, the DNS domain (empty when the machine has none), or the fully qualified name.
// A short buffer gives FALSE, last error 234, and the size needed (NUL included); another format
// gives FALSE, last error 87.
BOOL GetComputerNameExA(COMPUTER_NAME_FORMAT format, char* buffer, DWORD* size);

namespace vtx {

// <sysfs>/devices/system/cpu/smt/control: whether the processors can run more than one thread per
// core. Unknown when the file is missing or the architecture has no such control.
enum class SmtControl { Unknown, NotSupported, Off, On };

struct ProcessorTopology {
  uint32_t processors = 0;         // online logical processors (at least 1)
  uint32_t packages = 0;           // distinct physical packages among them
  uint32_t maxThreadsPerCore = 0;  // most online threads that one core runs
  SmtControl smt = SmtControl::Unknown;
  bool known = false;  // package and siblings were read for every online processor
};

// The processors as sysfs shows them; `sysfs` is its mount point ("/sys" when null).
ProcessorTopology ReadProcessorTopology(const char* sysfs = nullptr);

// The system's name from os-release under `root` ("/" when null; etc/os-release, else
// usr/lib/os-release): PRETTY_NAME, else NAME and VERSION. False when neither file names one.
bool ReadOsReleaseName(std::string* name, const char* root = nullptr);
// The kernel's name and release, "Linux 6.1.0-18-amd64"; false when uname fails.
bool KernelName(std::string* name);
// "<os-release name>, <kernel>", or the kernel alone; false when neither is known.
bool GetSystemName(std::string* name, const char* root = nullptr);

}  // namespace vtx
