#include "survey/pool_listing.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr size_t kLineLimit = 4095;

// The C library's white space: space, tab, newline, vertical tab, form feed
// and carriage return, and nothing else whatever the locale.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atoi's reading of a number: leading white space, a sign, then digits up to
// the first other character. Values beyond 32 bits stop at the nearest limit.
int ReadNumber(const char* p) {
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  std::int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > std::int64_t{INT_MAX} + 1) value = std::int64_t{INT_MAX} + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

const char* SkipField(const char* p) {
  while (*p != '\0' && !IsSpace(*p)) ++p;
  return p;
}

const char* SkipSpace(const char* p) {
  while (IsSpace(*p)) ++p;
  return p;
}

// Free space as a whole percentage of capacity, truncated toward zero; a pool
// without capacity has none free. A share beyond 32 bits stops at the limit.
int FreeShare(int capacity, int free_space) {
  if (capacity == 0) return 0;
  const double share = static_cast<double>(free_space) * 100.0 / static_cast<double>(capacity);
  if (share >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (share <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(share);
}

// Hands out the listing's lines, reading it a block at a time: a listing of
// a million pools goes through one block and one line buffer.
class LineReader {
 public:
  explicit LineReader(std::istream& listing) : listing_(listing) {}

  // Reads one line into `line`, dropping its newline and one carriage return
  // right before it. At most kLineLimit bytes are kept; the rest of a longer
  // line is passed over. False when the listing has no more lines: a last
  // line without a newline still counts.
  bool Next(std::string& line) {
    line.clear();
    bool any = false;
    bool ended = false;
    bool carriage_return = false;  // the line's last byte so far is a CR
    std::uint64_t length = 0;      // the whole line's, beyond what is kept
    while (!ended && (at_ < end_ || Fill())) {
      any = true;
      const char* start = block_ + at_;
      const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - at_));
      const size_t count = newline ? static_cast<size_t>(newline - start) : end_ - at_;
      // One byte past the limit is kept, so that a line of exactly the limit
      // and a carriage return loses just the carriage return.
      if (line.size() < kKept) line.append(start, std::min(count, kKept - line.size()));
      if (count > 0) carriage_return = start[count - 1] == '\r';
      length += count;
      at_ += count;
      if (newline) {
        ++at_;
        ended = true;
      }
    }
    if (ended && carriage_return && length <= kKept) line.pop_back();
    if (line.size() > kLineLimit) line.resize(kLineLimit);
    return any;
  }

 private:
  static constexpr size_t kKept = kLineLimit + 1;

  bool Fill() {
    at_ = 0;
    const std::streamsize got = listing_.rdbuf() ? listing_.rdbuf()->sgetn(block_, sizeof block_) : 0;
    end_ = got > 0 ? static_cast<size_t>(got) : 0;
    if (end_ == 0) listing_.setstate(std::ios::eofbit);
    return end_ > 0;
  }

  std::istream& listing_;
  char block_[65536];
  size_t at_ = 0;
  size_t end_ = 0;
};

}  // namespace

int RequestedReserve(int capacity, int percentage) {
  return static_cast<int>(std::int64_t{capacity} * percentage / 100);
}

PoolFigures ParsePoolListing(std::istream& listing, int percentage) {
  PoolFigures figures;
  LineReader lines(listing);
  std::string line;
  line.reserve(kLineLimit + 1);

  // Two heading lines.
  figures.headed = lines.Next(line) && lines.Next(line);

  while (lines.Next(line)) {
    if (line.empty()) continue;
    const char* p = SkipSpace(SkipField(line.c_str()));
    const int capacity = ReadNumber(p);
    p = SkipSpace(SkipField(p));
    const int free_space = ReadNumber(p);

    const int share = FreeShare(capacity, free_space);
    if (share < figures.smallest_free_share) figures.smallest_free_share = share;
    if (capacity < figures.smallest_capacity) figures.smallest_capacity = capacity;
  }

  figures.requested_reserve = RequestedReserve(figures.smallest_capacity, percentage);
  return figures;
}
