// The currency-definitions update data: update texts in both row forms and three encodings, what
// a load keeps against the database and the locales, the refused rows, the stored form, and how
// the database and the settings take the stored update.
#include "engine/currency/update.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/currency/settings.h"
#include "platform/codepage.h"
#include "platform/heap.h"
#include "tests/engine/currency/settings_fixture.h"
#include "tests/support/storetest.h"

using vtxtest::SettingsTest;

// Creating a database checks the stored stamp and may reset the stored update: a store of the
// test's own, never the host's.
class DefinitionsUpdate : public vtxtest::PrivateStoreTest {};

namespace {

constexpr LCID kGerman = 1031;
constexpr LCID kEnglishUS = 1033;
const char kGermanName[] = "\xC3\x96sterreichischer Xyz";  // UTF-8: a name no table has

// Every section, both forms of the name rows, and rows that change nothing.
std::string Fixture() {
  return std::string(
             "; currency definitions\r\n"
             "[General]\r\n"
             "Message = \"First part\"\r\n"
             "Message.45 = \"Second part\"\r\n"
             "Message.46 = \"not for this version\"\r\n"
             "Next = http://example.test/page2.txt\r\n"
             "[EUR]\r\n"
             "DEM = 1.95583\r\n"  // what the database has already
             "SIT = 239.640\r\n"
             "ABCD = 5.0\r\n"  // no currency has a code that long
             "[Smallest]\r\n"
             "XYZ = 0.05\r\n"
             "[NumericalCodes]\r\n"
             "XYZ = 999\r\n"
             "[LegalTender]\r\n"
             "XYZ = yes\r\n"
             "[Regime]\r\n"
             "SIT = EMU\r\n"
             "XYZ = Pegged-EUR\r\n"
             "[Physical]\r\n"
             "XYZ = 0\r\n"
             "[Remove]\r\n"
             "DEM = 1\r\n"
             "QQQ = 1\r\n"  // unknown to the database
             "ITL = 0\r\n"  // a false value removes nothing
             "[Names]\r\n"
             "XYZ-de-DE = \"") +
         kGermanName +
         "\"\r\n"
         "XYZ = en-US, Xyz dollar\r\n"
         "ADF-de-DE = Andorranischer Franc\r\n"  // the German table's name, another case
         "[Symbols]\r\n"
         "XYZ-en-US = X$\r\n";
}

std::string Utf16(const std::string& utf8, bool bigEndian) {
  std::u16string wide = vtx::Utf8ToWide(utf8);
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t c : wide) {
    char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

std::string Utf8(const char16_t* text) { return text ? vtx::WideToUtf8(text) : "<null>"; }

std::vector<std::string> Codes(const CStringList<char>& list) {
  std::vector<std::string> out;
  for (const char* c : list) out.emplace_back(c);
  return out;
}

const CUpdateText* FindText(const CPointerList<CUpdateText>& list, LCID lcid, const char* code) {
  for (const CUpdateText* t : list)
    if (t->lcid == lcid && std::string(t->code.c_str()) == code) return t;
  return nullptr;
}

HRESULT LoadText(CUpdate& update, const std::string& text, const CAllCurrencies* db, CCurrencyLocaleList* locales,
                 const CUpdate* previous = nullptr, CStringList<char>* changed = nullptr, CStringA* next = nullptr,
                 uint32_t* line = nullptr) {
  return update.Load(text.data(), static_cast<uint32_t>(text.size()), db, locales, previous, changed, next, line);
}

const CurrencyData* Record(const CAllCurrencies& db, const char* code) {
  int32_t i = db.IFindCode(code);
  return i < 0 ? nullptr : db[static_cast<uint32_t>(i)];
}

}  // namespace

TEST_F(DefinitionsUpdate, LoadKeepsOnlyDifferencesInEveryEncoding) {
  CAllCurrencies db;
  ASSERT_EQ(db.Create(true), 1u);
  CCurrencyLocaleList locales;
  ASSERT_EQ(locales.Create(true), 0u);

  const struct {
    const char* what;
    std::string bytes;
  } encodings[] = {
      {"UTF-8 with its mark", "\xEF\xBB\xBF" + Fixture()},
      {"UTF-8 without a mark", Fixture()},
      {"the ANSI code page", vtx::Utf8ToAnsi(Fixture())},
      {"UTF-16LE with its mark", Utf16(Fixture(), false)},
      {"UTF-16BE with its mark", Utf16(Fixture(), true)},
  };
  for (const auto& e : encodings) {
    SCOPED_TRACE(e.what);
    CUpdate previous, update;
    CStringList<char> changed;
    CStringA next;
    uint32_t line = 99;
    ASSERT_EQ(LoadText(update, e.bytes, &db, &locales, &previous, &changed, &next, &line), S_OK);
    EXPECT_EQ(line, 0u);
    EXPECT_TRUE(update.IsLoaded());
    EXPECT_EQ(Utf8(update.GetMessage().c_str()), "First part\r\n\r\nSecond part");
    EXPECT_STREQ(next.c_str(), "http://example.test/page2.txt");

    EXPECT_EQ(update.FindRecord("DEM"), nullptr);
    EXPECT_EQ(update.FindRecord("ABCD"), nullptr);
    const CurrencyData* sit = update.FindRecord("sit");
    ASSERT_NE(sit, nullptr);
    EXPECT_EQ(sit->dRate, 239.64);
    EXPECT_EQ(sit->dwRateDecimals, 3u);
    EXPECT_EQ(sit->dwFlags, kUpdFixedRate | kUpdRegime | kCurrencyEuroArea);
    const CurrencyData* xyz = update.FindRecord("XYZ");
    ASSERT_NE(xyz, nullptr);
    EXPECT_EQ(xyz->dSmallest, 0.05);
    EXPECT_EQ(xyz->dwSmallestDecimals, 2u);
    EXPECT_EQ(xyz->dwNumericCode, 999u);
    EXPECT_EQ(xyz->dwFlags, kUpdSmallest | kUpdNumericCode | kUpdLegalTender | kUpdRegime | kUpdPhysical |
                                kCurrencyLegalTender | kCurrencyPeggedEuro);
    EXPECT_EQ(Codes(update.GetRemoved()), std::vector<std::string>{"DEM"});

    // "de-DE" has no row of its own: its language's row, German (1031).
    const CUpdateText* german = FindText(update.GetNames(), kGerman, "XYZ");
    ASSERT_NE(german, nullptr);
    EXPECT_EQ(Utf8(german->text), kGermanName);
    const CUpdateText* english = FindText(update.GetNames(), kEnglishUS, "XYZ");
    ASSERT_NE(english, nullptr);
    EXPECT_EQ(Utf8(english->text), "Xyz dollar");
    EXPECT_EQ(update.GetNames().GetCount(), 2u);
    ASSERT_EQ(update.GetSymbols().GetCount(), 1u);
    EXPECT_EQ(Utf8(FindText(update.GetSymbols(), kEnglishUS, "XYZ")->text), "X$");

    EXPECT_EQ(Codes(changed), (std::vector<std::string>{"SIT", "XYZ"}));
    CStringA text;
    ASSERT_TRUE(update.GetNewCurrencies(changed, text));
    EXPECT_STREQ(text.c_str(), "XYZ");
    ASSERT_TRUE(update.GetRemovedCurrencies(text));
    EXPECT_STREQ(text.c_str(), "DEM");
    ASSERT_TRUE(CUpdate::GetCurrencies(changed, text));
    EXPECT_STREQ(text.c_str(), "SIT, XYZ");
  }
}

TEST_F(DefinitionsUpdate, RefusedRowsNameTheirLine) {
  CAllCurrencies db;
  ASSERT_EQ(db.Create(true), 1u);
  const struct {
    const char* text;
    HRESULT hr;
  } cases[] = {
      {"[EUR]\r\nUSD = -1.5\r\n", E_INVALIDARG},
      {"[EUR]\r\nUSD = 1,5\r\n", S_OK},  // a ',' ends an unquoted value: "1"
      {"[EUR]\r\nUSD = abc\r\n", E_INVALIDARG},
      {"[Smallest]\r\nUSD = 0\r\n", E_INVALIDARG},
      {"[Smallest]\r\nUSD = -0.01\r\n", E_INVALIDARG},
      {"[NumericalCodes]\r\nUSD = 84O\r\n", E_INVALIDARG},
      {"[LegalTender]\r\nUSD = perhaps\r\n", E_INVALIDARG},
      {"[Names]\r\nUSD-xx-YY = Dollar\r\n", E_INVALIDARG},  // no such language
      {"[Names]\r\nUSD-de-DE-x = Dollar\r\n", S_OK},       // a longer tag of a known language
      {"[Names]\r\nUSD = de-DE\r\n", E_INVALIDARG},         // neither form
      {"[Symbols]\r\nUSD-de = a, b\r\n", E_INVALIDARG},
      {"[Remove]\r\nUSD = maybe\r\n", E_INVALIDDATA},  // the reader's own: not a number
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    CUpdate update;
    uint32_t line = 0;
    std::string text = std::string("; line 1\r\n") + c.text;
    EXPECT_EQ(LoadText(update, text, &db, nullptr, nullptr, nullptr, nullptr, &line), c.hr);
    EXPECT_EQ(line, c.hr == S_OK ? 0u : 3u);
  }

  // Text after a NUL would be loaded in part.
  CUpdate update;
  uint32_t line = 0;
  const char raw[] = "[EUR]\r\nUSD = 1.1\r\n\0[EUR]\r\nJPY = 2\r\n";
  const std::string nul(raw, sizeof raw - 1);
  EXPECT_EQ(LoadText(update, nul, &db, nullptr, nullptr, nullptr, nullptr, &line), E_INVALIDDATA);
  EXPECT_EQ(line, 3u);
  EXPECT_EQ(update.Load(nullptr, 0, &db, nullptr, nullptr, nullptr, nullptr, nullptr), E_POINTER);
}

TEST_F(DefinitionsUpdate, ChangedCodesLeaveOutWhatThePreviousUpdateDid) {
  CAllCurrencies db;
  ASSERT_EQ(db.Create(true), 1u);
  CUpdate previous;
  ASSERT_EQ(LoadText(previous, "[Regime]\r\nSIT = EMU\r\n[Names]\r\nSIT-de = Tolar neu\r\n", &db, nullptr), S_OK);

  CUpdate update;
  CStringList<char> changed;
  ASSERT_EQ(LoadText(update,
                     "[Regime]\r\nSIT = emu\r\n[Smallest]\r\nJPY = 5\r\n[Names]\r\nSIT-de-DE = TOLAR NEU\r\n"
                     "XYZ-de = Xyz\r\n",
                     &db, nullptr, &previous, &changed),
            S_OK);
  // Set again, but only JPY's unit and XYZ's name are news.
  EXPECT_NE(update.FindRecord("SIT"), nullptr);
  EXPECT_EQ(Codes(changed), (std::vector<std::string>{"JPY", "XYZ"}));
  CStringA text;
  ASSERT_TRUE(update.GetNewCurrencies(changed, text));
  EXPECT_TRUE(text.IsEmpty());  // a name alone makes no currency
}

TEST_F(DefinitionsUpdate, UpdateAppliesRecordsRemovalsAndNames) {
  CAllCurrencies reference;
  ASSERT_EQ(reference.Create(true), 1u);
  CUpdate update;
  ASSERT_EQ(LoadText(update, Fixture() + "[NumericalCodes]\r\nNEW = 1\r\n", &reference, nullptr), S_OK);

  CAllCurrencies one;
  ASSERT_EQ(one.Create(true), 1u);
  ASSERT_EQ(update.Update(one, "xyz"), S_OK);
  EXPECT_EQ(Record(one, "SIT")->dwFlags, 5u);
  EXPECT_NE(Record(one, "DEM"), nullptr);
  ASSERT_NE(Record(one, "XYZ"), nullptr);

  CAllCurrencies db;
  ASSERT_EQ(db.Create(true), 1u);
  ASSERT_EQ(update.Update(db, nullptr), S_OK);
  const CurrencyData* sit = Record(db, "SIT");
  EXPECT_EQ(sit->dRate, 239.64);
  EXPECT_EQ(sit->dwRateDecimals, 3u);
  EXPECT_EQ(sit->dwFlags, 7u);
  EXPECT_EQ(sit->dwNumericCode, 705u);
  const CurrencyData* xyz = Record(db, "XYZ");
  EXPECT_EQ(xyz->dwNumericCode, 999u);
  EXPECT_EQ(xyz->dSmallest, 0.05);
  EXPECT_EQ(xyz->dwFlags, 9u);
  EXPECT_EQ(xyz->dRate, 0.0);
  // A code the database lacks starts from the update's own defaults.
  const CurrencyData* fresh = Record(db, "NEW");
  EXPECT_EQ(fresh->dSmallest, 0.1);
  EXPECT_EQ(fresh->dwSmallestDecimals, 2u);
  EXPECT_EQ(fresh->dwFlags, 5u);
  EXPECT_EQ(fresh->dwNumericCode, 1u);
  EXPECT_EQ(Record(db, "DEM"), nullptr);
  EXPECT_NE(Record(db, "ITL"), nullptr);
  EXPECT_EQ(db.GetRemoveList().IFind("DEM"), 0);

  CCurrencyLocaleList locales;
  ASSERT_EQ(locales.Create(true), 0u);
  ASSERT_EQ(update.Update(locales, nullptr), S_OK);
  EXPECT_EQ(Utf8(locales.GetLocale(kGerman)->IFind("XYZ")->GetName()), kGermanName);
  EXPECT_EQ(Utf8(locales.GetLocale(kEnglishUS)->IFind("XYZ")->GetSymbol()), "X$");
  EXPECT_TRUE(locales.GetLocale(kGerman)->IFind("XYZ")->GetChanged());
}

TEST_F(SettingsTest, StoredUpdateRoundTripsAndReachesLoadedSettings) {
  CAllCurrencies db;
  ASSERT_EQ(db.Create(true), 1u);
  CCurrencyLocaleList locales;
  ASSERT_EQ(locales.Create(true), 0u);
  CUpdate update;
  ASSERT_EQ(LoadText(update, "\xEF\xBB\xBF" + Fixture(), &db, &locales), S_OK);
  ASSERT_EQ(update.Save(), S_OK);

  CUpdate back;
  ASSERT_EQ(back.Create(), S_OK);
  EXPECT_TRUE(back.IsLoaded());
  EXPECT_EQ(Utf8(back.GetMessage().c_str()), "First part\r\n\r\nSecond part");
  ASSERT_EQ(back.GetRecords().GetCount(), 2u);
  for (const char* code : {"SIT", "XYZ"}) {
    const CurrencyData* a = update.FindRecord(code);
    const CurrencyData* b = back.FindRecord(code);
    ASSERT_NE(b, nullptr) << code;
    EXPECT_EQ(0, std::memcmp(a, b, sizeof *a)) << code;
  }
  EXPECT_EQ(Codes(back.GetRemoved()), std::vector<std::string>{"DEM"});
  EXPECT_EQ(Utf8(FindText(back.GetNames(), kGerman, "XYZ")->text), kGermanName);
  EXPECT_EQ(Utf8(FindText(back.GetSymbols(), kEnglishUS, "XYZ")->text), "X$");
  CStringW key;
  ASSERT_TRUE(CUpdate::GetLangString(*FindText(back.GetNames(), kGerman, "XYZ"), key));
  EXPECT_EQ(Utf8(key.c_str()), "XYZ-de");

  // A German name the user stored stays; the update fills what the locales lack.
  {
    CCurrencyLocaleList stored;
    ASSERT_EQ(stored.Create(false), 0u);
    CCurrencyLocaleInfo* mine = stored.GetLocale(kEnglishUS)->AddLocaleInfo("XYZ");
    ASSERT_TRUE(mine->SetName(u"My Xyz"));
    ASSERT_EQ(stored.Save(), S_OK);
  }
  CSettings settings;
  ASSERT_TRUE(settings.Create(nullptr));
  const CAllCurrencies& loaded = settings.GetData()->Currencies;
  EXPECT_EQ(Record(loaded, "SIT")->dwFlags, 7u);
  EXPECT_EQ(Record(loaded, "XYZ")->dwNumericCode, 999u);
  EXPECT_EQ(Record(loaded, "DEM"), nullptr);
  CCurrencyLocaleList* list = settings.GetLocaleList();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(Utf8(list->GetLocale(kGerman)->IFind("XYZ")->GetName()), kGermanName);
  EXPECT_EQ(Utf8(list->GetLocale(kEnglishUS)->IFind("XYZ")->GetName()), "My Xyz");
  EXPECT_EQ(Utf8(list->GetLocale(kEnglishUS)->IFind("XYZ")->GetSymbol()), "X$");

  // The database finds the stored update itself: XYZ is new to it, not unknown.
  CAllCurrencies fresh;
  ASSERT_EQ(fresh.Create(true), 1u);
  CStringList<char> active;
  CurrencyInfo info{};
  std::strcpy(info.szCode, "XYZ");
  info.dRate = 2.5;
  ASSERT_TRUE(active.Add(&info, kListAppend, sizeof info));
  char *unknown = nullptr, *added = nullptr;
  uint32_t nUnknown = 9, nNew = 9;
  ASSERT_EQ(fresh.SetRates(active, nullptr, 0, &unknown, &nUnknown, &added, &nNew), S_OK);
  EXPECT_EQ(unknown, nullptr);
  ASSERT_NE(added, nullptr);
  EXPECT_STREQ(added, "XYZ");
  GlobalFree(added);
  EXPECT_EQ(Record(fresh, "XYZ")->dwNumericCode, 999u);

  ASSERT_EQ(back.Reset(), S_OK);
  EXPECT_FALSE(vtx::currency::KeyExists(vtx::currency::UpdateKeyPath()));
  ASSERT_EQ(back.Create(), S_OK);
  EXPECT_EQ(back.GetRecords().GetCount(), 0u);
  EXPECT_TRUE(back.IsLoaded());
}
