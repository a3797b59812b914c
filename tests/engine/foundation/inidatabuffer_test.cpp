#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/foundation/inidatabuffer.h"
#include "tests/support/files.h"
#include "tests/support/text.h"

using vtxtest::Str;

namespace {

struct HeapFailure {
  explicit HeapFailure(long n) { vtx::heap::FailAfter(n); }
  ~HeapFailure() { vtx::heap::FailAfter(-1); }
};

// Shows a text with characters outside printable ASCII as {hex}.
template <class T>
std::string Show(const T* text) {
  std::string s;
  if (!text) return "(null)";
  for (; *text; ++text) {
    uint32_t c = sizeof(T) == 1 ? static_cast<unsigned char>(*text) : static_cast<uint32_t>(*text);
    if (c >= 0x20 && c < 0x7F) {
      s.push_back(static_cast<char>(c));
    } else {
      char b[12];
      std::snprintf(b, sizeof b, "{%x}", c);
      s += b;
    }
  }
  return s;
}

// One line per row: "<type>[x] name=value" for single values, "<type> name[n]=a|b" for lists.
template <class T>
std::vector<std::string> Dump(const CIniData<T>& d) {
  using D = CIniData<T>;
  std::vector<std::string> out;
  for (auto row : d) {
    uint32_t type = D::GetType(row);
    std::string s = std::to_string(type) + ((D::GetFlags(row) & IniFlagHex) ? "x " : " ") + Show(D::GetName(row));
    if (type == IniTypeMultiString || type == IniTypeMultiPath) {
      s += "[" + std::to_string(D::GetStringCount(row)) + "]=";
      for (uint32_t i = 0; i < D::GetStringCount(row); ++i) s += (i ? "|" : "") + Show(D::GetStringN(row, i));
    } else if (type != IniTypeSection && type != IniTypeLine) {
      s += "=" + Show(D::GetStringValue(row));
    }
    out.push_back(s);
  }
  return out;
}

// The key table of the reading cases: L list, P path, Q list of paths, N Long, U ULong in any
// section; Top a Long before any section; in [Paths] every key is a path.
template <class T>
struct Table {
  std::basic_string<T> l = Str<T>("L"), p = Str<T>("P"), q = Str<T>("Q"), n = Str<T>("N"), u = Str<T>("U"),
                       top = Str<T>("Top"), paths = Str<T>("Paths");
  std::vector<IniTableEntry<T>> rows;
  Table() {
    const T* any = IniAny<T>();
    rows = {{nullptr, top.c_str(), 1, IniTypeLong},   {paths.c_str(), any, 2, IniTypePath},
            {any, l.c_str(), 3, IniTypeMultiString},  {any, p.c_str(), 4, IniTypePath},
            {any, q.c_str(), 5, IniTypeMultiPath},    {any, n.c_str(), 6, IniTypeLong},
            {any, u.c_str(), 7, IniTypeULong | IniFlagHex}};
  }
  const IniTableEntry<T>* data() const { return rows.data(); }
  uint32_t size() const { return static_cast<uint32_t>(rows.size()); }
};

template <class T>
class IniText : public ::testing::Test {};
using Both = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(IniText, Both);

struct ReadCase {
  const char* text;
  std::vector<std::string> rows;
  HRESULT hr = S_OK;
  uint32_t errorLine = 0;
};

TYPED_TEST(IniText, ReadsTheGrammar) {
  using T = TypeParam;
  const ReadCase cases[] = {
      {"", {}},
      {"; only a comment\r\n\r\n   ; another; with ; semicolons\n\t\n", {}},
      {"Top = 5\r\n[S]\r\nTop = 6\r\nk = v\r\n", {"3 Top=5", "1 S", "2 Top=6", "2 k=v"}},
      {"[A]\r\n[A]\r\n", {"1 A", "1 A"}},
      {"[]\r\n[x]y]\r\n", {"1 ", "1 x]y"}},
      {"k = \"a;b\" ; c\r\nj = a;b\r\n", {"2 k=a;b", "2 j=a"}},
      {"k = a,b\r\n", {"2 k=a"}},
      {"k =   a  b \t ; c\r\nj = a \t\r\ni=\r\n", {"2 k=a  b", "2 j=a", "2 i="}},
      {"L = a , \"b,c\" , d\r\n", {"5 L[3]=a|b,c|d"}},
      {"L = a,,b\r\nL = a, \r\nL = \"\"\r\nL =   \r\nL = ; c\r\n",
       {"5 L[3]=a||b", "5 L[2]=a|", "5 L[1]=", "5 L[0]=", "5 L[0]="}},
      {"Q = C:\\a\\, \"C:\\b,c\"\r\n", {"7 Q[2]=C:\\a\\|C:\\b,c"}},
      {"P = C:\\dir\\x41\r\n[Paths]\r\nany = \"C:\\d\\\"\r\n", {"6 P=C:\\dir\\x41", "1 Paths", "6 any=C:\\d\\"}},
      {"k = \\q\r\n", {"2 k="}},
      {"k = a\\tb\\n\\\\n\\?\\'\\\"\r\n", {"2 k=a{9}b{a}\\n?'\""}},
      {"k = \\x41\\X4a\\x\\X\r\n", {"2 k=AJxX"}},
      {"k = \\x00411\\101\\7\r\n", {"2 k=A1A{7}"}},
      {"k = a\\0b\r\nj = \"a\\x0b\" rest\r\n", {"2 k=a", "2 j=a{b}"}},
      {"k = a\\x00 b\r\n", {"2 k=a"}},
      {"k = \"x\" junk, more\r\n", {"2 k=x"}},
      {"k = \"abc", {"2 k=abc"}},
      {"k = a\\", {"2 k=a"}},
      {"N = 0x1F\r\nN = 0xfffffffb\r\nN = -2147483648\r\nN = 017\r\nN = yes\r\nN = 12 ; c\r\nN = \"7\"\r\n",
       {"3x N=31", "3x N=-5", "3 N=-2147483648", "3 N=15", "3 N=1", "3 N=12", "3 N=7"}},
      {"U = 4294967295\r\nU = 0XFF\r\n", {"4 U=4294967295", "4x U=255"}},
      {"[S]\r\nk = v\r\n\r\nN = 2147483648\r\n", {"1 S", "2 k=v"}, E_INVALIDDATA, 4},
      {"N = -2147483649\r\n", {}, E_INVALIDDATA, 1},
      {"N = 0x100000000\r\n", {}, E_INVALIDDATA, 1},
      {"U = 4294967296\r\n", {}, E_INVALIDDATA, 1},
      {"N = 12abc\r\n", {}, E_INVALIDDATA, 1},
      {"N = \r\n", {}, E_INVALIDDATA, 1},
      {"N = yesterday\r\n", {}, E_INVALIDDATA, 1},
      {"\r\n[Sec tion]\r\n", {}, E_INVALIDDATA, 2},
      {"a\r\nb = 1\r\n", {}, E_INVALIDDATA, 1},
      {"k = \"multi\r\nline\"\r\nj\r\n", {"2 k=multi{d}{a}line"}, E_INVALIDDATA, 3},
  };
  Table<T> table;
  for (const auto& c : cases) {
    CIniDataBuffer<T> d;
    ASSERT_TRUE(d.SetBuffer(Str<T>(c.text).c_str()));
    EXPECT_EQ(d.Load(table.data(), table.size()), c.hr) << c.text;
    EXPECT_EQ(Dump(d), c.rows) << c.text;
    EXPECT_EQ(d.GetErrorLine(), c.errorLine) << c.text;
  }
}

TYPED_TEST(IniText, RowsCarryTheirLinesAndLoadStartsOver) {
  using T = TypeParam;
  using D = CIniData<T>;
  CIniDataBuffer<T> d;
  ASSERT_TRUE(d.SetBuffer(Str<T>("; head\r\n[A]\r\n\r\nk = \"x\r\ny\"\r\nj = 1\n").c_str()));
  ASSERT_EQ(d.Load(nullptr, 0), S_OK);
  std::vector<uint32_t> lines;
  for (auto row : d) lines.push_back(D::GetLine(row));
  EXPECT_EQ(lines, (std::vector<uint32_t>{2, 5, 6}));
  ASSERT_TRUE(d.SetBuffer(Str<T>("bad\r\n").c_str()));
  EXPECT_EQ(d.Load(nullptr, 0), E_INVALIDDATA);
  EXPECT_EQ(d.GetCount(), 0u);
  ASSERT_TRUE(d.SetBuffer(nullptr));  // no text at all: success with no rows
  EXPECT_EQ(d.Load(nullptr, 0), S_OK);
  EXPECT_EQ(d.GetErrorLine(), 0u);
  EXPECT_EQ(d.GetLine(), 1u);
}

// Rows to text: each builder adds rows, the text is what Save must give (0x8007000D: refused).
template <class T>
struct WriteCase {
  const char* what;
  void (*build)(CIniDataBuffer<T>&);
  const char* text;
};

template <class T>
std::basic_string<T> S(const char* a) {
  return Str<T>(a);
}

TYPED_TEST(IniText, WritesRowsAsText) {
  using T = TypeParam;
  using B = CIniDataBuffer<T>;
#define ROWS(...) [](B& d) { __VA_ARGS__; }
  const WriteCase<T> cases[] = {
      {"section first", ROWS(d.AddSection(S<T>("General").c_str()); d.AddString(S<T>("k").c_str(), S<T>("v").c_str())),
       "\r\n[General]\r\nk = v\r\n"},
      {"nothing", ROWS((void)d), ""},
      {"tab", ROWS(d.AddString(S<T>("k").c_str(), S<T>("a\t.").c_str())), "k = a\\x9.\r\n"},
      {"tab before a hex digit", ROWS(d.AddString(S<T>("k").c_str(), S<T>("a\tb").c_str())), "k = a\\x0009b\r\n"},
      {"padded", ROWS(d.AddString(S<T>("k").c_str(), S<T>("\x01" "A").c_str())), "k = \\x0001A\r\n"},
      {"quote and backslash", ROWS(d.AddString(S<T>("k").c_str(), S<T>("a\"b\\c").c_str())), "k = a\\\"b\\\\c\r\n"},
      {"leading quote", ROWS(d.AddString(S<T>("k").c_str(), S<T>("\"q\"").c_str())), "k = \"\\\"q\\\"\"\r\n"},
      {"comma", ROWS(d.AddString(S<T>("k").c_str(), S<T>("a,b").c_str())), "k = \"a,b\"\r\n"},
      {"semicolon", ROWS(d.AddString(S<T>("k").c_str(), S<T>("a;b").c_str())), "k = \"a;b\"\r\n"},
      {"blank ends", ROWS(d.AddString(S<T>("k").c_str(), S<T>(" a\t").c_str())), "k = \" a\\x9\"\r\n"},
      {"flag", ROWS(d.AddString(S<T>("k").c_str(), S<T>("a").c_str(), IniFlagQuote)), "k = \"a\"\r\n"},
      {"empty", ROWS(d.AddString(S<T>("k").c_str(), S<T>("").c_str())), "k = \r\n"},
      {"line break", ROWS(d.AddString(S<T>("k").c_str(), S<T>("a\r\nb").c_str())), "k = a\\xd\\x000ab\r\n"},
      {"path", ROWS(d.AddPath(S<T>("p").c_str(), S<T>("C:\\x\\").c_str())), "p = C:\\x\\\r\n"},
      {"path comma", ROWS(d.AddPath(S<T>("p").c_str(), S<T>("C:\\a,b;c").c_str())), "p = \"C:\\a,b;c\"\r\n"},
      {"path tab", ROWS(d.AddPath(S<T>("p").c_str(), S<T>("a\tb").c_str())), "p = a\tb\r\n"},
      {"path quote", ROWS(d.AddPath(S<T>("p").c_str(), S<T>("a\"b").c_str())), nullptr},
      {"path line break", ROWS(d.AddPath(S<T>("p").c_str(), S<T>("a\nb").c_str())), nullptr},
      {"list", ROWS(auto a = S<T>("a"); auto e = S<T>(""); auto bc = S<T>("b,c"); auto sc = S<T>(" x;");
                    const T* v[] = {a.c_str(), e.c_str(), bc.c_str(), sc.c_str()};
                    d.AddMultiString(S<T>("L").c_str(), v, 4)),
       "L = a, \"\", \"b,c\", \" x;\"\r\n"},
      {"empty list", ROWS(d.AddMultiString(S<T>("L").c_str(), nullptr, 0)), "L = \r\n"},
      {"path list", ROWS(auto a = S<T>("C:\\a"); auto b = S<T>("b,c"); const T* v[] = {a.c_str(), b.c_str()};
                         d.AddMultiPath(S<T>("Q").c_str(), v, 2, IniFlagQuote)),
       "Q = \"C:\\a\", \"b,c\"\r\n"},
      {"numbers", ROWS(d.AddLong(S<T>("a").c_str(), -5, IniFlagHex); d.AddLong(S<T>("b").c_str(), 31, IniFlagHex);
                       d.AddLong(S<T>("c").c_str(), -7); d.AddULong(S<T>("d").c_str(), 0xFFFFFFFFu);
                       d.AddULong(S<T>("e").c_str(), 0xABCu, IniFlagHex)),
       "a = 0xfffffffb\r\nb = 0x1f\r\nc = -7\r\nd = 4294967295\r\ne = 0xabc\r\n"},
      {"literal line", ROWS(d.AddLine(S<T>("; written by hand").c_str()); d.Add(0x42, S<T>("skipped").c_str(), nullptr, 0)),
       "; written by hand\r\n"},
      {"odd key", ROWS(d.AddString(S<T>("=x").c_str(), S<T>("1").c_str()); d.AddString(S<T>("[k").c_str(), S<T>("2").c_str())),
       "=x = 1\r\n[k = 2\r\n"},
      {"key with blank", ROWS(d.AddString(S<T>("a b").c_str(), S<T>("v").c_str())), nullptr},
      {"empty key", ROWS(d.AddLong(S<T>("").c_str(), 1)), nullptr},
      {"key like a section", ROWS(d.AddString(S<T>("[k]").c_str(), S<T>("v").c_str())), nullptr},
      {"key with equals", ROWS(d.AddString(S<T>("k=").c_str(), S<T>("v").c_str())), nullptr},
      {"section with blank", ROWS(d.AddSection(S<T>("a b").c_str())), nullptr},
  };
#undef ROWS
  for (const auto& c : cases) {
    B d;
    ASSERT_TRUE(d.SetBuffer(S<T>("old").c_str()));
    c.build(d);
    if (!c.text) {
      EXPECT_EQ(d.Save(), E_INVALIDDATA) << c.what;
      EXPECT_EQ(Show(d.GetText()), "old") << c.what;  // a refused save keeps the text
      continue;
    }
    ASSERT_EQ(d.Save(), S_OK) << c.what;
    EXPECT_EQ(Show(d.GetText()), Show(S<T>(c.text).c_str())) << c.what;
    EXPECT_EQ(d.GetBuffer().GetCount(), d.GetTextLength() + 1) << c.what;
  }
}

// Text that was read and written again reads back the same, and a second write changes nothing.
TYPED_TEST(IniText, ReadTextWrittenAgainKeepsItsRows) {
  using T = TypeParam;
  Table<T> table;
  const char* text =
      "; comment\r\nTop = 0x1F\r\n[General]\r\nSource = \"ECB; Frankfurt\"\r\nP = C:\\dir\\\r\n"
      "L = a , \"b,c\" , \"\"\r\nQ = C:\\a, \"C:\\b;c\"\r\nN = 0xfffffffb\r\nU = 7\r\nE = \\x41\\tz\r\n";
  const char* written =
      "Top = 0x1f\r\n\r\n[General]\r\nSource = \"ECB; Frankfurt\"\r\nP = C:\\dir\\\r\n"
      "L = a, \"b,c\", \"\"\r\nQ = C:\\a, \"C:\\b;c\"\r\nN = 0xfffffffb\r\nU = 7\r\nE = A\\x9z\r\n";
  CIniDataBuffer<T> d;
  ASSERT_TRUE(d.SetBuffer(Str<T>(text).c_str()));
  ASSERT_EQ(d.Load(table.data(), table.size()), S_OK);
  const auto rows = Dump(d);
  ASSERT_EQ(d.Save(), S_OK);
  EXPECT_EQ(Show(d.GetText()), Show(Str<T>(written).c_str()));
  ASSERT_EQ(d.Load(table.data(), table.size()), S_OK);
  EXPECT_EQ(Dump(d), rows);
  ASSERT_EQ(d.Save(), S_OK);
  EXPECT_EQ(Show(d.GetText()), Show(Str<T>(written).c_str()));
}

TEST(IniText8, HighBytesAreEscapedInStringsOnly) {
  CIniDataBufferA d;
  d.AddString("s", "caf\xe9");
  d.AddPath("p", "caf\xe9");
  d.AddString("t", "\xe9" "a");
  ASSERT_EQ(d.Save(), S_OK);
  EXPECT_STREQ(d.GetText(), "s = caf\\xe9\r\np = caf\xe9\r\nt = \\x00e9a\r\n");
  ASSERT_EQ(d.Load(nullptr, 0), S_OK);
  EXPECT_EQ(Dump(d), (std::vector<std::string>{"2 s=caf{e9}", "2 p=caf{e9}", "2 t={e9}a"}));  // no table: strings
  // Octal and long hexadecimal escapes keep their low byte.
  ASSERT_TRUE(d.SetBuffer("k = \\1011\\x141\r\n"));
  ASSERT_EQ(d.Load(nullptr, 0), S_OK);
  EXPECT_EQ(Dump(d), (std::vector<std::string>{"2 k={9}A"}));
}

TEST(IniText16, CharactersOfTheCodePageAreWrittenAsTheyAre) {
  CIniDataBufferW d;
  const char16_t euro[] = {0x20AC, 0xE9, 0x100, 0xD800, 'b', 0};  // 0x100 and a lone surrogate are not in 1252
  d.AddString(u"s", euro);
  ASSERT_EQ(d.Save(), S_OK);
  const char16_t want[] = {'s', ' ', '=', ' ', 0x20AC, 0xE9, '\\', 'x', '1', '0', '0', '\\', 'x', 'd', '8', '0', '0', 'b', '\r', '\n', 0};
  EXPECT_EQ(std::u16string(d.GetText()), std::u16string(want));
  ASSERT_EQ(d.Load(nullptr, 0), S_OK);
  ASSERT_EQ(d.GetCount(), 1u);
  EXPECT_EQ(std::u16string(CIniDataW::GetStringValue(d[0])), std::u16string(euro));
  ASSERT_TRUE(d.SetBuffer(u"k = \\1000001\r\n"));  // octal 100000 is 0x8000, then the digit 1
  ASSERT_EQ(d.Load(nullptr, 0), S_OK);
  EXPECT_EQ(std::u16string(CIniDataW::GetStringValue(d[0])), std::u16string(u"\x8000" u"1"));
}

// Random rows of every type written with Save read back as the same rows, or Save refuses them.
TYPED_TEST(IniText, RandomRowsRoundTrip) {
  using T = TypeParam;
  using D = CIniData<T>;
  std::mt19937 rng(20261210);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  std::vector<T> alphabet;
  for (const char* p = "aZ09fF_.-[]x,;\"\\ \t\r\n=#"; *p; ++p) alphabet.push_back(static_cast<T>(*p));
  for (uint32_t c : {0x01u, 0x7Fu, 0xE9u, 0xFFu}) alphabet.push_back(static_cast<T>(c));
  if constexpr (sizeof(T) == 2)
    for (uint32_t c : {0x20ACu, 0x100u, 0xD800u, 0xFFFFu}) alphabet.push_back(static_cast<T>(c));
  auto randomText = [&](uint32_t maxLen) {
    std::basic_string<T> s;
    for (uint32_t n = pick(maxLen + 1); n; --n) s.push_back(alphabet[pick(static_cast<uint32_t>(alphabet.size()))]);
    return s;
  };
  auto keywordChar = [&]() { return static_cast<T>("abcXYZ019._-[]"[pick(14)]); };

  int refusedCount = 0, savedCount = 0;
  for (int round = 0; round < 500; ++round) {
    CIniDataBuffer<T> d;
    std::vector<std::basic_string<T>> names;  // kept alive for the table
    names.reserve(64);
    std::vector<IniTableEntry<T>> table;
    const T* section = nullptr;
    bool refuse = false;
    uint32_t rows = pick(10);
    for (uint32_t i = 0; i < rows; ++i) {
      bool broken = pick(12) == 0;  // a name the reader does not accept
      if (pick(4) == 0) {
        std::basic_string<T> name;
        for (uint32_t n = pick(6); n; --n) name.push_back(keywordChar());
        if (broken) name.push_back(' ');
        names.push_back(name);
        ASSERT_TRUE(d.AddSection(names.back().c_str()));
        section = names.back().c_str();
        refuse |= broken;
        continue;
      }
      uint32_t type = 2 + pick(6);
      uint32_t flags = pick(2) ? IniFlagHex : 0;
      std::basic_string<T> name = Str<T>(("k" + std::to_string(i)).c_str());
      for (uint32_t n = pick(4); n; --n) name.push_back(keywordChar());
      if (broken) name.insert(name.begin() + pick(static_cast<uint32_t>(name.size())) + 1, static_cast<T>(pick(2) ? ' ' : '='));
      names.push_back(name);
      const T* key = names.back().c_str();
      table.push_back({section, key, i, type});
      refuse |= broken;
      if (type == IniTypeLong || type == IniTypeULong) {
        uint32_t v = pick(3) == 0 ? static_cast<uint32_t>(pick(20)) - 10u : static_cast<uint32_t>(rng());
        ASSERT_TRUE(type == IniTypeLong ? d.AddLong(key, static_cast<int32_t>(v), flags) : d.AddULong(key, v, flags));
        continue;
      }
      bool list = type == IniTypeMultiString || type == IniTypeMultiPath;
      uint32_t count = list ? pick(4) : 1;
      std::vector<std::basic_string<T>> values;
      for (uint32_t k = 0; k < count; ++k) values.push_back(randomText(8));
      std::vector<const T*> ptrs;
      for (auto& v : values) {
        ptrs.push_back(v.c_str());
        if (type == IniTypePath || type == IniTypeMultiPath) {
          for (T c : v) refuse |= c == '"' || c == '\r' || c == '\n';
        }
      }
      ASSERT_TRUE(d.Add(flags | type, key, ptrs.data(), count));
    }

    HRESULT hr = d.Save();
    ASSERT_EQ(hr, refuse ? E_INVALIDDATA : S_OK) << "round " << round;
    if (refuse) {
      ++refusedCount;
      continue;
    }
    ++savedCount;
    CIniDataBuffer<T> back;
    ASSERT_TRUE(back.SetBuffer(d.GetText()));
    ASSERT_EQ(back.Load(table.data(), static_cast<uint32_t>(table.size())), S_OK)
        << "round " << round << ": " << Show(d.GetText());
    ASSERT_EQ(back.GetCount(), d.GetCount()) << Show(d.GetText());
    auto a = d.begin();
    auto b = back.begin();
    for (; a != d.end(); ++a, ++b) {
      uint32_t type = D::GetType(*a);
      ASSERT_EQ(D::GetType(*b), type) << Show(d.GetText());
      EXPECT_EQ(Show(D::GetName(*b)), Show(D::GetName(*a)));
      if (type == IniTypeLong || type == IniTypeULong) {
        EXPECT_EQ(D::GetULongValue(*b), D::GetULongValue(*a)) << Show(d.GetText());
        EXPECT_EQ(D::GetFlags(*b), D::GetFlags(*a)) << Show(d.GetText());
        continue;
      }
      ASSERT_EQ(D::GetStringCount(*b), D::GetStringCount(*a)) << Show(d.GetText());
      for (uint32_t k = 0; k < D::GetStringCount(*a); ++k)
        EXPECT_EQ(Show(D::GetStringN(*b, k)), Show(D::GetStringN(*a, k))) << "round " << round << ": " << Show(d.GetText());
    }
  }
  EXPECT_GT(refusedCount, 20);
  EXPECT_GT(savedCount, 200);
}

TYPED_TEST(IniText, ExhaustedMemoryFailsCleanlyInBothDirections) {
  using T = TypeParam;
  Table<T> table;
  auto text = Str<T>("Top = 1\r\n[General]\r\nk = \"a,b\"\r\nL = x, \"y z\", w\r\nN = 0x10\r\nq = \\x41bc\r\n");
  CIniDataBuffer<T> d;
  ASSERT_TRUE(d.SetBuffer(text.c_str()));
  ASSERT_EQ(d.Load(table.data(), table.size()), S_OK);
  const auto want = Dump(d);
  bool loaded = false;
  for (long n = 0; n < 200 && !loaded; ++n) {
    HRESULT hr;
    {
      HeapFailure fail(n);
      hr = d.Load(table.data(), table.size());
    }
    ASSERT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY) << n;
    loaded = hr == S_OK;
  }
  ASSERT_TRUE(loaded);
  EXPECT_EQ(Dump(d), want);

