#pragma once

#include "DataObjectsTestSupport.h"
#include "FakeGoogleTest.h"

#include "platform/store/TDWManagedObjectID.h"

#include <QJsonObject>
#include <QString>
#include <QVariantMap>

#include <memory>

class TDWDiagnosticWindowController;

namespace diagtest {

inline const QString Demo = QStringLiteral("demo@example.com");
inline const QString DemoToken = QStringLiteral("ya29.demo-sample-account");

// The fake Google server with the demo's sample account and data
// (tools/demo/make_sample.py), list pages of two entries; the metadata stores
// with that account and its stored credential; the program's own class
// registrations; and a fixed clock for the reports' dates.
class DiagnosticTest : public tdwtest::FakeGoogleTest
{
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // An item with its latest revision in the account's store of `service`.
    void seed(const QString &service, const QString &docType, const QString &docId, const QString &title, const QString &xmlString = {},
              const QVariantMap &json = {});
    // The item diagnostics window of that item, run to its end; its report.
    QString report(const QString &service, const QString &docId);
    std::unique_ptr<TDWDiagnosticWindowController> open(const QString &service, const QString &docId);
    static QString textOf(const TDWDiagnosticWindowController &controller);
    tdwtest::FakeGoogleServer &fake() { return *s_fake; }

    dotest::MetadataStack stack;
};

} // namespace diagtest
