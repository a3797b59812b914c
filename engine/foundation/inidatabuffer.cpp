// INI text: reading one character at a time, writing row by row.
#include "engine/foundation/inidatabuffer.h"

#include <cstring>

#include "engine/foundation/cstring.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace {

// A scratch array that grows by doubling, so that long texts cost few copies.
template <class E>
class Scratch {
 public:
  Scratch() : m_buf(64, 64) {}
  bool Add(E e) { return Reserve(1) && m_buf.Add(e); }
  bool Add(const E* p, uint32_t n) { return Reserve(n) && m_buf.Add(p, n); }
  void Clear() {
    if (m_buf.GetCapacity()) m_buf.Seek(0, 0);
  }
  bool Back() { return m_buf.Seek(-1, 1) == ERROR_SUCCESS; }
  uint32_t Count() const { return m_buf.GetCount(); }
  E* Data() const { return m_buf.GetData(); }

 private:
  bool Reserve(uint32_t n) {
    uint64_t need = static_cast<uint64_t>(m_buf.GetCount()) + n;
    if (need <= m_buf.GetCapacity()) return true;
    uint64_t cap = static_cast<uint64_t>(m_buf.GetCapacity()) * 2;
    if (cap < need + 64) cap = need + 64;
    if (cap > UINT32_MAX) cap = UINT32_MAX;
    if (need > cap) return false;
    return m_buf.Realloc(static_cast<uint32_t>(cap));
  }
  CBuffer<E> m_buf;
};

template <class T>
bool IsBlank(T c) {
  return c == ' ' || c == '\t';
}
template <class T>
bool IsLineEnd(T c) {
  return c == '\r' || c == '\n';
}
template <class T>
bool IsKeywordChar(T c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_' || c == '[' || c == ']';
}
template <class T>
int HexValue(T c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a') + 10;
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A') + 10;
  return -1;
}
template <class T>
T CharOf(uint32_t n) {
  if constexpr (sizeof(T) == 1)
    return static_cast<T>(static_cast<unsigned char>(n & 0xFF));
  else
    return static_cast<T>(n & 0xFFFF);
}

// ---------------------------------------------------------------- reading

template <class T>
class Parser {
 public:
  Parser(CIniData<T>& data, const T* text, uint32_t count, const IniTableEntry<T>* table, uint32_t tableCount)
      : m_data(data), m_p(text), m_end(text + count), m_table(table), m_tableCount(tableCount) {}

  HRESULT Run() {
    HRESULT hr = Rows();
    m_data.SetLine(m_line);
    return hr;
  }

 private:
  enum class Escape { Nothing, Char, End };

  T Peek() const { return m_p < m_end ? *m_p : T(0); }
  void Skip() {
    if (m_p < m_end && *m_p) {
      if (*m_p == '\n') ++m_line;
      ++m_p;
    }
  }
  void SkipBlanks() {
    while (IsBlank(Peek())) Skip();
  }
  void SkipToLineEnd() {
    for (T c = Peek(); c && !IsLineEnd(c); c = Peek()) Skip();
  }
  // The end of a value: a line end, a comment or the end of the text.
  bool AtValueEnd() const {
    T c = Peek();
    return !c || IsLineEnd(c) || c == ';';
  }

  HRESULT Rows() {
    CString<T> section;
    bool inSection = false;
    for (;;) {
      // Blanks, line ends and comments before the keyword.
      for (;;) {
        T c = Peek();
        if (IsBlank(c) || IsLineEnd(c))
          Skip();
        else if (c == ';')
          SkipToLineEnd();
        else
          break;
      }
      if (!Peek()) return S_OK;

      m_word.Clear();
      if (!m_word.Add(Peek())) return E_OUTOFMEMORY;
      Skip();
      while (IsKeywordChar(Peek())) {
        if (!m_word.Add(Peek())) return E_OUTOFMEMORY;
        Skip();
      }
      if (!m_word.Add(T(0))) return E_OUTOFMEMORY;
      T* word = m_word.Data();
      uint32_t n = m_word.Count() - 1;

      if (n >= 2 && word[0] == '[' && word[n - 1] == ']') {
        word[n - 1] = 0;
        m_data.SetLine(m_line);
        if (!m_data.AddSection(word + 1)) return E_OUTOFMEMORY;
        section = word + 1;
        if (section.IsNull()) return E_OUTOFMEMORY;
        inSection = true;
        continue;
      }

      const IniTableEntry<T>* entry =
          FindIniTableEntry<T>(inSection ? section.GetBuffer() : nullptr, word, m_table, m_tableCount);
      uint32_t type = entry ? (entry->type & IniTypeMask) : IniTypeString;

      SkipBlanks();
      if (Peek() != '=') return E_INVALIDDATA;
      Skip();
      SkipBlanks();

      HRESULT hr = Value(type != IniTypePath && type != IniTypeMultiPath,
                         type == IniTypeMultiString || type == IniTypeMultiPath);
      if (FAILED(hr)) return hr;
      SkipToLineEnd();
      m_data.SetLine(m_line);
      hr = AddRow(type, m_word.Data());
      if (FAILED(hr)) return hr;
    }
  }

