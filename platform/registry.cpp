#include "platform/registry.h"

#include <fcntl.h>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstdarg>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/native/syscalls.h"
#include "platform/systime.h"

// Where the last enumeration of a handle stood, so that walking index by index inside one
// transaction goes on from there instead of counting from the start again.
struct RegEnumCursor {
  const void* conn = nullptr;
  uint64_t serial = 0;
  int64_t changes = -1;
  DWORD index = 0;
  int64_t lastId = 0;
  std::string lastFold;
};

struct VtxRegKey {
  VtxRegKey(uint32_t m, int64_t i, REGSAM a) : magic(m), id(i), access(a) {}
  uint32_t magic;
  int64_t id;
  REGSAM access;
  std::mutex lock;  // guards the cursors: a handle may be shared between threads
  RegEnumCursor keys, values;
};

namespace {

constexpr uint32_t kKeyMagic = 0x4B524756;  // "VGRK"
constexpr int kBusyTimeoutMs = 30000;
constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE_ACCESS;

using Name = std::u16string;

// The process id, kept current across fork: connections belong to the process that opened them.
pid_t g_pid = vtx::sys::Getpid();
// Set by the programs that only read: the store is opened read-only and never made, converted or
// switched to another journal.
bool g_readOnlyStore = false;
void AfterForkInChild() { g_pid = vtx::sys::Getpid(); }
const int g_forkHandler = pthread_atfork(nullptr, nullptr, AfterForkInChild);

// The values of one key, read in one statement inside a transaction and kept while nothing on the
// connection changes, so that a configuration read value by value costs one statement per key.
struct ValueCache {
  struct Row {
    Name name;
    DWORD type;
    std::string data;
  };
  uint64_t serial = 0, gen = 0;
  int64_t key = -1;
  bool filled = false;
  std::vector<Row> rows;
  std::unordered_map<std::string, size_t> byFold;
};

// ---- the published change generation ----------------------------------------------------------
// A word in a small file beside the store ("<store>-changes"), mapped shared by every process of the
// store: writers move it after each commit that moves the change counter, readers compare it with
// what they saw, without a transaction or a system call.

bool g_neverCreate = false;
uint64_t NowFileTime();

struct Published {
  Published(std::string store, std::atomic<uint64_t>* at, bool write) : path(std::move(store)), word(at), writable(write) {}
  std::string path;  // the store's
  std::atomic<uint64_t>* word = nullptr;
  bool writable = false;
};
static_assert(std::atomic<uint64_t>::is_always_lock_free, "the word is shared between processes");

std::mutex g_publishedLock;
// Kept to the end of the process: readers hold them without a lock.
std::vector<Published*>& g_published = *new std::vector<Published*>;
thread_local Published* t_published = nullptr;

std::string PublishedPath(const std::string& store) { return store + "-changes"; }

// Maps the word of a store; null when there is none to map (retried at the next call).
Published* MapPublished(const std::string& store, bool write) {
  const std::string path = PublishedPath(store);
  bool writable = true;
  int fd = vtx::sys::Open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    writable = false;
    fd = vtx::sys::Open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  }
  if (fd < 0 && errno == ENOENT && write) {
    // Made by a writer with the store's rights, so that whoever may write the store may move it.
    struct stat st{};
    if (vtx::sys::Stat(store.c_str(), &st) != 0) return nullptr;
    fd = vtx::sys::Open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, st.st_mode & 0666);
    if (fd >= 0) {
      if (vtx::sys::Geteuid() == 0 && vtx::sys::Fchown(fd, st.st_uid, st.st_gid) != 0) {
      }
      // It starts at the time it was made, so that the words of two stores never compare equal.
      const uint64_t first = NowFileTime();
      if (vtx::sys::Fchmod(fd, st.st_mode & 0666) != 0 ||
          vtx::sys::Pwrite(fd, &first, sizeof first, 0) != static_cast<ssize_t>(sizeof first)) {
        vtx::sys::Close(fd);
        vtx::sys::Unlink(path.c_str());
        return nullptr;
      }
    } else if (errno == EEXIST) {
      fd = vtx::sys::Open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    }
  }
  if (fd < 0) return nullptr;
  struct stat st{};
  void* at = MAP_FAILED;
  // A file still being made by another process is not there yet.
  if (vtx::sys::Fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= static_cast<off_t>(sizeof(uint64_t)))
    at = vtx::sys::Mmap(nullptr, sizeof(uint64_t), PROT_READ | (writable ? PROT_WRITE : 0), MAP_SHARED, fd, 0);
  vtx::sys::Close(fd);
  if (at == MAP_FAILED) return nullptr;
  auto* p = vtx::heap::New<Published>(store, static_cast<std::atomic<uint64_t>*>(at), writable);
  if (!p) vtx::sys::Munmap(at, sizeof(uint64_t));
  return p;
}

// The word of a store: this thread's, else the process's, else newly mapped.
Published* FindPublished(const std::string& store, bool write) {
  Published* p = t_published;
  if (p && p->path == store && (p->writable || !write)) return p;
  std::lock_guard<std::mutex> lock(g_publishedLock);
  for (Published* q : g_published)
    if (q->path == store && (q->writable || !write)) return t_published = q;
  p = MapPublished(store, write);
  if (!p) return nullptr;
  if (write && !p->writable) {
    // A writer that may not move the word: tried again at its next commit, never kept.
    vtx::sys::Munmap(p->word, sizeof(uint64_t));
    delete p;
    return nullptr;
  }
  g_published.push_back(p);
  return t_published = p;
}

// After a commit that moved the change counter: readers that compare the word read again.
void Publish(const std::string& store) {
  if (Published* p = FindPublished(store, true); p && p->writable) p->word->fetch_add(1, std::memory_order_seq_cst);
}

// ---- the connection of this thread -------------------------------------------------------------

struct Conn {
  sqlite3* db = nullptr;
  std::string path;
  pid_t pid = 0;
  bool readOnly = false;
  // No store exists and none can be made: reads see an empty store, writes get `openError`. With no
  // connection and `absent` clear, every call gets `openError`.
  bool absent = false;
  DWORD openError = ERROR_SUCCESS;
  int level = 0;  // open transaction scopes
  // The level of the outermost open read scope, 0 when none: nothing inside it may write, since its
  // end would undo the change after the change was reported done.
  int readLevel = 0;
  // Prepared statements: those of fixed text by the text's address, built ones by their text.
  std::unordered_map<const char*, sqlite3_stmt*> stmts;
  std::unordered_map<std::string, sqlite3_stmt*> built;
  uint64_t serial = 0;  // counts outer transactions, so that enumeration cursors know their snapshot
  // Moves with every change made or undone: what was read before may no longer hold.
  uint64_t gen = 0;
  // The level of the outermost open scope whose changes leave the change counter alone, 0 when none.
  int quietLevel = 0;
  // The open outer transaction holds changes that move the change counter at its commit.
  bool counted = false;
  ValueCache cache;
  // Moves when keys may have gone: deleted, or made and then undone. Inside a caller's transaction
  // a key found alive stays alive until it moves, and one key is stamped with its write time once.
  uint64_t shape = 0;
  struct KeyMark {
    int64_t id = 0;
    uint64_t serial = 0, shape = 0;
  } alive, touched;
  // Subkeys found by name inside a caller's transaction: (parent, fold) -> id, while `shape` holds.
  struct {
    uint64_t serial = 0, shape = 0;
    std::unordered_map<std::string, int64_t> ids;
  } children;
  bool Holds(const KeyMark& m, int64_t id) const { return level > 0 && m.id == id && m.serial == serial && m.shape == shape; }
  void Mark(KeyMark& m, int64_t id) {
    if (level > 0) m = KeyMark{id, serial, shape};
  }

  void Close() {
    // A connection inherited across fork belongs to the parent: leave it alone.
    if (db && pid == g_pid) {
      for (auto& s : stmts) sqlite3_finalize(s.second);
      for (auto& s : built) sqlite3_finalize(s.second);
      sqlite3_close_v2(db);
    }
    Forget();
  }
  // Drops the state of a connection that is closed, or that belongs to the parent after a fork.
  void Forget() {
    stmts.clear();
    built.clear();
    db = nullptr;
    readOnly = absent = false;
    openError = ERROR_SUCCESS;
    level = readLevel = quietLevel = 0;
    counted = false;
    cache = ValueCache();
    children.ids.clear();
  }
  ~Conn() { Close(); }
};

thread_local Conn t_conn;

