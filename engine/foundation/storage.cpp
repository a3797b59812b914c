#include "engine/foundation/storage.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/native/syscalls.h"

namespace {

constexpr HRESULT kEndOfData = 0x80070026;     // ERROR_HANDLE_EOF
constexpr HRESULT kNegativeSeek = 0x80070083;  // ERROR_NEGATIVE_SEEK

const uint16_t* CrcTable() {
  static uint16_t table[256];
  static bool made = [] {
    for (uint32_t i = 0; i < 256; ++i) {
      uint16_t c = static_cast<uint16_t>(i << 8);
      for (int k = 0; k < 8; ++k) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
      table[i] = c;
    }
    return true;
  }();
  (void)made;
  return table;
}

uint32_t Be32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint64_t Round128(uint64_t n) { return (n + 127) / 128 * 128; }

// The position an origin and offset name, or false for one before the start.
bool Target(int64_t offset, int origin, int64_t position, int64_t length, int64_t* out) {
  int64_t base = origin == kSeekBegin ? 0 : origin == kSeekCurrent ? position : origin == kSeekEnd ? length : -1;
  if (base < 0) return false;
  if ((offset > 0 && base > INT64_MAX - offset)) return false;
  *out = base + offset;
  return *out >= 0;
}

// Opens a wide file name through its ANSI form, as systems without wide file functions do.
template <class F>
HRESULT WithAnsiName(const char16_t* name, F open) {
  if (!name) return E_INVALIDARG;
  char* ansi = AnsiFileName(name);
  if (!ansi) return E_OUTOFMEMORY;
  HRESULT hr = open(ansi);
  GlobalFree(ansi);
  return hr;
}

}  // namespace

uint16_t CalculateCRC(const void* data, size_t length, uint16_t start) {
  const uint16_t* table = CrcTable();
  const auto* p = static_cast<const uint8_t*>(data);
  uint16_t crc = start;
  for (size_t i = 0; i < length; ++i) crc = static_cast<uint16_t>((crc << 8) ^ table[((crc >> 8) ^ p[i]) & 0xFF]);
  return crc;
}

