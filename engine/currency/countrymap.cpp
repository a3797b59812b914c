// The country table and the mappings of a country, an internet domain or a locale to a currency.
#include <cstring>
#include <string>
#include <vector>

#include "engine/currency/settings.h"
#include "engine/foundation/urlhost.h"
#include "platform/locale.h"

namespace {

struct CountryRow {
  char key[4];     // ISO 3166 alpha-2, or an extra key or domain word
  char alpha3[4];  // empty where there is none
  uint32_t numeric;  // 0 where there is none
  char currency[4];
};

// Searched in order; the first matching row answers.
const CountryRow kCountries[] = {
    {"AC", "", 0, "SHP"}, {"AD", "AND", 20, "EUR"}, {"AE", "ARE", 784, "AED"}, {"AF", "AFG", 4, "AFN"},
    {"AG", "ATG", 28, "XCD"}, {"AI", "AIA", 660, "XCD"}, {"AL", "ALB", 8, "ALL"}, {"AM", "ARM", 51, "AMD"},
    {"AN", "ANT", 530, "ANG"}, {"AO", "AGO", 24, "AOA"}, {"AR", "ARG", 32, "ARS"}, {"AS", "ASM", 16, "USD"},
    {"AT", "AUT", 40, "EUR"}, {"AU", "AUS", 36, "AUD"}, {"AW", "ABW", 533, "AWG"}, {"AX", "", 0, "EUR"},
    {"AZ", "AZE", 31, "AZM"}, {"BA", "BIH", 70, "EUR"}, {"BB", "BRB", 52, "BBD"}, {"BD", "BGD", 50, "BDT"},
    {"BE", "BEL", 56, "EUR"}, {"BF", "BFA", 854, "XOF"}, {"BG", "BGR", 100, "BGN"}, {"BH", "BHR", 48, "BHD"},
    {"BI", "BDI", 108, "BIF"}, {"BJ", "BEN", 204, "XOF"}, {"BM", "BMU", 60, "BMD"}, {"BN", "BRN", 96, "BND"},
    {"BO", "BOL", 68, "BOB"}, {"BR", "BRA", 76, "BRL"}, {"BS", "BHS", 44, "BSD"}, {"BT", "BTN", 64, "BTN"},
    {"BU", "", 0, "MMK"}, {"BV", "BVT", 74, "NOK"}, {"BW", "BWA", 72, "BWP"}, {"BY", "BLR", 112, "BYR"},
    {"BZ", "BLZ", 84, "BZD"}, {"CA", "CAN", 124, "CAD"}, {"CC", "CCK", 166, "AUD"}, {"CD", "COD", 180, "CDF"},
    {"CF", "CAF", 140, "XAF"}, {"CG", "COG", 178, "XAF"}, {"CH", "CHE", 756, "CHF"}, {"CI", "CIV", 384, "XOF"},
    {"CK", "COK", 184, "NZD"}, {"CL", "CHL", 152, "CLP"}, {"CM", "CMR", 120, "XAF"}, {"CN", "CHN", 156, "CNY"},
    {"CO", "COL", 170, "COP"}, {"CP", "", 0, "XPF"}, {"CR", "CRI", 188, "CRC"}, {"CS", "SCG", 891, "CSD"},
    {"CT", "", 0, "AUD"}, {"CU", "CUB", 192, "CUP"}, {"CV", "CPV", 132, "CVE"}, {"CX", "CXR", 162, "AUD"},
    {"CY", "CYP", 196, "CYP"}, {"CZ", "CZE", 203, "CZK"}, {"DD", "", 0, "EUR"}, {"DE", "DEU", 276, "EUR"},
    {"DJ", "DJI", 262, "DJF"}, {"DG", "", 0, "USD"}, {"DK", "DNK", 208, "DKK"}, {"DM", "DMA", 212, "XCD"},
    {"DO", "DOM", 214, "DOP"}, {"DY", "", 0, "XOF"}, {"DZ", "DZA", 12, "DZD"}, {"EA", "", 0, "EUR"},
    {"EC", "ECU", 218, "USD"}, {"EE", "EST", 233, "EEK"}, {"EG", "EGY", 818, "EGP"}, {"EH", "ESH", 732, "MAD"},
    {"ER", "ERI", 232, "ERN"}, {"ES", "ESP", 724, "EUR"}, {"ET", "ETH", 231, "ETB"}, {"FI", "FIN", 246, "EUR"},
    {"FJ", "FJI", 242, "FJD"}, {"FK", "FLK", 238, "FKP"}, {"FM", "FSM", 583, "USD"}, {"FO", "FRO", 234, "DKK"},
    {"FR", "FRA", 250, "EUR"}, {"FX", "FXX", 249, "EUR"}, {"GA", "GAB", 266, "XAF"}, {"GB", "GBR", 826, "GBP"},
    {"GD", "GRD", 308, "XCD"}, {"GE", "GEO", 268, "GEL"}, {"GF", "GUF", 254, "EUR"}, {"GG", "", 0, "GBP"},
    {"GH", "GHA", 288, "GHC"}, {"GI", "GIB", 292, "GIP"}, {"GL", "GRL", 304, "DKK"}, {"GM", "GMB", 270, "GMD"},
    {"GN", "GIN", 324, "GNF"}, {"GP", "GLP", 312, "EUR"}, {"GQ", "GNQ", 226, "XAF"}, {"GR", "GRC", 300, "EUR"},
    {"GS", "SGS", 239, "GBP"}, {"GT", "GTM", 320, "GTQ"}, {"GU", "GUM", 316, "USD"}, {"GW", "GNB", 624, "XOF"},
    {"GY", "GUY", 328, "GYD"}, {"HK", "HKG", 344, "HKD"}, {"HM", "HMD", 334, "AUD"}, {"HN", "HND", 340, "HNL"},
    {"HR", "HRV", 191, "HRK"}, {"HT", "HTI", 332, "HTG"}, {"HU", "HUN", 348, "HUF"}, {"HV", "", 0, "XOF"},
    {"IC", "", 0, "EUR"}, {"ID", "IDN", 360, "IDR"}, {"IE", "IRL", 372, "EUR"}, {"IL", "ISR", 376, "ILS"},
    {"IM", "", 0, "GBP"}, {"IN", "IND", 356, "INR"}, {"IO", "IOT", 86, "USD"}, {"IQ", "IRQ", 368, "IQD"},
    {"IR", "IRN", 364, "IRR"}, {"IS", "ISL", 352, "ISK"}, {"IT", "ITA", 380, "EUR"}, {"JE", "", 0, "GBP"},
    {"JM", "JAM", 388, "JMD"}, {"JO", "JOR", 400, "JOD"}, {"JP", "JPN", 392, "JPY"}, {"JT", "", 0, "USD"},
    {"KE", "KEN", 404, "KES"}, {"KG", "KGZ", 417, "KGS"}, {"KH", "KHM", 116, "KHR"}, {"KI", "KIR", 296, "AUD"},
    {"KM", "COM", 174, "KMF"}, {"KN", "KNA", 659, "XCD"}, {"KP", "PRK", 408, "KPW"}, {"KR", "KOR", 410, "KRW"},
    {"KW", "KWT", 414, "KWD"}, {"KY", "CYM", 136, "KYD"}, {"KZ", "KAZ", 398, "KZT"}, {"LA", "LAO", 418, "LAK"},
    {"LB", "LBN", 422, "LBP"}, {"LC", "LCA", 662, "XCD"}, {"LI", "LIE", 438, "CHF"}, {"LK", "LKA", 144, "LKR"},
    {"LR", "LBR", 430, "LRD"}, {"LS", "LSO", 426, "LSL"}, {"LT", "LTU", 440, "LTL"}, {"LU", "LUX", 442, "EUR"},
    {"LV", "LVA", 428, "LVL"}, {"LY", "LBY", 434, "LYD"}, {"MA", "MAR", 504, "MAD"}, {"MC", "MCO", 492, "EUR"},
    {"MD", "MDA", 498, "MDL"}, {"MG", "MDG", 450, "MGA"}, {"MH", "MHL", 584, "USD"}, {"MI", "", 0, "USD"},
    {"MK", "MKD", 807, "MKD"}, {"ML", "MLI", 466, "XOF"}, {"MM", "MMR", 104, "MMK"}, {"MN", "MNG", 496, "MNT"},
    {"MO", "MAC", 446, "MOP"}, {"MP", "MNP", 580, "USD"}, {"MQ", "MTQ", 474, "EUR"}, {"MR", "MRT", 478, "MRO"},
    {"MS", "MSR", 500, "XCD"}, {"MT", "MLT", 470, "MTL"}, {"MU", "MUS", 480, "MUR"}, {"MV", "MDV", 462, "MVR"},
    {"MW", "MWI", 454, "MWK"}, {"MX", "MEX", 484, "MXN"}, {"MY", "MYS", 458, "MYR"}, {"MZ", "MOZ", 508, "MZM"},
    {"NA", "NAM", 516, "NAD"}, {"NC", "NCL", 540, "XPF"}, {"NE", "NER", 562, "XOF"}, {"NF", "NFK", 574, "AUD"},
    {"NG", "NGA", 566, "NGN"}, {"NI", "NIC", 558, "NIO"}, {"NH", "", 0, "VUV"}, {"NL", "NLD", 528, "EUR"},
    {"NO", "NOR", 578, "NOK"}, {"NP", "NPL", 524, "NPR"}, {"NR", "NRU", 520, "AUD"}, {"NU", "NIU", 570, "NZD"},
    {"NZ", "NZL", 554, "NZD"}, {"OM", "OMN", 512, "OMR"}, {"PA", "PAN", 591, "PAB"}, {"PE", "PER", 604, "PEN"},
    {"PF", "PYF", 258, "XPF"}, {"PG", "PNG", 598, "PGK"}, {"PH", "PHL", 608, "PHP"}, {"PK", "PAK", 586, "PKR"},
    {"PL", "POL", 616, "PLN"}, {"PM", "SPM", 666, "EUR"}, {"PN", "PCN", 612, "NZD"}, {"PR", "PRI", 630, "USD"},
    {"PT", "PRT", 620, "EUR"}, {"PU", "", 0, "USD"}, {"PW", "PLW", 585, "USD"}, {"PY", "PRY", 600, "PYG"},
    {"PZ", "", 0, "PAB"}, {"QA", "QAT", 634, "QAR"}, {"RE", "REU", 638, "EUR"}, {"RH", "", 0, "ZWD"},
    {"RO", "ROU", 642, "ROL"}, {"RU", "RUS", 643, "RUB"}, {"RW", "RWA", 646, "RWF"}, {"SA", "SAU", 682, "SAR"},
    {"SB", "SLB", 90, "SBD"}, {"SC", "SYC", 690, "SCR"}, {"SD", "SDN", 736, "SDD"}, {"SE", "SWE", 752, "SEK"},
    {"SF", "", 0, "EUR"}, {"SG", "SGP", 702, "SGD"}, {"SH", "SHN", 654, "SHP"}, {"SI", "SVN", 705, "SIT"},
    {"SJ", "SJM", 744, "NOK"}, {"SK", "SVK", 703, "SKK"}, {"SL", "SLE", 694, "SLL"}, {"SM", "SMR", 674, "EUR"},
    {"SN", "SEN", 686, "XOF"}, {"SO", "SOM", 706, "SOS"}, {"SR", "SUR", 740, "SRD"}, {"ST", "STP", 678, "STD"},
    {"SV", "SLV", 222, "USD"}, {"SY", "SYR", 760, "SYP"}, {"SZ", "SWZ", 748, "SZL"}, {"TA", "", 0, "SHP"},
    {"TC", "TCA", 796, "USD"}, {"TD", "TCD", 148, "XAF"}, {"TF", "ATF", 260, "EUR"}, {"TG", "TGO", 768, "XOF"},
    {"TH", "THA", 764, "THB"}, {"TJ", "TJK", 762, "TJS"}, {"TK", "TKL", 772, "NZD"}, {"TL", "TLS", 626, "USD"},
    {"TM", "TKM", 795, "TMM"}, {"TN", "TUN", 788, "TND"}, {"TO", "TON", 776, "TOP"}, {"TP", "", 0, "USD"},
    {"TR", "TUR", 792, "TRY"}, {"TT", "TTO", 780, "TTD"}, {"TV", "TUV", 798, "AUD"}, {"TW", "TWN", 158, "TWD"},
    {"TZ", "TZA", 834, "TZS"}, {"UA", "UKR", 804, "UAH"}, {"UE", "", 0, "VEB"}, {"UG", "UGA", 800, "UGX"},
    {"UM", "UMI", 581, "USD"}, {"US", "USA", 840, "USD"}, {"UY", "URY", 858, "UYU"}, {"UZ", "UZB", 860, "UZS"},
    {"VA", "VAT", 336, "EUR"}, {"VC", "VCT", 670, "XCD"}, {"VD", "", 0, "VND"}, {"VE", "VEN", 862, "VEB"},
    {"VG", "VGB", 92, "USD"}, {"VI", "VIR", 850, "USD"}, {"VN", "VNM", 704, "VND"}, {"VU", "VUT", 548, "VUV"},
    {"WF", "WLF", 876, "XPF"}, {"WK", "", 0, "USD"}, {"WS", "WSM", 882, "WST"}, {"YD", "", 0, "YER"},
    {"YE", "YEM", 887, "YER"}, {"YT", "MYT", 175, "EUR"}, {"YU", "YUG", 891, "CSD"}, {"ZA", "ZAF", 710, "ZAR"},
    {"ZM", "ZMB", 894, "ZMK"}, {"ZR", "", 0, "CDF"}, {"ZW", "ZWE", 716, "ZWD"}, {"UK", "", 0, "GBP"},
    {"EU", "", 0, "EUR"}, {"GOV", "", 0, "USD"}, {"MIL", "", 0, "USD"},
};
static_assert(sizeof kCountries / sizeof kCountries[0] == 271, "the country table has 271 rows");

enum class Kind { None, Key, Alpha3, Numeric };

bool IsActive(const CSettingsData& data, const char* code) {
  return data.IFind(code) >= 0 || data.IFind(data.GetCurrencyName(code)) >= 0;
}

// Steps 4 to 6: the default locale's currency, else the first active one, else nothing.
void Fallback(CSettings& settings, bool activeOnly, std::string& answer) {
  CSettingsData* data = settings.GetData();
  if (answer.empty()) {
    if (CCurrencyLocaleList* list = settings.GetLocaleList()) {
      char symbol[101] = "";
      if (GetLocaleInfoA(list->GetDefaultLocale(), LOCALE_SINTLSYMBOL, symbol, sizeof symbol) > 0) {
        symbol[3] = 0;
        if (*symbol && (!activeOnly || IsActive(*data, symbol))) answer = symbol;
      }
    }
  }
  if (answer.empty() && settings.GetRates().Active.GetCount()) answer = settings.GetRates()[0]->szCode;
}

void WriteAnswer(const std::string& answer, char* output) {
  size_t n = answer.size() < 3 ? answer.size() : 3;
  std::memcpy(output, answer.data(), n);
  output[n] = 0;
}

}  // namespace

