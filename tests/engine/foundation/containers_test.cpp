#include <gtest/gtest.h>
#include <strings.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/buffer.h"
#include "engine/foundation/cstring.h"
#include "engine/foundation/memorypool.h"
#include "engine/foundation/pointerlist.h"
#include "engine/foundation/stringlist.h"
#include "tests/support/text.h"

using vtxtest::Narrow;
using vtxtest::Str;

namespace {

template <class T>
class Widths : public ::testing::Test {};
using Both = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(Widths, Both);

// Turns heap refusal on for the scope: the next `n` allocations succeed, then all fail.
struct HeapFailure {
  explicit HeapFailure(long n) { vtx::heap::FailAfter(n); }
  ~HeapFailure() { vtx::heap::FailAfter(-1); }
};

TEST(MemoryPool, PiecesAreAlignedAndLargeRequestsGetTheirOwnBlock) {
  CMemoryPool pool(64);
  std::vector<char*> pieces;
  for (uint32_t n : {1u, 3u, 17u, 5u, 200u, 2u}) {
    auto* p = static_cast<char*>(pool.Allocate(n));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u) << n;
    std::memset(p, 0xAB, n);  // the sanitizer catches a piece that overlaps its block's end
    pieces.push_back(p);
  }
  pool.FreeAll();
  EXPECT_NE(pool.Allocate(8), nullptr);  // usable again after FreeAll
  HeapFailure fail(0);
  CMemoryPool empty;
  EXPECT_EQ(empty.Allocate(8), nullptr);
}

TYPED_TEST(Widths, StringAssignmentLengthAndMerge) {
  using T = TypeParam;
  auto abc = Str<T>("abc");
  CString<T> s;
  EXPECT_EQ(s.GetLength(), 0u);
  EXPECT_TRUE(s.IsNull());
  s = abc.c_str();
  EXPECT_EQ(s.GetLength(), 3u);
  CString<T> copy(s);
  EXPECT_EQ(Narrow(copy.GetBuffer()), "abc");
  EXPECT_NE(copy.GetBuffer(), s.GetBuffer());
  s = static_cast<const T*>(nullptr);
  EXPECT_TRUE(s.IsNull());
  EXPECT_TRUE(copy.Merge(Str<T>("def").c_str()));
  EXPECT_TRUE(copy.Merge(nullptr));
  EXPECT_EQ(Narrow(copy.GetBuffer()), "abcdef");
  copy = copy.GetBuffer() + 2;  // a part of its own text
  EXPECT_EQ(Narrow(copy.GetBuffer()), "cdef");
}

TYPED_TEST(Widths, ResizeKeepsTextInCharacters) {
  using T = TypeParam;
  CString<T> s;
  s = Str<T>("hello world").c_str();
  ASSERT_TRUE(s.Resize(64));  // growing keeps the whole text
  EXPECT_EQ(Narrow(s.GetBuffer()), "hello world");
  ASSERT_TRUE(s.Resize(6));  // shrinking keeps what fits, terminated
  EXPECT_EQ(Narrow(s.GetBuffer()), "hello");
  {
    HeapFailure fail(0);
    EXPECT_FALSE(s.Resize(100));
  }
  EXPECT_EQ(Narrow(s.GetBuffer()), "hello");  // a refused resize leaves the text

  CStringBase<T> raw;
  raw = Str<T>("gone").c_str();
  ASSERT_TRUE(raw.Resize(10));
  EXPECT_EQ(raw.GetLength(), 0u);  // the plain form does not keep the text
}

TYPED_TEST(Widths, FailedAssignmentLeavesStringEmpty) {
  using T = TypeParam;
  CString<T> s;
  s = Str<T>("keep").c_str();
  HeapFailure fail(0);
  s = Str<T>("other").c_str();
  EXPECT_TRUE(s.IsNull());
  EXPECT_FALSE(s.Merge(Str<T>("x").c_str()));
}

TEST(CString, OtherWidthGoesThroughTheAnsiPage) {
  CString<char> narrow;
  narrow = u"caf\u00E9 \u0100\u4E2D";  // the last two are outside Windows-1252
  EXPECT_STREQ(narrow.GetBuffer(), "caf\xE9 ??");
  CString<char16_t> wide;
  wide = "\x80 \xE9";
  EXPECT_EQ(std::u16string(wide.GetBuffer()), u"\u20AC \u00E9");
  CStringA a;
  a = u"x";
  EXPECT_STREQ(a.GetBuffer(), "x");
  CStringW w;
  w = static_cast<const char*>(nullptr);
  EXPECT_TRUE(w.IsNull());
}

