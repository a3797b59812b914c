// Waits on observable state, with a limit: never a bare sleep that hopes the other side is done.
#pragma once
#include <chrono>
#include <thread>

namespace vtxtest {

// True as soon as `done()` is; false when it still is not after `limit`.
template <class F>
bool Eventually(F done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace vtxtest
