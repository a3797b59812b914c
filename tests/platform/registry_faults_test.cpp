// A store save under an I/O fault at each system call it makes, SQLite's own calls included.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "platform/native/productpaths.h"
#include "platform/native/syscalls.h"
#include "platform/registry.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/iofaults.h"

namespace {

namespace faults = vtx::sys::faults;

constexpr char kKey[] = "SOFTWARE\\Hulvane\\Vantrex\\Sources\\Feed";

// What a save leaves: the values and subkeys that tell the old configuration from the new one.
struct Saved {
  std::string url, interval, note, retries, oldChild, newChild;
  bool operator==(const Saved&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Saved& s) {
  return out << "{url=" << s.url << " interval=" << s.interval << " note=" << s.note << " retries=" << s.retries
             << " Old=" << s.oldChild << " New=" << s.newChild << "}";
}

const Saved kOld{"http://old.example/rates", "60", "kept until the save", "-", "there", "-"};
const Saved kNew{"https://new.example/rates.xml", "15", "-", "3", "-", "there"};

std::string Text(HKEY key, const char* name) {
  char data[256];
  DWORD type = 0, size = sizeof data;
  LSTATUS r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  if (r == ERROR_FILE_NOT_FOUND) return "-";
  if (r != ERROR_SUCCESS) return "error " + std::to_string(r);
  if (type == REG_DWORD && size == 4) {
    DWORD v;
    std::memcpy(&v, data, 4);
    return std::to_string(v);
  }
  return std::string(data, size ? size - 1 : 0);
}

std::string Child(HKEY key, const char* name) {
  HKEY k = nullptr;
  LSTATUS r = RegOpenKeyExA(key, name, 0, KEY_READ, &k);
  if (r == ERROR_SUCCESS) RegCloseKey(k);
  return r == ERROR_SUCCESS ? "there" : r == ERROR_FILE_NOT_FOUND ? "-" : "error " + std::to_string(r);
}

// The store as a connection opened afresh sees it: one of a new thread.
Saved ReadAfresh() {
  Saved s;
  std::thread([&] {
    HKEY k = nullptr;
    LSTATUS r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &k);
    if (r != ERROR_SUCCESS) {
      s.url = "key: error " + std::to_string(r);
      return;
    }
    s = Saved{Text(k, "Url"), Text(k, "Interval"), Text(k, "Note"), Text(k, "Retries"), Child(k, "Old"),
              Child(k, "New")};
    RegCloseKey(k);
  }).join();
  return s;
}

LSTATUS SetText(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1));
}
LSTATUS SetNumber(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The old configuration, in a store of its own.
void WriteOld() {
  HKEY k = nullptr, child = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(SetText(k, "Url", "http://old.example/rates"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(k, "Interval", "60"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(k, "Note", "kept until the save"), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyExA(k, "Old", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(SetText(child, "Name", "the old one"), ERROR_SUCCESS);
  RegCloseKey(child);
  RegCloseKey(k);
}

// A save as the product makes one: several values, a deleted value, a key made and one deleted,
// all in one transaction. The first failure met, else the commit's result.
LSTATUS SaveNew() {
  vtx::RegTransaction transaction;
  if (transaction.Status() != ERROR_SUCCESS) return transaction.Status();
  HKEY k = nullptr, child = nullptr;
  LSTATUS r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &k);
  if (r != ERROR_SUCCESS) return r;
  r = SetText(k, "Url", "https://new.example/rates.xml");
  if (r == ERROR_SUCCESS) r = SetText(k, "Interval", "15");
  if (r == ERROR_SUCCESS) r = SetNumber(k, "Retries", 3);
  if (r == ERROR_SUCCESS) r = RegDeleteValueA(k, "Note");
  if (r == ERROR_SUCCESS) r = RegDeleteTreeA(k, "Old");
  if (r == ERROR_SUCCESS) r = RegCreateKeyExA(k, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr);
  if (r == ERROR_SUCCESS) r = SetText(child, "Name", "the new one");
  if (child) RegCloseKey(child);
  RegCloseKey(k);
  return r == ERROR_SUCCESS ? transaction.Commit() : r;
}

void WalkSave(int error, bool sticky) {
  vtxtest::TempDir dir;
  vtxtest::ScopedEnv store(vtx::env::kRegistry, dir / "elsewhere.db");
  long run = 0;
  std::string path;
  vtxtest::WalkIoFaults<LSTATUS>(
      [&] {
        // A store of its own for each run: the connection of the run before is closed with it.
        path = dir / ("registry-" + std::to_string(run++) + ".db");
        setenv(vtx::env::kRegistry, path.c_str(), 1);
        WriteOld();
        ASSERT_EQ(ReadAfresh(), kOld);
      },
      SaveNew,
      [&](const vtxtest::IoFault& fault, const LSTATUS& result) {
        if (fault.call.empty()) {
          EXPECT_EQ(result, ERROR_SUCCESS);
        }
        // What another process sees while the faulted connection is still open, and what is left
        // once it is closed.
        for (const char* when : {"open", "closed"}) {
          SCOPED_TRACE(std::string("with the faulted connection ") + when);
          Saved now = ReadAfresh();
          if (result == ERROR_SUCCESS) {
            EXPECT_EQ(now, kNew) << "a success without the new values";
          } else {
            EXPECT_EQ(now, kOld) << "a failure (" << result << ") that changed the store";
            // A lock call that fails leaves the store busy; the others fail as the disk does.
            bool lock = fault.call == "fcntl";
            EXPECT_TRUE(result == ERROR_REGISTRY_IO_FAILED || result == ERROR_DISK_FULL ||
                        (lock && result == ERROR_BUSY))
                << result;
          }
          setenv(vtx::env::kRegistry, (dir / "elsewhere.db").c_str(), 1);
          uint64_t count = 0;
          EXPECT_EQ(vtx::RegistryChangeCount(&count), ERROR_SUCCESS);
          setenv(vtx::env::kRegistry, path.c_str(), 1);
        }
      },
      error, sticky);
}

TEST(RegistryFaults, ASaveLeavesTheOldValuesOrTheNewOnesUnderEveryFault) {
  {
    SCOPED_TRACE("EIO");
    WalkSave(EIO, false);
  }
  {
    SCOPED_TRACE("sticky ENOSPC");
    WalkSave(ENOSPC, true);
  }
}

}  // namespace
