#pragma once

namespace spindle {

class IEzusbDriver;
class IClock;
class IDebugTrace;
class IUserInterface;
class ISlotJournal;

// The ports one running system uses, handed to every core object that needs
// the outside world. The front end (or a test) owns the implementations and
// keeps them alive for as long as the core objects that use them.
struct Platform {
    IEzusbDriver& driver;
    IClock& clock;
    IDebugTrace& trace;
    IUserInterface& ui;
    // Told of every stored-value slot read and write (null: nobody listens).
    ISlotJournal* slotJournal = nullptr;
};

}  // namespace spindle
