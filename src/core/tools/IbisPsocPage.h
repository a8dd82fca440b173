#pragma once
#include <cstdint>
#include <string>

#include "protocol/InstrumentProtocol.h"
#include "tools/AnimatedPicture.h"
#include "tools/PsocPage.h"

namespace spindle {

// "Ibis PSOC": the TEC, fan and PID controller of an Ibis-family detector
// (family 9). Opening it turns the fan and the TEC on and sets -5.0 °C;
// every 500 ticks it shows the controller's status values.
class CIbisPsocPage final : public CPsocPage {
public:
    explicit CIbisPsocPage(Platform& platform, IAnimatedPicture* picture = nullptr)
        : CPsocPage(platform), picture_(picture != nullptr ? picture : &noPicture_) {}
    static constexpr int kTemplateId = 1033;
    int TemplateId() const override { return kTemplateId; }
    std::string Caption() const override { return "Ibis PSOC"; }
    bool ClosesOnEnterAndEscape() const override { return false; }

    static constexpr const char* kNote =
        "Ibis TEC Diagnostic\nNOTE:  Diagnostic Data takes approximately 10 seconds to update.";
    static constexpr const char* kPictureType = "GIF";
    static constexpr int kPictureId = 163;
    static constexpr float kLowestSetpoint = -20.0f, kHighestSetpoint = 25.0f;
    // One poll per 500 ticks; a 20 ms tick makes that about every ten seconds.
    static constexpr std::uint32_t kPollDivisor = 500;
    std::uint32_t TickPeriodMs() const override { return 20; }

    void OnInitDialog() override;
    std::string StartEffect() const override;
    void OnTimer(int timerId) override;
    // "Set": the setpoint typed, checked to lie in -20.0 to 25.0 °C; outside
    // that range (or not a number) nothing is sent and the reason returned.
    std::string OnSet();
    // "TEC ON/OFF" and "Fan ON/OFF", after the box changed.
    void OnTecClicked();
    void OnFanClicked();
    // Reads the status values now, as a poll does (false when it failed).
    bool Refresh() { return ReadStatus(); }

    // The window's close command.
    void OnClose() { OnOK(); }

    void SetPicture(IAnimatedPicture* picture) { picture_ = picture != nullptr ? picture : &noPicture_; }
    bool PictureLoaded() const { return pictureLoaded_; }
    bool PicturePlaying() const { return picturePlaying_; }

    std::string setpointText;  // "Setpoint(C)"
    float setpoint = 0.0f;
    std::string systemStatus, boardTemp, currentTemperature, pidError, currentSetpoint, pidControlValue, version;
    bool tecOn = false, fanOn = false;
    std::uint32_t pollCounter = 0;
    std::uint32_t pollDivisor = kPollDivisor;

private:
    bool Control(int selector, std::uint16_t value);
    bool ReadStatus();
    void Play();
    void Stop();

    CNoPicture noPicture_;
    IAnimatedPicture* picture_;
    bool pictureLoaded_ = false;
    bool picturePlaying_ = false;
    TecStatus status_{};
    // Exchanges of the last start that worked: fan, TEC, setpoint, status.
    int startStepsDone_ = 0;
};

}  // namespace spindle
