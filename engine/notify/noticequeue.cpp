#include "engine/notify/noticequeue.h"

#include <chrono>
#include <string>

#include "engine/notify/notifychannels.h"
#include "platform/sync.h"

CNoticeQueue::~CNoticeQueue() {
  size_t dropped = 0;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_ending = true;
    // What waits now would only fail: the program is stopping.
    if (vtx::sync::StopRequested()) {
      dropped = m_waiting.size();
      m_waiting.clear();
    }
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
  if (dropped) {
    std::string text = std::to_string(dropped) + " notice(s) were not sent by e-mail or to the screen: the program stopped.";
    CEventLog log;
    MessageToLog(text.c_str(), MB_ICONEXCLAMATION, &log);
  }
}

bool CNoticeQueue::Post(std::function<void()> send) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_thread.joinable()) {
    try {
      m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      return false;
    }
  }
  m_waiting.push_back(std::move(send));
  m_wake.notify_one();
  return true;
}

bool CNoticeQueue::WaitIdle(unsigned timeoutMs) {
  std::unique_lock<std::mutex> guard(m_lock);
  return m_idle.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                         [this] { return m_waiting.empty() && !m_sending; });
}

void CNoticeQueue::Run() {
  std::unique_lock<std::mutex> guard(m_lock);
  for (;;) {
    m_wake.wait(guard, [this] { return m_ending || !m_waiting.empty(); });
    if (m_waiting.empty()) return;
    std::function<void()> send = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_sending = true;
    guard.unlock();
    send();
    guard.lock();
    m_sending = false;
    if (m_waiting.empty()) m_idle.notify_all();
  }
}
