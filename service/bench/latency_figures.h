#pragma once
// What the service's benchmarks share: the p50, p99 and slowest of a run's request times, and the
// query-string form of a word they search for.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace torvo::service::bench {

inline std::string PercentEncode(std::string_view text) {
  std::string out;
  char buffer[4];
  for (unsigned char c : text) {
    std::snprintf(buffer, sizeof buffer, "%%%02X", c);
    out += buffer;
  }
  return out;
}

struct Figures {
  double p50 = 0, p99 = 0, max = 0;
  size_t count = 0;
};

inline Figures Percentiles(std::vector<double> milliseconds) {
  Figures figures;
  if (milliseconds.empty()) return figures;
  std::sort(milliseconds.begin(), milliseconds.end());
  auto at = [&](double q) { return milliseconds[std::min(milliseconds.size() - 1, static_cast<size_t>(q * milliseconds.size()))]; };
  figures.p50 = at(0.50);
  figures.p99 = at(0.99);
  figures.max = milliseconds.back();
  figures.count = milliseconds.size();
  return figures;
}

}  // namespace torvo::service::bench
