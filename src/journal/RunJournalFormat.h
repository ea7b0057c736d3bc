#pragma once
// The run journal's format, shared by its writer (the download run) and its
// reader: the keys of a line in the order they are written, and the words of
// the "outcome" key. The file's name is DeploymentLayout::kRunJournalFile.

namespace RunJournalFormat {

// The keys of one line, in the order the writer puts them.
namespace Key {
inline constexpr const char* kDeployment = "deployment";
inline constexpr const char* kStart = "start";
inline constexpr const char* kEnd = "end";
inline constexpr const char* kDuration = "duration_s";
inline constexpr const char* kStatus = "status";
inline constexpr const char* kOutcome = "outcome";
inline constexpr const char* kFatal = "fatal";
inline constexpr const char* kSession = "session";
inline constexpr const char* kSessionBytes = "session_bytes";
inline constexpr const char* kPort = "port";
inline constexpr const char* kVersion = "version";
inline constexpr const char* kRecordsLogged = "records_logged";
inline constexpr const char* kNextDownload = "next_download";
inline constexpr const char* kGetdataRequests = "getdata_requests";
inline constexpr const char* kGetlogRequests = "getlog_requests";
inline constexpr const char* kRecordsRequested = "records_requested";
}  // namespace Key

// How a run ended: the value of Key::kOutcome.
namespace Outcome {
inline constexpr const char* kComplete = "complete";   // status 0
inline constexpr const char* kFatal = "fatal";         // a FATAL line ended it
inline constexpr const char* kNoPrompt = "no-prompt";  // the controller never prompted
inline constexpr const char* kStopped = "stopped";     // a stop signal ended it
}  // namespace Outcome

}  // namespace RunJournalFormat
