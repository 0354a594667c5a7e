// The benchmark's random numbers: splitmix64, the same on every platform
// and library, which the standard distributions are not, so that a seed
// always makes the same tree.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

struct Rng {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  std::uint32_t below(std::size_t n) {  // 0 .. n-1
    return static_cast<std::uint32_t>((next() >> 32) * n >> 32);
  }
  int range(int low, int high) { return low + static_cast<int>(below(high - low + 1)); }
  bool percent(int p) { return below(100) < static_cast<std::uint32_t>(p); }
  // Log-uniform: many small files, a few big ones.
  std::int64_t logSize(double low, double high) {
    double unit = static_cast<double>(next() >> 11) / 9007199254740992.0;
    return static_cast<std::int64_t>(std::exp(std::log(low) + unit * std::log(high / low)));
  }
  template <typename T, std::size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(N)];
  }
};
