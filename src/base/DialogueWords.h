#pragma once
// The words of the controller's text dialogue, spelt once for everything that
// speaks or reads it: the controller, the request plan, the extractor's filter of
// dialogue lines, the cfg's default prompt and the simulator. Header-only and
// without dependencies, so every layer (and the simulator, which links only
// base) can include it.

namespace DialogueWords {

// The prompt a controller shows when the cfg names none.
inline constexpr char kDefaultPrompt[] = "PELOX>";

// Commands, sent as the first word of a line.
inline constexpr char kLogs[] = "logs";
inline constexpr char kGetData[] = "getdata";
inline constexpr char kGetLog[] = "getlog";
inline constexpr char kQuit[] = "quit";

// Reply texts: the two lines of the "logs" reply (each followed by a number),
// the line that ends a complete getdata reply, and the start of an error reply.
inline constexpr char kRecordsLogged[] = "Records logged:";
inline constexpr char kNextDownload[] = "Next download is record";
inline constexpr char kDone[] = "done";
inline constexpr char kError[] = "ERROR:";

}  // namespace DialogueWords
