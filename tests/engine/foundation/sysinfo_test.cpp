#include "engine/foundation/sysinfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

vtx::ProcessorTopology Layout(uint32_t processors, uint32_t packages, uint32_t threads, vtx::SmtControl smt,
                              bool known = true) {
  vtx::ProcessorTopology t;
  t.processors = processors;
  t.packages = packages;
  t.maxThreadsPerCore = threads;
  t.smt = smt;
  t.known = known;
  return t;
}

TEST(CPUCount, States) {
  using S = vtx::SmtControl;
  struct {
    const char* what;
    vtx::ProcessorTopology t;
    DWORD supported, status, logical, physical, physicalProcessors;
  } cases[] = {
      {"two packages, threads on", Layout(8, 2, 2, S::On), 1, HT_ENABLED, 4, 2, 2},
      {"no control, threads seen", Layout(4, 1, 2, S::Unknown), 1, HT_ENABLED, 4, 1, 1},
      {"threads switched off", Layout(4, 1, 1, S::Off), 1, HT_SUPPORTED_NOT_ENABLED, 4, 4, 4},
      {"control on, no sibling online", Layout(4, 2, 1, S::On), 1, HT_SUPPORTED_NOT_ENABLED, 2, 4, 4},
      {"one processor per package", Layout(2, 2, 1, S::Off), 1, HT_DISABLED, 1, 2, 2},
      {"not capable", Layout(8, 1, 1, S::NotSupported), 0, HT_NOT_CAPABLE, 1, 8, 8},
      {"no control, one thread a core", Layout(8, 1, 1, S::Unknown), 0, HT_NOT_CAPABLE, 1, 8, 8},
      {"layout unreadable", Layout(6, 0, 0, S::On, false), 1, HT_CANNOT_DETECT, 1, 255, 6},
      {"nothing readable", Layout(1, 0, 0, S::Unknown, false), 0, HT_NOT_CAPABLE, 1, 1, 1},
  };
  for (const auto& c : cases) {
    DWORD logical = 99, physical = 99;
    EXPECT_EQ(HTSupportedOf(c.t), c.supported) << c.what;
    EXPECT_EQ(CPUCountOf(c.t, &logical, &physical), c.status) << c.what;
    EXPECT_EQ(logical, c.logical) << c.what;
    EXPECT_EQ(physical, c.physical) << c.what;
    EXPECT_EQ(PhysicalProcessorsOf(c.t), c.physicalProcessors) << c.what;
  }
  EXPECT_EQ(CPUCountOf(Layout(8, 2, 2, S::On), nullptr, nullptr), HT_ENABLED);
}

TEST(CPUCount, ThisMachine) {
  DWORD logical = 0, physical = 0;
  DWORD status = CPUCount(&logical, &physical);
  EXPECT_LE(status, HT_CANNOT_DETECT);
  EXPECT_GE(logical, 1u);
  EXPECT_GE(physical, 1u);
  DWORD processors = GetPhysicalSystemProcessors();
  EXPECT_GE(processors, 1u);
  EXPECT_EQ(HTSupported() != 0, status != HT_NOT_CAPABLE);
}

TEST(SystemName, CutToTheBuffer) {
  char full[512];
  ASSERT_TRUE(GetWindowsVersionName(full, sizeof full));
  std::string name = full;
  ASSERT_GT(name.size(), 7u);
  EXPECT_NE(name.find("Linux"), std::string::npos);

  char small[8];
  std::memset(small, 'x', sizeof small);
  ASSERT_TRUE(GetWindowsVersionName(small, sizeof small));
  EXPECT_EQ(std::string(small), name.substr(0, 7));

  char one[1] = {'x'};
  ASSERT_TRUE(GetWindowsVersionName(one, 1));
  EXPECT_EQ(one[0], '\0');
  EXPECT_FALSE(GetWindowsVersionName(one, 0));
  EXPECT_FALSE(GetWindowsVersionName(nullptr, 8));
}

}  // namespace
