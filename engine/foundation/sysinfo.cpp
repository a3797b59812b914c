#include "engine/foundation/sysinfo.h"

#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/heap.h"

DWORD HTSupportedOf(const vtx::ProcessorTopology& t) {
  switch (t.smt) {
    case vtx::SmtControl::On:
    case vtx::SmtControl::Off:
      return 1;
    case vtx::SmtControl::NotSupported:
      return 0;
    case vtx::SmtControl::Unknown:
      break;
  }
  // Without the control, threads that share a core are the only sign.
  return t.known && t.maxThreadsPerCore > 1 ? 1 : 0;
}

DWORD CPUCountOf(const vtx::ProcessorTopology& t, DWORD* logicalPerPackage, DWORD* physicalCount) {
  DWORD processors = t.processors ? t.processors : 1;
  DWORD logical = 1, physical = processors, status;
  if (!HTSupportedOf(t)) {
    status = HT_NOT_CAPABLE;
  } else if (!t.known || !t.packages) {
    physical = kPhysicalCountUnknown;
    status = HT_CANNOT_DETECT;
  } else {
    logical = processors / t.packages ? processors / t.packages : 1;
    if (logical == 1) {
      status = HT_DISABLED;
    } else if (t.maxThreadsPerCore > 1) {
      physical = processors / logical;
      status = HT_ENABLED;
    } else {
      status = HT_SUPPORTED_NOT_ENABLED;
    }
  }
  if (logicalPerPackage) *logicalPerPackage = logical;
  if (physicalCount) *physicalCount = physical;
  return status;
}

DWORD PhysicalProcessorsOf(const vtx::ProcessorTopology& t) {
  DWORD physical = kPhysicalCountUnknown;
  CPUCountOf(t, nullptr, &physical);
  if (physical < kPhysicalCountUnknown) return physical;
  return t.processors ? t.processors : 1;
}

DWORD HTSupported() { return HTSupportedOf(vtx::ReadProcessorTopology()); }

DWORD CPUCount(DWORD* logicalPerPackage, DWORD* physicalCount) {
  return CPUCountOf(vtx::ReadProcessorTopology(), logicalPerPackage, physicalCount);
}

DWORD GetPhysicalSystemProcessors() { return PhysicalProcessorsOf(vtx::ReadProcessorTopology()); }

bool GetWindowsVersionName(char* buffer, DWORD size) {
  if (!buffer || !size) return false;
  std::string name;
  if (!vtx::GetSystemName(&name)) return false;
  // os-release is UTF-8; the engine's narrow texts are in the ANSI code page.
  std::string text = name;
  int wide = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
  if (wide > 0) {
    char16_t* w = static_cast<char16_t*>(LocalAlloc(0, static_cast<size_t>(wide) * sizeof(char16_t)));
    if (w && MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, w, wide) > 0) {
      int narrow = WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
      if (narrow > 0) {
        text.assign(static_cast<size_t>(narrow), '\0');
        if (WideCharToMultiByte(CP_ACP, 0, w, -1, text.data(), narrow, nullptr, nullptr) > 0)
          text.resize(static_cast<size_t>(narrow - 1));
        else
          text = name;
      }
    }
    if (w) LocalFree(w);
  }
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
  return true;
}
