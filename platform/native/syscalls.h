// The native seam: every system call the product makes goes through one table of function
// pointers, so that a test can replace a call or make it fail at a chosen point. The functions
// below behave as the calls they are named after (return values and errno included) and take
// interruptions as those calls do: a caller that needs EINTR handled handles it.
#pragma once
#include <dirent.h>
#include <fcntl.h>  // struct flock, which Fcntl names: else it would be a type of its own here
#include <poll.h>
#include <pwd.h>
#include <grp.h>
#include <netdb.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/utsname.h>
#include <time.h>

#include <cstddef>
#include <cstdint>

namespace vtx::sys {

// The calls themselves. A test may point an entry elsewhere (and must put it back).
struct Table {
  int (*open)(const char*, int, ...);
  int (*openat)(int, const char*, int, ...);
  int (*close)(int);
  ssize_t (*read)(int, void*, size_t);
  ssize_t (*write)(int, const void*, size_t);
  ssize_t (*pread)(int, void*, size_t, off_t);
  ssize_t (*pwrite)(int, const void*, size_t, off_t);
  int (*fsync)(int);
  int (*fdatasync)(int);
  int (*posix_fadvise)(int, off_t, off_t, int);
  int (*ftruncate)(int, off_t);
  int (*fstat)(int, struct stat*);
  int (*stat)(const char*, struct stat*);
  int (*lstat)(const char*, struct stat*);
  int (*fstatat)(int, const char*, struct stat*, int);
  int (*fcntl)(int, int, ...);
  int (*flock)(int, int);
  int (*rename)(const char*, const char*);
  int (*unlink)(const char*);
  int (*unlinkat)(int, const char*, int);
  int (*mkdir)(const char*, mode_t);
  int (*rmdir)(const char*);
  int (*chmod)(const char*, mode_t);
  int (*fchmod)(int, mode_t);
  int (*chown)(const char*, uid_t, gid_t);
  int (*lchown)(const char*, uid_t, gid_t);
  int (*fchown)(int, uid_t, gid_t);
  int (*access)(const char*, int);
  ssize_t (*readlink)(const char*, char*, size_t);
  char* (*realpath)(const char*, char*);
  int (*link)(const char*, const char*);
  int (*symlink)(const char*, const char*);
  DIR* (*opendir)(const char*);
  DIR* (*fdopendir)(int);
  struct dirent* (*readdir)(DIR*);
  int (*closedir)(DIR*);
  int (*statvfs)(const char*, struct statvfs*);
  int (*dup)(int);
  int (*dup2)(int, int);
  int (*pipe2)(int*, int);
  int (*chdir)(const char*);
  mode_t (*umask)(mode_t);
  int (*posix_fallocate)(int, off_t, off_t);

  pid_t (*fork)();
  int (*execve)(const char*, char* const*, char* const*);
  int (*posix_spawn)(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                     char* const*, char* const*);
  pid_t (*waitpid)(pid_t, int*, int);
  int (*kill)(pid_t, int);
  pid_t (*setsid)();
  int (*setuid)(uid_t);
  int (*setgid)(gid_t);
  int (*setgroups)(size_t, const gid_t*);
  int (*setfsuid)(uid_t);
  int (*setfsgid)(gid_t);
  pid_t (*getpid)();
  uid_t (*getuid)();
  uid_t (*geteuid)();
  gid_t (*getgid)();
  gid_t (*getegid)();
  int (*getpwnam_r)(const char*, struct passwd*, char*, size_t, struct passwd**);
  int (*getpwuid_r)(uid_t, struct passwd*, char*, size_t, struct passwd**);
  int (*getgrnam_r)(const char*, struct group*, char*, size_t, struct group**);
  int (*getgrgid_r)(gid_t, struct group*, char*, size_t, struct group**);

  int (*socket)(int, int, int);
  int (*socketpair)(int, int, int, int*);
  int (*connect)(int, const struct sockaddr*, socklen_t);
  int (*bind)(int, const struct sockaddr*, socklen_t);
  int (*listen)(int, int);
  int (*accept4)(int, struct sockaddr*, socklen_t*, int);
  ssize_t (*send)(int, const void*, size_t, int);
  ssize_t (*recv)(int, void*, size_t, int);
  ssize_t (*sendmsg)(int, const struct msghdr*, int);
  ssize_t (*recvmsg)(int, struct msghdr*, int);
  int (*shutdown)(int, int);
  int (*getsockopt)(int, int, int, void*, socklen_t*);
  int (*setsockopt)(int, int, int, const void*, socklen_t);
  int (*poll)(struct pollfd*, nfds_t, int);
  int (*epoll_create1)(int);
  int (*epoll_ctl)(int, int, int, struct epoll_event*);
  int (*epoll_wait)(int, struct epoll_event*, int, int);
  int (*eventfd)(unsigned, int);
  int (*timerfd_create)(int, int);
  int (*inotify_init1)(int);
  int (*inotify_add_watch)(int, const char*, uint32_t);
  int (*memfd_create)(const char*, unsigned);
  void* (*mmap)(void*, size_t, int, int, int, off_t);
  int (*munmap)(void*, size_t);