  bool saved = false;
  for (long n = 0; n < 200 && !saved; ++n) {
    ASSERT_TRUE(d.SetBuffer(Str<T>("before").c_str()));
    HRESULT hr;
    {
      HeapFailure fail(n);
      hr = d.Save();
    }
    ASSERT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY) << n;
    saved = hr == S_OK;
    if (!saved) {
      EXPECT_EQ(Show(d.GetText()), "before") << n;
    }
  }
  ASSERT_TRUE(saved);
  CIniDataBuffer<T> back;
  ASSERT_TRUE(back.SetBuffer(d.GetText()));
  ASSERT_EQ(back.Load(table.data(), table.size()), S_OK);
  EXPECT_EQ(Dump(back), want);
}

class IniFile : public ::testing::Test {
 protected:
  vtxtest::TempDir dir;
  std::string Write(const std::string& name, const std::string& content) {
    std::string path = dir / name;
    EXPECT_TRUE(vtxtest::WriteFile(path, content));
    return path;
  }
};

TEST_F(IniFile, LoadsAWholeFile) {
  std::string text = "[General]\r\nSource = ECB\r\n[EUR]\r\n";
  for (int i = 0; i < 60000; ++i) text += "C" + std::to_string(i) + " = " + std::to_string(i) + ".25\r\n";
  std::string path = Write("rates.ini", text);
  CIniDataBufferA d;
  uint32_t line = 99;
  ASSERT_EQ(IniLoadFile(path.c_str(), &d, nullptr, 0, &line), S_OK);
  EXPECT_EQ(line, 0u);
  ASSERT_EQ(d.GetCount(), 60003u);
  uint32_t last = 0;
  for (auto row : d) last = CIniDataA::GetLine(row);
  EXPECT_EQ(last, 60003u);
  EXPECT_EQ(IniLoadFile(path.c_str(), &d, nullptr, 0, nullptr), S_OK);
}

