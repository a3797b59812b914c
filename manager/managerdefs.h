// Names, message codes and text numbers of vtxmanager.
#pragma once
#include "engine/foundation/servercommands.h"
#include "platform/messages.h"

namespace vtx::manager {

constexpr UINT WM_VXMGR_OPENCONFIGURATION = 0x8000;
constexpr UINT WM_VXMGR_CLOSE = 0x8001;
constexpr UINT WM_VXMGR_QUIT = 0x8002;
constexpr UINT WM_VXMGR_CONTROLWINDOWCLOSED = 0x8003;
constexpr UINT WM_VXMGR_MESSAGEWINDOWCLOSED = 0x8004;
constexpr UINT WM_VXMGR_TRAYNOTIFY = 0x8005;

constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_RBUTTONUP = 0x0205;

// The hidden window's class, and the name of the socket other managers reach it through.
constexpr char kManagerClass[] = "HulvaneVantrexManager";
constexpr char kCreationLockName[] = "HulvaneVantrexManager_CreationMutex";
constexpr const char* kAppKey = g_szAppKey;
constexpr char kProductPage[] = "https://www.hulvane.com/vantrex/";
constexpr char kHelpFile[] = "Documentation/index.html";
// Shown when there is no catalogue to take texts from.
constexpr char kCaption[] = "Vantrex Manager";
constexpr char kNoResources[] = "The resource library cannot be loaded.";
constexpr char kNoWindow[] = "The message window cannot be created.";

// Texts of the catalogue.
constexpr UINT kStrProduct = 32;
constexpr UINT kStrTrayTip = 434;
constexpr UINT kStrMenuOpen = 435;
constexpr UINT kStrMenuHelp = 436;
constexpr UINT kStrMenuProductPage = 437;
constexpr UINT kStrMenuActions = 456;
constexpr UINT kStrMenuActionsEmpty = 457;

// How long a request to another manager may take.
constexpr DWORD kRequestTimeoutMs = 5000;

}  // namespace vtx::manager
