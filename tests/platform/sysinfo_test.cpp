#include "platform/sysinfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "tests/support/files.h"

namespace {

// A sysfs tree of its own for each test.
class FakeSysfs {
 public:
  void Put(const std::string& rel, const std::string& text) {
    std::string path = dir_ / rel;
    ASSERT_EQ(vtx::MakeDirectories(path.substr(0, path.rfind('/')).c_str()), S_OK);
    std::string line = text + "\n";
    ASSERT_EQ(vtx::WriteWholeFile(path.c_str(), line.data(), line.size()), S_OK);
  }
  void Cpu(int n, int package, const std::string& siblings) {
    std::string base = "devices/system/cpu/cpu" + std::to_string(n) + "/topology/";
    Put(base + "physical_package_id", std::to_string(package));
    Put(base + "thread_siblings_list", siblings);
  }
  const char* root() const { return dir_.path().c_str(); }

 private:
  vtxtest::TempDir dir_;
};

TEST(Processors, TopologyFromSysfs) {
  FakeSysfs fs;
  fs.Put("devices/system/cpu/smt/control", "on");
  fs.Put("devices/system/cpu/online", "0-3,8-11");
  // Two packages of two cores with two threads each.
  for (int c : {0, 1, 2, 3}) fs.Cpu(c, 0, c < 2 ? "0-1" : "2-3");
  for (int c : {8, 9, 10, 11}) fs.Cpu(c, 1, c < 10 ? "8,9" : "10-11");
  vtx::ProcessorTopology t = vtx::ReadProcessorTopology(fs.root());
  EXPECT_EQ(t.processors, 8u);
  EXPECT_EQ(t.packages, 2u);
  EXPECT_EQ(t.maxThreadsPerCore, 2u);
  EXPECT_EQ(t.smt, vtx::SmtControl::On);
  EXPECT_TRUE(t.known);
}

TEST(Processors, ControlWords) {
  struct {
    const char* word;
    vtx::SmtControl smt;
  } cases[] = {{"on", vtx::SmtControl::On},
               {"off", vtx::SmtControl::Off},
               {"forceoff", vtx::SmtControl::Off},
               {"notsupported", vtx::SmtControl::NotSupported},
               {"notimplemented", vtx::SmtControl::Unknown},
               {nullptr, vtx::SmtControl::Unknown}};
  for (const auto& c : cases) {
    FakeSysfs fs;
    if (c.word) fs.Put("devices/system/cpu/smt/control", c.word);
    fs.Put("devices/system/cpu/online", "0");
    fs.Cpu(0, 0, "0");
    EXPECT_EQ(vtx::ReadProcessorTopology(fs.root()).smt, c.smt) << (c.word ? c.word : "missing");
  }
}

TEST(Processors, MissingOrMalformedFilesLeaveTheLayoutUnknown) {
  const char* onlines[] = {nullptr, "", "3-1", "x", "0,,1"};
  for (const char* online : onlines) {
    FakeSysfs fs;
    if (online) fs.Put("devices/system/cpu/online", online);
    fs.Cpu(0, 0, "0");
    vtx::ProcessorTopology t = vtx::ReadProcessorTopology(fs.root());
    EXPECT_FALSE(t.known) << (online ? online : "missing");
    EXPECT_EQ(t.processors, 1u);
  }
  FakeSysfs fs;
  fs.Put("devices/system/cpu/online", "0-1");
  fs.Cpu(0, 0, "0");  // cpu1 has no topology
  vtx::ProcessorTopology t = vtx::ReadProcessorTopology(fs.root());
  EXPECT_FALSE(t.known);
  EXPECT_EQ(t.processors, 2u);
}

TEST(Processors, ThisMachine) {
  vtx::ProcessorTopology t = vtx::ReadProcessorTopology();
  EXPECT_GE(t.processors, 1u);
  if (t.known) {
    EXPECT_GE(t.packages, 1u);
    EXPECT_LE(t.packages, t.processors);
    EXPECT_GE(t.maxThreadsPerCore, 1u);
  }
}

TEST(SystemName, OsRelease) {
  struct {
    const char* etc;
    const char* lib;
    const char* expected;
  } cases[] = {
      {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n", nullptr,
       "Debian GNU/Linux 12 (bookworm)"},
      {"# comment\r\nNAME=Fedora\r\nVERSION='39 (Server Edition)'\r\n", nullptr, "Fedora 39 (Server Edition)"},
      {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\ \\$x\"\n", nullptr, "Say \"hi\" \\ $x"},
      {nullptr, "PRETTY_NAME=\"From lib\"\n", "From lib"},
      {"ID=nameless\n", "PRETTY_NAME=Lib\n", "Lib"},
      {"ID=nameless\n", nullptr, nullptr},
      {nullptr, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    vtxtest::TempDir root;
    if (c.etc) {
      ASSERT_EQ(vtx::MakeDirectories((root / "etc").c_str()), S_OK);
      ASSERT_EQ(vtx::WriteWholeFile((root / "etc/os-release").c_str(), c.etc, std::strlen(c.etc)), S_OK);
    }
    if (c.lib) {
      ASSERT_EQ(vtx::MakeDirectories((root / "usr/lib").c_str()), S_OK);
      ASSERT_EQ(vtx::WriteWholeFile((root / "usr/lib/os-release").c_str(), c.lib, std::strlen(c.lib)), S_OK);
    }
    std::string name = "unchanged";
    EXPECT_EQ(vtx::ReadOsReleaseName(&name, root.path().c_str()), c.expected != nullptr);
    EXPECT_EQ(name, c.expected ? c.expected : "unchanged");

    std::string kernel, full;
    ASSERT_TRUE(vtx::KernelName(&kernel));
    ASSERT_TRUE(vtx::GetSystemName(&full, root.path().c_str()));
    EXPECT_EQ(full, c.expected ? std::string(c.expected) + ", " + kernel : kernel);
  }
  std::string kernel;
  ASSERT_TRUE(vtx::KernelName(&kernel));
  EXPECT_EQ(kernel.rfind("Linux ", 0), 0u);
}

TEST(ComputerName, HostLabelAndDomain) {
  char host[HOST_NAME_MAX + 1] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  std::string label = std::string(host).substr(0, std::string(host).find('.'));

  char name[256];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_EQ(std::string(name), label);
  EXPECT_EQ(size, label.size());

  // Too small: the size needed, NUL included.
  size = static_cast<DWORD>(label.size());
  EXPECT_FALSE(GetComputerNameA(name, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(size, label.size() + 1);
  size = 0;
  EXPECT_FALSE(GetComputerNameExA(ComputerNameDnsFullyQualified, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  ASSERT_GT(size, label.size());

  std::string full(size, '\0');
  ASSERT_TRUE(GetComputerNameExA(ComputerNameDnsFullyQualified, full.data(), &size));
  full.resize(size);
  size = sizeof name;
  ASSERT_TRUE(GetComputerNameExA(ComputerNameDnsDomain, name, &size));
  std::string domain = name;
  EXPECT_EQ(full, domain.empty() ? label : label + "." + domain);
  size = sizeof name;
  ASSERT_TRUE(GetComputerNameExA(ComputerNameDnsHostname, name, &size));
  EXPECT_EQ(std::string(name), label);

  size = sizeof name;
  EXPECT_FALSE(GetComputerNameExA(static_cast<COMPUTER_NAME_FORMAT>(7), name, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(GetComputerNameA(name, nullptr));
}

}  // namespace
