// A test with its own registry store and runtime directory, and a heap that refuses nothing afterwards.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/heap.h"
#include "tests/support/text.h"

namespace vtxtest {

class PrivateStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VANTREX_REGISTRY", (dir_ / "registry.db").c_str(), 1);
    setenv("VANTREX_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
  }
  void TearDown() override {
    vtx::heap::FailAfter(-1);
    unsetenv("VANTREX_REGISTRY");
    unsetenv("VANTREX_RUNTIME_DIR");
  }

  TempDir dir_;
};

}  // namespace vtxtest