TEST(Buffer, GrowthRulesAndSeek) {
  CBuffer<char> b(100, 100);
  for (int i = 0; i < 250; ++i) ASSERT_TRUE(b.Add(static_cast<char>('a' + i % 26)));
  EXPECT_EQ(b.GetCapacity(), 300u);
  EXPECT_EQ(b.GetCount(), 250u);

  CBuffer<unsigned char> bytes(10, 5);
  unsigned char block[12] = {};
  ASSERT_TRUE(bytes.Add(block, 12));  // 0 + 12 > 10: capacity 10 + 12 + 5
  EXPECT_EQ(bytes.GetCapacity(), 27u);

  struct {
    int32_t offset;
    uint32_t origin;
    DWORD result;
    uint32_t count;
  } seeks[] = {{0, 0, 0, 0}, {5, 1, 0, 5}, {-1, 2, 0, 25}, {0, 2, 0, 26}, {1, 2, ERROR_HANDLE_EOF, 26},
               {27, 0, ERROR_HANDLE_EOF, 26}, {-1, 0, ERROR_NEGATIVE_SEEK, 26}, {0, 3, ERROR_INVALID_PARAMETER, 26}};
  for (const auto& s : seeks) {
    EXPECT_EQ(bytes.Seek(s.offset, s.origin), s.result) << s.offset << "/" << s.origin;
    EXPECT_EQ(bytes.GetCount(), s.count) << s.offset << "/" << s.origin;
  }
}

TYPED_TEST(Widths, BufferReallocToSmallerKeepsWhatFits) {
  using T = TypeParam;
  CBuffer<T> b(4, 4);
  auto text = Str<T>("abcdefghij");
  ASSERT_TRUE(b.Add(text.data(), 10));
  ASSERT_TRUE(b.Realloc(3));  // the sanitizer catches a copy of the old capacity
  EXPECT_EQ(b.GetCapacity(), 3u);
  EXPECT_EQ(b.GetCount(), 3u);
  EXPECT_EQ(b.GetData()[2], static_cast<T>('c'));
  {
    HeapFailure fail(0);
    EXPECT_FALSE(b.Realloc(50));
    EXPECT_FALSE(b.Add(text.data(), 10));
  }
  EXPECT_EQ(b.GetCapacity(), 3u);  // the old block stays
  b.Empty();
  EXPECT_EQ(b.GetCapacity(), 1u);
  EXPECT_EQ(b.GetCount(), 0u);
  T* owned = b.Detach();
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(b.GetCapacity(), 0u);
  EXPECT_EQ(b.GetData(), nullptr);
  GlobalFree(owned);
}

TEST(Buffer, FirstAllocationRefusedGivesCapacityZero) {
  HeapFailure fail(0);
  CBuffer<const char*> b(8, 8);
  EXPECT_EQ(b.GetCapacity(), 0u);
  EXPECT_EQ(b.Seek(0, 0), static_cast<DWORD>(ERROR_HANDLE_EOF));
}

TEST(PointerList, InsertRemoveIndexAndIterate) {
  int v[5] = {0, 1, 2, 3, 4};
  CPointerList<int> list;
  EXPECT_TRUE(list.Add(&v[1]));
  EXPECT_TRUE(list.Add(&v[3], 1));  // index == count appends
  EXPECT_TRUE(list.Add(&v[0], 0));  // head
  EXPECT_TRUE(list.Add(&v[2], 2));  // before the node at 2
  EXPECT_TRUE(list.Add(&v[4], 99));
  std::vector<int> seen;
  for (int* p : list) seen.push_back(*p);
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
  CPointerList<int>::Iterator from3(list, 3);
  EXPECT_EQ(**from3, 3);
  EXPECT_TRUE(CPointerList<int>::Iterator(list, 5).IsEnd());

  EXPECT_FALSE(list.Remove(5));
  EXPECT_TRUE(list.Remove(4));  // the tail
  EXPECT_TRUE(list.Remove(0));  // the head
  EXPECT_EQ(list.GetCount(), 3u);
  EXPECT_EQ(*list[0], 1);
  EXPECT_EQ(*list[2], 3);
  EXPECT_TRUE(list.Add(&v[4]));  // the tail link still holds after removals
  EXPECT_EQ(*list[3], 4);
  EXPECT_TRUE(list.Exists(3));
  EXPECT_FALSE(list.Exists(4));
  EXPECT_THROW(list[4], int);
  list.Empty();
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_TRUE(list.begin().IsEnd());
}

