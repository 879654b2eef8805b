// The pool listing parser on arbitrary bytes. The first byte picks the
// percentage (0 to 99), the rest is the listing. Whatever the text:
//   - the smallest free share never exceeds 100;
//   - the smallest capacity, worked out here on its own from the listing's
//     layout, is the one the figures give;
//   - the requested reserve is the smallest capacity times the percentage
//     over 100, truncated toward zero.

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "survey/pool_listing.h"

namespace {

const size_t kLineLimit = 4095;
const std::int64_t kIntMax = 2147483647;
const std::int64_t kIntMin = -kIntMax - 1;

bool White(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The second field of a pool line as atoi reads it, held to 32 bits; the
// text ends at its first zero byte, as a C string does.
std::int64_t Capacity(const std::string& line) {
  const std::string text = line.substr(0, line.find('\0'));
  size_t i = 0;
  while (i < text.size() && !White(text[i])) ++i;
  while (i < text.size() && White(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value <= kIntMax) value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  return value > kIntMax ? kIntMax : value < kIntMin ? kIntMin : value;
}

// The smallest capacity of the listing's pool lines: lines 3 on, not empty,
// with their newline and a carriage return before it dropped and cut to the
// line limit. A last line without a newline counts too.
std::int64_t SmallestCapacity(const std::string& listing) {
  std::int64_t smallest = kIntMax;
  size_t start = 0;
  for (int number = 1; start < listing.size(); ++number) {
    const size_t newline = listing.find('\n', start);
    const bool ended = newline != std::string::npos;
    std::string line = listing.substr(start, ended ? newline - start : std::string::npos);
    start = ended ? newline + 1 : listing.size();
    if (ended && !line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kLineLimit) line.resize(kLineLimit);
    if (number >= 3 && !line.empty()) {
      const std::int64_t capacity = Capacity(line);
      if (capacity < smallest) smallest = capacity;
    }
  }
  return smallest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int percentage = data[0] % 100;
  const std::string listing(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::istringstream stream(listing);

  const PoolFigures figures = ParsePoolListing(stream, percentage);

  if (figures.smallest_free_share > 100) std::abort();
  const std::int64_t smallest = SmallestCapacity(listing);
  if (figures.smallest_capacity != smallest) std::abort();
  if (figures.requested_reserve != smallest * percentage / 100) std::abort();
  return 0;
}
