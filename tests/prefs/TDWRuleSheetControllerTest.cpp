#include "DataObjectsTestSupport.h"

#include "agent/TDWRuleUpdateOperation.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWEntityFetch.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/notify/TDWNotificationCenter.h"
#include "prefs/TDWRuleSheetController.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

const QString RuleKey = QStringLiteral("dontbackuppredicate");
const QString Alice = QStringLiteral("alice@example.com");
const QString Docs = QStringLiteral("docs");

class TDWRuleSheetControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TDWUserDefaults::standard()->removeObjectForKey(RuleKey);
        // Notices an earlier test posted are not this test's.
        QCoreApplication::sendPostedEvents();
        m_observer = TDWNotificationCenter::defaultCenter().addObserver(QStringLiteral("excluderuleschanged"),
                                                                        [this](const TDWNotification &) { ++rulesChanged; });
        window.show();
    }

    void TearDown() override { TDWNotificationCenter::defaultCenter().removeObserver(m_observer); }

    static void setNameRow(TDWRuleRowWidget *row, const QString &operatorText, const QString &text)
    {
        row->fieldPopUp()->setCurrentIndex(0);
        row->operatorPopUp()->setCurrentIndex(row->operatorPopUp()->findText(operatorText));
        row->textField()->setText(text);
    }

    static void setTypeRow(TDWRuleRowWidget *row, const QString &typeId)
    {
        row->fieldPopUp()->setCurrentIndex(1);
        row->typePopUp()->setCurrentIndex(row->typePopUp()->findData(typeId));
    }

    static QVariant stored() { return TDWUserDefaults::standard()->objectForKey(RuleKey); }

    // The titles of Drive items that the stored rules exclude, as the rule
    // update selects them from a store.
    QStringList excludedTitles(const QStringList &titles)
    {
        dotest::MetadataStack stack;
        stack.addAccount(Alice, {Docs});
        const TDWPersistentStorePtr store = stack.store(Alice, Docs);
        for (const QString &title : titles) {
            auto doc = TDWDoc::newWithMoc(*stack.moc, store);
            doc->setDocId(title);
            doc->setDocType(QStringLiteral("document"));
            auto rev = TDWDocRev::newWithMoc(*stack.moc, store);
            rev->setDoc(doc);
            rev->setTitle(title);
        }
        EXPECT_TRUE(stack.moc->save(nullptr));
        TDWError error;
        const TDWPredicate rule = TDWRuleUpdateOperation::shouldNotBackUpPredicateForAccountUsername(Alice, Docs, &error);
        EXPECT_FALSE(rule.isNull()) << error.description().toStdString();
        const auto revs = TDWEntityFetch(*stack.moc, QStringLiteral("DocRev")).where(rule).in(store).objects<TDWDocRev>(&error);
        EXPECT_TRUE(revs) << error.description().toStdString();
        QStringList excluded;
        for (const auto &rev : revs.value_or(QList<TDWDocRev::Ptr>()))
            excluded.append(rev->title());
        excluded.sort();
        return excluded;
    }

    QWidget window;
    int rulesChanged = 0;

private:
    TDWNotificationCenter::Token m_observer;
};

TEST_F(TDWRuleSheetControllerTest, StoredRulesAreOneOrThatParsesBackAndShowsAgain)
{
    const QString text = QStringLiteral("Économie \"draft\" \\ 2024");
    {
        TDWRuleSheetController sheet(&window);
        sheet.open();
        EXPECT_TRUE(sheet.rows().isEmpty());
        sheet.addRuleButton()->click();
        sheet.addRuleButton()->click();
        setNameRow(sheet.rows()[0], QStringLiteral("begins with"), text);
        setTypeRow(sheet.rows()[1], QStringLiteral("document"));
        sheet.rulesOkButton()->click();
        EXPECT_FALSE(sheet.isVisible());
    }

    TDWError error;
    const TDWPredicate parsed = TDWPredicate::parse(stored().toString(), {}, &error);
    ASSERT_FALSE(parsed.isNull()) << stored().toString().toStdString() << error.description().toStdString();
    EXPECT_EQ(parsed, TDWPredicate::parse(QStringLiteral("title BEGINSWITH[cd] %@ OR doc.docType == \"document\""), {text}));
    QCoreApplication::sendPostedEvents(); // the notice is posted without waiting
    EXPECT_EQ(rulesChanged, 1);

    TDWRuleSheetController reopened(&window);
    ASSERT_EQ(reopened.rows().size(), 2);
    EXPECT_EQ(reopened.rows()[0]->operatorPopUp()->currentText(), QStringLiteral("begins with"));
    EXPECT_EQ(reopened.rows()[0]->textField()->text(), text);
    EXPECT_EQ(reopened.rows()[1]->typePopUp()->currentData().toString(), QStringLiteral("document"));
    EXPECT_EQ(reopened.predicate(), parsed);
}

