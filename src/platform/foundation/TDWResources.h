#pragma once

#include <QString>

// The program's read-only resources (the service table, HTML templates,
// store models, icons), looked up by name and type.
namespace TDWResources {

// $TIDEWELL_RESOURCES when set; else <executable folder>/../share/tidewell when
// it exists (an installed program); else the source tree's resources/ folder
// (a program run from its build folder).
QString directory();

// directory()/name.type (directory()/name for an empty type), or an empty
// string when no such file exists.
QString path(const QString &name, const QString &type);

} // namespace TDWResources
