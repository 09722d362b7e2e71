#include "app/MainWnd.h"

// The optimize switch: confirmation, the vendor command and the shutdown. Not built yet;
// a click on the button does nothing beyond the base's handling.
void CMainWnd::SwitchOptimize() {}
