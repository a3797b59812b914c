#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <thread>

#include "platform/errors.h"
#include "platform/heap.h"

namespace {

TEST(Heap, SizeIsWhatWasAskedAndBlocksAreAligned) {
  for (size_t n : {0u, 1u, 7u, 100u, 4096u}) {
    void* g = GlobalAlloc(0, n);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(GlobalSize(g), n);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(g) % alignof(std::max_align_t), 0u);
    EXPECT_EQ(GlobalFree(g), nullptr);
  }
  auto* z = static_cast<unsigned char*>(LocalAlloc(LMEM_ZEROINIT, 64));
  ASSERT_NE(z, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(z[i], 0);
  EXPECT_EQ(LocalSize(z), 64u);
  EXPECT_EQ(GlobalSize(z), 0u);  // a local block is not a global one
  EXPECT_EQ(LocalFree(z), nullptr);
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(Heap, RefusalIsReportedNotThrown) {
  vtx::heap::FailAfter(1);
  void* a = GlobalAlloc(0, 8);
  void* b = GlobalAlloc(0, 8);
  vtx::heap::FailAfter(-1);
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  GlobalFree(a);
  EXPECT_EQ(GlobalAlloc(0, static_cast<size_t>(1) << 50), nullptr);
}

TEST(Errors, HresultRulesAndLastErrorPerThread) {
  EXPECT_EQ(HRESULT_FROM_WIN32(2), 0x80070002u);
  EXPECT_EQ(HRESULT_FROM_WIN32(0), 0u);
  EXPECT_EQ(HRESULT_FROM_WIN32(0x80004005u), 0x80004005u);  // not positive: unchanged
  EXPECT_TRUE(FAILED(E_OUTOFMEMORY));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  SetLastError(5);
  std::thread([] { EXPECT_EQ(GetLastError(), 0u); }).join();
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_EQ(vtx::Win32FromErrno(ENOENT), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(vtx::Win32FromErrno(EACCES), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(vtx::Win32FromErrno(ENOSPC), static_cast<DWORD>(ERROR_DISK_FULL));
  ASSERT_NE(vtx::SystemErrorText(0x80070005), nullptr);
  EXPECT_STREQ(vtx::SystemErrorText(0x80070005), vtx::SystemErrorText(5));
  EXPECT_NE(vtx::SystemErrorText(E_FAIL), nullptr);
  EXPECT_EQ(vtx::SystemErrorText(0x80041234), nullptr);
}

}  // namespace
