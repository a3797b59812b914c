#include "platform/native/syscalls.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vtx::sys {

namespace {

// The C library's own, where its declaration differs from the table's entry only in the types a
// wrapper would have to spell.
int SetfsuidCall(uid_t uid) { return ::setfsuid(uid); }
int SetfsgidCall(gid_t gid) { return ::setfsgid(gid); }
int EventfdCall(unsigned initial, int flags) { return ::eventfd(initial, flags); }
int MemfdCall(const char* name, unsigned flags) { return ::memfd_create(name, flags); }
int StatCall(const char* path, struct stat* st) { return ::stat(path, st); }
int LstatCall(const char* path, struct stat* st) { return ::lstat(path, st); }
int FstatCall(int fd, struct stat* st) { return ::fstat(fd, st); }
int FstatatCall(int dir, const char* path, struct stat* st, int flags) { return ::fstatat(dir, path, st, flags); }
int StatvfsCall(const char* path, struct statvfs* st) { return ::statvfs(path, st); }
char* GetenvCall(const char* name) { return ::getenv(name); }
int SigactionCall(int signal, const struct sigaction* action, struct sigaction* old) {
  return ::sigaction(signal, action, old);
}
int CloseRangeCall(unsigned first, unsigned last, int flags) {
  return static_cast<int>(::syscall(SYS_close_range, first, last, flags));
}
int PidfdOpenCall(pid_t pid, unsigned flags) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, flags)); }
int GetrlimitCall(int resource, struct rlimit* limit) {
  return ::getrlimit(static_cast<__rlimit_resource_t>(resource), limit);
}
int SetrlimitCall(int resource, const struct rlimit* limit) {
  return ::setrlimit(static_cast<__rlimit_resource_t>(resource), limit);
}
int UnameCall(struct utsname* names) { return ::uname(names); }
// The raw call: the library's wrapper would change the groups of every thread.
int SetgroupsThreadCall(size_t count, const gid_t* groups) {
  return static_cast<int>(::syscall(SYS_setgroups, count, groups));
}

Table g_table = {
    ::open, ::openat, ::close, ::read, ::write, ::pread, ::pwrite, ::fsync, ::fdatasync, ::posix_fadvise, ::ftruncate,
    FstatCall, StatCall, LstatCall, FstatatCall, ::fcntl, ::flock, ::rename, ::unlink, ::unlinkat, ::mkdir, ::rmdir,
    ::chmod, ::fchmod, ::chown, ::lchown, ::fchown, ::access, ::readlink, ::realpath, ::link, ::symlink,
    ::opendir, ::fdopendir, ::readdir, ::closedir, StatvfsCall, ::dup, ::dup2, ::pipe2, ::chdir,
    ::umask,
    ::posix_fallocate,

    ::fork, ::execve, ::posix_spawn, ::waitpid, ::kill, ::setsid, ::setuid, ::setgid, ::setgroups,
    SetfsuidCall, SetfsgidCall, ::getpid, ::getuid, ::geteuid, ::getgid, ::getegid, ::getpwnam_r,
    ::getpwuid_r, ::getgrnam_r, ::getgrgid_r,

    ::socket, ::socketpair, ::connect, ::bind, ::listen, ::accept4, ::send, ::recv, ::sendmsg,
    ::recvmsg, ::shutdown, ::getsockopt, ::setsockopt, ::poll, ::epoll_create1, ::epoll_ctl,
    ::epoll_wait, EventfdCall, ::timerfd_create, ::inotify_init1, ::inotify_add_watch, MemfdCall,
    ::mmap, ::munmap,

    ::clock_gettime, ::nanosleep, GetenvCall, ::sysconf,

    ::getcwd, SigactionCall, ::sigprocmask, ::_exit, ::isatty, ::getsockname, ::sigwait,
    ::sendto, ::setpgid, CloseRangeCall, PidfdOpenCall, ::timerfd_settime, GetrlimitCall, SetrlimitCall,
    ::gethostname, UnameCall, ::getaddrinfo, ::freeaddrinfo, ::getgrouplist, ::getgroups, SetgroupsThreadCall,
    ::lseek,
};

// A plan belongs to the thread that armed it.
struct Plan {
  long nth = -1;
  int error = 0;
  faults::Kind kind = faults::Kind::kError;
  bool sticky = false;
  long counted = 0;
  const char* hit = nullptr;
};
thread_local Plan t_plan;

// Counts a call that can fail; true when it is to fail (errno is then set).
bool Fails(const char* name) {
  Plan& p = t_plan;
  if (p.nth < 0 || p.kind != faults::Kind::kError) return false;
  long index = p.counted++;
  if (index != p.nth && !(p.sticky && index > p.nth)) return false;
  if (!p.hit) p.hit = name;
  errno = p.error;
  return true;
}

