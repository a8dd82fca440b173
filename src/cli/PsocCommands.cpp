// psoc: the PSOC diagnostics pages of a Falcon, Condor or Ibis device, run
// over the same page models as the window.
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "CliOutput.h"
#include "Commands.h"
#include "JsonText.h"
#include "device/ScopedDevice.h"
#include "platform/Clock.h"
#include "platform/Format.h"
#include "tools/PsocSheet.h"

namespace spindle::cli {

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

std::string OneLine(std::string text) {
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n")) {
        std::size_t from = at, to = at + 2;
        while (from > 0 && text[from - 1] == ' ') --from;
        while (to < text.size() && text[to] == ' ') ++to;
        text.replace(from, to - from, "; ");
    }
    return text;
}

const char* YesNo(bool value) { return value ? "yes" : "no"; }

Fields FalconFields(const CFalconExtrasPage& page) {
    return {{"Firmware", OneLine(page.firmwareText)},
            {"Raw ADC Counts", page.rawAdcCounts},
            {"ADC Volts", page.adcVolts},
            {"Raw DAC Counts", page.rawDacCounts},
            {"DAC Volts", page.dacVolts},
            {"Board Temperature", page.boardTemperature}};
}

Fields CondorFields(const CCondorPsocPage& page) {
    const bool status = page.IsRead(CCondorPsocPage::kSystemStatus);
    const auto bit = [status](bool set) -> std::string { return status ? YesNo(set) : CCondorPsocPage::kNotRead; };
    return {{"Firmware", OneLine(page.firmwareText)},
            {"Temperature Celsius", page.ValueText(CCondorPsocPage::kTemperature)},
            {"ADC Result", page.ValueText(CCondorPsocPage::kAdcCounts)},
            {"Setpoint Counts", page.ValueText(CCondorPsocPage::kSetpointCounts)},
            {"PID Control Value", page.ValueText(CCondorPsocPage::kPidControl)},
            {"SetPoint Celsius", page.ValueText(CCondorPsocPage::kSetpointC)},
            {"TEC Over Current", bit(page.tecOverCurrent)},
            {"Fan Fail", bit(page.fanFail)},
            {"PID Control Rail High", bit(page.railHigh)},
            {"PID Control Rail Low", bit(page.railLow)}};
}

Fields IbisFields(const CIbisPsocPage& page) {
    return {{"System Status", page.systemStatus},   {"Board Temp", page.boardTemp},
            {"Current Temperature(C)", page.currentTemperature}, {"PID Error", page.pidError},
            {"Current Setpoint(C)", page.currentSetpoint},       {"PID Control Value", page.pidControlValue},
            {"Version", page.version}};
}

// Prints the fields that are set, as LABEL<TAB>VALUE lines or one JSON object.
void Print(const GlobalOptions& options, const DeviceInfo& info, const std::string& page, const Fields& fields,
           const std::string& note = {}) {
    if (options.json) {
        OrderedJson values = OrderedJson::object();
        for (const auto& [label, value] : fields) {
            if (value == CCondorPsocPage::kNotRead) {
                values[label] = nullptr;
            } else if (!value.empty()) {
                values[label] = JsonText(value);
            }
        }
        OrderedJson document = {{"device", DeviceJson(info)}, {"page", page}, {"values", values}};
        if (!note.empty()) document["note"] = JsonText(note);
        PrintJson(document);
        return;
    }
    if (!note.empty()) std::cout << note << '\n';
    for (const auto& [label, value] : fields) {
        if (!value.empty()) std::cout << label << '\t' << value << '\n';
    }
}

bool OnOff(const std::vector<std::string>& args, bool& on) {
    if (args.size() != 1 || (args[0] != "on" && args[0] != "off")) return false;
    on = args[0] == "on";
    return true;
}

bool Celsius(const std::vector<std::string>& args, double& value) {
    if (args.size() != 1) return false;
    char* end = nullptr;
    value = std::strtod(args[0].c_str(), &end);
    return end != args[0].c_str() && *end == '\0' && std::isfinite(value);
}

int Usage(const std::string& text) {
    std::cerr << "spindle-cli: " << text << '\n';
    return kExitUsage;
}

}  // namespace

