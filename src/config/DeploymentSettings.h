#pragma once
// The items of deployment.cfg that a download run reads, with their defaults,
// the values accepted and the one-line reason a run stops on each. The run and
// pelox5-check read a deployment through these functions, so what the check
// accepts is exactly what the run accepts.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/BaseError.h"
#include "base/DialogueWords.h"
#include "config/Configuration.h"
#include "controller/ControllerSettings.h"
#include "records/RecordFields.h"
#include "recovery/RequestPlan.h"

namespace DeploymentSettings {

// An item the run cannot use; Message is the run's FATAL text for it.
PELOX5_DECLARE_ERROR(SettingError, BaseError);

// A whole-number item: `fallback` when missing, `min`..`max` accepted.
struct NumericSetting {
  const char* key;
  int32_t fallback, min, max;
};
// The upper bounds keep every product of them within the clocks' range and every
// wait within what a run could need; a time-out of 0 is a bound under one second.
inline constexpr NumericSetting kConnectAttemptMaxTries{"ConnectAttemptMaxTries", 10, 1, 1000000};
inline constexpr NumericSetting kConnectAttemptTimeout{"ConnectAttemptTimeout", 5, 0, 86400};
inline constexpr NumericSetting kRecordRequestSize{"RecordRequestSize",
                                                   RecordRecoveryUtils::kDefaultRequestSize, 1,
                                                   RecordRecoveryUtils::kMaxRequestSize};
// Seconds from the start of the process to the end of the run, however busy the
// controller keeps the line.
inline constexpr NumericSetting kRunTimeLimit{"RunTimeLimit", 3600, 1, 86400};
// Every numeric item, in the order the run reads them.
inline constexpr NumericSetting kNumericSettings[] = {
    kConnectAttemptMaxTries, kConnectAttemptTimeout, kRecordRequestSize, kRunTimeLimit};

// The pattern that tells record lines in a session file (read by the extraction).
inline constexpr const char* kRecordPatternKey = "RecordPattern";

// The fields of a record line, what splits them, and the zone of the
// controller's clock (read by the extraction).
inline constexpr const char* kRecordFieldsKey = "RecordFields";
inline constexpr const char* kRecordFieldSeparatorKey = "RecordFieldSeparator";
inline constexpr const char* kTimeZoneKey = "TimeZone";

// MB that an extraction leaves free for the next downloads (pelox5-extract only;
// 0: no reserve).
inline constexpr NumericSetting kExtractFreeSpaceReserveMB{"ExtractFreeSpaceReserveMB", 100, 0,
                                                           1 << 20};

// Every item of deployment.cfg that a program of the system reads; any other
// item is left alone (a near miss of one of these is a misspelling).
inline constexpr const char* kKnownKeys[] = {"Name",
                                             "Status",
                                             "Port",
                                             "Baud",
                                             kConnectAttemptMaxTries.key,
                                             kConnectAttemptTimeout.key,
                                             "Prompt",
                                             kRecordRequestSize.key,
                                             kRunTimeLimit.key,
                                             "ExtractReceivedRecordFile",
                                             kRecordPatternKey,
                                             kExtractFreeSpaceReserveMB.key,
                                             kRecordFieldsKey,
                                             kRecordFieldSeparatorKey,
                                             kTimeZoneKey};

inline constexpr const char* kDefaultPrompt = DialogueWords::kDefaultPrompt;
inline constexpr const char* kDefaultBaud = "9600";

// A text item. Missing: nullopt, or SettingError(missingMessage) when that is
// not empty. A value that is not a text or number: SettingError with the
// configuration's message.
std::optional<std::string> Text(const Configuration& cfg, const std::string& key,
                                const std::string& missingMessage = {});

// A whole-number item: its fallback when missing; SettingError naming the item,
// the value as written and the range when it is outside the range.
int32_t Number(const Configuration& cfg, const NumericSetting& setting);

// "RecordFields" as written: none when missing; SettingError when it is not a
// list whose entries are names or objects of texts "name", "type", "unit" and
// "format" ("name" required, no other member).
std::optional<std::vector<Records::FieldItem>> RecordFieldItems(const Configuration& cfg);

// "Name" equals `name` exactly (letter case counts), "Status" is "Active".
void CheckName(const Configuration& cfg, const std::string& name);
void CheckStatus(const Configuration& cfg);
// "Status" as written, whatever it is; SettingError with the run's text when missing.
std::string Status(const Configuration& cfg);

// "Port", required.
std::string Port(const Configuration& cfg);

// The serial speed: "Baud" (kDefaultBaud when missing, `missing` then set) as
// the code of PortSourceUtils::BaudStringToConstant; SettingError for a speed
// the table does not hold. Read for serial ports only.
int32_t BaudCode(const Configuration& cfg, bool& missing);

// "Prompt", kDefaultPrompt when missing; SettingError when empty, since an
// empty prompt would be "seen" after any byte.
std::string Prompt(const Configuration& cfg);

// The run's WARNING for a serial port without "Baud".
inline constexpr const char* kBaudMissingWarning =
    "Baud rate missing in deployment.cfg, Assuming 9600";

// Receives the log lines of reading the settings as (severity, text).
using LogFunction = std::function<void(const std::string&, const std::string&)>;
// Told of an item that cannot be used: its key and the error.
using FailureFunction = std::function<void(const std::string&, const SettingError&)>;

// Reads the Controller's settings into `settings` in the run's order: "Port"
// (then INFO "Port requested:<port>"), "Baud" for a serial port only
// (kBaudMissingWarning when missing), every numeric item (RunTimeLimit is not
// the Controller's but is checked in its place, so that the first item the run
// stops on stays the same), "Prompt". Without `failed` the first item that
// cannot be used raises its SettingError, the items read before it already
// stored; with `failed` it is told and reading goes on, the item keeping what
// `settings` held (a Port that failed skips Baud).
void ReadControllerSettings(const Configuration& cfg, ControllerSettings& settings,
                            const LogFunction& log = {}, const FailureFunction& failed = {});

}  // namespace DeploymentSettings
