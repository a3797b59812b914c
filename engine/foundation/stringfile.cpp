#include "engine/foundation/stringfile.h"

#include <string>

#include "platform/files.h"

HRESULT StringFromFile(const char* path, CStringA& text, uint32_t* size) {
  if (size) *size = 0;
  if (!path) return E_INVALIDARG;
  std::string data;
  HRESULT hr = vtx::ReadWholeFile(path, &data);
  if (FAILED(hr)) return hr;
  if (data.size() >= UINT32_MAX) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  text = data.c_str();
  if (text.IsNull()) return E_OUTOFMEMORY;
  if (size) *size = static_cast<uint32_t>(data.size());
  return S_OK;
}

HRESULT StringToFile(const char* path, const char* text, uint32_t length) {
  if (!path || (!text && length)) return E_INVALIDARG;
  HRESULT hr = vtx::WriteWholeFile(path, text ? text : "", length);
  if (FAILED(hr)) DeleteFileA(path);
  return hr;
}
