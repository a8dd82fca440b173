#include "LeftView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>

#include "Artwork.h"
#include "inventory/DeviceTree.h"

namespace spindle::gui {

namespace {
constexpr int kItemIdRole = Qt::UserRole + 1;
}

CLeftView::CLeftView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("leftView"));
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));
    setUniformRowHeights(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    connect(this, &QTreeWidget::currentItemChanged, this, [this] { OnCurrentChanged(); });
}

void CLeftView::Attach(CDeviceTree& tree) {
    tree_ = &tree;
    tree.SetObserver([this] { Sync(); });
    Sync();
}

int CLeftView::ItemId(const QTreeWidgetItem* item) {
    if (item == nullptr) return CDeviceTree::kNoItem;
    bool ok = false;
    const int id = item->data(0, kItemIdRole).toInt(&ok);
    return ok ? id : CDeviceTree::kNoItem;
}

QTreeWidgetItem* CLeftView::WidgetItem(int itemId) const {
    if (itemId < 0 || static_cast<std::size_t>(itemId) >= items_.size()) return nullptr;
    return items_[static_cast<std::size_t>(itemId)];
}

void CLeftView::Sync() {
    if (tree_ == nullptr) return;
    syncing_ = true;
    const auto& model = tree_->Items();
    // Item ids only grow until the tree is cleared; a shorter model means a
    // new tree.
    if (model.size() < items_.size()) {
        clear();
        items_.clear();
    }
    for (std::size_t id = items_.size(); id < model.size(); ++id) {
        const TreeItem& source = model[id];
        QTreeWidgetItem* parent = source.parent >= 0 ? WidgetItem(source.parent) : nullptr;
        auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
        item->setData(0, kItemIdRole, static_cast<int>(id));
        items_.push_back(item);
    }
    for (std::size_t id = 0; id < model.size(); ++id) {
        const TreeItem& source = model[id];
        QTreeWidgetItem* item = items_[id];
        const QString text = QString::fromStdString(source.text);
        if (item->text(0) != text) item->setText(0, text);
        if (item->data(0, Qt::UserRole).toInt() != source.image + 1) {
            item->setIcon(0, TreeImage(source.image));
            item->setData(0, Qt::UserRole, source.image + 1);
        }
        if (item->isExpanded() != source.expanded) item->setExpanded(source.expanded);
    }
    QTreeWidgetItem* selected = WidgetItem(tree_->Selected());
    if (currentItem() != selected || (selected != nullptr && !selected->isSelected())) {
        setCurrentItem(selected);
        if (selected == nullptr) clearSelection();
    }
    syncing_ = false;
}

void CLeftView::OnCurrentChanged() {
    if (syncing_) return;
    if (onSelectionChanged) onSelectionChanged(ItemId(currentItem()));
    // The frame may have kept its selection (the operator cancelled leaving
    // unsaved edits); the click that moved the current item is still being
    // handled and selects its row after this, so the model's selection is
    // put back once it is done.
    QTimer::singleShot(0, this, [this] { Sync(); });
}

QMenu* CLeftView::CreateContextMenu(QWidget* owner) {
    auto* menu = new QMenu(owner);
    menu->setObjectName(QStringLiteral("treeContextMenu"));
    QAction* cut = menu->addAction(tr("Cu&t"));
    cut->setData(57635);
    cut->setEnabled(false);
    QAction* copy = menu->addAction(tr("&Copy"));
    copy->setData(57634);
    QPointer<CLeftView> view(this);
    connect(copy, &QAction::triggered, this, [view] {
        if (view == nullptr || view->currentItem() == nullptr) return;
        QApplication::clipboard()->setText(view->currentItem()->text(0));
    });
    copy->setEnabled(currentItem() != nullptr);
    QAction* paste = menu->addAction(tr("&Paste"));
    paste->setData(57637);
    paste->setEnabled(false);
    return menu;
}

QPoint CLeftView::ContextMenuPoint(const QContextMenuEvent& event) const {
    if (event.reason() == QContextMenuEvent::Keyboard) return mapToGlobal(QPoint(0, 0)) + QPoint(5, 5);
    return event.globalPos();
}

void CLeftView::contextMenuEvent(QContextMenuEvent* event) {
    // The owner of the pop-up is the first window up the parent chain.
    QMenu* menu = CreateContextMenu(window());
    menu->exec(ContextMenuPoint(*event));
    delete menu;
    event->accept();
}

void CLeftView::mousePressEvent(QMouseEvent* event) {
    // A right click shows the menu without changing the selection.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

}  // namespace spindle::gui
