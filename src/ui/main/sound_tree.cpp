#include "ui/main/sound_tree.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

#include "ui/graphics.h"
#include "ui/message.h"

namespace {

// Rows of 13 pixels in an 11-pixel bold font: ten rows in view.
constexpr int kRowHeight = 13;
constexpr int kFontPixels = 11;

class RowDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        p->save();
        if (option.state & QStyle::State_Selected) p->fillRect(option.rect, QColor(255, 150, 120));
        QFont f = option.font;
        f.setBold(true);
        p->setFont(f);
        p->setPen(Qt::black);
        const QRect r = option.rect.adjusted(4, 0, 0, -2);
        p->drawText(r, Qt::AlignLeft | Qt::AlignBottom, index.data().toString());
        p->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(kRowHeight);
        return s;
    }
};

}  // namespace

TreePanel::TreePanel(QRect frame, QWidget* parent) : QWidget(parent) {
    setGeometry(frame);
}

void TreePanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QImage& bout = picture(kBout);
    if (!bout.isNull()) {
        p.drawImage(0, 0, bout);
        return;
    }
    p.fillRect(rect(), QColor(120, 80, 50));
    p.fillRect(QRect(16, 17, 271, 145), QColor(225, 210, 180));
}

MyBOutlineListView::MyBOutlineListView(QRect frame, QWidget* parent, std::uint32_t code,
                                       QObject* target)
    : QTreeWidget(parent) {
    setObjectName("cities_list");
    setGeometry(frame);
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new RowDelegate(this));
    setUniformRowHeights(true);
    QFont f = font();
    f.setPixelSize(kFontPixels);
    setFont(f);
    setIndentation(14);
    setRootIsDecorated(true);
    setFrameShape(QFrame::Box);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setAttribute(Qt::WA_TranslucentBackground);
    viewport()->setAutoFillBackground(false);
    setStyleSheet("QTreeWidget { background: transparent; }");
    connect(this, &QTreeWidget::itemSelectionChanged, this,
            [code, target] { post_message(target, code); });
}

int MyBOutlineListView::full_row(const QTreeWidgetItem* item) const {
    if (!item) return -1;
    const QTreeWidgetItem* top = item->parent() ? item->parent() : item;
    int row = 0;
    const int k = indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(top));
    for (int i = 0; i < k; ++i) row += 1 + topLevelItem(i)->childCount();
    if (item->parent()) row += 1 + top->indexOfChild(const_cast<QTreeWidgetItem*>(item));
    return row;
}

QTreeWidgetItem* MyBOutlineListView::item_at_full_row(int row) const {
    for (int i = 0; i < topLevelItemCount() && row >= 0; ++i) {
        QTreeWidgetItem* top = topLevelItem(i);
        if (row == 0) return top;
        if (row <= top->childCount()) return top->child(row - 1);
        row -= 1 + top->childCount();
    }
    return nullptr;
}

QTreeWidgetItem* MyBOutlineListView::selected() const {
    const auto items = selectedItems();
    return items.isEmpty() ? nullptr : items.first();
}
