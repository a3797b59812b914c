#include "platform/files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/heap.h"
#include "platform/native/productpaths.h"
#include "platform/native/syscalls.h"
#include "platform/sync.h"
#include "tests/support/env.h"
#include "tests/support/files.h"

using vtxtest::TempDir;

namespace {

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

}  // namespace

TEST(Files, CommonAppDataFollowsTheOverrideAndIsCreatedOnRequest) {
  TempDir dir;
  vtxtest::ScopedEnv env(vtx::env::kAppData, dir / "app/data/");
  char path[MAX_PATH];
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), 0x80070002u);
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, path), S_OK);
  EXPECT_EQ(std::string(path), dir / "app/data");
  EXPECT_EQ(GetFileAttributesA(path), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), S_OK);
  EXPECT_EQ(SHGetFolderPathA(nullptr, 0x0030, nullptr, 0, path), 0x80070002u);  // a folder we do not have
}

TEST(Files, UserFoldersFollowTheBaseDirectories) {
  TempDir dir;
  vtxtest::ScopedEnv home("HOME", dir.path());
  vtxtest::ScopedEnv config("XDG_CONFIG_HOME", "");
  vtxtest::ScopedEnv data("XDG_DATA_HOME", dir / "data");
  char path[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, path), S_OK);
  EXPECT_EQ(std::string(path), dir / ".config");
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, path), S_OK);
  EXPECT_EQ(std::string(path), dir / "data");
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, path), S_OK);
  EXPECT_EQ(std::string(path), dir.path());
}

TEST(Files, CommonAppDataDefault) {
  vtxtest::ScopedEnv appdata(vtx::env::kAppData, nullptr);
  char path[MAX_PATH];
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), S_OK);
  EXPECT_STREQ(path, "/var/lib");
}

