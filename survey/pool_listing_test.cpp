#include "survey/pool_listing.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <sstream>
#include <string>

#include "platform/block_stream.h"

namespace {

const std::string kHeadings = "Pool Capacity Free\n---- -------- ----\n";

PoolFigures Parse(const std::string& listing, int percentage) {
  std::istringstream in(listing);
  return ParsePoolListing(in, percentage);
}

struct ListingCase {
  const char* what;
  std::string listing;
  int percentage;
  int share;
  int reserve;
};

void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.what; }

class PoolListingTest : public testing::TestWithParam<ListingCase> {};

TEST_P(PoolListingTest, GivesSmallestShareAndReserve) {
  const ListingCase& c = GetParam();
  const PoolFigures figures = Parse(c.listing, c.percentage);
  EXPECT_EQ(c.share, figures.smallest_free_share) << c.what;
  EXPECT_EQ(c.reserve, figures.requested_reserve) << c.what;
  EXPECT_EQ(figures.requested_reserve, RequestedReserve(figures.smallest_capacity, c.percentage))
      << c.what << ": the smallest capacity gives every request's reserve";
}

const int kNoPoolReserve15 = static_cast<int>(2147483647LL * 15 / 100);

INSTANTIATE_TEST_SUITE_P(
    Listings, PoolListingTest,
    testing::Values(
        ListingCase{"two pools, minima from different pools",
                    kHeadings + "PoolA 20000 8000\nPoolB 5000 3000\n", 15, 40, 750},
        ListingCase{"same listing at 30%", kHeadings + "PoolA 20000 8000\nPoolB 5000 3000\n",
                    30, 40, 1500},
        ListingCase{"third line is the first pool", "h1\nP0 10 1\nP1 1000 500\n", 10, 50, 100},
        ListingCase{"a last line without a newline still counts", "h1\nh2\nP1 1000 500", 10, 50,
                    100},
        ListingCase{"only the last pool lacks a newline",
                    kHeadings + "Big 900000 800000\nTiny 2000 100", 10, 5, 200},
        ListingCase{"no listing at all", "", 15, 100, kNoPoolReserve15},
        ListingCase{"headings only", kHeadings, 15, 100, kNoPoolReserve15},
        ListingCase{"leading white space skips no name", kHeadings + "  1000 500\n", 10, 50, 100},
        ListingCase{"missing free space reads as 0", kHeadings + "P2 1000\n", 10, 0, 100},
        ListingCase{"words after the free space are ignored",
                    kHeadings + "P3 3000 1000 online healthy\n", 10, 33, 300},
        ListingCase{"carriage returns before newlines are dropped",
                    "h1\r\nh2\r\nP 1000 400\r\n\r\n", 10, 40, 100},
        ListingCase{"a carriage return alone is an empty line", kHeadings + "\r\nP 1000 400\n",
                    10, 40, 100},
        ListingCase{"tabs, vertical tabs and form feeds separate fields",
                    kHeadings + "P\t1000\v\f600\n", 10, 60, 100},
        ListingCase{"free space above capacity never raises the share",
                    kHeadings + "P 100 500\n", 10, 100, 10},
        ListingCase{"zero capacity gives no free share", kHeadings + "P 0 0\n", 0, 0, 0},
        ListingCase{"a capacity that is no number is 0", kHeadings + "P n/a 10\n", 50, 0, 0},
        ListingCase{"request 0 reserves nothing", kHeadings + "P 1000 400\n", 0, 40, 0},
        ListingCase{"shares truncate toward zero", kHeadings + "P 3 2\n", 1, 66, 0},
        ListingCase{"negative capacity", kHeadings + "P -1000 500\n", 10, -50, -100},
        ListingCase{"capacities beyond 32 bits stop at the limit",
                    kHeadings + "P 99999999999 99999999999\n", 99, 100,
                    static_cast<int>(2147483647LL * 99 / 100)},
        ListingCase{"free space beyond 32 bits gives no wrap-around",
                    kHeadings + "P 1 99999999999\n", 10, 100, 0},
        ListingCase{"a huge negative free space stays the lowest share",
                    kHeadings + "P 1 -99999999999\nQ 1000 900\n", 10, INT_MIN, 0}));

TEST(PoolListingLongLines, KeepsTheFirst4095BytesAndGoesOn) {
  // The capacity of the first pool lies beyond the line limit: it is lost
  // and the pool reads as having none, which refuses every request.
  const std::string long_name(4094, 'n');
  const PoolFigures cut = Parse(kHeadings + long_name + " 1000 500\nP 2000 1600\n", 10);
  EXPECT_EQ(0, cut.smallest_free_share);
  EXPECT_EQ(0, cut.requested_reserve);

  // The line after an over-long one is read as usual.
  const std::string overlong(10000, 'x');
  const PoolFigures next = Parse(kHeadings + overlong + "\nP 2000 1600\n", 10);
  EXPECT_EQ(0, next.smallest_free_share);  // the long line itself: capacity 0
  EXPECT_EQ(0, next.requested_reserve);
  const PoolFigures after = Parse(kHeadings + "P 2000 1600\n" + overlong + " 9 9\n", 10);
  EXPECT_EQ(0, after.smallest_free_share);
}

TEST(PoolListingLongLines, CarriageReturnAtTheLimitIsDropped) {
  // 4095 bytes and a CR: the CR goes, and the line still parses.
  std::string line = "P 1000 250";
  line += std::string(4095 - line.size(), ' ');
  const PoolFigures figures = Parse(kHeadings + line + "\r\n", 10);
  EXPECT_EQ(25, figures.smallest_free_share);
  EXPECT_EQ(100, figures.requested_reserve);
}

TEST(PoolListingBlocks, LinesAcrossReadBlocksAreWhole) {
  // The listing is read 64 KiB at a time. Pools of 16 bytes a line put line
  // ends on every side of the block edges; a line made only of a carriage
  // return, split from its newline by an edge, is still empty.
  std::string listing = kHeadings;
  while (listing.size() < 65535 - 40) listing += "P 1000000 900000\n";
  const std::string pool = "P 1000000 900000";
  listing += pool + std::string(65535 - listing.size() - pool.size() - 1, ' ') + "\n";
  listing += "\r\nSmall 2000 1000\n";  // the CR ends the first block
  while (listing.size() < 200000) listing += "Q 1000000 990000\n";
  const PoolFigures figures = Parse(listing, 10);
  EXPECT_EQ(50, figures.smallest_free_share);
  EXPECT_EQ(200, figures.requested_reserve);

  // The same through the file stream the tool reads a listing with, from a
  // file that gives at most 4093 bytes a read: the stream adds no block of
  // its own, and short reads are not the end. It is closed once.
  size_t at = 0;
  int closed = 0;
  {
    platform::BlockStream file(
        [&](char* buffer, unsigned size) -> long {
          const size_t got = std::min<size_t>({size, 4093, listing.size() - at});
          std::memcpy(buffer, listing.data() + at, got);
          at += got;
          return static_cast<long>(got);
        },
        [&] { ++closed; });
    const PoolFigures read = ParsePoolListing(file, 10);
    EXPECT_EQ(50, read.smallest_free_share);
    EXPECT_EQ(200, read.requested_reserve);
  }
  EXPECT_EQ(listing.size(), at);
  EXPECT_EQ(1, closed);
}

}  // namespace
