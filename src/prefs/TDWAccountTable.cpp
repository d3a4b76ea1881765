#include "prefs/TDWAccountTable.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>

TDWAccountTable::TDWAccountTable(QWidget *parent)
    : QTableWidget(0, 1, parent)
{
    setObjectName(QStringLiteral("tableView"));
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(48);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &TDWAccountTable::showContextMenu);
}

void TDWAccountTable::keyPressEvent(QKeyEvent *event)
{
    // Text of several characters (an input method's composition) is no command.
    if (event->text().size() > 1) {
        event->accept();
        return;
    }
    if (selectionModel()->selectedRows().isEmpty()) {
        QTableWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        emit deleteRequested();
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit editRequested();
        event->accept();
        return;
    default:
        QTableWidget::keyPressEvent(event);
    }
}

QMenu *TDWAccountTable::menuForPosition(const QPoint &position)
{
    const int row = rowAt(position.y());
    if (row >= 0) {
        clearSelection();
        selectRow(row);
    }
    if (selectionModel()->selectedRows().isEmpty())
        return nullptr;
    auto *menu = new QMenu(tr("Account"), this);
    menu->addAction(tr("Edit Account Settings"), this, &TDWAccountTable::editFromMenuRequested);
    menu->addAction(tr("Delete Account and Backups"), this, &TDWAccountTable::deleteFromMenuRequested);
    return menu;
}

void TDWAccountTable::showContextMenu(const QPoint &position)
{
    QMenu *menu = menuForPosition(position);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(viewport()->mapToGlobal(position));
}
