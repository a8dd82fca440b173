#include "history/HistoryBrowser.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "history/HistoryRecorder.h"
#include "history/HistoryText.h"
#include "history/Sha256.h"
#include "platform/BoundedFile.h"
#include "platform/Format.h"

namespace spindle {

std::optional<HistoryFilter> HistoryFilterFor(const HistoryCriteria& criteria, std::string& problem) {
    HistoryFilter filter;
    filter.serial = criteria.serial;
    filter.result = criteria.result;
    filter.failedOnly = criteria.failedOnly;
    if (!criteria.since.empty()) {
        static const std::regex kDate(R"(\d{4}-\d{2}-\d{2}([T ]\d{2}:\d{2}(:\d{2}(\.\d+)?)?Z?)?)");
        if (!std::regex_match(criteria.since, kDate)) {
            problem = "\"" + criteria.since + "\" is no UTC date or time (YYYY-MM-DD[THH:MM[:SS]])";
            return std::nullopt;
        }
        // The records' times are "2026-12-01T08:00:00.000Z": compared as text.
        filter.since = criteria.since;
        if (filter.since.size() > 10) filter.since[10] = 'T';
        if (filter.since.back() == 'Z') filter.since.pop_back();
    }
    if (!criteria.image.empty()) {
        static const std::regex kHex("[0-9A-Fa-f]{6,64}");
        std::error_code error;
        if (std::filesystem::is_regular_file(criteria.image, error)) {
            const auto digest = DigestFile(criteria.image);
            if (!digest) {
                problem = "the image " + criteria.image + " cannot be read";
                return std::nullopt;
            }
            filter.imageSha256 = digest->sha256;
        } else if (std::filesystem::exists(criteria.image, error)) {
            // A pipe or a folder named here is a mistake, not an image's name.
            problem = "the image " + criteria.image + " cannot be read: " + BoundedReadProblem(BoundedRead::NotAFile);
            return std::nullopt;
        } else if (std::regex_match(criteria.image, kHex)) {
            filter.imageSha256 = criteria.image;
        } else {
            // A file this station does not have: records of an image of that name.
            filter.imageName = std::filesystem::path(criteria.image).filename().string();
        }
    }
    return filter;
}

namespace {

enum Column : std::size_t { kId, kStarted, kKind, kCommand, kDevice, kSerial, kImage, kSlots, kResult, kProblems,
                            kStation, kOperator };

}  // namespace

const std::vector<std::string>& CHistoryBrowser::Columns() {
    static const std::vector<std::string> columns = {"#",     "Started", "Kind",     "Command", "Device",  "Serial",
                                                     "Image", "Slots",   "Result",   "Problems", "Station", "Operator"};
    return columns;
}

bool CHistoryBrowser::Show(const HistoryFilter& filter, std::string& problem) {
    auto records = recorder_.Query(filter, problem);
    records_ = records ? std::move(*records) : std::vector<HistoryRecord>();
    return records.has_value();
}

std::string CHistoryBrowser::Cell(std::size_t row, std::size_t column) const {
    const HistoryRecord& r = records_.at(row);
    switch (column) {
    case kId: return std::to_string(r.id);
    case kStarted: return r.startedAt;
    case kKind: return HistoryKindText(r.kind);
    case kCommand: return r.command;
    case kDevice: return StrPrintf("Ezusb-%u", r.deviceIndex);
    case kSerial: {
        std::string serial = r.serialBefore.empty() ? "-" : r.serialBefore;
        if (!r.serialAfter.empty() && r.serialAfter != r.serialBefore) serial += "->" + r.serialAfter;
        return serial;
    }
    case kImage: return r.imageName.empty() ? "-" : r.imageName + " " + r.imageSha256.substr(0, 12);
    case kSlots: return r.kind == HistoryKind::Values ? std::to_string(r.slots.size()) : "";
    case kResult: return ShownResult(r) + (r.verified ? ", verified" : "");
    case kProblems: return JoinedText(r.problems);
    case kStation: return r.station;
    case kOperator: return r.operatorName;
    default: return {};
    }
}

std::vector<std::string> CHistoryBrowser::Row(std::size_t row) const {
    std::vector<std::string> cells;
    for (std::size_t column = 0; column < Columns().size(); ++column) cells.push_back(Cell(row, column));
    return cells;
}

std::string CHistoryBrowser::Csv() const { return HistoryCsv(records_); }

bool CHistoryBrowser::ExportCsv(const std::string& path, std::string& problem) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << Csv();
    out.close();
    if (!out) {
        problem = "The record could not be written to " + path + ": " + std::strerror(errno) + ".";
        return false;
    }
    return true;
}

}  // namespace spindle
