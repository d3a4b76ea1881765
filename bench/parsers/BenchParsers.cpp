// Entries per second for a full page of the two busiest list formats: a
// 1,000-item Drive file list (JSON) and a 1,000-entry contacts feed (Atom).
#include "services/TDWDocListParser.h"
#include "services/TDWDriveListParser.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kEntries = 1000;

std::shared_ptr<const TDWParserConfig> config()
{
    QVariantList docTypes;
    for (const char *id : {"contact", "file"})
        docTypes.append(QVariantMap{{QStringLiteral("id"), QString::fromLatin1(id)}});
    docTypes.append(QVariantMap{{QStringLiteral("id"), QStringLiteral("document")},
                                {QStringLiteral("googleMimeType"), QStringLiteral("application/vnd.google-apps.document")},
                                {QStringLiteral("exportLink"), QStringLiteral("application/pdf")}});
    return std::make_shared<const TDWParserConfig>(QVariantMap{{QStringLiteral("doctypes"), docTypes}});
}

// A file object with the fields the Drive API sends for an ordinary listing.
QByteArray driveItem(int i)
{
    const QByteArray n = QByteArray::number(i);
    const bool doc = i % 3 == 0;
    return R"({"kind": "drive#file", "id": "0B1234567890abcdefghij)" + n + R"(", "etag": "\"MTM2NzQwMDAwMDAwMA/)" + n
        + R"(\"", "selfLink": "https://www.googleapis.com/drive/v2/files/0B)" + n
        + R"(", "alternateLink": "https://drive.google.com/file/d/0B)" + n + R"(/view", "iconLink": "https://ssl.gstatic.com/docs/doclist/images/icon.png", "thumbnailLink": "https://lh3.googleusercontent.com/thumb)" + n
        + R"(", "title": "Quarterly report )" + n + (doc ? R"(", "mimeType": "application/vnd.google-apps.document")" : R"(.pdf", "mimeType": "application/pdf")")
        + R"(, "labels": {"starred": false, "hidden": false, "trashed": false, "restricted": false, "viewed": true}, "createdDate": "2013-01-02T03:04:05.678Z", "modifiedDate": "2013-04-30T22:15:30.250-07:00", "modifiedByMeDate": "2013-04-30T22:15:30.250Z", "lastViewedByMeDate": "2013-05-01T07:00:00.000Z", "markedViewedByMeDate": "1970-01-01T00:00:00.000Z", "version": "123456", "parents": [{"kind": "drive#parentReference", "id": "0AROOT", "isRoot": true}, {"kind": "drive#parentReference", "id": "0Bfolder)"
        + QByteArray::number(i % 17) + R"(", "isRoot": false}], )"
        + (doc ? R"("exportLinks": {"application/pdf": "https://docs.google.com/feeds/download/documents/export/Export?id=)" + n
                       + R"(&exportFormat=pdf", "text/plain": "https://docs.google.com/feeds/download/documents/export/Export?id=)" + n + R"(&exportFormat=txt"}, )"
               : R"("downloadUrl": "https://doc-0s-docs.googleusercontent.com/docs/securesc/)" + n + R"(?e=download", "md5Checksum": "0123456789abcdef0123456789abcdef", "fileSize": "204800", "originalFilename": "report.pdf", "fileExtension": "pdf", )")
        + R"("userPermission": {"kind": "drive#permission", "etag": "\"x\"", "id": "me", "role": "owner", "type": "user"}, "ownerNames": ["Jo Example"], "owners": [{"kind": "drive#user", "displayName": "Jo Example", "isAuthenticatedUser": true, "permissionId": "0123"}], "lastModifyingUserName": "Jo Example", "lastModifyingUser": {"kind": "drive#user", "displayName": "Jo Example", "isAuthenticatedUser": true, "permissionId": "0123"}, "editable": true, "copyable": true, "writersCanShare": true, "shared": false, "appDataContents": false, "quotaBytesUsed": "0"})";
}

QByteArray drivePage()
{
    QByteArray page = R"({"kind": "drive#fileList", "etag": "\"list\"", "nextLink": "https://www.googleapis.com/drive/v2/files?pageToken=x", "items": [)";
    for (int i = 0; i < kEntries; ++i)
        page += (i ? ",\n" : "") + driveItem(i);
    return page + "]}";
}

