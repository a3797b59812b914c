// Replies of a mail server as the SMTP client takes them apart: the input is what the server sends,
// cut into packets where the input says so (each 0x00 byte ends a packet and is not sent).
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/notify/mailmessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1u << 20) return 0;
  SmtpReplyReader reader;
  std::string reply;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i < size && data[i] != 0) continue;
    reader.Add(reinterpret_cast<const char*>(data) + start, i - start);
    start = i + 1;
    int taken;
    while ((taken = reader.Take(&reply)) > 0) {
      // What the dialogue looks at: the code, and the whole text for a failure message.
      volatile bool accepted = reply.compare(0, 3, "250") == 0;
      (void)accepted;
    }
    if (taken < 0) return 0;
  }
  return 0;
}
