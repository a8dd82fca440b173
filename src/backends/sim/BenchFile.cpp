// Reading bench files: a JSON document describing the simulated devices.
// Every member is checked; members whose names begin with "_" are comments
// and are ignored wherever they appear.

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>

#include "platform/BoundedFile.h"
#include "platform/Format.h"
#include "sim/SimBench.h"

namespace spindle::sim {

using Json = nlohmann::ordered_json;

namespace {

constexpr const char* kFormatName = "spindle-sim-bench";
constexpr int kFormatVersion = 1;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw BenchFileError(where.empty() ? what : where + ": " + what);
}

void CheckMembers(const Json& object, const std::string& where, std::initializer_list<const char*> allowed) {
    if (!object.is_object()) Fail(where, "must be an object");
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::string& key = it.key();
        if (!key.empty() && key[0] == '_') continue;
        bool known = false;
        for (const char* name : allowed) known = known || key == name;
        if (!known) Fail(where, "unknown member \"" + key + "\"");
    }
}

// A JSON integer, or a text holding one in decimal or 0x-hex (a sign allowed).
long long ParseInteger(const Json& value, const std::string& where, long long low, long long high) {
    long long number = 0;
    if (value.is_number_integer()) {
        if (value.is_number_unsigned() && value.get<unsigned long long>() > static_cast<unsigned long long>(high)) {
            Fail(where, "out of range");
        }
        number = value.get<long long>();
    } else if (value.is_string()) {
        const std::string text = value.get<std::string>();
        if (text.empty()) Fail(where, "empty number");
        char* end = nullptr;
        errno = 0;
        number = std::strtoll(text.c_str(), &end, 0);
        if (errno != 0 || end == nullptr || *end != '\0') Fail(where, "\"" + text + "\" is not a number");
    } else {
        Fail(where, "must be a number or a text such as \"0x1A\"");
    }
    if (number < low || number > high) {
        Fail(where, StrPrintf("%lld is out of range %lld to %lld", number, low, high));
    }
    return number;
}

// Hex digits, blanks between bytes allowed: "C2 47 05 ..." or "C24705".
std::vector<std::uint8_t> HexBytes(const Json& value, const std::string& where, std::size_t maxBytes) {
    if (!value.is_string()) Fail(where, "must be a text of hex digits");
    const std::string text = value.get<std::string>();
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ') continue;
        const int digit = std::isxdigit(static_cast<unsigned char>(c))
                              ? (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10))
                              : -1;
        if (digit < 0) Fail(where, StrPrintf("'%c' is not a hex digit", c));
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) Fail(where, "an odd number of hex digits");
    if (bytes.size() > maxBytes) Fail(where, StrPrintf("%zu bytes; the EEPROM holds %zu", bytes.size(), maxBytes));
    return bytes;
}

std::uint16_t ParseU16(const Json& value, const std::string& where) {
    return static_cast<std::uint16_t>(ParseInteger(value, where, 0, 0xFFFF));
}

// 16-bit register contents: -32768 to 65535, negatives as two's complement.
std::uint16_t ParseWord(const Json& value, const std::string& where) {
    return static_cast<std::uint16_t>(ParseInteger(value, where, -32768, 0xFFFF));
}

std::int16_t ParseSigned16(const Json& value, const std::string& where) {
    return static_cast<std::int16_t>(ParseInteger(value, where, -32768, 32767));
}

bool ParseBool(const Json& value, const std::string& where) {
    if (!value.is_boolean()) Fail(where, "must be true or false");
    return value.get<bool>();
}

std::string ParseText(const Json& value, const std::string& where) {
    if (!value.is_string()) Fail(where, "must be a text");
    return value.get<std::string>();
}

// Milliseconds, or "never".
std::int64_t ParseReconnectMs(const Json& value, const std::string& where) {
    if (value.is_string() && value.get<std::string>() == "never") return kForever;
    return ParseInteger(value, where + ".reconnectMs", 0, 3600000);
}

