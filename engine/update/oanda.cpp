// There is no quote-protocol client: both transports refuse (0x80004001), so that a source with
// such an address fails its fetch with a clear result instead of delivering nothing.
#include "engine/update/oanda.h"

HRESULT COanda::LoadFxp(const char* address, CBuffer<char>* output, CSettings*) {
  if (!address || !output) return E_INVALIDARG;
  return E_NOTIMPL;
}

HRESULT COanda::LoadFxpd(const char* address, CBuffer<char>* output, CSettings*) {
  if (!address || !output) return E_INVALIDARG;
  return E_NOTIMPL;
}
