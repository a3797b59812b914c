// vtxwebservice: the SOAP host of the Vantrex web service.
//   vtxwebservice [--address A] [--port N] [--path /P] [--threads N] [--idle-timeout S]
// The idle time-out also bounds the time to receive a whole request.
// Defaults come from the registry values "WebServiceAddress", "WebServicePort", "WebServicePath" and
// "WebServiceThreads" under the application key, else 127.0.0.1, 8080, /Vantrex and 8 threads.
#include <libxml/parser.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "engine/foundation/regvalue.h"
#include "engine/notify/notifychannels.h"
#include "engine/notify/reachserver.h"
#include "engine/foundation/servercommands.h"
#include "platform/native/syscalls.h"
#include "platform/registry.h"
#include "webservice/httphost.h"
#include "webservice/web/service.h"
#include "webservice/web/operations.h"

namespace {

// The time that calls under way have to finish once the service is told to end.
constexpr int kStopSeconds = 5;
// Allocator arenas: more than the event loops and the calls that wait, one for each connection.
constexpr unsigned kArenas = 320;

bool ReadNumber(const char* text, unsigned long max, unsigned long* out) {
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 10);
  if (!*text || *end || v > max) return false;
  *out = v;
  return true;
}

const char kUsage[] =
    "usage: vtxwebservice [--address A] [--port N] [--path /P] [--threads N] [--idle-timeout S]\n"
    "The Vantrex SOAP web service: answers rate and conversion questions from the registry store\n"
    "($VANTREX_REGISTRY) over plain HTTP; the description is at <path>?wsdl. It runs until SIGTERM.\n"
    "  --address A        the numeric IPv4 or IPv6 address to listen on (default 127.0.0.1)\n"
    "  --port N           the port (default 8080; 0 takes a free one); a port in use is refused\n"
    "  --path /P          the service's path (default /Vantrex)\n"
    "  --threads N        1 to 256 (default 8): the event loops that read requests and answer\n"
    "                     quick calls; a call that waits (a validation program, the server)\n"
    "                     runs on a thread of its own. Up to 256 connections at once\n"
    "  --idle-timeout S   seconds before an idle connection is closed (default 30)\n"
    "The registry values WebServiceAddress, WebServicePort, WebServicePath and WebServiceThreads\n"
    "of the application key set the defaults. Failed calls are logged on stderr, at most a few lines\n"
    "a second with a count of those left out.\n";

int Usage(const char* why) {
  std::fprintf(stderr, "vtxwebservice: %s (vtxwebservice --help shows the usage)\n", why);
  return 2;
}

// The host's options as the application key sets them; the defaults where it does not.
vtx::soap::HostOptions StoredOptions() {
  vtx::soap::HostOptions opt;
  RegStringValueA s;
  if (SUCCEEDED(s.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "WebServiceAddress")) && s.GetString() && *s.GetString())
    opt.address = s.GetString();
  RegStringValueA p;
  if (SUCCEEDED(p.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "WebServicePath")) && p.GetString() && *p.GetString())
    opt.path = p.GetString();
  RegDwordValue port;
  if (SUCCEEDED(port.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "WebServicePort")) && port.m_dwValue <= 65535)
    opt.port = static_cast<uint16_t>(port.m_dwValue);
  RegDwordValue threads;
  if (SUCCEEDED(threads.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "WebServiceThreads")) && threads.m_dwValue >= 1 &&
      threads.m_dwValue <= 256)
    opt.threads = threads.m_dwValue;
  return opt;
}

// The command line over the stored options; the usage error, or empty.
std::string ReadArguments(int argc, char** argv, vtx::soap::HostOptions& opt) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a != "--address" && a != "--path" && a != "--port" && a != "--threads" && a != "--idle-timeout")
      return "unknown option " + a;
    if (i + 1 >= argc) return "missing value after " + a;
    const char* v = argv[++i];
    unsigned long n = 0;
    if (a == "--address") {
      opt.address = v;
    } else if (a == "--path") {
      if (v[0] != '/') return "the path must begin with '/'";
      opt.path = v;
    } else if (a == "--port") {
      if (!ReadNumber(v, 65535, &n)) return "bad port";
      opt.port = static_cast<uint16_t>(n);
    } else if (a == "--threads") {
      if (!ReadNumber(v, 256, &n) || n == 0) return "bad thread count";
      opt.threads = static_cast<unsigned>(n);
    } else if (a == "--idle-timeout") {
      if (!ReadNumber(v, 86400, &n) || n == 0) return "bad idle time-out";
      opt.idleTimeoutSeconds = static_cast<unsigned>(n);
    }
  }
  return {};
}

// The signals that end the host, taken by sigwait alone.
sigset_t BlockStopSignals() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGHUP);
  vtx::sys::Sigprocmask(SIG_BLOCK, &stop, nullptr);
  struct sigaction ignore{};
  ignore.sa_handler = SIG_IGN;
  vtx::sys::Sigaction(SIGPIPE, &ignore, nullptr);
  return stop;
}

}  // namespace

int main(int argc, char** argv) {
  // An arena of its own for each connection's thread: calls then never queue on the allocator.
  mallopt(M_ARENA_MAX, static_cast<int>(kArenas));
  // The server makes the store; a service that made an empty one would answer from nothing.
  vtx::RegistryNeverCreates(true);
  xmlInitParser();
  // Hit counts go to the server, validators with an account through the messenger.
  g_pfnSendVXVMessageTimeout = ::SendVXVMessageTimeout;
  g_pfnPipeExecute = [](const char* program, const char* parameters, const char* folder, const char* user,
                        const char* domain, const char* password, DWORD wait) {
    return ::PipeExecute(nullptr, program, parameters, folder, user, domain, password, wait ? TRUE : FALSE);
  };
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  vtx::soap::HostOptions opt = StoredOptions();
  std::string error = ReadArguments(argc, argv, opt);
  if (!error.empty()) return Usage(error.c_str());
  opt.mayWait = VantrexCallMayWait;
  sigset_t stop = BlockStopSignals();

  static const vtx::soap::Service service = MakeVantrexService();
  vtx::soap::HttpHost host(service);
  if (!host.Start(opt, &error)) {
    std::fprintf(stderr, "vtxwebservice: %s\n", error.c_str());
    return 1;
  }
  StartHitSender();
  std::printf("vtxwebservice listening on %s\n", host.Url().c_str());
  std::fflush(stdout);
  int sig = 0;
  vtx::sys::Sigwait(&stop, &sig);
  // A call that waits (a validation program, an update) may not hold the end of the service.
  std::thread([] {
    vtx::sys::SleepMs(kStopSeconds * 1000);
    static const char kLate[] = "vtxwebservice: calls still running; ending without their answers\n";
    ssize_t w = vtx::sys::Write(STDERR_FILENO, kLate, sizeof kLate - 1);
    (void)w;
    vtx::sys::Exit(0);
  }).detach();
  host.Stop();
  // The calls have ended: what they counted goes to the server before the program does.
  StopHitSender();
  xmlCleanupParser();
  return 0;
}
