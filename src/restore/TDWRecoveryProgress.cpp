#include "restore/TDWRecoveryProgress.h"

#include "platform/foundation/TDWLog.h"

#include <QLocale>

#include <algorithm>

namespace {

// Decimal style, with the user's grouping separators.
QString formatted(qint64 number)
{
    return QLocale().toString(number);
}

} // namespace

TDWRecoveryProgress::TDWRecoveryProgress(const QString &title, bool multipleTopLevel, bool asMailbox)
    : m_title(title)
    , m_multipleTopLevel(multipleTopLevel)
    , m_asMailbox(asMailbox)
{
}

void TDWRecoveryProgress::setPlan(const Plan &plan)
{
    m_plan = plan;
    m_planKnown = true;
}

void TDWRecoveryProgress::docRecoverySuccessful(qint64 bytes)
{
    if (!m_failureError.isNull())
        return;
    ++m_numDocsRecovered;
    m_bytesRecovered += bytes;
    updateProgress();
}

void TDWRecoveryProgress::dirRecoverySuccessful()
{
    if (!m_failureError.isNull())
        return;
    ++m_numDirsRecovered;
    updateProgress();
}

void TDWRecoveryProgress::recoveryFailure(const TDWError &error)
{
    if (!m_failureError.isNull())
        return;
    m_failureError = error.isNull() ? TDWError(QStringLiteral("TDWRecovery"), 0) : error;
    tdwLog(QStringLiteral("Unable to restore: %1").arg(m_failureError.description()));
    updateProgress();
}

void TDWRecoveryProgress::recoveryCancelled()
{
    m_cancelled = true;
    updateProgress();
}

void TDWRecoveryProgress::updateProgress()
{
    emit updated();
}

TDWRecoveryProgress::State TDWRecoveryProgress::state() const
{
    if (!m_failureError.isNull())
        return State::Failed;
    if (m_cancelled)
        return State::Cancelled;
    // Every queued step counts, mailbox folders included, so the request is
    // finished only after its last step whatever the mode.
    if (!m_planKnown || m_numDocsRecovered + m_numDirsRecovered < m_plan.numSteps)
        return State::InProgress;
    return m_plan.numNoBackup > 0 ? State::FinishedNotBackedUp : State::Finished;
}

QString TDWRecoveryProgress::noun(bool plural) const
{
    if (m_asMailbox)
        return plural ? tr("messages") : tr("message");
    return plural ? tr("items") : tr("item");
}

QString TDWRecoveryProgress::notBackedUpText() const
{
    if (m_numDocsRecovered == 0) {
        if (!m_title.isEmpty() && !m_multipleTopLevel)
            return tr("Unable to restore “%1” because it is not backed up.").arg(m_title);
        if (m_plan.numNoBackup == 1)
            return tr("Unable to restore 1 %1 because it is not backed up.").arg(noun(false));
        return tr("Unable to restore %1 %2 because they are not backed up.").arg(formatted(m_plan.numNoBackup), noun(true));
    }
    // The "of" figure is every file item of the request, those whose
    // revisions were purged meanwhile included.
    const QString format = m_plan.numNoBackup == 1 ? tr("Restored %1 of %2 %3.  The other was not backed up.")
                                              : tr("Restored %1 of %2 %3.  The others were not backed up.");
    return format.arg(formatted(m_numDocsRecovered), formatted(m_plan.numFileItems), noun(true));
}

QString TDWRecoveryProgress::text() const
{
    switch (state()) {
    case State::Failed:
        return tr("Unable to restore %1.").arg(noun(!((!m_title.isEmpty() && !m_multipleTopLevel) || m_plan.numNoBackup == 1)));
    case State::FinishedNotBackedUp:
        return notBackedUpText();
    case State::Finished:
    case State::Cancelled:
    case State::InProgress:
        break;
    }
    return tr("Restoring…");
}

std::optional<double> TDWRecoveryProgress::barValue() const
{
    if (state() == State::Finished)
        return 1.0;
    const qint64 done = m_numDocsRecovered + m_numDirsRecovered;
    if (!m_planKnown || m_plan.numSteps <= 0 || m_numDocsRecovered < 1)
        return std::nullopt;
    return std::clamp(double(done) / double(m_plan.numSteps), 0.0, 1.0);
}
