// The names and codes that the programs share with vtxserver: the application key, the server's
// window class and the pipes, the server command set and the replies of the server's own facility.
// Header only, in the lowest layer that needs it, so that every layer and program may include it.
#pragma once
#include "platform/types.h"

// The product key and its version's application key under HKEY_LOCAL_MACHINE; subkeys are spelled
// VTX_APP_KEY "\\Name".
#define VTX_PRODUCT_KEY "SOFTWARE\\Hulvane\\Vantrex"
#define VTX_APP_VERSION "4.0"
#define VTX_APP_KEY VTX_PRODUCT_KEY "\\" VTX_APP_VERSION
inline constexpr char g_szAppKey[] = VTX_APP_KEY;

// The server's hidden command window and the pipes of the server, the service and the messenger.
inline constexpr char g_szAppWindowClass[] = "HulvaneVantrexAppWin";
inline constexpr char g_szAppPipe[] = "\\\\.\\pipe\\HulvaneVantrexAppPipe";
inline constexpr char g_szServicePipe[] = "\\\\.\\pipe\\HulvaneVantrexSvcPipe";
inline constexpr char g_szMessengerPipe[] = "\\\\.\\pipe\\HulvaneVantrexMsngPipe";

// Thread messages to the update thread (wParam and lParam 0).
constexpr UINT WM_VX_RUNUPDATE = 0x8000;
constexpr UINT WM_VX_CHECKDEFINITIONS = 0x8004;
// The update thread's reports to the command window, sent in this order: one of the three, then
// WM_VX_UPDATEIDLE.
constexpr UINT WM_VX_UPDATEDONE = 0x8001;       // wParam: the thread's settings
constexpr UINT WM_VX_UPDATEFAILED = 0x8002;     // lParam: the run's HRESULT
constexpr UINT WM_VX_UPDATEIDLE = 0x8003;
constexpr UINT WM_VX_DEFINITIONSDONE = 0x8005;  // wParam: the thread's settings

// Commands of the other programs.
constexpr UINT WM_VX_LOCKCONFIG = 0x8065;
constexpr UINT WM_VX_UNLOCKCONFIG = 0x8066;
constexpr UINT WM_VX_QUIT = 0x8067;
constexpr UINT WM_VX_UPDATENOW = 0x8068;
constexpr UINT WM_VX_SHOWMESSAGE = 0x8069;  // WM_COPYDATA: MessageData
constexpr UINT WM_VX_USESMAPIEMAIL = 0x806A;
constexpr UINT WM_VX_CANSAVESETTINGS = 0x806B;
constexpr UINT WM_VX_GETPENDINGUPDATES = 0x806C;
constexpr UINT WM_VX_ISUPDATING = 0x806D;
constexpr UINT WM_VX_EXIT = 0x806E;
constexpr UINT WM_VX_PING = 0x806F;
constexpr UINT WM_VX_IMPORTSETTINGS = 0x8073;    // WM_COPYDATA: SettingsFileData
constexpr UINT WM_VX_EXPORTSETTINGS = 0x8074;    // WM_COPYDATA: SettingsFileData
constexpr UINT WM_VX_COUNTHIT = 0x8075;          // wParam: the code, first character in the low byte
constexpr UINT WM_VX_TESTNOTIFICATION = 0x8076;  // WM_COPYDATA: TestNotificationData

// Replies of the server's own facility; the low word is the number of the text that explains them.
constexpr HRESULT VX_E_LOCKED_COUNTED = 0x80040201;
constexpr HRESULT VX_E_UPDATING_MANAGER = 0x80040204;
constexpr HRESULT VX_E_UPDATING_SERVER = 0x80040205;
constexpr HRESULT VX_E_LOCKED_BY_SERVER = 0x80040206;
constexpr HRESULT VX_E_LOCKED = 0x80040207;
constexpr HRESULT VX_E_KEY_NOT_WRITABLE = 0x80040208;

constexpr bool IsServerFacility(HRESULT hr) { return (hr & 0x1FFF0000u) == 0x00040000u; }
