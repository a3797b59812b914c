// Descriptive facts about the machine for reports and the information page: hyper-threading,
// processor counts and the name of the running system. Nothing in the system's logic depends on them.
#pragma once
#include <cstdint>

#include "platform/sysinfo.h"
#include "platform/types.h"

// CPUCount's states.
constexpr DWORD HT_NOT_CAPABLE = 0;
constexpr DWORD HT_ENABLED = 1;
constexpr DWORD HT_DISABLED = 2;
constexpr DWORD HT_SUPPORTED_NOT_ENABLED = 3;
constexpr DWORD HT_CANNOT_DETECT = 4;
// The physical count when it cannot be detected.
constexpr DWORD kPhysicalCountUnknown = 255;

// Nonzero when the processors can run more than one thread per core.
DWORD HTSupported();
// The hyper-threading state; `logicalPerPackage` receives the logical processors per physical
// package (1 when not capable), `physicalCount` the packages when enabled, the processors when
// not, 255 when the layout cannot be read. Either pointer may be null.
DWORD CPUCount(DWORD* logicalPerPackage, DWORD* physicalCount);
// CPUCount's physical count when it is known, else the number of processors.
DWORD GetPhysicalSystemProcessors();
// The name of the running system ("Debian GNU/Linux 12 (bookworm), Linux 6.1.0-18-amd64") in the
// ANSI code page, cut to size - 1 characters; false when no name is known or there is no room.
bool GetWindowsVersionName(char* buffer, DWORD size);

// The same from a given layout (what the three above read from the machine).
DWORD HTSupportedOf(const vtx::ProcessorTopology& topology);
DWORD CPUCountOf(const vtx::ProcessorTopology& topology, DWORD* logicalPerPackage, DWORD* physicalCount);
DWORD PhysicalProcessorsOf(const vtx::ProcessorTopology& topology);
