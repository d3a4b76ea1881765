#pragma once

// Fills the class registries with every class the service table names
// ("preflightClass", "BackupOperationClass" and "diagnosticClass" of each
// service, "parserClass" of each list URL), so that a name read from the table makes an object. The
// application calls it once at start-up, before any account is checked or
// backed up; a second call changes nothing.
void TDWRegisterClasses();
