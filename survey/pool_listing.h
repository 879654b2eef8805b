#ifndef SNAPRESERVE_SURVEY_POOL_LISTING_H_
#define SNAPRESERVE_SURVEY_POOL_LISTING_H_

#include <climits>
#include <istream>

/// The figures a pool listing gives for a request.
struct PoolFigures {
  int smallest_free_share = 100;    // lowest free space of any pool, in whole percent
  int requested_reserve = 0;        // MB the request sets aside on the smallest pool
  int smallest_capacity = INT_MAX;  // capacity of the smallest pool in MB; INT_MAX without pools
  bool headed = false;              // the listing holds its two heading lines
};

/// What `percentage` sets aside on a pool of `capacity` MB, in MB: the
/// capacity times the percentage over 100, truncated toward zero.
int RequestedReserve(int capacity, int percentage);

/// Reads the management tool's pool listing: two heading lines, then one pool
/// a line as "name capacity free ..." (megabytes, white-space separated).
/// `percentage` is the validated request, 0 to 99; the reserve is
/// RequestedReserve of the smallest capacity. Never fails: a listing without
/// pools gives a share of 100 and the reserve of a 2147483647 MB pool, and
/// `headed` says whether the two heading lines were there at all.
PoolFigures ParsePoolListing(std::istream& listing, int percentage);

#endif  // SNAPRESERVE_SURVEY_POOL_LISTING_H_
