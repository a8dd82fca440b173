#pragma once
#include <span>
#include <string>
#include <vector>

#include "device/Families.h"
#include "protocol/values/Codec.h"

namespace spindle {

// The catalogue's section markers: indexes into the label catalogue.
struct CatalogueMarkers {
    int commonFirst = 0, commonLast = 0;
    int extraFirst = 0, extraLast = 0;
    int fpgaFirst = 0, fpgaLast = 0;
    int heronFirst = 0, heronLast = 0;
    int lanternFirst = 0, lanternLast = 0;
    int psoc = 0, reserved = 0;
};

// The 102 row labels, in catalogue order, and where each section lies.
const std::vector<std::string>& CatalogueLabels();
const CatalogueMarkers& Markers();

// One stored-value slot of a layout: where it lives, the row that shows it
// and its codec. The rule says whether the row is editable (ShownOnly: it
// is not; its bytes go back as read).
struct SlotEntry {
    int slot = 0;
    bool accessory = false;  // an accessory slot of the light source
    int label = -1;          // catalogue index of its row; -1: kept but not shown
    int image = 0;           // the row's small image
    RowRule rule;
    // For a slot kept but not shown: the catalogue label whose editor's lock
    // holds for it when a restore writes it; -1 for a shown slot.
    int keptUnder = -1;
};

// The slots of a layout in the order they are read and written (and their
// rows shown). `extra`: the Kestrel+ and Harrier slots 17 and 18.
const std::vector<SlotEntry>& LayoutSlots(ValueLayout layout);
const std::vector<SlotEntry>& ExtraSlots();
// The family's slots: its layout's, then the extra ones if it has them.
std::vector<SlotEntry> FamilySlots(int familyCode);
// Whether a layout's list opens with the firmware version row.
inline bool ShowsFirmwareVersion(ValueLayout layout) {
    return layout == ValueLayout::Common || layout == ValueLayout::Heron || layout == ValueLayout::Merlin;
}

}  // namespace spindle
