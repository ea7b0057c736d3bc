#pragma once
// Names inside a deployment folder that the download run writes and the other
// tools read: one definition, so writer and readers cannot drift apart.

namespace DeploymentLayout {

// The folder of the deployment's configuration file.
inline constexpr const char* kCfgFolder = "cfg";
// The folder of the session files.
inline constexpr const char* kDownloadsFolder = "downloads";
// Every session file's name begins with this, then the deployment name.
inline constexpr const char* kSessionPrefix = "raw.";
// The run journal: one line of JSON per run.
inline constexpr const char* kRunJournalFile = "runs.jsonl";
// The record store that pelox5-extract fills.
inline constexpr const char* kRecordStoreFile = "records.sqlite";

}  // namespace DeploymentLayout
