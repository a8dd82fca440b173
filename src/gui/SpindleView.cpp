#include "SpindleView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include "Artwork.h"
#include "protocol/ValueList.h"

namespace spindle::gui {

namespace {
constexpr int kImageRole = Qt::UserRole + 1;
}

CSpindleView::CSpindleView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("spindleView"));
    setColumnCount(2);
    setHeaderLabels({QStringLiteral("Item"), QStringLiteral("Data")});
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setIconSize(QSize(16, 16));
    // The Data column takes whatever width the Item column leaves.
    header()->setStretchLastSection(true);
    header()->setSectionsMovable(false);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void CSpindleView::Attach(CValueList& list) {
    list_ = &list;
    list.SetObserver([this] { Sync(); });
    Sync();
}

void CSpindleView::Sync() {
    if (list_ == nullptr) return;
    const auto& rows = list_->Rows();
    const int count = static_cast<int>(rows.size());
    // Rows are rewritten in place, so a value edited or reset keeps the
    // selection and the scroll position.
    while (topLevelItemCount() > count) delete takeTopLevelItem(topLevelItemCount() - 1);
    while (topLevelItemCount() < count) addTopLevelItem(new QTreeWidgetItem);
    for (int i = 0; i < count; ++i) {
        const ValueRow& row = rows[static_cast<std::size_t>(i)];
        QTreeWidgetItem* item = topLevelItem(i);
        const QString label = QString::fromStdString(row.label);
        const QString value = QString::fromStdString(row.value);
        if (item->text(0) != label) item->setText(0, label);
        if (item->text(1) != value) item->setText(1, value);
        // An edited row is shown in bold until it is saved.
        if (item->font(0).bold() != row.edited) {
            QFont font = item->font(0);
            font.setBold(row.edited);
            item->setFont(0, font);
            item->setFont(1, font);
        }
        if (item->data(0, kImageRole).toInt() != row.image + 1) {
            item->setIcon(0, ListImage(row.image));
            item->setData(0, kImageRole, row.image + 1);
        }
    }
    // The Item column is at least as wide as its longest label; the Data
    // column takes the rest.
    if (count > 0) {
        const int needed = sizeHintForColumn(0);
        if (needed > columnWidth(0)) setColumnWidth(0, needed);
    }
}

int CSpindleView::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty()) return -1;
    return indexOfTopLevelItem(selected.constFirst());
}

void CSpindleView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // The row holding the selection mark; without one the key does nothing.
        const int row = currentItem() != nullptr && currentItem()->isSelected() ? indexOfTopLevelItem(currentItem())
                                                                               : SelectedRow();
        if (row >= 0 && onEnterKey) onEnterKey(row);
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void CSpindleView::mouseDoubleClickEvent(QMouseEvent* event) {
    const int row = SelectedRow();
    if (event->button() == Qt::LeftButton && row >= 0 && onDoubleClick) onDoubleClick(row);
    QTreeWidget::mouseDoubleClickEvent(event);
}

}  // namespace spindle::gui
