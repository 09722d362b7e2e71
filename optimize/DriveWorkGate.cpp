#include "optimize/DriveWorkGate.h"

bool DriveWorkGate::TryBegin(DriveWork work) {
    if (work == DriveWork::None || Busy()) return false;
    if (work == DriveWork::Switch) switching_ = true;
    if (work == DriveWork::SelfTest) selfTestRunning_ = true;
    return true;
}

void DriveWorkGate::End(DriveWork work) {
    if (work == DriveWork::Switch) switching_ = false;
    if (work == DriveWork::SelfTest) selfTestRunning_ = false;
}

void DriveWorkGate::Observe(const devicecmd::SelfTestLog& log) { selfTestRunning_ = log.Running(); }

DriveWork DriveWorkGate::Holder() const {
    if (switching_) return DriveWork::Switch;
    if (selfTestRunning_) return DriveWork::SelfTest;
    return DriveWork::None;
}
