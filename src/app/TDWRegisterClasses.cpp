#include "app/TDWRegisterClasses.h"

#include "accounts/TDWApiPreflightOperation.h"
#include "accounts/TDWPreflight.h"
#include "agent/TDWApiBackupOperation.h"
#include "agent/TDWBackupOperationClasses.h"
#include "mail/TDWMailBackupOperation.h"
#include "mail/TDWMailPreflightOperation.h"
#include "prefs/TDWDiagnosticCal.h"
#include "prefs/TDWDiagnosticDocs.h"
#include "prefs/TDWItemDiagnostic.h"
#include "prefs/TDWStoredEntryDiagnostic.h"
#include "services/TDWCalendarDatabaseUpdateOperation.h"
#include "services/TDWCalendarExportOperation.h"
#include "services/TDWCalendarListParser.h"
#include "services/TDWCalendarServiceDelegate.h"
#include "services/TDWContactExportOperation.h"
#include "services/TDWContactsServiceDelegate.h"
#include "services/TDWDocListParser.h"
#include "services/TDWDocListRetrievalOperation.h"
#include "services/TDWDocsServiceDelegate.h"
#include "services/TDWDriveListParser.h"
#include "services/TDWParserFactory.h"
#include "services/TDWPicasaServiceDelegate.h"
#include "services/TDWReaderServiceDelegate.h"
#include "services/TDWReaderSubscriptionListParser.h"
#include "services/TDWReaderTagListParser.h"
#include "services/TDWServiceDelegate.h"
#include "services/TDWStraightDownloadOperation.h"
#include "services/TDWTaskListExportOperation.h"
#include "services/TDWTaskListParser.h"

void TDWRegisterClasses()
{
    TDWPreflightClasses &preflights = TDWPreflightClasses::shared();
    preflights.registerClass<TDWApiPreflightOperation>(QStringLiteral("TDWApiPreflightOperation"));
    preflights.registerClass<TDWMailPreflightOperation>(QStringLiteral("TDWMailPreflightOperation"));

    TDWBackupOperationClasses &backupOperations = TDWBackupOperationClasses::shared();
    backupOperations.registerClass<TDWApiBackupOperation>(QStringLiteral("TDWApiBackupOperation"));
    backupOperations.registerClass<TDWMailBackupOperation>(QStringLiteral("TDWMailBackupOperation"));

    TDWExportOperationClasses &exports = TDWExportOperationClasses::shared();
    exports.registerClass<TDWContactExportOperation>(QStringLiteral("TDWContactExportOperation"));
    exports.registerClass<TDWStraightDownloadOperation>(QStringLiteral("TDWStraightDownloadOperation"));
    exports.registerClass<TDWTaskListExportOperation>(QStringLiteral("TDWTaskListExportOperation"));
    exports.registerClass<TDWCalendarExportOperation>(QStringLiteral("TDWCalendarExportOperation"));

    TDWCalendarUpdateClasses::shared().registerClass<TDWCalendarDatabaseUpdateOperation>(TDWCalendarDatabaseUpdate::ClassName);
    TDWListRetrievalClasses::shared().registerClass<TDWDocListRetrievalOperation>(TDWApiBackupOperation::ListRetrievalClass);

    TDWParserClasses &parsers = TDWParserClasses::shared();
    parsers.registerClass<TDWDocListParser>(QStringLiteral("TDWDocListParser"));
    parsers.registerClass<TDWReaderTagListParser>(QStringLiteral("TDWReaderTagListParser"));
    parsers.registerClass<TDWReaderSubscriptionListParser>(QStringLiteral("TDWReaderSubscriptionListParser"));
    parsers.registerClass<TDWDriveListParser>(QStringLiteral("TDWDriveListParser"));
    parsers.registerClass<TDWCalendarListParser>(QStringLiteral("TDWCalendarListParser"));
    parsers.registerClass<TDWTaskListParser>(QStringLiteral("TDWTaskListParser"));

    TDWServiceDelegateClasses &delegates = TDWServiceDelegateClasses::shared();
    delegates.registerClass<TDWDocsServiceDelegate>(QStringLiteral("TDWDocsServiceDelegate"));
    delegates.registerClass<TDWContactsServiceDelegate>(QStringLiteral("TDWContactsServiceDelegate"));
    delegates.registerClass<TDWCalendarServiceDelegate>(QStringLiteral("TDWCalendarServiceDelegate"));
    delegates.registerClass<TDWReaderServiceDelegate>(QStringLiteral("TDWReaderServiceDelegate"));
    delegates.registerClass<TDWPicasaServiceDelegate>(QStringLiteral("TDWPicasaServiceDelegate"));

    TDWItemDiagnosticClasses &diagnostics = TDWItemDiagnosticClasses::shared();
    diagnostics.registerClass<TDWDiagnosticDocs>(QStringLiteral("TDWDiagnosticDocs"));
    diagnostics.registerClass<TDWDiagnosticCal>(QStringLiteral("TDWDiagnosticCal"));
    // Contacts, Reader items and Picasa Web items show what was stored, alike.
    diagnostics.registerClass<TDWStoredEntryDiagnostic>(QStringLiteral("TDWDiagnosticContacts"));
    diagnostics.registerClass<TDWStoredEntryDiagnostic>(QStringLiteral("TDWDiagnosticReader"));
    diagnostics.registerClass<TDWStoredEntryDiagnostic>(QStringLiteral("TDWDiagnosticPicasaWeb"));
}
