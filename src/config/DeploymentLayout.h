#pragma once
// Names inside a deployment folder that the download run writes and the other
// tools read: one definition, so writer and readers cannot drift apart.

namespace DeploymentLayout {

// The folder of the session files.
inline constexpr const char* kDownloadsFolder = "downloads";
// The run journal: one line of JSON per run.
inline constexpr const char* kRunJournalFile = "runs.jsonl";

}  // namespace DeploymentLayout
