// The product's environment variables, the defaults of the paths they override and the paths
// built from them. Every program reads them here, and the units' writer hands the same names on to
// the services.
#pragma once
#include <string>

namespace vtx::env {

constexpr char kRegistry[] = "VANTREX_REGISTRY";
constexpr char kRuntimeDir[] = "VANTREX_RUNTIME_DIR";
constexpr char kAppData[] = "VANTREX_APPDATA";
constexpr char kSyslogSocket[] = "VANTREX_SYSLOG_SOCKET";
constexpr char kCodePage[] = "VANTREX_CODEPAGE";
constexpr char kPamDir[] = "VANTREX_PAM_DIR";
constexpr char kAccount[] = "VANTREX_ACCOUNT";
constexpr char kUnitDir[] = "VANTREX_UNIT_DIR";
constexpr char kSendmail[] = "VANTREX_SENDMAIL";
constexpr char kDefinitionsUrl[] = "VANTREX_DEFINITIONS_URL";

// What a service needs to find what was registered; the unit carries each that is set.
constexpr const char* kServiceVariables[] = {kRegistry,     kRuntimeDir, kAppData, kSyslogSocket,
                                             kCodePage,     kPamDir,     kAccount};

constexpr char kDefaultRegistry[] = "/var/lib/vantrex/registry.db";
constexpr char kDefaultRuntimeDir[] = "/run/vantrex";
constexpr char kDefaultAppData[] = "/var/lib";
constexpr char kDefaultSyslogSocket[] = "/dev/log";
constexpr char kDefaultPamDir[] = "/etc/pam.d";
constexpr char kDefaultAccount[] = "vantrex";
constexpr char kDefaultUnitDir[] = "/etc/systemd/system";
constexpr char kDefaultSendmail[] = "/usr/sbin/sendmail";

// The variable's value, or `fallback` when it is unset or empty.
const char* Get(const char* name, const char* fallback = nullptr);

}  // namespace vtx::env

namespace vtx {

// The path of the store: $VANTREX_REGISTRY, else the system's default.
const char* RegistryStorePath();

}  // namespace vtx

namespace vtx::service {

// The product's data folder: the folder of the registry store (/var/lib/vantrex by default).
std::string ProductDataDir();
// The product's folder of common application data, where the update logs go
// ($VANTREX_APPDATA, else /var/lib, with "Hulvane/Vantrex").
std::string ProductAppDataDir();
// The default display-messages file: "DisplayMessages.txt" in the product's data folder.
std::string DefaultDisplayMessagesPath();

}  // namespace vtx::service
