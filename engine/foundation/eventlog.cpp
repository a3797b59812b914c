#include "engine/foundation/eventlog.h"

#include "engine/foundation/eventmessages.h"
#include "platform/errors.h"

CEventLog::CEventLog()
    : m_pRegisterEventSourceA(RegisterEventSourceA),
      m_pDeregisterEventSource(DeregisterEventSource),
      m_pReportEventA(ReportEventA) {
  vtx::SetEventMessageTable(vtx::kEventMessages, vtx::kEventMessageCount);
  HANDLE probe = m_pRegisterEventSourceA(nullptr, "test");
  if (probe) m_pDeregisterEventSource(probe);
  else if (GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) m_pRegisterEventSourceA = nullptr;
}

CEventLog::~CEventLog() = default;
