// The keypad: sequences of keys as a user types them, and the displays they leave.
#include <gtest/gtest.h>

#include <string>

#include "engine/foundation/calculator.h"

namespace {

// Types a sequence: digits, '.', operators + - / * r (square root) & | ^ < >, '=' (E: repeat),
// '%', 'n' (change sign), 'b' (backspace), 'c' (clear), 'C' (clear all).
void Keys(CCalculator& c, const std::string& keys) {
  for (char k : keys) {
    switch (k) {
      case '.': c.AddDot(); break;
      case '+': c.SimpleOperation(CCalculator::OpAdd); break;
      case '-': c.SimpleOperation(CCalculator::OpSubtract); break;
      case '/': c.SimpleOperation(CCalculator::OpDivide); break;
      case '*': c.SimpleOperation(CCalculator::OpMultiply); break;
      case 'r': c.SimpleOperation(CCalculator::OpSquareRoot); break;
      case '&': c.SimpleOperation(CCalculator::OpAnd); break;
      case '|': c.SimpleOperation(CCalculator::OpOr); break;
      case '^': c.SimpleOperation(CCalculator::OpXor); break;
      case '<': c.SimpleOperation(CCalculator::OpShiftLeft); break;
      case '>': c.SimpleOperation(CCalculator::OpShiftRight); break;
      case '=': c.Equal(false); break;
      case 'E': c.Equal(true); break;
      case '%': c.Percent(); break;
      case 'n': c.ChangeSign(); break;
      case 'b': c.Backspace(); break;
      case 'c': c.Clear(); break;
      case 'C': c.ClearAll(); break;
      default:
        c.AddDigit(static_cast<uint32_t>(k >= 'A' ? k - 'A' + 10 : k - '0'));
    }
  }
}

std::string After(const std::string& keys, uint32_t base = 10) {
  CCalculator c;
  c.SetRounding(false);
  if (base != 10) c.SetBase(base);
  Keys(c, keys);
  return c.DisplayText();
}

}  // namespace

TEST(CalculatorKeys, Sequences) {
  const struct {
    const char* keys;
    uint32_t base;
    const char* display;
  } cases[] = {
      {"12+3=", 10, "15"},
      {"12+3=E", 10, "18"},       // a repeated "=" adds 3 again
      {"2+3*4=", 10, "20"},       // left to right
      {"8/=", 10, "1"},           // nothing entered after "/": 8 / 8, not the square root of 8
      {"9r=", 10, "3"},
      {"1.5*2=", 10, "3"},
      {"7/0=", 10, "- E -"},
      {"200+10%", 10, "20"},      // 10 percent of 200
      {"50*10%", 10, "0.1"},
      {"12bb3", 10, "3"},
      {"123b", 10, "12"},
      {"5n", 10, "-5"},
      {"5nn", 10, "5"},
      {"1..2", 10, "1.2"},        // a second point is refused
      {"FF&F=", 16, "F"},
      {"F0|F=", 16, "FF"},
      {"1<4=", 16, "10"},
      {"123456789", 16, "12345678"},  // 8 digits are all a 32-bit pattern holds
      {"2", 2, "0"},              // not a digit of the base
      {"12+3c4=", 10, "16"},      // clear takes back the 3 only
      {"12+3C", 10, "0"},
  };
  for (const auto& k : cases) EXPECT_EQ(After(k.keys, k.base), k.display) << k.keys << " base " << k.base;
}

TEST(CalculatorKeys, ErrorsDropThePendingOperation) {
  CCalculator c;
  c.SetRounding(false);
  Keys(c, "4/0=");
  EXPECT_TRUE(c.IsError());
  EXPECT_FALSE(c.HasPendingOperation());
  EXPECT_FALSE(c.Equal(true)) << "no repeat after an error";
  Keys(c, "3+1=");
  EXPECT_STREQ(c.DisplayText(), "4");
  c.Constant(-4);
  EXPECT_TRUE(c.SquareRoot());
  EXPECT_TRUE(c.IsError());
  c.Constant(0);
  EXPECT_TRUE(c.Reciprocal());
  EXPECT_TRUE(c.IsError());
  EXPECT_EQ(c.Evaluate(1, 99, 2), 0.0) << "an unknown operator";
  EXPECT_STREQ(c.DisplayText(), "0");
}

TEST(CalculatorKeys, OneOperandKeysAndMemory) {
  CCalculator c;
  c.SetRounding(false);
  c.Constant(4);
  EXPECT_TRUE(c.Reciprocal());
  EXPECT_STREQ(c.DisplayText(), "0.25");
  EXPECT_TRUE(c.Square());
  EXPECT_STREQ(c.DisplayText(), "0.0625");
  EXPECT_TRUE(c.DivideBy(0.0625));
  EXPECT_STREQ(c.DisplayText(), "1");
  EXPECT_TRUE(c.MultiplyBy(-3));
  EXPECT_STREQ(c.DisplayText(), "-3");

  EXPECT_TRUE(c.SetMemory(2.5, "a label longer than fifteen"));
  EXPECT_TRUE(c.HasMemory());
  EXPECT_STREQ(c.GetMemoryLabel(), "a label longer ");
  EXPECT_FALSE(c.SetMemory(3, nullptr)) << "non-zero to non-zero";
  EXPECT_TRUE(c.SetMemory(0, nullptr));

  CCalculator hex;
  hex.SetBase(16);
  hex.Constant(0);
  EXPECT_TRUE(hex.Not());
  EXPECT_STREQ(hex.DisplayText(), "FFFFFFFF");
  EXPECT_EQ(hex.Value(), -1.0) << "the pattern of -1";
}

TEST(CalculatorKeys, ClearAnswersWhetherTheDisplayChanged) {
  CCalculator c;
  EXPECT_FALSE(c.Clear());
  EXPECT_FALSE(c.ClearAll());
  EXPECT_TRUE(c.IsZeroDisplay());
  c.AddDigit(0);
  EXPECT_FALSE(c.IsZeroDisplay()) << "an entered 0 is a value";
  EXPECT_TRUE(c.Clear());
  c.AddDigit(7);
  EXPECT_TRUE(c.ClearAll());
  EXPECT_STREQ(c.DisplayText(), "0");
}

TEST(CalculatorKeys, SetDisplayValueExConvertsTheOperands) {
  CCalculator c;
  c.SetRounding(false);
  Keys(c, "10+");
  c.SetDisplayValueEx(20, [](double v, double a, double, double) { return v * a; }, 2, 0, 0);
  Keys(c, "=");
  EXPECT_STREQ(c.DisplayText(), "40") << "the pending 10 became 20, then 20 + 20";
}
