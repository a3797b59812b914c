// The service frame of vtxservice and vtxmessenger: the command line and its administrative
// verbs, installation through the service manager, the state reported to it, the stop control
// (SIGTERM), and the run loop over the service's pipe, its watchdog timer, the things it waits
// for and its messages.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/foundation/eventlog.h"
#include "engine/foundation/resourcelib.h"
#include "engine/notify/pipemessage.h"
#include "platform/service.h"

namespace vtx::svc {

// The service states reported while the service runs.
enum ServiceState : DWORD {
  SERVICE_STOPPED = 1,
  SERVICE_START_PENDING = 2,
  SERVICE_STOP_PENDING = 3,
  SERVICE_RUNNING = 4,
};

// Windows' service exit code for "the service has not been started".
constexpr DWORD kExitNotStarted = ERROR_SERVICE_NOT_ACTIVE;

// The notification channels of an alarm, as the settings hold them (their defaults included).
struct AlarmChannels {
  bool screen = true;
  bool log = true;
  bool file = false;
  bool email = false;
  std::string profile, recipients, sender, smtpServer, messagesFile;
};
AlarmChannels ReadAlarmChannels();

// The account name of a VXSVC_ISSERVICEACCOUNT request: a name that ends inside the data it came
// with and is not empty; null for anything else.
const char* ServiceAccountRequestName(const COPYDATASTRUCT* cds);

// "ApplicationMonitor": seconds between two watchdog checks, 0 = none (missing: 3600).
DWORD ReadApplicationMonitor();

// One request of the pipe protocol whose answer the run loop takes when it comes, so that the
// loop serves its pipe and the stop control while the other side is slow or silent.
class PipePing {
 public:
  PipePing() = default;
  ~PipePing() { Cancel(); }
  PipePing(const PipePing&) = delete;
  PipePing& operator=(const PipePing&) = delete;
  // Connects and sends the request; S_OK when it is on its way (then the handle turns signalled
  // when the answer, or the end of the connection, is there).
  HRESULT Send(const char* pipeName, DWORD msg, DWORD timeoutMs);
  HANDLE Handle() const { return handle_; }
  uint64_t Deadline() const { return deadline_; }
  bool Pending() const { return fd_ >= 0; }
  // Takes the answer once the handle is signalled: S_OK and the reply, else the failure.
  HRESULT Finish(DWORD* reply);
  void Cancel();

 private:
  int fd_ = -1;
  HANDLE handle_ = nullptr;
  uint64_t deadline_ = 0;
};

class ServiceModule {
 public:
  // `serviceName` is also the display name; `eventSource` names the service's own events.
  ServiceModule(const char* program, const char* serviceName, const char* description, const char* eventSource,
                const char* pipeName);
  virtual ~ServiceModule();
  ServiceModule(const ServiceModule&) = delete;
  ServiceModule& operator=(const ServiceModule&) = delete;

  // The program: an administrative verb after '-' or '/' ("RegServer", "UnregServer",
  // "StartService", "StopService", "RegServerStartService"), else the service itself, in the
  // foreground. Returns the process's exit status.
  int WinMain(const std::vector<std::string>& arguments);
  // Which verb the command line names ("" for none): the text after a '-' or '/' up to the end
  // of the line is compared without case; a text that is no verb is passed over.
  static std::string FindVerb(const std::vector<std::string>& arguments);
  void PrintUsage() const;

  HRESULT Install();
  HRESULT Uninstall();
  HRESULT StartService();
  HRESULT StopService();

  // The whole run of the service; its exit code (a Win32 code, 0 after a normal stop).
  DWORD ServiceMain();

