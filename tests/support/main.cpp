// The main of every test program: its tests, or one child helper (child.h) when started with
// "--child <name>".
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/native/productpaths.h"
#include "tests/support/accounts.h"
#include "tests/support/child.h"

namespace vtxtest {
namespace {

std::map<std::string, ChildMain>& Children() {
  static std::map<std::string, ChildMain> children;
  return children;
}

// GoogleTest skips the tests of a suite whose SetUpTestSuite failed, and CTest counts a skipped test
// as no failure: each of those tests fails here instead.
class SetUpFailuresFail : public testing::EmptyTestEventListener {
  void OnTestSuiteStart(const testing::TestSuite&) override { first_ = true; }
  void OnTestStart(const testing::TestInfo&) override {
    const testing::TestSuite* suite = testing::UnitTest::GetInstance()->current_test_suite();
    if (first_ && suite) setUpFailed_ = suite->ad_hoc_test_result().Failed();
    first_ = false;
    if (setUpFailed_) ADD_FAILURE() << "the set-up of " << suite->name() << " failed (above): this test did not run";
  }

  bool first_ = true;
  bool setUpFailed_ = false;
};

}  // namespace

bool RegisterChild(const char* name, ChildMain main) {
  Children()[name] = main;
  return true;
}

}  // namespace vtxtest

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
    auto found = vtxtest::Children().find(argv[2]);
    if (found == vtxtest::Children().end()) {
      std::fprintf(stderr, "%s: no child helper named %s\n", argv[0], argv[2]);
      return 125;
    }
    return found->second(std::vector<std::string>(argv + 3, argv + argc));
  }
  // The product's account of the host (an installed product) must not change what a test sees: a
  // test that wants one makes its own (accounts.h).
  setenv(vtx::env::kAccount, vtxtest::kNoProductAccount, 1);
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new vtxtest::SetUpFailuresFail);
  return RUN_ALL_TESTS();
}
