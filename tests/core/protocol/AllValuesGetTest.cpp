// Get All Values on the simulated demo bench: rows per family, the Falcon
// PSOC pause, failed reads and busy devices.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AllValuesRig.h"
#include "platform/CommandIds.h"
#include "platform/Format.h"
#include "protocol/AllValues.h"
#include "protocol/StoredValues.h"

namespace spindle {
namespace {

using test::AllValuesRig;
namespace demo = test::demo;

std::vector<std::string> CatalogueLabels(AllValuesRig& rig, int first, int last) {
    CStoredValues values(rig.platform);
    return {values.Labels().begin() + first, values.Labels().begin() + last + 1};
}

bool Opened(AllValuesRig& rig, int index) {
    const std::string open = "OPEN \\\\.\\Ezusb-" + std::to_string(index);
    for (const auto& line : rig.usb.Lines()) {
        if (line.rfind(open, 0) == 0) return true;
    }
    return false;
}

TEST(AllValuesGetTest, KestrelPlusWithFpgaAccessShowsTheRegistersItReads) {
    AllValuesRig rig;
    rig.frame.flags.fpgaRegistersUnlocked = 1;
    rig.Device(demo::kKestrelPlus).SetFpgaRegister(0x68, 0x1234);
    rig.Select(demo::kKestrelPlus, family::kKestrelPlus);

    const auto labels = rig.Labels();
    ASSERT_GT(labels.size(), 22u);
    EXPECT_EQ(labels[20], " 0x00 - Master Clock");
    EXPECT_EQ(labels[21], " 0x04 - FPGA Firmware Version");
    EXPECT_EQ(labels.back(), " 0x68 - Read Max Saturation Value");
    EXPECT_EQ(rig.Value(static_cast<int>(labels.size()) - 1), "0x1234 (4660)");
    EXPECT_EQ(std::count(labels.begin(), labels.end(), " 0x7c - Read FPGA Programmed Data"), 0);
}

TEST(AllValuesGetTest, FalconWithFpgaAccessStopsAtTheShutterRowThenShowsThePsocVersion) {
    AllValuesRig rig;
    rig.frame.flags.fpgaRegistersUnlocked = 1;
    rig.frame.flags.extraFalconUnlocked = 1;
    rig.usb.Clear();
    rig.Select(demo::kFalcon, family::kFalcon);

    const auto labels = rig.Labels();
    ASSERT_GE(labels.size(), 20u);
    EXPECT_EQ(std::vector<std::string>(labels.begin(), labels.begin() + 18), CatalogueLabels(rig, 0, 17));
    EXPECT_EQ(std::vector<std::string>(labels.begin() + 18, labels.end() - 1), CatalogueLabels(rig, 20, 38));
    EXPECT_EQ(labels[labels.size() - 2], " 0x5c - Shutter Toggle Enable");
    EXPECT_EQ(labels.back(), "  PSOC Firmware Version");
    EXPECT_EQ(rig.Value(static_cast<int>(labels.size()) - 1), "0.10.4");  // the demo PSOC's 0x0104
    EXPECT_TRUE(rig.ui.buttonVisible[cmd::kPsocDiags]);
    EXPECT_TRUE(rig.ui.buttonVisible[cmd::kLinearityCoefs]);

    // The PSOC version is asked twice, one second apart; the second answer is kept.
    const auto lines = rig.usb.Lines();
    std::vector<std::size_t> psocRequests;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find(": 69 10 02 01 03") != std::string::npos) psocRequests.push_back(i);
    }
    ASSERT_EQ(psocRequests.size(), 2u);
    std::vector<std::string> between(lines.begin() + static_cast<long>(psocRequests[0]) + 1,
                                     lines.begin() + static_cast<long>(psocRequests[1]));
    std::vector<std::string> sleeps;
    for (const auto& line : between) {
        if (line.rfind("SLEEP", 0) == 0) sleeps.push_back(line);
    }
    EXPECT_EQ(sleeps, (std::vector<std::string>{"SLEEP 10", "SLEEP 10", "SLEEP 1000"}));
    EXPECT_EQ(between.back(), "SLEEP 1000");
}