// The same for a call that moves bytes: false when it is to fail, else `*size` is what it may move.
bool Moves(const char* name, size_t* size) {
  Plan& p = t_plan;
  if (p.nth < 0) return true;
  long index = p.counted++;
  if (index != p.nth && !(p.sticky && index > p.nth)) return true;
  if (!p.hit) p.hit = name;
  if (p.kind == faults::Kind::kShort) {
    if (*size > 1) *size /= 2;
    return true;
  }
  errno = p.error;
  return false;
}

}  // namespace

Table& Calls() { return g_table; }

#define VTX_COUNTED(name, failure, call) \
  do {                                   \
    if (Fails(name)) return failure;     \
    return call;                         \
  } while (0)

int Open(const char* path, int flags, mode_t mode) { VTX_COUNTED("open", -1, g_table.open(path, flags, mode)); }
int OpenAt(int dir, const char* path, int flags, mode_t mode) {
  VTX_COUNTED("openat", -1, g_table.openat(dir, path, flags, mode));
}
int Close(int fd) {
  // A close that is made to fail still closes, as close(2) does.
  if (Fails("close")) {
    int e = errno;
    g_table.close(fd);
    errno = e;
    return -1;
  }
  return g_table.close(fd);
}
ssize_t Read(int fd, void* buffer, size_t size) {
  if (!Moves("read", &size)) return -1;
  return g_table.read(fd, buffer, size);
}
ssize_t Write(int fd, const void* data, size_t size) {
  if (!Moves("write", &size)) return -1;
  return g_table.write(fd, data, size);
}
ssize_t Pread(int fd, void* buffer, size_t size, off_t offset) {
  if (!Moves("pread", &size)) return -1;
  return g_table.pread(fd, buffer, size, offset);
}
ssize_t Pwrite(int fd, const void* data, size_t size, off_t offset) {
  if (!Moves("pwrite", &size)) return -1;
  return g_table.pwrite(fd, data, size, offset);
}
int Fsync(int fd) { VTX_COUNTED("fsync", -1, g_table.fsync(fd)); }
int Fdatasync(int fd) { VTX_COUNTED("fdatasync", -1, g_table.fdatasync(fd)); }
int Fadvise(int fd, off_t offset, off_t size, int advice) { return g_table.posix_fadvise(fd, offset, size, advice); }
int Ftruncate(int fd, off_t size) { VTX_COUNTED("ftruncate", -1, g_table.ftruncate(fd, size)); }
int Fstat(int fd, struct stat* st) { VTX_COUNTED("fstat", -1, g_table.fstat(fd, st)); }
int Stat(const char* path, struct stat* st) { VTX_COUNTED("stat", -1, g_table.stat(path, st)); }
int Lstat(const char* path, struct stat* st) { VTX_COUNTED("lstat", -1, g_table.lstat(path, st)); }
int FstatAt(int dir, const char* path, struct stat* st, int flags) {
  VTX_COUNTED("fstatat", -1, g_table.fstatat(dir, path, st, flags));
}
int Fcntl(int fd, int command, int argument) { VTX_COUNTED("fcntl", -1, g_table.fcntl(fd, command, argument)); }
// Releasing a lock is not made to fail: on a local file it does not, and SQLite's read path takes
// no account of a failed release, so its own table of the process's locks would keep the lock.
int Fcntl(int fd, int command, struct flock* lock) {
  bool release = lock && lock->l_type == F_UNLCK &&
                 (command == F_SETLK || command == F_SETLKW || command == F_OFD_SETLK || command == F_OFD_SETLKW);
  if (release) return g_table.fcntl(fd, command, lock);
  VTX_COUNTED("fcntl", -1, g_table.fcntl(fd, command, lock));
}
int Flock(int fd, int operation) {
  if ((operation & ~LOCK_NB) == LOCK_UN) return g_table.flock(fd, operation);
  VTX_COUNTED("flock", -1, g_table.flock(fd, operation));
}
int Rename(const char* from, const char* to) { VTX_COUNTED("rename", -1, g_table.rename(from, to)); }
int Unlink(const char* path) { VTX_COUNTED("unlink", -1, g_table.unlink(path)); }
int UnlinkAt(int dir, const char* path, int flags) { VTX_COUNTED("unlinkat", -1, g_table.unlinkat(dir, path, flags)); }
int Mkdir(const char* path, mode_t mode) { VTX_COUNTED("mkdir", -1, g_table.mkdir(path, mode)); }
int Rmdir(const char* path) { VTX_COUNTED("rmdir", -1, g_table.rmdir(path)); }
int Chmod(const char* path, mode_t mode) { VTX_COUNTED("chmod", -1, g_table.chmod(path, mode)); }
int Fchmod(int fd, mode_t mode) { VTX_COUNTED("fchmod", -1, g_table.fchmod(fd, mode)); }
int Chown(const char* path, uid_t uid, gid_t gid) { VTX_COUNTED("chown", -1, g_table.chown(path, uid, gid)); }
int Lchown(const char* path, uid_t uid, gid_t gid) { VTX_COUNTED("lchown", -1, g_table.lchown(path, uid, gid)); }
int Fchown(int fd, uid_t uid, gid_t gid) { VTX_COUNTED("fchown", -1, g_table.fchown(fd, uid, gid)); }
int Access(const char* path, int mode) { VTX_COUNTED("access", -1, g_table.access(path, mode)); }
ssize_t Readlink(const char* path, char* buffer, size_t size) {
  VTX_COUNTED("readlink", -1, g_table.readlink(path, buffer, size));
}
char* Realpath(const char* path, char* resolved) { VTX_COUNTED("realpath", nullptr, g_table.realpath(path, resolved)); }
int Link(const char* from, const char* to) { VTX_COUNTED("link", -1, g_table.link(from, to)); }
int Symlink(const char* target, const char* path) { VTX_COUNTED("symlink", -1, g_table.symlink(target, path)); }
DIR* Opendir(const char* path) { VTX_COUNTED("opendir", nullptr, g_table.opendir(path)); }
DIR* Fdopendir(int fd) { VTX_COUNTED("fdopendir", nullptr, g_table.fdopendir(fd)); }
struct dirent* Readdir(DIR* dir) { VTX_COUNTED("readdir", nullptr, g_table.readdir(dir)); }
int Closedir(DIR* dir) {
  if (Fails("closedir")) {
    int e = errno;
    g_table.closedir(dir);
    errno = e;
    return -1;
  }
  return g_table.closedir(dir);
}
int Statvfs(const char* path, struct statvfs* st) { VTX_COUNTED("statvfs", -1, g_table.statvfs(path, st)); }
int Dup(int fd) { VTX_COUNTED("dup", -1, g_table.dup(fd)); }
int Dup2(int fd, int target) { VTX_COUNTED("dup2", -1, g_table.dup2(fd, target)); }
int Pipe2(int fds[2], int flags) { VTX_COUNTED("pipe2", -1, g_table.pipe2(fds, flags)); }
int Chdir(const char* path) { VTX_COUNTED("chdir", -1, g_table.chdir(path)); }
mode_t Umask(mode_t mask) { return g_table.umask(mask); }
int Fallocate(int fd, off_t offset, off_t length) {
  if (Fails("posix_fallocate")) return errno;
  return g_table.posix_fallocate(fd, offset, length);
}

