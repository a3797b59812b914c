#include "platform/numtext.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/text.h"

namespace {

template <class T>
class NumText : public ::testing::Test {};
using Widths = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(NumText, Widths);

TYPED_TEST(NumText, SignedParsing) {
  using T = TypeParam;
  struct {
    const char* text;
    int radix;
    int32_t value;
    size_t consumed;
    bool overflow;
  } cases[] = {
      {"  42xyz", 10, 42, 4, false},   {"-17", 10, -17, 3, false},          {"0x1A", 0, 26, 4, false},
      {"017", 0, 15, 3, false},        {"0x", 0, 0, 1, false},              {"+9", 10, 9, 2, false},
      {"2147483647", 10, INT32_MAX, 10, false}, {"2147483648", 10, INT32_MAX, 10, true},
      {"-2147483648", 10, INT32_MIN, 11, false}, {"-2147483649", 10, INT32_MIN, 11, true},
      {"99999999999999999999", 10, INT32_MAX, 20, true}, {"abc", 10, 0, 0, false}, {"ff", 16, 255, 2, false},
      {"0xffffffff", 16, INT32_MAX, 10, true},
  };
  for (const auto& c : cases) {
    auto text = vtxtest::Str<T>(c.text);
    const T* end = nullptr;
    vtx::ParseResult info;
    int32_t v = vtx::TextToSigned(text.c_str(), &end, c.radix, &info);
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(static_cast<size_t>(end - text.c_str()), c.consumed) << c.text;
    EXPECT_EQ(info.overflow, c.overflow) << c.text;
  }
}

TYPED_TEST(NumText, UnsignedParsing) {
  using T = TypeParam;
  struct {
    const char* text;
    int radix;
    uint32_t value;
    bool overflow;
  } cases[] = {{"4294967295", 10, 0xFFFFFFFFu, false}, {"4294967296", 10, 0xFFFFFFFFu, true},
               {"-1", 10, 0xFFFFFFFFu, false},        {"-5", 10, 0xFFFFFFFBu, false},
               {"0xfffffffb", 0, 0xFFFFFFFBu, false}, {"0x100000000", 0, 0xFFFFFFFFu, true}};
  for (const auto& c : cases) {
    auto text = vtxtest::Str<T>(c.text);
    vtx::ParseResult info;
    EXPECT_EQ(vtx::TextToUnsigned(text.c_str(), static_cast<const T**>(nullptr), c.radix, &info), c.value) << c.text;
    EXPECT_EQ(info.overflow, c.overflow) << c.text;
  }
}

TYPED_TEST(NumText, Printing) {
  using T = TypeParam;
  T buf[40];
  EXPECT_EQ(vtxtest::Narrow(vtx::LongToText<T>(-123, buf, 10)), "-123");
  EXPECT_EQ(vtxtest::Narrow(vtx::LongToText<T>(INT32_MIN, buf, 10)), "-2147483648");
  EXPECT_EQ(vtxtest::Narrow(vtx::LongToText<T>(-1, buf, 16)), "ffffffff");
  EXPECT_EQ(vtxtest::Narrow(vtx::UnsignedToText<T>(255, buf, 16)), "ff");
  EXPECT_EQ(vtxtest::Narrow(vtx::UnsignedToText<T>(0, buf, 2)), "0");
  EXPECT_EQ(vtxtest::Narrow(vtx::UnsignedToText<T>(35, buf, 36)), "z");
}

}  // namespace
