#include "tools/PsocSheet.h"

#include "device/Families.h"

namespace spindle {

CPsocPage* CSpecPropSheet::PageOf(PsocPage kind) {
    switch (kind) {
        case PsocPage::Ibis: return &ibis_;
        case PsocPage::Falcon: return &falcon_;
        case PsocPage::Condor: return &condor_;
        case PsocPage::None: break;
    }
    return nullptr;
}

CPsocPage* CSpecPropSheet::AddPage(DeviceHandle handle, int familyCode) {
    // The family table says which page a family has.
    CPsocPage* page = PageOf(FamilyOf(familyCode).psocPage);
    if (page == nullptr) return nullptr;
    page->SetDevice(handle);
    pages_.push_back(page);
    return page;
}

}  // namespace spindle