int ParseKey(const std::string& key, const std::string& where, int high) {
    return static_cast<int>(ParseInteger(Json(key), where + " key \"" + key + "\"", 0, high));
}

std::map<std::uint8_t, std::uint16_t> ParseRegisterMap(const Json& object, const std::string& where) {
    if (!object.is_object()) Fail(where, "must be an object of address: value");
    std::map<std::uint8_t, std::uint16_t> registers;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.key().empty() && it.key()[0] == '_') continue;
        const int address = ParseKey(it.key(), where, 0xFF);
        registers[static_cast<std::uint8_t>(address)] = ParseWord(it.value(), where + "." + it.key());
    }
    return registers;
}

std::map<int, SlotBytes> ParseSlots(const Json& object, const std::string& where) {
    if (!object.is_object()) Fail(where, "must be an object of slot number: value");
    std::map<int, SlotBytes> slots;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.key().empty() && it.key()[0] == '_') continue;
        const int slot = ParseKey(it.key(), where, 0xFF);
        try {
            slots[slot] = SlotFromJson(it.value());
        } catch (const BenchFileError& error) {
            Fail(where + "." + it.key(), error.what());
        }
    }
    return slots;
}

}  // namespace

std::string EepromContentsText(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) text += StrPrintf("%02X", b);
    return text;
}


SlotBytes SlotFromJson(const Json& value) {
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        if (text.size() > kSlotBytes) {
            Fail("", StrPrintf("\"%s\" is longer than %zu bytes", text.c_str(), kSlotBytes));
        }
        return SlotFromText(text);
    }
    if (value.is_object()) {
        CheckMembers(value, "slot value", {"hex"});
        if (!value.contains("hex") || !value["hex"].is_string()) Fail("", "a raw slot value needs \"hex\": \"..\"");
        const std::string hex = value["hex"].get<std::string>();
        SlotBytes bytes{};
        std::size_t count = 0;
        int pending = -1;
        for (char c : hex) {
            if (c == ' ' || c == ',' || c == '\t') {
                if (pending >= 0) Fail("", "hex bytes need two digits each");
                continue;
            }
            int digit = -1;
            if (c >= '0' && c <= '9') digit = c - '0';
            if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            if (digit < 0) Fail("", "\"" + hex + "\" holds a character that is not a hex digit");
            if (pending < 0) {
                pending = digit;
                continue;
            }
            if (count == kSlotBytes) Fail("", "\"" + hex + "\" is longer than 15 bytes");
            bytes[count++] = static_cast<std::uint8_t>(pending * 16 + digit);
            pending = -1;
        }
        if (pending >= 0) Fail("", "hex bytes need two digits each");
        return bytes;
    }
    Fail("", "a slot value is a text or {\"hex\": \"..\"}");
}

Json SlotToJson(const SlotBytes& bytes) {
    std::size_t length = 0;
    while (length < kSlotBytes && bytes[length] != 0) ++length;
    bool plainText = true;
    for (std::size_t i = 0; i < length; ++i) plainText = plainText && bytes[i] >= 0x20 && bytes[i] < 0x7F;
    for (std::size_t i = length; i < kSlotBytes; ++i) plainText = plainText && bytes[i] == 0;
    if (plainText) return Json(std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)));
    std::size_t used = kSlotBytes;
    while (used > 0 && bytes[used - 1] == 0) --used;
    std::string hex;
    for (std::size_t i = 0; i < used; ++i) hex += StrPrintf(i == 0 ? "%02X" : " %02X", bytes[i]);
    return Json{{"hex", hex}};
}

