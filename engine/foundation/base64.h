// Base64 text of bytes (standard alphabet, '=' padding, no line breaks) and back.
#pragma once
#include <cstdint>

#include "platform/errors.h"
#include "platform/types.h"

// Virtual steps so that a derived coder can change one of them.
class Base64Coder {
 public:
  // Up to 4 values of one group and how many of them are valid.
  struct TempBucket {
    BYTE nData[4];
    BYTE nSize;
    void Clear() {
      nData[0] = nData[1] = nData[2] = nData[3] = 0;
      nSize = 0;
    }
  };

  Base64Coder() = default;
  Base64Coder(const Base64Coder&) = delete;
  Base64Coder& operator=(const Base64Coder&) = delete;
  virtual ~Base64Coder();

  // False only when a buffer cannot be allocated. A null text encodes as nothing.
  virtual bool Encode(const char* text);
  virtual bool Encode(const BYTE* data, uint32_t size);
  // 0; 0x8007000D for a character outside the alphabet or misplaced padding (nothing decoded
  // then); 0x8007000E when out of memory. A null text decodes as nothing.
  virtual HRESULT Decode(const char* text);
  virtual HRESULT Decode(const BYTE* data, uint32_t size);
  // Both buffers stay NUL-terminated; null until something was coded.
  virtual BYTE* DecodedMessage() const;
  virtual char* EncodedMessage() const;

  virtual bool AllocEncode(uint32_t size);
  virtual bool AllocDecode(uint32_t size);
  virtual bool SetEncodeBuffer(const BYTE* data, uint32_t size);
  virtual bool SetDecodeBuffer(const BYTE* data, uint32_t size);

  uint32_t GetDecodedLength() const { return m_nDecodedLength; }
  uint32_t GetEncodedLength() const { return m_nEncodedLength; }

 protected:
  virtual void _EncodeToBuffer(const TempBucket& decoded, char* out);
  virtual uint32_t _DecodeToBuffer(const TempBucket& encoded, BYTE* out);
  virtual void _EncodeRaw(TempBucket& out, const TempBucket& decoded);
  virtual void _DecodeRaw(TempBucket& out, const TempBucket& encoded);
  virtual bool _IsBadMimeChar(BYTE c);

  BYTE* m_pDecodedBuffer = nullptr;
  BYTE* m_pEncodedBuffer = nullptr;
  uint32_t m_nDecodedBufferSize = 0;
  uint32_t m_nEncodedBufferSize = 0;
  uint32_t m_nDecodedLength = 0;
  uint32_t m_nEncodedLength = 0;

  // Table values besides 0-63.
  static constexpr BYTE kForeign = 254;
  static constexpr BYTE kPad = 255;
  static BYTE m_DecodeTable[256];
  static bool m_Init;

 private:
  static bool Grow(BYTE*& buffer, uint32_t& bufferSize, uint32_t size);
  static void BuildDecodeTable();
};
