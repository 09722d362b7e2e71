#pragma once
// The three seams a pass over the machine needs, handed around together.

#include "platform/DeviceInstall.h"
#include "platform/DeviceIo.h"
#include "platform/Volumes.h"

namespace platform {

struct System {
    DeviceIo& io;
    DeviceInstall& install;
    Volumes& volumes;
};

// The real system's seams (Windows build only).
inline System RealSystem() { return System{SystemDeviceIo(), SystemDeviceInstall(), SystemVolumes()}; }

}  // namespace platform