FaultSettings FaultsFromJson(const Json& faults) {
    const std::string where = "faults";
    CheckMembers(faults, where,
                 {"failOpen", "failRequests", "unplugAfterRequests", "invalidTemperatureReads",
                  "invalidTemperatureValue", "vendorRequestDelayMs"});
    FaultSettings settings;
    if (faults.contains("failOpen")) settings.failOpen = ParseBool(faults["failOpen"], where + ".failOpen");
    if (faults.contains("failRequests")) {
        const Json& list = faults["failRequests"];
        if (!list.is_array()) Fail(where + ".failRequests", "must be a list of request names");
        for (const Json& item : list) {
            const std::string name = item.is_string() ? item.get<std::string>() : item.dump();
            const auto code = RequestCodeFromName(name);
            if (!code) {
                Fail(where + ".failRequests",
                     "\"" + name + "\" is not descriptor, reset, string, bulkin, bulkout, vendor, anchor or a code");
            }
            settings.failingRequests.insert(*code);
        }
    }
    if (faults.contains("unplugAfterRequests")) {
        settings.unplugAfterRequests = static_cast<std::uint64_t>(ParseInteger(
            faults["unplugAfterRequests"], where + ".unplugAfterRequests", 0, std::numeric_limits<long long>::max()));
    }
    if (faults.contains("invalidTemperatureReads")) {
        const Json& reads = faults["invalidTemperatureReads"];
        if (reads.is_string() && reads.get<std::string>() == "forever") {
            settings.invalidTemperatureReads = kForever;
        } else {
            settings.invalidTemperatureReads =
                static_cast<int>(ParseInteger(reads, where + ".invalidTemperatureReads", 0, 1000000000));
        }
    }
    if (faults.contains("invalidTemperatureValue")) {
        const auto value = static_cast<std::uint32_t>(
            ParseInteger(faults["invalidTemperatureValue"], where + ".invalidTemperatureValue", 0, 0xFFFFFFFFLL));
        if (value != 0 && (value & 0xFFFF) != 0xFFFF) {
            Fail(where + ".invalidTemperatureValue", "an invalid reading is 0 or has 0xFFFF as its low 16 bits");
        }
        settings.invalidTemperatureValue = value;
    }
    if (faults.contains("vendorRequestDelayMs")) {
        settings.vendorRequestDelayMs =
            static_cast<int>(ParseInteger(faults["vendorRequestDelayMs"], where + ".vendorRequestDelayMs", 0, 60000));
    }
    return settings;
}

