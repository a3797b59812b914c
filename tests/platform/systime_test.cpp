#include "platform/systime.h"

#include <gtest/gtest.h>

#include "platform/errors.h"

namespace {

TEST(SysTime, KnownPoints) {
  const struct {
    uint64_t ticks;
    SYSTEMTIME st;
  } rows[] = {
      {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
      {116444736000000000ull, {1970, 1, 4, 1, 0, 0, 0, 0}},
      {127691782395000000ull, {2005, 8, 1, 22, 9, 57, 19, 500}},
  };
  for (const auto& r : rows) {
    FILETIME ft = U64ToFileTime(r.ticks);
    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st)) << r.ticks;
    EXPECT_EQ(st.wYear, r.st.wYear);
    EXPECT_EQ(st.wMonth, r.st.wMonth);
    EXPECT_EQ(st.wDay, r.st.wDay);
    EXPECT_EQ(st.wDayOfWeek, r.st.wDayOfWeek);
    EXPECT_EQ(st.wHour, r.st.wHour);
    EXPECT_EQ(st.wMinute, r.st.wMinute);
    EXPECT_EQ(st.wSecond, r.st.wSecond);
    EXPECT_EQ(st.wMilliseconds, r.st.wMilliseconds);
    FILETIME back{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &back));
    EXPECT_EQ(FileTimeToU64(back), r.ticks);
  }
}

TEST(SysTime, RejectsImpossibleValues) {
  FILETIME ft = U64ToFileTime(kFileTimeLimit);
  SYSTEMTIME st{};
  EXPECT_FALSE(FileTimeToSystemTime(&ft, &st));
  ft = U64ToFileTime(kFileTimeLimit - 1);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(st.wYear, 30828);
  const SYSTEMTIME bad[] = {
      {2005, 2, 0, 30, 0, 0, 0, 0}, {2005, 2, 0, 29, 0, 0, 0, 0}, {1600, 12, 0, 31, 0, 0, 0, 0},
      {2005, 13, 0, 1, 0, 0, 0, 0}, {2005, 1, 0, 1, 24, 0, 0, 0}, {2005, 1, 0, 1, 0, 0, 60, 0},
  };
  for (const auto& b : bad) EXPECT_FALSE(SystemTimeToFileTime(&b, &ft)) << b.wYear << "-" << b.wMonth << "-" << b.wDay;
  SYSTEMTIME leap{2004, 2, 0, 29, 0, 0, 0, 0};
  EXPECT_TRUE(SystemTimeToFileTime(&leap, &ft));
}

TEST(SysTime, NowIsAfter2020) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SYSTEMTIME st;
  ASSERT_TRUE(FileTimeToSystemTime(&now, &st));
  EXPECT_GE(st.wYear, 2020);
}

}  // namespace
