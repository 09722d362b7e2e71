#include "app/SwitchGate.h"

namespace {

class Raised {
public:
    explicit Raised(std::int32_t& depth) : depth_(depth) { ++depth_; }
    Raised(const Raised&) = delete;
    Raised& operator=(const Raised&) = delete;
    ~Raised() { --depth_; }

private:
    std::int32_t& depth_;
};

}  // namespace

bool SwitchGate::RunSwitch(const std::function<void()>& runSwitch, const std::function<void()>& refresh) {
    if (Running()) return false;
    {
        Raised running(depth_);
        runSwitch();
    }
    if (refreshWaiting_ && !Running()) {
        refreshWaiting_ = false;
        refresh();
    }
    return true;
}

void SwitchGate::DeviceChanged(const std::function<void()>& refresh) {
    if (Running()) {
        refreshWaiting_ = true;
        return;
    }
    refresh();
}
