#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/http/TDWHttpRequest.h"
#include "platform/http/TDWHttpResponse.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

namespace tdwtest {

struct Visit
{
    TDWError error;
    TDWHttpResponse response;
};

// Stands in for the user's browser against the fake Google server: loads
// Google's consent page, presses one of its buttons and follows the redirect
// to the loopback listener.
class TestBrowser
{
public:
    static Visit fetch(const TDWHttpRequest &request);
    // The consent page's answer ("allow" or "deny"): where Google sends the browser.
    static QUrl consent(const QUrl &authorizationUrl, const QString &decision);
    static Visit visit(const QUrl &url);
    // The consent page's answer, followed to the listener; the listener's page.
    static Visit answerConsent(const QUrl &authorizationUrl, const QString &decision);
};

// The desktop's handler of web links while it lives (QDesktopServices):
// records each URL the program opens, as a browser would be handed it. Plain
// http too: the demo's consent page is on the fake's plain-HTTP port.
class RecordingUrlHandler : public QObject
{
    Q_OBJECT

public:
    RecordingUrlHandler();
    ~RecordingUrlHandler() override;

    QList<QUrl> opened;

public slots:
    void open(const QUrl &url);
};

} // namespace tdwtest
