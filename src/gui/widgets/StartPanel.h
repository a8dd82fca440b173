#pragma once
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace spindle {
struct FirstRunNotice;
}

namespace spindle::gui {

// What the list area shows while no device is listed: the frame's
// FirstRunNotice as a heading, its paragraphs, the commands to type (in a
// fixed-width font, selectable for copying), and the buttons it offers.
class CStartPanel : public QWidget {
    Q_OBJECT
public:
    explicit CStartPanel(QWidget* parent = nullptr);

    void Show(const FirstRunNotice& notice);

    std::function<void()> onOpenDemoBench;
    std::function<void()> onRefreshTree;

    QLabel* Heading() const { return heading_; }
    QLabel* Body() const { return body_; }
    QLabel* Commands() const { return commands_; }
    QPushButton* DemoButton() const { return demo_; }
    QPushButton* RefreshButton() const { return refresh_; }

private:
    QLabel* heading_ = nullptr;
    QLabel* body_ = nullptr;
    QLabel* commands_ = nullptr;
    QPushButton* demo_ = nullptr;
    QPushButton* refresh_ = nullptr;
};

}  // namespace spindle::gui
