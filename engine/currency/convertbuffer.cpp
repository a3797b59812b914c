#include "engine/currency/convertbuffer.h"

#include <cstring>
#include <string>

#include "engine/foundation/numbertext.h"
#include "platform/errors.h"

HRESULT ConvertBuffer(const char* text, CWriteStorage& writer, const char* from, const char* to, CSettings& settings,
                      bool round, bool format, uint32_t* count) {
  if (count) *count = 0;
  if (!text) return E_INVALIDARG;
  char separator[4] = ".";
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SMONDECIMALSEP, separator, sizeof separator) <= 0 || !separator[0])
    std::strcpy(separator, ".");
  const size_t separatorLength = std::strlen(separator);
  uint32_t converted = 0;
  const char* p = text;
  while (*p) {
    // A separator before any digit is text: ".5" is not read as a half.
    if (std::strncmp(p, separator, separatorLength) == 0) {
      HRESULT hr = writer.Write(p, static_cast<uint32_t>(separatorLength));
      if (FAILED(hr)) return hr;
      p += separatorLength;
      continue;
    }
    uint32_t used = 0;
    double amount = 0;
    if (*p >= '0' && *p <= '9') amount = UnitStringToDouble(p, 0, &used);
    if (!used) {
      HRESULT hr = writer.Write(p, 1);
      if (FAILED(hr)) return hr;
      ++p;
      continue;
    }
    char result[200] = "";
    uint32_t flags = (round ? CSettings::kConvertRound : 0) | (format ? CSettings::kConvertFormat : 0);
    HRESULT hr = settings.ConvertUnit(amount, from, to, result, sizeof result, flags, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    hr = writer.Write(result, static_cast<uint32_t>(std::strlen(result)));
    if (FAILED(hr)) return hr;
    p += used;
    ++converted;
    if (count) *count = converted;
  }
  return S_OK;
}

HRESULT ConvertClipboard(CSettings& settings, const char* from, const char* to, bool round, bool format,
                         uint32_t* count) {
  if (count) *count = 0;
  CClipboard clipboard;
  HRESULT hr = clipboard.Open();
  if (FAILED(hr)) return hr;
  CReadClipboard in;
  hr = in.Create(CF_TEXT, CReadBuffer::Copy);
  if (hr == E_NOTFOUND) return S_OK;
  if (FAILED(hr)) return hr;
  // The clipboard's text, terminated whatever the block held.
  std::string text(in.GetSize(), '\0');
  uint32_t got = 0;
  if (in.GetSize()) in.Read(text.data(), in.GetSize(), &got);
  text.resize(std::strlen(text.c_str()));
  CWriteBuffer out;
  hr = out.Create(1000, CWriteBuffer::OneZero);
  if (FAILED(hr)) return hr;
  uint32_t n = 0;
  hr = ConvertBuffer(text.c_str(), out, from, to, settings, round, format, &n);
  if (SUCCEEDED(hr)) hr = out.Close();  // the terminating zero
  if (FAILED(hr)) return hr;
  if (n) {
    hr = clipboard.Empty();
    if (FAILED(hr)) return hr;
    CWriteClipboard put;
    hr = put.Create(CF_TEXT, CWriteBuffer::OneZero);
    if (SUCCEEDED(hr)) hr = put.Write(out.GetData(), out.GetSize() - 1);
    if (SUCCEEDED(hr)) hr = put.Close();
    if (FAILED(hr)) return hr;
  }
  if (count) *count = n;
  return clipboard.Close();
}
