#pragma once
#include <string>

namespace spindle {

// The animated picture control a page shows (the Ibis page's turning fan):
// it loads an animated GIF from the program's resources by type and number,
// says whether that worked, plays the frames once started and stops on
// request. The front end supplies it; without one nothing loads.
class IAnimatedPicture {
public:
    virtual ~IAnimatedPicture() = default;
    virtual bool Load(const std::string& resourceType, int resourceId) = 0;
    virtual void Play() = 0;
    virtual void Stop() = 0;
};

// The picture of a page no front end draws: loading fails.
class CNoPicture final : public IAnimatedPicture {
public:
    bool Load(const std::string&, int) override { return false; }
    void Play() override {}
    void Stop() override {}
};

}  // namespace spindle