void CSettings::DoCountryToCurrency(const char* text, bool activeOnly, bool domainMode, char* output) {
  if (!text || !output) return;
  output[0] = 0;
  if (!m_data) return;
  const size_t length = std::strlen(text);
  Kind kind = Kind::None;
  uint32_t number = 0;
  if (domainMode) {
    kind = Kind::Key;
  } else if (*text >= '0' && *text <= '9') {
    // Decimal whatever the leading zeros: "040" is Austria, not an octal number.
    kind = Kind::Numeric;
    for (const char* p = text; *p >= '0' && *p <= '9' && number <= 0xFFFFFFF; ++p) number = number * 10 + (*p - '0');
  } else if (length == 2) {
    kind = Kind::Key;
  } else if (length == 3) {
    kind = Kind::Alpha3;
  }
  std::string answer;
  for (const CountryRow& row : kCountries) {
    bool match = false;
    switch (kind) {
      case Kind::Key: match = _stricmp(row.key, text) == 0; break;
      case Kind::Alpha3: match = row.alpha3[0] && _stricmp(row.alpha3, text) == 0; break;
      case Kind::Numeric: match = row.numeric != 0 && row.numeric == number; break;
      case Kind::None: break;
    }
    if (!match) continue;
    if (!activeOnly || m_data->IFind(row.currency) >= 0) answer = row.currency;
    break;
  }
  if (answer.empty() && length >= 2) {
    for (uint32_t i = 0; i < GetRates().Active.GetCount(); ++i) {
      const char* code = GetRates()[i]->szCode;
      if (_strnicmp(code, text, 2) == 0) {
        answer = code;
        break;
      }
    }
  }
  Fallback(*this, activeOnly, answer);
  WriteAnswer(answer, output);
}

