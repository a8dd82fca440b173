#include "support/XsvfReferencePlayer.h"

#include <algorithm>
#include <array>
#include <deque>

#include "platform/Format.h"

namespace spindle::test {

using sim::TapState;

const char* XsvfKindName(XsvfOutcome::Kind kind) {
    switch (kind) {
        case XsvfOutcome::Kind::Ok: return "ok";
        case XsvfOutcome::Kind::TdoMismatch: return "TDO mismatch";
        case XsvfOutcome::Kind::BadCommand: return "bad command";
        case XsvfOutcome::Kind::Truncated: return "truncated";
    }
    return "?";
}

// Reads a program's fields; every read checks the bytes are there first, so
// a length field cannot make it allocate or read past the end.
class XsvfReader {
public:
    explicit XsvfReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    bool AtEnd() const { return pos_ >= bytes_.size(); }
    std::size_t Pos() const { return pos_; }
    bool U8(std::uint32_t& value) { return Integer(1, value); }
    bool U16(std::uint32_t& value) { return Integer(2, value); }
    bool U32(std::uint32_t& value) { return Integer(4, value); }
    bool Vector(std::size_t bits, Bits& out) {
        const std::size_t count = bits / 8 + (bits % 8 != 0 ? 1 : 0);
        if (bytes_.size() - pos_ < count) return false;
        out.assign(bits, false);
        for (std::size_t i = 0; i < bits; ++i) out[i] = ((bytes_[pos_ + count - 1 - i / 8] >> (i % 8)) & 1u) != 0;
        pos_ += count;
        return true;
    }
    // A zero-terminated string; false when the zero is missing.
    bool Text(std::string& out) {
        const auto end = std::find(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), bytes_.end(), 0);
        if (end == bytes_.end()) return false;
        out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), end);
        pos_ = static_cast<std::size_t>(end - bytes_.begin()) + 1;
        return true;
    }

private:
    bool Integer(std::size_t size, std::uint32_t& value) {
        if (bytes_.size() - pos_ < size) return false;
        value = 0;
        for (std::size_t i = 0; i < size; ++i) value = (value << 8) | bytes_[pos_ + i];
        pos_ += size;
        return true;
    }

    const std::vector<std::uint8_t>& bytes_;
    std::size_t pos_ = 0;
};

namespace {

bool Stable(TapState state) {
    return state == TapState::TestLogicReset || state == TapState::RunTestIdle || state == TapState::PauseDr ||
           state == TapState::PauseIr;
}

std::string Hex(const Bits& bits) {
    std::string text;
    for (std::size_t i = bits.size(); i > 0;) {
        i = i >= 4 ? i - 4 : 0;
        unsigned nibble = 0;
        for (std::size_t k = 0; k < 4 && i + k < bits.size(); ++k) nibble |= (bits[i + k] ? 1u : 0u) << k;
        text += "0123456789ABCDEF"[nibble];
    }
    return text;
}

}  // namespace

bool XsvfReferencePlayer::Clock(bool tms, bool tdi) {
    chain_.SetPins(false, tms, tdi);
    const bool tdo = chain_.Tdo();
    chain_.SetPins(true, tms, tdi);
    chain_.SetPins(false, tms, tdi);
    tap_ = sim::NextTapState(tap_, tms);
    return tdo;
}

void XsvfReferencePlayer::GoTo(TapState target) {
    if (target == TapState::TestLogicReset) {
        // Five cycles with TMS high reach Test-Logic-Reset from any state.
        for (int i = 0; i < 5; ++i) Clock(true, false);
        return;
    }
    if (tap_ == target) return;
    // The shortest TMS sequence: a breadth-first walk over the sixteen states.
    std::array<int, 16> from{};
    std::array<bool, 16> tmsTo{};
    from.fill(-1);
    std::deque<TapState> queue{tap_};
    from[static_cast<int>(tap_)] = static_cast<int>(tap_);
    while (!queue.empty() && from[static_cast<int>(target)] < 0) {
        const TapState state = queue.front();
        queue.pop_front();
        for (bool tms : {false, true}) {
            const TapState next = sim::NextTapState(state, tms);
            if (from[static_cast<int>(next)] >= 0) continue;
            from[static_cast<int>(next)] = static_cast<int>(state);
            tmsTo[static_cast<int>(next)] = tms;
            queue.push_back(next);
        }
    }
    std::vector<bool> path;
    for (auto at = static_cast<int>(target); at != static_cast<int>(tap_); at = from[at]) path.push_back(tmsTo[at]);
    for (auto it = path.rbegin(); it != path.rend(); ++it) Clock(*it, false);
}

