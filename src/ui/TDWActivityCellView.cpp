#include "ui/TDWActivityCellView.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {
// Steps of a determinate bar: fine enough for a fraction of the mail list.
constexpr int BarSteps = 1000;
} // namespace

TDWActivityCellView::TDWActivityCellView(QWidget *parent)
    : QWidget(parent)
    , m_primaryTextField(new QLabel(this))
    , m_secondaryTextField(new QLabel(this))
    , m_progressIndicator(new QProgressBar(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 2, 8, 2);
    layout->setSpacing(2);
    m_progressIndicator->setTextVisible(false);
    m_progressIndicator->setMaximumHeight(12);
    QFont small = m_secondaryTextField->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    m_secondaryTextField->setFont(small);
    layout->addWidget(m_primaryTextField);
    layout->addWidget(m_progressIndicator);
    layout->addWidget(m_secondaryTextField);
    layout->addStretch();
    setIndeterminate();
}

bool TDWActivityCellView::isIndeterminate() const
{
    return m_progressIndicator->minimum() == 0 && m_progressIndicator->maximum() == 0;
}

void TDWActivityCellView::setIndeterminate()
{
    m_progressIndicator->setRange(0, 0);
}

void TDWActivityCellView::setDeterminate(double value, double maximum)
{
    m_progressIndicator->setRange(0, BarSteps);
    const double fraction = maximum > 0 ? std::clamp(value / maximum, 0.0, 1.0) : 0.0;
    m_progressIndicator->setValue(int(std::lround(fraction * BarSteps)));
}
