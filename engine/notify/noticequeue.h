// The parts of notices that talk to other programs (a mail server, the local mail transport, the
// messenger) go out on a thread of their own, one after another in the order given, so that whoever
// hands a notice over never waits on them.
#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CNoticeQueue {
 public:
  CNoticeQueue() = default;
  // Ends after the sending under way; what still waits when the program stops is dropped, and the
  // event log says how much.
  ~CNoticeQueue();
  CNoticeQueue(const CNoticeQueue&) = delete;
  CNoticeQueue& operator=(const CNoticeQueue&) = delete;

  // Queues one sending; false (nothing queued) when the thread cannot start.
  bool Post(std::function<void()> send);
  // Waits until everything handed over so far has gone (or failed); false at the deadline.
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
