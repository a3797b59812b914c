// Byte streams: CRC-16 against Python's binascii.crc_hqx, MacBinary headers, buffers, files and
// the clipboard with and without a desktop.
#include "engine/foundation/storage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "tests/support/command.h"
#include "tests/support/clipboard.h"
#include "tests/support/iofaults.h"

using vtxtest::TempDir;

TEST(Storage, CrcAgreesWithPython) {
  std::mt19937 random(33);
  std::vector<std::string> blocks = {"", "abc", "123456789", std::string(1, '\0'), std::string(1000, '\xFF')};
  for (int i = 0; i < 20; ++i) {
    std::string b(random() % 300, '\0');
    for (char& c : b) c = static_cast<char>(random());
    blocks.push_back(b);
  }
  const uint16_t starts[] = {0, 0xFFFF, 0x1D0F};
  std::string input;
  for (const std::string& b : blocks) {
    for (char c : b) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(c));
      input += hex;
    }
    input += "\n";
  }
  std::string out = vtxtest::RunPython(
      "import sys, binascii\n"
      "for line in sys.stdin:\n"
      "    data = bytes.fromhex(line.strip())\n"
      "    print(' '.join(str(binascii.crc_hqx(data, s)) for s in (0, 0xFFFF, 0x1D0F)))\n",
      input);
  std::istringstream want(out);
  for (const std::string& b : blocks)
    for (uint16_t s : starts) {
      unsigned expected = 0;
      ASSERT_TRUE(want >> expected) << out;
      EXPECT_EQ(CalculateCRC(b.data(), b.size(), s), expected) << "block of " << b.size() << " from " << s;
    }
  EXPECT_EQ(CalculateCRC("abc", 3, 0), 0x9DD6);
  EXPECT_EQ(SwapLong(0x11223344), 0x44332211u);
  EXPECT_EQ(SwapWord(0x1122), 0x2211);
}

