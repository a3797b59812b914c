// Amounts in a currency locale's format: the separators the formatting takes, the orders, and every
// digit kept.
#include <gtest/gtest.h>

#include <string>

#include "engine/currency/currencylocale.h"
#include "platform/codepage.h"
#include "platform/errors.h"

namespace {

std::string Utf8(const std::u16string& text) { return vtx::WideToUtf8(text.c_str()); }

// "123456789.1" with one digit, grouping 3 and the two separators, as the locale dialog checks them.
std::string WithSeparators(std::u16string decimal, std::u16string thousand) {
  CURRENCYFMTW f{1, 1, 3, decimal.data(), thousand.data(), 1, 0, const_cast<char16_t*>(u"")};
  char16_t out[80];
  int n = GetCurrencyFormatU(LOCALE_SYSTEM_DEFAULT, 0, u"123456789.1", &f, out, 80);
  return n ? Utf8(out) : "<refused>";
}

TEST(CurrencyFormat, SeparatorsThatCanBeFormattedWith) {
  struct Case {
    std::u16string decimal, thousand;
    const char* result;
  } cases[] = {
      {u".", u",", "123,456,789.1"},
      {u",", u"", "123456789,1"},
      {u"dec", u"'", "123'456'789dec1"},
      {u"\u066b", u"\u066c", "123\xd9\xac" "456\xd9\xac" "789\xd9\xab" "1"},  // Arabic separators are no digits
      {u" ", u"\u00a0", "123\xc2\xa0" "456\xc2\xa0" "789 1"},
      {u"", u",", "<refused>"},       // a decimal separator is needed
      {u"....", u",", "<refused>"},   // 4 characters
      {u".", u",,,,", "<refused>"},
      {u"1", u",", "<refused>"},      // a digit
      {u".", u"0", "<refused>"},
      {u".", u"\u0663", "<refused>"},  // any script's digits
      {u"\t", u",", "<refused>"},     // a control character
      {u".", u"\n", "<refused>"},
      {u".", u"\u0085", "<refused>"},
  };
  for (const Case& c : cases) EXPECT_EQ(WithSeparators(c.decimal, c.thousand), c.result) << Utf8(c.decimal);
  char16_t out[80];
  CURRENCYFMTW f{1, 1, 3, const_cast<char16_t*>(u"1"), const_cast<char16_t*>(u","), 1, 0, const_cast<char16_t*>(u"")};
  EXPECT_EQ(GetCurrencyFormatU(LOCALE_SYSTEM_DEFAULT, 0, u"1.5", &f, out, 80), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// A locale with '.' grouping, ',' decimals and the symbol after the amount, unless a test sets more.
struct Locale {
  CCurrencyLocale l{1031};
  Locale() {
    l.SetDecimalSeparator(u",");
    l.SetThousandSeparator(u".");
    l.SetGrouping(3);
    l.SetDigitsAfterDecimal(2);
    l.SetPositiveSymFmt(3);
    l.SetNegativeSymFmt(8);
    l.SetPositiveIsoFmt(2);
    l.SetNegativeIsoFmt(12);
    l.ResetList();
  }
  std::string Print(const char* number, const char* code, uint32_t flags, int size = 200) const {
    char16_t out[200];
    int n = l.PrintCurrencyValue(number, code, nullptr, nullptr, out, size, flags);
    return n ? Utf8(out) : "<0>";
  }
};

TEST(CurrencyFormat, AmountsInTheLocalesOrders) {
  Locale de;
  constexpr uint32_t S = CCurrencyLocale::kPrintSymbol, A = CCurrencyLocale::kPrintAscii;
  EXPECT_EQ(de.Print("1234.5", "EUR", S), "1.234,50 \xe2\x82\xac");
  EXPECT_EQ(de.Print("1234.5", nullptr, S), "1.234,50");
  EXPECT_EQ(de.Print("-1234.5", nullptr, S), "-1.234,50");
  EXPECT_EQ(de.Print("-1234.5", "EUR", S), "-1.234,50 \xe2\x82\xac");
  EXPECT_EQ(de.Print("1234.5", "EUR", 0), "EUR 1.234,50");
  EXPECT_EQ(de.Print("-1234.5", "EUR", 0), "EUR -1.234,50");
  EXPECT_EQ(de.Print("1234.5", "QQQ", S), "1.234,50 QQQ");  // no symbol of its own: the code
  EXPECT_EQ(de.Print("0.995", nullptr, S), "1,00");
  EXPECT_EQ(de.Print("1234.5", "EUR", S | A), "1.234,50 &#8364;");
  EXPECT_EQ(de.Print("1234.5", "EUR", S | A, 16), "<0>");
  EXPECT_EQ(de.Print("1234.5", "EUR", S | A, 17), "1.234,50 &#8364;");
  EXPECT_EQ(de.Print("1234.5", "EUR", S, 10), "<0>");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(de.Print("12e5", "EUR", S), "<0>");
  EXPECT_EQ(de.Print(nullptr, "EUR", S), "<0>");
}

TEST(CurrencyFormat, EveryDigitKept) {
  constexpr uint32_t S = CCurrencyLocale::kPrintSymbol, K = CCurrencyLocale::kPrintAllDigits;
  Locale de;
  EXPECT_EQ(de.Print("1.23456", "EUR", S | K), "1,23456 \xe2\x82\xac");
  // No rounding into the integer part, and the symbol after the amount stays.
  EXPECT_EQ(de.Print("1.96", "EUR", S | K), "1,96 \xe2\x82\xac");
  EXPECT_EQ(de.Print("9.96", "EUR", S | K), "9,96 \xe2\x82\xac");
  EXPECT_EQ(de.Print("1234567.000001", nullptr, S | K), "1.234.567,000001");
  // The sign after the amount and the closing parenthesis stay.
  de.l.SetNegativeSymFmt(3);
  EXPECT_EQ(de.Print("-1234.5", "EUR", S | K), "\xe2\x82\xac" "1.234,5-");
  de.l.SetNegativeSymFmt(0);
  EXPECT_EQ(de.Print("-1234.5", "EUR", S | K), "(\xe2\x82\xac" "1.234,5)");
  EXPECT_EQ(de.Print("-0.25", nullptr, S | K), "(0,25)");
  // No fraction without a '.'.
  EXPECT_EQ(de.Print("123", "EUR", S | K), "123 \xe2\x82\xac");
  EXPECT_EQ(de.Print("1.2x", "EUR", S | K), "<0>");

  // A symbol holding the decimal separator, before the amount.
  Locale kr;
  kr.l.SetDecimalSeparator(u".");
  kr.l.SetThousandSeparator(u",");
  kr.l.SetPositiveSymFmt(2);
  kr.l.IFind("DKK")->SetSymbol(u"kr.");
  EXPECT_EQ(kr.Print("1234.5678", "DKK", S | K), "kr. 1,234.5678");
  EXPECT_EQ(kr.Print("1234.5678", "DKK", S), "kr. 1,234.57");
  EXPECT_EQ(kr.Print("1234.5678", "DKK", S | K, 14), "<0>");
  EXPECT_EQ(kr.Print("1234.5678", "DKK", S | K, 15), "kr. 1,234.5678");
}

}  // namespace