uint32_t SwapLong(uint32_t v) { return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24); }
uint16_t SwapWord(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

char* AnsiFileName(const char16_t* name) {
  if (!name) return nullptr;
  int need = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (need <= 0) return nullptr;
  char* out = static_cast<char*>(GlobalAlloc(GMEM_FIXED, static_cast<size_t>(need)));
  if (!out) return nullptr;
  if (WideCharToMultiByte(CP_ACP, 0, name, -1, out, need, nullptr, nullptr) <= 0) {
    GlobalFree(out);
    return nullptr;
  }
  return out;
}

HRESULT CStorage::Win32Error() {
  DWORD e = GetLastError();
  return e ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

uint32_t DetectMacBinary(const uint8_t* h, uint64_t fileSize, uint64_t* dataOffset, uint64_t* dataLength) {
  *dataOffset = 0;
  *dataLength = fileSize;
  // Every kind: a zero version byte, a file name of 1 to 63 characters and the zero byte at 74.
  if (fileSize < 128 || h[0] != 0 || h[1] < 1 || h[1] > 63 || h[74] != 0) return 0;
  uint32_t kind = 0;
  if (std::memcmp(h + 102, "mBIN", 4) == 0) {
    kind = kMacBinaryIII;
  } else if (h[82] == 0 && CalculateCRC(h, 124, 0) == Be16(h + 124)) {
    kind = kMacBinaryII;
  } else if (h[82] == 0) {
    // No checksum: the zero fill and forks that fit the file are what tells it from ordinary data.
    for (int i = 99; i < 128; ++i)
      if (h[i] != 0) return 0;
    uint64_t data = Be32(h + 83), resource = Be32(h + 87);
    if (data > 0x7FFFFF || resource > 0x7FFFFF || 128 + Round128(data) + resource > fileSize) return 0;
    kind = kMacBinaryI;
  } else {
    return 0;
  }
  uint64_t start = 128;
  if (kind != kMacBinaryI) start += Round128(Be16(h + 120));
  if (start > fileSize) start = fileSize;
  uint64_t length = Be32(h + 83);
  if (length > fileSize - start) length = fileSize - start;
  *dataOffset = start;
  *dataLength = length;
  return kind;
}

// ---- files

HRESULT CReadFile::Create(const char* name) {
  Close();
  if (!name) return E_INVALIDARG;
  // Never waits on a FIFO: only a regular file is read.
  vtx::ScopedFd fd = vtx::OpenFile(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (!fd) return Win32Error();
  struct stat st{};
  if (vtx::sys::Fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  uint8_t header[128];
  size_t got = 0;
  HRESULT hr = vtx::ReadFully(fd.Get(), header, sizeof header, &got, 0);
  if (FAILED(hr)) return hr;
  uint64_t offset = 0, length = size;
  m_macBinary = got == sizeof header ? DetectMacBinary(header, size, &offset, &length) : 0;
  m_start = offset;
  m_length = length;
  m_position = 0;
  m_fd = fd.Release();
  return S_OK;
}

HRESULT CReadFile::Create(const char16_t* name) {
  return WithAnsiName(name, [this](const char* ansi) { return Create(ansi); });
}

HRESULT CReadFile::Read(void* buffer, uint32_t size, uint32_t* read) {
  if (read) *read = 0;
  if (m_fd < 0) return E_UNEXPECTED;
  if (!buffer && size) return E_POINTER;
  uint64_t left = m_position < static_cast<int64_t>(m_length) ? m_length - static_cast<uint64_t>(m_position) : 0;
  uint32_t want = size < left ? size : static_cast<uint32_t>(left);
  size_t got = 0;
  HRESULT hr = want ? vtx::ReadFully(m_fd, buffer, want, &got, static_cast<int64_t>(m_start) + m_position) : S_OK;
  m_position += static_cast<int64_t>(got);
  if (read) *read = static_cast<uint32_t>(got);
  if (FAILED(hr)) return hr;
  return got < size ? kEndOfData : S_OK;
}

HRESULT CReadFile::Seek(int64_t offset, int origin) {
  if (m_fd < 0) return E_UNEXPECTED;
  int64_t to;
  if (!Target(offset, origin, m_position, static_cast<int64_t>(m_length), &to)) return kNegativeSeek;
  if (to > INT64_MAX - static_cast<int64_t>(m_start)) return E_FAIL;
  m_position = to;
  return S_OK;
}

HRESULT CReadFile::Close() {
  if (m_fd >= 0) vtx::sys::Close(m_fd);
  m_fd = -1;
  return S_OK;
}

HRESULT CReadFileBuffer::Create(const char* name) {
  CReadFile file;
  HRESULT hr = file.Create(name);
  if (FAILED(hr)) return hr;
  if (file.GetLength() > UINT32_MAX - 1) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  const uint32_t size = static_cast<uint32_t>(file.GetLength());
  auto* data = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, size ? size : 1));
  if (!data) return E_OUTOFMEMORY;
  uint32_t got = 0;
  hr = file.Read(data, size, &got);
  if (FAILED(hr) || got != size) {
    GlobalFree(data);
    return FAILED(hr) ? hr : E_FAIL;
  }
  hr = CReadBuffer::Create(data, size, Copy);
  GlobalFree(data);
  if (SUCCEEDED(hr)) m_macBinary = file.SkippedMacBinaryHeader();
  return hr;
}

// ---- memory

HRESULT CReadBuffer::Create(const void* data, uint32_t size, uint32_t flags) {
  Close();
  if (flags & AnsiLength) size = data ? static_cast<uint32_t>(std::strlen(static_cast<const char*>(data))) : 0;
  if (flags & WideLength) size = data ? static_cast<uint32_t>(vtx::StrLen16(static_cast<const char16_t*>(data)) * 2) : 0;
  if (!data && size) return E_POINTER;
  if ((flags & Copy) && data) {
    m_own = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, size ? size : 1));
    if (!m_own) return E_OUTOFMEMORY;
    std::memcpy(m_own, data, size);
    m_data = m_own;
  } else {
    m_data = static_cast<const uint8_t*>(data);
  }
  m_size = size;
  m_position = 0;
  return S_OK;
}

