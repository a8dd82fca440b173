// spindle: the desktop application. Chooses the driver back end, builds the
// main window on it and runs the event loop.
#include <clocale>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QDialog>
#include <QTimer>
#include <charconv>
#include <cstdio>
#include <memory>
#include <vector>

#include "BuildVersion.h"
#include "CommandLine.h"
#include "MainWindow.h"
#include "StationDialog.h"
#include "app/MainFrame.h"
#include "device/UsbTrace.h"
#include "platform/CommandIds.h"
#include "platform/DebugTrace.h"
#include "platform/RealClock.h"
#include "sim/SimBench.h"

namespace {

using namespace spindle;

// "INDEX:IMAGE": an EEPROM job on that device, as Program starts it; an
// IMAGE ending in ".xsvf", an FPGA job as Program FPGA starts it.
void StartProgramJob(gui::CMainWindow& window, const std::string& job) {
    const std::size_t colon = job.find(':');
    const std::string indexText = job.substr(0, colon);
    const std::string image = job.substr(colon + 1);
    unsigned index = 0;
    const auto [end, failure] = std::from_chars(indexText.data(), indexText.data() + indexText.size(), index);
    CMainFrame& frame = window.Frame();
    for (const DeviceRecord& record : frame.deviceRecords) {
        if (failure == std::errc() && end == indexText.data() + indexText.size() && (record.family != 0 || !record.serial.empty()) &&
            record.index == index) {
            const bool xsvf = image.size() > 5 && image.compare(image.size() - 5, 5, ".xsvf") == 0;
            if (xsvf) {
                frame.StartFpgaJob(record, image);
            } else {
                frame.StartEepromJob(record, image);
            }
            return;
        }
    }
    std::fprintf(stderr, "spindle: no device %s to program\n", indexText.c_str());
}

// Hidden screenshot mode: select a tree item, let the list fill, grab the
// window into a PNG and quit.
void ScheduleScreenshot(QApplication& app, gui::CMainWindow& window, const gui::LaunchOptions& options) {
    const int delay = options.screenshotDelayMs;
    QTimer::singleShot(delay, &window, [&app, &window, options, delay] {
        if (!options.select.empty() && !window.SelectTreeItem(QString::fromStdString(options.select))) {
            std::fprintf(stderr, "spindle: no tree item \"%s\"\n", options.select.c_str());
        }
        for (const std::string& job : options.programJobs) StartProgramJob(window, job);
        // The dialog a hidden option asks to grab, by the command that opens it.
        const int dialogCommand = options.psoc          ? cmd::kPsocDiags
                                  : options.calibrate    ? cmd::kCalibrate
                                  : options.extraKestrel ? cmd::kExtraKestrel
                                                         : 0;
        if (dialogCommand != 0) {
            // The dialog runs modally; a timer inside its event loop grabs it
            // once it has started (a page, once it has polled) and closes it.
            auto saved = std::make_shared<bool>(false);
            QTimer::singleShot(delay, &window, [saved, options, dialogCommand] {
                auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (dialog == nullptr) return;
                if (!options.screenshot.empty()) {
                    *saved = dialog->grab().save(QString::fromStdString(options.screenshot), "PNG");
                    if (!*saved) std::fprintf(stderr, "spindle: cannot write %s\n", options.screenshot.c_str());
                }
                // The PSOC sheet ends its pages with OK; the other dialogs close
                // with Cancel, so a screenshot writes nothing into the device.
                dialog->done(dialogCommand == cmd::kPsocDiags ? QDialog::Accepted : QDialog::Rejected);
            });
            window.Frame().OnCommand(dialogCommand);
            if (!options.screenshot.empty() && !*saved) std::fprintf(stderr, "spindle: no dialog to grab\n");
            app.exit(*saved || options.screenshot.empty() ? 0 : 1);
            return;
        }
        QWidget* grabbed = &window;
        if (!options.station.empty()) {
            auto* station = new gui::CStationDialog(window.Frame(), window.Ui(), false, &window);
            const std::size_t colon = options.station.find(':');
            station->FamilyBox()->setCurrentText(QString::fromStdString(options.station.substr(0, colon)));
            if (colon != std::string::npos) station->ImageEdit()->setText(QString::fromStdString(options.station.substr(colon + 1)));
            station->show();
            station->StartButton()->click();
            grabbed = station;
        }
        if (options.screenshot.empty()) return;
        QTimer::singleShot(delay, &window, [&app, grabbed, options] {
            const bool saved = grabbed->grab().save(QString::fromStdString(options.screenshot), "PNG");
            if (!saved) std::fprintf(stderr, "spindle: cannot write %s\n", options.screenshot.c_str());
            app.exit(saved ? 0 : 1);
        });
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    gui::LaunchOptions options = gui::ParseCommandLine(arguments);
    if (!options.error.empty()) {
        std::fprintf(stderr, "spindle: %s\n\n%s", options.error.c_str(), gui::UsageText().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(gui::UsageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("spindle %s\n", SPINDLE_VERSION_TEXT);
        return 0;
    }
    // The back end is chosen before any window exists, so a wrong choice is
    // reported on a machine without a display too.
    std::unique_ptr<IDebugTrace> trace = MakeDebugTraceFromEnvironment();
    RealClock clock;  // before the back end, which may keep it
    gui::Backend backend = gui::OpenBackend(options, trace.get());
    if (!backend.driver) {
        std::fprintf(stderr, "%s\n", backend.error.c_str());
        return 2;
    }
    if (!backend.usbProblem.empty()) {
        std::fprintf(stderr,
                     "spindle: the USB back end cannot start (%s): the window lists no devices; run on the "
                     "simulated bench with --bench demo (or --bench FILE)\n",
                     backend.usbProblem.c_str());
    }

    // The bench's chips keep the host's time (the FPGA player works through
    // the job's pauses).
    if (auto* bench = dynamic_cast<sim::SimBench*>(backend.driver.get())) bench->SetClock(&clock);
    CUsbTraceSetup traced(*backend.driver, clock, options.usbTrace);
    if (!traced.error().empty()) {
        std::fprintf(stderr, "spindle: %s\n", traced.error().c_str());
        return 2;
    }

    // Qt takes its own options out of what is left.
    std::vector<char*> qtArguments;
    for (std::string& argument : options.rest) qtArguments.push_back(argument.data());
    int qtArgc = static_cast<int>(qtArguments.size());
    qtArguments.push_back(nullptr);
    QApplication app(qtArgc, qtArguments.data());
    // Qt adopts the user's locale for the C library; the values travel to the
    // instruments and the settings as printf texts with a decimal point.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Spindle"));
    QApplication::setApplicationVersion(QStringLiteral(SPINDLE_VERSION_TEXT));

    gui::WindowOptions windowOptions;
    windowOptions.simulatedBench = backend.simulated;
    windowOptions.backendError = backend.usbProblem;
    gui::CMainWindow window(traced.driver(), traced.clock(), *trace, windowOptions);
    window.Start();
    if (window.StartMaximized()) {
        window.showMaximized();
    } else {
        window.show();
    }
    if (!options.select.empty() || !options.screenshot.empty()) ScheduleScreenshot(app, window, options);
    return QApplication::exec();
}
