#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

// The view of one row of the Activity window: the main line, a second line
// and a progress bar, each shown or hidden by the row's type.
class TDWActivityCellView : public QWidget
{
    Q_OBJECT

public:
    explicit TDWActivityCellView(QWidget *parent = nullptr);

    QLabel *primaryTextField() const { return m_primaryTextField; }
    QLabel *secondaryTextField() const { return m_secondaryTextField; }
    QProgressBar *progressIndicator() const { return m_progressIndicator; }

    // A bar without a range spins: it shows activity, not an amount.
    bool isIndeterminate() const;
    void setIndeterminate();
    // A bar at value of maximum, both scaled to the bar's whole steps.
    void setDeterminate(double value, double maximum);

private:
    QLabel *m_primaryTextField;
    QLabel *m_secondaryTextField;
    QProgressBar *m_progressIndicator;
};