  // Reads the items of one value into m_values, each with its NUL.
  HRESULT Value(bool escapes, bool list) {
    m_values.Clear();
    m_items = 0;
    if (list && AtValueEnd()) return S_OK;  // an empty list has no items
    for (;;) {
      bool quoted = false, ended = false;
      if (!Item(escapes, &quoted, &ended)) return E_OUTOFMEMORY;
      if (!list || ended) return S_OK;
      if (quoted) {
        SkipBlanks();
        if (Peek() == ',')
          Skip();
        else if (AtValueEnd())
          return S_OK;
      } else {
        if (Peek() != ',') return S_OK;
        Skip();
      }
      SkipBlanks();
    }
  }

  // One item, quoted or not. `ended` is set when the value ends inside it (an escape of 0 or the
  // end of the text).
  bool Item(bool escapes, bool* quoted, bool* ended) {
    *quoted = Peek() == '"';
    if (*quoted) Skip();
    m_blanks.Clear();
    for (;;) {
      T c = Peek();
      if (!c) {
        *ended = true;
        break;
      }
      if (*quoted) {
        if (c == '"') {
          Skip();
          break;
        }
      } else {
        if (IsLineEnd(c) || c == ';' || c == ',') break;
        if (IsBlank(c)) {
          // Kept only when another value character follows.
          if (!m_blanks.Add(c)) return false;
          Skip();
          continue;
        }
        if (m_blanks.Count()) {
          if (!m_values.Add(m_blanks.Data(), m_blanks.Count())) return false;
          m_blanks.Clear();
        }
      }
      Skip();
      if (c == '\\' && escapes) {
        T v = 0;
        Escape e = ReadEscape(&v);
        if (e == Escape::End) {
          *ended = true;
          break;
        }
        if (e == Escape::Char && !m_values.Add(v)) return false;
        continue;
      }
      if (!m_values.Add(c)) return false;
    }
    if (!m_values.Add(T(0))) return false;
    ++m_items;
    return true;
  }

  // After a backslash.
  Escape ReadEscape(T* out) {
    T d = Peek();
    if (!d) return Escape::End;
    T simple = 0;
    switch (static_cast<uint32_t>(d)) {
      case 'b': simple = 8; break;
      case 'a': simple = 7; break;
      case 'f': simple = 12; break;
      case 'n': simple = 10; break;
      case 'r': simple = 13; break;
      case 't': simple = 9; break;
      case 'v': simple = 11; break;
      case '\\': case '?': case '"': case '\'': simple = d; break;
      default: break;
    }
    if (simple) {
      Skip();
      *out = simple;
      return Escape::Char;
    }
    if (d == 'x' || d == 'X') {
      Skip();
      uint32_t n = 0;
      int digits = 0;
      for (; digits < 4 && HexValue(Peek()) >= 0; ++digits) {
        n = n * 16 + static_cast<uint32_t>(HexValue(Peek()));
        Skip();
      }
      if (!digits) {
        *out = d;
        return Escape::Char;
      }
      *out = CharOf<T>(n);
      return *out ? Escape::Char : Escape::End;
    }
    if (d >= '0' && d <= '7') {
      uint32_t n = 0;
      for (int digits = 0; digits < 6 && Peek() >= '0' && Peek() <= '7'; ++digits) {
        n = n * 8 + static_cast<uint32_t>(Peek() - '0');
        Skip();
      }
      *out = CharOf<T>(n);
      return *out ? Escape::Char : Escape::End;
    }
    Skip();  // no meaning: both characters are dropped
    return Escape::Nothing;
  }