TEST(PointerList, ManyNodesSpanSeveralPoolBlocks) {
  CPointerList<int> list;
  std::vector<int> items(1000);
  for (int i = 0; i < 1000; ++i) {
    items[i] = i;
    ASSERT_TRUE(list.Add(&items[i]));
  }
  int expect = 0;
  for (int* p : list) EXPECT_EQ(*p, expect++);
  EXPECT_EQ(expect, 1000);
}

TYPED_TEST(Widths, StringListSortedFindAndRemove) {
  using T = TypeParam;
  CStringList<T> list;
  for (const char* w : {"pear", "Apple", "banana", "apple", "PEAR", "cherry"})
    ASSERT_TRUE(list.Add(Str<T>(w).c_str(), kListSorted));
  std::vector<std::string> got;
  for (T* e : list) got.push_back(Narrow(e));
  // Sorted ignoring case; equals keep their order of insertion.
  EXPECT_EQ(got, (std::vector<std::string>{"Apple", "apple", "banana", "cherry", "pear", "PEAR"}));

  EXPECT_EQ(list.Find(Str<T>("apple").c_str()), 1);
  EXPECT_EQ(list.Find(Str<T>("APPLE").c_str()), -1);
  EXPECT_EQ(list.IFind(Str<T>("APPLE").c_str()), 0);
  EXPECT_EQ(list.Find(nullptr), -1);
  EXPECT_TRUE(list.IRemove(Str<T>("pear").c_str()));
  EXPECT_EQ(list.IFind(Str<T>("pear").c_str()), 4);  // the second one is still there
  EXPECT_FALSE(list.Remove(Str<T>("nothing").c_str()));
  EXPECT_FALSE(list.Remove(17u));

  T* element = nullptr;
  uint32_t index = 0;
  ASSERT_TRUE(list.AddEx(Str<T>("zz").c_str(), 0, 0, &element, &index));
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(Narrow(element), "zz");
  EXPECT_EQ(CStringList<T>::Length(element), 2u);
  // Size 0 copies a wide text whole: characters + 1, in bytes of the width.
  EXPECT_EQ(GlobalSize(element), 3 * sizeof(T));
}

// A long list answers IFind from an index of its texts: the answers must be the search's own,
// whatever happened to the list since the last look-up.
TYPED_TEST(Widths, LongListFindFollowsEveryChange) {
  using T = TypeParam;
  CStringList<T> list;
  std::vector<std::string> model;
  auto search = [&](const std::string& text) {
    for (size_t i = 0; i < model.size(); ++i)
      if (strcasecmp(model[i].c_str(), text.c_str()) == 0) return static_cast<int32_t>(i);
    return -1;
  };
  auto check = [&](const char* step) {
    for (const std::string& probe : {std::string("C0"), std::string("c7"), std::string("C19"), std::string("c39"),
                                     std::string("DUP"), std::string("new"), std::string("absent")})
      EXPECT_EQ(search(probe), list.IFind(Str<T>(probe.c_str()).c_str())) << step << ": " << probe;
  };
  auto add = [&](const std::string& text, uint32_t at = kListAppend) {
    ASSERT_TRUE(list.Add(Str<T>(text.c_str()).c_str(), at));
    model.insert(at < model.size() ? model.begin() + at : model.end(), text);
  };
  for (int i = 0; i < 40; ++i) add("c" + std::to_string(i));
  add("dup");
  add("Dup");  // the first of equal texts is found
  check("filled");
  add("NEW");
  check("appended");
  add("c39", 0);
  check("inserted in front");
  ASSERT_TRUE(list.Remove(0u));
  model.erase(model.begin());
  ASSERT_TRUE(list.IRemove(Str<T>("C7").c_str()));
  model.erase(model.begin() + 7);
  check("removed");
  list.Empty();
  model.clear();
  for (int i = 39; i >= 0; --i) add("C" + std::to_string(i));
  check("emptied and filled again in another order");
  EXPECT_EQ(-1, list.IFind(nullptr));
}

