#pragma once
// What assistive technology is told about a skinned window's controls: the children of
// the window in layout order, and each one's role, name, description, states and default
// action, all derived from the control's kind, text and state. The window side serves
// these through the system's accessibility interface, so the numbers are the system's
// own role and state values.

#include <cstdint>
#include <string>
#include <vector>

#include "duilib/core/Controls.h"

namespace DuiLib {

enum class AccessibleRole : std::int32_t {
    Dialog = 0x12,      // ROLE_SYSTEM_DIALOG: the window itself
    Graphic = 0x28,     // ROLE_SYSTEM_GRAPHIC: a control that only shows an image or colour
    StaticText = 0x29,  // ROLE_SYSTEM_STATICTEXT: labels and texts
    PushButton = 0x2B,  // ROLE_SYSTEM_PUSHBUTTON: buttons
};

enum AccessibleState : std::uint32_t {
    StateUnavailable = 0x1,
    StateFocused = 0x4,
    StatePressed = 0x8,
    StateReadOnly = 0x40,
    StateHotTracked = 0x80,
    StateInvisible = 0x8000,
    StateFocusable = 0x100000,
};

struct AccessibleItem {
    AccessibleRole role = AccessibleRole::Graphic;
    std::wstring name;
    std::wstring description;
    std::uint32_t states = 0;
    std::wstring defaultAction;  // empty: none
};

// The window's accessible children: every control that is not a container, in layout
// order, hidden ones included (they carry the invisible state). A child's id is its index
// here plus one.
std::vector<CControlUI*> AccessibleChildren(CControlUI* root);

// Buttons are push buttons, labels and texts static text, other controls graphics.
// The name is the text a control shows, or its tooltip when it shows none; a control
// named by its text is described by its tooltip. windowHasFocus: whether the focused
// control really holds the keyboard focus now.
AccessibleItem DescribeControl(const CControlUI& control, const CControlUI* focused, bool windowHasFocus);

// The window's name: its title, or else the first text shown by a text control (a box
// without a title is named by its message).
std::wstring AccessibleWindowName(const std::wstring& title, CControlUI* root);

}  // namespace DuiLib
