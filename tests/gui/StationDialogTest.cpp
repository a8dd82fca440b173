// The Station view on the demo bench: the core station's devices as tiles.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <fstream>

#include "DemoWindow.h"
#include "StationDialog.h"

namespace spindle::gui {
namespace {

class StationDialogTest : public DemoWindowTest {};

TEST_F(StationDialogTest, EachKestrelIsATileThatEndsInPassOrFailUntilItIsUnplugged) {
    // On the bench's clock a programmed device leaves the bus and comes back.
    bench_->SetClock(&clock_);
    CMainWindow& window = StartWindow();
    // Besides the two demo Kestrels (0 and 1), one that takes no loader.
    bench_->AddDevice(sim::DeviceConfigFromJson(nlohmann::ordered_json::parse(
        R"({"index": 20, "vendorId": "0xFA57", "productId": "0x1002", "iProduct": 2,
            "strings": {"1": "Kestrel 2.31.0", "2": "Kestrel"}, "slots": {"0": "KES77777"},
            "faults": {"failRequests": ["anchor"]}})")));
    // An image that boots as a Kestrel: its header names the maker's Kestrel.
    const std::string image = configDir_.filePath(QStringLiteral("kestrel.iic")).toStdString();
    std::ofstream(image, std::ios::binary) << std::string("\xB2\x57\xFA\x02\x10\x00\x01", 7) << std::string(4089, '\x5A');

    CStationDialog station(window.Frame(), window.Ui(), true, &window);
    station.FamilyBox()->setCurrentIndex(station.FamilyBox()->findText(QStringLiteral("Kestrel")));
    station.StartButton()->click();
    ASSERT_EQ(messages_.size(), 1u) << "no image: refused, with the reason";
    EXPECT_TRUE(station.StartButton()->isEnabled() && station.Tile(0) == nullptr);

    station.ImageEdit()->setText(QString::fromStdString(image));
    station.StartButton()->click();
    ASSERT_TRUE(station.Tile(0) != nullptr && station.Tile(20) != nullptr);
    EXPECT_FALSE(station.StartButton()->isEnabled() || station.ImageEdit()->isEnabled());
    window.Frame().WaitForJobs();
    window.Ui().FireTimer(999);  // the window's countdown may see the jobs' end first
    station.Tick();
    EXPECT_TRUE(station.Tile(0)->text().contains(QStringLiteral("PASS")) &&
                station.Tile(0)->text().contains(QStringLiteral("came back as Kestrel")));
    EXPECT_TRUE(station.Tile(20)->text().contains(QStringLiteral("FAIL")) &&
                station.Tile(20)->text().contains(QStringLiteral("KES77777")));
    EXPECT_NE(station.Tile(0)->styleSheet(), station.Tile(20)->styleSheet());
    EXPECT_EQ(station.CountLabel()->text(), QStringLiteral("2 passed, 1 failed"));
    EXPECT_TRUE(messages_.size() == 1u) << "the station's jobs show no completion box";

    // The failed device stays marked until it is unplugged.
    bench_->RemoveDevice(20);
    station.Tick();
    EXPECT_TRUE(station.Tile(20) == nullptr && station.Tile(0) != nullptr);

    // Stop: no new device is taken, and the view may be started again.
    station.StopButton()->click();
    EXPECT_TRUE(station.CountLabel()->text().endsWith(QStringLiteral("stopped")) && station.StartButton()->isEnabled());
}

}  // namespace
}  // namespace spindle::gui
