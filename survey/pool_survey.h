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
/// A failure prints its line, except where the management tool is not
/// installed or its listing file cannot be made or read: then, with
/// `quiet_reason`, that says why in a sentence of its own (the JSON report's).
int QueryPoolSpace(int percentage, PoolFigures* figures, std::wstring* quiet_reason = nullptr);

#endif  // SNAPRESERVE_SURVEY_POOL_SURVEY_H_
