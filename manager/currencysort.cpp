#include "manager/currencysort.h"

#include "platform/codepage.h"

namespace vtx::manager {

namespace {

int Codes(const char* a, const char* b) { return _stricmp(a ? a : "", b ? b : ""); }

int Names(const char16_t* a, const char16_t* b) {
  int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a ? a : u"", -1, b ? b : u"", -1);
  return r == 0 ? 0 : r - CSTR_EQUAL;
}

template <class T>
int Order(T a, T b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

bool Missing(const char16_t* text) { return !text || !*text; }

}  // namespace

int CompareCurrencyRows(const CurrencyRowKey& a, const CurrencyRowKey& b, int column, bool descending) {
  int r = 0;
  switch (column) {
    case 1:
      r = Names(a.name, b.name);
      break;
    case 2:
      r = a.hasValue != b.hasValue ? (a.hasValue ? -1 : 1) : a.hasValue ? Order(a.value, b.value) : 0;
      break;
    case 3:
      r = Order(a.servers, b.servers);
      break;
    case 4:
      r = Order(a.hits, b.hits);
      break;
    case 5:
      r = Order(a.warning, b.warning);
      break;
    default:
      break;
  }
  if (r == 0) r = Codes(a.code, b.code);
  return descending ? -r : r;
}

int CompareDatabaseRows(const DatabaseRowKey& a, const DatabaseRowKey& b, int column, bool descending) {
  int r = 0;
  switch (column) {
    case 1:
      r = Names(a.name, b.name);
      break;
    case 2:
      r = Order(a.regime, b.regime);
      break;
    case 3:
      r = Order(a.legalTender, b.legalTender);
      break;
    case 4:
      r = Order(a.active, b.active);
      break;
    default:
      break;
  }
  if (r == 0) r = Codes(a.code, b.code);
  return descending ? -r : r;
}

int CompareLocaleRows(const LocaleRowKey& a, const LocaleRowKey& b, int column, bool descending) {
  int r = 0;
  if (column == 1) {
    int c = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.name ? a.name : "", -1, b.name ? b.name : "", -1);
    r = c == 0 ? 0 : c - CSTR_EQUAL;
  }
  if (r == 0) r = Order(a.lcid, b.lcid);
  return descending ? -r : r;
}

int CompareLocaleInfoRows(const LocaleInfoRowKey& a, const LocaleInfoRowKey& b, int column, bool descending) {
  int r = 0;
  auto texts = [&r](const char16_t* x, const char16_t* y) {
    r = Missing(x) != Missing(y) ? (Missing(x) ? -1 : 1) : Missing(x) ? 0 : Names(x, y);
  };
  switch (column) {
    case 0:
      r = Codes(a.code, b.code);
      break;
    case 1:
      texts(a.name, b.name);
      break;
    case 2:
      texts(a.symbol, b.symbol);
      break;
    case 3:
      texts(a.custom, b.custom);
      break;
    case 4:
      r = Order(a.active, b.active);
      break;
    default:
      break;
  }
  if (descending) r = -r;
  return r != 0 ? r : Codes(a.code, b.code);
}

}  // namespace vtx::manager
