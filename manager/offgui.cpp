#include "manager/offgui.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/eventfd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/errors.h"
#include "platform/native/syscalls.h"
#include "platform/sync.h"

namespace vtx::manager {

namespace {

// What the calling thread and the call share; it lives as long as either holds it.
struct Shared {
  Shared() : fd(vtx::sys::Eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~Shared() {
    if (fd >= 0) vtx::sys::Close(fd);
  }
  int fd;
  std::mutex m;
  bool done = false;
  OffGuiReply reply;

  bool Take(OffGuiReply* out) {
    std::lock_guard<std::mutex> l(m);
    if (done && out) *out = reply;
    return done;
  }
};

// Starts the call; false when no thread can be made.
bool Launch(const std::shared_ptr<Shared>& shared, std::function<OffGuiReply()> call) {
  if (shared->fd < 0) return false;
  try {
    std::thread([shared, call = std::move(call)] {
      OffGuiReply r = call();
      {
        std::lock_guard<std::mutex> l(shared->m);
        shared->reply = r;
        shared->done = true;
      }
      uint64_t one = 1;
      if (vtx::sys::Write(shared->fd, &one, sizeof one) < 0) {
      }
    }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

constexpr OffGuiReply kNoThread{HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), 0};

}  // namespace

struct OffGuiCalls::Wait {
  QEventLoop* loop;
  bool abandoned = false;
  bool timedOut = false;
};

OffGuiOutcome OffGuiCalls::RunOffGuiThread(std::function<OffGuiReply()> call, DWORD boundMs, OffGuiReply* reply) {
  if (abandoned_) return OffGuiOutcome::Abandoned;
  auto shared = std::make_shared<Shared>();
  if (!Launch(shared, std::move(call))) {
    if (reply) *reply = kNoThread;
    return OffGuiOutcome::Done;
  }
  QEventLoop loop;
  Wait wait{&loop};
  QSocketNotifier answered(shared->fd, QSocketNotifier::Read);
  QObject::connect(&answered, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
  QTimer bound;
  bound.setSingleShot(true);
  QObject::connect(&bound, &QTimer::timeout, &loop, [&] {
    wait.timedOut = true;
    loop.quit();
  });
  if (boundMs) bound.start(static_cast<int>(std::min<DWORD>(boundMs, 0x7FFFFFFF)));
  waits_.push_back(&wait);
  // The loop may also end because the program's loops are told to end (the quit path).
  while (!shared->Take(nullptr) && !wait.abandoned && !wait.timedOut) {
    if (loop.exec() < 0) break;
  }
  waits_.erase(std::find(waits_.begin(), waits_.end(), &wait));
  if (wait.abandoned) return OffGuiOutcome::Abandoned;
  if (shared->Take(reply)) return OffGuiOutcome::Done;
  return wait.timedOut ? OffGuiOutcome::TimedOut : OffGuiOutcome::Abandoned;
}

OffGuiOutcome OffGuiCalls::RunAndWait(std::function<OffGuiReply()> call, DWORD boundMs, OffGuiReply* reply) {
  auto shared = std::make_shared<Shared>();
  if (!Launch(shared, std::move(call))) {
    if (reply) *reply = kNoThread;
    return OffGuiOutcome::Done;
  }
  uint64_t deadline = boundMs ? vtx::sync::DeadlineAfter(boundMs) : vtx::sync::kNoDeadline;
  while (!shared->Take(reply)) {
    int ms = deadline == vtx::sync::kNoDeadline ? -1 : vtx::sync::MsUntil(deadline);
    if (ms == 0) return OffGuiOutcome::TimedOut;
    pollfd p{shared->fd, POLLIN, 0};
    vtx::sys::Poll(&p, 1, ms);
  }
  return OffGuiOutcome::Done;
}

bool RunOffGuiThreadLater(std::function<OffGuiReply()> call, QObject* context,
                          std::function<void(const OffGuiReply&)> done) {
  auto shared = std::make_shared<Shared>();
  if (!context || !Launch(shared, std::move(call))) return false;
  // The notifier goes with the context, and with it the reply.
  auto* answered = new QSocketNotifier(shared->fd, QSocketNotifier::Read, context);
  QObject::connect(answered, &QSocketNotifier::activated, answered, [shared, answered, done = std::move(done)] {
    OffGuiReply reply;
    if (!shared->Take(&reply)) return;
    answered->setEnabled(false);
    answered->deleteLater();
    done(reply);
  });
  return true;
}

void OffGuiCalls::Abandon() {
  abandoned_ = true;
  for (Wait* w : waits_) {
    w->abandoned = true;
    w->loop->quit();
  }
}

namespace {
std::mutex g_releaseLock;
std::condition_variable g_releaseDone;
int g_releases = 0;
}  // namespace

void ReleaseOffGuiThread(std::shared_ptr<void> object) {
  if (!object) return;
  {
    std::lock_guard<std::mutex> l(g_releaseLock);
    ++g_releases;
  }
  auto finish = [] {
    std::lock_guard<std::mutex> l(g_releaseLock);
    --g_releases;
    g_releaseDone.notify_all();
  };
  try {
    std::thread([object = std::move(object), finish]() mutable {
      object.reset();
      finish();
    }).detach();
  } catch (const std::system_error&) {
    // No thread: the object is let go here, on the caller's thread.
    object.reset();
    finish();
  }
}

bool WaitForReleases(DWORD ms) {
  std::unique_lock<std::mutex> l(g_releaseLock);
  return g_releaseDone.wait_for(l, std::chrono::milliseconds(ms), [] { return g_releases == 0; });
}

}  // namespace vtx::manager
