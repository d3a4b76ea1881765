#pragma once

#include "platform/http/TDWHttpHostAllowlist.h"

#include <QString>
#include <QUrl>

// Google's OAuth endpoints and this application's client identity (the
// service table's "oauth" entry; the user defaults "OAuthClientId" and
// "OAuthClientSecret" override the identity), and the hosts that may receive
// an account's access token. Tests and the demo keep the production names and
// reach local servers through the HTTP layer's host map.
class TDWGoogleEndpoints
{
public:
    // Google's sign-in host, as the service table names it.
    static QString accountsHost();
    static QString apisHost();

    // The consent page the user's browser opens. The browser follows neither
    // the host map nor its extra CA, so the demo sends it to its local page
    // with the environment variable TDW_AUTHORIZATION_URL (https, or http on a
    // loopback address; anything else is logged and ignored).
    static QUrl authorizationEndpoint();
    static QUrl tokenEndpoint();
    static QUrl userInfoEmailUrl();

    static QString clientId();
    static QString clientSecret();

    // https on the APIs host and on every host that a service of the service
    // table names in its URLs (list, change and preflight URLs, and the hosts
    // its content links lie on, "contentHosts"); scope identifiers are not
    // endpoints and do not count.
    static TDWHttpHostAllowlist bearerHosts();
};
