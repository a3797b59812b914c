#include "manager/browserview.h"

#include "platform/errors.h"

namespace vtx::manager {

HRESULT CBrowserView::Show(const char* address, DWORD) {
  processId = 0;
  if (!address) return E_INVALIDARG;
  return launcher_.OpenUrl(address);
}

int OpenControlPanelApplet(const char*) { return 0; }

}  // namespace vtx::manager