TEST_F(IniFile, FailuresAreReportedWithTheirCodes) {
  CIniDataBufferA d;
  uint32_t line = 99;
  std::string bad = Write("bad.ini", "[General]\r\n\r\nSource ECB\r\n");
  EXPECT_EQ(IniLoadFile(bad.c_str(), &d, nullptr, 0, &line), E_INVALIDDATA);
  EXPECT_EQ(line, 3u);
  EXPECT_EQ(d.GetCount(), 1u);  // the rows before the error stay

  // Text after a NUL byte would be lost: refused with the NUL's line. NULs at the end are harmless.
  std::string nul = Write("nul.ini", std::string("a = 1\r\nb = 2\0c = 3\r\n", 20));
  EXPECT_EQ(IniLoadFile(nul.c_str(), &d, nullptr, 0, &line), E_INVALIDDATA);
  EXPECT_EQ(line, 2u);
  std::string padded = Write("padded.ini", std::string("a = 1\r\n\0\0", 9));
  EXPECT_EQ(IniLoadFile(padded.c_str(), &d, nullptr, 0, &line), S_OK);
  EXPECT_EQ(d.GetCount(), 1u);

  EXPECT_EQ(IniLoadFile((dir / "missing.ini").c_str(), &d, nullptr, 0, &line), 0x80070002u);
  EXPECT_EQ(line, 0u);
  EXPECT_EQ(IniLoadFile(dir.path().c_str(), &d, nullptr, 0, &line), HRESULT_FROM_WIN32(ERROR_DIRECTORY));
  EXPECT_EQ(IniLoadFile(nullptr, &d, nullptr, 0, &line), E_POINTER);
  EXPECT_EQ(IniLoadFile(bad.c_str(), nullptr, nullptr, 0, &line), E_POINTER);

  // A size whose NUL would not fit the 32-bit count is refused before anything is read.
  std::string huge = dir / "huge.ini";
  int fd = open(huge.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 0xFFFFFFFFll), 0);
  close(fd);
  EXPECT_EQ(IniLoadFile(huge.c_str(), &d, nullptr, 0, &line), 0x800700DFu);

  std::string ok = Write("ok.ini", "a = 1\r\n");
  {
    HeapFailure fail(0);
    EXPECT_EQ(IniLoadFile(ok.c_str(), &d, nullptr, 0, &line), E_OUTOFMEMORY);
  }
}

TEST(IniFileErrors, AFailureWithoutAnErrorNumberIsStillAFailure) {
  EXPECT_EQ(vtx::ini::FileErrorResult(0), E_FAIL);
  EXPECT_EQ(vtx::ini::FileErrorResult(ERROR_ACCESS_DENIED), 0x80070005u);
  EXPECT_EQ(vtx::ini::FileErrorResult(0x80004005u), 0x80004005u);
}

}  // namespace