QByteArray contactEntry(int i)
{
    const QByteArray n = QByteArray::number(i);
    return "<entry gd:etag='\"Q3c-fjVSLyp7I2A9XRZbGE0PRQ" + n + ".\"'>"
           "<id>http://www.google.com/m8/feeds/contacts/jo%40example.com/base/" + n + "a2b</id>"
           "<updated>2013-04-30T16:09:47.651Z</updated>"
           "<app:edited xmlns:app='http://www.w3.org/2007/app'>2013-04-30T16:09:47.651Z</app:edited>"
           "<category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/contact/2008#contact'/>"
           "<title>Contact Number " + n + "</title>"
           "<link rel='http://schemas.google.com/contacts/2008/rel#photo' type='image/*' href='https://www.google.com/m8/feeds/photos/media/jo%40example.com/" + n + "' gd:etag='\"dxt2DAEZfCp7ImA\"'/>"
           "<link rel='self' type='application/atom+xml' href='https://www.google.com/m8/feeds/contacts/jo%40example.com/full/" + n + "'/>"
           "<link rel='edit' type='application/atom+xml' href='https://www.google.com/m8/feeds/contacts/jo%40example.com/full/" + n + "'/>"
           "<gd:name><gd:fullName>Contact Number " + n + "</gd:fullName><gd:givenName>Contact</gd:givenName><gd:familyName>Number " + n + "</gd:familyName></gd:name>"
           "<gd:email rel='http://schemas.google.com/g/2005#home' address='contact" + n + "@example.org' primary='true'/>"
           "<gd:phoneNumber rel='http://schemas.google.com/g/2005#mobile'>+1 555 0100 " + n + "</gd:phoneNumber>"
           "<gd:structuredPostalAddress rel='http://schemas.google.com/g/2005#work'><gd:formattedAddress>1 Main St, Springfield</gd:formattedAddress><gd:street>1 Main St</gd:street><gd:city>Springfield</gd:city></gd:structuredPostalAddress>"
           "<gContact:groupMembershipInfo deleted='false' href='http://www.google.com/m8/feeds/groups/jo%40example.com/base/6'/>"
           "</entry>\n";
}

QByteArray atomPage()
{
    QByteArray page = "<?xml version='1.0' encoding='UTF-8'?>"
                      "<feed xmlns='http://www.w3.org/2005/Atom' xmlns:openSearch='http://a9.com/-/spec/opensearch/1.1/' "
                      "xmlns:gContact='http://schemas.google.com/contact/2008' xmlns:batch='http://schemas.google.com/gdata/batch' "
                      "xmlns:gd='http://schemas.google.com/g/2005' gd:etag='W/\"feed\"'>"
                      "<id>jo@example.com</id><updated>2013-05-02T08:00:00.000Z</updated><title>Contacts</title>"
                      "<link rel='next' type='application/atom+xml' href='https://www.google.com/m8/feeds/contacts/jo%40example.com/full?start-index=1001'/>\n";
    for (int i = 0; i < kEntries; ++i)
        page += contactEntry(i);
    return page + "</feed>";
}

template <class Parser>
void parsePage(benchmark::State &state, const QByteArray &page)
{
    const auto shared = config();
    qsizetype entries = 0;
    for (auto _ : state) {
        Parser parser(shared);
        if (!parser.parse(page)) {
            state.SkipWithError("page not parsed");
            return;
        }
        const QList<TDWDocEntry> list = parser.docEntries();
        entries = list.size();
        benchmark::DoNotOptimize(list.constData());
    }
    if (entries != kEntries)
        state.SkipWithError("wrong number of entries");
    state.SetItemsProcessed(state.iterations() * entries);
    state.SetBytesProcessed(state.iterations() * page.size());
}

void BM_DriveFileListPage(benchmark::State &state)
{
    static const QByteArray page = drivePage();
    parsePage<TDWDriveListParser>(state, page);
}

void BM_AtomContactsFeedPage(benchmark::State &state)
{
    static const QByteArray page = atomPage();
    parsePage<TDWDocListParser>(state, page);
}

BENCHMARK(BM_DriveFileListPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AtomContactsFeedPage)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
