// spindle-cli history: the production record, filtered, as text, JSON or CSV.
#include <filesystem>
#include <iostream>
#include <regex>

#include "CliOutput.h"
#include "Commands.h"
#include "JsonText.h"
#include "history/HistoryText.h"
#include "history/Sha256.h"
#include "platform/Format.h"

namespace spindle::cli {

namespace {

std::string HexText(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) text += StrPrintf("%02x", b);
    return text;
}

OrderedJson RecordJson(const HistoryRecord& r) {
    OrderedJson slots = OrderedJson::array();
    for (const SlotChange& change : r.slots) {
        slots.push_back({{"area", change.accessory ? "accessory" : "info"},
                         {"slot", change.slot},
                         {"before", change.before ? OrderedJson(HexText(*change.before)) : OrderedJson(nullptr)},
                         {"after", HexText(change.after)},
                         {"written", change.written}});
    }
    auto optional = [](const std::string& text) { return text.empty() ? OrderedJson(nullptr) : OrderedJson(JsonText(text)); };
    return {{"id", r.id},
            {"kind", HistoryKindText(r.kind)},
            {"command", JsonText(r.command)},
            {"started", r.startedAt},
            {"ended", optional(r.endedAt)},
            {"station", JsonText(r.station)},
            {"operator", JsonText(r.operatorName)},
            {"backend", JsonText(r.backend)},
            {"device", r.deviceIndex},
            {"familyCode", r.family},
            {"serialBefore", JsonText(r.serialBefore)},
            {"serialAfter", optional(r.serialAfter)},
            {"chip", r.chip},
            {"image", optional(r.imageName)},
            {"imageSize", r.imageSize < 0 ? OrderedJson(nullptr) : OrderedJson(r.imageSize)},
            {"imageSha256", optional(r.imageSha256)},
            {"bytesWritten", r.bytesWritten},
            {"verified", r.verified},
            {"result", ShownResult(r)},
            {"problems", [&] {
                 OrderedJson list = OrderedJson::array();
                 for (const std::string& p : r.problems) list.push_back(JsonText(p));
                 return list;
             }()},
            {"durationMs", r.durationMs < 0 ? OrderedJson(nullptr) : OrderedJson(r.durationMs)},
            {"backup", optional(r.backupPath)},
            {"slots", slots}};
}

std::string RecordLine(const HistoryRecord& r) {
    std::string serial = r.serialBefore.empty() ? "-" : r.serialBefore;
    if (!r.serialAfter.empty() && r.serialAfter != r.serialBefore) serial += "->" + r.serialAfter;
    std::string line = StrPrintf("%lld\t%s\t%s\t%s\tEzusb-%u\t%s", static_cast<long long>(r.id), r.startedAt.c_str(),
                                 HistoryKindText(r.kind), r.command.c_str(), r.deviceIndex, serial.c_str());
    line += "\t" + (r.imageName.empty() ? std::string("-")
                                        : r.imageName + " " + r.imageSha256.substr(0, 12));
    if (r.kind == HistoryKind::Values) line += StrPrintf("\t%zu slots", r.slots.size());
    line += "\t" + ShownResult(r);
    if (r.verified) line += ", verified";
    for (const std::string& problem : r.problems) line += "\t" + problem;
    return line;
}

}  // namespace

int RunHistory(const GlobalOptions& options, const HistoryOptions& history) {
    HistoryFilter filter;
    filter.serial = history.serial;
    filter.failedOnly = history.failed;
    if (!history.since.empty()) {
        static const std::regex kDate(R"(\d{4}-\d{2}-\d{2}([T ]\d{2}:\d{2}(:\d{2}(\.\d+)?)?Z?)?)");
        if (!std::regex_match(history.since, kDate)) {
            std::cerr << "spindle-cli: --since takes a UTC date or time, YYYY-MM-DD[THH:MM[:SS]], not \""
                      << history.since << "\"\n";
            return kExitUsage;
        }
        filter.since = history.since;
        if (filter.since.size() > 10) filter.since[10] = 'T';
        if (filter.since.back() == 'Z') filter.since.pop_back();
    }
    if (!history.image.empty()) {
        static const std::regex kHex("[0-9A-Fa-f]{6,64}");
        std::error_code error;
        if (std::filesystem::is_regular_file(history.image, error)) {
            const auto digest = DigestFile(history.image);
            if (!digest) {
                std::cerr << "spindle-cli: the image " << history.image << " cannot be read\n";
                return kExitFailed;
            }
            filter.imageSha256 = digest->sha256;
        } else if (std::regex_match(history.image, kHex)) {
            filter.imageSha256 = history.image;
        } else {
            // A file this station does not have: records of an image of that name.
            filter.imageName = std::filesystem::path(history.image).filename().string();
        }
    }

    std::unique_ptr<CCliSession> session;
    const int status = CCliSession::Open(options, false, session);
    if (status != kExitOk) return status;
    session->StartUp();
    std::string problem;
    const auto records = session->Frame().history.Query(filter, problem);
    if (!records) {
        session->Ui().Error(problem);
        return kExitFailed;
    }
    if (history.csv) {
        std::cout << HistoryCsv(*records);
    } else if (options.json) {
        OrderedJson list = OrderedJson::array();
        for (const HistoryRecord& record : *records) list.push_back(RecordJson(record));
        PrintJson({{"records", list}});
    } else {
        for (const HistoryRecord& record : *records) std::cout << RecordLine(record) << '\n';
    }
    return session->ExitStatus();
}

}  // namespace spindle::cli
