#pragma once

#include <QTableWidget>

class QMenu;

// The account table of the Google Accounts pane: one column, one account per
// row, with keys and a context menu for the selected account. It only tells
// the pane what the user asked for.
class TDWAccountTable : public QTableWidget
{
    Q_OBJECT

public:
    explicit TDWAccountTable(QWidget *parent = nullptr);

    // The context menu for a click at `position` (viewport coordinates): the
    // row under it becomes the selection; no menu without a selected row.
    // The caller owns the menu.
    QMenu *menuForPosition(const QPoint &position);

signals:
    // Delete or Backspace on a selected row.
    void deleteRequested();
    // Return or Enter on a selected row.
    void editRequested();
    void editFromMenuRequested();
    void deleteFromMenuRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showContextMenu(const QPoint &position);
};
