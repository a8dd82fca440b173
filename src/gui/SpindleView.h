#pragma once
#include <QTreeWidget>
#include <functional>

namespace spindle {
class CValueList;
}

namespace spindle::gui {

// The stored-value list pane: two columns, "Item" and "Data", one row per
// row of the core's CValueList with its small image. Double-click and Enter
// hand the row to the frame's editors; the list itself edits nothing.
class CSpindleView : public QTreeWidget {
    Q_OBJECT
public:
    explicit CSpindleView(QWidget* parent = nullptr);

    void Attach(CValueList& list);
    void Sync();

    // The selected row, or -1.
    int SelectedRow() const;

    std::function<void(int row)> onDoubleClick;
    std::function<void(int row)> onEnterKey;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    CValueList* list_ = nullptr;
};

}  // namespace spindle::gui