HRESULT CSettings::CountryToCurrency(const char* country, bool activeOnly, char* output) {
  if (!country || !output) return E_INVALIDARG;
  DoCountryToCurrency(country, activeOnly, false, output);
  return S_OK;
}

HRESULT CSettings::DomainToCurrency(const char* domain, bool activeOnly, char* output) {
  if (!domain || !output) return E_INVALIDARG;
  std::vector<char> host;
  try {
    host.resize(std::strlen(domain) + 1);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = GetUrlHostName(domain, host.data(), static_cast<DWORD>(host.size()));
  if (FAILED(hr)) return hr;
  if (!host[0]) return E_INVALIDARG;
  const char* dot = std::strrchr(host.data(), '.');
  DoCountryToCurrency(dot ? dot + 1 : host.data(), activeOnly, true, output);
  return S_OK;
}

HRESULT CSettings::LocaleToCurrency(LCID lcid, bool activeOnly, char* output) {
  if (!output) return E_INVALIDARG;
  output[0] = 0;
  if (!m_data) return E_UNEXPECTED;
  std::string answer;
  if (lcid & 0x3FF) {
    char symbol[101] = "";
    if (GetLocaleInfoA(lcid, LOCALE_SINTLSYMBOL, symbol, sizeof symbol) > 0) {
      symbol[3] = 0;
      if (*symbol && (!activeOnly || m_data->IFind(symbol) >= 0)) answer = symbol;
    }
  }
  Fallback(*this, activeOnly, answer);
  WriteAnswer(answer, output);
  return S_OK;
}
