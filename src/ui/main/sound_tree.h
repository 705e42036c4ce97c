// The two-level list of instruments and their sounds, drawn over the tree
// panel picture: the selected row in salmon, the others transparent.
#pragma once

#include <QTreeWidget>

class TreePanel : public QWidget {
  public:
    TreePanel(QRect frame, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent*) override;
};

class MyBOutlineListView : public QTreeWidget {
  public:
    // `code` is posted to `target` whenever the selection changes.
    MyBOutlineListView(QRect frame, QWidget* parent, std::uint32_t code, QObject* target);

    // The full-list row of `item` (rows under collapsed instruments count).
    int full_row(const QTreeWidgetItem* item) const;
    // The item of full-list row `row`, or null.
    QTreeWidgetItem* item_at_full_row(int row) const;
    // The selected item, or null.
    QTreeWidgetItem* selected() const;
};