DWORD FromSqlite(int rc, sqlite3* db = nullptr) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_PROTOCOL:  // the WAL's locks could not be had, however often they were tried
      return ERROR_BUSY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    case SQLITE_IOERR:
      return ERROR_REGISTRY_IO_FAILED;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ERROR_REGISTRY_CORRUPT;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    case SQLITE_CANTOPEN: {
      int e = db ? sqlite3_system_errno(db) : 0;
      return (e == EACCES || e == EPERM || e == EROFS) ? ERROR_ACCESS_DENIED : ERROR_CANTOPEN;
    }
    default:
      return ERROR_INTERNAL_ERROR;
  }
}

DWORD ExecScript(Conn& c, const char* sql) {
  return FromSqlite(sqlite3_exec(c.db, sql, nullptr, nullptr, nullptr), c.db);
}
DWORD Exec(Conn& c, const char* sql);
DWORD Exec(Conn& c, const std::string& sql);

uint64_t NowFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FileTimeToU64(now);
}

// ---- SQLite's system calls on the native seam ------------------------------------------------------
// SQLite's unix VFS makes its file calls through a table of its own; pointed at the seam, they fail
// where the seam's faults say, as the product's other file calls do. The seam's calls have the C
// library's signatures, which are SQLite's, but for open's mode and fcntl's variable argument.

int SqliteOpen(const char* path, int flags, int mode) { return vtx::sys::Open(path, flags, static_cast<mode_t>(mode)); }
int SqliteFcntl(int fd, int command, ...) {
  va_list arguments;
  va_start(arguments, command);
  int result;
  switch (command) {
    case F_GETLK:
    case F_SETLK:
    case F_SETLKW:
    case F_OFD_GETLK:
    case F_OFD_SETLK:
    case F_OFD_SETLKW:
      result = vtx::sys::Fcntl(fd, command, va_arg(arguments, struct flock*));
      break;
    case F_GETFD:
    case F_GETFL:
      result = vtx::sys::Fcntl(fd, command);
      break;
    default:
      result = vtx::sys::Fcntl(fd, command, va_arg(arguments, int));
  }
  va_end(arguments);
  return result;
}

template <class F>
sqlite3_syscall_ptr AsSyscall(F* call) {
  return reinterpret_cast<sqlite3_syscall_ptr>(call);
}

// Points the unix VFS's calls at the seam, once per process. A call that this SQLite does not
// make (a null entry) stays as it is; fsync and fdatasync are not in its table at all.
void RouteSqliteThroughSeam() {
  namespace sys = vtx::sys;
  static const bool routed = [] {
    const struct {
      const char* name;
      sqlite3_syscall_ptr call;
    } calls[] = {
        {"open", AsSyscall(SqliteOpen)},      {"close", AsSyscall(sys::Close)},
        {"access", AsSyscall(sys::Access)},   {"stat", AsSyscall(sys::Stat)},
        {"lstat", AsSyscall(sys::Lstat)},     {"fstat", AsSyscall(sys::Fstat)},
        {"ftruncate", AsSyscall(sys::Ftruncate)}, {"fcntl", AsSyscall(SqliteFcntl)},
        {"read", AsSyscall(sys::Read)},       {"pread", AsSyscall(sys::Pread)},
        {"pread64", AsSyscall(sys::Pread)},   {"write", AsSyscall(sys::Write)},
        {"pwrite", AsSyscall(sys::Pwrite)},   {"pwrite64", AsSyscall(sys::Pwrite)},
        {"fchmod", AsSyscall(sys::Fchmod)},   {"unlink", AsSyscall(sys::Unlink)},
        {"mkdir", AsSyscall(sys::Mkdir)},     {"rmdir", AsSyscall(sys::Rmdir)},
        {"fchown", AsSyscall(sys::Fchown)},   {"geteuid", AsSyscall(sys::Geteuid)},
        {"mmap", AsSyscall(sys::Mmap)},       {"munmap", AsSyscall(sys::Munmap)},
        {"readlink", AsSyscall(sys::Readlink)},
    };
    sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    if (!vfs || vfs->iVersion < 3 || !vfs->xSetSystemCall) return false;
    for (const auto& c : calls)
      if (vfs->xGetSystemCall(vfs, c.name)) vfs->xSetSystemCall(vfs, c.name, c.call);
    return true;
  }();
  (void)routed;
}

void MakeParentDirectory(const std::string& path) {
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] != '/') continue;
    std::string dir = path.substr(0, i);
    if (vtx::sys::Mkdir(dir.c_str(), 0750) != 0 && errno != EEXIST) return;
  }
}

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, name BLOB NOT NULL,"
    " fold BLOB NOT NULL, written INTEGER NOT NULL DEFAULT 0);"
    "CREATE UNIQUE INDEX IF NOT EXISTS keys_child ON keys(parent, fold);"
    "CREATE TABLE IF NOT EXISTS vals(id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL,"
    " name BLOB NOT NULL, fold BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS vals_name ON vals(key, fold);"
    "CREATE INDEX IF NOT EXISTS vals_key ON vals(key);"
    // The change counter: one row, moved by every committed transaction that changed something
    // (see RegistryChangeCount).
    "CREATE TABLE IF NOT EXISTS meta(id INTEGER PRIMARY KEY, changes INTEGER NOT NULL);"
    "PRAGMA user_version = 2;";
constexpr int kSchemaVersion = 2;

// The schema version of the store, -1 with `error` set when it cannot be read.
int SchemaVersion(sqlite3* db, DWORD& error) {
  sqlite3_stmt* s = nullptr;
  int v = -1;
  int rc = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) v = sqlite3_column_int(s, 0);
  else error = FromSqlite(rc, db);
  sqlite3_finalize(s);
  return v;
}

void InsertRoot(Conn& c, int64_t id, const char16_t* name);
void InsertCounter(Conn& c);

// True when the file holds tables of some other program's database: no store of ours, and never
// to be changed into one.
bool ForeignDatabase(sqlite3* db, int version) {
  sqlite3_stmt* s = nullptr;
  const char* sql = version == 0 ? "SELECT count(*) FROM sqlite_master"
                                 : "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('keys', 'vals')";
  int n = -1;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
    n = sqlite3_column_int(s, 0);
  sqlite3_finalize(s);
  return version == 0 ? n != 0 : n != 2;
}

// The schema version (-1 with `error` set when it cannot be read) and whether the file is another
// program's, read in one snapshot: a store that another process makes at this moment shows either
// no tables and version 0 or all of them.
int ReadSchema(sqlite3* db, bool* foreign, DWORD& error) {
  bool snapshot = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
  int version = SchemaVersion(db, error);
  *foreign = version >= 0 && ForeignDatabase(db, version);
  if (snapshot) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  return version;
}

// A read-only open of the store; a store on a read-only file system, whose WAL index cannot be
// made there, is read as an unchanging file.
int OpenToRead(const std::string& path, sqlite3** db, int* version, DWORD& error) {
  for (bool immutable : {false, true}) {
    std::string uri = "file:";
    for (char ch : path) {
      if (ch == '?' || ch == '#' || ch == '%') {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(ch));
        uri += hex;
      } else {
        uri += ch;
      }
    }
    if (immutable) uri += "?immutable=1";
    int rc = sqlite3_open_v2(uri.c_str(), db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
      error = ERROR_SUCCESS;
      *version = SchemaVersion(*db, error);
      if (*version >= 0) return SQLITE_OK;
      rc = SQLITE_ERROR;
    } else {
      error = FromSqlite(rc, *db);
    }
    sqlite3_close_v2(*db);
    *db = nullptr;
    struct statvfs fs{};
    if (immutable || vtx::sys::Statvfs(path.c_str(), &fs) != 0 || !(fs.f_flag & ST_RDONLY)) return rc;
  }
  return SQLITE_ERROR;
}

