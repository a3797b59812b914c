// One manager per user: the private folder of the manager socket and the creation lock.
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "manager/instance.h"
#include "manager/managerdefs.h"
#include "platform/native/syscalls.h"
#include "tests/support/env.h"
#include "tests/support/files.h"

using namespace vtx::manager;
using vtxtest::ScopedEnv;
using vtxtest::TempDir;

namespace {

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
}

}  // namespace

class InstanceTest : public QObject {
  Q_OBJECT

 private slots:
  // Made when missing, closed to others when found open, refused when a link stands in its place.
  void FolderIsPrivate() {
    TempDir runtime;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path());
    const std::string folder = runtime / "vantrex";
    QCOMPARE(ManagerFolder(), folder);
    QCOMPARE(ModeOf(folder), 0700u);
    QCOMPARE(ManagerSocketPath(), folder + "/" + kManagerClass);

    QCOMPARE(chmod(folder.c_str(), 0755), 0);
    QCOMPARE(ManagerFolder(), folder);
    QCOMPARE(ModeOf(folder), 0700u);

    QCOMPARE(rmdir(folder.c_str()), 0);
    const std::string elsewhere = runtime / "elsewhere";
    QCOMPARE(mkdir(elsewhere.c_str(), 0700), 0);
    QCOMPARE(symlink(elsewhere.c_str(), folder.c_str()), 0);
    QCOMPARE(ManagerFolder(), std::string());
    QCOMPARE(ManagerSocketPath(), std::string());

    // Without a folder there is no lock either.
    CreationLock lock(0);
    QVERIFY(!lock.Held());
  }

  // A second manager waits for the lock up to its limit, and takes it once the first lets go.
  void CreationLockWaitsWithALimit() {
    TempDir runtime;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path());
    auto first = std::make_unique<CreationLock>(0);
    QVERIFY(first->Held());
    {
      CreationLock second(50);
      QVERIFY(!second.Held());
    }
    std::thread release([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      first.reset();
    });
    CreationLock third(20000);
    release.join();
    QVERIFY(third.Held());
    QCOMPARE(ModeOf(runtime / "vantrex/" + kCreationLockName), 0600u);
  }

  // A system call that fails on the way to the lock leaves it not taken, and no file open.
  void CreationLockUnderIoFaults() {
    TempDir runtime;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path());
    const size_t open = vtxtest::OpenDescriptors().size();
    for (long k = 0;; ++k) {
      QVERIFY(k < 100);
      std::filesystem::remove_all(runtime / "vantrex");
      bool held, hit;
      std::string call;
      {
        vtx::sys::faults::FailCall(k, EIO);
        CreationLock lock(0);
        held = lock.Held();
        hit = vtx::sys::faults::Hit();
        call = vtx::sys::faults::HitName();
        // Letting go is not part of taking it.
        vtx::sys::faults::FailCall(-1, 0);
      }
      QCOMPARE(vtxtest::OpenDescriptors().size(), open);
      if (!hit) {
        QVERIFY(held);
        QVERIFY(k >= 3);  // mkdir, lstat and flock at least
        break;
      }
      QVERIFY2(!held, call.c_str());
    }
  }
};

QTEST_MAIN(InstanceTest)
#include "instance_test.moc"
