// Where the tests find the source tree, the build tree and the programs they start. Every path comes
// from the build (tests/CMakeLists.txt), so a test program runs the same from CTest, by hand or from
// any folder.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

#if !defined(VANTREX_SOURCE_DIR) || !defined(VANTREX_BUILD_DIR) || !defined(VANTREX_TEST_PROGRAMS)
#error "tests are built through vtx_add_test (tests/CMakeLists.txt)"
#endif

namespace vtxtest {

inline std::string SourceDir() { return VANTREX_SOURCE_DIR; }
inline std::string BuildDir() { return VANTREX_BUILD_DIR; }

// A file or folder of the source tree, by its path there ("resources/0409/vantrex.cat").
inline std::string SourcePath(const std::string& relative) { return SourceDir() + "/" + relative; }

// The built program of a target named in the test's PROGRAMS (which also builds it before the
// test). A target that is not named there ends the test program: it cannot run.
inline std::string Program(const std::string& target) {
  const std::string all = VANTREX_TEST_PROGRAMS;  // "name=path|name=path"
  for (size_t at = 0; at < all.size();) {
    size_t end = all.find('|', at);
    if (end == std::string::npos) end = all.size();
    std::string entry = all.substr(at, end - at);
    if (entry.compare(0, target.size() + 1, target + "=") == 0) return entry.substr(target.size() + 1);
    at = end + 1;
  }
  std::fprintf(stderr, "%s is not among the PROGRAMS of this test (tests/**/CMakeLists.txt)\n", target.c_str());
  std::abort();
}

}  // namespace vtxtest
