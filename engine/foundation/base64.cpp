#include "engine/foundation/base64.h"

#include <cstring>
#include <mutex>

#include "platform/heap.h"

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint32_t kAllocStep = 4096;
std::once_flag g_tableOnce;
}  // namespace

BYTE Base64Coder::m_DecodeTable[256];
bool Base64Coder::m_Init = false;

Base64Coder::~Base64Coder() {
  if (m_pDecodedBuffer) LocalFree(m_pDecodedBuffer);
  if (m_pEncodedBuffer) LocalFree(m_pEncodedBuffer);
}

bool Base64Coder::Grow(BYTE*& buffer, uint32_t& bufferSize, uint32_t size) {
  if (!buffer || size > bufferSize) {
    uint64_t want = (static_cast<uint64_t>(size) / kAllocStep + 1) * kAllocStep;
    if (want > UINT32_MAX) return false;
    BYTE* block = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, static_cast<size_t>(want)));
    if (!block) return false;
    if (buffer) LocalFree(buffer);
    buffer = block;
    bufferSize = static_cast<uint32_t>(want);
  }
  std::memset(buffer, 0, bufferSize);
  return true;
}

bool Base64Coder::AllocEncode(uint32_t size) {
  if (!Grow(m_pEncodedBuffer, m_nEncodedBufferSize, size)) return false;
  m_nEncodedLength = 0;
  return true;
}

bool Base64Coder::AllocDecode(uint32_t size) {
  if (!Grow(m_pDecodedBuffer, m_nDecodedBufferSize, size)) return false;
  m_nDecodedLength = 0;
  return true;
}

bool Base64Coder::SetEncodeBuffer(const BYTE* data, uint32_t size) {
  if (!AllocEncode(size)) return false;
  for (uint32_t i = 0; i < size; ++i)
    if (!_IsBadMimeChar(data[i])) m_pEncodedBuffer[m_nEncodedLength++] = data[i];
  return true;
}

bool Base64Coder::SetDecodeBuffer(const BYTE* data, uint32_t size) {
  if (!AllocDecode(size)) return false;
  if (size) std::memcpy(m_pDecodedBuffer, data, size);
  m_nDecodedLength = size;
  return true;
}

BYTE* Base64Coder::DecodedMessage() const { return m_pDecodedBuffer; }
char* Base64Coder::EncodedMessage() const { return reinterpret_cast<char*>(m_pEncodedBuffer); }

bool Base64Coder::Encode(const char* text) {
  if (!text) return true;
  return Encode(reinterpret_cast<const BYTE*>(text), static_cast<uint32_t>(std::strlen(text)));
}

bool Base64Coder::Encode(const BYTE* data, uint32_t size) {
  if (!data) size = 0;
  // 4 characters per started group of 3 must fit below the allocation (which keeps a NUL).
  uint64_t need = static_cast<uint64_t>(size) * 2;
  uint64_t exact = (static_cast<uint64_t>(size) + 2) / 3 * 4;
  if (exact > need) need = exact;
  if (need >= UINT32_MAX - kAllocStep) return false;
  if (!SetDecodeBuffer(data, size)) return false;
  if (!AllocEncode(static_cast<uint32_t>(need))) return false;
  TempBucket raw;
  for (uint32_t i = 0; i < size; i += 3) {
    raw.Clear();
    uint32_t n = size - i < 3 ? size - i : 3;
    std::memcpy(raw.nData, m_pDecodedBuffer + i, n);
    raw.nSize = static_cast<BYTE>(n);
    _EncodeToBuffer(raw, reinterpret_cast<char*>(m_pEncodedBuffer) + m_nEncodedLength);
    m_nEncodedLength += 4;
  }
  return true;
}

void Base64Coder::BuildDecodeTable() {
  std::memset(m_DecodeTable, kForeign, sizeof m_DecodeTable);
  for (int i = 0; i < 64; ++i) {
    BYTE c = static_cast<BYTE>(kAlphabet[i]);
    m_DecodeTable[c] = static_cast<BYTE>(i);
    m_DecodeTable[c | 0x80] = static_cast<BYTE>(i);
  }
  m_DecodeTable[static_cast<BYTE>('=')] = kPad;
  m_DecodeTable[static_cast<BYTE>('=') | 0x80] = kPad;
  m_Init = true;
}

