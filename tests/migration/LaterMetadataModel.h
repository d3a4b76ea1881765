#pragma once

#include "platform/store/TDWManagedObjectModel.h"

#include <memory>

namespace migrationtest {

// The application's model one layout on, as a coming release might declare it:
// Account gains "testNote" (default "none") and Doc gains "testLabel", which
// keeps a folded column; both layouts step from today's in place. When
// `failingAccountStoreStep` is set, the account-and-service step fails.
std::shared_ptr<const TDWManagedObjectModel> laterMetadataModel(bool failingAccountStoreStep = false);

} // namespace migrationtest
