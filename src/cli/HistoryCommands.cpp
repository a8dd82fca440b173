// spindle-cli history: the production record, filtered, as text, JSON or CSV.
#include <iostream>

#include "CliOutput.h"
#include "Commands.h"
#include "JsonText.h"
#include "history/HistoryBrowser.h"
#include "history/HistoryText.h"

namespace spindle::cli {

namespace {

OrderedJson RecordJson(const HistoryRecord& r) {
    OrderedJson slots = OrderedJson::array();
    for (const SlotChange& change : r.slots) {
        slots.push_back({{"area", change.accessory ? "accessory" : "info"},
                         {"slot", change.slot},
                         {"before", change.before ? OrderedJson(HexBytes(*change.before)) : OrderedJson(nullptr)},
                         {"after", HexBytes(change.after)},
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

}  // namespace

int RunHistory(const GlobalOptions& options, const HistoryOptions& history) {
    std::string problem;
    const auto filter = HistoryFilterFor({history.serial, history.image, history.since, std::nullopt, history.failed},
                                         problem);
    if (!filter) {
        std::cerr << "spindle-cli: " << problem << "\n";
        return kExitUsage;
    }

    std::unique_ptr<CCliSession> session;
    const int status = CCliSession::Open(options, false, session);
    if (status != kExitOk) return status;
    session->StartUp();
    CHistoryBrowser browser(session->Frame().history);
    if (!browser.Show(*filter, problem)) {
        session->Ui().Error(problem);
        return kExitFailed;
    }
    if (history.csv) {
        std::cout << browser.Csv();
    } else if (options.json) {
        OrderedJson list = OrderedJson::array();
        for (const HistoryRecord& record : browser.Records()) list.push_back(RecordJson(record));
        PrintJson({{"records", list}});
    } else {
        for (std::size_t row = 0; row < browser.Records().size(); ++row) {
            std::string line;
            for (const std::string& cell : browser.Row(row)) line += (line.empty() ? "" : "\t") + cell;
            std::cout << line << '\n';
        }
    }
    return session->ExitStatus();
}

}  // namespace spindle::cli
