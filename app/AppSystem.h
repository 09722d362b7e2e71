#pragma once
// Everything of the system the program reaches, as the entry point binds it: the real
// system for the product, the simulated machine for the demo and the tests.

#include "platform/DeviceWatchIo.h"
#include "platform/DriveLockIo.h"
#include "platform/ShutdownIo.h"
#include "platform/System.h"

struct AppSystem {
    platform::System machine;       // files and devices, device lists, volumes
    platform::DeviceWatchIo& watch; // bus rescan and disk-interface notifications
    platform::ShutdownIo& shutdown; // the forced shutdown after a switch
    platform::DriveLockIo* locks = nullptr;  // the machine-wide drive locks; none: no lock taken
};
