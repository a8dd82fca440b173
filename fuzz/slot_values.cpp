// The stored values' slot texts, both ways, on a simulated device of every
// family: whatever bytes its slots hold, Get All Values shows them and Save
// All Values with nothing edited gives every slot back byte for byte; an
// edit the row's editor accepts is saved and changes no other slot.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DemoRig.h"
#include "FuzzSupport.h"
#include "device/EzusbDriver.h"
#include "device/Families.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "protocol/AllValues.h"
#include "protocol/AutoNullingInfo.h"
#include "protocol/ValueList.h"
#include "sim/SimBench.h"

namespace {

struct Target {
    int index;
    int family;
};
// One device of every family with stored values on the demo bench.
constexpr Target kTargets[] = {{0, spindle::family::kKestrel},  {0, spindle::family::kLantern},
                               {2, spindle::family::kHeron},    {3, spindle::family::kOsprey},
                               {4, spindle::family::kKestrelPlus}, {5, spindle::family::kHarrier},
                               {6, spindle::family::kFalcon},   {8, spindle::family::kCondor},
                               {9, spindle::family::kIbis},     {11, spindle::family::kWren},
                               {12, spindle::family::kFinch},   {13, spindle::family::kMerlin}};

std::map<int, spindle::sim::SlotBytes> DeviceSlots(spindle::fuzz::DemoRig& rig, const Target& target,
                                                   const spindle::RawSlots& which) {
    std::map<int, spindle::sim::SlotBytes> slots;
    const auto device = rig.bench->Device(target.index);
    for (const auto& [slot, bytes] : which) {
        slots[slot] = target.family == spindle::family::kLantern ? device->CommittedAccessorySlot(slot)
                                                                 : device->Slot(slot);
    }
    return slots;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace spindle;
    static fuzz::DemoRig rig;
    fuzz::ByteReader input(data, size);
    const Target target = kTargets[input.Byte() % std::size(kTargets)];
    const std::uint8_t editRow = input.Byte();
    const std::string editText = input.Text(40);
    const std::string bytes = input.Rest();
    if (bytes.empty()) return 0;
    // The bench logs every request for the tests; one input's are enough.
    rig.bench->Device(target.index)->ClearLogs();

    // Every slot the family has gets the fuzzer's bytes.
    RawSlots slots;
    for (int slot = 0; slot < 64; ++slot) {
        for (int i = 0; i < 15; ++i) slots[slot][i] = static_cast<std::uint8_t>(bytes[(slot * 15 + i) % bytes.size()]);
    }
    SPINDLE_FUZZ_CHECK(RestoreSlots(rig.platform, target.index, target.family, slots).Ok());

    CValueList list;
    CAutoNullingInfo autoNulling;
    std::vector<int> failed;
    RawSlots asRead;
    SPINDLE_FUZZ_CHECK(ReadAllValues(rig.platform, target.index, target.family, {}, list, autoNulling, failed, &asRead).Ok());
    SPINDLE_FUZZ_CHECK(failed.empty() && list.RowCount() > 0);
    const auto before = DeviceSlots(rig, target, asRead);
    for (const auto& [slot, read] : asRead) SPINDLE_FUZZ_CHECK(before.at(slot) == read);

    SPINDLE_FUZZ_CHECK(SaveAllValues(rig.platform, target.index, target.family, list, autoNulling).Ok());
    SPINDLE_FUZZ_CHECK(DeviceSlots(rig, target, asRead) == before);

    // One edit, as the row's editor would take it.
    const int row = editRow % list.RowCount();
    const RowRule rule = list.Rule(row);
    if (rule.slot < 0 || rule.input == RowInput::ShownOnly || !RowInputProblem(rule, editText).empty()) return 0;
    list.SetText(row, CValueList::kDataColumn, editText);
    SPINDLE_FUZZ_CHECK(SaveAllValues(rig.platform, target.index, target.family, list, autoNulling).Ok());
    const auto after = DeviceSlots(rig, target, asRead);
    for (const auto& [slot, value] : before) {
        if (slot != rule.slot) SPINDLE_FUZZ_CHECK(after.at(slot) == value);
    }
    return 0;
}