namespace {

void Be32(std::string& h, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) h[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

// A MacBinary file of the kind (0x80, 0x81, 0x82) around a data fork.
std::string MacBinary(uint32_t kind, const std::string& data, uint32_t secondary = 0, uint32_t claimed = 0) {
  std::string h(128, '\0');
  h[1] = 5;
  std::memcpy(&h[2], "rates", 5);
  Be32(h, 83, claimed ? claimed : static_cast<uint32_t>(data.size()));
  if (kind != 0x80) {
    h[120] = static_cast<char>(secondary >> 8);
    h[121] = static_cast<char>(secondary);
    h[122] = 0x81;
  }
  if (kind == 0x82) std::memcpy(&h[102], "mBIN", 4);
  if (kind != 0x80) {
    uint16_t crc = CalculateCRC(h.data(), 124, 0);
    h[124] = static_cast<char>(crc >> 8);
    h[125] = static_cast<char>(crc);
  }
  std::string file = h + std::string((secondary + 127) / 128 * 128, 'S') + data;
  file += std::string((128 - file.size() % 128) % 128, '\0');
  return file;
}

std::string ReadAll(CReadStorage& in) {
  std::string out;
  char buf[7];
  uint32_t got = 0;
  while (!in.IsEOF()) {
    in.Read(buf, sizeof buf, &got);
    out.append(buf, got);
    if (!got) break;
  }
  return out;
}

}  // namespace

TEST(Storage, MacBinaryHeadersAreSkippedOnlyWhenTheyAreOnes) {
  TempDir dir;
  const std::string data = "[EUR]\nUSD = 1.25\n";
  // An ordinary file with zeros where a MacBinary I header has them.
  std::string ordinary(300, 'x');
  ordinary[0] = ordinary[74] = ordinary[82] = 0;
  const struct {
    std::string file;
    uint32_t kind;
    std::string data;
  } cases[] = {
      {MacBinary(0x81, data), 0x81, data},
      {MacBinary(0x81, data, 200), 0x81, data},  // a secondary header of 200 bytes takes 256
      {MacBinary(0x82, data), 0x82, data},
      {MacBinary(0x80, data), 0x80, data},
      {MacBinary(0x81, data, 0, 1u << 30), 0x81, data + std::string((128 - (128 + data.size()) % 128) % 128, '\0')},
      {ordinary, 0, ordinary},
      {std::string(100, '\0'), 0, std::string(100, '\0')},
  };
  int n = 0;
  for (const auto& k : cases) {
    std::string path = dir / ("f" + std::to_string(n++));
    std::ofstream(path, std::ios::binary) << k.file;
    CReadFile in;
    ASSERT_EQ(in.Create(path.c_str()), S_OK);
    EXPECT_EQ(in.SkippedMacBinaryHeader(), k.kind) << n;
    EXPECT_EQ(ReadAll(in), k.data) << n << " (lengths are clamped to the file)";
    CReadFileBuffer whole;
    ASSERT_EQ(whole.Create(path.c_str()), S_OK);
    EXPECT_EQ(whole.SkippedMacBinaryHeader(), k.kind);
    EXPECT_EQ(whole.GetSize(), k.data.size());
  }
  CReadFile missing;
  EXPECT_EQ(missing.Create((dir / "none").c_str()), 0x80070002u);
  CReadFile wide;
  std::string first = dir / "f0";
  ASSERT_EQ(wide.Create(std::u16string(first.begin(), first.end()).c_str()), S_OK);
  EXPECT_EQ(ReadAll(wide), data);
}

TEST(Storage, Buffers) {
  CReadBuffer in;
  EXPECT_EQ(in.Create(nullptr, 4, 0), 0x80004003u);
  char none[4];
  uint32_t got = 9;
  EXPECT_EQ(in.Read(none, 4, &got), 0x8000FFFFu) << "nothing to read from";
  ASSERT_EQ(in.Create("abcdef", 0, CReadBuffer::AnsiLength), S_OK);
  char buf[8] = "";
  EXPECT_EQ(in.Read(buf, 4, &got), S_OK);
  EXPECT_EQ(std::string(buf, got), "abcd");
  EXPECT_EQ(in.Read(buf, 4, &got), 0x80070026u) << "fewer than asked were left";
  EXPECT_EQ(std::string(buf, got), "ef");
  EXPECT_EQ(in.Seek(-1, kSeekBegin), 0x80070083u);
  ASSERT_EQ(in.Create(u"wide", 0, CReadBuffer::WideLength | CReadBuffer::Copy), S_OK);
  EXPECT_EQ(in.GetSize(), 8u);

  CWriteBuffer out;
  ASSERT_EQ(out.Create(0, CWriteBuffer::TwoZeros), S_OK);
  std::string big(100000, 'z');
  ASSERT_EQ(out.Write(big.data(), static_cast<uint32_t>(big.size())), S_OK);
  ASSERT_EQ(out.Seek(3, kSeekBegin), S_OK);
  ASSERT_EQ(out.Close(), S_OK) << "the data end at the position";
  ASSERT_EQ(out.GetSize(), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.GetData()), 5), std::string("zzz\0\0", 5));
  uint32_t size = 0;
  uint8_t* block = out.DetachBuffer(&size);
  EXPECT_EQ(size, 5u);
  GlobalFree(block);
  ASSERT_EQ(out.Create(0, 0), S_OK);
  out.Write("ab", 2);
  out.Seek(5, kSeekBegin);
  EXPECT_EQ(out.Close(false), 0x80070026u) << "a position beyond the data";
  EXPECT_EQ(out.Close(true), S_OK);

  CWriteNil nil;
  nil.Write(nullptr, 10);
  nil.Seek(-4, kSeekCurrent);
  nil.Write(nullptr, 2);
  EXPECT_EQ(nil.GetSize(), 10);
  EXPECT_EQ(nil.GetPosition(), 8);
}

