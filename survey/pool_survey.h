#ifndef SNAPRESERVE_SURVEY_POOL_SURVEY_H_
#define SNAPRESERVE_SURVEY_POOL_SURVEY_H_

#include "survey/pool_listing.h"
#include "survey/programs.h"

extern const std::wstring kPoolCommand;  // pool
extern const std::wstring kListingFile;  // .\____HLV__PlexAdm__TempFile.vlmr

/// Asks the management tool (where ManagementToolPath finds it) for its pool
/// listing: runs it once on the console, once more through the shell into the
/// temporary listing file, parses that file for `percentage` and removes it. Returns 0 with the figures, or a
/// non-zero status (the figures then hold a share of 0 and are not to be used).
int QueryPoolSpace(int percentage, PoolFigures* figures);

#endif  // SNAPRESERVE_SURVEY_POOL_SURVEY_H_
