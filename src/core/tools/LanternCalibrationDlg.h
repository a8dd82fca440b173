#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Platform.h"
#include "platform/UserInterface.h"

namespace spindle {

// "Calibrate Lantern": a two-point calibration of the Lantern's temperature
// sensor (raw counts to °C, stored in accessory slots 1 and 2), and test
// controls for its light. The dialog's state is public for the front ends to
// render; handlers that take the typed values return why they refused them
// (empty when they did not), and nothing reaches the device then.
class CLanternCalDlg final : public CDialogModel {
public:
    static constexpr int kDialogId = 134;
    int DialogId() const override { return kDialogId; }
    std::string Title() const override { return "Calibrate Lantern"; }

    static constexpr const char* kSection = "LanternCalibration";
    static constexpr double kDefaultResistanceSlope = 2.6402690825;
    static constexpr double kDefaultResistanceIntercept = -264.3936703072;
    static constexpr std::uint32_t kReadingPauseMs = 150;

    // `deviceIndex`: the Kestrel the Lantern hangs on; `application`: the
    // application object the settings store asks for.
    CLanternCalDlg(Platform& platform, std::uint32_t deviceIndex, const void* application);
    // Writes the mode, the references, the D/A value and the averages back
    // into the settings, however the dialog ended.
    ~CLanternCalDlg() override;
    CLanternCalDlg(const CLanternCalDlg&) = delete;
    CLanternCalDlg& operator=(const CLanternCalDlg&) = delete;

    // The settings with their defaults, the mode's labels, the texts.
    void OnInitDialog();
    // Parses the typed texts into the values.
    std::string TakeFields();
    void OnTemperatureMode();
    void OnResistanceMode();
    // The "Store" buttons: averages the raw readings at the reference (the
    // first reading discarded, 150 ms between readings) and, once both sides
    // are stored, computes the line and asks "Calibration Complete". A
    // reading that fails refuses the side: nothing is stored for it.
    std::string OnStoreLow() { return Store(false); }
    std::string OnStoreHigh() { return Store(true); }
    // "Get Temperature": averages raw readings and shows them through the
    // dialog's own line in the status line (refused when a reading fails).
    std::string OnGetTemperature();
    // The light's controls; each returns the reason when the Lantern did not
    // take the command.
    std::string OnLightOn();
    std::string OnLightPulsed();
    std::string OnSetDa();
    // OK: with an accepted calibration, asks "Store Calibration" and on Yes
    // writes slots 1 and 2 ("%.6e") and commits. Returns the refusal reason
    // (the dialog stays open then), also when the Lantern did not take the
    // writes.
    std::string OnOK();

    // The line from two stored sides, as the dialog computes it; false (with
    // the reason) when it cannot be computed.
    bool ComputeLine(double& slopeOut, double& interceptOut, std::string& why) const;

    // Called with the progress position during the averaging loops, so a
    // front end can repaint (input stays held off: the loops run on the
    // window's thread).
    std::function<void()> onProgress;

    int mode = 1;  // 1 "Temperature", 0 "Resistance"
    std::string unitLabel = "\u00B0C";
    std::string lowText, highText, daText, averagesText, slopeText, interceptText;
    double low = 0.0, high = 100.0;
    std::uint32_t lowCounts = 0, highCounts = 0;
    bool lowStored = false, highStored = false;
    double slope = 0.0, intercept = 0.0;
    bool accepted = false;
    std::uint16_t da = 32000, averages = 25;
    double resistanceSlope = kDefaultResistanceSlope, resistanceIntercept = kDefaultResistanceIntercept;
    bool lightOn = false, lightPulsed = false;
    int progressMaximum = 0, progressPosition = 0;
    std::string statusText;

private:
    std::string Store(bool high);
    void ShowFields();
    void Progress(int position);

    Platform& platform_;
    std::uint32_t deviceIndex_;
    const void* application_;
};

}  // namespace spindle
