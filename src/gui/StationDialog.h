#pragma once
#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace spindle {
class CMainFrame;
class CStation;
class IUserInterface;
}  // namespace spindle

namespace spindle::gui {

// File, Station: every device of the chosen family that is plugged in gets
// the image (and the XSVF file, when one is chosen), read back and
// confirmed when it comes back, by the core's station, the one
// `spindle-cli station` runs. Each device is one big tile, green PASS or
// red FAIL, readable from a metre away, until it is unplugged; a line
// above the tiles keeps the count. Stop takes no new device; running jobs
// finish, and the view cannot be closed until they have.
class CStationDialog : public QDialog {
    Q_OBJECT
public:
    // Looks at the station every this many milliseconds (not with the
    // port's manual timers: tests call Tick).
    static constexpr int kTickMs = 250;

    CStationDialog(CMainFrame& frame, IUserInterface& ui, bool manualTicks, QWidget* parent);
    ~CStationDialog() override;

    // One look at the station: results that came in, arrivals, the tiles.
    void Tick();
    // The device's tile, or null.
    QLabel* Tile(std::uint32_t deviceIndex) const;

    QComboBox* FamilyBox() const { return family_; }
    QLineEdit* ImageEdit() const { return image_; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* StopButton() const { return stop_; }
    QLabel* CountLabel() const { return count_; }

protected:
    void reject() override;

private:
    void Browse(QLineEdit* edit, const char* title, const char* filter);
    void StartStation();
    void Render();

    CMainFrame& frame_;
    IUserInterface& ui_;
    std::unique_ptr<CStation> station_;
    QTimer timer_;
    bool manualTicks_;
    QComboBox* family_;
    QLineEdit* image_;
    QLineEdit* xsvf_;
    QPushButton* start_;
    QPushButton* stop_;
    QLabel* count_;
    QGridLayout* tiles_;
    std::map<std::uint32_t, QLabel*> tileLabels_;
};

}  // namespace spindle::gui
