#include "survey/pool_survey.h"

#include <cerrno>
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

// The second run as cmd.exe reads it: the tool's path in quotes, so that a
// path with spaces still runs, its word, and the redirection into the
// listing file.
platform::ShellCommand ListingCommand(const std::wstring& tool) {
  return {{tool, kPoolCommand},
          kListingFile,
          L"\"" + tool + L"\" " + kPoolCommand + L" > " + kListingFile};
}

// A leftover listing goes first: cmd.exe's redirection would write through
// a link at the name instead of replacing it. A leftover that cannot go
// (read-only, say) would be read as this run's listing, so then the shell is
// not started and the run fails as one that could not start. A folder at the
// name stays; no listing opens on it.
platform::RunResult RunIntoListing(const std::wstring& tool) {
  platform::DeleteFileAt(kListingFile);
  if (platform::FileExists(kListingFile)) return {-1, EACCES};
  return platform::RunThroughShell(SystemProgramPath(kShellName), ListingCommand(tool));
}

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
  } else if (FailedToStart(RunIntoListing(tool), &status)) {
    platform::PrintText(kSecondSpawnFailed);
  } else {
    std::unique_ptr<std::istream> listing;
    const int opened = platform::OpenFileForReading(kListingFile, &listing);
    if (opened != 0) {
      status = opened;
    } else {
      const PoolFigures read = ParsePoolListing(*listing, percentage);
      // A listing cut short by a read error could lack the fullest pool.
      if (listing->bad()) {
        status = EIO;
      } else {
        *figures = read;
      }
    }
  }
  platform::DeleteFileAt(kListingFile);
  return status;
}
