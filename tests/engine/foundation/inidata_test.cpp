#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/foundation/inidata.h"
#include "tests/support/text.h"

using vtxtest::Narrow;
using vtxtest::Str;

namespace {

// The row API alone, without a store.
template <class T>
class MemoryIni : public CIniData<T> {
 public:
  HRESULT Load(const IniTableEntry<T>*, uint32_t) override { return S_OK; }
  HRESULT Save() override { return S_OK; }
};

struct HeapFailure {
  explicit HeapFailure(long n) { vtx::heap::FailAfter(n); }
  ~HeapFailure() { vtx::heap::FailAfter(-1); }
};

template <class T>
class IniData : public ::testing::Test {};
using Both = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(IniData, Both);

TYPED_TEST(IniData, RowsKeepTypeLineNameAndValuesInOrder) {
  using T = TypeParam;
  using D = CIniData<T>;
  MemoryIni<T> d;
  auto s = [](const char* a) { return Str<T>(a); };
  EXPECT_EQ(d.GetLine(), 1u);
  ASSERT_TRUE(d.AddSection(s("General").c_str()));
  d.SetLine(7);
  ASSERT_TRUE(d.AddString(s("Source").c_str(), s("ECB").c_str(), IniFlagQuote));
  auto a = s("a"), empty = s(""), c = s("c,d");
  const T* list[] = {a.c_str(), empty.c_str(), c.c_str()};
  ASSERT_TRUE(d.AddMultiString(s("List").c_str(), list, 3));
  ASSERT_TRUE(d.AddMultiPath(s("None").c_str(), nullptr, 0));
  ASSERT_TRUE(d.AddPath(s("Dir").c_str(), s("C:\\x").c_str()));
  ASSERT_TRUE(d.AddSection(s("General").c_str()));  // a second section of the same name stays
  EXPECT_FALSE(d.AddString(nullptr, s("x").c_str()));
  ASSERT_EQ(d.GetCount(), 6u);

  std::vector<typename D::Row> rows;
  for (auto r : d) rows.push_back(r);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(D::GetType(rows[0]), IniTypeSection);
  EXPECT_EQ(D::GetLine(rows[0]), 1u);
  EXPECT_EQ(Narrow(D::GetSection(rows[0])), "General");
  EXPECT_EQ(D::GetStringCount(rows[0]), 0u);
  EXPECT_EQ(D::GetStringValue(rows[0]), nullptr);  // a row without values has no first value

  EXPECT_EQ(D::GetTypeWord(rows[1]), IniFlagQuote | IniTypeString);
  EXPECT_EQ(D::GetType(rows[1]), IniTypeString);
  EXPECT_EQ(D::GetFlags(rows[1]), IniFlagQuote);
  EXPECT_EQ(D::GetLine(rows[1]), 7u);
  EXPECT_EQ(Narrow(D::GetString1(rows[1])), "Source");
  EXPECT_EQ(Narrow(D::GetString2(rows[1])), "ECB");

  EXPECT_EQ(D::GetStringCount(rows[2]), 3u);
  EXPECT_EQ(Narrow(D::GetStringN(rows[2], 0)), "a");
  EXPECT_EQ(Narrow(D::GetStringN(rows[2], 1)), "");
  EXPECT_EQ(Narrow(D::GetStringN(rows[2], 2)), "c,d");
  EXPECT_EQ(D::GetStringN(rows[2], 3), nullptr);  // past the count: no read beyond the record
  EXPECT_EQ(D::GetStringN(rows[2], 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(D::GetPathCount(rows[3]), 0u);
  EXPECT_EQ(D::GetPathValue(rows[3], 0), nullptr);
  EXPECT_EQ(Narrow(D::GetPathValue(rows[4], 0)), "C:\\x");
  EXPECT_EQ(Narrow(D::GetName(rows[5])), "General");

  typename D::Iterator it(d, 4);
  ASSERT_FALSE(it.IsEnd());
  EXPECT_EQ(*it, rows[4]);
  EXPECT_TRUE(typename D::Iterator(d, 6).IsEnd());
  d.Empty();
  EXPECT_EQ(d.GetCount(), 0u);
  EXPECT_TRUE(d.begin() == d.end());
}

TYPED_TEST(IniData, NumbersReadBackFromTheirText) {
  using T = TypeParam;
  using D = CIniData<T>;
  MemoryIni<T> d;
  auto s = [](const char* a) { return Str<T>(a); };
  ASSERT_TRUE(d.AddLong(s("Neg").c_str(), -5, IniFlagHex));
  ASSERT_TRUE(d.AddULong(s("Max").c_str(), 0xFFFFFFFFu));
  ASSERT_TRUE(d.AddLong(s("Min").c_str(), INT32_MIN));
  auto neg = d[0];
  EXPECT_EQ(Narrow(D::GetStringValue(neg)), "-5");
  EXPECT_EQ(D::GetFlags(neg), IniFlagHex);
  EXPECT_EQ(D::GetLongValue(neg), -5);
  EXPECT_EQ(Narrow(D::GetStringValue(d[1])), "4294967295");
  EXPECT_EQ(D::GetULongValue(d[1]), 0xFFFFFFFFu);
  EXPECT_EQ(D::GetLongValue(d[2]), INT32_MIN);

  struct Case {
    const char* text;
    int32_t asLong;
    uint32_t asULong;
  } cases[] = {
      {"Yes", 1, 1},           {"no", 0, 0},          {"yesterday", 1, 1},  {"0x1A", 26, 26},
      {"017", 15, 15},         {"-3", -3, 0xFFFFFFFDu}, {"0xfffffffb", -5, 0xFFFFFFFBu},
      {"junk", 0, 0},          {"", 0, 0},
  };
  for (const auto& c : cases) {
    MemoryIni<T> one;
    ASSERT_TRUE(one.AddString(s("k").c_str(), s(c.text).c_str()));
    EXPECT_EQ(D::GetLongValue(one[0]), c.asLong) << c.text;
    EXPECT_EQ(D::GetULongValue(one[0]), c.asULong) << c.text;
  }
  MemoryIni<T> none;
  ASSERT_TRUE(none.AddSection(s("S").c_str()));
  EXPECT_EQ(D::GetLongValue(none[0]), 0);
}

TYPED_TEST(IniData, FailedAllocationLeavesTheListUnchanged) {
  using T = TypeParam;
  MemoryIni<T> d;
  auto name = Str<T>("Key"), value = Str<T>("v");
  ASSERT_TRUE(d.AddString(name.c_str(), value.c_str()));
  for (long n = 0; n < 3; ++n) {
    bool ok;
    {
      HeapFailure fail(n);
      ok = d.AddString(name.c_str(), value.c_str());
    }
    EXPECT_EQ(d.GetCount(), ok ? 2u : 1u) << n;
    if (ok) break;
  }
}

TYPED_TEST(IniData, KeyTableMatching) {
  using T = TypeParam;
  auto s = [](const char* a) { return Str<T>(a); };
  auto general = s("General"), eur = s("EUR"), date = s("Date"), source = s("Source");
  const T* any = IniAny<T>();
  const IniTableEntry<T> table[] = {
      {general.c_str(), nullptr, 1, IniTypeSection},
      {general.c_str(), date.c_str(), 2, IniTypeString},
      {eur.c_str(), nullptr, 3, IniTypeSection},
      {eur.c_str(), any, 4, IniTypeString},
      {nullptr, source.c_str(), 5, IniTypeString},
      {any, source.c_str(), 6, IniTypeLong},
  };
  const uint32_t n = 6;
  struct Case {
    const char* section;  // "-" for null
    const char* key;      // "-" for null
    uint32_t id;
  } cases[] = {
      {"GENERAL", "-", 1}, {"general", "DATE", 2}, {"General", "Other", IniNoId}, {"EUR", "-", 3},
      {"eur", "USD", 4},   {"-", "source", 5},     {"Elsewhere", "Source", 6},     {"-", "Date", IniNoId},
      {"-", "-", IniNoId}, {"Names", "-", IniNoId},
  };
  for (const auto& c : cases) {
    auto sec = s(c.section), key = s(c.key);
    const T* sp = std::string(c.section) == "-" ? nullptr : sec.c_str();
    const T* kp = std::string(c.key) == "-" ? nullptr : key.c_str();
    EXPECT_EQ(FindIniTableEntryID(sp, kp, table, n), c.id) << c.section << "/" << c.key;
  }
  EXPECT_EQ(FindIniTableEntry(general.c_str(), date.c_str(), table, n), &table[1]);
  EXPECT_EQ(FindIniTableEntry(general.c_str(), date.c_str(), table, 0), nullptr);
  EXPECT_EQ(FindIniTableEntry(general.c_str(), date.c_str(), static_cast<const IniTableEntry<T>*>(nullptr), n), nullptr);
}

}  // namespace
