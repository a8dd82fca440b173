#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/chip/JtagChain.h"
#include "support/XsvfWriter.h"

namespace spindle::test {

class XsvfReader;

struct XsvfOutcome {
    enum class Kind { Ok, TdoMismatch, BadCommand, Truncated };
    Kind kind = Kind::Ok;
    std::size_t offset = 0;     // first byte of the failing command (of XCOMPLETE when Ok)
    std::uint8_t command = 0;   // its code
    std::string detail;

    bool Ok() const { return kind == Kind::Ok; }
};
const char* XsvfKindName(XsvfOutcome::Kind kind);

// Plays an XSVF program into a JtagChain by its pins: for every TCK cycle it
// sets TMS and TDI with TCK low, reads TDO, raises TCK and lowers it again.
// It starts by resetting the TAP (five cycles with TMS high). XRUNTEST and
// XWAIT counts are TCK cycles, the only time an emulated chain knows. A
// program stops at XCOMPLETE; one that ends without it is truncated, so a
// cut-off file never passes. The whole of a command is read before any of it
// is played, so a cut-off command changes nothing on the chain.
class XsvfReferencePlayer {
public:
    explicit XsvfReferencePlayer(sim::JtagChain& chain) : chain_(chain) {}

    XsvfOutcome Run(const std::vector<std::uint8_t>& program);

    // TDO comparisons repeated after a mismatch (XREPEAT), in the last run.
    std::size_t Retries() const { return retries_; }
    sim::TapState Tap() const { return tap_; }

private:
    struct Failure {
        XsvfOutcome::Kind kind;
        std::string detail;
    };

    bool Clock(bool tms, bool tdi);
    void GoTo(sim::TapState target);
    Bits Shift(const Bits& tdi, bool exitAtEnd);
    bool Matches(const Bits& tdo, const Bits& expected, std::string* detail) const;
    void Finish(sim::TapState endState);
    // XSDR, XSDRTDO and each XSDRINC shift: compare with the expected value
    // and retry up to XREPEAT times through Pause-DR.
    bool ShiftDrRepeated(const Bits& tdi, std::string* detail);
    bool Play(std::uint8_t command, XsvfReader& in, Failure& failure);

    sim::JtagChain& chain_;
    sim::TapState tap_ = sim::TapState::TestLogicReset;
    std::size_t sdrSize_ = 0;
    Bits tdoMask_;          // empty: compare every bit
    Bits expected_;         // the last XSDRTDO's value; empty: none given
    Bits addressMask_;
    Bits dataMask_;
    std::uint32_t repeat_ = 0;
    std::uint32_t runTest_ = 0;
    sim::TapState endIr_ = sim::TapState::RunTestIdle;
    sim::TapState endDr_ = sim::TapState::RunTestIdle;
    std::size_t retries_ = 0;
};

}  // namespace spindle::test
