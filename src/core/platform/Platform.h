#pragma once

namespace spindle {

class IEzusbDriver;
class IClock;
class IDebugTrace;
class IUserInterface;

// The ports one running system uses, handed to every core object that needs
// the outside world. The front end (or a test) owns the implementations and
// keeps them alive for as long as the core objects that use them.
struct Platform {
    IEzusbDriver& driver;
    IClock& clock;
    IDebugTrace& trace;
    IUserInterface& ui;
};

}  // namespace spindle
