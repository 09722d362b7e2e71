#include "ui/MessageBoxLayout.h"

#include <algorithm>

#include "duilib/core/DpiScale.h"

using DuiLib::UiRect;

namespace {

// At 96 DPI: margin around the content and between two buttons...
constexpr int kMargin96 = 20;
constexpr int kButtonGap96 = 20;
// ...room the title and the message get beyond their measured width.
constexpr int kTitlePadding96 = 10;
constexpr int kLinePadding96 = 5;
constexpr int kTitleInset96 = 5;

}  // namespace

MessageBoxButtonNames ButtonsOfType(int type) {
    switch (type & MessageBoxTypeButtonsMask) {
        case MessageBoxTypeOk: return {L"btnOK", nullptr};
        case MessageBoxTypeOkCancel: return {L"btnOK", L"btnCancel"};
        case MessageBoxTypeYesNo: return {L"btnYes", L"btnNo"};
        default: return {};
    }
}

const wchar_t* FirstFocusedButton(int type) {
    const MessageBoxButtonNames names = ButtonsOfType(type);
    return names.second ? names.second : names.first;
}

MessageBoxResult EscapeResult(int type) {
    switch (type & MessageBoxTypeButtonsMask) {
        case MessageBoxTypeOk: return MessageBoxResultOk;
        case MessageBoxTypeOkCancel: return MessageBoxResultCancel;
        case MessageBoxTypeYesNo: return MessageBoxResultNo;
        default: return MessageBoxResultNone;
    }
}

std::vector<std::wstring_view> SplitMessageLines(std::wstring_view message) {
    std::vector<std::wstring_view> lines;
    for (;;) {
        const std::size_t feed = message.find(L'\n');
        lines.push_back(message.substr(0, feed));
        if (feed == std::wstring_view::npos) break;
        message.remove_prefix(feed + 1);
    }
    return lines;
}

std::wstring MessageBoxWindowName(std::wstring_view title, std::wstring_view message) {
    if (!title.empty()) return std::wstring(title);
    std::wstring name;
    for (std::wstring_view line : SplitMessageLines(message)) {
        while (!line.empty() && (line.front() == L' ' || line.front() == L'\r')) line.remove_prefix(1);
        while (!line.empty() && (line.back() == L' ' || line.back() == L'\r')) line.remove_suffix(1);
        if (line.empty()) continue;
        if (!name.empty()) name += L' ';
        name += line;
    }
    return name;
}

MessageBoxGeometry ComputeMessageBoxLayout(const MessageBoxParts& parts) {
    MessageBoxGeometry g;
    const int margin = DuiLib::ScaleByDpi(kMargin96, parts.dpi);
    const int buttonGap = DuiLib::ScaleByDpi(kButtonGap96, parts.dpi);
    const int titlePadding = DuiLib::ScaleByDpi(kTitlePadding96, parts.dpi);
    const int linePadding = DuiLib::ScaleByDpi(kLinePadding96, parts.dpi);
    const int titleInset = DuiLib::ScaleByDpi(kTitleInset96, parts.dpi);
    const FixedSize icon = parts.icon.value_or(FixedSize{});
    const std::wstring placement = parts.icon ? parts.iconPlacement : L"left";

    int titleW = 0;
    int titleH = 0;
    if (parts.hasTitle && parts.title) {
        titleW = parts.title->cx + titlePadding;
        titleH = parts.title->cy + titlePadding;
    }

    // A line raises the width only when it is wider than the width so far, and then to
    // its own width plus the padding.
    for (const TextExtent& line : parts.lines) {
        if (g.textWidth < line.cx) g.textWidth = line.cx + linePadding;
        g.textHeight += line.cy;
    }
    g.half = parts.lines.empty() ? 0 : parts.lines.back().cy / 2;
    g.textHeight += 2 * g.half;

    if (parts.first && parts.first->width != 0) {
        g.button = *parts.first;
    } else if (parts.second) {
        g.button = *parts.second;
    }
    const int type = parts.type & MessageBoxTypeButtonsMask;
    g.buttonCount = parts.first && parts.second && type != MessageBoxTypeOk ? 2 : 1;

    const int contentW = g.textWidth + (placement == L"left" ? icon.width : 0);
    const int buttonsW = (g.button.width + buttonGap) * g.buttonCount - buttonGap;
    g.width = std::max(buttonsW, contentW) + 2 * margin;

    const int band = std::max(titleH, margin);
    const int iconTop = placement == L"top" ? icon.height : 0;
    g.height = band + 2 * g.half + margin + iconTop + g.button.height + g.textHeight;

    if (parts.hasTitle) g.title = UiRect{titleInset, titleInset, titleW, titleH};
    if (parts.close) {
        const FixedSize c = *parts.close;
        g.close = UiRect{g.width - c.width - titleInset, titleInset, g.width - titleInset, c.height + titleInset};
    }

    int msgLeft = 0;
    int msgTop = 0;
    if (parts.icon) {
        if (placement == L"top") {
            const int x = (g.width - icon.width) / 2;
            g.icon = UiRect{x, band, x + icon.width, band + icon.height};
            msgLeft = margin;
            msgTop = band + icon.height + g.half;
        } else {
            g.icon = UiRect{margin, band, margin + icon.width, band + icon.height};
            msgLeft = margin + icon.width;
            msgTop = band;
        }
    }
    if (parts.hasMessage) {
        if (msgLeft == 0) msgLeft = margin;
        // Text narrower than the button row is centred over it.
        if (g.textWidth < g.buttonCount * g.button.width + margin) {
            msgLeft = std::max(msgLeft, (g.width - g.textWidth) / 2);
        }
        if (msgTop == 0) msgTop = margin;
        g.message = UiRect{msgLeft, msgTop, msgLeft + g.textWidth, msgTop + g.textHeight};
    }

    const int top = g.height - g.button.height - margin;
    const int btnW = g.button.width;
    const int btnH = g.button.height;
    if (g.buttonCount == 1) {
        const int left = (g.width - btnW) / 2;
        if (parts.first) g.first = UiRect{left, top, left + btnW, top + btnH};
        if (parts.second) g.second = UiRect{};
    } else {
        const int firstRight = (g.width - buttonGap) / 2;
        const int secondLeft = (g.width + buttonGap) / 2;
        g.first = UiRect{firstRight - btnW, top, firstRight, top + btnH};
        g.second = UiRect{secondLeft, top, secondLeft + btnW, top + btnH};
    }
    return g;
}
