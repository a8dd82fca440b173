#pragma once
#include <memory>
#include <string>
#include <vector>

#include "device/Families.h"
#include "tools/CondorPsocPage.h"
#include "tools/FalconExtrasPage.h"
#include "tools/IbisPsocPage.h"

namespace spindle {

// "PSOC Diags.": a property sheet that owns one page of each kind and shows
// exactly the one of the device's family (9 Ibis, 10 Falcon, 11 Condor).
class CSpecPropSheet final : public CDialogModel {
public:
    static constexpr int kDialogId = 0x5350;  // a sheet has no template of its own
    CSpecPropSheet(Platform& platform, std::string caption, IAnimatedPicture* picture = nullptr)
        : caption_(std::move(caption)), falcon_(platform), condor_(platform), ibis_(platform, picture) {}

    int DialogId() const override { return kDialogId; }
    std::string Title() const override { return caption_; }

    // The page of the family, given the handle; none for any other family.
    // Returns the page added, or null.
    CPsocPage* AddPage(DeviceHandle handle, int familyCode);

    const std::vector<CPsocPage*>& Pages() const { return pages_; }
    int startPage = 0;

    CFalconExtrasPage& Falcon() { return falcon_; }
    CCondorPsocPage& Condor() { return condor_; }
    CIbisPsocPage& Ibis() { return ibis_; }

private:
    CPsocPage* PageOf(PsocPage kind);

    std::string caption_;
    CFalconExtrasPage falcon_;
    CCondorPsocPage condor_;
    CIbisPsocPage ibis_;
    std::vector<CPsocPage*> pages_;
};

}  // namespace spindle
