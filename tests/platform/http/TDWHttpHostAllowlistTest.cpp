#include "platform/http/TDWHttpHostAllowlist.h"

#include <gtest/gtest.h>

TEST(TDWHttpHostAllowlist, AllowsOnlyHttpsOnTheDefaultPortOfAListedHost)
{
    const TDWHttpHostAllowlist allowlist({QStringLiteral("www.googleapis.com"), QStringLiteral("Accounts.Google.com.")});
    const struct {
        const char *url;
        bool allowed;
    } cases[] = {
        {"https://www.googleapis.com/drive/v2/about", true},
        {"https://WWW.GoogleAPIs.com./x", true},
        {"https://accounts.google.com/o/oauth2/token", true},
        {"https://www.googleapis.com:443/x", true},
        {"http://www.googleapis.com/x", false},
        {"https://www.googleapis.com:8443/x", false},
        {"https://evil.www.googleapis.com/x", false},
        {"https://www.googleapis.com.evil.net/x", false},
        {"https://googleapis.com/x", false},
        {"https://mail.google.com/x", false},
        {"ftp://www.googleapis.com/x", false},
        {"", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(allowlist.allows(QUrl(QString::fromLatin1(c.url))), c.allowed) << c.url;

    EXPECT_FALSE(TDWHttpHostAllowlist().allows(QUrl(QStringLiteral("https://www.googleapis.com/"))));
    EXPECT_EQ(allowlist.hosts(), (QStringList{QStringLiteral("accounts.google.com"), QStringLiteral("www.googleapis.com")}));
}
