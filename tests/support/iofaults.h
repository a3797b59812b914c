// Walks an operation through I/O faults the way the memory tests walk it through refused
// allocations: each system call it makes fails in turn, one run per call.
#pragma once
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>

#include "platform/native/syscalls.h"
#include "tests/support/files.h"

namespace vtxtest {

// What one run of a walk made fail.
struct IoFault {
  long index = 0;    // which counted call of the operation
  std::string call;  // "write", "rename", ...
  int error = 0;
  bool sticky = false;
};

// Runs `op` (after `setup`, which runs unfaulted) once per system call it makes, the k-th run with
// its k-th call failing with `error` (with `sticky`, every call from there on); then `check` looks,
// unfaulted, at what the run returned and left. The walk ends with the first run that finishes
// before reaching its fault, which `check` sees as well, with an empty `call`. Faults count on the
// calling thread only: `op` must do its I/O there.
template <class Result>
void WalkIoFaults(const std::function<void()>& setup, const std::function<Result()>& op,
                  const std::function<void(const IoFault&, const Result&)>& check, int error = EIO,
                  bool sticky = false, vtx::sys::faults::Kind kind = vtx::sys::faults::Kind::kError) {
  for (long k = 0;; ++k) {
    ASSERT_LT(k, 100000) << "the operation never ends without a fault";
    setup();
    vtx::sys::faults::FailCall(k, error, kind, sticky);
    Result result = op();
    IoFault fault{k, vtx::sys::faults::HitName(), error, sticky};
    bool hit = vtx::sys::faults::Hit();
    vtx::sys::faults::FailCall(-1, 0);
    SCOPED_TRACE("fault at call " + std::to_string(k) + (hit ? " (" + fault.call + ")" : " (none)"));
    check(fault, result);
    if (::testing::Test::HasFatalFailure() || !hit) return;
  }
}

}  // namespace vtxtest