Bits XsvfReferencePlayer::Shift(const Bits& tdi, bool exitAtEnd) {
    Bits tdo(tdi.size(), false);
    for (std::size_t i = 0; i < tdi.size(); ++i) tdo[i] = Clock(exitAtEnd && i + 1 == tdi.size(), tdi[i]);
    return tdo;
}

bool XsvfReferencePlayer::Matches(const Bits& tdo, const Bits& expected, std::string* detail) const {
    for (std::size_t i = 0; i < tdo.size() && i < expected.size(); ++i) {
        const bool compared = i >= tdoMask_.size() || tdoMask_[i];
        if (compared && tdo[i] != expected[i]) {
            if (detail != nullptr) {
                *detail = StrPrintf("bit %zu differs: TDO %s, expected %s", i, Hex(tdo).c_str(),
                                    Hex(expected).c_str());
            }
            return false;
        }
    }
    return true;
}

void XsvfReferencePlayer::Finish(TapState endState) {
    if (runTest_ == 0) {
        GoTo(endState);
        return;
    }
    GoTo(TapState::RunTestIdle);
    for (std::uint32_t i = 0; i < runTest_; ++i) Clock(false, false);
}

bool XsvfReferencePlayer::ShiftDrRepeated(const Bits& tdi, std::string* detail) {
    GoTo(TapState::ShiftDr);
    for (std::uint32_t attempt = 0;; ++attempt) {
        const Bits tdo = Shift(tdi, true);  // ends in Exit1-DR
        const bool ok = Matches(tdo, expected_, detail);
        if (ok || attempt >= repeat_) {
            Finish(endDr_);
            return ok;
        }
        // Back into Shift-DR without an update, then shift the value again.
        ++retries_;
        Clock(false, false);  // Pause-DR
        Clock(true, false);   // Exit2-DR
        Clock(false, false);  // Shift-DR
    }
}

XsvfOutcome XsvfReferencePlayer::Run(const std::vector<std::uint8_t>& program) {
    // Each run starts from the defaults: no mask, no expected value, no waits.
    sdrSize_ = 0;
    tdoMask_.clear();
    expected_.clear();
    addressMask_.clear();
    dataMask_.clear();
    repeat_ = 0;
    runTest_ = 0;
    endIr_ = endDr_ = TapState::RunTestIdle;
    retries_ = 0;
    GoTo(TapState::TestLogicReset);
    XsvfReader in(program);
    while (true) {
        const std::size_t offset = in.Pos();
        std::uint32_t command = 0;
        if (!in.U8(command)) {
            return {XsvfOutcome::Kind::Truncated, offset, 0, "the program ends without XCOMPLETE"};
        }
        const auto code = static_cast<std::uint8_t>(command);
        if (code == xsvf::kComplete) return {XsvfOutcome::Kind::Ok, offset, code, {}};
        Failure failure{XsvfOutcome::Kind::Ok, {}};
        if (!Play(code, in, failure)) return {failure.kind, offset, code, failure.detail};
    }
}

