#pragma once
// The message box's arithmetic: which buttons a type shows, what a click returns, and
// where everything goes for the text extents measured with the layout's fonts. No window
// here, so it is checked with plain numbers.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "duilib/core/UIBase.h"

// The system message box's type codes (the low 4 bits choose the buttons)...
enum MessageBoxType : int {
    MessageBoxTypeOk = 0,        // MB_OK
    MessageBoxTypeOkCancel = 1,  // MB_OKCANCEL
    MessageBoxTypeYesNo = 4,     // MB_YESNO
    MessageBoxTypeButtonsMask = 0xF,
};

// ...and its result codes; 0 when the box closed without a button's request.
enum MessageBoxResult : int {
    MessageBoxResultNone = 0,
    MessageBoxResultOk = 1,      // IDOK
    MessageBoxResultCancel = 2,  // IDCANCEL
    MessageBoxResultRetry = 4,   // IDRETRY
    MessageBoxResultIgnore = 5,  // IDIGNORE
    MessageBoxResultYes = 6,     // IDYES
    MessageBoxResultNo = 7,      // IDNO
    MessageBoxResultClose = 8,   // IDCLOSE
};

// The layout's control names for the first and second button of a type; null for none.
struct MessageBoxButtonNames {
    const wchar_t* first = nullptr;
    const wchar_t* second = nullptr;
};
MessageBoxButtonNames ButtonsOfType(int type);

// The keyboard's answers: the button that has the focus when the box opens, and what
// Escape answers. Both the safe one: No, Cancel, or the only button.
const wchar_t* FirstFocusedButton(int type);
MessageBoxResult EscapeResult(int type);

// The message split at every line feed; a trailing line feed leaves an empty last line.
std::vector<std::wstring_view> SplitMessageLines(std::wstring_view message);

// The box's window name, what screen readers announce and the system lists: its title, or
// with none its message, its lines joined by single spaces (a window name is one line).
std::wstring MessageBoxWindowName(std::wstring_view title, std::wstring_view message);

// A text's width and height on one line, as the font reports it.
struct TextExtent {
    int cx = 0;
    int cy = 0;
};

// A control's fixed width and height from the layout.
struct FixedSize {
    int width = 0;
    int height = 0;
};

// What the built layout offers and what was measured with its fonts. A control missing
// from the layout is an empty optional (or false).
struct MessageBoxParts {
    int type = MessageBoxTypeOk;
    // The box's DPI: its fixed margins and paddings are written for 96 and scale; the
    // control sizes below and the measured extents are already the window's pixels.
    int dpi = 96;
    std::optional<FixedSize> icon;     // "ctrlIcon"
    std::wstring iconPlacement;        // its text: "top", "left", ...
    bool hasTitle = false;             // "txtTitel"
    std::optional<TextExtent> title;   // the measured title, only when there is a title to show
    bool hasMessage = false;           // "txtMsg"
    std::vector<TextExtent> lines;     // each message line measured, in order (at least one)
    std::optional<FixedSize> first;    // the type's first button, when the layout has it
    std::optional<FixedSize> second;   // the type's second button, when the layout has it
    std::optional<FixedSize> close;    // "btnClose"
};

// Sizes and places, in pixels from the top-left of the client area. A rectangle is set
// only for a control that the layout has.
struct MessageBoxGeometry {
    int width = 0;
    int height = 0;
    int textWidth = 0;
    int textHeight = 0;
    int half = 0;          // half the last line's height: the margin around the text
    int buttonCount = 1;
    FixedSize button;      // the size every button is given
    std::optional<DuiLib::UiRect> title;
    std::optional<DuiLib::UiRect> close;
    std::optional<DuiLib::UiRect> icon;
    std::optional<DuiLib::UiRect> message;
    std::optional<DuiLib::UiRect> first;
    std::optional<DuiLib::UiRect> second;
};

MessageBoxGeometry ComputeMessageBoxLayout(const MessageBoxParts& parts);