  int (*clock_gettime)(clockid_t, struct timespec*);
  int (*nanosleep)(const struct timespec*, struct timespec*);
  char* (*getenv)(const char*);
  long (*sysconf)(int);

  char* (*getcwd)(char*, size_t);
  int (*sigaction)(int, const struct sigaction*, struct sigaction*);
  int (*sigprocmask)(int, const sigset_t*, sigset_t*);
  void (*exit)(int);
  int (*isatty)(int);
  int (*getsockname)(int, struct sockaddr*, socklen_t*);
  int (*sigwait)(const sigset_t*, int*);
  ssize_t (*sendto)(int, const void*, size_t, int, const struct sockaddr*, socklen_t);
  int (*setpgid)(pid_t, pid_t);
  int (*close_range)(unsigned, unsigned, int);
  int (*pidfd_open)(pid_t, unsigned);
  int (*timerfd_settime)(int, int, const struct itimerspec*, struct itimerspec*);
  int (*getrlimit)(int, struct rlimit*);
  int (*setrlimit)(int, const struct rlimit*);
  int (*gethostname)(char*, size_t);
  int (*uname)(struct utsname*);
  int (*getaddrinfo)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
  void (*freeaddrinfo)(struct addrinfo*);
  int (*getgrouplist)(const char*, gid_t, gid_t*, int*);
  int (*getgroups)(int, gid_t*);
  int (*setgroups_thread)(size_t, const gid_t*);
  off_t (*lseek)(int, off_t, int);
};

// The table in use; its entries start as the C library's.
Table& Calls();

int Open(const char* path, int flags, mode_t mode = 0);
int OpenAt(int dir, const char* path, int flags, mode_t mode = 0);
int Close(int fd);
ssize_t Read(int fd, void* buffer, size_t size);
ssize_t Write(int fd, const void* data, size_t size);
ssize_t Pread(int fd, void* buffer, size_t size, off_t offset);
ssize_t Pwrite(int fd, const void* data, size_t size, off_t offset);
int Fsync(int fd);
int Fdatasync(int fd);
// A hint about how a file will be read: its failure changes nothing, so it is not counted. The
// error is the value, as posix_fadvise(3) gives it.
int Fadvise(int fd, off_t offset, off_t size, int advice);
int Ftruncate(int fd, off_t size);
int Fstat(int fd, struct stat* st);
int Stat(const char* path, struct stat* st);
int Lstat(const char* path, struct stat* st);
int FstatAt(int dir, const char* path, struct stat* st, int flags);
// fcntl(2) for the commands that take no argument or an int, and for the record locks.
int Fcntl(int fd, int command, int argument = 0);
int Fcntl(int fd, int command, struct flock* lock);
int Flock(int fd, int operation);
int Rename(const char* from, const char* to);
int Unlink(const char* path);
int UnlinkAt(int dir, const char* path, int flags);
int Mkdir(const char* path, mode_t mode);
int Rmdir(const char* path);
int Chmod(const char* path, mode_t mode);
int Fchmod(int fd, mode_t mode);
int Chown(const char* path, uid_t uid, gid_t gid);
int Lchown(const char* path, uid_t uid, gid_t gid);
int Fchown(int fd, uid_t uid, gid_t gid);
int Access(const char* path, int mode);
ssize_t Readlink(const char* path, char* buffer, size_t size);
char* Realpath(const char* path, char* resolved);
int Link(const char* from, const char* to);
int Symlink(const char* target, const char* path);
DIR* Opendir(const char* path);
DIR* Fdopendir(int fd);
struct dirent* Readdir(DIR* dir);
int Closedir(DIR* dir);
int Statvfs(const char* path, struct statvfs* st);
int Dup(int fd);
int Dup2(int fd, int target);
int Pipe2(int fds[2], int flags);
int Chdir(const char* path);
mode_t Umask(mode_t mask);
// posix_fallocate(3): the error number as its value, 0 on success.
int Fallocate(int fd, off_t offset, off_t length);

pid_t Fork();
int Execve(const char* path, char* const argv[], char* const envp[]);
int PosixSpawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
               const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]);
pid_t Waitpid(pid_t pid, int* status, int options);
int Kill(pid_t pid, int signal);
pid_t Setsid();
int Setuid(uid_t uid);
int Setgid(gid_t gid);
int Setgroups(size_t count, const gid_t* groups);
// The previous file-system id, as setfsuid(2); -1 asks without changing it.
int Setfsuid(uid_t uid);
int Setfsgid(gid_t gid);
pid_t Getpid();
uid_t Getuid();
uid_t Geteuid();
gid_t Getgid();
gid_t Getegid();
int GetpwnamR(const char* name, struct passwd* entry, char* buffer, size_t size, struct passwd** found);
int GetpwuidR(uid_t uid, struct passwd* entry, char* buffer, size_t size, struct passwd** found);
int GetgrnamR(const char* name, struct group* entry, char* buffer, size_t size, struct group** found);
int GetgrgidR(gid_t gid, struct group* entry, char* buffer, size_t size, struct group** found);

