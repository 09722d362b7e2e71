// The product's entry point: the application bound to the real system. It reads no
// command line, environment or settings.
#include <windows.h>

#include "app/HostDialog.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const AppSystem system{platform::RealSystem(), platform::SystemDeviceWatchIo(), platform::SystemShutdownIo(),
                           &platform::SystemDriveLockIo()};
    CZephraApp app(system);
    return RunApplication(app, instance);
}
