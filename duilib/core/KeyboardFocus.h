#pragma once
// Which controls take the keyboard focus and in what order, what a control's first letter
// activates, and how a skinned window answers the keys it understands. No window system
// here: the window side turns its messages into these calls.

#include <vector>

#include "duilib/core/Controls.h"

namespace DuiLib {

// The keys a skinned window acts on; everything else is left to the window's owner.
enum class NavKey { Tab, Left, Right, Up, Down, Space, Enter, Other };

// Visible (with every ancestor), enabled, clickable controls in layout order.
std::vector<CControlUI*> TabOrder(CControlUI* root);
bool IsFocusable(const CControlUI* control);

// The next (or previous) control of the order after current, wrapping round; the first (or
// last) one when current is not in the order; null for an empty order.
CControlUI* NextInTabOrder(const std::vector<CControlUI*>& order, const CControlUI* current, bool forward);

// The first control of the order whose text begins with the letter (ASCII letters in either
// case); null for none.
CControlUI* MnemonicTarget(const std::vector<CControlUI*>& order, wchar_t letter);

}  // namespace DuiLib
