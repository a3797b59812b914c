// Language codes, byte sizes as text and OLE dates, against Python's datetime where it has them.
#include "engine/foundation/language.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "engine/foundation/oledate.h"
#include "engine/foundation/timetext.h"
#include "platform/resources.h"
#include "platform/systime.h"
#include "tests/support/command.h"

TEST(Language, CodesOfLocales) {
  char code[3];
  ASSERT_TRUE(GetTwoLetterLanguageCode(code, 0x0407));
  EXPECT_STREQ(code, "de");
  ASSERT_TRUE(GetTwoLetterLanguageCode(code, 0x0809));
  EXPECT_STREQ(code, "en");
  const struct {
    const char* code;
    LCID lcid;
    bool is;
  } cases[] = {
      {"de", 0x0807, true},    {"DE", 0x0407, true},     {"de-ch", 0x0407, false}, {"de-ch", 0x0807, true},
      {"DEU", 0x0407, true},   {"en", 0x0407, false},    {"en-us", 0x0409, true},  {"fr", 0x040C, true},
      {"nonsense-tag", 0x0409, false},
  };
  for (const auto& k : cases) EXPECT_EQ(IsLocaleLanguage(k.code, k.lcid) != 0, k.is) << k.code << " " << k.lcid;
  EXPECT_FALSE(IsLocaleLanguage(nullptr, 0x0409));
  EXPECT_EQ(GetLCIDItem(0), 0x0436u);
  EXPECT_EQ(GetLCIDItem(124), 0x0435u);
  EXPECT_EQ(GetLCIDItem(125), 0u);
  EXPECT_EQ(GetApplicationLanguage(), 9);
  EXPECT_EQ(AvailableResourceLanguage(0x0407), 0x0409);
}

namespace {

class ByteSize : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LC_ALL", "en_US.UTF-8", 1);
    std::ofstream(dir_ / "sizes.cat") << "[strings]\n1 %1 bytes\n2 %1 KB\n3 %1 MB\n4 %1 GB\n5 more than %1 4 GB block\n";
    module_ = LoadLibraryA((dir_ / "sizes.cat").c_str());
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override {
    FreeLibrary(module_);
    unsetenv("LC_ALL");
  }
  std::string Format(uint64_t size, uint32_t flags = 0, uint64_t size2 = 0, uint32_t unit = 0, int room = 64) {
    char out[64] = "x";
    _FORMATBYTESIZE r{0, static_cast<uint32_t>(size >> 32), static_cast<uint32_t>(size), out, room, flags, unit,
                      module_, 1, 2, 3, 4, 5, static_cast<uint32_t>(size2 >> 32), static_cast<uint32_t>(size2)};
    int n = FormatByteSize(&r);
    EXPECT_EQ(static_cast<size_t>(n), std::strlen(out));
    return out;
  }
  vtxtest::TempDir dir_;
  HMODULE module_ = nullptr;
};

}  // namespace

TEST_F(ByteSize, Table) {
  EXPECT_EQ(Format(999), "999 bytes");
  EXPECT_EQ(Format(1000), "1 KB");
  EXPECT_EQ(Format(1536, FBS_FRACTIONAL), "1.50 KB");
  EXPECT_EQ(Format(2048, FBS_FRACTIONAL), "2 KB");
  EXPECT_EQ(Format(1048576 + 524288), "1 MB") << "a half rounds down";
  EXPECT_EQ(Format(1048576 + 524289), "2 MB");
  EXPECT_EQ(Format(1234567890), "1 GB");
  EXPECT_EQ(Format(4000000000u), "4 GB") << "no 32-bit overflow in the rounding";
  EXPECT_EQ(Format(4000000000u, FBS_FRACTIONAL), "3.73 GB");
  EXPECT_EQ(Format(5000000000ull), "more than 1 4 GB block");
  EXPECT_EQ(Format(500, FBS_RANGE, 2000), "1-2 KB");
  EXPECT_EQ(Format(2000, FBS_RANGE, 500), "1-2 KB");
  EXPECT_EQ(Format(3000000, 0, 0, 5000000), "3 MB") << "the unit reference picks the unit";
  EXPECT_EQ(Format(3000000, 0, 0, 500), "3,000,000 bytes");
  EXPECT_EQ(Format(1234567, 0, 0, 0, 4), "") << "the text does not fit";
  EXPECT_EQ(Format(1234567, 0, 0, 0, 5), "1 MB");
}

TEST(OleDate, AgainstPythonsDatetime) {
  // Times from 1601 to 9999, both sides of 30 December 1899.
  const char* times[] = {"1601-01-01T00:00:00Z", "1899-12-29T06:00:00Z", "1899-12-30T00:00:00Z",
                         "1900-01-01T12:00:00Z", "1900-03-01T00:00:01Z", "2000-02-29T23:59:59Z",
                         "2005-08-22T09:57:19Z", "2100-03-01T12:34:56Z", "9999-12-31T23:59:59Z"};
  std::string input;
  for (const char* t : times) input += std::string(t) + "\n";
  std::string python = vtxtest::RunPython(
      "import sys, datetime\n"
      "base = datetime.datetime(1899, 12, 30)\n"
      "for line in sys.stdin:\n"
      "    t = datetime.datetime.strptime(line.strip(), '%Y-%m-%dT%H:%M:%SZ')\n"
      "    d = t - base\n"
      "    days = d.days\n"
      "    frac = d.seconds / 86400\n"
      "    print(repr(days + frac if days >= 0 else days - frac))\n",
      input);
  std::istringstream want(python);
  for (const char* t : times) {
    FILETIME ft;
    ASSERT_TRUE(StringToTime(t, &ft)) << t;
    double date = -1;
    ASSERT_TRUE(FileTimeToOleDate(ft, &date)) << t;
    double expected = 0;
    ASSERT_TRUE(want >> expected) << python;
    EXPECT_DOUBLE_EQ(date, expected) << t;
  }
}

TEST(OleDate, FieldRanges) {
  double d = 7;
  EXPECT_TRUE(_AfxOleDateFromTm(1899, 12, 30, 0, 0, 0, &d));
  EXPECT_EQ(d, 0.0);
  EXPECT_TRUE(_AfxOleDateFromTm(1900, 1, 1, 12, 0, 0, &d));
  EXPECT_EQ(d, 2.5);
  EXPECT_TRUE(_AfxOleDateFromTm(2000, 2, 29, 0, 0, 0, &d));
  d = 7;
  EXPECT_FALSE(_AfxOleDateFromTm(1900, 2, 29, 0, 0, 0, &d)) << "1900 is not a leap year";
  EXPECT_FALSE(_AfxOleDateFromTm(2001, 2, 29, 0, 0, 0, &d));
  EXPECT_FALSE(_AfxOleDateFromTm(10000, 1, 1, 0, 0, 0, &d));
  EXPECT_FALSE(_AfxOleDateFromTm(2000, 13, 1, 0, 0, 0, &d));
  EXPECT_FALSE(_AfxOleDateFromTm(2000, 4, 31, 0, 0, 0, &d));
  EXPECT_FALSE(_AfxOleDateFromTm(2000, 1, 1, 24, 0, 0, &d));
  EXPECT_FALSE(_AfxOleDateFromTm(2000, 1, 1, 0, 60, 0, &d));
  EXPECT_EQ(d, 7.0) << "nothing written on failure";
}
