#pragma once
// Publishing a deployment's record store to the central database: every
// stored record not published yet, then the store's new conflicts, in batches.
// Each batch is one transaction: staged with COPY, inserted with ON CONFLICT
// DO NOTHING, a different line for a stored number kept as a conflict, the
// deployment's counts and number ranges and this publish's row brought up to
// date; after its COMMIT the batch is marked published in the local store. A
// publish cut anywhere leaves whole batches only; the next one resends from
// the last mark, and rows already there are DO NOTHING: each record once.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "central/CentralDatabase.h"
#include "records/RecordStore.h"
#include "recovery/RangeEntry.h"

namespace Central {

// One record as it is published.
struct PublishRow {
  int32_t number = 0;
  std::string line, session;
  int64_t absorbedAt = 0;  // unix seconds
  // The typed fields as a JSON object, and the first time field's UTC instant
  // ("YYYY-MM-DDTHH:MM:SSZ"); none where the store has no typed fields.
  std::optional<std::string> fieldsJson, timeUtc;
};

// Fills the typed fields of `rows` (ascending numbers) from the store.
void AddTypedFields(Records::RecordStore& store, std::vector<PublishRow>& rows);

struct PublishSettings {
  std::string deployment;  // the cfg's Name
  std::string host;        // this host's name, as the central rows show it
  std::optional<int64_t> recordsLogged;
  int64_t batchRows = 50000;
  // Called after each batch is committed and marked; for tests that cut a
  // publish between batches.
  std::function<void(int64_t batch)> afterBatch;
};

struct PublishOutcome {
  int64_t sent = 0;       // records sent
  int64_t records = 0;    // of them, new to the central database
  int64_t conflicts = 0;  // lines kept as conflicts centrally
  // Every number the central database holds for the deployment, merged.
  std::vector<RecordRecoveryUtils::RangeEntry> centralRanges;
};

// Raises CentralError (the central transaction of the batch in flight rolled
// back) or Records::StoreError.
PublishOutcome Publish(Connection& db, Records::RecordStore& store,
                       const PublishSettings& settings);

// The stored numbers not yet published, and how many they are.
std::vector<RecordRecoveryUtils::RangeEntry> Unpublished(Records::RecordStore& store);
int64_t Count(const std::vector<RecordRecoveryUtils::RangeEntry>& ranges);

}  // namespace Central
