#ifndef SNAPRESERVE_PLATFORM_EVENT_LOG_H_
#define SNAPRESERVE_PLATFORM_EVENT_LOG_H_

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// Event types, numbered as the Windows event log numbers them.
enum EventType : std::uint16_t {
  kEventError = 1,
  kEventWarning = 2,
  kEventInformation = 4,
};

/// The event source the tool writes as, in the Application log.
extern const std::wstring kEventSource;  // snapreserve

/// Records one event of the tool's source in the Application log: its type,
/// its ID and its insertion strings, with the user the tool runs as. Never
/// waits, prints nothing and changes no outcome. Returns empty when the event
/// was written, else why it was not, in a few words ("the event log is a link").
///   Windows: ReportEventW, with the user SID of the process token. Where the
///   source is not registered, the log still takes the event, without its text.
///   Stand-in machine: one JSON line (time, source, type, id, user, strings)
///   appended in a single write to <root>/eventlog/Application.log, whole or
///   not at all (a write cut short is taken back). The folder and the file
///   are made where missing, and written only where both belong to the
///   machine's owner (the owner of its root) or root, no one else may write
///   them, neither is a link and the file is a regular one of one name.
std::wstring WriteEvent(EventType type, std::uint32_t id, const std::vector<std::wstring>& strings);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_EVENT_LOG_H_
