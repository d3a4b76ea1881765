#include "services/TDWDocEntry.h"
#include "services/TDWTask.h"

#include <gtest/gtest.h>

TEST(TDWDocEntry, ANewRecordHasNothingSet)
{
    const TDWDocEntry entry;
    for (bool flag : {entry.starred(), entry.hidden(), entry.shared(), entry.liked(), entry.viewedByMe(), entry.deleted()})
        EXPECT_FALSE(flag);
    for (const QString &text : {entry.docId(), entry.etag(), entry.title(), entry.docType(), entry.mimeType(),
                                entry.ownerName(), entry.ownerEmail(), entry.lastModifiedName(), entry.lastModifiedEmail(),
                                entry.contentUrl(), entry.xmlString(), entry.photoEtag(), entry.sourceName(),
                                entry.accessRole(), entry.content(), entry.filenameExtension(), entry.childDocId(),
                                entry.summary(), entry.location()})
        EXPECT_TRUE(text.isNull());
    EXPECT_TRUE(entry.lastModifiedDate().isNull());
    EXPECT_TRUE(entry.publishDate().isNull());
    EXPECT_TRUE(entry.parentFolderIds().isEmpty());
    EXPECT_TRUE(entry.jsonDictionary().isEmpty());

    const TDWTask task;
    EXPECT_FALSE(task.completed());
    EXPECT_TRUE(task.taskId().isNull() && task.title().isNull() && task.due().isNull() && task.completedDate().isNull());
    EXPECT_TRUE(task.childTasks().isEmpty());
}

TEST(TDWDocEntry, DescriptionNamesTheFourKeyFieldsInOrder)
{
    TDWDocEntry entry;
    entry.setDocId(QStringLiteral("1doc"));
    entry.setTitle(QStringLiteral("Plan"));
    entry.setDocType(QStringLiteral("document"));
    EXPECT_EQ(entry.description(), QStringLiteral("DocEntry:  docId: 1doc, etag: (null), title: Plan, docType: document"));
    entry.setEtag(QStringLiteral("\"e2\""));
    EXPECT_EQ(entry.description(), QStringLiteral("DocEntry:  docId: 1doc, etag: \"e2\", title: Plan, docType: document"));
}