  HRESULT AddRow(uint32_t type, const T* name) {
    const T* first = m_values.Data();
    switch (type) {
      case IniTypeLong:
      case IniTypeULong: {
        vtx::ParseResult info;
        const T* end = first;
        uint32_t v = vtx::ini::ParseNumber<T>(first, &end, type == IniTypeLong, &info);
        // A number out of the 32-bit range is as malformed as one that does not parse.
        if (!info.any || info.overflow) return E_INVALIDDATA;
        T after = *end;
        if (after && after != ';' && !IsBlank(after) && !IsLineEnd(after)) return E_INVALIDDATA;
        uint32_t flags = (first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) ? IniFlagHex : 0;
        bool ok = type == IniTypeLong ? m_data.AddLong(name, static_cast<int32_t>(v), flags) : m_data.AddULong(name, v, flags);
        return ok ? S_OK : E_OUTOFMEMORY;
      }
      case IniTypeMultiString:
      case IniTypeMultiPath: {
        m_pointers.Clear();
        const T* p = first;
        for (uint32_t i = 0; i < m_items; ++i) {
          if (!m_pointers.Add(p)) return E_OUTOFMEMORY;
          p += CStringUtil<T>::StringLen(p) + 1;
        }
        return m_data.Add(type, name, m_pointers.Data(), m_items) ? S_OK : E_OUTOFMEMORY;
      }
      case IniTypePath:
        // Kept a path, so that writing it out again does not escape its backslashes.
        return m_data.AddPath(name, first) ? S_OK : E_OUTOFMEMORY;
      default:
        return m_data.AddString(name, first) ? S_OK : E_OUTOFMEMORY;
    }
  }

  CIniData<T>& m_data;
  const T* m_p;
  const T* m_end;
  const IniTableEntry<T>* m_table;
  uint32_t m_tableCount;
  uint32_t m_line = 1;
  Scratch<T> m_word;
  Scratch<T> m_values;
  Scratch<T> m_blanks;
  Scratch<const T*> m_pointers;
  uint32_t m_items = 0;
};

// ---------------------------------------------------------------- writing

template <class T>
bool AddAscii(Scratch<T>& s, const char* text) {
  for (; *text; ++text)
    if (!s.Add(static_cast<T>(*text))) return false;
  return true;
}
template <class T>
bool AddText(Scratch<T>& s, const T* text) {
  return s.Add(text, CStringUtil<T>::StringLen(text));
}

// A section name can hold only the characters a keyword continues with.
template <class T>
bool SectionNameReadsBack(const T* name) {
  for (; *name; ++name)
    if (!IsKeywordChar(*name)) return false;
  return true;
}

// A key starts with anything that is not a blank, a line end or a comment, goes on with keyword
// characters, and must not look like a section header.
template <class T>
bool KeyNameReadsBack(const T* name) {
  uint32_t n = CStringUtil<T>::StringLen(name);
  if (!n || IsBlank(name[0]) || IsLineEnd(name[0]) || name[0] == ';') return false;
  for (uint32_t i = 1; i < n; ++i)
    if (!IsKeywordChar(name[i])) return false;
  return !(n >= 2 && name[0] == '[' && name[n - 1] == ']');
}

// Written as it is inside an escaped value.
template <class T>
bool IsSafe(T c) {
  if constexpr (sizeof(T) == 1) {
    auto b = static_cast<unsigned char>(c);
    return b >= 0x20 && b <= 0x7F;
  } else {
    if (c >= 0x20 && c <= 0xFF) return true;
    if (c < 0x20) return false;
    // Above 0xFF: only when the thread's code page holds it as one byte of its own.
    char b[8];
    BOOL usedDefault = FALSE;
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, &c, 1, b, sizeof b, nullptr, &usedDefault) != 1 || usedDefault) return false;
    char16_t back = 0;
    return MultiByteToWideChar(CP_THREAD_ACP, 0, b, 1, &back, 1) == 1 && back == c;
  }
}

