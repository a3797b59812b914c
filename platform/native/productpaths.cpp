// The product's environment and paths; they live in the seam so that a program that only needs a
// path links neither SQLite nor libsystemd.
#include "platform/native/productpaths.h"

#include <string>

#include "platform/native/files.h"
#include "platform/native/syscalls.h"

namespace vtx {

namespace env {

const char* Get(const char* name, const char* fallback) {
  const char* value = sys::Getenv(name);
  return value && *value ? value : fallback;
}

}  // namespace env

const char* RegistryStorePath() {
  thread_local std::string text;
  text = env::Get(env::kRegistry, env::kDefaultRegistry);
  return text.c_str();
}

namespace service {

std::string ProductDataDir() {
  std::string store = vtx::RegistryStorePath();
  size_t slash = store.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : store.substr(0, slash);
}

std::string ProductAppDataDir() {
  // As CSIDL_COMMON_APPDATA names it, also while it does not exist yet.
  return JoinPath(env::Get(env::kAppData, env::kDefaultAppData), "Hulvane/Vantrex");
}

std::string DefaultDisplayMessagesPath() { return JoinPath(ProductDataDir(), "DisplayMessages.txt"); }

}  // namespace service
}  // namespace vtx
