// A GoogleTest fixture with a private store (store.h) of its own.
#pragma once
#include <gtest/gtest.h>

#include "platform/heap.h"
#include "tests/support/store.h"

namespace vtxtest {

// A test with a store of its own, and a heap that refuses nothing afterwards.
class PrivateStoreTest : public ::testing::Test {
 protected:
  void TearDown() override { vtx::heap::FailAfter(-1); }

  PrivateStore dir_;
};

}  // namespace vtxtest