// Appends one value; false with *refused set when it cannot be written so that it reads back.
template <class T>
bool WriteValue(Scratch<T>& line, const T* value, uint32_t type, uint32_t flags, bool* refused) {
  const bool escape = type == IniTypeString || type == IniTypeMultiString;
  const bool list = type == IniTypeMultiString || type == IniTypeMultiPath;
  uint32_t n = CStringUtil<T>::StringLen(value);
  bool quote = (flags & IniFlagQuote) != 0 || (list && n == 0);
  if (n && (IsBlank(value[0]) || IsBlank(value[n - 1]) || value[0] == '"')) quote = true;
  for (uint32_t i = 0; i < n; ++i) {
    T c = value[i];
    if (c == ',' || c == ';') quote = true;
    // Paths are never escaped: a quote or a line break in one cannot be written.
    if (!escape && (c == '"' || IsLineEnd(c))) {
      *refused = true;
      return false;
    }
  }
  if (quote && !line.Add(T('"'))) return false;
  if (!escape) {
    if (!line.Add(value, n)) return false;
  } else {
    for (uint32_t i = 0; i < n; ++i) {
      T c = value[i];
      if (c == '"' || c == '\\') {
        if (!line.Add(T('\\')) || !line.Add(c)) return false;
      } else if (IsSafe(c)) {
        if (!line.Add(c)) return false;
      } else {
        T hex[16];
        uint32_t code = sizeof(T) == 1 ? static_cast<unsigned char>(c) : static_cast<uint32_t>(c);
        // Four digits when a hex digit follows, so that the reader does not take it in.
        CStringUtil<T>::ULongToString(code, hex, 16, HexValue(value[i + 1]) >= 0 ? 4 : 0);
        if (!AddAscii(line, "\\x") || !AddText(line, static_cast<const T*>(hex))) return false;
      }
    }
  }
  if (quote && !line.Add(T('"'))) return false;
  return true;
}

// Appends a line with CR LF, keeping the text NUL-terminated.
template <class T>
bool AddLine(Scratch<T>& out, const T* text, uint32_t n) {
  if (out.Count() && !out.Back()) return false;
  return out.Add(text, n) && out.Add(T('\r')) && out.Add(T('\n')) && out.Add(T(0));
}

}  // namespace

template <class T>
bool CIniDataBuffer<T>::SetBuffer(const T* text) {
  if (m_text.GetCapacity() == 0 && !m_text.Realloc(100)) return false;
  if (m_text.Seek(0, 0) != ERROR_SUCCESS) return false;
  if (!text) return true;
  return m_text.Add(text, CStringUtil<T>::StringLen(text) + 1);
}

template <class T>
const T* CIniDataBuffer<T>::GetText() const {
  static const T kEmpty[1] = {0};
  return m_text.GetCount() && m_text.GetData() ? m_text.GetData() : kEmpty;
}

template <class T>
uint32_t CIniDataBuffer<T>::GetTextLength() const {
  return CStringUtil<T>::StringLen(GetText());
}

template <class T>
HRESULT CIniDataBuffer<T>::Load(const IniTableEntry<T>* table, uint32_t count) {
  this->Empty();
  this->m_line = 1;
  m_error = 0;
  if (!m_text.GetData() || !m_text.GetCount()) return S_OK;
  Parser<T> parser(*this, m_text.GetData(), m_text.GetCount(), table, count);
  HRESULT hr = parser.Run();
  if (hr == E_INVALIDDATA) m_error = 1;
  return hr;
}