TEST(Storage, WriteFileCutsAtThePosition) {
  TempDir dir;
  std::string path = dir / "out.txt";
  {
    CWriteFile f;
    ASSERT_EQ(f.Create(path.c_str()), S_OK);
    ASSERT_EQ(f.Write("hello world", 11), S_OK);
    ASSERT_EQ(f.Seek(5, kSeekBegin), S_OK);
    ASSERT_EQ(f.Write("!", 1), S_OK);
    ASSERT_EQ(f.Close(), S_OK);
  }
  EXPECT_EQ(vtxtest::ReadFile(path), "hello!");
  CWriteFile bad;
  EXPECT_EQ(bad.Create((dir / "no/such/folder").c_str()), 0x80070002u);
}

// File streams fail at each system call in turn, and with short transfers: a failure is reported,
// and a success wrote or read exactly the bytes.
TEST(Storage, FileStreamsReportEveryFailedCall) {
  TempDir dir;
  const std::string path = dir / "stream.bin";
  const std::string data(3000, 'd');
  for (auto kind : {vtx::sys::faults::Kind::kError, vtx::sys::faults::Kind::kShort}) {
    vtxtest::WalkIoFaults<HRESULT>(
        [] {},
        [&] {
          CWriteFile f;
          HRESULT hr = f.Create(path.c_str());
          if (SUCCEEDED(hr)) hr = f.Write(data.data(), static_cast<uint32_t>(data.size()));
          if (SUCCEEDED(hr)) hr = f.Seek(-1, kSeekEnd);
          if (SUCCEEDED(hr)) hr = f.Write("!", 1);
          HRESULT closed = f.Close();
          return FAILED(hr) ? hr : closed;
        },
        [&](const vtxtest::IoFault&, const HRESULT& hr) {
          if (SUCCEEDED(hr)) {
            EXPECT_EQ(vtxtest::ReadFile(path), data.substr(0, data.size() - 1) + "!");
          }
        },
        EIO, false, kind);
    ASSERT_TRUE(vtxtest::WriteFile(path, data));
    vtxtest::WalkIoFaults<HRESULT>(
        [] {},
        [&] {
          CReadFile f;
          std::string got(data.size(), '\0');
          uint32_t read = 0;
          HRESULT hr = f.Create(path.c_str());
          if (SUCCEEDED(hr)) hr = f.Read(got.data(), static_cast<uint32_t>(got.size()), &read);
          if (SUCCEEDED(hr) && got != data) hr = E_UNEXPECTED;  // a success with other bytes
          f.Close();
          return hr;
        },
        [&](const vtxtest::IoFault& fault, const HRESULT& hr) {
          EXPECT_NE(hr, E_UNEXPECTED);
          // Short reads are read on; closing a file that was only read loses nothing.
          if (kind == vtx::sys::faults::Kind::kError && !fault.call.empty() && fault.call != "close") {
            EXPECT_TRUE(FAILED(hr)) << fault.call;
          }
        },
        EIO, false, kind);
  }
}

TEST(Storage, ClipboardWithAndWithoutADesktop) {
  {
    CClipboard none;
    EXPECT_EQ(none.Open(), 0x8007058Au) << "no desktop clipboard in a daemon";
  }
  vtxtest::MemoryClipboard desk;
  vtx::clipboard::SetBackend(&desk);
  {
    CClipboard clip;
    ASSERT_EQ(clip.Open(), S_OK);
    CReadClipboard empty;
    EXPECT_EQ(empty.Create(CF_TEXT, 0), 0x80070490u);
    CWriteClipboard put;
    ASSERT_EQ(put.Create(CF_TEXT, CWriteBuffer::OneZero), S_OK);
    put.Write("12.50", 5);
    ASSERT_EQ(put.Close(), S_OK);
    CReadClipboard in;
    ASSERT_EQ(in.Create(CF_TEXT, CReadBuffer::Copy), S_OK);
    EXPECT_EQ(in.GetSize(), 6u);
    ASSERT_EQ(clip.Close(), S_OK);
  }
  EXPECT_EQ(desk.text, u"12.50");
  EXPECT_FALSE(CloseClipboard()) << "not open";
  vtx::clipboard::SetBackend(nullptr);
}