pid_t Fork() {
  if (Fails("fork")) return -1;
  pid_t pid = g_table.fork();
  if (pid == 0) t_plan = Plan{};  // the faults were armed for the parent's calls
  return pid;
}
int Execve(const char* path, char* const argv[], char* const envp[]) { return g_table.execve(path, argv, envp); }
int PosixSpawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
               const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
  // posix_spawn reports its error as its value, not in errno.
  if (Fails("posix_spawn")) return errno;
  return g_table.posix_spawn(pid, path, actions, attributes, argv, envp);
}
pid_t Waitpid(pid_t pid, int* status, int options) { VTX_COUNTED("waitpid", -1, g_table.waitpid(pid, status, options)); }
int Kill(pid_t pid, int signal) { VTX_COUNTED("kill", -1, g_table.kill(pid, signal)); }
pid_t Setsid() { VTX_COUNTED("setsid", -1, g_table.setsid()); }
int Setuid(uid_t uid) { VTX_COUNTED("setuid", -1, g_table.setuid(uid)); }
int Setgid(gid_t gid) { VTX_COUNTED("setgid", -1, g_table.setgid(gid)); }
int Setgroups(size_t count, const gid_t* groups) { VTX_COUNTED("setgroups", -1, g_table.setgroups(count, groups)); }
int Setfsuid(uid_t uid) { return g_table.setfsuid(uid); }
int Setfsgid(gid_t gid) { return g_table.setfsgid(gid); }
pid_t Getpid() { return g_table.getpid(); }
uid_t Getuid() { return g_table.getuid(); }
uid_t Geteuid() { return g_table.geteuid(); }
gid_t Getgid() { return g_table.getgid(); }
gid_t Getegid() { return g_table.getegid(); }
// The account database reports its errors as its value.
int GetpwnamR(const char* name, struct passwd* entry, char* buffer, size_t size, struct passwd** found) {
  if (Fails("getpwnam_r")) return *found = nullptr, errno;
  return g_table.getpwnam_r(name, entry, buffer, size, found);
}
int GetpwuidR(uid_t uid, struct passwd* entry, char* buffer, size_t size, struct passwd** found) {
  if (Fails("getpwuid_r")) return *found = nullptr, errno;
  return g_table.getpwuid_r(uid, entry, buffer, size, found);
}
int GetgrnamR(const char* name, struct group* entry, char* buffer, size_t size, struct group** found) {
  if (Fails("getgrnam_r")) return *found = nullptr, errno;
  return g_table.getgrnam_r(name, entry, buffer, size, found);
}
int GetgrgidR(gid_t gid, struct group* entry, char* buffer, size_t size, struct group** found) {
  if (Fails("getgrgid_r")) return *found = nullptr, errno;
  return g_table.getgrgid_r(gid, entry, buffer, size, found);
}