template <class T>
HRESULT CIniDataBuffer<T>::Save() {
  using D = CIniData<T>;
  Scratch<T> out;
  Scratch<T> line;
  for (typename D::Row row : *this) {
    const uint32_t type = D::GetType(row);
    const T* name = D::GetName(row);
    line.Clear();
    switch (type) {
      case IniTypeSection:
        if (!SectionNameReadsBack(name)) return E_INVALIDDATA;
        if (!AddLine(out, name, 0) || !line.Add(T('[')) || !AddText(line, name) || !line.Add(T(']')))
          return E_OUTOFMEMORY;
        break;
      case IniTypeString:
      case IniTypeMultiString:
      case IniTypePath:
      case IniTypeMultiPath: {
        if (!KeyNameReadsBack(name)) return E_INVALIDDATA;
        if (!AddText(line, name) || !AddAscii(line, " = ")) return E_OUTOFMEMORY;
        const T* value = D::GetStringValue(row);
        for (uint32_t i = 0; i < D::GetStringCount(row); ++i, value += CStringUtil<T>::StringLen(value) + 1) {
          bool refused = false;
          if ((i && !AddAscii(line, ", ")) || !WriteValue(line, value, type, D::GetFlags(row), &refused))
            return refused ? E_INVALIDDATA : E_OUTOFMEMORY;
        }
        break;
      }
      case IniTypeLong:
      case IniTypeULong: {
        if (!KeyNameReadsBack(name)) return E_INVALIDDATA;
        T number[24];
        uint32_t v = type == IniTypeLong ? static_cast<uint32_t>(D::GetLongValue(row)) : D::GetULongValue(row);
        if (D::GetFlags(row) & IniFlagHex) {
          number[0] = '0';
          number[1] = 'x';
          CStringUtil<T>::ULongToString(v, number + 2, 16, 0);
        } else if (type == IniTypeLong) {
          CStringUtil<T>::LongToString(static_cast<int32_t>(v), number, 10, 0);
        } else {
          CStringUtil<T>::ULongToString(v, number, 10, 0);
        }
        if (!AddText(line, name) || !AddAscii(line, " = ") || !AddText(line, static_cast<const T*>(number)))
          return E_OUTOFMEMORY;
        break;
      }
      case IniTypeLine:
        if (!AddText(line, name)) return E_OUTOFMEMORY;
        break;
      default:
        continue;
    }
    if (!AddLine(out, line.Data(), line.Count())) return E_OUTOFMEMORY;
  }
  if (!out.Count() && !out.Add(T(0))) return E_OUTOFMEMORY;

  // Only now replace the text, so that a refusal or a failure leaves the old one.
  if (m_text.GetCapacity() < out.Count() && !m_text.Realloc(out.Count())) return E_OUTOFMEMORY;
  m_text.Seek(0, 0);
  m_text.Add(out.Data(), out.Count());
  return S_OK;
}

template class CIniDataBuffer<char>;
template class CIniDataBuffer<char16_t>;

HRESULT vtx::ini::FileErrorResult(DWORD lastError) {
  return lastError == 0 ? E_FAIL : HRESULT_FROM_WIN32(lastError);
}

bool vtx::ini::QuoteStringValue(const char* value, CBuffer<char>& out) {
  Scratch<char> text;
  bool refused = false;
  return WriteValue(text, value ? value : "", IniTypeString, IniFlagQuote, &refused) &&
         out.Add(text.Data(), text.Count());
}

HRESULT IniLoadFile(const char* path, CIniDataBuffer<char>* data, const IniTableEntry<char>* table, uint32_t count,
                    uint32_t* errorLine) {
  if (errorLine) *errorLine = 0;
  if (!path || !data) return E_POINTER;
  // The text and its NUL must fit the 32-bit counts of the buffer.
  char* block = nullptr;
  size_t got = 0;
  HRESULT read = vtx::ReadWholeFile(path, UINT32_MAX, 1, &block, &got);
  if (read == E_OUTOFMEMORY) return read;
  if (FAILED(read)) return vtx::ini::FileErrorResult(GetLastError());
  // The text would end at a NUL byte: refuse a file that holds more after one rather than drop it.
  const char* nul = static_cast<const char*>(std::memchr(block, 0, got));
  if (nul) {
    const char* p = nul;
    while (p < block + got && !*p) ++p;
    if (p < block + got) {
      if (errorLine) {
        *errorLine = 1;
        for (const char* q = block; q < nul; ++q) *errorLine += *q == '\n';
      }
      GlobalFree(block);
      return E_INVALIDDATA;
    }
  }
  bool set = data->SetBuffer(block);
  GlobalFree(block);
  if (!set) return E_OUTOFMEMORY;
  HRESULT hr = data->Load(table, count);
  if (FAILED(hr) && errorLine) *errorLine = data->GetErrorLine();
  return hr;
}