void Open(Conn& c, const std::string& path) {
  RouteSqliteThroughSeam();
  c.Close();
  c.path = path;
  c.pid = g_pid;
  sqlite3* db = nullptr;
  if (g_readOnlyStore) {
    struct stat st{};
    if (vtx::sys::Stat(path.c_str(), &st) != 0) {
      c.absent = true;
      c.openError = errno == ENOENT ? ERROR_ACCESS_DENIED : vtx::Win32FromErrno(errno);
      return;
    }
    int version = -1;
    DWORD error = ERROR_SUCCESS;
    if (OpenToRead(path, &db, &version, error) != SQLITE_OK) {
      c.openError = error ? error : ERROR_REGISTRY_CORRUPT;
      return;
    }
    c.db = db;
    c.readOnly = true;
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db, 0);
    bool foreign = false;
    version = ReadSchema(db, &foreign, error);
    if (version < 0 || foreign) {
      c.Close();
      c.openError = version < 0 ? error : ERROR_REGISTRY_CORRUPT;
    } else if (version == 0) {  // an empty file: an empty store
      c.Close();
      c.absent = true;
      c.openError = ERROR_ACCESS_DENIED;
    }
    return;
  }
  struct stat st{};
  if (g_neverCreate && vtx::sys::Stat(path.c_str(), &st) != 0) {
    c.openError = errno == ENOENT ? ERROR_FILE_NOT_FOUND : vtx::Win32FromErrno(errno);
    return;
  }
  MakeParentDirectory(path);
  if (vtx::sys::Stat(path.c_str(), &st) != 0) {
    int fd = vtx::sys::Open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0660);
    if (fd >= 0) {
      // The product's group administers the configuration: it may read and write the store.
      vtx::HandToProduct(fd, 0660);
      vtx::sys::Close(fd);
    } else if (errno != EEXIST) {
      // ENOENT: the directory could not be made either.
      int e = errno;
      c.absent = true;
      c.openError = (e == EACCES || e == EPERM || e == EROFS || e == ENOENT) ? ERROR_ACCESS_DENIED : vtx::Win32FromErrno(e);
      return;
    }
  }
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    c.openError = FromSqlite(rc, db);
    sqlite3_close_v2(db);
    return;
  }
  c.db = db;
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 0);
  c.readOnly = sqlite3_db_readonly(db, "main") == 1;
  DWORD error = ERROR_SUCCESS;
  bool foreign = false;
  int version = ReadSchema(db, &foreign, error);
  if (version < 0) {
    c.Close();
    c.openError = error;
    return;
  }
  // Another program's database is left as it is: no journal switch, no tables of ours added.
  if (foreign) {
    c.Close();
    c.openError = ERROR_REGISTRY_CORRUPT;
    return;
  }
  if (c.readOnly) {
    if (version == 0) {  // an empty file nobody may fill: an empty store
      c.Close();
      c.absent = true;
      c.openError = ERROR_ACCESS_DENIED;
    }
    return;
  }
  // Readers never wait for writers in WAL mode; NORMAL keeps the store whole through a crash of any
  // process (only a power loss may undo the last commits).
  Exec(c, "PRAGMA journal_mode=WAL");
  Exec(c, "PRAGMA synchronous=NORMAL");
  // Each call inside a caller's scope is a savepoint: keep their journals in memory.
  Exec(c, "PRAGMA temp_store=MEMORY");
  if (version == 0 && g_neverCreate) {  // an empty file: no store yet
    c.Close();
    c.openError = ERROR_FILE_NOT_FOUND;
    return;
  }
  // A new store, or one of an earlier schema: the script only adds what is missing.
  if (version < kSchemaVersion) {
    DWORD e = Exec(c, "BEGIN IMMEDIATE");
    if (e == ERROR_SUCCESS) {
      e = ExecScript(c, kSchema);
      if (e == ERROR_SUCCESS) {
        InsertRoot(c, 1, u"HKEY_CURRENT_USER");
        InsertRoot(c, 2, u"HKEY_LOCAL_MACHINE");
        InsertCounter(c);
        e = Exec(c, "COMMIT");
        if (e == ERROR_SUCCESS) Publish(path);
      }
      if (e != ERROR_SUCCESS) Exec(c, "ROLLBACK");
    }
    if (e != ERROR_SUCCESS) {
      c.Close();
      c.openError = e;
    }
  }
}

// The connection of this thread for the current store path; null when there is no store, with the
// error that writes get.
Conn* Connection() {
  Conn& c = t_conn;
  const char* path = vtx::RegistryStorePath();
  if (c.pid != g_pid) {
    c.Forget();  // inherited across fork; never touch it
    c.path.clear();
  }
  // A store that was missing may have been made since.
  bool same = c.db && c.path == path;
  if (!same && c.level == 0) Open(c, path);
  return &c;
}

// ERROR_SUCCESS when reads may go on: an open store, or none at all that nobody may make (it reads
// as empty); else the failure that met the store.
DWORD Usable(const Conn& c) {
  if (c.db) return ERROR_SUCCESS;
  if (c.absent) return ERROR_SUCCESS;
  return c.openError ? c.openError : ERROR_INTERNAL_ERROR;
}

