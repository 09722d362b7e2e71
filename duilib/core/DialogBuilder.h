#pragma once
// Builds a control tree from a layout file: the Window element's size and caption and
// its Font elements go to the paint manager; every other element becomes a control whose
// attributes are applied in document order.

#include <memory>
#include <string>
#include <string_view>

#include "duilib/core/Controls.h"

namespace DuiLib {

class CPaintManagerCore;

class IDialogBuilderCallback {
public:
    virtual ~IDialogBuilderCallback() = default;
    // Makes a control for an element the library does not know, or null to skip it.
    virtual std::unique_ptr<CControlUI> MakeControl(std::wstring_view className) = 0;
};

class CDialogBuilder {
public:
    // Reads the layout from the registered skin package or the resource folder. Returns
    // the root control, or null when the file cannot be read or parsed.
    std::unique_ptr<CControlUI> Create(std::wstring_view layoutName, IDialogBuilderCallback* callback,
                                       CPaintManagerCore* manager);
    // The same from the layout's text.
    std::unique_ptr<CControlUI> CreateFromText(std::string_view utf8, IDialogBuilderCallback* callback,
                                               CPaintManagerCore* manager);

    // Why the last Create failed; stays inside the library.
    const std::string& GetLastError() const { return error_; }

private:
    std::string error_;
};

// A control of the library's own kinds for an element name, or null.
std::unique_ptr<CControlUI> CreateBuiltinControl(std::wstring_view element);

}  // namespace DuiLib
