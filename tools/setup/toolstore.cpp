#include "tools/setup/toolstore.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "engine/foundation/resourcelib.h"
#include "engine/foundation/servercommands.h"
#include "platform/errors.h"
#include "platform/native/syscalls.h"
#include "platform/registry.h"
#include "platform/resources.h"

namespace vtx::tools {

namespace {

StoreState Fail(const char* program, const char* path, DWORD code) {
  const char* why = vtx::SystemErrorText(HRESULT_FROM_WIN32(code));
  switch (code) {
    case ERROR_REGISTRY_CORRUPT:
      std::fprintf(stderr, "%s: the registry store %s is damaged or is not a Vantrex store\n", program, path);
      break;
    case ERROR_ACCESS_DENIED:
      std::fprintf(stderr, "%s: the registry store %s may not be read by this account: %s\n", program, path,
                   why ? why : "access denied");
      break;
    default:
      std::fprintf(stderr, "%s: cannot read the registry store %s: %s\n", program, path, why ? why : "unknown error");
  }
  return StoreState::Failed;
}

}  // namespace

StoreState OpenStoreToRead(const char* program) {
  vtx::SetRegistryReadOnly(true);
  const char* path = vtx::RegistryStorePath();
  struct stat st{};
  if (vtx::sys::Stat(path, &st) != 0) {
    if (errno == EACCES) return Fail(program, path, ERROR_ACCESS_DENIED);
    std::fprintf(stderr, "%s: there is no registry store at %s (vtxsetup makes one)\n", program, path);
    return StoreState::Failed;
  }
  // A damaged or unreadable store is told apart from one that holds nothing yet.
  vtx::RegTransaction read(vtx::RegTransaction::Read);
  if (read.Status() != ERROR_SUCCESS) return Fail(program, path, read.Status());
  HKEY key = nullptr;
  LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, g_szAppKey, 0, KEY_READ, &key);
  if (rc == ERROR_FILE_NOT_FOUND) return StoreState::NoAppKey;
  if (rc != ERROR_SUCCESS) return Fail(program, path, static_cast<DWORD>(rc));
  DWORD subKeys = 0;
  rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return Fail(program, path, static_cast<DWORD>(rc));
  return StoreState::Ready;
}

bool CheckStoreToWrite(const char* program) {
  DWORD e = ERROR_SUCCESS;
  {
    vtx::RegTransaction probe(vtx::RegTransaction::Read);
    e = probe.Status();
  }
  if (e == ERROR_SUCCESS) e = vtx::RegistryWriteProbe();
  if (e == ERROR_SUCCESS) return true;
  if (e == ERROR_ACCESS_DENIED) {
    std::fprintf(stderr, "%s: the registry store %s is read-only, or this account may not write it\n", program,
                 vtx::RegistryStorePath());
    return false;
  }
  Fail(program, vtx::RegistryStorePath(), e);
  return false;
}

std::string CodeText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  std::string text;
  if (IsServerFacility(hr)) {
    if (HMODULE module = LoadResourceLibrary(g_szAppKey)) {
      text = LoadText(module, hr & 0xFFFF);
      FreeLibrary(module);
    }
  } else if (const char* system = vtx::SystemErrorText(hr)) {
    text = system;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text.empty() ? code : text + " (" + code + ")";
}

}  // namespace vtx::tools