// A prepared statement of this connection, reset when the holder goes. `sql` is a text of fixed
// address (a literal): the cache knows it by that address.
class Stmt {
 public:
  Stmt(Conn& c, const char* sql) {
    auto it = c.stmts.find(sql);
    if (it != c.stmts.end())
      s_ = it->second;
    else if (Prepare(c, sql))
      c.stmts[sql] = s_;
  }
  // A statement of built text, known by the text.
  Stmt(Conn& c, const std::string& sql) {
    auto it = c.built.find(sql);
    if (it != c.built.end())
      s_ = it->second;
    else if (Prepare(c, sql.c_str()))
      c.built[sql] = s_;
  }
  ~Stmt() {
    if (s_) {
      sqlite3_reset(s_);
      sqlite3_clear_bindings(s_);
    }
  }
  bool ok() const { return s_ != nullptr; }
  DWORD error() const { return err_; }
  Stmt& Int(int i, int64_t v) {
    if (s_) sqlite3_bind_int64(s_, i, v);
    return *this;
  }
  Stmt& Blob(int i, const void* p, size_t n) {
    if (s_) sqlite3_bind_blob64(s_, i, n ? p : "", n, SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Text16(int i, const Name& n) { return Blob(i, n.data(), n.size() * 2); }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() {
    if (!s_) return SQLITE_ERROR;
    return sqlite3_step(s_);
  }
  int64_t ColInt(int i) { return sqlite3_column_int64(s_, i); }
  bool ColNull(int i) { return sqlite3_column_type(s_, i) == SQLITE_NULL; }
  Name ColName(int i) {
    const void* p = sqlite3_column_blob(s_, i);
    int n = sqlite3_column_bytes(s_, i);
    Name out(static_cast<size_t>(n) / 2, u'\0');
    if (p && n >= 2) std::memcpy(out.data(), p, out.size() * 2);
    return out;
  }
  const BYTE* ColData(int i, DWORD& size) {
    const void* p = sqlite3_column_blob(s_, i);
    size = static_cast<DWORD>(sqlite3_column_bytes(s_, i));
    return static_cast<const BYTE*>(p);
  }

 private:
  bool Prepare(Conn& c, const char* sql) {
    if (sqlite3_prepare_v3(c.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s_, nullptr) == SQLITE_OK) return true;
    s_ = nullptr;
    err_ = FromSqlite(sqlite3_errcode(c.db), c.db);
    return false;
  }

  sqlite3_stmt* s_ = nullptr;
  DWORD err_ = ERROR_INTERNAL_ERROR;
};

// Runs one statement of the cache to its end.
DWORD Run(Conn& c, Stmt& s) {
  if (!s.ok()) return s.error();
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : FromSqlite(rc, c.db);
}
DWORD Exec(Conn& c, const char* sql) {
  Stmt s(c, sql);
  return Run(c, s);
}
DWORD Exec(Conn& c, const std::string& sql) {
  Stmt s(c, sql);
  return Run(c, s);
}

// A read transaction around the statements of one call, so that they see one state of the store
// and take its locks once. Inside a caller's scope it does nothing.
class ReadScope {
 public:
  explicit ReadScope(Conn& c) : c_(c) {
    if (!c.db || c.level > 0) return;
    if (Exec(c, "BEGIN") != ERROR_SUCCESS) return;
    open_ = true;
    ++c.serial;
    ++c.level;
  }
  ~ReadScope() {
    if (!open_) return;
    --c_.level;
    if (Exec(c_, "COMMIT") != ERROR_SUCCESS && !sqlite3_get_autocommit(c_.db)) Exec(c_, "ROLLBACK");
  }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  Conn& c_;
  bool open_ = false;
};

// The fold of a name: upper case, big-endian so that the bytes sort as the characters do.
std::string Fold(const Name& n) {
  std::string f(n.size() * 2, '\0');
  for (size_t i = 0; i < n.size(); ++i) {
    char16_t u = vtx::UnicodeUpper(n[i]);
    f[2 * i] = static_cast<char>(u >> 8);
    f[2 * i + 1] = static_cast<char>(u & 0xFF);
  }
  return f;
}

void InsertRoot(Conn& c, int64_t id, const char16_t* name) {
  Name n(name);
  std::string f = Fold(n);
  Stmt s(c, "INSERT OR IGNORE INTO keys(id, parent, name, fold, written) VALUES(?, 0, ?, ?, ?)");
  s.Int(1, id).Text16(2, n).Blob(3, f.data(), f.size()).Int(4, static_cast<int64_t>(NowFileTime()));
  s.Step();
}

// The counter starts at the time the store was made, so that a store made anew never repeats the
// counts of one that was there before.
void InsertCounter(Conn& c) {
  Stmt s(c, "INSERT OR IGNORE INTO meta(id, changes) VALUES(1, ?)");
  s.Int(1, static_cast<int64_t>(NowFileTime() & 0x7FFFFFFFFFFFFFFFull)).Step();
}

// A scope of `level` ends: the levels that it opened close with it.
void LeaveScope(Conn& c, int level) {
  c.level = level - 1;
  if (c.readLevel >= level) c.readLevel = 0;
  if (c.quietLevel >= level) c.quietLevel = 0;
}

DWORD BumpCounter(Conn& c) { return Exec(c, "UPDATE meta SET changes = changes + 1 WHERE id = 1"); }

// Commits the outer transaction, moving the change counter first when it holds counted changes.
DWORD CommitOuter(Conn& c) {
  DWORD e = c.counted ? BumpCounter(c) : ERROR_SUCCESS;
  if (e == ERROR_SUCCESS) e = Exec(c, "COMMIT");
  if (e == ERROR_SUCCESS && c.counted) {
    c.counted = false;
    Publish(c.path);
  }
  return e;
}

// ---- keys ------------------------------------------------------------------------------------

bool IsRoot(HKEY k) {
  auto v = reinterpret_cast<uintptr_t>(k);
  return v == 0x80000001u || v == 0x80000002u;
}

// The key a handle stands for and the access it was opened with.
DWORD Resolve(HKEY k, int64_t& id, REGSAM& access) {
  if (!k) return ERROR_INVALID_HANDLE;
  if (IsRoot(k)) {
    id = static_cast<int64_t>(reinterpret_cast<uintptr_t>(k) & 0xF);
    access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  if (k->magic != kKeyMagic) return ERROR_INVALID_HANDLE;
  id = k->id;
  access = k->access;
  return ERROR_SUCCESS;
}

// ERROR_SUCCESS when the key still exists, ERROR_KEY_DELETED when not.
DWORD KeyAlive(Conn& c, int64_t id) {
  if (!c.db) return id <= 2 ? ERROR_SUCCESS : ERROR_KEY_DELETED;
  if (c.Holds(c.alive, id)) return ERROR_SUCCESS;
  Stmt s(c, "SELECT 1 FROM keys WHERE id = ?");
  if (!s.ok()) return s.error();
  int rc = s.Int(1, id).Step();
  if (rc == SQLITE_ROW) {
    c.Mark(c.alive, id);
    return ERROR_SUCCESS;
  }
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  return FromSqlite(rc, c.db);
}

// Splits a subkey path; a single trailing backslash is allowed, empty components are not.
DWORD ParsePath(const Name& path, std::u16string_view* out, size_t& count, size_t max) {
  count = 0;
  if (path.empty()) return ERROR_SUCCESS;
  size_t start = 0;
  for (;;) {
    size_t end = path.find(u'\\', start);
    size_t len = (end == Name::npos ? path.size() : end) - start;
    if (len == 0) {
      // Only a trailing backslash may stand alone.
      if (end == Name::npos && start > 0) return ERROR_SUCCESS;
      return ERROR_BAD_PATHNAME;
    }
    if (len > REG_MAX_KEY_NAME) return ERROR_INVALID_PARAMETER;
    if (count == max) return ERROR_BAD_PATHNAME;
    out[count++] = std::u16string_view(path).substr(start, len);
    if (end == Name::npos) return ERROR_SUCCESS;
    start = end + 1;
    if (start == path.size()) return ERROR_SUCCESS;
  }
}

constexpr size_t kMaxDepth = 512;

// The id of a direct subkey, 0 when there is none.
DWORD ChildId(Conn& c, int64_t parent, std::u16string_view name, int64_t& id) {
  id = 0;
  if (!c.db) return ERROR_SUCCESS;
  std::string f = Fold(Name(name));
  // Inside a caller's transaction a key found stays until keys may have gone (shape).
  std::string known;
  if (c.level > 0) {
    auto& kids = c.children;
    if (kids.serial != c.serial || kids.shape != c.shape) {
      kids.ids.clear();
      kids.serial = c.serial;
      kids.shape = c.shape;
    }
    known.assign(reinterpret_cast<const char*>(&parent), sizeof parent);
    known += f;
    auto it = kids.ids.find(known);
    if (it != kids.ids.end()) {
      id = it->second;
      return ERROR_SUCCESS;
    }
  }
  Stmt s(c, "SELECT id FROM keys WHERE parent = ? AND fold = ?");
  if (!s.ok()) return s.error();
  int rc = s.Int(1, parent).Blob(2, f.data(), f.size()).Step();
  if (rc == SQLITE_ROW) {
    id = s.ColInt(0);
    if (c.level > 0) c.children.ids.emplace(std::move(known), id);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : FromSqlite(rc, c.db);
}

HKEY NewHandle(int64_t id, REGSAM access) {
  return vtx::heap::New<VtxRegKey>(kKeyMagic, id, access);
}

// Runs a change as one unit: its own transaction, or a savepoint inside the caller's scope.
class Change {
 public:
  // `atomic`: the change is one statement that either happens or does not (with at most a write
  // time stamped before it), so inside a caller's transaction it needs no savepoint of its own.
  explicit Change(Conn& c, bool atomic = false) : c_(c) {
    if (!c.db) {
      status_ = c.openError ? c.openError : ERROR_INTERNAL_ERROR;
      return;
    }
    if (c.readOnly || c.readLevel) {
      status_ = ERROR_ACCESS_DENIED;
      return;
    }
    outer_ = c.level == 0;
    bare_ = atomic && !outer_;
    status_ = bare_ ? ERROR_SUCCESS : Exec(c, outer_ ? "BEGIN IMMEDIATE" : "SAVEPOINT vtx_change");
    open_ = status_ == ERROR_SUCCESS;
    if (open_) {
      ++c.gen;
      // An outer transaction that any change touched moves the counter at its commit.
      if (!c.quietLevel) c.counted = true;
    }
  }
  ~Change() {
    if (open_) Undo();
  }
  DWORD status() const { return status_; }
  DWORD Finish(DWORD result) {
    if (!open_) return result;
    if (result != ERROR_SUCCESS) {
      Undo();
      return result;
    }
    DWORD e = bare_ ? ERROR_SUCCESS : outer_ ? CommitOuter(c_) : Exec(c_, "RELEASE vtx_change");
    if (e != ERROR_SUCCESS) {
      Undo();
      return e;
    }
    open_ = false;
    return ERROR_SUCCESS;
  }

 private:
  void Undo() {
    open_ = false;
    ++c_.gen;
    ++c_.shape;
    if (bare_) return;  // the failed statement changed nothing
    if (outer_) {
      if (!sqlite3_get_autocommit(c_.db)) Exec(c_, "ROLLBACK");
      c_.counted = false;
    } else {
      Exec(c_, "ROLLBACK TO vtx_change");
      Exec(c_, "RELEASE vtx_change");
    }
  }
  Conn& c_;
  DWORD status_ = ERROR_SUCCESS;
  bool outer_ = false;
  bool bare_ = false;
  bool open_ = false;
};

// Stamps a key with its write time; inside a caller's transaction once per key and transaction.
DWORD Touch(Conn& c, int64_t id) {
  if (c.Holds(c.touched, id)) return ERROR_SUCCESS;
  Stmt s(c, "UPDATE keys SET written = ? WHERE id = ?");
  if (!s.ok()) return s.error();
  int rc = s.Int(1, static_cast<int64_t>(NowFileTime())).Int(2, id).Step();
  if (rc != SQLITE_DONE) return FromSqlite(rc, c.db);
  c.Mark(c.touched, id);
  return ERROR_SUCCESS;
}

DWORD OpenKey(HKEY key, const Name& sub, REGSAM access, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  int64_t id;
  REGSAM have;
  DWORD e = Resolve(key, id, have);
  if (e) return e;
  std::u16string_view parts[kMaxDepth];
  size_t n;
  if ((e = ParsePath(sub, parts, n, kMaxDepth))) return e;
  Conn& c = *Connection();
  if ((e = Usable(c))) return e;
  if ((access & kWriteAccess) && (c.readOnly || !c.db)) return ERROR_ACCESS_DENIED;
  ReadScope scope(c);
  if ((e = KeyAlive(c, id))) return e;
  for (size_t i = 0; i < n; ++i) {
    int64_t child;
    if ((e = ChildId(c, id, parts[i], child))) return e;
    if (!child) return ERROR_FILE_NOT_FOUND;
    id = child;
  }
  HKEY h = NewHandle(id, access);
  if (!h) return ERROR_OUTOFMEMORY;
  *result = h;
  return ERROR_SUCCESS;
}

DWORD CreateKey(HKEY key, const Name& sub, REGSAM access, PHKEY result, DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  int64_t id;
  REGSAM have;
  DWORD e = Resolve(key, id, have);
  if (e) return e;
  std::u16string_view parts[kMaxDepth];
  size_t n;
  if ((e = ParsePath(sub, parts, n, kMaxDepth))) return e;
  Conn& c = *Connection();
  // Opening what exists needs no write; only a missing key makes a change.
  if ((e = Usable(c))) return e;
  size_t i = 0;
  {
    ReadScope scope(c);
    if ((e = KeyAlive(c, id))) return e;
    for (; i < n; ++i) {
      int64_t child;
      if ((e = ChildId(c, id, parts[i], child))) return e;
      if (!child) break;
      id = child;
    }
  }
  if (i == n) {
    if ((access & kWriteAccess) && (c.readOnly || !c.db)) return ERROR_ACCESS_DENIED;
    HKEY h = NewHandle(id, access);
    if (!h) return ERROR_OUTOFMEMORY;
    if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
    *result = h;
    return ERROR_SUCCESS;
  }
  if (i == 0 && !(have & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
  Change change(c);
  if ((e = change.status())) return e;
  if ((e = KeyAlive(c, id))) return change.Finish(e);
  // Another writer may have made part of the path since we looked: walk again under the lock.
  for (; i < n && e == ERROR_SUCCESS; ++i) {
    int64_t child;
    if ((e = ChildId(c, id, parts[i], child))) break;
    if (!child) {
      Name name(parts[i]);
      std::string f = Fold(name);
      Stmt s(c, "INSERT INTO keys(parent, name, fold, written) VALUES(?, ?, ?, ?)");
      if (!s.ok()) {
        e = s.error();
        break;
      }
      int rc = s.Int(1, id).Text16(2, name).Blob(3, f.data(), f.size()).Int(4, static_cast<int64_t>(NowFileTime())).Step();
      if (rc != SQLITE_DONE) {
        e = FromSqlite(rc, c.db);
        break;
      }
      child = sqlite3_last_insert_rowid(c.db);
      if ((e = Touch(c, id))) break;
    }
    id = child;
  }
  if ((e = change.Finish(e))) return e;
  HKEY h = NewHandle(id, access);
  if (!h) return ERROR_OUTOFMEMORY;
  if (disposition) *disposition = REG_CREATED_NEW_KEY;
  *result = h;
  return ERROR_SUCCESS;
}

// Resolves a handle for an operation that needs `need` access; the caller then checks that the key
// lives, inside its read scope or change.
DWORD Begin(HKEY key, REGSAM need, Conn*& c, int64_t& id) {
  REGSAM have;
  DWORD e = Resolve(key, id, have);
  if (e) return e;
  if ((have & need) != need) return ERROR_ACCESS_DENIED;
  c = Connection();
  return Usable(*c);
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Stored string data (UTF-16LE) in the ANSI code page; an odd last byte is dropped.
std::string StoredToAnsi(const BYTE* p, DWORD size) {
  Name w(size / 2, u'\0');
  if (p && !w.empty()) std::memcpy(w.data(), p, w.size() * 2);
  return vtx::WideToAnsi(w);
}

// Copies out data and name for the query and enumeration calls.
DWORD Deliver(const BYTE* p, DWORD size, BYTE* data, DWORD* dataBytes) {
  if (!dataBytes) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  DWORD room = *dataBytes;
  *dataBytes = size;
  if (!data) return ERROR_SUCCESS;
  if (room < size) return ERROR_MORE_DATA;
  if (size) std::memcpy(data, p, size);
  return ERROR_SUCCESS;
}

// Delivers one value in the width of the call.
DWORD DeliverValue(DWORD t, const BYTE* p, DWORD size, bool ansi, DWORD* type, BYTE* data, DWORD* dataBytes) {
  if (type) *type = t;
  if (ansi && IsStringType(t)) {
    std::string a = StoredToAnsi(p, size);
    return Deliver(reinterpret_cast<const BYTE*>(a.data()), static_cast<DWORD>(a.size()), data, dataBytes);
  }
  return Deliver(p, size, data, dataBytes);
}

// Inside a caller's transaction, the second query of a live key with nothing changed in between
// reads all of the key's values at once; the queries after it are answered from them. `cached`
// false: the value must be read on its own; else `row` is the value, null when there is none.
DWORD ReadCached(Conn& c, int64_t id, const std::string& fold, const ValueCache::Row** row, bool* cached) {
  *row = nullptr;
  *cached = false;
  ValueCache& vc = c.cache;
  if (vc.serial != c.serial || vc.gen != c.gen || vc.key != id) return ERROR_SUCCESS;
  if (!vc.filled) {
    vc.rows.clear();
    vc.byFold.clear();
    Stmt s(c, "SELECT name, fold, type, data FROM vals WHERE key = ? ORDER BY id");
    if (!s.ok()) return s.error();
    s.Int(1, id);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
      DWORD size, foldSize;
      const BYTE* f = s.ColData(1, foldSize);
      const BYTE* p = s.ColData(3, size);
      vc.byFold.emplace(std::string(reinterpret_cast<const char*>(f), foldSize), vc.rows.size());
      vc.rows.push_back({s.ColName(0), static_cast<DWORD>(s.ColInt(2)),
                         std::string(reinterpret_cast<const char*>(p), size)});
    }
    if (rc != SQLITE_DONE) {
      vc.key = -1;
      return FromSqlite(rc, c.db);
    }
    vc.filled = true;
  }
  *cached = true;
  auto it = vc.byFold.find(fold);
  if (it != vc.byFold.end()) *row = &vc.rows[it->second];
  return ERROR_SUCCESS;
}

DWORD QueryValue(HKEY key, const Name& name, bool ansi, DWORD* type, BYTE* data, DWORD* dataBytes) {
  if (data && !dataBytes) return ERROR_INVALID_PARAMETER;
  Conn* c;
  int64_t id;
  DWORD e = Begin(key, KEY_QUERY_VALUE, c, id);
  if (e) return e;
  if (!c->db) return (e = KeyAlive(*c, id)) ? e : ERROR_FILE_NOT_FOUND;
  std::string f = Fold(name);
  const bool inCallerScope = c->level > 0;
  if (inCallerScope) {
    const ValueCache::Row* row;
    bool cached;
    if ((e = ReadCached(*c, id, f, &row, &cached))) return e;
    if (cached) {
      if (!row) return ERROR_FILE_NOT_FOUND;
      return DeliverValue(row->type, reinterpret_cast<const BYTE*>(row->data.data()),
                          static_cast<DWORD>(row->data.size()), ansi, type, data, dataBytes);
    }
  }
  ReadScope scope(*c);
  if ((e = KeyAlive(*c, id))) return e;
  ValueCache& vc = c->cache;
  if (inCallerScope && (vc.serial != c->serial || vc.gen != c->gen || vc.key != id)) {
    // The key lives in this snapshot: its next query reads all of its values.
    c->cache.serial = c->serial;
    c->cache.gen = c->gen;
    c->cache.key = id;
    c->cache.filled = false;
  }
  Stmt s(*c, "SELECT type, data FROM vals WHERE key = ? AND fold = ?");
  if (!s.ok()) return s.error();
  int rc = s.Int(1, id).Blob(2, f.data(), f.size()).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return FromSqlite(rc, c->db);
  DWORD size;
  const BYTE* p = s.ColData(1, size);
  return DeliverValue(static_cast<DWORD>(s.ColInt(0)), p, size, ansi, type, data, dataBytes);
}

DWORD SetValue(HKEY key, const Name& name, DWORD type, const BYTE* data, DWORD size) {
  if (name.size() > REG_MAX_VALUE_NAME) return ERROR_INVALID_PARAMETER;
  if (!data && size) return ERROR_NOACCESS;
  Conn* c;
  int64_t id;
  DWORD e = Begin(key, KEY_SET_VALUE, c, id);
  if (e) return e;
  Change change(*c, true);
  if ((e = change.status())) return e;
  if ((e = KeyAlive(*c, id))) return change.Finish(e);
  if ((e = Touch(*c, id))) return change.Finish(e);
  std::string f = Fold(name);
  Stmt s(*c,
         "INSERT INTO vals(key, name, fold, type, data) VALUES(?, ?, ?, ?, ?)"
         " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
  if (!s.ok()) return change.Finish(s.error());
  int rc = s.Int(1, id).Text16(2, name).Blob(3, f.data(), f.size()).Int(4, type).Blob(5, data, size).Step();
  return change.Finish(rc == SQLITE_DONE ? ERROR_SUCCESS : FromSqlite(rc, c->db));
}

DWORD DeleteValue(HKEY key, const Name& name) {
  Conn* c;
  int64_t id;
  DWORD e = Begin(key, KEY_SET_VALUE, c, id);
  if (e) return e;
  if (!c->db) return id <= 2 ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
  Change change(*c, true);
  if ((e = change.status())) return e;
  if ((e = KeyAlive(*c, id))) return change.Finish(e);
  if ((e = Touch(*c, id))) return change.Finish(e);
  std::string f = Fold(name);
  Stmt s(*c, "DELETE FROM vals WHERE key = ? AND fold = ?");
  if (!s.ok()) return change.Finish(s.error());
  int rc = s.Int(1, id).Blob(2, f.data(), f.size()).Step();
  if (rc != SQLITE_DONE) return change.Finish(FromSqlite(rc, c->db));
  return change.Finish(sqlite3_changes(c->db) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
}

// Follows a path of existing subkeys from `id`: `id` becomes the last key, `parent` the one above
// it (itself for an empty path); ERROR_FILE_NOT_FOUND when a part is missing.
DWORD WalkToKey(Conn& c, const std::u16string_view* parts, size_t n, int64_t& id, int64_t& parent) {
  parent = id;
  for (size_t i = 0; i < n; ++i) {
    parent = id;
    int64_t child;
    if (DWORD e = ChildId(c, id, parts[i], child)) return e;
    if (!child) return ERROR_FILE_NOT_FOUND;
    id = child;
  }
  return ERROR_SUCCESS;
}

DWORD DeleteKey(HKEY key, const Name& sub) {
  int64_t id;
  REGSAM have;
  DWORD e = Resolve(key, id, have);
  if (e) return e;
  std::u16string_view parts[kMaxDepth];
  size_t n;
  if ((e = ParsePath(sub, parts, n, kMaxDepth))) return e;
  if (n == 0) return ERROR_INVALID_PARAMETER;
  Conn& c = *Connection();
  if ((e = Usable(c))) return e;
  if (!c.db) return id <= 2 ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
  Change change(c);
  if ((e = change.status())) return e;
  if ((e = KeyAlive(c, id))) return change.Finish(e);
  int64_t parent = id;
  if ((e = WalkToKey(c, parts, n, id, parent))) return change.Finish(e);
  {
    int rc;
    {
      Stmt s(c, "SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
      if (!s.ok()) return change.Finish(s.error());
      rc = s.Int(1, id).Step();
    }
    // Only a key without subkeys goes, as on Windows.
    if (rc == SQLITE_ROW) return change.Finish(ERROR_ACCESS_DENIED);
    if (rc != SQLITE_DONE) return change.Finish(FromSqlite(rc, c.db));
  }
  ++c.shape;
  for (const char* sql : {"DELETE FROM vals WHERE key = ?", "DELETE FROM keys WHERE id = ?"}) {
    Stmt s(c, sql);
    if (!s.ok()) return change.Finish(s.error());
    int rc = s.Int(1, id).Step();
    if (rc != SQLITE_DONE) return change.Finish(FromSqlite(rc, c.db));
  }
  return change.Finish(Touch(c, parent));
}

// Deletes a key's subkeys and values, and the key itself when a subkey path is given.
DWORD DeleteTree(HKEY key, const Name& sub) {
  int64_t id;
  REGSAM have;
  DWORD e = Resolve(key, id, have);
  if (e) return e;
  constexpr REGSAM need = DELETE_ACCESS | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
  if ((have & need) != need) return ERROR_ACCESS_DENIED;
  std::u16string_view parts[kMaxDepth];
  size_t n;
  if ((e = ParsePath(sub, parts, n, kMaxDepth))) return e;
  Conn& c = *Connection();
  if ((e = Usable(c))) return e;
  if (!c.db) return id <= 2 ? (n ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS) : ERROR_KEY_DELETED;
  Change change(c);
  if ((e = change.status())) return e;
  if ((e = KeyAlive(c, id))) return change.Finish(e);
  int64_t parent = id;
  if ((e = WalkToKey(c, parts, n, id, parent))) return change.Finish(e);
  ++c.shape;
  // The roots themselves never go.
  const bool whole = n > 0;
  const char* const sqls[] = {
      "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent = t.id)"
      " DELETE FROM vals WHERE key IN (SELECT id FROM t)",
      "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent = t.id)"
      " DELETE FROM keys WHERE id IN (SELECT id FROM t) AND (id <> ?1 OR ?2) AND id > 2"};
  for (const char* sql : sqls) {
    Stmt s(c, sql);
    if (!s.ok()) return change.Finish(s.error());
    int rc = s.Int(1, id).Int(2, whole ? 1 : 0).Step();
    if (rc != SQLITE_DONE) return change.Finish(FromSqlite(rc, c.db));
  }
  return change.Finish(Touch(c, whole ? parent : id));
}

// Whether index is the next one after the cursor's, in the same transaction with nothing changed
// since: only then can the walk go on from the cursor.
bool CursorFollows(Conn& c, const RegEnumCursor& cur, DWORD index) {
  return c.level > 0 && cur.conn == &c && cur.serial == c.serial && cur.changes == sqlite3_total_changes64(c.db) &&
         index == cur.index + 1 && index != 0;
}
void Remember(Conn& c, RegEnumCursor& cur, DWORD index) {
  cur.conn = &c;
  cur.serial = c.serial;
  cur.changes = sqlite3_total_changes64(c.db);
  cur.index = index;
}

// Copies a name out in the width of the call; sizes in characters.
template <class T>
DWORD DeliverName(const Name& name, T* out, DWORD* chars) {
  if (!out || !chars) return ERROR_INVALID_PARAMETER;
  std::basic_string<T> text;
  if constexpr (sizeof(T) == 1)
    text = vtx::WideToAnsi(name);
  else
    text = name;
  if (*chars < text.size() + 1) {
    *chars = static_cast<DWORD>(text.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(out, text.data(), text.size() * sizeof(T));
  out[text.size()] = 0;
  *chars = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

template <class T>
DWORD EnumKey(HKEY key, DWORD index, T* name, DWORD* chars, T* cls, DWORD* clsChars, FILETIME* lastWrite) {
  Conn* c;
  int64_t id;
  DWORD e = Begin(key, KEY_ENUMERATE_SUB_KEYS, c, id);
  if (e) return e;
  ReadScope scope(*c);
  if ((e = KeyAlive(*c, id))) return e;
  if (!c->db) return ERROR_NO_MORE_ITEMS;
  RegEnumCursor* cur = IsRoot(key) ? nullptr : &key->keys;
  std::unique_lock<std::mutex> guard;
  if (cur) guard = std::unique_lock<std::mutex>(key->lock);
  bool follow = cur && CursorFollows(*c, *cur, index);
  Stmt s(*c, follow ? "SELECT name, written, fold FROM keys WHERE parent = ? AND fold > ? ORDER BY fold LIMIT 1"
                    : "SELECT name, written, fold FROM keys WHERE parent = ? ORDER BY fold LIMIT 1 OFFSET ?");
  if (!s.ok()) return s.error();
  s.Int(1, id);
  if (follow)
    s.Blob(2, cur->lastFold.data(), cur->lastFold.size());
  else
    s.Int(2, index);
  int rc = s.Step();
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return FromSqlite(rc, c->db);
  if (cur) {
    DWORD n;
    const BYTE* f = s.ColData(2, n);
    cur->lastFold.assign(reinterpret_cast<const char*>(f), n);
    Remember(*c, *cur, index);
  }
  if (lastWrite) *lastWrite = U64ToFileTime(static_cast<uint64_t>(s.ColInt(1)));
  if (cls && clsChars && *clsChars) cls[0] = 0;
  if (clsChars) *clsChars = 0;
  return DeliverName(s.ColName(0), name, chars);
}

template <class T>
DWORD EnumValue(HKEY key, DWORD index, T* name, DWORD* chars, DWORD* type, BYTE* data, DWORD* dataBytes) {
  if (data && !dataBytes) return ERROR_INVALID_PARAMETER;
  Conn* c;
  int64_t id;
  DWORD e = Begin(key, KEY_QUERY_VALUE, c, id);
  if (e) return e;
  ReadScope scope(*c);
  if ((e = KeyAlive(*c, id))) return e;
  if (!c->db) return ERROR_NO_MORE_ITEMS;
  RegEnumCursor* cur = IsRoot(key) ? nullptr : &key->values;
  std::unique_lock<std::mutex> guard;
  if (cur) guard = std::unique_lock<std::mutex>(key->lock);
  bool follow = cur && CursorFollows(*c, *cur, index);
  Stmt s(*c, follow ? "SELECT name, type, data, id FROM vals WHERE key = ? AND id > ? ORDER BY id LIMIT 1"
                    : "SELECT name, type, data, id FROM vals WHERE key = ? ORDER BY id LIMIT 1 OFFSET ?");
  if (!s.ok()) return s.error();
  int rc = s.Int(1, id).Int(2, follow ? cur->lastId : index).Step();
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return FromSqlite(rc, c->db);
  if (cur) {
    cur->lastId = s.ColInt(3);
    Remember(*c, *cur, index);
  }
  DWORD t = static_cast<DWORD>(s.ColInt(1));
  if (type) *type = t;
  DWORD size;
  const BYTE* p = s.ColData(2, size);
  DWORD de;
  if (sizeof(T) == 1 && IsStringType(t)) {
    std::string a = StoredToAnsi(p, size);
    de = Deliver(reinterpret_cast<const BYTE*>(a.data()), static_cast<DWORD>(a.size()), data, dataBytes);
  } else {
    de = Deliver(p, size, data, dataBytes);
  }
  DWORD ne = DeliverName(s.ColName(0), name, chars);
  return ne ? ne : de;
}

template <class T>
DWORD QueryInfo(HKEY key, T* cls, DWORD* clsChars, DWORD* subKeys, DWORD* maxSubKey, DWORD* maxClass,
                DWORD* values, DWORD* maxValueName, DWORD* maxValue, DWORD* security, FILETIME* lastWrite) {
  Conn* c;
  int64_t id;
  DWORD e = Begin(key, KEY_QUERY_VALUE, c, id);
  if (e) return e;
  ReadScope scope(*c);
  if ((e = KeyAlive(*c, id))) return e;
  DWORD nKeys = 0, lKey = 0, nVals = 0, lName = 0, lData = 0;
  uint64_t written = 0;
  if (c->db) {
    // The A forms measure in the ANSI code page, which a multi-byte page can make longer.
    bool exact = sizeof(T) == 1 && vtx::AnsiCodePageIsUtf8();
    if (exact) {
      Stmt s(*c, "SELECT name FROM keys WHERE parent = ?");
      if (!s.ok()) return s.error();
      s.Int(1, id);
      int rc;
      while ((rc = s.Step()) == SQLITE_ROW) {
        ++nKeys;
        lKey = std::max<DWORD>(lKey, static_cast<DWORD>(vtx::WideToAnsi(s.ColName(0)).size()));
      }
      if (rc != SQLITE_DONE) return FromSqlite(rc, c->db);
      Stmt v(*c, "SELECT name, type, data FROM vals WHERE key = ?");
      if (!v.ok()) return v.error();
      v.Int(1, id);
      while ((rc = v.Step()) == SQLITE_ROW) {
        ++nVals;
        lName = std::max<DWORD>(lName, static_cast<DWORD>(vtx::WideToAnsi(v.ColName(0)).size()));
        DWORD size;
        const BYTE* p = v.ColData(2, size);
        if (IsStringType(static_cast<DWORD>(v.ColInt(1)))) size = static_cast<DWORD>(StoredToAnsi(p, size).size());
        lData = std::max(lData, size);
      }
      if (rc != SQLITE_DONE) return FromSqlite(rc, c->db);
    } else {
      Stmt s(*c, "SELECT count(*), ifnull(max(length(name)), 0) FROM keys WHERE parent = ?");
      if (!s.ok()) return s.error();
      int rc = s.Int(1, id).Step();
      if (rc != SQLITE_ROW) return FromSqlite(rc, c->db);
      nKeys = static_cast<DWORD>(s.ColInt(0));
      lKey = static_cast<DWORD>(s.ColInt(1) / 2);
      Stmt v(*c, "SELECT count(*), ifnull(max(length(name)), 0), ifnull(max(length(data)), 0) FROM vals WHERE key = ?");
      if (!v.ok()) return v.error();
      rc = v.Int(1, id).Step();
      if (rc != SQLITE_ROW) return FromSqlite(rc, c->db);
      nVals = static_cast<DWORD>(v.ColInt(0));
      lName = static_cast<DWORD>(v.ColInt(1) / 2);
      lData = static_cast<DWORD>(v.ColInt(2));
    }
    Stmt w(*c, "SELECT written FROM keys WHERE id = ?");
    if (w.ok() && w.Int(1, id).Step() == SQLITE_ROW) written = static_cast<uint64_t>(w.ColInt(0));
  }
  if (cls && clsChars && *clsChars) cls[0] = 0;
  if (clsChars) *clsChars = 0;
  if (subKeys) *subKeys = nKeys;
  if (maxSubKey) *maxSubKey = lKey;
  if (maxClass) *maxClass = 0;
  if (values) *values = nVals;
  if (maxValueName) *maxValueName = lName;
  if (maxValue) *maxValue = lData;
  if (security) *security = 0;
  if (lastWrite) *lastWrite = U64ToFileTime(written);
  return ERROR_SUCCESS;
}

Name W(LPCWSTR s) { return s ? Name(s) : Name(); }
Name A(LPCSTR s) { return s && *s ? vtx::AnsiToWide(s) : Name(); }

}  // namespace

// ---- the Win32 calls -------------------------------------------------------------------------

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  return static_cast<LSTATUS>(OpenKey(key, A(subKey), access, result));
}
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
  return static_cast<LSTATUS>(OpenKey(key, W(subKey), access, result));
}
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, void*, PHKEY result,
                        DWORD* disposition) {
  return static_cast<LSTATUS>(CreateKey(key, A(subKey), access, result, disposition));
}
LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access, void*, PHKEY result,
                        DWORD* disposition) {
  return static_cast<LSTATUS>(CreateKey(key, W(subKey), access, result, disposition));
}
LSTATUS RegCloseKey(HKEY key) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (IsRoot(key)) return ERROR_SUCCESS;
  if (key->magic != kKeyMagic) return ERROR_INVALID_HANDLE;
  key->magic = 0;
  delete key;
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* dataBytes) {
  return static_cast<LSTATUS>(QueryValue(key, A(name), true, type, data, dataBytes));
}
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* dataBytes) {
  return static_cast<LSTATUS>(QueryValue(key, W(name), false, type, data, dataBytes));
}
LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD dataBytes) {
  if (IsStringType(type) && data && dataBytes) {
    Name w = vtx::AnsiToWide(std::string(reinterpret_cast<const char*>(data), dataBytes));
    return static_cast<LSTATUS>(
        SetValue(key, A(name), type, reinterpret_cast<const BYTE*>(w.data()), static_cast<DWORD>(w.size() * 2)));
  }
  return static_cast<LSTATUS>(SetValue(key, A(name), type, data, dataBytes));
}
LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD dataBytes) {
  return static_cast<LSTATUS>(SetValue(key, W(name), type, data, dataBytes));
}
LSTATUS RegDeleteValueA(HKEY key, LPCSTR name) { return static_cast<LSTATUS>(DeleteValue(key, A(name))); }
LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name) { return static_cast<LSTATUS>(DeleteValue(key, W(name))); }
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) { return static_cast<LSTATUS>(DeleteKey(key, A(subKey))); }
LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) { return static_cast<LSTATUS>(DeleteKey(key, W(subKey))); }
LSTATUS RegDeleteTreeA(HKEY key, LPCSTR subKey) { return static_cast<LSTATUS>(DeleteTree(key, A(subKey))); }
LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subKey) { return static_cast<LSTATUS>(DeleteTree(key, W(subKey))); }

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameChars, DWORD*, LPSTR keyClass, DWORD* classChars,
                      FILETIME* lastWrite) {
  return static_cast<LSTATUS>(EnumKey(key, index, name, nameChars, keyClass, classChars, lastWrite));
}
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameChars, DWORD*, LPWSTR keyClass,
                      DWORD* classChars, FILETIME* lastWrite) {
  return static_cast<LSTATUS>(EnumKey(key, index, name, nameChars, keyClass, classChars, lastWrite));
}
LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, DWORD* nameChars, DWORD*, DWORD* type, BYTE* data,
                      DWORD* dataBytes) {
  return static_cast<LSTATUS>(EnumValue(key, index, name, nameChars, type, data, dataBytes));
}
LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD* nameChars, DWORD*, DWORD* type, BYTE* data,
                      DWORD* dataBytes) {
  return static_cast<LSTATUS>(EnumValue(key, index, name, nameChars, type, data, dataBytes));
}
LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR keyClass, DWORD* classChars, DWORD*, DWORD* subKeys, DWORD* maxSubKeyChars,
                         DWORD* maxClassChars, DWORD* values, DWORD* maxValueNameChars, DWORD* maxValueBytes,
                         DWORD* securityBytes, FILETIME* lastWrite) {
  return static_cast<LSTATUS>(QueryInfo(key, keyClass, classChars, subKeys, maxSubKeyChars, maxClassChars, values,
                                        maxValueNameChars, maxValueBytes, securityBytes, lastWrite));
}
LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, DWORD* classChars, DWORD*, DWORD* subKeys, DWORD* maxSubKeyChars,
                         DWORD* maxClassChars, DWORD* values, DWORD* maxValueNameChars, DWORD* maxValueBytes,
                         DWORD* securityBytes, FILETIME* lastWrite) {
  return static_cast<LSTATUS>(QueryInfo(key, keyClass, classChars, subKeys, maxSubKeyChars, maxClassChars, values,
                                        maxValueNameChars, maxValueBytes, securityBytes, lastWrite));
}

