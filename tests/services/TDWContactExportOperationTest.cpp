// Contact exports against the fake Google server through the program's own
// registration: the card written with or without its photo, the photo's
// server errors resent with back-off, and the outcome recorded on the revision.
#include "DownloadFixture.h"
#include "TestSupport.h"

#include "agent/TDWApiBackupOperation.h"
#include "platform/foundation/TDWClock.h"

#include <QJsonArray>
#include <QJsonObject>

#include <thread>

namespace {

using namespace dltest;

const QString Export = QStringLiteral("TDWContactExportOperation");
const QString PhotoPath = QStringLiteral("/m8/feeds/photos/media/alice%40example.com/");
const QByteArray AnnPhoto("\xff\xd8\xff\xe0JFIF");

QString entryFor(const QString &name)
{
    return QStringLiteral("<entry xmlns=\"http://www.w3.org/2005/Atom\" xmlns:gd=\"http://schemas.google.com/g/2005\">"
                          "<title>%1</title><gd:name><gd:fullName>%1</gd:fullName></gd:name></entry>")
        .arg(name);
}

class TDWContactExportOperationTest : public DownloadTest
{
protected:
    void SetUp() override
    {
        DownloadTest::SetUp();
        // Back-off pauses of about 1 to 16 seconds and the pause after a photo,
        // shrunk (and the request time-outs with them, still far above what the fake needs).
        TDWClock::setDurationScale(0.05);
    }
    void TearDown() override
    {
        TDWClock::setDurationScale(1.0);
        DownloadTest::TearDown();
    }

    // A contact revision of the fake's contact `id`; with a photo etag its photo is fetched.
    TDWManagedObjectID seedContact(const QString &id, const QString &name, bool withPhoto)
    {
        Seed contact;
        contact.service = QStringLiteral("contacts");
        contact.docType = QStringLiteral("contact");
        contact.title = name + QStringLiteral(".vcf");
        contact.xmlString = entryFor(name);
        if (withPhoto) {
            contact.photoEtag = QStringLiteral("\"p\"");
            contact.contentUrl = QStringLiteral("https://www.google.com") + PhotoPath + id;
        }
        return seed(contact);
    }

