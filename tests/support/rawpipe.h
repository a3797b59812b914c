// Raw requests of the pipe protocol, sent with socat (a client nobody here wrote).
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/files.h"

namespace vtxtest {

// A little-endian 32-bit word as it travels.
inline std::string U32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
  return s;
}
// A plain message: msg, wParam, lParam.
inline std::string Request(uint32_t msg, uint32_t wParam = 0) { return U32(msg) + U32(wParam) + U32(0); }
// A WM_COPYDATA request whose stated size may differ from the data that follow.
inline std::string CopyData(uint32_t dwData, const std::string& data, uint32_t cbData) {
  return U32(74) + U32(0) + U32(0) + U32(dwData) + U32(cbData) + U32(0) + data;
}
inline std::string CopyData(uint32_t dwData, const std::string& data) {
  return CopyData(dwData, data, static_cast<uint32_t>(data.size()));
}

// Sends `request` to the socket with socat and returns what came back; `prefix` runs socat under
// another command (e.g. setpriv). The files of the exchange go to `folder`.
inline std::string Socat(const std::string& socket, const std::string& request, const std::string& folder,
                         const std::string& prefix = "", int seconds = 10) {
  static std::atomic<int> n{0};
  std::string tag = std::to_string(n++);
  std::string in = folder + "/socat-request" + tag, out = folder + "/socat-reply" + tag;
  std::ofstream(in, std::ios::binary) << request;
  std::string limit = std::to_string(seconds);
  std::string cmd = prefix + "socat -t" + limit + " -T" + limit + " - UNIX-CONNECT:'" + socket + "' < '" + in + "' > '" +
                    out + "'";
  if (std::system(cmd.c_str()) != 0) return "<socat failed>";
  return ReadFile(out);
}

}  // namespace vtxtest
