#pragma once

#include "platform/store/TDWManagedObjectModel.h"

#include <memory>

// A minimal model shaped like the account-and-service stores: items ("Doc") and
// their revisions ("DocRev") with the validity dates and the indexes the hot fetch
// helpers need. Only for the benchmark; the real entities live in the entity layer.
namespace benchmodel {

inline const QString Configuration = QStringLiteral("accountservice");

std::shared_ptr<const TDWManagedObjectModel> model();
// The same one layout on: DocRev gains "note" (with a default) and "label" (with
// a folded column), in place; `rebuild` makes the step one that rebuilds the file.
std::shared_ptr<const TDWManagedObjectModel> laterModel(bool rebuild);

} // namespace benchmodel
