// The dial-up (RAS) subset the update engine calls. Linux has no RAS: vtx::dialup::Available()
// is false, the phone book and the list of connections are empty, and dialling, hanging up and
// editing answer ERROR_CALL_NOT_IMPLEMENTED, so nothing is ever dialled or hung up.
#pragma once
#include "platform/types.h"

using HRASCONN = void*;

constexpr DWORD RAS_MaxEntryName = 256;
constexpr DWORD RAS_MaxPhoneNumber = 128;
constexpr DWORD RAS_MaxCallbackNumber = 128;
constexpr DWORD RAS_MaxDeviceType = 16;
constexpr DWORD RAS_MaxDeviceName = 128;
constexpr DWORD UNLEN = 256;
constexpr DWORD PWLEN = 256;
constexpr DWORD DNLEN = 15;

constexpr DWORD RASCS_Connected = 0x2000;
constexpr DWORD ERROR_BUFFER_TOO_SMALL = 603;
constexpr DWORD ERROR_NO_CONNECTION = 668;

// Field sizes as the dial-up record has them (the record is 1052 bytes with its size field).
struct RASDIALPARAMSA {
  DWORD dwSize;
  char szEntryName[RAS_MaxEntryName + 1];
  char szPhoneNumber[RAS_MaxPhoneNumber + 1];
  char szCallbackNumber[RAS_MaxCallbackNumber + 1];
  char szUserName[UNLEN + 1];
  char szPassword[PWLEN + 1];
  char szDomain[DNLEN + 1];
};

struct RASCONNA {
  DWORD dwSize;
  HRASCONN hrasconn;
  char szEntryName[RAS_MaxEntryName + 1];
  char szDeviceType[RAS_MaxDeviceType + 1];
  char szDeviceName[RAS_MaxDeviceName + 1];
};

struct RASCONNSTATUSA {
  DWORD dwSize;
  DWORD rasconnstate;
  DWORD dwError;
  char szDeviceType[RAS_MaxDeviceType + 1];
  char szDeviceName[RAS_MaxDeviceName + 1];
};

struct RASENTRYNAMEA {
  DWORD dwSize;
  char szEntryName[RAS_MaxEntryName + 1];
};

DWORD RasDialA(LPVOID extensions, LPCSTR phonebook, RASDIALPARAMSA* params, DWORD notifierType,
               LPVOID notifier, HRASCONN* connection);
DWORD RasGetConnectStatusA(HRASCONN connection, RASCONNSTATUSA* status);
DWORD RasHangUpA(HRASCONN connection);
DWORD RasGetErrorStringA(UINT error, LPSTR buffer, DWORD bufferSize);
DWORD RasEnumConnectionsA(RASCONNA* connections, DWORD* bytes, DWORD* count);
DWORD RasEnumEntriesA(LPCSTR reserved, LPCSTR phonebook, RASENTRYNAMEA* entries, DWORD* bytes, DWORD* count);
DWORD RasEditPhonebookEntryA(void* owner, LPCSTR phonebook, LPCSTR entry);

namespace vtx::dialup {
// Whether a dial-up backend exists (never, on Linux).
bool Available();
}  // namespace vtx::dialup