TEST_F(TDWRuleSheetControllerTest, ABeginsWithRuleIgnoresCaseAndAccents)
{
    TDWRuleSheetController sheet(&window);
    setNameRow(sheet.addRow(), QStringLiteral("begins with"), QStringLiteral("Été"));
    sheet.rulesOkButton()->click();

    EXPECT_EQ(excludedTitles({QStringLiteral("ete plans"), QStringLiteral("ÉTÉ 2024"), QStringLiteral("summer été"), QStringLiteral("Etc")}),
              (QStringList{QStringLiteral("ete plans"), QStringLiteral("ÉTÉ 2024")}));
}

TEST_F(TDWRuleSheetControllerTest, ARowWithoutTextExcludesNothing)
{
    TDWRuleSheetController sheet(&window);
    sheet.addRow(); // a Name row "contains" with no text
    setNameRow(sheet.addRow(), QStringLiteral("contains"), QStringLiteral("plan"));
    sheet.rulesOkButton()->click();
    EXPECT_EQ(TDWPredicate::parse(stored().toString()), TDWPredicate::parse(QStringLiteral("title CONTAINS[cd] \"plan\"")));
    EXPECT_EQ(excludedTitles({QStringLiteral("Plans"), QStringLiteral("Budget")}), QStringList{QStringLiteral("Plans")});

    TDWRuleSheetController onlyEmpty(&window);
    for (TDWRuleRowWidget *row : onlyEmpty.rows())
        row->textField()->clear();
    onlyEmpty.rulesOkButton()->click();
    EXPECT_FALSE(stored().isValid());
    EXPECT_EQ(excludedTitles({QStringLiteral("Plans"), QStringLiteral("Budget")}), QStringList());
}

TEST_F(TDWRuleSheetControllerTest, RemovingEveryRowStoresNoRule)
{
    TDWUserDefaults::standard()->setString(QStringLiteral("title ENDSWITH[cd] \".tmp\" OR doc.docType == \"spreadsheet\""), RuleKey);
    TDWRuleSheetController sheet(&window);
    ASSERT_EQ(sheet.rows().size(), 2);
    while (!sheet.rows().isEmpty())
        sheet.rows().first()->removeButton()->click();
    sheet.rulesOkButton()->click();

    EXPECT_FALSE(stored().isValid());
    QCoreApplication::sendPostedEvents(); // the notice is posted without waiting
    EXPECT_EQ(rulesChanged, 1);
    EXPECT_EQ(excludedTitles({QStringLiteral("a.tmp")}), QStringList());
}

TEST_F(TDWRuleSheetControllerTest, CancelKeepsTheStoredRulesAndShowsThemAgain)
{
    const QString rule = QStringLiteral("title CONTAINS[cd] \"secret\"");
    TDWUserDefaults::standard()->setString(rule, RuleKey);
    TDWRuleSheetController sheet(&window);
    sheet.open();
    sheet.rows().first()->textField()->setText(QStringLiteral("public"));
    setTypeRow(sheet.addRow(), QStringLiteral("document"));
    sheet.rulesCancelButton()->click();

    EXPECT_EQ(stored().toString(), rule);
    EXPECT_EQ(rulesChanged, 0);
    EXPECT_EQ(sheet.predicate(), TDWPredicate::parse(rule));
}

TEST_F(TDWRuleSheetControllerTest, TheTypePopUpOffersNeitherGroupingTypesNorMessages)
{
    QStringList ids;
    for (const TDWRuleRowWidget::DocType &type : TDWRuleSheetController::ruleDocTypes())
        ids.append(type.id);
    EXPECT_TRUE(ids.contains(QStringLiteral("document")));
    EXPECT_TRUE(ids.contains(QStringLiteral("spreadsheet")));
    for (const QString &absent : {QStringLiteral("message"), QStringLiteral("imapfolder"), QStringLiteral("folder")})
        EXPECT_FALSE(ids.contains(absent)) << absent.toStdString();
    TDWRuleSheetController sheet(&window);
    EXPECT_EQ(sheet.addRow()->typePopUp()->count(), ids.size());
}

} // namespace
