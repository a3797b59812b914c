// The notice queue: what is handed over goes out in order on another thread, and the caller does
// not wait for it.
#include "engine/notify/noticequeue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

TEST(NoticeQueue, SendsInOrderOffTheCallersThreadWithoutHoldingItUp) {
  std::mutex lock;
  std::vector<int> sent;
  std::atomic<bool> release{false};
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> elsewhere{true};
  {
    CNoticeQueue queue;
    // The first sending hangs until released; the next ones are handed over meanwhile.
    ASSERT_TRUE(queue.Post([&] {
      while (!release) std::this_thread::yield();
      std::lock_guard<std::mutex> g(lock);
      sent.push_back(0);
    }));
    for (int i = 1; i <= 5; ++i)
      ASSERT_TRUE(queue.Post([&, i] {
        if (std::this_thread::get_id() == caller) elsewhere = false;
        std::lock_guard<std::mutex> g(lock);
        sent.push_back(i);
      }));
    EXPECT_FALSE(queue.WaitIdle(50));
    release = true;
    EXPECT_TRUE(queue.WaitIdle(10000));
    ASSERT_TRUE(queue.Post([&] {
      std::lock_guard<std::mutex> g(lock);
      sent.push_back(6);
    }));
  }  // what waits goes out before the queue ends
  EXPECT_TRUE(elsewhere);
  EXPECT_EQ(sent, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
}

}  // namespace
