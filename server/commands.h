// The server command set: window messages, WM_COPYDATA commands and their replies.
#pragma once
#include "platform/messages.h"

namespace vtx::server {

// Between the update thread and the command window (thread messages 0x8000 and 0x8004 go to the thread).
constexpr UINT WM_VX_RUNUPDATE = 0x8000;
constexpr UINT WM_VX_UPDATEDONE = 0x8001;
constexpr UINT WM_VX_UPDATEFAILED = 0x8002;
constexpr UINT WM_VX_UPDATEIDLE = 0x8003;
constexpr UINT WM_VX_CHECKDEFINITIONS = 0x8004;
constexpr UINT WM_VX_DEFINITIONSDONE = 0x8005;
// From clients.
constexpr UINT WM_VX_LOCKCONFIG = 0x8065;
constexpr UINT WM_VX_UNLOCKCONFIG = 0x8066;
constexpr UINT WM_VX_QUIT = 0x8067;
constexpr UINT WM_VX_UPDATENOW = 0x8068;
constexpr UINT WM_VX_SHOWMESSAGE = 0x8069;
constexpr UINT WM_VX_USESMAPIEMAIL = 0x806A;
constexpr UINT WM_VX_CANSAVESETTINGS = 0x806B;
constexpr UINT WM_VX_GETPENDINGUPDATES = 0x806C;
constexpr UINT WM_VX_ISUPDATING = 0x806D;
constexpr UINT WM_VX_EXIT = 0x806E;
constexpr UINT WM_VX_PING = 0x806F;
constexpr UINT WM_VX_IMPORTSETTINGS = 0x8073;
constexpr UINT WM_VX_EXPORTSETTINGS = 0x8074;
constexpr UINT WM_VX_COUNTHIT = 0x8075;
constexpr UINT WM_VX_TESTNOTIFICATION = 0x8076;

// Replies of the server's own facility; the low word names the text that explains them.
constexpr HRESULT VX_E_LOCKED_COUNTED = 0x80040201;
constexpr HRESULT VX_E_UPDATING_MANAGER = 0x80040204;
constexpr HRESULT VX_E_UPDATING_SERVER = 0x80040205;
constexpr HRESULT VX_E_LOCKED_BY_SERVER = 0x80040206;
constexpr HRESULT VX_E_LOCKED = 0x80040207;
constexpr HRESULT VX_E_KEY_NOT_WRITABLE = 0x80040208;

constexpr bool IsServerFacility(HRESULT hr) { return (hr & 0x1FFF0000u) == 0x00040000u; }

inline constexpr char kAppWindowClass[] = "HulvaneVantrexAppWin";
inline constexpr char kAppPipeName[] = "\\\\.\\pipe\\HulvaneVantrexAppPipe";
inline constexpr char kAppKeyPath[] = "SOFTWARE\\Hulvane\\Vantrex\\4.0";
inline constexpr char kUpgradeMutexName[] = "HulvaneVantrex_UpgradeRegistryMutex";

// Notification types.
constexpr UINT kTypeInformation = 0x10040;

// TestNotificationData, read out of its payload.
struct NotificationTest {
  DWORD messagesToLog = 0;
  DWORD messagesToFile = 0;
  DWORD messagesViaEmail = 0;
  DWORD messagesOnScreen = 0;
  // Profile, recipients, sender, SMTP server, messages file; empty means "not set".
  const char* strings[5] = {"", "", "", "", ""};
};

}  // namespace vtx::server
