#include "framework/WinApp.h"

namespace {
// Set once at start, before any window exists; read on the user-interface thread.
HINSTANCE resourceInstance = nullptr;
}  // namespace

HINSTANCE CWinApp::ResourceInstance() { return resourceInstance ? resourceInstance : ::GetModuleHandleW(nullptr); }

void CWinApp::SetResourceInstance(HINSTANCE instance) { resourceInstance = instance; }

int CWinApp::Run() {
    MSG msg;
    BOOL got;
    while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    ExitInstance();
    return got == 0 ? static_cast<int>(msg.wParam) : -1;
}

int RunApplication(CWinApp& app, HINSTANCE instance) {
    CWinApp::SetResourceInstance(instance);
    if (!app.InitInstance()) return app.ExitInstance();
    return app.Run();
}
