#pragma once
// The optimize switch and the drive table it works from. The switch's boxes run message
// loops, and inside them a second press of the switch and device changes arrive. One
// switch runs at a time: a press while it runs does nothing. A device change that comes
// while it runs waits for its end and is then followed once, so the record the switch
// holds stays valid until it is done and the panel still catches up afterwards.

#include <cstdint>
#include <functional>

class SwitchGate {
public:
    // Runs the switch unless one is running already (then nothing happens and the result
    // is false). Once it has ended, refresh runs if a device change came meanwhile.
    bool RunSwitch(const std::function<void()>& runSwitch, const std::function<void()>& refresh);
    // A device change: refresh now, or once the running switch has ended.
    void DeviceChanged(const std::function<void()>& refresh);

    bool Running() const { return depth_ != 0; }
    bool RefreshWaiting() const { return refreshWaiting_; }

private:
    // A count, raised for the length of a run: only the run that raised it lowers it again.
    std::int32_t depth_ = 0;
    bool refreshWaiting_ = false;
};
