#pragma once
// The DirectUI skin library: everything a skinned window needs, in one include.

#include "duilib/core/Controls.h"
#include "duilib/core/DialogBuilder.h"
#include "duilib/core/PaintManagerCore.h"
#include "duilib/core/SkinResources.h"
#include "duilib/core/UIBase.h"

#ifdef _WIN32
#include "duilib/win/Dpi.h"
#include "duilib/win/PaintManager.h"
#include "duilib/win/WindowWnd.h"
#endif
