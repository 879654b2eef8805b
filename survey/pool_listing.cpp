#include "survey/pool_listing.h"

#include <climits>
#include <cstdint>
#include <string>

namespace {

const int kLineLimit = 4095;
const int kNoPoolCapacity = INT_MAX;

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

// Reads one line into `line`, dropping its newline and one carriage return
// right before it. At most kLineLimit bytes are kept; the rest of a longer
// line is passed over. False when the listing has no more lines: a last line
// without a newline still counts.
bool ReadLine(std::istream& listing, std::string& line) {
  line.clear();
  std::streambuf* in = listing.rdbuf();
  bool any = false;
  bool carriage_return = false;  // the byte just read was a CR
  for (;;) {
    const int c = in->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      listing.setstate(std::ios::eofbit);
      break;
    }
    any = true;
    if (c == '\n') {
      if (carriage_return && line.size() <= static_cast<size_t>(kLineLimit)) line.pop_back();
      break;
    }
    carriage_return = c == '\r';
    if (line.size() < static_cast<size_t>(kLineLimit) + 1) line.push_back(static_cast<char>(c));
  }
  // One byte past the limit is kept above only so that a line of exactly the
  // limit and a carriage return loses just the carriage return.
  if (line.size() > static_cast<size_t>(kLineLimit)) line.resize(kLineLimit);
  return any;
}

}  // namespace

PoolFigures ParsePoolListing(std::istream& listing, int percentage) {
  PoolFigures figures;
  int smallest_capacity = kNoPoolCapacity;
  std::string line;
  line.reserve(kLineLimit + 1);

  // Two heading lines.
  ReadLine(listing, line);
  ReadLine(listing, line);

  while (ReadLine(listing, line)) {
    if (line.empty()) continue;
    const char* p = SkipSpace(SkipField(line.c_str()));
    const int capacity = ReadNumber(p);
    p = SkipSpace(SkipField(p));
    const int free_space = ReadNumber(p);

    const int share = FreeShare(capacity, free_space);
    if (share < figures.smallest_free_share) figures.smallest_free_share = share;
    if (capacity < smallest_capacity) smallest_capacity = capacity;
  }

  figures.requested_reserve =
      static_cast<int>(std::int64_t{smallest_capacity} * percentage / 100);
  return figures;
}