TEST(StringList, ThreadsFindInOneListAtOnce) {
  CStringList<char> list;
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(list.Add(("k" + std::to_string(i)).c_str()));
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i)
        if (list.IFind(("K" + std::to_string((i + t * 25) % 200)).c_str()) != (i + t * 25) % 200) ++wrong;
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, wrong.load());
}

TEST(StringList, ExplicitSizeBlocksAndRefusedCopies) {
  CStringList<char> list;
  const char block[6] = {'a', 0, 'b', 0, 'c', 0};
  ASSERT_TRUE(list.Add(block, kListAppend, sizeof block));
  EXPECT_EQ(std::memcmp(list[0], block, 6), 0);
  HeapFailure fail(0);
  EXPECT_FALSE(list.Add("x"));
  EXPECT_EQ(list.GetCount(), 1u);
}

// A derived list that counts its copies, as the owners of row records do.
class CountingList : public CStringList<char> {
 public:
  ~CountingList() override { Empty(); }
  void* Allocate(uint32_t size) override {
    ++live;
    return CStringList<char>::Allocate(size);
  }
  void Free(void* e) override {
    --live;
    CStringList<char>::Free(e);
  }
  int live = 0;
};

TEST(StringList, VirtualAllocateAndFreeAreUsed) {
  CountingList list;
  list.Add("a");
  list.Add("b");
  EXPECT_EQ(list.live, 2);
  list.Remove(0u);
  EXPECT_EQ(list.live, 1);
  list.Empty();
  EXPECT_EQ(list.live, 0);
}

TYPED_TEST(Widths, NumberText) {
  using T = TypeParam;
  using U = CStringUtil<T>;
  T buf[40];
  EXPECT_EQ(Narrow(U::LongToString(7, buf, 10, 3)), "007");
  EXPECT_EQ(Narrow(U::ULongToString(255, buf, 16, 0)), "ff");
  EXPECT_EQ(Narrow(U::LongToString(-5, buf, 10, 4)), "00-5");  // zeros stand before the sign
  EXPECT_EQ(Narrow(U::LongToString(12345, buf, 10, 3)), "12345");
  EXPECT_EQ(Narrow(U::ULongToString(0xFFFFFFFFu, buf, 10, 0)), "4294967295");

  struct {
    const char* text;
    int value;
    size_t consumed;  // 99: the end pointer is left untouched
  } bools[] = {{"No", 0, 2},  {"TRUE", 1, 4},  {"yesterday", 1, 3}, {"nothing", 0, 2},
               {"falsey", 0, 5}, {"maybe", -1, 99}, {"", -1, 99},     {"ye", -1, 99}};
  for (const auto& b : bools) {
    auto text = Str<T>(b.text);
    const T* end = nullptr;
    EXPECT_EQ(U::StringToBool(text.c_str(), &end), b.value) << b.text;
    if (b.consumed == 99) EXPECT_EQ(end, nullptr) << b.text;
    else EXPECT_EQ(static_cast<size_t>(end - text.c_str()), b.consumed) << b.text;
  }
  EXPECT_EQ(U::StringToBool(nullptr, nullptr), -1);
  EXPECT_EQ(U::StringToLongBool(Str<T>("0x1A").c_str(), nullptr, 0), 26);
  EXPECT_EQ(U::StringToLongBool(Str<T>("017").c_str(), nullptr, 0), 15);
  EXPECT_EQ(U::StringToLongBool(Str<T>("yes").c_str(), nullptr, 0), 1);
  EXPECT_EQ(U::StringToULongBool(Str<T>("-1").c_str(), nullptr, 10), 0xFFFFFFFFu);
  EXPECT_EQ(U::StringToLong(Str<T>("-12abc").c_str(), nullptr, 10), -12);
  EXPECT_EQ(U::StringICmp(Str<T>("ABC").c_str(), Str<T>("abc").c_str()), 0);
  T copy[8];
  U::StringCopy(copy, Str<T>("abc").c_str());
  EXPECT_EQ(U::StringLen(copy), 3u);
  EXPECT_EQ(U::StringLen(nullptr), 0u);
}

}  // namespace
