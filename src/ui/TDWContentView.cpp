#include "ui/TDWContentView.h"

#include <QStackedLayout>
#include <QWidget>

namespace {

QStackedLayout *stackOf(const QWidget *window)
{
    return qobject_cast<QStackedLayout *>(window->layout());
}

} // namespace

void TDWContentView::set(QWidget *window, QWidget *view)
{
    QStackedLayout *stack = stackOf(window);
    if (!stack)
        stack = new QStackedLayout(window);
    if (stack->indexOf(view) < 0)
        stack->addWidget(view);
    stack->setCurrentWidget(view);
}

QWidget *TDWContentView::current(const QWidget *window)
{
    const QStackedLayout *stack = stackOf(window);
    return stack ? stack->currentWidget() : nullptr;
}