DeviceConfig DeviceConfigFromJson(const Json& device) {
    std::string where = "device";
    if (device.is_object() && device.contains("index")) where += " " + device["index"].dump();
    CheckMembers(device, where,
                 {"index", "vendorId", "productId", "bcdDevice", "iProduct", "chip", "instrument", "strings", "slots",
                  "fpgaRegisters", "psoc", "psocRegisters", "tec", "lantern", "faults", "eeprom", "jtag",
                  "arrivesAfterMs", "leavesAfterMs", "reconnectMs"});
    for (const char* required : {"index", "vendorId", "productId"}) {
        if (!device.contains(required)) Fail(where, StrPrintf("\"%s\" is missing", required));
    }
    DeviceConfig config;
    config.index = static_cast<int>(ParseInteger(device["index"], where + ".index", 0, 9999));
    config.vendorId = ParseU16(device["vendorId"], where + ".vendorId");
    config.productId = ParseU16(device["productId"], where + ".productId");
    if (device.contains("bcdDevice")) config.bcdDevice = ParseU16(device["bcdDevice"], where + ".bcdDevice");
    if (device.contains("iProduct")) {
        config.iProduct = static_cast<std::uint8_t>(ParseInteger(device["iProduct"], where + ".iProduct", 0, 255));
    }
    if (device.contains("chip")) {
        const std::string chip = ParseText(device["chip"], where + ".chip");
        if (chip == "fx2") {
            config.chip = ChipKind::Fx2;
        } else if (chip == "ezusb") {
            config.chip = ChipKind::Ezusb;
        } else {
            Fail(where + ".chip", "must be \"ezusb\" or \"fx2\"");
        }
    }
    if (device.contains("instrument")) config.instrument = ParseBool(device["instrument"], where + ".instrument");
    if (device.contains("strings")) {
        const Json& strings = device["strings"];
        if (!strings.is_object()) Fail(where + ".strings", "must be an object of index: text");
        for (auto it = strings.begin(); it != strings.end(); ++it) {
            if (!it.key().empty() && it.key()[0] == '_') continue;
            const int index = ParseKey(it.key(), where + ".strings", 255);
            if (index == 0) Fail(where + ".strings", "string 0 is the language list and cannot be given");
            config.strings[index] = ParseText(it.value(), where + ".strings." + it.key());
        }
    }
    if (device.contains("slots")) config.slots = ParseSlots(device["slots"], where + ".slots");
    if (device.contains("fpgaRegisters")) {
        config.fpgaRegisters = ParseRegisterMap(device["fpgaRegisters"], where + ".fpgaRegisters");
    }
    if (device.contains("psocRegisters")) {
        config.psocRegisters = ParseRegisterMap(device["psocRegisters"], where + ".psocRegisters");
    }
    if (device.contains("psoc")) {
        const Json& psoc = device["psoc"];
        const std::string at = where + ".psoc";
        CheckMembers(psoc, at, {"version", "adc", "dac", "boardTemperatureRaw"});
        PsocModel model;
        if (psoc.contains("version")) model.version = ParseU16(psoc["version"], at + ".version");
        if (psoc.contains("adc")) model.adc = ParseU16(psoc["adc"], at + ".adc");
        if (psoc.contains("dac")) model.dac = ParseU16(psoc["dac"], at + ".dac");
        if (psoc.contains("boardTemperatureRaw")) {
            model.boardTemperatureRaw = ParseU16(psoc["boardTemperatureRaw"], at + ".boardTemperatureRaw");
        }
        config.psoc = model;
    }
    if (device.contains("tec")) {
        const Json& tec = device["tec"];
        const std::string at = where + ".tec";
        CheckMembers(tec, at,
                     {"statusBits", "boardTemperature", "temperature", "setpoint", "pidControl", "version", "tecOn",
                      "fanOn"});
        TecModel model;
        if (tec.contains("statusBits")) model.statusBits = ParseWord(tec["statusBits"], at + ".statusBits");
        if (tec.contains("boardTemperature")) {
            model.boardTemperature = ParseSigned16(tec["boardTemperature"], at + ".boardTemperature");
        }
        if (tec.contains("temperature")) model.temperature = ParseSigned16(tec["temperature"], at + ".temperature");
        if (tec.contains("setpoint")) model.setpoint = ParseSigned16(tec["setpoint"], at + ".setpoint");
        if (tec.contains("pidControl")) model.pidControl = ParseSigned16(tec["pidControl"], at + ".pidControl");
        if (tec.contains("version")) model.version = ParseWord(tec["version"], at + ".version");
        if (tec.contains("tecOn")) model.tecOn = ParseBool(tec["tecOn"], at + ".tecOn");
        if (tec.contains("fanOn")) model.fanOn = ParseBool(tec["fanOn"], at + ".fanOn");
        config.tec = model;
    }
    if (device.contains("lantern")) {
        const Json& lantern = device["lantern"];
        const std::string at = where + ".lantern";
        CheckMembers(lantern, at, {"slots", "temperatureRaw", "temperatureSequence", "lightOn", "lightPulsed", "dac"});
        LanternModel model;
        if (lantern.contains("slots")) model.slots = ParseSlots(lantern["slots"], at + ".slots");
        if (lantern.contains("temperatureRaw")) {
            model.temperatureRaw =
                static_cast<std::uint32_t>(ParseInteger(lantern["temperatureRaw"], at + ".temperatureRaw", 0,
                                                        0xFFFFFFFFLL));
        }
        if (lantern.contains("temperatureSequence")) {
            const Json& sequence = lantern["temperatureSequence"];
            const std::string here = at + ".temperatureSequence";
            if (!sequence.is_array()) Fail(here, "must be an array of [count, raw] pairs");
            for (const Json& step : sequence) {
                if (!step.is_array() || step.size() != 2) Fail(here, "must be an array of [count, raw] pairs");
                model.temperatureSequence.emplace_back(
                    static_cast<int>(ParseInteger(step[0], here + ".count", 0, 1000000)),
                    static_cast<std::uint32_t>(ParseInteger(step[1], here + ".raw", 0, 0xFFFFFFFFLL)));
            }
        }
        if (lantern.contains("lightOn")) model.lightOn = ParseBool(lantern["lightOn"], at + ".lightOn");
        if (lantern.contains("lightPulsed")) model.lightPulsed = ParseBool(lantern["lightPulsed"], at + ".lightPulsed");
        if (lantern.contains("dac")) model.dac = ParseU16(lantern["dac"], at + ".dac");
        config.lantern = model;
    }
    if (device.contains("jtag")) {
        const Json& jtag = device["jtag"];
        const std::string at = where + ".jtag";
        CheckMembers(jtag, at, {"idcode", "irLength", "configLength", "configured", "bits", "crc"});
        JtagBenchConfig chain;
        if (!jtag.contains("idcode")) Fail(at, "needs an \"idcode\"");
        chain.device.idcode = static_cast<std::uint32_t>(ParseInteger(jtag["idcode"], at + ".idcode", 0, 0xFFFFFFFFLL));
        if (jtag.contains("irLength")) {
            chain.device.irLength = static_cast<int>(ParseInteger(jtag["irLength"], at + ".irLength",
                                                                  JtagChain::kMinIrLength, JtagChain::kMaxIrLength));
        }
        if (jtag.contains("configLength")) {
            chain.device.configLength = static_cast<std::uint64_t>(
                ParseInteger(jtag["configLength"], at + ".configLength", 0, std::numeric_limits<long long>::max()));
        }
        if (jtag.contains("configured")) chain.state.configured = ParseBool(jtag["configured"], at + ".configured");
        if (jtag.contains("bits")) {
            chain.state.bits = static_cast<std::uint64_t>(
                ParseInteger(jtag["bits"], at + ".bits", 0, std::numeric_limits<long long>::max()));
        }
        if (jtag.contains("crc")) {
            chain.state.crc = static_cast<std::uint32_t>(ParseInteger(jtag["crc"], at + ".crc", 0, 0xFFFFFFFFLL));
        }
        config.jtag = chain;
    }
    if (device.contains("eeprom")) {
        const Json& eeprom = device["eeprom"];
        const std::string at = where + ".eeprom";
        CheckMembers(eeprom, at, {"size", "addressBytes", "pageSize", "writeCycleMs", "contents"});
        EepromConfig model;
        if (eeprom.contains("addressBytes")) {
            model.addressBytes = static_cast<int>(ParseInteger(eeprom["addressBytes"], at + ".addressBytes", 1, 2));
        }
        if (model.addressBytes == 1) model.size = 256;
        if (eeprom.contains("size")) {
            model.size = static_cast<std::uint32_t>(
                ParseInteger(eeprom["size"], at + ".size", 16, model.addressBytes == 1 ? 256 : 65536));
        }
        if (eeprom.contains("pageSize")) {
            model.pageSize = static_cast<std::uint32_t>(ParseInteger(eeprom["pageSize"], at + ".pageSize", 1, 256));
        }
        if (eeprom.contains("writeCycleMs")) {
            model.writeCycleMs =
                static_cast<std::uint32_t>(ParseInteger(eeprom["writeCycleMs"], at + ".writeCycleMs", 0, 100));
        }
        config.eeprom = model;
        if (eeprom.contains("contents")) {
            config.eepromContents = HexBytes(eeprom["contents"], at + ".contents", model.size);
        }
    }
    constexpr long long kMaxMs = 1000LL * 3600 * 24 * 365;
    if (device.contains("arrivesAfterMs")) {
        config.arrivesAfterMs = ParseInteger(device["arrivesAfterMs"], where + ".arrivesAfterMs", 0, kMaxMs);
    }
    if (device.contains("leavesAfterMs")) {
        config.leavesAfterMs = ParseInteger(device["leavesAfterMs"], where + ".leavesAfterMs", 0, kMaxMs);
    }
    if (device.contains("reconnectMs")) config.reconnectMs = ParseReconnectMs(device["reconnectMs"], where);
    if (device.contains("faults")) {
        try {
            config.faults = FaultsFromJson(device["faults"]);
        } catch (const BenchFileError& error) {
            Fail(where, error.what());
        }
    }
    return config;
}