  // The stop control: state stop-pending, and the run loop (or the start-up) ends.
  void Handler();
  bool StopRequested() const { return stopRequested_; }
  void SetServiceStatus(DWORD state, const char* statusText = nullptr);
  DWORD State() const { return state_; }
  // True when the service runs as that account (null: as LocalSystem, uid 0).
  bool RunsAsAccount(const char* account) const;
  // One event of the service's own source, without strings or data.
  void LogEvent(DWORD eventId, WORD type);
  CEventLog& EventLog() { return eventLog_; }
  const std::string& ProgramName() const { return program_; }
  // The watchdog's interval in seconds and in timer milliseconds (0: no watchdog).
  DWORD WatchdogInterval() const { return interval_; }
  DWORD WatchdogMs() const;
  const char* ServiceName() const { return serviceName_.c_str(); }
  // The current time in the event log's UTC form.
  static std::string NowText();
  // A line on stderr, "<program>: <text>".
  void Say(const std::string& text) const;

  // Waits up to `ms` while serving the stop control; false when a stop was asked for. `handle`
  // (optional) ends the wait early when it is signalled.
  bool PumpFor(DWORD ms, HANDLE handle = nullptr);

  // Things the run loop waits for besides its pipe and its messages. The callback runs on the
  // loop's thread once, when the handle is signalled (true) or the deadline passed (false);
  // the watch is gone by then. The handle stays the caller's.
  using WatchId = uint64_t;
  WatchId Watch(HANDLE handle, uint64_t deadlineMs, std::function<void(bool signalled)> done);
  void Unwatch(WatchId id);

 protected:
  // The program's own start-up, after the stop control is in place: 0 to go on to Run, else
  // the service's exit code (the service then stops).
  virtual DWORD OnStart() = 0;
  // After Run returned, before the state is stopped.
  virtual void OnRunEnded() {}
  // A request of the service's pipe (Pipe() tells who asks).
  virtual DWORD OnRequest(DWORD msg, WPARAM wParam, LPARAM lParam) = 0;
  // One tick of the watchdog timer.
  virtual void OnWatchdogTick() = 0;
  // One watchdog check of another program over its pipe: `msg` with a time limit of at most
  // `limitMs` and the watchdog interval. An unreachable peer, a failed request or no answer in
  // time calls OnPeerSilent; an answer shows in the status. While a check waits for its answer,
  // further ticks leave the decision to it.
  void CheckPeer(const char* peerName, bool reachable, const char* pipeName, DWORD msg, DWORD limitMs);
  virtual void OnPeerSilent() {}
  // The units that RegServer writes (the first is the service's own) and UnregServer removes.
  virtual std::vector<vtx::service::UnitConfig> Units() const;
  // What else the installation and its removal do.
  virtual HRESULT OnInstalled(std::string* /*message*/) { return S_OK; }
  virtual void OnUninstalled() {}

  // The pipe server of the run (its caller's identity for the request being served).
  CPipeMessageServer& Pipe() { return pipe_; }
  // The folder of this program (its product folder).
  static std::string ProgramFolder();
  static std::string ProgramPath();

 private:
  struct WatchEntry {
    WatchId id;
    HANDLE handle;
    uint64_t deadline;
    std::function<void(bool)> done;
  };

  // The run loop; 0, or the code of a pipe that could not be served.
  DWORD Run();
  void ArmWatchdog();
  static void TimerProc(HWND, UINT, UINT_PTR, DWORD);
  static DWORD PipeHandler(DWORD_PTR context, DWORD msg, WPARAM wParam, LPARAM lParam);
  static LRESULT ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  bool CreateControlWindow();
  void DestroyControlWindow();
  void FireWatches(HANDLE signalled);

  std::string program_;
  std::string serviceName_;
  std::string description_;
  std::string eventSource_;
  std::string pipeName_;
  DWORD state_ = SERVICE_STOPPED;
  DWORD runThreadId_ = 0;
  bool stopRequested_ = false;
  HWND controlWindow_ = nullptr;
  UINT_PTR timer_ = 0;
  DWORD interval_ = 0;
  CPipeMessageServer pipe_;
  CEventLog eventLog_;
  std::vector<WatchEntry> watches_;
  PipePing peerPing_;
  WatchId peerWatch_ = 0;
  static ServiceModule* running_;
  WatchId nextWatch_ = 1;
};

}  // namespace vtx::svc
