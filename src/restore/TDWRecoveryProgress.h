#pragma once

#include "platform/foundation/TDWError.h"

#include <QObject>
#include <QString>

#include <optional>

// What a restore request has done so far and what its status window says
// about it, kept apart from the window so the rules can be checked without
// one. Lives on the main thread; the request's steps report to it there, in
// order, the counts of the plan first.
//
// The request is finished once the plan is known and every step it queued
// has reported. The "of" figure of the closing text is the number of file
// items of the request; the bar is the share of the queued steps done.
class TDWRecoveryProgress : public QObject
{
    Q_OBJECT

public:
    enum class State {
        InProgress,
        Cancelled,
        Failed,
        Finished,            // everything restored
        FinishedNotBackedUp, // some items had no backup
    };

    // `numRecoveries`: the file items (neither folders nor mail labels);
    // `title`: the name of the single top-level item, or empty.
    TDWRecoveryProgress(qint64 numRecoveries, const QString &title, bool multipleTopLevel, bool asMailbox);

    // The plan, handed over once when the scheduling ends.
    void setCounts(qint64 numNoBackup, qint64 numDocs, qint64 totalBytes, qint64 numSteps);
    // A step's outcome. Once a failure is kept, later reports are ignored.
    void docRecoverySuccessful(qint64 bytes);
    void dirRecoverySuccessful();
    void recoveryFailure(const TDWError &error);
    // The user or the application stopped the request.
    void recoveryCancelled();
    // Tells the window to look again (updated()), without a change.
    void updateProgress();

    State state() const;
    // The window's text for the state.
    QString text() const;
    // The bar's value in [0, 1]; empty while it is indeterminate (nothing
    // done yet, or the plan not known).
    std::optional<double> barValue() const;

    qint64 numRecoveries() const { return m_numRecoveries; }
    qint64 numNoBackup() const { return m_numNoBackup; }
    qint64 numDocs() const { return m_numDocs; }
    qint64 totalBytes() const { return m_totalBytes; }
    qint64 numSteps() const { return m_numSteps; }
    qint64 numDocsRecovered() const { return m_numDocsRecovered; }
    qint64 numDirsRecovered() const { return m_numDirsRecovered; }
    qint64 bytesRecovered() const { return m_bytesRecovered; }
    const TDWError &failureError() const { return m_failureError; }
    bool countsKnown() const { return m_countsKnown; }

signals:
    void updated();

private:
    QString noun(bool plural) const;
    QString notBackedUpText() const;

    const qint64 m_numRecoveries;
    const QString m_title;
    const bool m_multipleTopLevel;
    const bool m_asMailbox;
    bool m_countsKnown = false;
    bool m_cancelled = false;
    qint64 m_numNoBackup = 0;
    qint64 m_numDocs = 0;
    qint64 m_totalBytes = 0;
    qint64 m_numSteps = 0;
    qint64 m_numDocsRecovered = 0;
    qint64 m_numDirsRecovered = 0;
    qint64 m_bytesRecovered = 0;
    TDWError m_failureError;
};
