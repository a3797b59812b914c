// Reading a 16 MiB "file:" source through the internet connection, and 16 MiB of small appends to
// a buffer.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/foundation/buffer.h"
#include "engine/update/inetconnection.h"

namespace {

constexpr size_t kSize = 16u << 20;

const std::string& SourceFile() {
  static const std::string path = [] {
    char tmpl[] = "/tmp/vtx-download-bench-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) std::abort();
    close(fd);
    // Lines of 100 bytes.
    std::string line(99, 'x');
    line += '\n';
    std::ofstream out(tmpl, std::ios::binary);
    for (size_t n = 0; n < kSize; n += line.size()) out << line;
    std::atexit([] { unlink(SourceFile().c_str()); });
    return std::string(tmpl);
  }();
  return path;
}

void BM_FileSource16MiB(benchmark::State& state) {
  std::string url = "file://" + SourceFile();
  CINetConnection connection;
  for (auto _ : state) {
    CBuffer<char> out(1000, 1000);
    if (FAILED(connection.Load(url.c_str(), out, 0, 0, nullptr, nullptr))) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(out.GetData());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
}
BENCHMARK(BM_FileSource16MiB)->Unit(benchmark::kMillisecond);

void BM_BufferSmallAppends16MiB(benchmark::State& state) {
  char chunk[1000] = {};
  for (auto _ : state) {
    CBuffer<char> out(100, 100);
    for (size_t n = 0; n < kSize; n += sizeof chunk) out.Add(chunk, sizeof chunk);
    benchmark::DoNotOptimize(out.GetData());
  }
}
BENCHMARK(BM_BufferSmallAppends16MiB)->Unit(benchmark::kMillisecond);

}  // namespace