std::unique_ptr<SimBench> LoadBenchFromJson(const Json& document, const std::string& filePath) {
    CheckMembers(document, "bench", {"format", "version", "pacing", "reconnectMs", "devices"});
    if (document.contains("format") && document["format"] != kFormatName) {
        Fail("bench", StrPrintf("\"format\" must be \"%s\"", kFormatName));
    }
    if (document.contains("version") && ParseInteger(document["version"], "bench.version", 0, 1000) != kFormatVersion) {
        Fail("bench", StrPrintf("only version %d is understood", kFormatVersion));
    }
    if (!document.contains("devices") || !document["devices"].is_array()) Fail("bench", "\"devices\" must be a list");

    auto bench = std::make_unique<SimBench>();
    if (document.contains("pacing")) {
        if (!document["pacing"].is_boolean()) Fail("bench", "\"pacing\" must be true or false");
        bench->pacing_ = document["pacing"].get<bool>();
    }
    if (document.contains("reconnectMs")) bench->reconnectMs_ = ParseReconnectMs(document["reconnectMs"], "bench");
    std::lock_guard guard(bench->lock_);
    for (const Json& device : document["devices"]) bench->AddDeviceLocked(DeviceConfigFromJson(device));
    std::lock_guard save(bench->saveLock_);
    bench->document_ = document;
    bench->filePath_ = filePath;
    bench->MarkAllSavedLocked();
    return bench;
}

