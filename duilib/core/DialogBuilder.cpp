#include "duilib/core/DialogBuilder.h"

#include "duilib/core/DpiScale.h"
#include "duilib/core/Markup.h"
#include "duilib/core/PaintManagerCore.h"
#include "duilib/core/SkinResources.h"
#include "duilib/core/ZipArchive.h"

namespace DuiLib {
namespace {

// Deep enough for any layout; keeps a hostile file from exhausting the stack.
constexpr int kMaxDepth = 64;

void ApplyWindowAttributes(const MarkupNode& window, CPaintManagerCore& manager) {
    for (const auto& [name, value] : window.attributes) {
        if (name == L"size") {
            if (const auto size = ParseSize(value)) manager.SetInitSize(*size);
        } else if (name == L"caption") {
            if (const auto rect = ParseRect(value)) manager.SetCaptionRect(*rect);
        }
    }
}

void AddFont(const MarkupNode& node, CPaintManagerCore& manager) {
    FontSpec font;
    bool hasId = false;
    for (const auto& [name, value] : node.attributes) {
        if (name == L"id") {
            if (const auto id = ParseInt(value)) {
                font.id = *id;
                hasId = true;
            }
        } else if (name == L"name") {
            font.face = value;
        } else if (name == L"size") {
            if (const auto size = ParseInt(value)) font.size = *size;
        } else if (name == L"bold") {
            font.bold = ParseBool(value);
        } else if (name == L"italic") {
            font.italic = ParseBool(value);
        }
    }
    if (hasId) manager.AddFont(font);
}

std::unique_ptr<CControlUI> BuildControl(const MarkupNode& node, IDialogBuilderCallback* callback, int dpi,
                                         int depth) {
    if (depth > kMaxDepth) return nullptr;
    std::unique_ptr<CControlUI> control = CreateBuiltinControl(node.name);
    if (!control && callback) control = callback->MakeControl(node.name);
    if (!control) return nullptr;
    // A control kind's own text inset (a Text's 2 pixels) is a length at 96 DPI too.
    const UiRect inset = control->GetTextPadding();
    if (inset != UiRect{}) {
        const std::wstring value = std::to_wstring(inset.left) + L',' + std::to_wstring(inset.top) + L',' +
                                   std::to_wstring(inset.right) + L',' + std::to_wstring(inset.bottom);
        control->KeepDesignLength(L"textpadding", value);
        control->SetAttribute(L"textpadding", ScaleAttributeValue(value, dpi));
    }
    // In document order; an attribute given twice is applied twice. Lengths are written
    // for 96 DPI and placed at the window's.
    for (const auto& [name, value] : node.attributes) {
        if (IsLengthAttribute(name)) {
            control->KeepDesignLength(name, value);
            control->SetAttribute(name, ScaleAttributeValue(value, dpi));
        } else {
            control->SetAttribute(name, value);
        }
    }
    if (CContainerUI* container = control->AsContainer()) {
        for (const MarkupNode& child : node.children) container->Add(BuildControl(child, callback, dpi, depth + 1));
    }
    return control;
}

}  // namespace

std::unique_ptr<CControlUI> CreateBuiltinControl(std::wstring_view element) {
    if (element == L"Control") return std::make_unique<CControlUI>();
    if (element == L"Label") return std::make_unique<CLabelUI>();
    if (element == L"Text") return std::make_unique<CTextUI>();
    if (element == L"Button") return std::make_unique<CButtonUI>();
    if (element == L"VerticalLayout") return std::make_unique<CVerticalLayoutUI>();
    return nullptr;
}

std::unique_ptr<CControlUI> CDialogBuilder::Create(std::wstring_view layoutName, IDialogBuilderCallback* callback,
                                                   CPaintManagerCore* manager) {
    ZipError zipError = ZipError::None;
    const auto bytes = SkinResources::ReadFile(layoutName, SkinResources::kMaxLayoutSize, &zipError);
    if (!bytes) {
        error_ = ZipErrorText(zipError);
        return nullptr;
    }
    return CreateFromText(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
                          callback, manager);
}

std::unique_ptr<CControlUI> CDialogBuilder::CreateFromText(std::string_view utf8, IDialogBuilderCallback* callback,
                                                           CPaintManagerCore* manager) {
    error_.clear();
    const auto document = CMarkup::Parse(utf8, &error_);
    if (!document) return nullptr;
    if (document->name != L"Window") {
        error_ = "The layout's root element is not Window";
        return nullptr;
    }
    if (manager) ApplyWindowAttributes(*document, *manager);
    std::unique_ptr<CControlUI> root;
    for (const MarkupNode& child : document->children) {
        if (child.name == L"Font") {
            if (manager) AddFont(child, *manager);
        } else if (!root) {
            root = BuildControl(child, callback, manager ? manager->GetDpi() : kDesignDpi, 0);
        }
    }
    return root;
}

}  // namespace DuiLib
