// Currency locales: defaults, formats, the registry form under "Locales" and the list's rules.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/currency/currencylocale.h"
#include "platform/codepage.h"
#include "platform/heap.h"
#include "tests/engine/currency/store_fixture.h"

namespace {

using vtxtest::CurrencyStoreTest;

std::string Utf8(const char16_t* text) { return text ? vtx::WideToUtf8(text) : std::string(); }

std::string Name(CCurrencyLocaleList& list, const char* code, LCID lcid, bool title = false) {
  CStringW out;
  if (!list.GetCurrencyName(out, code, title, lcid)) return "<none>";
  return Utf8(out.c_str());
}

TEST(CurrencyLocale, GroupingTable) {
  struct Case {
    const char16_t* text;
    uint32_t code;
  } cases[] = {{u"3;0", 3}, {u"1;0", 1}, {u"9;0", 9}, {u"3;2;0", 32}, {u"3", 0}, {u"3;3;0", 0}, {u"", 0}};
  for (const Case& c : cases) EXPECT_EQ(GroupingCodeFromText(c.text), c.code) << Utf8(c.text);
}

TEST(CurrencyLocale, UsEnglishFormats) {
  CCurrencyLocale l(1033);
  EXPECT_EQ(l.GetPositiveSymFmt(), 0u);
  EXPECT_EQ(l.GetPositiveIsoFmt(), 2u);
  EXPECT_EQ(l.GetNegativeSymFmt(), 0u);
  EXPECT_EQ(l.GetNegativeIsoFmt(), 11u);
  EXPECT_EQ(l.GetDigitsAfterDecimal(), 2u);
  EXPECT_EQ(Utf8(l.GetThousandSeparator()), ",");
  EXPECT_EQ(Utf8(l.GetDecimalSeparator()), ".");
  EXPECT_EQ(l.GetGrouping(), 3u);
  EXPECT_EQ(l.GetCapitalizeTitles(), 1u);
  EXPECT_STREQ(l.GetName(), "ENU");
  EXPECT_STREQ(l.GetDisplayName(), "English (United States)");
  EXPECT_EQ(l.IsCreated(), 0u);
  EXPECT_EQ(l.GetInfoCount(), 0u);
  EXPECT_EQ(CCurrencyLocale(0x0407).GetCapitalizeTitles(), 0u);
}

TEST(CurrencyLocale, SettersMarkOnlyRealChanges) {
  CCurrencyLocale l(1033);
  l.SetChanged(0);
  l.SetDigitsAfterDecimal(l.GetDigitsAfterDecimal());
  ASSERT_TRUE(l.SetThousandSeparator(l.GetThousandSeparator()));
  EXPECT_FALSE(l.MustBeSaved());
  l.SetGrouping(32);
  EXPECT_TRUE(l.MustBeSaved());

  CCurrencyLocaleInfo info;
  ASSERT_TRUE(info.SetCurrency("USD"));
  EXPECT_EQ(info.GetChanged(), 0u);
  ASSERT_TRUE(info.SetName(u"dollar"));
  EXPECT_EQ(info.GetChanged(), 1u);
  info.SetChanged(0);
  ASSERT_TRUE(info.SetName(u"dollar"));
  ASSERT_TRUE(info.SetCurrency("usd"));
  EXPECT_EQ(info.GetChanged(), 0u);

  CCurrencyLocale de(0x0407);
  ASSERT_TRUE(de.ResetList());
  EXPECT_EQ(de.GetInfoCount(), kCurrencyDataCount);
  de.IFind("adf")->SetChanged(0);
  de.SetChanged(0);
  EXPECT_FALSE(de.MustBeSaved());
  ASSERT_TRUE(de.IFind("ADF")->SetCustom(u"x"));
  EXPECT_TRUE(de.MustBeSaved());
  ASSERT_TRUE(de.Reset("ADF"));
  EXPECT_EQ(Utf8(de.IFind("ADF")->GetName()), "andorranischer Franc");
  EXPECT_EQ(de.IFind("ADF")->GetCustom(), nullptr);
  EXPECT_EQ(de.IFind("ADF")->GetChanged(), 0u);
  EXPECT_FALSE(de.Reset("QQQ"));
}

TEST_F(CurrencyStoreTest, DefaultNamesByLanguage) {
  CCurrencyLocaleList list;
  ASSERT_EQ(list.Create(false), 0u);
  EXPECT_EQ(list.GetDefaultLocale(), 1033u);
  ASSERT_NE(list.Find(1033), nullptr);
  EXPECT_EQ(Name(list, "ADF", 0x0407), "andorranischer Franc");
  EXPECT_EQ(Name(list, "adf", 0x0C07), "andorranischer Franc");  // Austrian German
  EXPECT_EQ(Name(list, "ADP", 0x0410), "peseta di Andorra");
  EXPECT_EQ(Name(list, "XFU", 0x0809), "UIC franc");
  // No language part: the default locale; English titles are capitalised.
  EXPECT_EQ(Name(list, "ADF", 0x0400, true), "Andorran Franc");
  EXPECT_EQ(Name(list, "ADF", 0x0407, true), "Andorranischer Franc");
  EXPECT_EQ(Name(list, "QQQ", 1033), "<none>");
  CCurrencyLocale* de = list.GetLocale(0x0407);
  ASSERT_NE(de, nullptr);
  EXPECT_EQ(Utf8(de->IFind("XFU")->GetSymbol()), "XFU");
  EXPECT_EQ(list.GetLocale("deu"), de);
  EXPECT_EQ(list.GetLocale("nothing"), nullptr);
}

TEST_F(CurrencyStoreTest, GetLocaleFillsAnEntryThatIsNotCreated) {
  CCurrencyLocaleList list;
  ASSERT_EQ(list.Create(false), 0u);
  uint32_t count = list.GetCount();
  CCurrencyLocale* entry = list.Find(1033);
  ASSERT_NE(entry, nullptr);
  ASSERT_EQ(entry->IsCreated(), 0u);
  EXPECT_EQ(list.GetLocale(1033), entry);
  EXPECT_EQ(entry->IsCreated(), 1u);
  EXPECT_EQ(entry->GetInfoCount(), kCurrencyDataCount);
  EXPECT_EQ(list.GetCount(), count);

  // A locale the list does not hold is appended once.
  LCID odd = 0x0001;
  if (!list.Find(odd)) {
    ASSERT_NE(list.GetLocale(odd), nullptr);
    EXPECT_EQ(list.GetCount(), count + 1);
    ASSERT_NE(list.GetLocale(odd), nullptr);
    EXPECT_EQ(list.GetCount(), count + 1);
  }
}

TEST_F(CurrencyStoreTest, RoundTripUnderLocales) {
  {
    CCurrencyLocaleList list;
    ASSERT_EQ(list.Create(false), 0u);
    CCurrencyLocale* de = list.GetLocale(0x0407);
    ASSERT_NE(de, nullptr);
    de->SetPositiveSymFmt(3);
    de->SetNegativeSymFmt(8);
    de->SetGrouping(32);
    ASSERT_TRUE(de->SetThousandSeparator(u"\u2009"));
    ASSERT_TRUE(de->IFind("USD")->SetName(u"US-Dollar (neu)"));
    ASSERT_TRUE(de->IFind("USD")->SetCustom(u"Notiz"));
    list.SetDefaultLocale(0x0407);
    ASSERT_EQ(list.Save(), 0u);
  }
  CCurrencyLocaleList list;
  ASSERT_EQ(list.Create(false), 0u);
  EXPECT_EQ(list.GetDefaultLocale(), 0x0407u);
  CCurrencyLocale* de = list.Find(0x0407);
  ASSERT_NE(de, nullptr);
  ASSERT_EQ(de->IsCreated(), 1u);
  EXPECT_EQ(de->GetPositiveSymFmt(), 3u);
  EXPECT_EQ(de->GetNegativeSymFmt(), 8u);
  EXPECT_EQ(de->GetGrouping(), 32u);
  EXPECT_EQ(Utf8(de->GetThousandSeparator()), "\u2009");
  EXPECT_EQ(de->GetInfoCount(), kCurrencyDataCount);
  // Infos come back in the order they were stored.
  EXPECT_STREQ(de->GetInfo(0)->GetCurrency(), "ADF");
  EXPECT_STREQ(de->GetInfo(kCurrencyDataCount - 1)->GetCurrency(), "XFU");
  EXPECT_EQ(Utf8(de->IFind("usd")->GetName()), "US-Dollar (neu)");
  EXPECT_EQ(Utf8(de->IFind("USD")->GetCustom()), "Notiz");
  EXPECT_EQ(Utf8(de->IFind("ADF")->GetName()), "andorranischer Franc");
  // Loaded locales are written back even when nothing was edited.
  EXPECT_TRUE(de->MustBeSaved());
  ASSERT_EQ(list.Save(), 0u);
  CCurrencyLocaleList again;
  ASSERT_EQ(again.Create(false), 0u);
  ASSERT_NE(again.Find(0x0407), nullptr);
  EXPECT_EQ(again.Find(0x0407)->IsCreated(), 1u);

  // Reset mode reads nothing and never writes.
  CCurrencyLocaleList defaults;
  ASSERT_EQ(defaults.Create(true), 0u);
  EXPECT_EQ(defaults.GetDefaultLocale(), 1033u);
  EXPECT_EQ(defaults.Find(0x0407)->IsCreated(), 0u);
  EXPECT_EQ(Name(defaults, "USD", 0x0407), "US-Dollar");
  ASSERT_EQ(defaults.Save(), 0u);
  CCurrencyLocaleList still;
  ASSERT_EQ(still.Create(false), 0u);
  EXPECT_EQ(Name(still, "USD", 0x0407), "US-Dollar (neu)");
}

TEST_F(CurrencyStoreTest, LocalesSaveIsAllOrNothing) {
  auto setName = [](CCurrencyLocaleList& list, const char16_t* name) {
    CCurrencyLocale* it = list.GetLocale(0x0410);
    ASSERT_NE(it, nullptr);
    ASSERT_TRUE(it->IFind("USD")->SetName(name));
  };
  {
    CCurrencyLocaleList list;
    ASSERT_EQ(list.Create(false), 0u);
    setName(list, u"vecchio");
    ASSERT_EQ(list.Save(), 0u);
  }
  CCurrencyLocaleList list;
  ASSERT_EQ(list.Create(false), 0u);
  setName(list, u"nuovo");
  for (long n = 0;; n = n < 16 ? n + 1 : n * 5 / 4) {
    vtx::heap::FailAfter(n);
    HRESULT hr = list.Save();
    vtx::heap::FailAfter(-1);
    CCurrencyLocaleList back;
    ASSERT_EQ(back.Create(false), 0u);
    if (hr == 0) {
      EXPECT_EQ(Name(back, "USD", 0x0410), "nuovo");
      EXPECT_GT(n, 16);  // the early attempts did run short
      break;
    }
    ASSERT_EQ(Name(back, "USD", 0x0410), "vecchio") << n;
  }
}

// Making and copying the list of locales run short of memory at each allocation in turn: the
// failure is reported, and nothing leaks.
TEST_F(CurrencyStoreTest, LocaleListsThatRunShortSaySo) {
  for (long n = 0;; n = n < 16 ? n + 1 : n * 5 / 4) {
    CCurrencyLocaleList list, copy;
    vtx::heap::FailAfter(n);
    HRESULT hr = list.Create(false);
    bool copied = hr == 0 && copy.CopyFrom(list);
    vtx::heap::FailAfter(-1);
    if (copied) {
      EXPECT_EQ(Name(copy, "USD", 0x0410), Name(list, "USD", 0x0410));
      EXPECT_GT(n, 16);
      break;
    }
    if (hr != 0) {
      ASSERT_EQ(hr, E_OUTOFMEMORY) << n;
    }
  }
}

TEST_F(CurrencyStoreTest, StoredLocaleUnknownHereSurvivesASave) {
  const char path[] = "SOFTWARE\\Hulvane\\Vantrex\\4.0\\Locales\\4660";  // 0x1234
  ASSERT_EQ(vtxtest::WriteKey<char16_t>(path, [](CIniData<char16_t>& d) {
              d.AddSection(u"Names");
              d.AddString(u"USD", u"kept");
            }),
            0u);
  {
    CCurrencyLocaleList list;
    ASSERT_EQ(list.Create(false), 0u);
    ASSERT_NE(list.Find(0x1234), nullptr);
    EXPECT_EQ(Name(list, "USD", 0x1234), "kept");
    ASSERT_EQ(list.Save(), 0u);
  }
  CCurrencyLocaleList list;
  ASSERT_EQ(list.Create(false), 0u);
  EXPECT_EQ(Name(list, "USD", 0x1234), "kept");
}

TEST_F(CurrencyStoreTest, OutOfRangeStoredFormatsGiveWayToDefaults) {
  const char path[] = "SOFTWARE\\Hulvane\\Vantrex\\4.0\\Locales\\1033";
  ASSERT_EQ(vtxtest::WriteKey<char16_t>(path, [](CIniData<char16_t>& d) {
              d.AddSection(u"General");
              d.AddULong(u"PositiveSymbolFormat", 4);
              d.AddULong(u"PositiveIsoFormat", 3);
              d.AddULong(u"NegativeSymbolFormat", 16);
              d.AddULong(u"NegativeIsoFormat", 15);
              d.AddULong(u"DigitsAfterDecimal", 4000000000u);
              d.AddULong(u"Grouping", 17);
              d.AddULong(u"CapitalizeTitles", 0);
            }),
            0u);
  CCurrencyLocaleList list;
  ASSERT_EQ(list.Create(false), 0u);
  CCurrencyLocale* en = list.Find(1033);
  ASSERT_NE(en, nullptr);
  ASSERT_EQ(en->IsCreated(), 1u);
  EXPECT_EQ(en->GetPositiveSymFmt(), 0u);
  EXPECT_EQ(en->GetPositiveIsoFmt(), 3u);
  EXPECT_EQ(en->GetNegativeSymFmt(), 0u);
  EXPECT_EQ(en->GetNegativeIsoFmt(), 15u);
  EXPECT_EQ(en->GetDigitsAfterDecimal(), 2u);
  EXPECT_EQ(en->GetGrouping(), 3u);
  EXPECT_EQ(en->GetCapitalizeTitles(), 0u);
  // A stored locale with no names yet has none until it is reset.
  EXPECT_EQ(Name(list, "USD", 1033), "<none>");
  EXPECT_TRUE(list.Reset("USD"));
  EXPECT_EQ(Name(list, "USD", 1033), "US Dollar");
}

TEST_F(CurrencyStoreTest, ListsCreatedAtOnce) {
  CCurrencyLocaleList reference;
  ASSERT_EQ(reference.Create(false), 0u);
  constexpr int kThreads = 4;
  HRESULT results[kThreads];
  uint32_t counts[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      CCurrencyLocaleList list;
      results[t] = list.Create(false);
      counts[t] = list.GetCount();
      CStringW name;
      if (!list.GetCurrencyName(name, "ADF", false, 0x0407)) results[t] = 0x80004005;
    });
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(results[t], 0u) << t;
    EXPECT_EQ(counts[t], reference.GetCount()) << t;
  }
}

TEST(CurrencyLocaleList, CopyIsDeep) {
  CCurrencyLocaleList list;
  ASSERT_EQ(list.Create(true), 0u);
  ASSERT_NE(list.GetLocale(0x0410), nullptr);
  CCurrencyLocaleList copy;
  ASSERT_TRUE(copy.CopyFrom(list));
  EXPECT_EQ(copy.GetCount(), list.GetCount());
  ASSERT_TRUE(copy.Find(0x0410)->IFind("ADF")->SetName(u"altro"));
  EXPECT_EQ(Utf8(list.Find(0x0410)->IFind("ADF")->GetName()), "franco di Andorra");
  EXPECT_TRUE(copy.IsResetMode());
}

}  // namespace
