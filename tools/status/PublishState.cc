#include "PublishState.h"

#include "central/DatabaseSetting.h"
#include "central/Publisher.h"

void NotePublishing(DeploymentStatus& d, Records::RecordStore& store) {
  // One reading of the preferences for all deployments; a value that is not
  // a text still means a central database is meant.
  static const bool configured = [] {
    try {
      return Central::RecordDatabase(std::nullopt).has_value();
    } catch (const Central::SettingError&) {
      return true;
    }
  }();
  if (!configured && store.PublishedRanges().empty()) return;
  d.unpublishedRecords = Central::Count(Central::Unpublished(store));
  d.unpublishedSince = store.UnpublishedSince();
}
