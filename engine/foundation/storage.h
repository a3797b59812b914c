// Byte streams over files, memory blocks and the clipboard, with MacBinary headers skipped on
// reading, and the CRC-16 those headers carry.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/clipboard.h"
#include "platform/errors.h"
#include "platform/types.h"

// CRC-16 with the CCITT polynomial 0x1021, most significant bit first (XMODEM when started at 0).
uint16_t CalculateCRC(const void* data, size_t length, uint16_t start);
uint32_t SwapLong(uint32_t value);
uint16_t SwapWord(uint16_t value);
// An ANSI copy of a wide file name in a global block (GlobalFree it); null when out of memory or
// when the name has no ANSI form.
char* AnsiFileName(const char16_t* name);

// Seek origins.
constexpr int kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2;

class CStorage {
 public:
  virtual ~CStorage() = default;
  // The last system error as an HRESULT (0x80004005 when there is none).
  static HRESULT Win32Error();
};

class CReadStorage : public CStorage {
 public:
  // Reads up to `size` bytes; 0x80070026 when fewer than `size` were left (the rest is read).
  virtual HRESULT Read(void* buffer, uint32_t size, uint32_t* read) = 0;
  virtual HRESULT Seek(int64_t offset, int origin) = 0;
  virtual int64_t GetPosition() const = 0;
  virtual bool IsEOF() const = 0;
  // The kind of MacBinary header skipped: 0x80 (I), 0x81 (II), 0x82 (III), or 0.
  virtual uint32_t SkippedMacBinaryHeader() const { return 0; }
  virtual HRESULT Close() = 0;
};

class CWriteStorage : public CStorage {
 public:
  virtual HRESULT Write(const void* data, uint32_t size) = 0;
  virtual HRESULT Seek(int64_t offset, int origin) = 0;
  virtual int64_t GetPosition() const = 0;
  virtual HRESULT Close() = 0;
};

constexpr uint32_t kMacBinaryI = 0x80, kMacBinaryII = 0x81, kMacBinaryIII = 0x82;

// The kind of MacBinary header at the start of a file of `fileSize` bytes (the first 128 bytes),
// with the data fork's offset and length (clamped to the file); 0 for an ordinary file.
uint32_t DetectMacBinary(const uint8_t* header, uint64_t fileSize, uint64_t* dataOffset, uint64_t* dataLength);

// A file's data: the whole file, or the data fork behind a MacBinary header.
class CReadFile : public CReadStorage {
 public:
  ~CReadFile() override { Close(); }
  HRESULT Create(const char* name);
  HRESULT Create(const char16_t* name);
  HRESULT Read(void* buffer, uint32_t size, uint32_t* read) override;
  HRESULT Seek(int64_t offset, int origin) override;
  int64_t GetPosition() const override { return m_position; }
  bool IsEOF() const override { return static_cast<uint64_t>(m_position) >= m_length; }
  uint32_t SkippedMacBinaryHeader() const override { return m_macBinary; }
  uint64_t GetLength() const { return m_length; }
  HRESULT Close() override;

 private:
  int m_fd = -1;
  uint64_t m_start = 0, m_length = 0;
  int64_t m_position = 0;
  uint32_t m_macBinary = 0;
};

// A memory block, borrowed or copied.
class CReadBuffer : public CReadStorage {
 public:
  enum : uint32_t { Copy = 1, AnsiLength = 2, WideLength = 4 };
  ~CReadBuffer() override { Close(); }
  // Flag Copy copies the data; AnsiLength takes the size from strlen, WideLength from the 16-bit
  // length times 2. Null data with a size: 0x80004003.
  HRESULT Create(const void* data, uint32_t size, uint32_t flags);
  HRESULT Read(void* buffer, uint32_t size, uint32_t* read) override;
  HRESULT Seek(int64_t offset, int origin) override;
  int64_t GetPosition() const override { return m_position; }
  bool IsEOF() const override { return m_position >= m_size; }
  HRESULT Close() override;
  uint32_t GetSize() const { return m_size; }

 private:
  const uint8_t* m_data = nullptr;
  uint8_t* m_own = nullptr;
  uint32_t m_size = 0;
  int64_t m_position = 0;
};

// A file read whole into memory, then read as a buffer.
class CReadFileBuffer : public CReadBuffer {
 public:
  HRESULT Create(const char* name);
  uint32_t SkippedMacBinaryHeader() const override { return m_macBinary; }

 private:
  uint32_t m_macBinary = 0;
};

// The clipboard's data of one format (the clipboard must be open).
class CReadClipboard : public CReadBuffer {
 public:
  // 0x80070490 when the format is not on the clipboard; flag Copy keeps a copy of the data.
  HRESULT Create(UINT format, uint32_t flags);
};

class CWriteFile : public CWriteStorage {
 public:
  ~CWriteFile() override { Close(); }
  HRESULT Create(const char* name);
  HRESULT Create(const char16_t* name);
  HRESULT Write(const void* data, uint32_t size) override;
  HRESULT Seek(int64_t offset, int origin) override;
  int64_t GetPosition() const override { return m_position; }
  // Cuts the file at the current position and closes it.
  HRESULT Close() override;

 private:
  int m_fd = -1;
  int64_t m_position = 0;
  int64_t m_end = 0;  // the furthest byte written
};

// Counts what would be written.
class CWriteNil : public CWriteStorage {
 public:
  HRESULT Write(const void*, uint32_t size) override;
  HRESULT Seek(int64_t offset, int origin) override;
  int64_t GetPosition() const override { return m_position; }
  int64_t GetSize() const { return m_size; }
  HRESULT Close() override { return S_OK; }

 private:
  int64_t m_position = 0, m_size = 0;
};

// A growing memory block.
class CWriteBuffer : public CWriteStorage {
 public:
  enum : uint32_t { OneZero = 1, TwoZeros = 2 };
  ~CWriteBuffer() override;
  HRESULT Create(uint32_t initialSize, uint32_t flags);
  HRESULT Write(const void* data, uint32_t size) override;
  HRESULT Seek(int64_t offset, int origin) override;
  int64_t GetPosition() const override { return m_position; }
  HRESULT Close() override { return Close(false); }
  // Unless `keep`, the data end at the current position (0x80070026 beyond the data, 0x80070083
  // before its start); then the zero bytes of the creation flags are appended.
  virtual HRESULT Close(bool keep);
  const uint8_t* GetData() const { return m_data; }
  uint32_t GetSize() const { return m_size; }
  // Hands the block (GlobalFree it) to the caller; the writer is empty afterwards.
  uint8_t* DetachBuffer(uint32_t* size = nullptr);

 protected:
  HRESULT Reserve(uint64_t size);
  uint8_t* m_data = nullptr;
  uint32_t m_capacity = 0, m_size = 0, m_flags = 0;
  int64_t m_position = 0;
};

// A buffer whose Close puts the bytes on the clipboard in its format (the clipboard must be open).
class CWriteClipboard : public CWriteBuffer {
 public:
  HRESULT Create(UINT format, uint32_t flags);
  using CWriteBuffer::Close;
  HRESULT Close(bool keep) override;

 private:
  UINT m_format = 0;
};

// The open clipboard, closed again on destruction.
class CClipboard {
 public:
  ~CClipboard() { Close(); }
  HRESULT Open(HWND owner = nullptr);
  HRESULT Empty();
  HRESULT Close();

 private:
  bool m_open = false;
};
