#include "app/Station.h"

#include "app/MainFrame.h"
#include "device/EzusbDriver.h"
#include "device/Families.h"
#include "inventory/Classification.h"
#include "platform/Format.h"
#include "programming/EepromImage.h"
#include "programming/XsvfFile.h"

namespace spindle {

namespace {

std::string FamilyModel(std::uint32_t family) {
    for (const ClassificationRow& row : ClassificationTable()) {
        if (row.family == static_cast<int>(family)) return ModelName(row);
    }
    return StrPrintf("family %u", family);
}

}  // namespace

CStation::CStation(CMainFrame& frame, StationOptions options) : frame_(frame), options_(std::move(options)) {}

CStation::~CStation() = default;

Outcome CStation::Start() {
    Outcome outcome = frame_.LoadEepromImage(options_.imagePath, image_);
    if (!outcome.Ok()) return outcome;
    // Nobody stands by to answer for each device: an image made for the
    // other chip generation is refused once, here.
    const ChipGeneration chip = FamilyOf(static_cast<int>(options_.family)).chip;
    const auto first = static_cast<std::uint8_t>((*image_)[0]);
    if (!BootImageFits(ClassifyBootImage(static_cast<std::uint32_t>(image_->size()), first), chip)) {
        outcome.Refuse(StrPrintf("%s is not a boot image for the %s chip of a %s (its first byte is 0x%02X)",
                                 options_.imagePath.c_str(), chip == ChipGeneration::Fx2 ? "EZ-USB FX2" : "EZ-USB",
                                 FamilyModel(options_.family).c_str(), first));
        return outcome;
    }
    if (!options_.xsvfPath.empty()) {
        if (!FamilyOf(static_cast<int>(options_.family)).programsFpga) {
            outcome.Refuse("a " + FamilyModel(options_.family) + " has no programmable logic to program");
            return outcome;
        }
        std::string bytes;
        const XsvfCheck check = CheckXsvfFile(options_.xsvfPath, bytes);
        if (!check.ok) {
            outcome.Refuse(options_.xsvfPath + " is not an XSVF file that can be played: " + check.problem);
            return outcome;
        }
        xsvf_ = std::make_shared<const std::string>(std::move(bytes));
    }
    started_ = true;
    outcome.Done("start the station");
    return outcome;
}

std::vector<std::string> CStation::Tick(std::uint64_t nowMs) {
    std::vector<std::string> lines;
    if (!started_) return lines;
    CollectResults(lines);
    const std::uint64_t generation = frame_.GetPlatform().driver.BusGeneration();
    if (!scanned_ || generation != generation_ || (generation == 0 && nowMs - lastScanMs_ >= kRescanMs)) {
        generation_ = generation;
        lastScanMs_ = nowMs;
        Scan();
        TakeArrivals(lines);
    }
    return lines;
}

void CStation::CollectResults(std::vector<std::string>& lines) {
    for (auto& [index, tile] : tiles_) {
        if (tile.view.state != StationState::Programming) continue;
        JobEntry& entry = frame_.jobs[index];
        if (!entry.finished.load(std::memory_order_acquire)) {
            const JobSnapshot job = frame_.jobs.Snapshot(index);
            tile.view.phase = job.Phase();
            tile.view.percent = job.at.percent;
            tile.view.secondsLeft = entry.secondsLeft.load(std::memory_order_relaxed);
            continue;
        }
        const JobResult& result = entry.result;
        if (!result.Ok()) {
            Finish(tile, false, result.Problems().empty() ? "failed" : result.Problems().front(), lines);
        } else if (tile.view.step == JobKind::Eeprom && xsvf_) {
            if (!StartStep(tile, JobKind::Fpga)) Finish(tile, false, "the FPGA job could not be started", lines);
        } else {
            Finish(tile, true, "came back as " + result.cameBackAs, lines);
        }
    }
}

void CStation::Scan() {
    scanned_ = true;
    ScanDevices(frame_.GetPlatform(), frame_.jobBusy, records_, tree_);
    // A device done with that is no longer there was unplugged: its tile
    // goes, and the device is new when it comes again. So is another device
    // at its index; one that answers no serial (a failed job leaves the
    // loader running in it) is still the one that failed.
    for (auto it = tiles_.begin(); it != tiles_.end();) {
        const Tile& tile = it->second;
        bool there = tile.view.state == StationState::Programming;
        for (const DeviceRecord& record : records_) {
            there = there || (record.family != 0 && record.index == it->first &&
                              (record.serial.empty() || record.serial == tile.record.serial));
        }
        it = there ? std::next(it) : tiles_.erase(it);
    }
}

void CStation::TakeArrivals(std::vector<std::string>& lines) {
    for (const DeviceRecord& record : records_) {
        if (!Taking()) return;
        if (record.family != options_.family || tiles_.count(record.index) != 0) continue;
        Tile& tile = tiles_[record.index];
        tile.record = record;
        tile.view.deviceIndex = record.index;
        tile.view.serial = record.serial;
        ++taken_;
        if (!StartStep(tile, JobKind::Eeprom)) Finish(tile, false, "the EEPROM job could not be started", lines);
    }
}

bool CStation::StartStep(Tile& tile, JobKind step) {
    tile.view.step = step;
    tile.view.phase = JobPhase::Starting;
    tile.view.percent = 0;
    bool started = false;
    if (step == JobKind::Fpga) {
        FpgaJobOptions options;
        options.xsvf = xsvf_;
        options.confirm = true;
        started = frame_.StartFpgaJob(tile.record, options_.xsvfPath, options).Ok();
    } else {
        EepromJobOptions options;
        options.image = image_;
        options.imageChecked = true;
        options.confirm = true;
        started = frame_.StartEepromJob(tile.record, options_.imagePath, options).Ok();
    }
    // The station reports its jobs: marked reported from their start, they
    // are never collected for the frame's completion boxes, whichever tick
    // (the window's countdown or the station's) sees their end first.
    if (started) frame_.jobs[tile.record.index].reported.store(true, std::memory_order_release);
    return started;
}

void CStation::Finish(Tile& tile, bool passed, const std::string& detail, std::vector<std::string>& lines) {
    tile.view.state = passed ? StationState::Passed : StationState::Failed;
    tile.view.detail = detail;
    tile.view.secondsLeft = 0;
    ++(passed ? passed_ : failed_);
    std::string tally = StrPrintf("%d passed, %d failed", passed_, failed_);
    if (options_.count > 0) tally += StrPrintf(", of %d", options_.count);
    lines.push_back(StrPrintf("Ezusb-%u %s %s: %s, %s (%s)", tile.view.deviceIndex,
                              FamilyModel(options_.family).c_str(), tile.view.serial.c_str(),
                              passed ? "PASS" : "FAIL", detail.c_str(), tally.c_str()));
}

bool CStation::Taking() const { return started_ && !stopping_ && (options_.count == 0 || taken_ < options_.count); }

void CStation::Stop() { stopping_ = true; }

bool CStation::Programming() const {
    for (const auto& [index, tile] : tiles_) {
        if (tile.view.state == StationState::Programming) return true;
    }
    return false;
}

bool CStation::Finished() const { return !Taking() && !Programming(); }

bool CStation::AllPassed() const {
    return Finished() && options_.count > 0 && passed_ == options_.count;
}

StationSnapshot CStation::Snapshot() const {
    StationSnapshot snapshot;
    for (const auto& [index, tile] : tiles_) snapshot.tiles.push_back(tile.view);
    snapshot.taken = taken_;
    snapshot.passed = passed_;
    snapshot.failed = failed_;
    snapshot.count = options_.count;
    snapshot.stopping = stopping_;
    snapshot.finished = Finished();
    return snapshot;
}

}  // namespace spindle