TEST(Files, Directories) {
  TempDir dir;
  std::string a = dir / "a";
  EXPECT_FALSE(CreateDirectoryA((dir / "x/y").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(CreateDirectoryA(a.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryA(a.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

  EXPECT_EQ(vtx::MakeDirectories((dir / "b/c/d/").c_str()), S_OK);
  EXPECT_EQ(GetFileAttributesA((dir / "b/c/d").c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(vtx::MakeDirectories((dir / "b/c/d").c_str()), S_OK);
  Touch(dir / "file");
  EXPECT_TRUE(FAILED(vtx::MakeDirectories((dir / "file/sub").c_str())));
  EXPECT_TRUE(FAILED(vtx::MakeDirectories((dir / "file").c_str())));
  EXPECT_EQ(GetFileAttributesA((dir / "none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Files, WholeFiles) {
  TempDir dir;
  std::string f = dir / "data.bin";
  const char bytes[] = {'a', 0, '\r', '\n', char(0xAE)};
  ASSERT_EQ(vtx::WriteWholeFile(f.c_str(), bytes, sizeof bytes), S_OK);
  std::string back;
  ASSERT_EQ(vtx::ReadWholeFile(f.c_str(), &back), S_OK);
  EXPECT_EQ(back, std::string(bytes, sizeof bytes));
  uint64_t size = 0;
  EXPECT_EQ(vtx::FileSize(f.c_str(), &size), S_OK);
  EXPECT_EQ(size, sizeof bytes);

  ASSERT_EQ(vtx::WriteWholeFile(f.c_str(), "z", 1), S_OK);  // truncated in place
  ASSERT_EQ(vtx::ReadWholeFile(f.c_str(), &back), S_OK);
  EXPECT_EQ(back, "z");

  EXPECT_EQ(vtx::ReadWholeFile((dir / "none").c_str(), &back), 0x80070002u);
  EXPECT_EQ(vtx::FileSize((dir / "none").c_str(), &size), 0x80070002u);
  EXPECT_EQ(vtx::ReadWholeFile(dir.path().c_str(), &back), E_ACCESSDENIED);
  EXPECT_EQ(vtx::WriteWholeFile((dir / "no/such").c_str(), "z", 1), 0x80070002u);
  EXPECT_TRUE(DeleteFileA(f.c_str()));
  EXPECT_FALSE(DeleteFileA(f.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Files, WholeFileBlocksEndInZerosAndKeepToTheirLimit) {
  TempDir dir;
  std::string f = dir / "page.html";
  ASSERT_EQ(vtx::WriteWholeFile(f.c_str(), "abc", 3), S_OK);
  char* block = nullptr;
  size_t size = 0;
  ASSERT_EQ(vtx::ReadWholeFile(f.c_str(), 4, 2, &block, &size), S_OK);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(std::string(block, 5), std::string("abc\0\0", 5));
  GlobalFree(block);
  EXPECT_EQ(vtx::ReadWholeFile(f.c_str(), 3, 1, &block, &size), HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(vtx::ReadWholeFile(dir.path().c_str(), 100, 1, &block, &size), HRESULT_FROM_WIN32(ERROR_DIRECTORY));
  EXPECT_EQ(vtx::ReadWholeFile((dir / "none").c_str(), 100, 1, &block, &size), 0x80070002u);
}

TEST(Files, CopyKeepsModeRefusesAnExistingTargetAndLeavesNoHalfCopy) {
  TempDir dir;
  std::string from = dir / "messages.txt", to = dir / "display.txt";
  std::string big(200000, 'x');  // more than one chunk
  ASSERT_EQ(vtx::WriteWholeFile(from.c_str(), big.data(), big.size()), S_OK);
  ASSERT_EQ(chmod(from.c_str(), 0640), 0);
  ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), TRUE));
  std::string back;
  ASSERT_EQ(vtx::ReadWholeFile(to.c_str(), &back), S_OK);
  EXPECT_EQ(back, big);
  struct stat st;
  ASSERT_EQ(stat(to.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u & ~static_cast<unsigned>(umask(umask(0))));

  ASSERT_EQ(vtx::WriteWholeFile(to.c_str(), "kept", 4), S_OK);
  EXPECT_FALSE(CopyFileA(from.c_str(), to.c_str(), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  ASSERT_EQ(vtx::ReadWholeFile(to.c_str(), &back), S_OK);
  EXPECT_EQ(back, "kept");
  EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE));
  ASSERT_EQ(vtx::ReadWholeFile(to.c_str(), &back), S_OK);
  EXPECT_EQ(back, big);

  std::string none = dir / "none.txt";
  EXPECT_FALSE(CopyFileA(none.c_str(), (dir / "made.txt").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_NE(access((dir / "made.txt").c_str(), F_OK), 0);
}

TEST(Files, PrivateTemporaryFiles) {
  TempDir dir;
  vtxtest::ScopedEnv env("TMPDIR", dir.path());
  char folder[MAX_PATH];
  ASSERT_EQ(GetTempPathA(MAX_PATH, folder), dir.path().size() + 1);
  EXPECT_EQ(std::string(folder), dir.path() + "/");
  EXPECT_GT(GetTempPathA(2, folder), 2u);

  std::string a, b;
  ASSERT_EQ(vtx::WriteTempFile(nullptr, "HVX", ".tmp", "rates", 5, &a), S_OK);
  ASSERT_EQ(vtx::WriteTempFile(nullptr, "HVX", ".tmp", "", 0, &b), S_OK);
  EXPECT_NE(a, b);
  std::string name = a.substr(dir.path().size() + 1);
  EXPECT_EQ(name.substr(0, 3), "HVX");
  EXPECT_EQ(name.size(), 3u + 6u + 4u);
  EXPECT_EQ(name.substr(9), ".tmp");
  struct stat st;
  ASSERT_EQ(stat(a.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::string back;
  ASSERT_EQ(vtx::ReadWholeFile(a.c_str(), &back), S_OK);
  EXPECT_EQ(back, "rates");

  char result[MAX_PATH];
  ASSERT_NE(GetTempFileNameA(folder, "tmpfile", 0, result), 0u);
  EXPECT_EQ(std::string(result).substr(dir.path().size() + 1, 3), "tmp");
  ASSERT_EQ(stat(result, &st), 0);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(GetTempFileNameA((dir / "missing").c_str(), "HVX", 0, result), 0u);
  EXPECT_TRUE(FAILED(vtx::WriteTempFile((dir / "missing").c_str(), "HVX", ".tmp", "x", 1, &a)));
  EXPECT_TRUE(a.empty());
}

// What a killed process left goes; what a living one holds, what is fresh and what is not ours stays.
TEST(Files, StaleTemporaryFilesAreRemoved) {
  TempDir dir;
  auto age = [](const std::string& path) {
    struct timeval old[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    ASSERT_EQ(utimes(path.c_str(), old), 0);
  };
  std::string held, left, fresh;
  vtx::ScopedFd inUse;
  ASSERT_EQ(vtx::WriteTempFile(dir.path().c_str(), "HVX", ".tmp", "a", 1, &held, &inUse), S_OK);
  ASSERT_TRUE(static_cast<bool>(inUse));
  ASSERT_EQ(vtx::WriteTempFile(dir.path().c_str(), "HVX", ".tmp", "b", 1, &left), S_OK);
  ASSERT_EQ(vtx::WriteTempFile(dir.path().c_str(), "HVX", ".tmp", "c", 1, &fresh), S_OK);
  std::string other = dir / "OTHER.tmp", linked = dir / "HVXlink.tmp";
  std::ofstream(other) << "x";
  ASSERT_EQ(symlink(other.c_str(), linked.c_str()), 0);
  for (const std::string& p : {held, left, other}) age(p);

  vtx::RemoveStaleTempFiles(dir.path().c_str(), "HVX", ".tmp");
  EXPECT_EQ(access(left.c_str(), F_OK), -1);
  for (const std::string& p : {held, fresh, other, linked}) EXPECT_EQ(access(p.c_str(), F_OK), 0) << p;
  inUse.Reset();  // its holder is gone
  vtx::RemoveStaleTempFiles(dir.path().c_str(), "HVX", ".tmp");
  EXPECT_EQ(access(held.c_str(), F_OK), -1);
  EXPECT_EQ(access(fresh.c_str(), F_OK), 0);
}

TEST(Files, PlainFileNames) {
  for (const char* bad : {"", ".", "..", "a/b", "..\\x.ini", "C:x.ini", "/etc/passwd", "../Default.ini"})
    EXPECT_FALSE(vtx::IsPlainFileName(bad)) << bad;
  EXPECT_FALSE(vtx::IsPlainFileName(nullptr));
  for (const char* good : {"Default.ini", "...", ".hidden", "a b.INI"})
    EXPECT_TRUE(vtx::IsPlainFileName(good)) << good;
}

TEST(Files, ListByExtensionWithoutRegardToCase) {
  TempDir dir;
  Touch(dir / "b.INI");
  Touch(dir / "A.ini");
  Touch(dir / "c.Ini");
  Touch(dir / "notes.txt");
  Touch(dir / "ini");
  ASSERT_EQ(mkdir((dir / "sub.ini").c_str(), 0755), 0);
  std::vector<std::string> names;
  ASSERT_EQ(vtx::ListFiles(dir.path().c_str(), ".ini", &names), S_OK);
  EXPECT_EQ(names, (std::vector<std::string>{"A.ini", "b.INI", "c.Ini"}));
  ASSERT_EQ(vtx::ListFiles(dir.path().c_str(), nullptr, &names), S_OK);
  EXPECT_EQ(names.size(), 5u);
  EXPECT_EQ(vtx::ListFiles((dir / "none").c_str(), ".ini", &names), 0x80070003u);
  EXPECT_TRUE(names.empty());
}

TEST(Files, AFolderThatFailsToBeReadMidwayIsAFailureNotAShorterList) {
  TempDir dir;
  Touch(dir / "a.ini");
  Touch(dir / "b.ini");
  std::vector<std::string> names{"left over"};
  // The calls: opendir, then readdir; the second readdir fails.
  vtx::sys::faults::FailCall(2, EIO);
  EXPECT_EQ(vtx::ListFiles(dir.path().c_str(), ".ini", &names), HRESULT_FROM_WIN32(ERROR_READ_FAULT));
  EXPECT_STREQ(vtx::sys::faults::HitName(), "readdir");
  vtx::sys::faults::FailCall(-1, 0);
  EXPECT_TRUE(names.empty());
  ASSERT_EQ(vtx::ListFiles(dir.path().c_str(), ".ini", &names), S_OK);
  EXPECT_EQ(names, (std::vector<std::string>{"a.ini", "b.ini"}));
}

TEST(Files, ResolveNamesWithoutRegardToCase) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "Filters").c_str(), 0755), 0);
  Touch(dir / "Filters/SovFeed.INI");
  Touch(dir / "Filters/exact.ini");
  Touch(dir / "Filters/EXACT.ini");
  std::string path;
  ASSERT_EQ(vtx::ResolveFileName(dir.path().c_str(), "filters/sovfeed.ini", &path), S_OK);
  EXPECT_EQ(path, dir / "Filters/SovFeed.INI");
  ASSERT_EQ(vtx::ResolveFileName((dir / "Filters").c_str(), "EXACT.ini", &path), S_OK);
  EXPECT_EQ(path, dir / "Filters/EXACT.ini");
  EXPECT_EQ(vtx::ResolveFileName(dir.path().c_str(), "filters/none.ini", &path), 0x80070002u);
  EXPECT_EQ(vtx::ResolveFileName(dir.path().c_str(), "nodir/sovfeed.ini", &path), 0x80070003u);
  EXPECT_EQ(vtx::ResolveFileName((dir / "gone").c_str(), "x", &path), 0x80070003u);
}

// A watch on a folder is signalled by writes, new files and renames into it, and only once per
// batch of changes until they are taken.
TEST(Files, ChangeNotificationOnAFolder) {
  TempDir dir;
  Touch(dir / "display.txt");
  mkdir((dir / "sub").c_str(), 0700);
  HANDLE h = FindFirstChangeNotificationA(dir.path().c_str(), FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
  struct Change {
    const char* what;
    std::string command;
    bool signals;
  };
  const std::string d = dir.path();
  const Change changes[] = {
      {"a write to a file that exists", "printf more >> " + d + "/display.txt", true},
      {"another file of the folder", "printf x > " + d + "/other.txt", true},
      {"a rename into place", "printf new > " + d + "/t.tmp && mv " + d + "/t.tmp " + d + "/display.txt", true},
      {"a deletion", "rm " + d + "/other.txt", false},
      {"a file in a subfolder", "printf x > " + d + "/sub/deep.txt", false},
  };
  for (const Change& c : changes) {
    ASSERT_EQ(std::system(c.command.c_str()), 0) << c.what;
    EXPECT_EQ(WaitForSingleObject(h, c.signals ? 5000 : 200), c.signals ? WAIT_OBJECT_0 : WAIT_TIMEOUT) << c.what;
    EXPECT_EQ(WaitForSingleObject(h, 0), c.signals ? WAIT_OBJECT_0 : WAIT_TIMEOUT) << "stays signalled: " << c.what;
    EXPECT_TRUE(FindNextChangeNotification(h));
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT) << "taken: " << c.what;
  }
  EXPECT_TRUE(FindCloseChangeNotification(h));
  EXPECT_FALSE(FindNextChangeNotification(h));

  struct Refused {
    std::string path;
    BOOL subtree;
    DWORD error;
  };
  for (const Refused& r : {Refused{dir / "display.txt", FALSE, ERROR_DIRECTORY},
                           Refused{dir / "missing", FALSE, ERROR_FILE_NOT_FOUND},
                           Refused{dir.path(), TRUE, ERROR_NOT_SUPPORTED}}) {
    EXPECT_EQ(FindFirstChangeNotificationA(r.path.c_str(), r.subtree, FILE_NOTIFY_CHANGE_LAST_WRITE),
              INVALID_HANDLE_VALUE)
        << r.path;
    EXPECT_EQ(GetLastError(), r.error) << r.path;
  }
}

// Only regular files are read, up to the cap, and never with a wait on a FIFO or a device; the
// stamp tells a rewritten or replaced file from the one read.
TEST(Files, RegularFilesUpToACapWithTheirStamp) {
  TempDir dir;
  std::ofstream(dir / "f") << "0123456789";
  std::string data;
  vtx::FileStamp first, again;
  ASSERT_EQ(vtx::ReadRegularFile((dir / "f").c_str(), 4, &data, &first), S_OK);
  EXPECT_EQ(data, "0123");
  ASSERT_EQ(vtx::ReadRegularFile((dir / "f").c_str(), 100, &data, &again), S_OK);
  EXPECT_EQ(data, "0123456789");
  EXPECT_EQ(first, again);
  ASSERT_EQ(vtx::StampFile((dir / "f").c_str(), &again), S_OK);
  EXPECT_EQ(first, again);
  std::ofstream(dir / "g") << "0123456789";
  ASSERT_EQ(std::rename((dir / "g").c_str(), (dir / "f").c_str()), 0);
  ASSERT_EQ(vtx::StampFile((dir / "f").c_str(), &again), S_OK);
  EXPECT_NE(first, again) << "same size and contents, another file";

  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const std::string& path : {dir / "fifo", std::string("/dev/zero"), dir.path()}) {
    EXPECT_EQ(vtx::ReadRegularFile(path.c_str(), 100, &data, &again), HRESULT{0x8007010B}) << path;
    EXPECT_TRUE(data.empty());
  }
  EXPECT_EQ(vtx::ReadRegularFile((dir / "missing").c_str(), 100, &data, &again), HRESULT{0x80070002});
}

// The next holder learns what the last one left in the file: a holder that let go in order
// emptied it, one that died did not.
TEST(Files, LockFileTellsAnOrderlyHolderFromADeadOne) {
  TempDir dir;
  std::string path = dir / "vtxmanager.lock";
  vtx::LockFile lock;
  std::string previous = "x";
  ASSERT_EQ(lock.Take(path, nullptr, &previous), S_OK);
  EXPECT_EQ(previous, "");
  EXPECT_EQ(lock.Clear(), S_OK);
  lock.Release();
  EXPECT_EQ(lock.Clear(), E_HANDLE);
  ASSERT_EQ(lock.Take(path, nullptr, &previous), S_OK);
  EXPECT_EQ(previous, "");
  lock.Release();  // without clearing, as a killed holder leaves it
  ASSERT_EQ(lock.Take(path, nullptr, &previous), S_OK);
  EXPECT_EQ(previous, std::to_string(getpid()) + "\n");
  lock.Release();
}

// One holder at a time; the others learn who holds it; the lock goes with its holder, also when
// the holding process dies.
TEST(Files, LockFileHasOneHolderAndNamesIt) {
  TempDir dir;
  std::string path = dir / "registry.db.lock";
  vtx::LockFile first, second;
  ASSERT_EQ(first.Take(path), S_OK);
  long holder = -1;
  EXPECT_EQ(second.Take(path, &holder), 0x80070021u);
  EXPECT_EQ(holder, static_cast<long>(getpid()));
  EXPECT_FALSE(second.Held());
  first.Release();
  EXPECT_EQ(second.Take(path, &holder), S_OK);
  second.Release();

  pid_t child = fork();
  if (child == 0) {
    vtx::LockFile lock;
    while (lock.Take(path) != S_OK) usleep(1000);
    pause();
    _exit(0);
  }
  ASSERT_GT(child, 0);
  // Until the child holds it and has written its number.
  holder = 0;
  for (int i = 0; i < 1000 && holder == 0; ++i) {
    if (first.Take(path, &holder) == S_OK) first.Release();
    usleep(5000);
  }
  EXPECT_EQ(holder, static_cast<long>(child));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(first.Take(path), S_OK);
}

TEST(Files, TrustedPathsBelongToRootOrUsAndNobodyElseMayChangeThem) {
  TempDir dir;  // 0700 root under the sticky /tmp
  ASSERT_EQ(geteuid(), 0u) << "the owners of the cases need root";
  const uid_t nobody = 65534;
  auto folder = [&](const std::string& name, unsigned mode, uid_t owner) {
    std::string p = dir / name;
    EXPECT_EQ(mkdir(p.c_str(), 0700), 0) << p;
    EXPECT_EQ(chown(p.c_str(), owner, static_cast<gid_t>(-1)), 0) << p;
    EXPECT_EQ(chmod(p.c_str(), mode), 0) << p;
    return p;
  };
  std::string good = folder("good", 0755, 0);
  std::string shared = folder("shared", 0775, 0);
  std::string others = folder("others", 0755, nobody);
  std::string sticky = folder("sticky", 01777, 0);
  Touch(good + "/prog");
  Touch(shared + "/prog");
  Touch(others + "/prog");
  Touch(sticky + "/prog");
  std::string writable = good + "/writable";
  Touch(writable);
  chmod(writable.c_str(), 0666);
  ASSERT_EQ(symlink((others + "/prog").c_str(), (good + "/link").c_str()), 0);
  ASSERT_EQ(symlink((good + "/prog").c_str(), (good + "/fine-link").c_str()), 0);
  struct Case {
    std::string path;
    const char* refusal;  // a part of the reason, "" when the path is trusted
  } cases[] = {
      {good + "/prog", ""},
      {good, ""},
      {good + "/fine-link", ""},
      {sticky + "/prog", ""},  // a root folder with the sticky bit above it, as /tmp
      {sticky, "may be changed by other accounts"},
      {shared + "/prog", "may be changed by other accounts"},
      {others + "/prog", "belongs to another account"},
      {writable, "may be changed by other accounts"},
      {good + "/link", "belongs to another account"},
      {good + "/../good/prog", "\"..\""},
      {"relative/prog", "not an absolute path"},
      {good + "/missing", "No such file"},
  };
  for (const Case& c : cases) {
    std::string why = vtx::UntrustedPathReason(c.path);
    if (!*c.refusal) {
      EXPECT_EQ(why, "") << c.path;
    } else {
      EXPECT_NE(why.find(c.refusal), std::string::npos) << c.path << ": " << why;
    }
  }
}
