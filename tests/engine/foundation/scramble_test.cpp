#include "engine/foundation/scramble.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ScrambleBuffer, KeyBytesRepeatEveryEightAndRoundTrip) {
  std::vector<unsigned char> zeros(9, 0);
  ScrambleBuffer(zeros.data(), 9);
  const unsigned char key[8] = {'Q', 'u', 'i', 'l', 'l', 'o', 'p', 0xAE};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(zeros[i], key[i % 8]) << i;

  std::string text = "[General]\r\nDate = x\r\n";
  std::string scrambled = text;
  ScrambleBuffer(scrambled.data(), static_cast<uint32_t>(scrambled.size()));
  EXPECT_EQ(scrambled[0], '\n');  // '[' under the first key byte
  EXPECT_NE(scrambled, text);
  ScrambleBuffer(scrambled.data(), static_cast<uint32_t>(scrambled.size()));
  EXPECT_EQ(scrambled, text);

  // Two calls restart the key: not the same as one call over the whole buffer.
  std::string halves = text;
  ScrambleBuffer(halves.data(), 5);
  ScrambleBuffer(halves.data() + 5, static_cast<uint32_t>(halves.size() - 5));
  std::string whole = text;
  ScrambleBuffer(whole.data(), static_cast<uint32_t>(whole.size()));
  EXPECT_NE(halves, whole);
  ScrambleBuffer(nullptr, 4);  // nothing to do
}

TEST(CredentialScrambler, ChainedAndReversible) {
  unsigned char three[3] = {'a', 'b', 'c'};
  EncryptBuffer(three, 3);
  EXPECT_EQ(three[0], 'w' ^ 'a' ^ 3);
  EXPECT_EQ(three[1], 0xE9 ^ 'b' ^ three[0]);
  DecryptBuffer(three, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(three), 3), "abc");

  std::vector<unsigned char> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7);
  auto plain = data;
  EncryptBuffer(data.data(), 300);
  EXPECT_NE(data, plain);
  DecryptBuffer(data.data(), 300);
  EXPECT_EQ(data, plain);
  EncryptBuffer(nullptr, 3);
  EncryptBuffer(data.data(), 0);
  EXPECT_EQ(data, plain);
}

}  // namespace
