// The program's resources as the running module sees them: string table, host dialog
// template, icon group, skin package and manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr WORD kChineseSimplified = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

struct ResourceBytes {
    const uint8_t* data = nullptr;
    DWORD size = 0;
};

ResourceBytes FindBytes(const wchar_t* type, const wchar_t* name, WORD language) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, type, name, language);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded) return {};
    return {static_cast<const uint8_t*>(LockResource(loaded)), SizeofResource(module, found)};
}

std::wstring LoadText(UINT id) {
    std::vector<wchar_t> buffer(1024, L'\0');
    LoadStringW(GetModuleHandleW(nullptr), id, buffer.data(), int(buffer.size()));
    return buffer.data();
}

// Reads little-endian fields from a resource in order.
class Reader {
public:
    explicit Reader(ResourceBytes bytes) : bytes_(bytes) {}
    uint16_t Word() { return uint16_t(Byte() | Byte() << 8); }
    uint32_t Dword() {
        uint32_t low = Word();
        return low | uint32_t(Word()) << 16;
    }
    std::wstring Text() {  // zero-terminated UTF-16
        std::wstring out;
        for (uint16_t c = Word(); c != 0; c = Word()) out.push_back(wchar_t(c));
        return out;
    }
    size_t Offset() const { return offset_; }

private:
    uint8_t Byte() {
        if (offset_ >= bytes_.size) throw std::out_of_range("resource too short");
        return bytes_.data[offset_++];
    }
    ResourceBytes bytes_;
    size_t offset_ = 0;
};

TEST(StringTable, EveryIdHasItsExactText) {
    const struct {
        UINT id;
        const wchar_t* text;
    } cases[] = {
        {129, L"Yes"},
        {130, L"No"},
        {131, L"Ok"},
        {132, L"Cancel"},
        {133, L"Optimizing the VX310 and VX310 Pro SSD performance only on Intel 8th CPU platform, which can make "
              L"VX310/VX310 Pro to optimize its maximum performance.\nAll data will be reserved after optimizing. "
              L"Please shut down and restart to make it effective after this process."},
        {134, L"Computer will shut down after this process. \nAre you ready to proceed?"},
        {135, L"messageBoxYesNo.xml"},
        {136, L"Model No.:"},
        {137, L"Capacity:"},
        {138, L"Status:"},
        {139, L"Has been optimized"},
        {140, L"Optimizable"},
        {141, L"Unknown"},
        {142, L"No device detected"},
        {143, L"On"},
        {144, L"Off"},
        {145, L"messageBoxOK.xml"},
    };
    for (const auto& c : cases) EXPECT_EQ(LoadText(c.id), c.text) << "string " << c.id;
    EXPECT_EQ(LoadText(146), L"");
    EXPECT_EQ(LoadText(128), L"");
}

TEST(StringTable, IsChineseSimplified) {
    // Strings live in blocks of 16: ids 129-143 in block 9, 144-145 in block 10.
    for (int block : {9, 10}) {
        EXPECT_NE(FindBytes(RT_STRING, MAKEINTRESOURCEW(block), kChineseSimplified).data, nullptr) << block;
    }
    // The notice carries one line feed and no carriage return.
    const std::wstring notice = LoadText(133);
    EXPECT_EQ(notice.find(L'\r'), std::wstring::npos);
    EXPECT_EQ(notice.find(L'\n'), notice.rfind(L'\n'));
}