// ---- transactions and the store --------------------------------------------------------------

namespace vtx {

RegTransaction::RegTransaction(Kind kind) {
  Conn& c = *Connection();
  if (!c.db) {
    DWORD usable = Usable(c);
    m_status = kind == Read && usable == ERROR_SUCCESS ? ERROR_SUCCESS : (c.openError ? c.openError : ERROR_INTERNAL_ERROR);
    return;
  }
  if (kind != Read && (c.readOnly || c.readLevel)) {
    m_status = ERROR_ACCESS_DENIED;
    return;
  }
  m_level = c.level + 1;
  std::string sql;
  if (c.level == 0)
    sql = kind == Read ? "BEGIN" : "BEGIN IMMEDIATE";
  else
    sql = "SAVEPOINT vtx_scope" + std::to_string(m_level);
  m_status = Exec(c, sql);
  if (m_status == ERROR_SUCCESS) {
    if (c.level == 0) {
      ++c.serial;
      c.counted = false;
    }
    c.level = m_level;
    if (kind == Read && !c.readLevel) c.readLevel = m_level;
    if (kind == Quiet && !c.quietLevel) c.quietLevel = m_level;
    m_open = true;
  }
}

RegTransaction::~RegTransaction() { Rollback(); }

DWORD RegTransaction::Commit() {
  if (!m_open) return m_status ? m_status : ERROR_SUCCESS;
  Conn& c = t_conn;
  DWORD e = m_level == 1 ? CommitOuter(c) : Exec(c, "RELEASE vtx_scope" + std::to_string(m_level));
  if (e != ERROR_SUCCESS) {
    Rollback();
    return e;
  }
  m_open = false;
  LeaveScope(c, m_level);
  return ERROR_SUCCESS;
}

void RegTransaction::Rollback() {
  if (!m_open) return;
  Conn& c = t_conn;
  m_open = false;
  ++c.gen;
  ++c.shape;
  if (m_level == 1) {
    if (c.db && !sqlite3_get_autocommit(c.db)) Exec(c, "ROLLBACK");
    c.counted = false;
  } else {
    std::string n = "vtx_scope" + std::to_string(m_level);
    Exec(c, "ROLLBACK TO " + n);
    Exec(c, "RELEASE " + n);
  }
  LeaveScope(c, m_level);
}

void SetRegistryReadOnly(bool readOnly) { g_readOnlyStore = readOnly; }

DWORD RegistryChangeCount(uint64_t* count) {
  if (!count) return ERROR_INVALID_PARAMETER;
  *count = 0;
  Conn& c = *Connection();
  DWORD e = Usable(c);
  if (e || !c.db) return e;
  // A store of an earlier schema that this process may not upgrade has no counter: the statement
  // does not prepare, and every caller reads that as "changed".
  Stmt s(c, "SELECT changes FROM meta WHERE id = 1");
  if (!s.ok()) return s.error();
  int rc = s.Step();
  if (rc == SQLITE_ROW) {
    *count = static_cast<uint64_t>(s.ColInt(0));
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : FromSqlite(rc, c.db);
}

bool RegistryChangeGeneration(uint64_t* generation) {
  if (!generation) return false;
  Published* p = FindPublished(RegistryStorePath(), false);
  if (!p) return false;
  *generation = p->word->load(std::memory_order_seq_cst);
  return true;
}

void RegistryNeverCreates(bool never) { g_neverCreate = never; }

namespace {

// Name and data of one row in the width of the walk, with the NULs the visitor may rely on; the
// buffers are reused from row to row.
class TreeText {
 public:
  // Stored UTF-16LE bytes as ANSI text.
  void ToAnsi(std::string& out, const BYTE* p, DWORD size) {
    // Names and numbers are ASCII as a rule: those need no conversion.
    if (vtx::AnsiCodePageKeepsAscii()) {
      out.resize(size / 2);
      bool ascii = true;
      for (DWORD i = 0; i < size / 2 && ascii; ++i) {
        ascii = p[2 * i + 1] == 0 && p[2 * i] < 0x80;
        out[i] = static_cast<char>(p[2 * i]);
      }
      if (ascii) return;
    }
    out = StoredToAnsi(p, size);
  }
  const void* NameOf(const BYTE* p, DWORD size, bool ansi) {
    if (ansi) {
      ToAnsi(a_, p, size);
      return a_.c_str();
    }
    w_.assign(size / 2, u'\0');
    if (size >= 2) std::memcpy(w_.data(), p, w_.size() * 2);
    return w_.c_str();
  }
  const BYTE* DataOf(DWORD type, const BYTE* p, DWORD& size, bool ansi) {
    if (ansi && IsStringType(type)) {
      ToAnsi(d_, p, size);
      size = static_cast<DWORD>(d_.size());
    } else {
      d_.assign(reinterpret_cast<const char*>(p), size);
    }
    d_.append(4, '\0');
    return reinterpret_cast<const BYTE*>(d_.data());
  }
  // The value whose name, type and data stand in the columns from `first` on.
  DWORD Value(Stmt& s, int first, bool ansi, RegTreeVisitor& visitor) {
    DWORD type = static_cast<DWORD>(s.ColInt(first + 1)), size;
    const BYTE* p = s.ColData(first + 2, size);
    const BYTE* data = DataOf(type, p, size, ansi);
    DWORD nameSize;
    const BYTE* name = s.ColData(first, nameSize);
    return visitor.OnValue(NameOf(name, nameSize, ansi), type, data, size);
  }

 private:
  std::string a_, d_;
  std::u16string w_;
};

}  // namespace

DWORD RegReadTree(HKEY key, bool ansi, RegTreeVisitor& visitor) {
  Conn* c;
  int64_t id;
  DWORD e = Begin(key, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, c, id);
  if (e) return e;
  ReadScope scope(*c);
  if ((e = KeyAlive(*c, id))) return e;
  if (!c->db) return ERROR_SUCCESS;
  TreeText text;
  int rc;
  {
    Stmt s(*c, "SELECT name, type, data FROM vals WHERE key = ? ORDER BY id");
    if (!s.ok()) return s.error();
    s.Int(1, id);
    while ((rc = s.Step()) == SQLITE_ROW)
      if ((e = text.Value(s, 0, ansi, visitor))) return e;
    if (rc != SQLITE_DONE) return FromSqlite(rc, c->db);
  }
  Stmt s(*c,
         "SELECT k.id, k.name, v.name, v.type, v.data FROM keys k LEFT JOIN vals v ON v.key = k.id"
         " WHERE k.parent = ? ORDER BY k.fold, v.id");
  if (!s.ok()) return s.error();
  s.Int(1, id);
  int64_t current = 0;
  while ((rc = s.Step()) == SQLITE_ROW) {
    int64_t sub = s.ColInt(0);
    if (sub != current) {
      current = sub;
      DWORD nameSize;
      const BYTE* name = s.ColData(1, nameSize);
      if ((e = visitor.OnSubkey(text.NameOf(name, nameSize, ansi)))) return e;
    }
    if (s.ColNull(2)) continue;
    if ((e = text.Value(s, 2, ansi, visitor))) return e;
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : FromSqlite(rc, c->db);
}

DWORD RegistryWriteProbe() {
  Conn& c = *Connection();
  if (!c.db) return c.openError ? c.openError : ERROR_INTERNAL_ERROR;
  if (c.readOnly) return ERROR_ACCESS_DENIED;
  Change change(c);
  DWORD e = change.status();
  if (e) return e;
  e = Exec(c, "UPDATE keys SET written = written WHERE id = 2");
  // Never keep the probe's change.
  return e ? e : ERROR_SUCCESS;
}

}  // namespace vtx
