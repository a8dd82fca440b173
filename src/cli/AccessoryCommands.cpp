// lantern-cal, lantern-temp, light, kestrel-extra and zephyr-import: the
// accessory tools, run through the frame's own commands, with the dialogs'
// logic worked from the command line's arguments.
#include <iostream>

#include "CliOutput.h"
#include "Commands.h"
#include "JsonText.h"
#include "platform/Format.h"
#include "tools/ExtraKestrelDlg.h"
#include "tools/LanternCalibrationDlg.h"

namespace spindle::cli {

namespace {

// Opens the session on the device, which must be of `familyCode`.
std::unique_ptr<CCliSession> OpenFamily(const GlobalOptions& options, const std::string& device, int familyCode,
                                        const char* what, int& status, DeviceInfo& info) {
    auto session = OpenSelectedDevice(options, device, status, info);
    if (!session) return nullptr;
    if (info.familyCode != static_cast<std::uint32_t>(familyCode)) {
        session->Ui().Error(DeviceName(info) + " is not " + what);
        status = session->ExitStatus();
        return nullptr;
    }
    return session;
}

// Runs the frame's Calibrate command with `work` in place of the operator:
// it works the dialog's logic and returns true where the operator would
// press OK.
int WithCalibration(const GlobalOptions& options, const std::string& device,
                    const std::function<bool(CLanternCalDlg&, CCliSession&)>& work) {
    int status = kExitOk;
    DeviceInfo info;
    auto session = OpenFamily(options, device, family::kLantern, "a Lantern (name it N/lantern)", status, info);
    if (!session) return status;
    session->Record(session->Frame().RunCalibrate([&](CLanternCalDlg& calibration) {
        calibration.OnInitDialog();
        return work(calibration, *session);
    }));
    return session->ExitStatus();
}

struct KestrelField {
    const char* label;
    std::string CExtraKestrelDlg::*text;  // null for the others
    int kind;                             // 0 text, 1 flag, 2 measurement list, 3 header list, 4 lamp
    std::uint8_t flag;
};

constexpr KestrelField kKestrelFields[] = {
    {"Reading Period (sec)", &CExtraKestrelDlg::readingPeriod, 0, 0},
    {"Integration Time", &CExtraKestrelDlg::integrationTime, 0, 0},
    {"Scans to Average", &CExtraKestrelDlg::scansToAverage, 0, 0},
    {"Pixel Boxcar", &CExtraKestrelDlg::pixelBoxcar, 0, 0},
    {"Lamp On Between Measurements", nullptr, 4, 0},
    {"Warmup Period (sec)", &CExtraKestrelDlg::warmupPeriod, 0, 0},
    {"Measurement Type", nullptr, 2, 0},
    {"Analog Out Full Scale Value", &CExtraKestrelDlg::analogFullScale, 0, 0},
    {"Print Out Header", nullptr, 3, 0},
    {"0-Electrical Dark", &CExtraKestrelDlg::electricalDark, 0, 0},
    {"1-Fluorescence Peak", &CExtraKestrelDlg::fluorescencePeak, 0, 0},
    {"2-Reference Peak", &CExtraKestrelDlg::referencePeak, 0, 0},
    {"3", &CExtraKestrelDlg::pixel3, 0, 0},
    {"Oxygen Scans to Add", &CExtraKestrelDlg::oxygenScansToAdd, 0, 0},
    {"Dark Every N Scans", &CExtraKestrelDlg::darkEveryNScans, 0, 0},
    {"Pulse LED", nullptr, 1, CExtraKestrelDlg::kPulseLed},
    {"Temperature Compensate", nullptr, 1, CExtraKestrelDlg::kTemperatureCompensate},
    {"2nd Order", nullptr, 1, CExtraKestrelDlg::kSecondOrder},
    {"Ratio", nullptr, 1, CExtraKestrelDlg::kRatio},
    {"Dark Correct", nullptr, 1, CExtraKestrelDlg::kDarkCorrect},
    {"Acquire Temperature", nullptr, 1, CExtraKestrelDlg::kAcquireTemperature},
};

std::string FieldText(const CExtraKestrelDlg& dialog, const KestrelField& field) {
    switch (field.kind) {
        case 1: return (dialog.flags & field.flag) != 0 ? "yes" : "no";
        case 2: return CExtraKestrelDlg::kMeasurementTypes[dialog.measurementType];
        case 3: return CExtraKestrelDlg::kPrintOutHeaders[dialog.printOutHeader];
        case 4: return dialog.lampOnBetween ? "yes" : "no";
        default: return dialog.*field.text;
    }
}

// Sets a field from its text; the reason when the value is not one it takes.
std::string SetField(CExtraKestrelDlg& dialog, const KestrelField& field, const std::string& value) {
    const auto list = [&](const char* const* texts, int count, int& target) -> std::string {
        for (int i = 0; i < count; ++i) {
            if (value == texts[i]) {
                target = i;
                return {};
            }
        }
        return StrPrintf("\"%s\" takes one of its list's texts", field.label);
    };
    const bool yes = value == "yes" || value == "1" || value == "on";
    const bool no = value == "no" || value == "0" || value == "off";
    switch (field.kind) {
        case 1:
        case 4:
            if (!yes && !no) return StrPrintf("\"%s\" takes yes or no", field.label);
            if (field.kind == 4) {
                dialog.lampOnBetween = yes;
            } else {
                dialog.flags = static_cast<std::uint8_t>(yes ? dialog.flags | field.flag : dialog.flags & ~field.flag);
            }
            return {};
        case 2: return list(CExtraKestrelDlg::kMeasurementTypes, 5, dialog.measurementType);
        case 3: return list(CExtraKestrelDlg::kPrintOutHeaders, 4, dialog.printOutHeader);
        default: dialog.*field.text = value; return {};
    }
}

}  // namespace

int RunLanternCal(const GlobalOptions& options, const std::string& device, const LanternCalOptions& cal) {
    return WithCalibration(options, device, [&](CLanternCalDlg& dialog, CCliSession& session) -> bool {
        // The mode is saved with the settings: without an option the one last
        // used stays, and the operator is told which before holding the sensor.
        if (cal.resistance) {
            dialog.OnResistanceMode();
        } else if (cal.temperature) {
            dialog.OnTemperatureMode();
        } else {
            session.Ui().Note(dialog.mode == 1
                                  ? "Temperature mode, as last used: the references are in \u00B0C (--resistance for ohms)."
                                  : "Resistance mode, as last used: the references are in ohms (--temperature for \u00B0C).");
        }
        dialog.lowText = cal.low;
        dialog.highText = cal.high;
        if (!cal.averages.empty()) dialog.averagesText = cal.averages;
        const char* unit = dialog.mode == 1 ? "\u00B0C" : "ohms";
        for (const bool high : {false, true}) {
            const std::string prompt =
                StrPrintf("Hold the Lantern's sensor at the %s reference (%s %s), then answer yes to take its readings.",
                          high ? "high" : "low", (high ? cal.high : cal.low).c_str(), unit);
            if (session.Ui().MessageBox(prompt, "Calibrate Lantern", mb::kYesNo) != mb::kIdYes) {
                session.Ui().Error("calibration stopped; nothing was stored");
                return false;
            }
            const std::string refused = high ? dialog.OnStoreHigh() : dialog.OnStoreLow();
            if (!refused.empty()) {
                session.Ui().Error(refused);
                return false;
            }
        }
        if (options.json) {
            PrintJson({{"mode", dialog.mode == 1 ? "temperature" : "resistance"},
                       {"lowCounts", dialog.lowCounts}, {"highCounts", dialog.highCounts}, {"accepted", dialog.accepted},
                       {"slope", JsonText(dialog.slopeText)}, {"intercept", JsonText(dialog.interceptText)}});
        } else {
            std::cout << "Low\t" << dialog.lowCounts << " counts\nHigh\t" << dialog.highCounts << " counts\n";
            std::cout << "Slope\t" << dialog.slopeText << "\nIntercept\t" << dialog.interceptText << '\n';
        }
        if (!dialog.accepted) {
            session.Ui().Error("the calibration was not accepted; nothing was stored");
            return false;
        }
        const std::string refused = dialog.OnOK();
        if (!refused.empty()) {
            session.Ui().Error(refused);
            return false;
        }
        return true;
    });
}

int RunLanternTemp(const GlobalOptions& options, const std::string& device) {
    return WithCalibration(options, device, [&](CLanternCalDlg& dialog, CCliSession& session) -> bool {
        const std::string refused = dialog.OnGetTemperature();
        if (!refused.empty()) {
            session.Ui().Error(refused);
        } else if (options.json) {
            PrintJson({{"temperature", JsonText(dialog.statusText)}});
        } else {
            std::cout << dialog.statusText << '\n';
        }
        return false;
    });
}

int RunLight(const GlobalOptions& options, const std::string& device, const std::vector<std::string>& args) {
    const std::string action = args.empty() ? std::string() : args[0];
    const bool valid = (args.size() == 1 && (action == "on" || action == "off" || action == "pulsed" ||
                                             action == "steady")) ||
                       (args.size() == 2 && action == "dac");
    if (!valid) {
        std::cerr << "spindle-cli: light takes on, off, pulsed, steady or dac N\n";
        return kExitUsage;
    }
    return WithCalibration(options, device, [&](CLanternCalDlg& dialog, CCliSession& session) -> bool {
        std::string refused;
        if (action == "on" || action == "off") {
            dialog.lightOn = action == "on";
            refused = dialog.OnLightOn();
        } else if (action == "pulsed" || action == "steady") {
            dialog.lightPulsed = action == "pulsed";
            refused = dialog.OnLightPulsed();
        } else {
            dialog.daText = args[1];
            refused = dialog.OnSetDa();
        }
        if (!refused.empty()) session.Ui().Error(refused);
        return false;
    });
}

int RunKestrelExtra(const GlobalOptions& options, const std::string& device,
                    const std::vector<std::string>& assignments, const std::string& calFile) {
    int status = kExitOk;
    DeviceInfo info;
    auto session = OpenFamily(options, device, family::kKestrel, "a Kestrel", status, info);
    if (!session) return status;
    const bool changing = !assignments.empty() || !calFile.empty();
    session->Ui().SetFileAnswer(calFile);
    session->Record(session->Frame().RunExtraKestrel([&](CExtraKestrelDlg& dialog) -> bool {
        dialog.OnInitDialog();
        if (!changing && dialog.UnreadSlot() != 0) {
            session->Ui().Error(StrPrintf("slot %d could not be read from %s", dialog.UnreadSlot(),
                                          DeviceName(info).c_str()));
            return false;
        }
        if (!calFile.empty()) {
            const std::string refused = dialog.OnLoadCalFile();
            if (!refused.empty()) {
                session->Ui().Error(refused);
                return false;
            }
        }
        for (const std::string& assignment : assignments) {
            const std::size_t equals = assignment.find('=');
            const std::string label = assignment.substr(0, equals);
            const KestrelField* field = nullptr;
            for (const KestrelField& f : kKestrelFields) {
                if (label == f.label) field = &f;
            }
            if (equals == std::string::npos || field == nullptr) {
                session->Ui().Error("no field \"" + label + "\" (FIELD=VALUE, with a field as kestrel-extra lists it)");
                return false;
            }
            const std::string refused = SetField(dialog, *field, assignment.substr(equals + 1));
            if (!refused.empty()) {
                session->Ui().Error(refused);
                return false;
            }
        }
        if (changing) {
            const std::string refused = dialog.OnOK();
            if (!refused.empty()) {
                session->Ui().Error(refused);
                return false;
            }
            // What is printed is what the Kestrel holds now, not what was typed.
            dialog.OnInitDialog();
            if (dialog.UnreadSlot() != 0) {
                session->Ui().Error(StrPrintf("slot %d could not be read back from %s", dialog.UnreadSlot(),
                                              DeviceName(info).c_str()));
            }
        }
        if (options.json) {
            OrderedJson fields = OrderedJson::object();
            for (const KestrelField& field : kKestrelFields) fields[field.label] = JsonText(FieldText(dialog, field));
            PrintJson({{"device", DeviceJson(info)}, {"fields", fields}});
        } else {
            for (const KestrelField& field : kKestrelFields) {
                std::cout << field.label << '\t' << FieldText(dialog, field) << '\n';
            }
        }
        return changing;
    }));
    session->Ui().SetFileAnswer({});
    return session->ExitStatus();
}

int RunZephyrImport(const GlobalOptions& options, const std::string& device, const std::string& file) {
    int status = kExitOk;
    DeviceInfo info;
    auto session = OpenFamily(options, device, family::kLantern, "a Lantern (name it N/lantern)", status, info);
    if (!session) return status;
    session->Ui().SetFileAnswer(file);
    const Outcome outcome = session->Record(session->Frame().OnZephyrCalFile());
    session->Ui().SetFileAnswer({});
    if (outcome.Ok() && !options.json) {
        std::cout << "Stored the sixteen coefficients of " << file << " into " << DeviceName(info)
                  << "'s slots 3 to 18.\n";
    }
    return session->ExitStatus();
}

}  // namespace spindle::cli