TEST(PackageResource, IsTheBuiltSkinPackage) {
    ResourceBytes resource = FindBytes(L"ZIPRES", MAKEINTRESOURCEW(130), kChineseSimplified);
    ASSERT_NE(resource.data, nullptr);
    std::ifstream file(ZEPHRA_SKIN_PACKAGE_PATH, std::ios::binary);
    ASSERT_TRUE(file) << ZEPHRA_SKIN_PACKAGE_PATH;
    std::vector<uint8_t> built((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(resource.size, built.size());
    EXPECT_EQ(std::memcmp(resource.data, built.data(), built.size()), 0);
    // A ZIP: local header first, end-of-central-directory record with no comment last.
    ASSERT_GE(resource.size, 22u);
    EXPECT_EQ(std::memcmp(resource.data, "PK\x03\x04", 4), 0);
    EXPECT_EQ(std::memcmp(resource.data + resource.size - 22, "PK\x05\x06", 4), 0);
}

TEST(HostDialog, TemplateIsABorderlessPopupWithTheShellFont) {
    ResourceBytes bytes = FindBytes(RT_DIALOG, MAKEINTRESOURCEW(102), kChineseSimplified);
    ASSERT_NE(bytes.data, nullptr);
    Reader r(bytes);
    EXPECT_EQ(r.Word(), 1u);           // dlgVer
    EXPECT_EQ(r.Word(), 0xFFFFu);      // signature of the extended form
    EXPECT_EQ(r.Dword(), 0u);          // helpID
    EXPECT_EQ(r.Dword(), 0x00040000u); // WS_EX_APPWINDOW
    EXPECT_EQ(r.Dword(), 0x90000048u); // WS_POPUP | WS_VISIBLE | DS_SETFONT | DS_FIXEDSYS
    EXPECT_EQ(r.Word(), 0u);           // no controls
    EXPECT_EQ(r.Word(), 0u);           // x
    EXPECT_EQ(r.Word(), 0u);           // y
    EXPECT_EQ(r.Word(), 320u);
    EXPECT_EQ(r.Word(), 200u);
    EXPECT_EQ(r.Text(), L"");          // no menu
    EXPECT_EQ(r.Text(), L"");          // no class
    EXPECT_EQ(r.Text(), L"");          // no caption
    EXPECT_EQ(r.Word(), 9u);           // point size
    r.Word();                          // weight
    r.Word();                          // italic and charset
    EXPECT_EQ(r.Text(), L"MS Shell Dlg");
}

INT_PTR CALLBACK IgnoreAll(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST(HostDialog, TemplateMakesAWindowWithTheTemplatesStyles) {
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(102), nullptr, IgnoreAll, 0);
    ASSERT_NE(dialog, nullptr);
    const LONG style = GetWindowLongW(dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & WS_CAPTION);
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(GetWindowTextLengthW(dialog), 0);
    DestroyWindow(dialog);
}

TEST(AppIcon, GroupHoldsThreeSizesThatLoad) {
    ResourceBytes bytes = FindBytes(RT_GROUP_ICON, MAKEINTRESOURCEW(128), kChineseSimplified);
    ASSERT_NE(bytes.data, nullptr);
    Reader r(bytes);
    EXPECT_EQ(r.Word(), 0u);
    EXPECT_EQ(r.Word(), 1u);  // icons, not cursors
    const uint16_t count = r.Word();
    ASSERT_EQ(count, 3u);
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) {
        const uint16_t widthHeight = r.Word();
        sizes.push_back(widthHeight & 0xFF);
        EXPECT_EQ(widthHeight >> 8, widthHeight & 0xFF);
        r.Word();                       // colour count, reserved
        EXPECT_EQ(r.Word(), 1u);        // planes
        EXPECT_EQ(r.Word(), 32u);       // bits per pixel
        r.Dword();                      // bytes
        const uint16_t iconId = r.Word();
        EXPECT_NE(FindBytes(RT_ICON, MAKEINTRESOURCEW(iconId), kChineseSimplified).data, nullptr);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48}));

    HINSTANCE instance = GetModuleHandleW(nullptr);
    HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(128));
    EXPECT_NE(icon, nullptr);
    for (int size : {16, 32, 48}) {
        HANDLE image = LoadImageW(instance, MAKEINTRESOURCEW(128), IMAGE_ICON, size, size, 0);
        EXPECT_NE(image, nullptr) << size;
        ICONINFO info{};
        if (image && GetIconInfo(static_cast<HICON>(image), &info)) {
            BITMAP bitmap{};
            GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
            EXPECT_EQ(bitmap.bmWidth, size);
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
        }
        if (image) DestroyIcon(static_cast<HICON>(image));
    }
}

TEST(Manifest, RequestsAdministratorAndCommonControls6) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    const std::string manifest(data, SizeofResource(module, found));
    // The dependency names the processor architecture of the program it is in.
    const char* architecture =
        sizeof(void*) == 8 ? "processorArchitecture=\"amd64\"" : "processorArchitecture=\"x86\"";
    for (const char* needle : {"level=\"requireAdministrator\"", "uiAccess=\"false\"",
                               "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"", architecture,
                               "publicKeyToken=\"6595b64144ccf1df\"", "language=\"*\""}) {
        EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
    }
}

TEST(Manifest, DeclaresPerMonitorDpiAwarenessWithTheSystemAwareFallback) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    const std::string manifest(data, SizeofResource(module, found));
    // Windows 10 from 1703 reads dpiAwareness (first value it knows wins); older builds
    // read dpiAware, where "true/pm" is per-monitor and plain "true" system-aware.
    for (const char* needle :
         {"<application xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
          "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>",
          "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, "
          "PerMonitor</dpiAwareness>"}) {
        EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
    }
}

}  // namespace