namespace {

struct JsonTooDeep {};

// Parses with the nesting bound: the parser's callback sees each value's
// depth before it descends further.
Json ParseBoundedJson(const std::string& text) {
    return Json::parse(text, [](int depth, Json::parse_event_t, Json&) {
        if (depth > kMaxJsonDepth) throw JsonTooDeep{};
        return true;
    });
}

}  // namespace

Json ReadBenchDocument(const std::string& path) {
    std::string text;
    switch (ReadFileBounded(path, kMaxJsonFileBytes, text)) {
        case BoundedRead::Ok: break;
        case BoundedRead::TooLarge:
            throw BenchFileError(path + StrPrintf(": the bench file is larger than %zu bytes", kMaxJsonFileBytes));
        case BoundedRead::Missing:
        case BoundedRead::Failed: throw BenchFileError(path + ": cannot open the bench file");
        case BoundedRead::NotAFile:
            throw BenchFileError(path + ": " + BoundedReadProblem(BoundedRead::NotAFile));
    }
    try {
        return ParseBoundedJson(text);
    } catch (const nlohmann::json::exception& error) {
        throw BenchFileError(path + ": not valid JSON: " + error.what());
    } catch (const JsonTooDeep&) {
        throw BenchFileError(path + StrPrintf(": JSON nested deeper than %d levels", kMaxJsonDepth));
    }
}

std::unique_ptr<SimBench> LoadBench(const std::string& nameOrPath) {
    if (nameOrPath == "demo") return LoadBenchFromJson(Json::parse(DemoBenchText()));
    const Json document = ReadBenchDocument(nameOrPath);
    try {
        return LoadBenchFromJson(document, nameOrPath);
    } catch (const BenchFileError& error) {
        throw BenchFileError(nameOrPath + ": " + error.what());
    }
}

}  // namespace spindle::sim
