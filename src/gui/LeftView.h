#pragma once
#include <QTreeWidget>
#include <functional>
#include <vector>

class QMenu;

namespace spindle {
class CDeviceTree;
}

namespace spindle::gui {

// The device tree pane: renders the core's CDeviceTree (root "Computer",
// one category per family, the devices, Lanterns under their Kestrel) and
// reports selection changes. It keeps no state of its own besides the items.
class CLeftView : public QTreeWidget {
    Q_OBJECT
public:
    explicit CLeftView(QWidget* parent = nullptr);

    // Shows `tree` and follows its changes from now on.
    void Attach(CDeviceTree& tree);
    // Brings the widget in line with the model (items, texts, images,
    // expansion, selection).
    void Sync();

    // Called with the model's item id (or -1) when the operator selects.
    std::function<void(int item)> onSelectionChanged;

    // The model item shown by a widget item, or -1.
    static int ItemId(const QTreeWidgetItem* item);
    QTreeWidgetItem* WidgetItem(int itemId) const;

    // The pop-up of the context menu: "Cu&t", "&Copy", "&Paste". Copy puts
    // the selected item's text on the clipboard; nothing handles Cut and
    // Paste, so they are shown disabled.
    QMenu* CreateContextMenu(QWidget* owner);
    // Where a context menu request shows the pop-up: the pointer, or for a
    // keyboard request 5 pixels right of and below the view's top-left corner.
    QPoint ContextMenuPoint(const QContextMenuEvent& event) const;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void OnCurrentChanged();

    CDeviceTree* tree_ = nullptr;
    std::vector<QTreeWidgetItem*> items_;
    bool syncing_ = false;
};

}  // namespace spindle::gui
