#pragma once
// What the local view shows of publishing to the central database.

#include "DeploymentStatus.h"
#include "records/RecordStore.h"

// Fills the deployment's unpublished records when a central database is
// configured (the preference RecordDatabase) or anything was published.
void NotePublishing(DeploymentStatus& d, Records::RecordStore& store);
