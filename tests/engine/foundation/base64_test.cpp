#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/foundation/base64.h"
#include "platform/heap.h"

namespace {

std::string Encoded(const std::string& bytes) {
  Base64Coder coder;
  EXPECT_TRUE(coder.Encode(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<uint32_t>(bytes.size())));
  EXPECT_EQ(coder.GetEncodedLength(), std::strlen(coder.EncodedMessage()));
  return std::string(coder.EncodedMessage(), coder.GetEncodedLength());
}

TEST(Base64, EncodesGroupsWithPadding) {
  const struct { const char* in; const char* out; } cases[] = {
      {"", ""}, {"M", "TQ=="}, {"Ma", "TWE="}, {"Man", "TWFu"},
      {"Hello, world", "SGVsbG8sIHdvcmxk"}, {"user:pass word", "dXNlcjpwYXNzIHdvcmQ="},
  };
  for (const auto& c : cases) EXPECT_EQ(Encoded(c.in), c.out) << c.in;
  EXPECT_EQ(Encoded(std::string("\xFB\xFF\x00", 3)), "+/8A");
}

TEST(Base64, NullTextsSucceedWithNothing) {
  Base64Coder coder;
  EXPECT_TRUE(coder.Encode(static_cast<const char*>(nullptr)));
  EXPECT_EQ(coder.GetEncodedLength(), 0u);
  EXPECT_EQ(coder.Decode(static_cast<const char*>(nullptr)), S_OK);
  EXPECT_EQ(coder.GetDecodedLength(), 0u);
}

TEST(Base64, DecodesExactLengths) {
  const struct { const char* in; std::string out; } cases[] = {
      {"TWFu", "Man"}, {"TWE=", "Ma"}, {"TQ==", "M"}, {"TWE", "Ma"}, {"TQ", "M"},
      {"TW\r\nFu", "Man"}, {" TWFu\tTWE= ", "ManMa"}, {"", ""}, {"+/8A", std::string("\xFB\xFF\x00", 3)},
  };
  for (const auto& c : cases) {
    Base64Coder coder;
    ASSERT_EQ(coder.Decode(c.in), S_OK) << c.in;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(coder.DecodedMessage()), coder.GetDecodedLength()), c.out) << c.in;
    EXPECT_EQ(coder.DecodedMessage()[coder.GetDecodedLength()], 0) << "terminated: " << c.in;
  }
}

TEST(Base64, RefusesForeignCharactersAndMisplacedPadding) {
  for (const char* bad : {"TW!u", "TWFu-", "T===", "T", "TWFuT", "TW=u", "=WFu", "TQ==TWFu", "TWE=TQ==", "TW\x01u"}) {
    Base64Coder coder;
    EXPECT_EQ(coder.Decode(bad), E_INVALIDDATA) << bad;
    EXPECT_EQ(coder.GetDecodedLength(), 0u) << bad;
    EXPECT_EQ(coder.DecodedMessage()[0], 0) << bad;
  }
}

TEST(Base64, RoundTripsEveryByteAcrossTheAllocationStep) {
  std::string bytes;
  for (int i = 0; i < 9001; ++i) bytes.push_back(static_cast<char>((i * 37) & 0xFF));
  for (size_t n : {size_t(1), size_t(2), size_t(3), size_t(4095), size_t(4096), size_t(4097), bytes.size()}) {
    std::string part = bytes.substr(0, n);
    std::string text = Encoded(part);
    EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
    Base64Coder coder;
    ASSERT_EQ(coder.Decode(text.c_str()), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(coder.DecodedMessage()), coder.GetDecodedLength()), part) << n;
  }
}

TEST(Base64, ReusedCoderForgetsThePreviousMessage) {
  Base64Coder coder;
  ASSERT_TRUE(coder.Encode("a long first message to encode"));
  ASSERT_TRUE(coder.Encode("M"));
  EXPECT_STREQ(coder.EncodedMessage(), "TQ==");
  ASSERT_EQ(coder.Decode("TWFuTWFu"), S_OK);
  ASSERT_EQ(coder.Decode("TQ=="), S_OK);
  EXPECT_STREQ(reinterpret_cast<char*>(coder.DecodedMessage()), "M");
}

TEST(Base64, OutOfMemoryIsReported) {
  Base64Coder coder;
  vtx::heap::FailAfter(0);
  bool encoded = coder.Encode("Man");
  HRESULT decoded = coder.Decode("TWFu");
  vtx::heap::FailAfter(-1);
  EXPECT_FALSE(encoded);
  EXPECT_EQ(decoded, E_OUTOFMEMORY);
}

// A derived coder changes one step: here the set of skipped characters.
class CommaSkippingCoder : public Base64Coder {
 protected:
  bool _IsBadMimeChar(BYTE c) override { return c == ',' || Base64Coder::_IsBadMimeChar(c); }
};

TEST(Base64, DerivedCoderChangesAStep) {
  CommaSkippingCoder coder;
  ASSERT_EQ(coder.Decode("TW,Fu"), S_OK);
  EXPECT_STREQ(reinterpret_cast<char*>(coder.DecodedMessage()), "Man");
}

}  // namespace