int Socket(int domain, int type, int protocol) { VTX_COUNTED("socket", -1, g_table.socket(domain, type, protocol)); }
int Socketpair(int domain, int type, int protocol, int fds[2]) {
  VTX_COUNTED("socketpair", -1, g_table.socketpair(domain, type, protocol, fds));
}
int Connect(int fd, const struct sockaddr* address, socklen_t size) {
  VTX_COUNTED("connect", -1, g_table.connect(fd, address, size));
}
int Bind(int fd, const struct sockaddr* address, socklen_t size) { VTX_COUNTED("bind", -1, g_table.bind(fd, address, size)); }
int Listen(int fd, int backlog) { VTX_COUNTED("listen", -1, g_table.listen(fd, backlog)); }
int Accept4(int fd, struct sockaddr* address, socklen_t* size, int flags) {
  VTX_COUNTED("accept4", -1, g_table.accept4(fd, address, size, flags));
}
ssize_t Send(int fd, const void* data, size_t size, int flags) {
  if (!Moves("send", &size)) return -1;
  return g_table.send(fd, data, size, flags);
}
ssize_t Recv(int fd, void* buffer, size_t size, int flags) {
  if (!Moves("recv", &size)) return -1;
  return g_table.recv(fd, buffer, size, flags);
}
ssize_t Sendmsg(int fd, const struct msghdr* message, int flags) {
  VTX_COUNTED("sendmsg", -1, g_table.sendmsg(fd, message, flags));
}
ssize_t Recvmsg(int fd, struct msghdr* message, int flags) {
  VTX_COUNTED("recvmsg", -1, g_table.recvmsg(fd, message, flags));
}
int Shutdown(int fd, int how) { VTX_COUNTED("shutdown", -1, g_table.shutdown(fd, how)); }
int Getsockopt(int fd, int level, int name, void* value, socklen_t* size) {
  VTX_COUNTED("getsockopt", -1, g_table.getsockopt(fd, level, name, value, size));
}
int Setsockopt(int fd, int level, int name, const void* value, socklen_t size) {
  VTX_COUNTED("setsockopt", -1, g_table.setsockopt(fd, level, name, value, size));
}
int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) { VTX_COUNTED("poll", -1, g_table.poll(fds, count, timeoutMs)); }
int EpollCreate1(int flags) { VTX_COUNTED("epoll_create1", -1, g_table.epoll_create1(flags)); }
int EpollCtl(int epoll, int operation, int fd, struct epoll_event* event) {
  VTX_COUNTED("epoll_ctl", -1, g_table.epoll_ctl(epoll, operation, fd, event));
}
int EpollWait(int epoll, struct epoll_event* events, int max, int timeoutMs) {
  VTX_COUNTED("epoll_wait", -1, g_table.epoll_wait(epoll, events, max, timeoutMs));
}
int Eventfd(unsigned initial, int flags) { VTX_COUNTED("eventfd", -1, g_table.eventfd(initial, flags)); }
int TimerfdCreate(int clock, int flags) { VTX_COUNTED("timerfd_create", -1, g_table.timerfd_create(clock, flags)); }
int InotifyInit1(int flags) { VTX_COUNTED("inotify_init1", -1, g_table.inotify_init1(flags)); }
int InotifyAddWatch(int fd, const char* path, uint32_t mask) {
  VTX_COUNTED("inotify_add_watch", -1, g_table.inotify_add_watch(fd, path, mask));
}
int MemfdCreate(const char* name, unsigned flags) { VTX_COUNTED("memfd_create", -1, g_table.memfd_create(name, flags)); }
void* Mmap(void* address, size_t size, int protection, int flags, int fd, off_t offset) {
  VTX_COUNTED("mmap", MAP_FAILED, g_table.mmap(address, size, protection, flags, fd, offset));
}
int Munmap(void* address, size_t size) { return g_table.munmap(address, size); }

