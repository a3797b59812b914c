// INI text backend of the typed INI data: parses text into rows and writes rows back as text
// (CR LF line ends, quoting and escapes). One grammar for both character widths.
#pragma once
#include <cstdint>

#include "engine/foundation/buffer.h"
#include "engine/foundation/inidata.h"

template <class T>
class CIniDataBuffer : public CIniData<T> {
 public:
  CIniDataBuffer() : m_text(100, 100) {}

  // Parses the text buffer into rows (the old rows are dropped). 0, 0x8007000D for malformed text
  // (the rows before it stay; GetErrorLine names its line) or 0x8007000E.
  HRESULT Load(const IniTableEntry<T>* table, uint32_t count) override;
  // Replaces the text with the rows written as INI text. 0, 0x8007000E, or 0x8007000D for a row
  // that would not read back as it is (a name the reader does not accept, a path holding a quote
  // or a line break); the old text then stays.
  HRESULT Save() override;

  // Copies a NUL-terminated text into the buffer; null only resets it. False when out of memory.
  bool SetBuffer(const T* text);
  // The line of the last load's error, 0 when it succeeded.
  uint32_t GetErrorLine() const { return m_error ? this->m_line : 0; }

  // The text (empty when there is none) and its length without the NUL.
  const T* GetText() const;
  uint32_t GetTextLength() const;
  const CBuffer<T>& GetBuffer() const { return m_text; }

 private:
  CBuffer<T> m_text;
  uint32_t m_error = 0;
};

extern template class CIniDataBuffer<char>;
extern template class CIniDataBuffer<char16_t>;

using CIniDataBufferA = CIniDataBuffer<char>;
using CIniDataBufferW = CIniDataBuffer<char16_t>;

// Reads a whole file into `data` and loads it with the key table. A load failure puts the parser's
// line into `errorLine` (0 otherwise). File failures give the system error as an HRESULT; a file
// with text after a NUL byte is malformed (0x8007000D, the NUL's line), trailing NULs are ignored.
HRESULT IniLoadFile(const char* path, CIniDataBuffer<char>* data, const IniTableEntry<char>* table, uint32_t count,
                    uint32_t* errorLine);

namespace vtx::ini {
// The HRESULT for a failed file call with this last error: never success.
HRESULT FileErrorResult(DWORD lastError);
// Appends a string value as the writer writes one with the quote flag: in double quotes, with the
// escapes that make the reader read it back whole. False when out of memory.
bool QuoteStringValue(const char* value, CBuffer<char>& out);
}  // namespace vtx::ini