// The slot loops feed the frame's progress to their end (a mark, step:done/
// total=percent, at each step and quarter), and the message pane shows what
// the progress says. Steps: 0 reading, 1 a save's reads, 2 writing, 3 done.
TEST(AllValuesGetTest, GetAndSaveFeedTheProgressSlotBySlotToTheEnd) {
    AllValuesRig rig;
    const auto marks = [&rig] {
        std::string text;
        for (const ProgressPoint& at : rig.frame.valuesProgress.TakeMarks()) {
            text += StrPrintf("%d:%u/%u=%d ", at.step, at.done, at.total, at.percent);
        }
        return text;
    };
    const auto shown = [&rig](const std::string& text) {
        return std::count(rig.ui.messagePaneLog.begin(), rig.ui.messagePaneLog.end(), text) == 1;
    };
    rig.Select(demo::kOsprey, family::kOsprey);
    const std::string label = rig.frame.SelectedLabel();
    EXPECT_EQ(marks(), "0:0/17=0 0:5/17=29 0:9/17=52 0:13/17=76 0:17/17=100 3:0/0=100 ");
    EXPECT_TRUE(shown("Reading " + label + ": slot 17 of 17"));
    // A save's reads weigh little beside its writes of 210 ms each.
    rig.frame.OnSaveAllValues();
    EXPECT_EQ(marks(), "1:0/17=0 1:5/17=1 1:9/17=2 1:13/17=3 1:17/17=4 "
                       "2:0/17=4 2:5/17=32 2:9/17=55 2:13/17=77 2:17/17=100 3:0/0=100 ");
    EXPECT_TRUE(shown("Saving " + label + ": reading slot 17 of 17") && shown("Saving " + label + ": slot 17 of 17"));
    EXPECT_EQ(SlotProgressText(rig.frame.valuesProgress), "") << "nothing left for the command line's line";
}

TEST(AllValuesGetTest, FailedSlotReadsShowNothingOfAnotherSlotOrDevice) {
    AllValuesRig rig;
    rig.Select(demo::kKestrel, family::kKestrel);
    ASSERT_EQ(rig.Value(1), "KES08811");

    // The Osprey leaves its serial and its second wavelength coefficient
    // unanswered: those rows say they were not read (not an empty serial or
    // a zero that looks real), the neighbours show their own.
    rig.FailSlotReads(demo::kOsprey, {0, 3});
    rig.Select(demo::kOsprey, family::kOsprey);
    ASSERT_EQ(rig.frame.List().RowCount(), 18);
    EXPECT_EQ(rig.Value(1), "(not read)");
    EXPECT_EQ(rig.Value(3), "4.5210800e-01");
    EXPECT_EQ(rig.Value(4), "(not read)");
    EXPECT_EQ(rig.Value(5), "1.3300870e-09") << "slot 4 of the Osprey";
    EXPECT_EQ(rig.Value(15), "5");
    // Such a list cannot be saved: it would store the zeros.
    EXPECT_FALSE(rig.frame.listSource.valid);
    rig.frame.OnSaveAllValues();
    ASSERT_EQ(rig.ui.Messages().size(), 1u);
    EXPECT_NE(rig.ui.Messages()[0].text.find("could not be read"), std::string::npos);
    EXPECT_TRUE(rig.WrittenSlots(demo::kOsprey).empty());
}

TEST(AllValuesGetTest, BusyDeviceLeavesTheListAndSaveRefuses) {
    AllValuesRig rig;
    rig.Select(demo::kOsprey, family::kOsprey);
    const auto rows = rig.frame.List().Rows();
    rig.usb.Clear();

    rig.frame.jobBusy[demo::kWren].store(1);
    rig.Select(demo::kWren, family::kWren);
    EXPECT_EQ(rig.frame.List().Rows().size(), rows.size());
    EXPECT_EQ(rig.Value(1), "OSP05521");
    EXPECT_FALSE(Opened(rig, demo::kWren));
    EXPECT_EQ(rig.ui.waitCursorDepth, 0);

    rig.frame.OnSaveAllValues();
    rig.frame.jobBusy[demo::kWren].store(0);
    rig.frame.OnSaveAllValues();
    const auto messages = rig.ui.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].text.find("being programmed"), std::string::npos);
    EXPECT_NE(messages[1].text.find("read from another device"), std::string::npos);
    for (const auto& message : messages) {
        EXPECT_EQ(message.title, "Spindle");
        EXPECT_EQ(message.style & 0xF0u, mb::kIconWarning);
    }
    EXPECT_FALSE(Opened(rig, demo::kWren));
    EXPECT_TRUE(rig.WrittenSlots(demo::kWren).empty());
}

}  // namespace
}  // namespace spindle
