// The programs' own message table of the event log (English; a catalogue's [messages] section
// takes precedence).
#pragma once
#include <cstddef>

#include "platform/eventlog.h"

namespace vtx {
extern const EventMessageText kEventMessages[];
extern const size_t kEventMessageCount;
}  // namespace vtx
