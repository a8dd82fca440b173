// spindle-cli: the service commands of Spindle for shells and scripts.
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "BuildVersion.h"
#include "Commands.h"

namespace {

using namespace spindle::cli;

constexpr const char* kDeviceHelp =
    "The device: an index (3), the Lantern behind the Kestrel at an index (3/lantern) or a serial number "
    "(serial:KES10234)";

constexpr const char* kMainFooter = R"(
Exit status: 0 success, 1 the device or the operation failed, 2 usage error.
Messages the desktop shows in boxes are written to standard error.
Environment: SPINDLE_CONFIG_DIR (settings folder), SPINDLE_TRACE (debug trace file),
SPINDLE_USB_TRACE (USB trace file), SPINDLE_VIRTUAL_CLOCK=1 (no real protocol pauses; for tests).

Examples:
  spindle-cli --bench demo scan
  spindle-cli --bench bench.json get 3
  spindle-cli --bench bench.json set 3 "Serial Number=OSP00999"
  spindle-cli --bench bench.json export 3 osprey.json
  spindle-cli --bench bench.json --yes import 3 osprey.json)";

CLI::App* AddDeviceCommand(CLI::App& app, const char* name, const char* description, std::string& device,
                           const char* footer) {
    CLI::App* command = app.add_subcommand(name, description);
    command->add_option("DEVICE", device, kDeviceHelp)->required()->type_name("DEVICE");
    command->footer(footer);
    return command;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Spindle service tool: reads, edits, backs up and restores the values stored in the "
                 "spectrometers, and runs the manufacturing commands.",
                 "spindle-cli"};
    app.footer(kMainFooter);
    app.require_subcommand(1);
    app.fallthrough();
    app.set_version_flag("--version", std::string("spindle-cli ") + SPINDLE_VERSION_TEXT, "Print the version and exit");

    GlobalOptions options;
    app.add_option("--bench", options.bench,
                   "Run against a simulated bench: \"demo\" (built in, changes are not kept) or a bench file "
                   "(changes are saved into it). "
#ifdef SPINDLE_HAVE_LIBUSB
                   "Without it the attached USB devices are used"
#else
                   "Required: this program was built without the USB back end"
#endif
                   )
        ->type_name("demo|FILE");
    app.add_option("--usb-trace", options.usbTrace, "Append one line per USB request and pause to FILE")->type_name("FILE");
    app.add_flag("--json", options.json, "Machine-readable output on standard output");
    app.add_option("--history", options.history,
                   "The production record: an SQLite file, a PostgreSQL server (postgresql://...) or \"off\" "
                   "(default: the History setting, else Spindle-history.db in the settings folder)")
        ->type_name("FILE|URL|off");
    app.add_flag("-y,--yes", options.yes,
                 "Answer yes to every question; without it questions are asked on the terminal, "
                 "and fail when there is none");

    std::string device;
    std::string file;
    std::string code;
    std::vector<std::string> assignments;

    CLI::App* scan = app.add_subcommand("scan", "Refresh Tree: list the devices as the device tree shows them");
    scan->footer("\nExamples:\n  spindle-cli --bench demo scan\n  spindle-cli --bench demo --json scan");

    CLI::App* get = AddDeviceCommand(app, "get", "Get All Values: print the device's stored values", device,
                                     "\nText output is LABEL<TAB>VALUE per row; --json gives the exact labels.\n"
                                     "Examples:\n  spindle-cli --bench demo get 0\n"
                                     "  spindle-cli --bench demo get 0/lantern\n"
                                     "  spindle-cli --bench demo --json get serial:OSP00412");

    CLI::App* set = AddDeviceCommand(app, "set", "Edit stored values and save them (Save All Values)", device,
                                     "\nLABEL is the row label as get prints it (case-sensitive). Configuration\n"
                                     "and reserved values are locked unless manufacturing mode is unlocked.\n"
                                     "The AutoNulling Info of a Kestrel+ or Harrier is written\n"
                                     "Enabled|Disabled,Enabled|Disabled,DARK,SATURATION.\n"
                                     "Examples:\n"
                                     "  spindle-cli --bench bench.json set 3 \"Serial Number=OSP00999\"\n"
                                     "  spindle-cli --bench bench.json set 3 \"Wavelength Calibration "
                                     "Intercept=340.1\" \"Stray Light Correction Coefficient=0.93\"");
    set->add_option("LABEL=VALUE", assignments, "The values to change")->required()->type_name("LABEL=VALUE");

    CLI::App* exportCommand =
        AddDeviceCommand(app, "export", "Back up the device's stored values into a JSON file", device,
                         "\nExample:\n  spindle-cli --bench bench.json export 3 osprey-3.json");
    exportCommand->add_option("FILE", file, "The backup file to write")->required()->type_name("FILE.json");

    CLI::App* import = AddDeviceCommand(
        app, "import", "Restore a backup into the device (refused for another family)", device,
        "\nThe differences are shown and confirmed before writing, unless --yes.\n"
        "Examples:\n  spindle-cli --bench bench.json import 3 osprey-3.json\n"
        "  spindle-cli --bench bench.json --yes import 3 osprey-3.json");
    import->add_option("FILE", file, "The backup file to restore")
        ->required()
        ->check(CLI::ExistingFile)
        ->type_name("FILE.json");

    CLI::App* verify = AddDeviceCommand(app, "verify", "Verify the device's product ID (manufacturing)", device,
                                        "\nExample:\n  spindle-cli --bench demo verify 3");

    CLI::App* download = AddDeviceCommand(
        app, "download", "Load an 8051 program (.hex or .bix) into the device's RAM and start it", device,
        "\nExample:\n  spindle-cli --bench bench.json download 15 prog.hex");
    download->add_option("FILE", file, "The program file (.hex or .bix)")->required()->type_name("FILE");

    std::vector<std::string> programArgs;
    ProgramOptions programOptions;
    CLI::App* program = app.add_subcommand(
        "program", "Program: write an EEPROM image (.iic) into the boot EEPROM of one or more devices at once");
    program->add_option("DEVICE... IMAGE", programArgs, "The devices, then the image file")
        ->required()
        ->expected(2, -1)
        ->type_name("DEVICE... IMAGE.iic");
    program->add_flag("--no-verify", programOptions.noVerify, "Do not read the image back after writing it");
    program->add_option("--backup", programOptions.backupFolder,
                        "Save each device's old EEPROM contents into DIR first (Ezusb-N-eeprom-backup.iic)")
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    program->add_flag("--confirm", programOptions.confirm,
                      "After programming, wait (up to 60 s) for each device to be replugged and say what it came "
                      "back as");
    program->footer("\nEvery device is programmed at the same time, each through its own loader; the\n"
                    "image is read back and compared unless --no-verify. Exit status 0 only when\n"
                    "every device was programmed (and, with --confirm, came back as its family).\n"
                    "Examples:\n  spindle-cli --bench bench.json program 3 4 6 firmware.iic\n"
                    "  spindle-cli --bench bench.json --json program --backup old 3 firmware.iic");

    std::vector<std::string> fpgaArgs;
    std::string player;
    CLI::App* programFpga = app.add_subcommand(
        "program-fpga", "Program FPGA: stream an XSVF file into the programmable logic of one or more devices at once");
    programFpga->add_option("DEVICE... FILE", fpgaArgs, "The devices, then the XSVF file")
        ->required()
        ->expected(2, -1)
        ->type_name("DEVICE... FILE.xsvf");
    programFpga->add_option("--player", player, "The FPGA player to load first (default: RaptorFPGA.hex of the "
                                                "application folder, or the one installed with Spindle)")
        ->check(CLI::ExistingFile)
        ->type_name("FILE.hex");
    programFpga->footer("\nEvery device is programmed at the same time: the player is loaded into its 8051,\n"
                        "then the file is streamed to it. The file is checked to be XSVF first. Exit\n"
                        "status 0 only when every device took the whole file.\n"
                        "Examples:\n  spindle-cli --bench bench.json program-fpga 6 7 examples/demo-design.xsvf\n"
                        "  spindle-cli --bench bench.json --json program-fpga --player my.hex 6 design.xsvf");

    StationCommandOptions stationOptions;
    CLI::App* station = app.add_subcommand(
        "station", "Station mode: program every device of one family as it is plugged in");
    station->add_option("--family", stationOptions.family, "The family to program (Kestrel, Osprey+, ... or a code)")
        ->required()
        ->type_name("FAMILY");
    station->add_option("IMAGE", stationOptions.image, "The EEPROM image (.iic)")->required()->type_name("IMAGE.iic");
    station->add_option("--count", stationOptions.count, "Stop after this many devices (default: until Ctrl-C)")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    station->add_option("--fpga", stationOptions.xsvf, "Then stream this XSVF file into each device's FPGA")
        ->type_name("FILE.xsvf");
    station->footer("\nEach arriving device of the family is programmed, read back, and confirmed when\n"
                    "it comes back; one line per device with PASS or FAIL and a running count, each\n"
                    "result in the production record. A failed device is not taken again until it\n"
                    "is unplugged. Ctrl-C finishes the running jobs and takes no new device. Exit\n"
                    "status 0 when all --count devices passed.\n"
                    "Example:\n  spindle-cli --bench bench.json station --family Kestrel --count 3 firmware.iic");

    std::string psocAction;
    std::vector<std::string> psocArgs;
    PsocWatchOptions watch;
    CLI::App* psoc = AddDeviceCommand(
        app, "psoc", "PSOC Diags.: the PSOC page of a Falcon, Osprey+, Condor or Ibis device", device,
        "\nActions:\n"
        "  show                 read and print the page's values, writing nothing\n"
        "  open                 run the page's start as the window does (the Falcon's DAC is set to 512;\n"
        "                       the Ibis fan and TEC are switched on at -5.0 C)\n"
        "  read-adc | write-dac HEX | read-temp          (Falcon)\n"
        "  read temperature|adc|setpoint-counts|pid|setpoint|status | tec on|off | setpoint C   (Condor)\n"
        "  tec on|off | fan on|off | setpoint C                                          (Ibis)\n"
        "  watch [--interval S] [--count N]   poll as the page does, a line per reading\n"
        "Examples:\n  spindle-cli --bench demo psoc 6 show\n  spindle-cli --bench bench.json psoc 9 watch --count 5");
    psoc->add_option("ACTION", psocAction, "What to do")->required();
    psoc->add_option("ARG", psocArgs, "The action's value")->expected(0, 1);
    psoc->add_option("--interval", watch.intervalSeconds, "watch: seconds between readings (default: the page's)")
        ->check(CLI::PositiveNumber);
    psoc->add_option("--count", watch.count, "watch: readings to take (default: until interrupted)")
        ->check(CLI::NonNegativeNumber);

    LanternCalOptions cal;
    CLI::App* lanternCal = AddDeviceCommand(
        app, "lantern-cal", "Calibrate: a two-point calibration of the Lantern's temperature sensor", device,
        "\nAsks before each side (hold the sensor at its reference); --yes answers every question.\n"
        "Without --temperature or --resistance the mode last used is kept, and said before the first side.\n"
        "Example:\n  spindle-cli --bench bench.json lantern-cal 0/lantern --low 25 --high 65 --yes");
    lanternCal->add_option("--low", cal.low, "The low reference (\u00B0C, or ohms with --resistance)")->required();
    lanternCal->add_option("--high", cal.high, "The high reference")->required();
    CLI::Option* resistance =
        lanternCal->add_flag("--resistance", cal.resistance, "The references are resistances in ohms");
    lanternCal->add_flag("--temperature", cal.temperature, "The references are temperatures in \u00B0C")
        ->excludes(resistance);
    lanternCal->add_option("--averages", cal.averages, "Readings per average (default: the last used, 25)");
    CLI::App* lanternTemp = AddDeviceCommand(app, "lantern-temp", "Get Temperature: the Lantern's temperature",
                                             device, "\nExample:\n  spindle-cli --bench demo lantern-temp 0/lantern");
    std::vector<std::string> lightArgs;
    CLI::App* light = AddDeviceCommand(app, "light", "The Lantern's light: on, off, pulsed, steady or dac N", device,
                                       "\nExample:\n  spindle-cli --bench demo light 0/lantern dac 32000");
    light->add_option("ACTION", lightArgs, "on | off | pulsed | steady | dac N")->required()->expected(1, 2);
    std::vector<std::string> kestrelAssignments;
    std::string calFile;
    CLI::App* kestrelExtra = AddDeviceCommand(
        app, "kestrel-extra", "Extra Kestrel Settings: show or change the Kestrel's slots 17-19", device,
        "\nWithout FIELD=VALUE the fields are printed; with them (or --load-cal) the three slots are written.\n"
        "Example:\n  spindle-cli --bench bench.json kestrel-extra 0 \"Reading Period (sec)=300\" Ratio=yes");
    kestrelExtra->add_option("FIELD=VALUE", kestrelAssignments, "Fields to change");
    kestrelExtra->add_option("--load-cal", calFile, "Load Values from Quillby Cal File first")
        ->check(CLI::ExistingFile)
        ->type_name("FILE.cal");
    CLI::App* zephyr = AddDeviceCommand(app, "zephyr-import",
                                        "Zephyr Cal. File: a .cal file's coefficients into the Lantern's slots 3-18",
                                        device, "\nExample:\n  spindle-cli --bench bench.json zephyr-import 0/lantern sensor.cal");
    zephyr->add_option("FILE", file, "The Zephyr calibration file")->required()->check(CLI::ExistingFile)->type_name("FILE.cal");

    std::uint32_t dumpLength = 16384;
    CLI::App* dump = AddDeviceCommand(app, "eeprom-dump", "Read the device's boot EEPROM into a file", device,
                                      "\nExample:\n  spindle-cli --bench bench.json eeprom-dump 3 osprey.iic --length 8192");
    dump->add_option("FILE", file, "The file to write")->required()->type_name("FILE");
    dump->add_option("--length", dumpLength, "Bytes to read from address 0 (default 16384, at most 65536)")
        ->type_name("N");

    CLI::App* reset = AddDeviceCommand(app, "reset-coefs",
                                       "Reset Coefs.: zero the coefficients, serial N/A, and save (manufacturing)",
                                       device, "\nExample:\n  spindle-cli --bench bench.json reset-coefs 3");

    CLI::App* linearity = AddDeviceCommand(
        app, "linearity", "Import nonlinearity coefficients from a .lin file and save (manufacturing)", device,
        "\nExample:\n  spindle-cli --bench bench.json linearity 6 falcon.lin");
    linearity->add_option("FILE", file, "The linearity calibration file (.lin)")
        ->required()
        ->check(CLI::ExistingFile)
        ->type_name("FILE.lin");

    CLI::App* unlock = app.add_subcommand("unlock", "Unlock Features: apply an access code (kept in the settings)");
    unlock->add_option("CODE", code, "The access code, exactly as given")->required()->type_name("CODE");
    unlock->footer("\nExample:\n  spindle-cli unlock CODE");

    HistoryOptions historyOptions;
    CLI::App* history = app.add_subcommand("history", "List the production record: every job and value write");
    history->add_option("--serial", historyOptions.serial, "Only records of this serial number (before or after)");
    history->add_option("--image", historyOptions.image,
                        "Only records of this image: its SHA-256 (or leading hex digits), or a file, whose "
                        "SHA-256 is taken")
        ->type_name("SHA|FILE");
    history->add_option("--since", historyOptions.since, "Only records started at or after DATE (UTC)")
        ->type_name("YYYY-MM-DD[THH:MM[:SS]]");
    history->add_flag("--failed", historyOptions.failed, "Only records that failed or were interrupted");
    history->add_flag("--csv", historyOptions.csv, "CSV on standard output (a header line, one line per record)");
    history->footer("\nExamples:\n  spindle-cli history --serial KES10234\n  spindle-cli --json history --image "
                    "firmware.iic\n  spindle-cli history --failed --since 2026-12-01 --csv > failed.csv");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kExitUsage;
    }

    for (const CLI::App* sub : app.get_subcommands()) options.command = sub->get_name();
    if (history->parsed()) return RunHistory(options, historyOptions);
    if (scan->parsed()) return RunScan(options);
    if (get->parsed()) return RunGet(options, device);
    if (set->parsed()) return RunSet(options, device, assignments);
    if (exportCommand->parsed()) return RunExport(options, device, file);
    if (import->parsed()) return RunImport(options, device, file);
    if (verify->parsed()) return RunVerify(options, device);
    if (download->parsed()) return RunDownload(options, device, file);
    if (program->parsed()) {
        const std::string image = programArgs.back();
        programArgs.pop_back();
        return RunProgram(options, programArgs, image, programOptions);
    }
    if (programFpga->parsed()) {
        const std::string xsvf = fpgaArgs.back();
        fpgaArgs.pop_back();
        return RunProgramFpga(options, fpgaArgs, xsvf, player);
    }
    if (station->parsed()) return RunStation(options, stationOptions);
    if (psoc->parsed()) return RunPsoc(options, device, psocAction, psocArgs, watch);
    if (lanternCal->parsed()) return RunLanternCal(options, device, cal);
    if (lanternTemp->parsed()) return RunLanternTemp(options, device);
    if (light->parsed()) return RunLight(options, device, lightArgs);
    if (kestrelExtra->parsed()) return RunKestrelExtra(options, device, kestrelAssignments, calFile);
    if (zephyr->parsed()) return RunZephyrImport(options, device, file);
    if (dump->parsed()) return RunEepromDump(options, device, file, dumpLength);
    if (reset->parsed()) return RunResetCoefs(options, device);
    if (linearity->parsed()) return RunLinearity(options, device, file);
    if (unlock->parsed()) return RunUnlock(options, code);
    return kExitUsage;
}
