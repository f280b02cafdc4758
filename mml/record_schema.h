// Brings a store's schema up to this build: the tables of the record of tests, a column for every
// recorded object, and the objects that the dictionary gained since an instance or port was
// provisioned (with their defaults; nothing stored is changed). Runs whenever a store is opened
// and costs one read when nothing is missing: the store keeps a stamp of the schema it has.
#pragma once

#include "mml/errors.h"
#include "mml/sqlite_support.h"

namespace vyn::mml {

bool UpgradeSchema(sqlite3 *db, Error &error);

}  // namespace vyn::mml