int Socket(int domain, int type, int protocol);
int Socketpair(int domain, int type, int protocol, int fds[2]);
int Connect(int fd, const struct sockaddr* address, socklen_t size);
int Bind(int fd, const struct sockaddr* address, socklen_t size);
int Listen(int fd, int backlog);
int Accept4(int fd, struct sockaddr* address, socklen_t* size, int flags);
ssize_t Send(int fd, const void* data, size_t size, int flags);
ssize_t Recv(int fd, void* buffer, size_t size, int flags);
ssize_t Sendmsg(int fd, const struct msghdr* message, int flags);
ssize_t Recvmsg(int fd, struct msghdr* message, int flags);
int Shutdown(int fd, int how);
int Getsockopt(int fd, int level, int name, void* value, socklen_t* size);
int Setsockopt(int fd, int level, int name, const void* value, socklen_t size);
int Poll(struct pollfd* fds, nfds_t count, int timeoutMs);
int EpollCreate1(int flags);
int EpollCtl(int epoll, int operation, int fd, struct epoll_event* event);
int EpollWait(int epoll, struct epoll_event* events, int max, int timeoutMs);
int Eventfd(unsigned initial, int flags);
int TimerfdCreate(int clock, int flags);
int InotifyInit1(int flags);
int InotifyAddWatch(int fd, const char* path, uint32_t mask);
int MemfdCreate(const char* name, unsigned flags);
void* Mmap(void* address, size_t size, int protection, int flags, int fd, off_t offset);
int Munmap(void* address, size_t size);

int ClockGettime(clockid_t clock, struct timespec* now);
// Sleeps `ms` milliseconds (again after an interruption, for the time that is left).
void SleepMs(unsigned ms);
// The variable's value, or null.
const char* Getenv(const char* name);
long Sysconf(int name);

char* Getcwd(char* buffer, size_t size);
int Sigaction(int signal, const struct sigaction* action, struct sigaction* old);
int Sigprocmask(int how, const sigset_t* set, sigset_t* old);
// _exit(2): ends the process at once (a child that could not start a program).
[[noreturn]] void Exit(int status);
int Isatty(int fd);
int Getsockname(int fd, struct sockaddr* address, socklen_t* size);
// sigwait(3): the error number as its value, 0 on success.
int Sigwait(const sigset_t* set, int* signal);
ssize_t Sendto(int fd, const void* data, size_t size, int flags, const struct sockaddr* to, socklen_t toSize);
int Setpgid(pid_t pid, pid_t group);
// close_range(2); flags as there (4 is CLOSE_RANGE_CLOEXEC).
int CloseRange(unsigned first, unsigned last, int flags);
// A descriptor that becomes readable when the process ends; -1 on a kernel without them.
int PidfdOpen(pid_t pid, unsigned flags);
int TimerfdSettime(int fd, int flags, const struct itimerspec* value, struct itimerspec* old);
int Getrlimit(int resource, struct rlimit* limit);
int Setrlimit(int resource, const struct rlimit* limit);
int Gethostname(char* name, size_t size);
int Uname(struct utsname* names);
// getaddrinfo(3): its own error codes as its value; an injected fault gives EAI_SYSTEM with errno.
int Getaddrinfo(const char* host, const char* service, const struct addrinfo* hints, struct addrinfo** list);
void Freeaddrinfo(struct addrinfo* list);
int Getgrouplist(const char* user, gid_t group, gid_t* groups, int* count);
int Getgroups(int size, gid_t* groups);
// setgroups(2) for the calling thread alone (the library's setgroups changes every thread).
int SetgroupsThread(size_t count, const gid_t* groups);
off_t Lseek(int fd, off_t offset, int whence);

// Tests: I/O faults, the way heap::FailAfter gives memory faults. Once armed, the calls that can
// fail (all but the clock, the environment, sleeping, the process's own ids and the release of a
// lock) are counted on
// the arming thread only, so that another thread's work does not move the count (nor a child's
// that the thread forks).
namespace faults {

enum class Kind {
  kError,  // the call fails with the error given
  kShort,  // a read or write moves half its bytes (at least one); only those calls count
};

// The `nth` counted call from now (0 is the next one) fails; with `sticky`, every call after it
// too. -1 disarms.
void FailCall(long nth, int error, Kind kind = Kind::kError, bool sticky = false);
// Counted calls since the last FailCall.
long Counted();
// Whether a call was made to fail since the last FailCall.
bool Hit();
// The name of the call that was made to fail first ("write", ...), or "".
const char* HitName();

}  // namespace faults

}  // namespace vtx::sys
