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
const std::wstring kToolEndedAbnormally =
    L"\aThe management tool ended abnormally; its pool listing is not used.\n";
const std::wstring kToolTimedOut = L"\aThe management tool did not finish in " +
                                   std::to_wstring(platform::kChildWaitSeconds) +
                                   L" seconds; its pool listing is not used.\n";
const std::wstring kNetworkFolder =
    L"\aThe pools cannot be surveyed from a network folder; "
    L"start the tool from a folder on a drive.\n";
const std::wstring kNetworkPrefix = L"\\\\";
const std::wstring kToolFailedStart = L"\aThe management tool ended with status ";
const std::wstring kToolFailedEnd = L"; its pool listing is not used.\n";
const std::wstring kNoHeadings =
    L"\aThe pool listing lacks its two heading lines; it is not used.\n";
// Why a survey failed that prints nothing, as the product's own survey
// prints nothing there; only the JSON report gives these.
const std::wstring kNotInstalled = L"The management tool is not installed.";
const std::wstring kListingNotMade =
    L"The pool listing file could not be created in the working folder.";
const std::wstring kListingNotRead = L"The pool listing file could not be read.";

// The second run as cmd.exe reads it: the tool's path in quotes, so that a
// path with spaces still runs, its word, and the redirection into the
// listing file.
platform::ShellCommand ListingCommand(const std::wstring& tool) {
  return {{tool, kPoolCommand},
          kListingFile,
          L"\"" + tool + L"\" " + kPoolCommand + L" > " + kListingFile};
}

// A run that returned -1 did not start, even when -1 was the child's own exit
// status. The status reported is never 0.
bool FailedToStart(const platform::RunResult& run, int* status) {
  if (run.status != -1) return false;
  *status = run.error != 0 ? run.error : -1;
  return true;
}

// cmd.exe cannot work in a network folder: it starts in the Windows folder
// instead, and the listing would be written there.
bool InNetworkFolder() {
  return platform::WorkingFolder().compare(0, kNetworkPrefix.size(), kNetworkPrefix) == 0;
}

// Reads the listing the shell wrote into the held file. Only a whole listing
// of a run that succeeded is decided on: a tool that failed may have listed
// some pools and not others, and a listing cut short by a read error could
// lack the fullest pool. Nothing at all from a shell that reported a failure
// means the shell could not run the tool (cmd.exe empties the file before it
// looks for the program). A listing without even its headings lists no pools
// of this machine: read as one, it would let every request pass.
int ReadListing(const platform::HeldFile& file, const platform::RunResult& run, int percentage,
                PoolFigures* figures, std::wstring* quiet_reason) {
  std::unique_ptr<std::istream> listing;
  const int opened = platform::ReadHeldFile(file, &listing);
  if (opened != 0) {
    *quiet_reason = kListingNotRead;
    return opened;
  }
  if (run.status != 0) {
    if (listing->peek() == std::char_traits<char>::eof()) {
      platform::PrintText(kSecondSpawnFailed);
      return ENOENT;
    }
    platform::PrintText(kToolFailedStart + std::to_wstring(run.status) + kToolFailedEnd);
    return EIO;
  }
  const PoolFigures read = ParsePoolListing(*listing, percentage);
  if (listing->bad()) {
    *quiet_reason = kListingNotRead;
    return EIO;
  }
  if (!read.headed) {
    platform::PrintText(kNoHeadings);
    return EIO;
  }
  *figures = read;
  return 0;
}

// The second run, into a listing file that this run creates and holds, so
// that the listing read is the one its own shell wrote. A leftover goes
// first. A name taken again before the create (a leftover that would not go,
// or a file put there since) is never read or written: the shell does not
// start. Where the file cannot be made at all (a folder at the name, a
// working folder closed to the user), the survey fails as one whose listing
// does not open.
int SurveyIntoListing(const std::wstring& tool, int percentage, PoolFigures* figures,
                      std::wstring* quiet_reason) {
  platform::DeleteFileAt(kListingFile);
  platform::HeldFile file;
  const int created = platform::CreateHeldFile(kListingFile, &file);
  if (created != 0) {
    if (created == EEXIST) {
      platform::PrintText(kSecondSpawnFailed);
    } else {
      *quiet_reason = kListingNotMade;
    }
    platform::DeleteFileAt(kListingFile);
    return created;
  }

  int status = 0;
  const platform::RunResult run =
      platform::RunThroughShell(SystemProgramPath(kShellName), ListingCommand(tool), file);
  if (FailedToStart(run, &status)) {
    platform::PrintText(kSecondSpawnFailed);
  } else if (run.timed_out) {
    // It was ended part way through its listing (process.h says with what).
    platform::PrintText(kToolTimedOut);
    status = ETIMEDOUT;
  } else if (run.abnormal) {
    // A tool that crashed part way may have left out any pool.
    platform::PrintText(kToolEndedAbnormally);
    status = EIO;
  } else {
    status = ReadListing(file, run, percentage, figures, quiet_reason);
  }
  platform::ReleaseHeldFile(&file);
  return status;
}

}  // namespace

int QueryPoolSpace(int percentage, PoolFigures* figures, std::wstring* quiet_reason) {
  figures->smallest_free_share = 0;
  std::wstring unused;
  if (!quiet_reason) quiet_reason = &unused;
  quiet_reason->clear();

  std::wstring tool;
  const long found = platform::ShortPathName(ManagementToolPath(), &tool);
  if (found != 0) {
    *quiet_reason = kNotInstalled;
    return static_cast<int>(found);
  }
  if (InNetworkFolder()) {
    platform::PrintText(kNetworkFolder);
    return EACCES;
  }

  int status = 0;
  const platform::RunResult first = platform::RunAndWait({tool, kPoolCommand});
  if (FailedToStart(first, &status)) {
    platform::PrintText(kFirstSpawnFailed);
    platform::DeleteFileAt(kListingFile);
    return status;
  }
  // A tool that hangs on the console would hang in the listing run too.
  if (first.timed_out) {
    platform::PrintText(kToolTimedOut);
    platform::DeleteFileAt(kListingFile);
    return ETIMEDOUT;
  }
  return SurveyIntoListing(tool, percentage, figures, quiet_reason);
}
