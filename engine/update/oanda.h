// Client of the vendor's quote protocol. The connection hands it a transport: a function that
// writes one query and one that reads answer bytes.
#pragma once
#include "engine/foundation/buffer.h"
#include "engine/foundation/cstring.h"
#include "platform/errors.h"
#include "platform/types.h"

class CSettings;

using OandaWriteQueryFunc = HRESULT (*)(const char* query, DWORD_PTR context);
using OandaReadFunc = HRESULT (*)(void* destination, DWORD size, DWORD* count, DWORD_PTR context);

class COanda {
 public:
  COanda() = default;
  COanda(const COanda&) = delete;
  COanda& operator=(const COanda&) = delete;
  ~COanda() = default;

  // "fxp:" addresses: a TCP connection of its own.
  HRESULT LoadFxp(const char* address, CBuffer<char>* output, CSettings* settings);
  // "fxpd:" addresses: over the transport that the caller set.
  HRESULT LoadFxpd(const char* address, CBuffer<char>* output, CSettings* settings);

  void SetWriteQueryFunc(OandaWriteQueryFunc func, DWORD_PTR context) {
    m_pfnWrite = func;
    m_dwWriteContext = context;
  }
  void SetReadFunc(OandaReadFunc func, DWORD_PTR context) {
    m_pfnRead = func;
    m_dwReadContext = context;
  }
  // The status text of the quote server's last error; null or empty when there is none.
  const char* GetErrorString() const { return m_strError.GetBuffer(); }
  void ClearError() { m_strError.Empty(); }

 protected:
  CStringA m_strError;
  OandaWriteQueryFunc m_pfnWrite = nullptr;
  DWORD_PTR m_dwWriteContext = 0;
  OandaReadFunc m_pfnRead = nullptr;
  DWORD_PTR m_dwReadContext = 0;
};