char* Getcwd(char* buffer, size_t size) { VTX_COUNTED("getcwd", nullptr, g_table.getcwd(buffer, size)); }
int Sigaction(int signal, const struct sigaction* action, struct sigaction* old) {
  VTX_COUNTED("sigaction", -1, g_table.sigaction(signal, action, old));
}
int Sigprocmask(int how, const sigset_t* set, sigset_t* old) {
  VTX_COUNTED("sigprocmask", -1, g_table.sigprocmask(how, set, old));
}
void Exit(int status) {
  g_table.exit(status);
  ::_exit(status);  // a replaced entry that returns does not keep the process alive
}
int Isatty(int fd) { VTX_COUNTED("isatty", 0, g_table.isatty(fd)); }
int Getsockname(int fd, struct sockaddr* address, socklen_t* size) {
  VTX_COUNTED("getsockname", -1, g_table.getsockname(fd, address, size));
}
int Sigwait(const sigset_t* set, int* signal) {
  // The error is the value, as sigwait(3) gives it.
  if (Fails("sigwait")) return errno;
  return g_table.sigwait(set, signal);
}
ssize_t Sendto(int fd, const void* data, size_t size, int flags, const struct sockaddr* to, socklen_t toSize) {
  VTX_COUNTED("sendto", -1, g_table.sendto(fd, data, size, flags, to, toSize));
}
int Setpgid(pid_t pid, pid_t group) { VTX_COUNTED("setpgid", -1, g_table.setpgid(pid, group)); }
int CloseRange(unsigned first, unsigned last, int flags) {
  VTX_COUNTED("close_range", -1, g_table.close_range(first, last, flags));
}
int PidfdOpen(pid_t pid, unsigned flags) { VTX_COUNTED("pidfd_open", -1, g_table.pidfd_open(pid, flags)); }
int TimerfdSettime(int fd, int flags, const struct itimerspec* value, struct itimerspec* old) {
  VTX_COUNTED("timerfd_settime", -1, g_table.timerfd_settime(fd, flags, value, old));
}
int Getrlimit(int resource, struct rlimit* limit) { VTX_COUNTED("getrlimit", -1, g_table.getrlimit(resource, limit)); }
int Setrlimit(int resource, const struct rlimit* limit) {
  VTX_COUNTED("setrlimit", -1, g_table.setrlimit(resource, limit));
}
int Gethostname(char* name, size_t size) { VTX_COUNTED("gethostname", -1, g_table.gethostname(name, size)); }
int Uname(struct utsname* names) { VTX_COUNTED("uname", -1, g_table.uname(names)); }
int Getaddrinfo(const char* host, const char* service, const struct addrinfo* hints, struct addrinfo** list) {
  VTX_COUNTED("getaddrinfo", EAI_SYSTEM, g_table.getaddrinfo(host, service, hints, list));
}
void Freeaddrinfo(struct addrinfo* list) { g_table.freeaddrinfo(list); }
int Getgrouplist(const char* user, gid_t group, gid_t* groups, int* count) {
  VTX_COUNTED("getgrouplist", -1, g_table.getgrouplist(user, group, groups, count));
}
int Getgroups(int size, gid_t* groups) { return g_table.getgroups(size, groups); }
int SetgroupsThread(size_t count, const gid_t* groups) {
  VTX_COUNTED("setgroups", -1, g_table.setgroups_thread(count, groups));
}
off_t Lseek(int fd, off_t offset, int whence) { VTX_COUNTED("lseek", -1, g_table.lseek(fd, offset, whence)); }

#undef VTX_COUNTED

int ClockGettime(clockid_t clock, struct timespec* now) { return g_table.clock_gettime(clock, now); }
void SleepMs(unsigned ms) {
  struct timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (g_table.nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
const char* Getenv(const char* name) { return g_table.getenv(name); }
long Sysconf(int name) { return g_table.sysconf(name); }

namespace faults {

void FailCall(long nth, int error, Kind kind, bool sticky) { t_plan = Plan{nth, error, kind, sticky, 0, nullptr}; }
long Counted() { return t_plan.counted; }
bool Hit() { return t_plan.hit != nullptr; }
const char* HitName() { return t_plan.hit ? t_plan.hit : ""; }

}  // namespace faults

}  // namespace vtx::sys