bool XsvfReferencePlayer::Play(std::uint8_t command, XsvfReader& in, Failure& failure) {
    const auto truncated = [&] {
        failure = {XsvfOutcome::Kind::Truncated, StrPrintf("command 0x%02X is cut off", command)};
        return false;
    };
    const auto bad = [&](std::string why) {
        failure = {XsvfOutcome::Kind::BadCommand, std::move(why)};
        return false;
    };
    const auto mismatch = [&](std::string why) {
        failure = {XsvfOutcome::Kind::TdoMismatch, std::move(why)};
        return false;
    };
    const auto state = [](std::uint32_t code) { return static_cast<TapState>(code); };
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::uint32_t c = 0;
    Bits tdi;
    Bits tdo;
    std::string detail;

    switch (command) {
        case xsvf::kTdoMask:
            if (!in.Vector(sdrSize_, tdoMask_)) return truncated();
            return true;
        case xsvf::kSir:
        case xsvf::kSir2:
            if (!(command == xsvf::kSir ? in.U8(a) : in.U16(a)) || !in.Vector(a, tdi)) return truncated();
            if (a == 0) return bad("an instruction shift of no bits");
            GoTo(TapState::ShiftIr);
            Shift(tdi, true);
            Finish(endIr_);
            return true;
        case xsvf::kSdr:
            if (!in.Vector(sdrSize_, tdi)) return truncated();
            if (sdrSize_ == 0) return bad("a data shift of no bits");
            return ShiftDrRepeated(tdi, &detail) || mismatch(detail);
        case xsvf::kRunTest:
            if (!in.U32(runTest_)) return truncated();
            return true;
        case xsvf::kRepeat:
            if (!in.U8(repeat_)) return truncated();
            return true;
        case xsvf::kSdrSize:
            if (!in.U32(a)) return truncated();
            sdrSize_ = a;
            return true;
        case xsvf::kSdrTdo:
            if (!in.Vector(sdrSize_, tdi) || !in.Vector(sdrSize_, tdo)) return truncated();
            if (sdrSize_ == 0) return bad("a data shift of no bits");
            expected_ = tdo;
            return ShiftDrRepeated(tdi, &detail) || mismatch(detail);
        case xsvf::kSetSdrMasks:
            if (!in.Vector(sdrSize_, addressMask_) || !in.Vector(sdrSize_, dataMask_)) return truncated();
            return true;
        case xsvf::kSdrInc: {
            const auto masked = [&](const Bits& mask, std::size_t i) { return i < mask.size() && mask[i]; };
            std::size_t dataBits = 0;
            for (std::size_t i = 0; i < sdrSize_; ++i) dataBits += masked(dataMask_, i) ? 1 : 0;
            if (!in.Vector(sdrSize_, tdi) || !in.U8(a)) return truncated();
            std::vector<Bits> data(a);
            for (Bits& d : data) {
                if (!in.Vector(dataBits, d)) return truncated();
            }
            if (sdrSize_ == 0) return bad("a data shift of no bits");
            if (!ShiftDrRepeated(tdi, &detail)) return mismatch(detail);
            for (std::size_t n = 0; n < data.size(); ++n) {
                // Add one to the address field, then put the data into its field.
                for (std::size_t i = 0; i < sdrSize_; ++i) {
                    if (!masked(addressMask_, i)) continue;
                    tdi[i] = !tdi[i];
                    if (tdi[i]) break;  // no carry
                }
                for (std::size_t i = 0, k = 0; i < sdrSize_; ++i) {
                    if (masked(dataMask_, i)) tdi[i] = data[n][k++];
                }
                if (!ShiftDrRepeated(tdi, &detail)) return mismatch(StrPrintf("step %zu: %s", n + 1, detail.c_str()));
            }
            return true;
        }
        case xsvf::kSdrB:
        case xsvf::kSdrC:
        case xsvf::kSdrE:
        case xsvf::kSdrTdoB:
        case xsvf::kSdrTdoC:
        case xsvf::kSdrTdoE: {
            const bool compare = command >= xsvf::kSdrTdoB;
            if (!in.Vector(sdrSize_, tdi) || (compare && !in.Vector(sdrSize_, tdo))) return truncated();
            if (sdrSize_ == 0) return bad("a data shift of no bits");
            // B and C leave the TAP in Shift-DR for the next piece; E ends
            // the shift and goes to the XENDDR state.
            const bool last = command == xsvf::kSdrE || command == xsvf::kSdrTdoE;
            GoTo(TapState::ShiftDr);
            const Bits out = Shift(tdi, last);
            if (last) GoTo(endDr_);
            if (compare && !Matches(out, tdo, &detail)) return mismatch(detail);
            return true;
        }
        case xsvf::kState:
            if (!in.U8(a)) return truncated();
            if (a > 15) return bad(StrPrintf("TAP state %u does not exist", a));
            GoTo(state(a));
            return true;
        case xsvf::kEndIr:
        case xsvf::kEndDr:
            if (!in.U8(a)) return truncated();
            if (a > 1) return bad(StrPrintf("end state %u is neither Run-Test/Idle (0) nor Pause (1)", a));
            if (command == xsvf::kEndIr) {
                endIr_ = a == 1 ? TapState::PauseIr : TapState::RunTestIdle;
            } else {
                endDr_ = a == 1 ? TapState::PauseDr : TapState::RunTestIdle;
            }
            return true;
        case xsvf::kComment:
            if (!in.Text(detail)) return truncated();
            return true;
        case xsvf::kWait:
            if (!in.U8(a) || !in.U8(b) || !in.U32(c)) return truncated();
            if (a > 15 || b > 15) return bad("XWAIT names a TAP state that does not exist");
            GoTo(state(a));
            // Time passes on the chain only as TCK cycles, and only a stable
            // state can be held while clocking.
            if (Stable(state(a))) {
                for (std::uint32_t i = 0; i < c; ++i) Clock(state(a) == TapState::TestLogicReset, false);
            }
            GoTo(state(b));
            return true;
        default: return bad(StrPrintf("unknown command 0x%02X", command));
    }
}

}  // namespace spindle::test
