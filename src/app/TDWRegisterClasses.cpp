#include "app/TDWRegisterClasses.h"

#include "accounts/TDWApiPreflightOperation.h"
#include "accounts/TDWPreflight.h"
#include "agent/TDWApiBackupOperation.h"
#include "agent/TDWBackupOperationClasses.h"
#include "mail/TDWMailPreflightOperation.h"
#include "services/TDWCalendarListParser.h"
#include "services/TDWCalendarServiceDelegate.h"
#include "services/TDWContactsServiceDelegate.h"
#include "services/TDWDocListParser.h"
#include "services/TDWDocListRetrievalOperation.h"
#include "services/TDWDocsServiceDelegate.h"
#include "services/TDWDriveListParser.h"
#include "services/TDWParserFactory.h"
#include "services/TDWPicasaServiceDelegate.h"
#include "services/TDWReaderSubscriptionListParser.h"
#include "services/TDWReaderServiceDelegate.h"
#include "services/TDWReaderTagListParser.h"
#include "services/TDWServiceDelegate.h"
#include "services/TDWTaskListParser.h"

void TDWRegisterClasses()
{
    TDWPreflightClasses &preflights = TDWPreflightClasses::shared();
    preflights.registerClass<TDWApiPreflightOperation>(QStringLiteral("TDWApiPreflightOperation"));
    preflights.registerClass<TDWMailPreflightOperation>(QStringLiteral("TDWMailPreflightOperation"));

    TDWBackupOperationClasses::shared().registerClass<TDWApiBackupOperation>(QStringLiteral("TDWApiBackupOperation"));
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
}