HRESULT CReadBuffer::Read(void* buffer, uint32_t size, uint32_t* read) {
  if (read) *read = 0;
  if (!m_data) return E_UNEXPECTED;
  if (!buffer && size) return E_POINTER;
  uint32_t left = m_position < m_size ? m_size - static_cast<uint32_t>(m_position) : 0;
  uint32_t n = size < left ? size : left;
  if (n) std::memcpy(buffer, m_data + m_position, n);
  m_position += n;
  if (read) *read = n;
  return n < size ? kEndOfData : S_OK;
}

HRESULT CReadBuffer::Seek(int64_t offset, int origin) {
  if (!m_data) return E_UNEXPECTED;
  int64_t to;
  if (!Target(offset, origin, m_position, m_size, &to)) return kNegativeSeek;
  m_position = to;
  return S_OK;
}

HRESULT CReadBuffer::Close() {
  if (m_own) GlobalFree(m_own);
  m_own = nullptr;
  m_data = nullptr;
  m_size = 0;
  m_position = 0;
  return S_OK;
}

HRESULT CReadClipboard::Create(UINT format, uint32_t flags) {
  HGLOBAL block = GetClipboardData(format);
  if (!block) return GetLastError() == ERROR_NOT_FOUND ? E_NOTFOUND : Win32Error();
  const void* data = GlobalLock(block);
  HRESULT hr = CReadBuffer::Create(data, static_cast<uint32_t>(GlobalSize(block)), flags & Copy);
  GlobalUnlock(block);
  return hr;
}

HRESULT CWriteFile::Create(const char* name) {
  Close();
  if (!name) return E_INVALIDARG;
  m_fd = vtx::OpenFile(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666).Release();
  if (m_fd < 0) return Win32Error();
  m_position = m_end = 0;
  return S_OK;
}

HRESULT CWriteFile::Create(const char16_t* name) {
  return WithAnsiName(name, [this](const char* ansi) { return Create(ansi); });
}

HRESULT CWriteFile::Write(const void* data, uint32_t size) {
  if (m_fd < 0) return E_UNEXPECTED;
  if (!data && size) return E_POINTER;
  if (size) {
    HRESULT hr = vtx::WriteFully(m_fd, data, size, m_position);
    if (FAILED(hr)) return hr;
  }
  m_position += size;
  if (m_position > m_end) m_end = m_position;
  return S_OK;
}

HRESULT CWriteFile::Seek(int64_t offset, int origin) {
  if (m_fd < 0) return E_UNEXPECTED;
  int64_t end = m_end > m_position ? m_end : m_position;
  int64_t to;
  if (!Target(offset, origin, m_position, end, &to)) return kNegativeSeek;
  m_position = to;
  return S_OK;
}

HRESULT CWriteFile::Close() {
  if (m_fd < 0) return S_OK;
  HRESULT hr = S_OK;
  if (vtx::sys::Ftruncate(m_fd, static_cast<off_t>(m_position)) != 0) hr = HRESULT_FROM_WIN32(vtx::Win32FromErrno(errno));
  if (vtx::sys::Close(m_fd) != 0 && hr == S_OK) hr = HRESULT_FROM_WIN32(vtx::Win32FromErrno(errno));
  m_fd = -1;
  return hr;
}

HRESULT CWriteNil::Write(const void*, uint32_t size) {
  m_position += size;
  if (m_position > m_size) m_size = m_position;
  return S_OK;
}

HRESULT CWriteNil::Seek(int64_t offset, int origin) {
  int64_t to;
  if (!Target(offset, origin, m_position, m_size, &to)) return kNegativeSeek;
  m_position = to;
  return S_OK;
}

CWriteBuffer::~CWriteBuffer() {
  if (m_data) GlobalFree(m_data);
}

HRESULT CWriteBuffer::Create(uint32_t initialSize, uint32_t flags) {
  if (m_data) GlobalFree(m_data);
  m_data = nullptr;
  m_capacity = m_size = 0;
  m_position = 0;
  m_flags = flags;
  return Reserve(initialSize);
}

