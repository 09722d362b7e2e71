#pragma once
// A fault that fires on the next so many occasions.

#include <cstdint>

namespace sim {

constexpr std::uint32_t Forever = 0xFFFFFFFF;

class SimFaultCount {
public:
    void Arm(std::uint32_t times) { remaining_ = times; }
    void Disarm() { remaining_ = 0; }
    bool Armed() const { return remaining_ != 0; }
    // True when the fault fires on this occasion; uses one firing up.
    bool Fire() {
        if (remaining_ == 0) return false;
        if (remaining_ != Forever) --remaining_;
        return true;
    }

private:
    std::uint32_t remaining_ = 0;
};

}  // namespace sim
