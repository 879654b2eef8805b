#include "survey/pool_survey.h"

#include <istream>
#include <memory>
#include <string>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"

const std::wstring kPoolCommand = L"pool";
const std::wstring kListingFile = L".\\____HLV__PlexAdm__TempFile.vlmr";

namespace {

const std::wstring kFirstSpawnFailed = L"Error in first spawn.\n";
const std::wstring kSecondSpawnFailed = L"Error in second spawn.\n";

// A run that returned -1 did not start, even when -1 was the child's own exit
// status. The status reported is never 0.
bool FailedToStart(const platform::RunResult& run, int* status) {
  if (run.status != -1) return false;
  *status = run.error != 0 ? run.error : -1;
  return true;
}

}  // namespace

int QueryPoolSpace(int percentage, PoolFigures* figures) {
  figures->smallest_free_share = 0;

  std::wstring tool;
  const long found = platform::ShortPathName(ManagementToolPath(), &tool);
  if (found != 0) return static_cast<int>(found);

  int status = 0;
  if (FailedToStart(platform::RunAndWait({tool, kPoolCommand}), &status)) {
    platform::PrintText(kFirstSpawnFailed);
  } else if (FailedToStart(platform::RunThroughShell(SystemProgramPath(kShellName), tool,
                                                      kPoolCommand, kListingFile),
                           &status)) {
    platform::PrintText(kSecondSpawnFailed);
  } else {
    std::unique_ptr<std::istream> listing;
    const int opened = platform::OpenFileForReading(kListingFile, &listing);
    if (opened != 0) {
      status = opened;
    } else {
      *figures = ParsePoolListing(*listing, percentage);
    }
  }
  platform::DeleteFileAt(kListingFile);
  return status;
}