HRESULT CWriteBuffer::Reserve(uint64_t size) {
  if (size <= m_capacity) return S_OK;
  // Geometric growth, at least 2048 bytes at a time, so that writing n bytes costs O(n).
  uint64_t want = m_capacity + (m_capacity / 2 > 2048 ? m_capacity / 2 : 2048);
  if (want < size) want = size;
  if (want > UINT32_MAX - 2) want = UINT32_MAX - 2;
  if (want < size) return E_OUTOFMEMORY;
  auto* block = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, want));
  if (!block) return E_OUTOFMEMORY;
  if (m_size) std::memcpy(block, m_data, m_size);
  if (m_data) GlobalFree(m_data);
  m_data = block;
  m_capacity = static_cast<uint32_t>(want);
  return S_OK;
}

HRESULT CWriteBuffer::Write(const void* data, uint32_t size) {
  if (!data && size) return E_POINTER;
  if (m_position < 0) return kNegativeSeek;
  uint64_t end = static_cast<uint64_t>(m_position) + size;
  HRESULT hr = Reserve(end);
  if (FAILED(hr)) return hr;
  // A seek beyond the data leaves a gap of zeros.
  if (static_cast<uint64_t>(m_position) > m_size) std::memset(m_data + m_size, 0, static_cast<size_t>(m_position) - m_size);
  if (size) std::memcpy(m_data + m_position, data, size);
  m_position = static_cast<int64_t>(end);
  if (end > m_size) m_size = static_cast<uint32_t>(end);
  return S_OK;
}

HRESULT CWriteBuffer::Seek(int64_t offset, int origin) {
  int64_t to;
  if (!Target(offset, origin, m_position, m_size, &to)) return kNegativeSeek;
  if (to > static_cast<int64_t>(UINT32_MAX - 2)) return E_INVALIDARG;
  m_position = to;
  return S_OK;
}

HRESULT CWriteBuffer::Close(bool keep) {
  if (!keep) {
    if (m_position < 0) return kNegativeSeek;
    if (m_position > static_cast<int64_t>(m_size)) return kEndOfData;
    m_size = static_cast<uint32_t>(m_position);
  }
  uint32_t zeros = (m_flags & TwoZeros) ? 2 : (m_flags & OneZero) ? 1 : 0;
  if (zeros) {
    HRESULT hr = Reserve(static_cast<uint64_t>(m_size) + zeros);
    if (FAILED(hr)) return hr;
    std::memset(m_data + m_size, 0, zeros);
    m_size += zeros;
    m_position = m_size;
  }
  return S_OK;
}

uint8_t* CWriteBuffer::DetachBuffer(uint32_t* size) {
  uint8_t* block = m_data;
  if (size) *size = m_size;
  m_data = nullptr;
  m_capacity = m_size = 0;
  m_position = 0;
  return block;
}

HRESULT CWriteClipboard::Create(UINT format, uint32_t flags) {
  m_format = format;
  return CWriteBuffer::Create(0, flags);
}

HRESULT CWriteClipboard::Close(bool keep) {
  HRESULT hr = CWriteBuffer::Close(keep);
  if (FAILED(hr)) return hr;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, m_size ? m_size : 1);
  if (!block) return E_OUTOFMEMORY;
  if (m_size) std::memcpy(GlobalLock(block), m_data, m_size);
  GlobalUnlock(block);
  if (!SetClipboardData(m_format, block)) {
    hr = Win32Error();
    GlobalFree(block);
  }
  return hr;
}

HRESULT CClipboard::Open(HWND owner) {
  if (m_open) return S_OK;
  if (!OpenClipboard(owner)) return CStorage::Win32Error();
  m_open = true;
  return S_OK;
}

HRESULT CClipboard::Empty() { return EmptyClipboard() ? S_OK : CStorage::Win32Error(); }

HRESULT CClipboard::Close() {
  if (!m_open) return S_OK;
  m_open = false;
  return CloseClipboard() ? S_OK : CStorage::Win32Error();
}
