// Blocking work of the GUI thread done elsewhere: requests to the server, the service and the
// messenger run on a thread of their own while the GUI thread waits in a local event loop (the
// tray, the manager's socket and the display-log watch stay live), and objects whose end may
// block are let go on a thread of their own.
#pragma once
#include <functional>
#include <memory>
#include <vector>

#include "platform/types.h"

class QEventLoop;
class QObject;

namespace vtx::manager {

// A request's result and its answer.
struct OffGuiReply {
  HRESULT hr = 0;
  DWORD value = 0;
};

enum class OffGuiOutcome {
  Done,       // the reply is the call's
  TimedOut,   // the bound passed; the call goes on by itself and its reply is dropped
  Abandoned,  // the quit path began; the call goes on by itself and its reply is dropped
};

// The waits of one configuration session.
class OffGuiCalls {
 public:
  OffGuiCalls() = default;
  OffGuiCalls(const OffGuiCalls&) = delete;
  OffGuiCalls& operator=(const OffGuiCalls&) = delete;

  // Runs `call` on a thread of its own and waits for it in a local event loop, at most `boundMs`
  // (0: until it returns). The call must hold everything it uses: it may outlive the wait.
  OffGuiOutcome RunOffGuiThread(std::function<OffGuiReply()> call, DWORD boundMs, OffGuiReply* reply);
  // The same wait without an event loop, for the quit path, when nothing may run in between.
  static OffGuiOutcome RunAndWait(std::function<OffGuiReply()> call, DWORD boundMs, OffGuiReply* reply);

  // The quit path: the waits under way return Abandoned at once, and every later one does too.
  void Abandon();
  bool Abandoned() const { return abandoned_; }

 private:
  struct Wait;
  std::vector<Wait*> waits_;
  bool abandoned_ = false;
};

// Runs `call` on a thread of its own without waiting for it: `done` gets its reply on the GUI
// thread, unless `context` is gone by then (the reply is dropped). False when no thread can be
// made. The call must hold everything it uses.
bool RunOffGuiThreadLater(std::function<OffGuiReply()> call, QObject* context,
                          std::function<void(const OffGuiReply&)> done);

// Drops the reference on a thread of its own, so that an object whose destructor waits (a worker
// thread that has to finish its run) never holds up the GUI thread.
void ReleaseOffGuiThread(std::shared_ptr<void> object);
// Waits up to `ms` for the releases under way to finish; true when none is left.
bool WaitForReleases(DWORD ms);

}  // namespace vtx::manager
