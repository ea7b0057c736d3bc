#pragma once
// The tables of the central database: created on first use, in one
// transaction under an advisory lock so that hosts starting at once do not
// trip over each other; a version this program does not know is refused
// before anything is written.

#include "central/CentralDatabase.h"

namespace Central {

// The version of the tables this program writes.
inline constexpr int kSchemaVersion = 1;

// Creates the tables when the database has none of ours; raises SchemaError
// for a newer version or for a "records" table of another program.
void EnsureSchema(Connection& db);

// Whether the database holds our tables, without creating them; raises
// SchemaError for a version this program does not know.
bool HasSchema(Connection& db);

}  // namespace Central
