#pragma once
// The drive does one long piece of work at a time: the optimize switch (a vendor write
// and a forced shutdown) or its own self-test (minutes of reading the media). One gate
// holds either: a switch is not started while a test runs, nor a test while the switch
// runs. A test counts as running from the start this program sent until the drive's log
// shows it ended, and also when the drive's log shows one that another tool started.

#include <cstdint>

#include "devicecmd/SelfTest.h"

enum class DriveWork : std::uint8_t { None, Switch, SelfTest };

class DriveWorkGate {
public:
    // Takes the gate for work; false, with nothing changed, while other work holds it
    // (a second switch, or a second test, included).
    bool TryBegin(DriveWork work);
    // Gives the gate back; only work that holds it does anything.
    void End(DriveWork work);
    // What the drive's log says now: a test runs there, or none does (a test this program
    // started has then ended).
    void Observe(const devicecmd::SelfTestLog& log);

    DriveWork Holder() const;
    bool Busy() const { return Holder() != DriveWork::None; }

private:
    bool switching_ = false;
    bool selfTestRunning_ = false;
};

// Holds the gate for one piece of work for its scope, when it got it.
class DriveWorkTicket {
public:
    DriveWorkTicket(DriveWorkGate& gate, DriveWork work) : gate_(gate), work_(work), held_(gate.TryBegin(work)) {}
    DriveWorkTicket(const DriveWorkTicket&) = delete;
    DriveWorkTicket& operator=(const DriveWorkTicket&) = delete;
    ~DriveWorkTicket() {
        if (held_) gate_.End(work_);
    }
    bool Held() const { return held_; }
    // The work goes on past this scope (a test the drive now runs on its own).
    void Keep() { held_ = false; }

private:
    DriveWorkGate& gate_;
    DriveWork work_;
    bool held_;
};
