#ifndef SNAPRESERVE_SURVEY_POOL_LISTING_H_
#define SNAPRESERVE_SURVEY_POOL_LISTING_H_

#include <istream>

/// The two figures a pool listing gives for a request.
struct PoolFigures {
  int smallest_free_share = 100;  // lowest free space of any pool, in whole percent
  int requested_reserve = 0;      // MB the request sets aside on the smallest pool
};

/// Reads the management tool's pool listing: two heading lines, then one pool
/// a line as "name capacity free ..." (megabytes, white-space separated).
/// `percentage` is the validated request, 0 to 99. Never fails: a listing
/// without pools gives a share of 100 and the reserve of a 2147483647 MB pool.
PoolFigures ParsePoolListing(std::istream& listing, int percentage);

#endif  // SNAPRESERVE_SURVEY_POOL_LISTING_H_
