// What the benchmarks measure besides time: the process's peak memory, and a listing's size
// without keeping the listing.
#pragma once

#include <sys/resource.h>

#include <cstddef>
#include <streambuf>

namespace vell_bench {

// Peak resident memory of this process so far, in KiB.
inline long max_rss_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Where a timed listing goes: counted, not kept, as a file written a few pages at a time keeps
// nothing in memory.
struct ListingSink : std::streambuf {
  std::size_t bytes = 0;
  std::streamsize xsputn(const char*, std::streamsize n) override {
    bytes += static_cast<std::size_t>(n);
    return n;
  }
  int_type overflow(int_type c) override {
    ++bytes;
    return c;
  }
};

}  // namespace vell_bench