int RunPsoc(const GlobalOptions& options, const std::string& device, const std::string& action,
            const std::vector<std::string>& args, const PsocWatchOptions& watch) {
    std::unique_ptr<CCliSession> session;
    int status = CCliSession::Open(options, true, session);
    if (status != kExitOk) return status;
    session->StartUp();
    session->RefreshTree();
    DeviceInfo info;
    if (!FindDeviceOnTree(*session, device, info, status)) return status;
    Platform& platform = session->Ports();
    CSpecPropSheet sheet(platform, kAppTitle);
    ScopedDevice opened(platform, static_cast<int>(info.index));
    if (!opened.Opened()) {
        session->Ui().Error(DeviceName(info) + " could not be opened");
        return session->ExitStatus();
    }
    CPsocPage* page = sheet.AddPage(opened.Handle(), static_cast<int>(info.familyCode));
    if (page == nullptr) {
        session->Ui().Error(DeviceName(info) + " has no PSOC page (only Falcon, Osprey+, Condor and Ibis devices do)");
        return session->ExitStatus();
    }
    const std::string caption = page->Caption();
    auto* falcon = dynamic_cast<CFalconExtrasPage*>(page);
    auto* condor = dynamic_cast<CCondorPsocPage*>(page);
    auto* ibis = dynamic_cast<CIbisPsocPage*>(page);
    const auto fields = [&]() { return falcon ? FalconFields(*falcon) : condor ? CondorFields(*condor) : IbisFields(*ibis); };
    const auto refuse = [&](const std::string& reason) {
        session->Ui().Error(reason);
        return session->ExitStatus();
    };

    if (action == "show") {
        // Reads only: nothing the page's start would write.
        if (falcon) falcon->ReadOnly();
        if (condor) {
            condor->ReadFirmware();
            for (int q = CCondorPsocPage::kTemperature; q <= CCondorPsocPage::kSystemStatus; ++q) condor->ReadQuantity(q);
        }
        if (ibis) {
            ibis->Refresh();
            ibis->boardTemp = "NA";
        }
        Print(options, info, caption, fields());
    } else if (action == "open") {
        page->OnInitDialog();
        Print(options, info, caption, fields(),
              "Opened the " + caption + " page as the window does: " + page->StartEffect() + ".");
        page->OnOK();
    } else if (falcon && action == "read-adc") {
        falcon->OnReadAdc();
        Print(options, info, caption, {{"Raw ADC Counts", falcon->rawAdcCounts}, {"ADC Volts", falcon->adcVolts}});
    } else if (falcon && action == "write-dac") {
        if (args.size() != 1) return Usage("write-dac takes the DAC count in hexadecimal (for example 1FF)");
        falcon->rawDacCounts = args[0];
        const std::string refused = falcon->OnWriteDac();
        if (!refused.empty()) return refuse(refused);
        Print(options, info, caption, {{"Raw DAC Counts", falcon->rawDacCounts}, {"DAC Volts", falcon->dacVolts}});
    } else if (falcon && action == "read-temp") {
        falcon->OnReadTemp();
        Print(options, info, caption, {{"Board Temperature", falcon->boardTemperature}});
        if (falcon->boardTemperature == "-999.000") return refuse("no valid board temperature in five attempts");
    } else if (condor && action == "read") {
        static const char* const names[] = {"temperature", "adc", "setpoint-counts", "pid", "setpoint", "status"};
        int quantity = -1;
        for (int q = 0; q < 6; ++q) {
            if (args.size() == 1 && args[0] == names[q]) quantity = q;
        }
        if (quantity < 0) return Usage("read takes temperature, adc, setpoint-counts, pid, setpoint or status");
        condor->ReadQuantity(quantity);
        Fields all = CondorFields(*condor);
        Fields shown;
        const std::size_t from = quantity == CCondorPsocPage::kSystemStatus ? 6 : static_cast<std::size_t>(quantity) + 1;
        const std::size_t to = quantity == CCondorPsocPage::kSystemStatus ? 10 : from + 1;
        shown.assign(all.begin() + static_cast<std::ptrdiff_t>(from), all.begin() + static_cast<std::ptrdiff_t>(to));
        Print(options, info, caption, shown);
    } else if ((condor || ibis) && action == "tec") {
        bool on = false;
        if (!OnOff(args, on)) return Usage("tec takes on or off");
        if (condor) condor->SetTec(on);
        if (ibis) {
            ibis->tecOn = on;
            ibis->OnTecClicked();
        }
        if (!options.json && page->FailedExchanges() == 0) std::cout << "TEC " << (on ? "on" : "off") << '\n';
    } else if (ibis && action == "fan") {
        bool on = false;
        if (!OnOff(args, on)) return Usage("fan takes on or off");
        ibis->fanOn = on;
        ibis->OnFanClicked();
        if (!options.json && page->FailedExchanges() == 0) std::cout << "Fan " << (on ? "on" : "off") << '\n';
    } else if ((condor || ibis) && action == "setpoint") {
        double celsius = 0;
        if (!Celsius(args, celsius)) return Usage("setpoint takes a temperature in \u00B0C (for example -5.0)");
        if (ibis) {
            ibis->setpointText = args[0];
            const std::string refused = ibis->OnSet();
            if (!refused.empty()) return refuse(refused);
        } else {
            if (celsius < condor->spinLower || celsius > condor->spinUpper) {
                return refuse("the setpoint must lie from -20 to 25 \u00B0C; nothing was written");
            }
            condor->WriteSetpoint(celsius);
        }
        if (!options.json && page->FailedExchanges() == 0) std::cout << StrPrintf("Setpoint %.1f \u00B0C\n", celsius);
    } else if (action == "watch") {
        // Polls as the page does, at the page's pace unless told otherwise.
        const double seconds = watch.intervalSeconds > 0
                                   ? watch.intervalSeconds
                                   : (ibis ? 10.0 : 1.0);
        const auto intervalMs = static_cast<std::uint32_t>(seconds * 1000);
        const std::uint64_t start = platform.clock.NowMs();
        for (int n = 0; watch.count == 0 || n < watch.count; ++n) {
            if (n > 0) platform.clock.Sleep(intervalMs);
            bool read = true;
            Fields line;
            if (falcon) {
                falcon->OnReadAdc();
                line = {{"Raw ADC Counts", falcon->rawAdcCounts}, {"ADC Volts", falcon->adcVolts}};
            } else if (condor) {
                read = condor->ReadQuantity(CCondorPsocPage::kTemperature) &&
                       condor->ReadQuantity(CCondorPsocPage::kSetpointC);
                line = {{"Temperature Celsius", condor->ValueText(CCondorPsocPage::kTemperature)},
                        {"SetPoint Celsius", condor->ValueText(CCondorPsocPage::kSetpointC)}};
            } else {
                read = ibis->Refresh();
                line = {{"Current Temperature(C)", ibis->currentTemperature},
                        {"Current Setpoint(C)", ibis->currentSetpoint},
                        {"PID Control Value", ibis->pidControlValue}};
            }
            if (!read) return refuse("polling stopped: " + DeviceName(info) + " did not answer");
            const double at = static_cast<double>(platform.clock.NowMs() - start) / 1000.0;
            if (options.json) {
                OrderedJson values = OrderedJson::object();
                for (const auto& [label, value] : line) values[label] = JsonText(value);
                std::cout << OrderedJson({{"seconds", at}, {"values", values}}).dump() << std::endl;
            } else {
                std::cout << StrPrintf("%8.1f s", at);
                for (const auto& [label, value] : line) std::cout << "  " << label << ' ' << value;
                std::cout << std::endl;
            }
        }
    } else {
        return Usage("unknown action \"" + action + "\" for the " + caption + " page");
    }
    // A page shows what it last read, or its defaults, when an exchange
    // fails: the action did not do what it says.
    if (page->FailedExchanges() > 0) {
        return refuse(StrPrintf("%d of the page's exchanges with %s failed: what is shown may not be the device's, "
                                "and what was to be written may not have been",
                                page->FailedExchanges(), DeviceName(info).c_str()));
    }
    return session->ExitStatus();
}

}  // namespace spindle::cli
