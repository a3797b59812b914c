// Mail goes out on a thread of its own, one mail after another in the order given, so that
// whoever hands a mail over never waits on a mail server or the local transport.
#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CMailQueue {
 public:
  CMailQueue() = default;
  // Ends after the mail under way; mails still waiting when the program stops are dropped, and the
  // event log says how many.
  ~CMailQueue();
  CMailQueue(const CMailQueue&) = delete;
  CMailQueue& operator=(const CMailQueue&) = delete;

  // Queues one sending; false (nothing queued) when the thread cannot start.
  bool Post(std::function<void()> send);
  // Waits until every mail handed over so far has gone (or failed); false at the deadline.
  bool WaitIdle(unsigned timeoutMs);

 private:
  void Run();

  std::mutex m_lock;
  std::condition_variable m_wake, m_idle;
  std::deque<std::function<void()>> m_waiting;
  bool m_sending = false;
  bool m_ending = false;
  std::thread m_thread;
};