    void addPhotoFaults(const QString &id, int status, int times)
    {
        s_fake->addFault({{"path", PhotoPath + id}, {"status", status}, {"times", times}});
    }
};

QString photoLineOf(const QByteArray &card)
{
    QString unfolded = QString::fromUtf8(card);
    unfolded.replace(QStringLiteral("\r\n "), QString());
    for (const QString &line : unfolded.split(QStringLiteral("\r\n"))) {
        if (line.startsWith(QStringLiteral("PHOTO")))
            return line.simplified().remove(u' ');
    }
    return QString();
}

TEST_F(TDWContactExportOperationTest, ACardIsWrittenWithThePhotoWithoutItOr404)
{
    const TDWManagedObjectID plain = seedContact(QStringLiteral("c3"), QStringLiteral("Cy"), false);
    run(Export, plain);
    EXPECT_TRUE(s_fake->requests().isEmpty());

    const TDWManagedObjectID ann = seedContact(QStringLiteral("c1"), QStringLiteral("Ann"), true);
    run(Export, ann);
    // The fake has no photo for Cy: a photo that is gone leaves a card without one.
    const TDWManagedObjectID gone = seedContact(QStringLiteral("c3"), QStringLiteral("Cy"), true);
    run(Export, gone);

    for (const TDWManagedObjectID &id : {plain, ann, gone}) {
        EXPECT_EQ(stored(id)->exportStatus(), TDWDocRev::BackedUp);
        EXPECT_TRUE(fileAt(id).startsWith("BEGIN:VCARD\r\n"));
    }
    EXPECT_EQ(photoLineOf(fileAt(ann)), QStringLiteral("PHOTO;TYPE=JPEG;BASE64:") + QString::fromLatin1(AnnPhoto.toBase64()));
    EXPECT_EQ(photoLineOf(fileAt(plain)), QString());
    EXPECT_EQ(photoLineOf(fileAt(gone)), QString());
    EXPECT_EQ(notificationsPosted(QStringLiteral("retrievalattempted")), 3);
    // The photo requests carried the account's token.
    for (const QJsonValue &request : s_fake->requests())
        EXPECT_EQ(request[QStringLiteral("headers")][QStringLiteral("authorization")].toString(), QStringLiteral("Bearer ") + Token);
}

TEST_F(TDWContactExportOperationTest, ServerErrorsAreResentFiveTimesThenTheStatusIsRecorded)
{
    addPhotoFaults(QStringLiteral("c1"), 503, 5);
    const TDWManagedObjectID recovered = seedContact(QStringLiteral("c1"), QStringLiteral("Ann"), true);
    run(Export, recovered);
    EXPECT_EQ(stored(recovered)->exportStatus(), TDWDocRev::BackedUp);
    EXPECT_FALSE(photoLineOf(fileAt(recovered)).isEmpty());
    EXPECT_EQ(requestsTo(PhotoPath + QStringLiteral("c1")).size(), 6);

    s_fake->clearRequests();
    addPhotoFaults(QStringLiteral("c2"), 503, 6);
    const TDWManagedObjectID failed = seedContact(QStringLiteral("c2"), QStringLiteral("Bob"), true);
    run(Export, failed);
    EXPECT_EQ(requestsTo(PhotoPath + QStringLiteral("c2")).size(), 6);
    EXPECT_EQ(stored(failed)->exportStatus(), TDWDocRev::DownloadFailed);
    EXPECT_EQ(stored(failed)->lastExportFailureError(), QStringLiteral("ERROR: Unexpected status code (503) when retrieving contact image."));
    EXPECT_EQ(fileAt(failed), "<no file>");

    // Any other status is final at once.
    s_fake->clearRequests();
    addPhotoFaults(QStringLiteral("c2"), 403, 1);
    const TDWManagedObjectID refused = seedContact(QStringLiteral("c2"), QStringLiteral("Bob"), true);
    run(Export, refused);
    EXPECT_EQ(requestsTo(PhotoPath + QStringLiteral("c2")).size(), 1);
    EXPECT_EQ(stored(refused)->lastExportFailureError(), QStringLiteral("ERROR: Unexpected status code (403) when retrieving contact image."));
}

TEST_F(TDWContactExportOperationTest, APhotoRedirectedOffGoogleIsFetchedWithoutTheToken)
{
    const QString elsewhere = QStringLiteral("https://lh3.googleusercontent.com/fake/100/200/IMG_1.JPG");
    s_fake->addFault({{"path", PhotoPath + QStringLiteral("c1")}, {"status", 302}, {"location", elsewhere}});
    const TDWManagedObjectID id = seedContact(QStringLiteral("c1"), QStringLiteral("Ann"), true);
    run(Export, id);
    EXPECT_EQ(stored(id)->exportStatus(), TDWDocRev::BackedUp);
    EXPECT_EQ(photoLineOf(fileAt(id)), QStringLiteral("PHOTO;TYPE=JPEG;BASE64:") + QString::fromLatin1(QByteArray("photo bytes").toBase64()));
    const QJsonArray followed = requestsTo(QStringLiteral("/fake/100/200/IMG_1.JPG"));
    ASSERT_EQ(followed.size(), 1);
    EXPECT_FALSE(followed[0][QStringLiteral("headers")].toObject().contains(QStringLiteral("authorization")));
}

TEST_F(TDWContactExportOperationTest, ACardThatCannotBeWrittenIsRecordedAsFailed)
{
    Seed broken;
    broken.service = QStringLiteral("contacts");
    broken.docType = QStringLiteral("contact");
    broken.title = QStringLiteral("Broken.vcf");
    broken.xmlString = QStringLiteral("<entry><title>unclosed");
    const TDWManagedObjectID id = seed(broken);
    run(Export, id);
    EXPECT_EQ(stored(id)->exportStatus(), TDWDocRev::DownloadFailed);
    EXPECT_EQ(stored(id)->lastExportFailureError(), QStringLiteral("Error writing VCard file"));
}

TEST_F(TDWContactExportOperationTest, AnExcludedContactIsLeftAlone)
{
    Seed excluded;
    excluded.service = QStringLiteral("contacts");
    excluded.docType = QStringLiteral("contact");
    excluded.xmlString = entryFor(QStringLiteral("Ann"));
    excluded.exportStatus = TDWDocRev::ExcludedByRule;
    const TDWManagedObjectID id = seed(excluded);
    run(Export, id);
    EXPECT_EQ(stored(id)->exportStatus(), TDWDocRev::ExcludedByRule);
    EXPECT_EQ(fileAt(id), "<no file>");
    EXPECT_EQ(notificationsPosted(QStringLiteral("retrievalstarted")), 0);
}

TEST_F(TDWContactExportOperationTest, AContactCancelledWhileItsPhotoLoadsIsStillWrittenWithIt)
{
    s_fake->addFault({{"path", PhotoPath + QStringLiteral("c1")}, {"status", 200}, {"stall_body", 0.5},
                      {"body", QString::fromLatin1(AnnPhoto)}, {"content_type", "image/jpeg"}});
    const TDWManagedObjectID id = seedContact(QStringLiteral("c1"), QStringLiteral("Ann"), true);
    const std::shared_ptr<TDWOperation> operation(TDWExportOperationClasses::shared().create(Export, id, Alice));
    std::thread worker([operation] { operation->start(); });
    ASSERT_TRUE(tdwtest::waitUntil([&] { return !requestsTo(PhotoPath + QStringLiteral("c1")).isEmpty(); }));
    operation->cancel();
    worker.join();
    EXPECT_TRUE(operation->isFinished());
    EXPECT_EQ(stored(id)->exportStatus(), TDWDocRev::BackedUp);
    EXPECT_FALSE(photoLineOf(fileAt(id)).isEmpty());
}

} // namespace
