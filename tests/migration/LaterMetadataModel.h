#pragma once

#include "platform/store/TDWManagedObjectModel.h"

#include <memory>

namespace migrationtest {

// How the steps to the later layouts run.
struct LaterLayoutSteps
{
    // The account-and-service step fails after its work, so the work must be undone.
    bool failingAccountStoreStep = false;
    // Each step works on a copy of its file that is swapped in, as a rebuild does.
    bool onCopies = false;
};

// The application's model one layout on, as a coming release might declare it:
// Account gains "testNote" (default "none") and Doc gains "testLabel", which
// keeps a folded column; both layouts step from today's, in place unless
// `steps` says otherwise.
std::shared_ptr<const TDWManagedObjectModel> laterMetadataModel(LaterLayoutSteps steps = {});

} // namespace migrationtest
