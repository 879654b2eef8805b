// Reads a pool listing file as the tool does (a byte stream into
// ParsePoolListing) and prints the two figures, for timing beside other
// programs that compute them:  listing_figures FILE PERCENTAGE
// Prints "<smallest free share> <requested reserve>".

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "survey/pool_listing.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: listing_figures FILE PERCENTAGE\n");
    return 2;
  }
  std::ifstream listing(argv[1], std::ios::binary);
  if (!listing) return 1;
  const PoolFigures figures = ParsePoolListing(listing, std::atoi(argv[2]));
  std::printf("%d %d\n", figures.smallest_free_share, figures.requested_reserve);
  return 0;
}
