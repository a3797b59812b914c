// Replies of a quote server through the quote client: the input is everything the server sends,
// in order (the currency list, then the quotes); the queries go nowhere.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/update/oanda.h"

namespace {

struct Replies {
  const uint8_t* data;
  size_t size;
  size_t at;
};

HRESULT Write(const char*, DWORD_PTR) { return S_OK; }

HRESULT Read(void* destination, DWORD size, DWORD* count, DWORD_PTR context) {
  auto* r = reinterpret_cast<Replies*>(context);
  size_t n = r->size - r->at < size ? r->size - r->at : size;
  std::memcpy(destination, r->data + r->at, n);
  r->at += n;
  *count = static_cast<DWORD>(n);
  return S_OK;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1u << 20) return 0;
  Replies replies{data, size, 0};
  COanda client;
  client.SetWriteQueryFunc(Write, 0);
  client.SetReadFunc(Read, reinterpret_cast<DWORD_PTR>(&replies));
  CBuffer<char> out(16, 16);
  client.LoadFxpd("fxpd://oanda.example", &out, nullptr);
  return 0;
}
