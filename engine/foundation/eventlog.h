// The event-log entry points of the programs.
#pragma once
#include "platform/eventlog.h"
#include "platform/types.h"

// The log counts as available when all three entry points are there. Creating one also gives the
// event log the programs' own message table.
class CEventLog {
 public:
  CEventLog();
  ~CEventLog();
  CEventLog(const CEventLog&) = delete;
  CEventLog& operator=(const CEventLog&) = delete;
  bool IsAvailable() const {
    return m_pRegisterEventSourceA && m_pDeregisterEventSource && m_pReportEventA;
  }

  HMODULE m_hModule = nullptr;
  PFN_RegisterEventSourceA m_pRegisterEventSourceA = nullptr;
  PFN_DeregisterEventSource m_pDeregisterEventSource = nullptr;
  PFN_ReportEventA m_pReportEventA = nullptr;
};
