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

    // What the planning found, handed over once when it ends.
    struct Plan
    {
        qint64 numNoBackup = 0;  // items without a backed-up revision (or gone)
        qint64 numDocs = 0;      // file items whose revision exists
        qint64 numFileItems = 0; // items that are neither folders nor mail labels, gone ones included
        qint64 totalBytes = 0;
        qint64 numSteps = 0;     // copy and mailbox steps queued
    };

    // `title`: the name of the single top-level item, or empty.
    TDWRecoveryProgress(const QString &title, bool multipleTopLevel, bool asMailbox);

    void setPlan(const Plan &plan);
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

    const Plan &plan() const { return m_plan; }
    qint64 numDocsRecovered() const { return m_numDocsRecovered; }
    qint64 numDirsRecovered() const { return m_numDirsRecovered; }
    qint64 bytesRecovered() const { return m_bytesRecovered; }
    const TDWError &failureError() const { return m_failureError; }
    bool planKnown() const { return m_planKnown; }

signals:
    void updated();

private:
    QString noun(bool plural) const;
    QString notBackedUpText() const;

    const QString m_title;
    const bool m_multipleTopLevel;
    const bool m_asMailbox;
    bool m_planKnown = false;
    bool m_cancelled = false;
    Plan m_plan;
    qint64 m_numDocsRecovered = 0;
    qint64 m_numDirsRecovered = 0;
    qint64 m_bytesRecovered = 0;
    TDWError m_failureError;
};