HRESULT Base64Coder::Decode(const char* text) {
  if (!text) return S_OK;
  return Decode(reinterpret_cast<const BYTE*>(text), static_cast<uint32_t>(std::strlen(text)));
}

HRESULT Base64Coder::Decode(const BYTE* data, uint32_t size) {
  std::call_once(g_tableOnce, BuildDecodeTable);
  if (!data) size = 0;
  if (!SetEncodeBuffer(data, size)) return E_OUTOFMEMORY;
  if (!AllocDecode(size)) return E_OUTOFMEMORY;

  // Padding may only close the last group ("xx==" or "xxx="); a lone character in the last
  // group carries no whole byte.
  const uint32_t len = m_nEncodedLength;
  bool valid = true;
  TempBucket group;
  for (uint32_t i = 0; i < len && valid; i += 4) {
    group.Clear();
    uint32_t n = len - i < 4 ? len - i : 4;
    uint32_t chars = 0;
    bool padded = false;
    for (uint32_t k = 0; k < n; ++k) {
      BYTE v = m_DecodeTable[m_pEncodedBuffer[i + k]];
      if (v == kForeign) { valid = false; break; }
      if (v == kPad) {
        padded = true;
        continue;
      }
      if (padded) { valid = false; break; }  // data after padding
      group.nData[k] = v;
      ++chars;
    }
    if (!valid) break;
    if (padded && (n != 4 || i + 4 != len)) valid = false;
    if (chars < 2) valid = false;
    if (!valid) break;
    group.nSize = static_cast<BYTE>(chars);
    BYTE out[3];
    _DecodeToBuffer(group, out);
    std::memcpy(m_pDecodedBuffer + m_nDecodedLength, out, chars - 1);
    m_nDecodedLength += chars - 1;
  }
  if (!valid) {
    std::memset(m_pDecodedBuffer, 0, m_nDecodedBufferSize);
    m_nDecodedLength = 0;
    return E_INVALIDDATA;
  }
  return S_OK;
}

void Base64Coder::_EncodeToBuffer(const TempBucket& decoded, char* out) {
  TempBucket raw;
  _EncodeRaw(raw, decoded);
  for (int i = 0; i < 4; ++i) out[i] = kAlphabet[raw.nData[i] & 0x3F];
  if (decoded.nSize == 1) out[2] = '=';
  if (decoded.nSize <= 2) out[3] = '=';
}

uint32_t Base64Coder::_DecodeToBuffer(const TempBucket& encoded, BYTE* out) {
  TempBucket raw;
  _DecodeRaw(raw, encoded);
  uint32_t count = 0;
  for (int i = 0; i < 3; ++i) {
    out[i] = raw.nData[i];
    if (raw.nData[i] < 255) ++count;
  }
  return count;
}

void Base64Coder::_EncodeRaw(TempBucket& out, const TempBucket& decoded) {
  uint32_t bits = (static_cast<uint32_t>(decoded.nData[0]) << 16) |
                  (static_cast<uint32_t>(decoded.nData[1]) << 8) | decoded.nData[2];
  out.Clear();
  out.nData[0] = static_cast<BYTE>((bits >> 18) & 0x3F);
  out.nData[1] = static_cast<BYTE>((bits >> 12) & 0x3F);
  out.nData[2] = static_cast<BYTE>((bits >> 6) & 0x3F);
  out.nData[3] = static_cast<BYTE>(bits & 0x3F);
  out.nSize = 4;
}

void Base64Coder::_DecodeRaw(TempBucket& out, const TempBucket& encoded) {
  uint32_t bits = (static_cast<uint32_t>(encoded.nData[0] & 0x3F) << 18) |
                  (static_cast<uint32_t>(encoded.nData[1] & 0x3F) << 12) |
                  (static_cast<uint32_t>(encoded.nData[2] & 0x3F) << 6) | (encoded.nData[3] & 0x3F);
  out.Clear();
  out.nData[0] = static_cast<BYTE>(bits >> 16);
  out.nData[1] = static_cast<BYTE>(bits >> 8);
  out.nData[2] = static_cast<BYTE>(bits);
  out.nSize = 3;
}

bool Base64Coder::_IsBadMimeChar(BYTE c) { return (c >= 7 && c <= 13) || c == ' '; }
