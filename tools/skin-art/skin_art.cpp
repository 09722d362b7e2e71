// Draws the skin's images and the application icon.
//
//   skin_art SKIN_DIR ICON_PATH [PREVIEW_PNG]
//
// Writes every image of the skin package into SKIN_DIR, the application icon (16, 32
// and 48 px) to ICON_PATH and, when asked, a preview sheet: the main window with its
// labels in place, a message box, and every image on a checkerboard.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "raster.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb_truetype.h>

using namespace art;

namespace {

// ---- palette --------------------------------------------------------------------

const Rgba kBandTop = Hex(0x15395C);
const Rgba kBandBottom = Hex(0x0F2C49);
const Rgba kAccentA = Hex(0x00B4D8);
const Rgba kAccentB = Hex(0x1E88E5);
const Rgba kPageTop = Hex(0xDCE7F2);
const Rgba kPage = Hex(0xEEF2F6);
const Rgba kPageBottom = Hex(0xE6EBF1);
const Rgba kCard = Hex(0xFFFFFF);
const Rgba kRule = Hex(0xE4E9EF);
const Rgba kGlyph = Hex(0xD8E3EE);

constexpr int kWidth = 700;
constexpr int kHeight = 490;
constexpr int kCaption = 32;

// ---- text (title band and preview only) -------------------------------------------

class Font {
public:
    explicit Font(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        data_.assign(std::istreambuf_iterator<char>(in), {});
        if (data_.empty() || !stbtt_InitFont(&info_, data_.data(), stbtt_GetFontOffsetForIndex(data_.data(), 0))) {
            throw std::runtime_error("cannot read font " + path);
        }
    }

    double Width(const std::string& text, double px) const {
        const float scale = stbtt_ScaleForPixelHeight(&info_, float(px));
        double width = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            int advance = 0, bearing = 0;
            stbtt_GetCodepointHMetrics(&info_, text[i], &advance, &bearing);
            width += advance * scale;
            if (i + 1 < text.size()) width += scale * stbtt_GetCodepointKernAdvance(&info_, text[i], text[i + 1]);
        }
        return width;
    }

    // Draws one line with its baseline at y; position and size in design units.
    void Draw(Canvas& canvas, const std::string& text, double x, double baseline, double px, Rgba colour) const {
        x *= canvas.Scale();
        baseline *= canvas.Scale();
        px *= canvas.Scale();
        const float scale = stbtt_ScaleForPixelHeight(&info_, float(px));
        for (size_t i = 0; i < text.size(); ++i) {
            const int ch = static_cast<unsigned char>(text[i]);
            double fx = std::floor(x), fy = std::floor(baseline);
            int w = 0, h = 0, xoff = 0, yoff = 0;
            unsigned char* bitmap = stbtt_GetCodepointBitmapSubpixel(&info_, scale, scale, float(x - fx),
                                                                     float(baseline - fy), ch, &w, &h, &xoff, &yoff);
            for (int j = 0; j < h; ++j) {
                for (int k = 0; k < w; ++k) {
                    canvas.Blend(int(fx) + xoff + k, int(fy) + yoff + j, colour, bitmap[j * w + k] / 255.0);
                }
            }
            stbtt_FreeBitmap(bitmap, nullptr);
            int advance = 0, bearing = 0;
            stbtt_GetCodepointHMetrics(&info_, ch, &advance, &bearing);
            x += advance * scale;
            if (i + 1 < text.size()) x += scale * stbtt_GetCodepointKernAdvance(&info_, ch, text[i + 1]);
        }
    }

private:
    std::vector<unsigned char> data_;
    stbtt_fontinfo info_{};
};

struct Fonts {
    Font regular;
    Font bold;
};

// ---- pieces -----------------------------------------------------------------------

// The program's mark: a rounded tile with a bold "Z" stroke, at (x, y) with side s.
void DrawMark(Canvas& c, double x, double y, double s) {
    c.Fill(RoundRect(x, y, x + s, y + s, s * 0.24), Linear(x, y, kAccentA, x + s, y + s, kAccentB));
    const double w = std::max(0.9, s * 0.075);
    const double l = x + s * 0.29, r = x + s * 0.71, t = y + s * 0.29, b = y + s * 0.71;
    Shape z = Union(Union(Capsule(l, t, r, t, w), Capsule(r, t, l, b, w)), Capsule(l, b, r, b, w));
    c.Fill(z, Hex(0xFFFFFF));
}

// An M.2 drive seen from above, drawn centred on (cx, cy) and turned by `angle`.
void DrawDrive(Canvas& c, double cx, double cy, double angle) {
    const double w = 190, h = 50, x0 = cx - w / 2, y0 = cy - h / 2;
    auto turned = [&](const Shape& s) { return Rotate(s, angle, cx, cy); };

    Shape board = Subtract(RoundRect(x0, y0, x0 + w, y0 + h, 4),
                           Circle(x0 + w - 1, cy, 5));  // the mounting notch at the far end
    c.Shadow(turned(board), Hex(0x0B2540, 0.28), 7, 0, 6);
    c.Fill(turned(board), Linear(x0, y0, Hex(0x23303F), x0, y0 + h, Hex(0x19222D)));

    // Gold edge connector with its key slot.
    for (int i = 0; i < 11; ++i) {
        double py = y0 + 5 + i * 3.7;
        if (i == 3) continue;
        c.Fill(turned(Rect(x0 + 1, py, x0 + 11, py + 2.4)), Hex(0xD4A83A));
    }

    // Controller, two flash packages and a small cache chip.
    c.Fill(turned(RoundRect(x0 + 22, y0 + 11, x0 + 50, y0 + 39, 2)), Hex(0x3A4656));
    c.Fill(turned(RoundRect(x0 + 25, y0 + 14, x0 + 47, y0 + 36, 1.5)), Hex(0x2E3845));
    c.Fill(turned(RoundRect(x0 + 60, y0 + 8, x0 + 100, y0 + 42, 2)), Hex(0x10161E));
    c.Fill(turned(RoundRect(x0 + 108, y0 + 8, x0 + 148, y0 + 42, 2)), Hex(0x10161E));
    c.Fill(turned(RoundRect(x0 + 156, y0 + 15, x0 + 172, y0 + 35, 1.5)), Hex(0x10161E));
    // Label band across the flash packages, with the mark and a few printed lines.
    c.Fill(turned(RoundRect(x0 + 64, y0 + 17, x0 + 144, y0 + 33, 1.5)), Linear(x0 + 64, 0, kAccentA, x0 + 144, 0, kAccentB));
    c.Fill(turned(Capsule(x0 + 70, y0 + 22, x0 + 118, y0 + 22, 0.9)), Hex(0xFFFFFF, 0.9));
    c.Fill(turned(Capsule(x0 + 70, y0 + 28, x0 + 100, y0 + 28, 0.7)), Hex(0xFFFFFF, 0.65));
    for (int i = 0; i < 3; ++i) {
        double px = x0 + 128 + i * 4.0;
        c.Fill(turned(Rect(px, y0 + 20, px + 2, y0 + 30)), Hex(0xFFFFFF, 0.8));
    }
    // Small parts along the edges.
    for (int i = 0; i < 6; ++i) {
        c.Fill(turned(Rect(x0 + 56 + i * 19, y0 + 44, x0 + 60 + i * 19, y0 + 46.5)), Hex(0x8C9AAB));
    }
}

void DrawBackground(Canvas& c, const Fonts& fonts) {
    // Page: a soft blue wash under the title band fading into light grey.
    c.Fill(Rect(0, 0, kWidth, kHeight), [](double, double y) {
        if (y < 210) return Mix(kPageTop, kPage, std::clamp((y - kCaption) / 178.0, 0.0, 1.0));
        return Mix(kPage, kPageBottom, (y - 210) / (kHeight - 210.0));
    });
    // Faint rings for depth, behind the card.
    c.Fill(Subtract(Circle(640, 70, 150), Circle(640, 70, 118)), Hex(0xFFFFFF, 0.22));
    c.Fill(Subtract(Circle(40, 470, 120), Circle(40, 470, 96)), Hex(0xFFFFFF, 0.35));

    // Title band, with a thin accent line under it.
    c.Fill(Rect(0, 0, kWidth, kCaption), Vertical(0, kBandTop, kCaption, kBandBottom));
    c.Fill(Rect(0, kCaption - 2, kWidth, kCaption), Linear(0, 0, kAccentA, kWidth, 0, kAccentB));
    DrawMark(c, 10, 6, 18);
    fonts.bold.Draw(c, "Zephra", 36, 21, 16, Hex(0xFFFFFF));
    double after = 36 + fonts.bold.Width("Zephra", 16) + 10;
    c.Fill(Rect(after, 10, after + 1, 22), Hex(0xFFFFFF, 0.25));
    fonts.regular.Draw(c, "SSD Utility", after + 10, 21, 13, Hex(0xA9C1D8));

    // The card that carries the device panel, the notice and the switch.
    Shape card = RoundRect(50, 88, 650, 476, 12);
    c.Shadow(card, Hex(0x1A3A5A, 0.16), 10, 0, 4);
    c.Fill(card, kCard);
    c.Fill(Subtract(card, RoundRect(51, 89, 649, 475, 11)), Hex(0xD5DEE8));

    // Device panel: a rule under the drive name and light rules between the rows.
    c.Fill(Rect(81, 163, 390, 164), kRule);
    c.Fill(RoundRect(207, 162, 257, 164.5, 1.2), kAccentB);  // centred under the drive name
    for (double y : {213.0, 261.0}) c.Fill(Rect(105, y, 390, y + 1), Hex(0xEFF2F5));

    // Drive picture on the right of the panel.
    c.Fill(Circle(520, 204, 86), Hex(0xEEF4FA));
    c.Fill(Subtract(Circle(520, 204, 86), Circle(520, 204, 85)), Hex(0xDCE6F0));
    DrawDrive(c, 520, 206, -16);

    // Notice box: tinted, with an accent bar on its left.
    Shape notice = RoundRect(96, 333, 624, 420, 6);
    c.Fill(notice, Hex(0xF2F6FA));
    c.Fill(Intersect(notice, Rect(96, 333, 100, 420)), Vertical(333, kAccentA, 420, kAccentB));
}

// Title-bar glyphs in a 16 x 16 tile.
Shape MinGlyph() { return Rect(4, 10, 12, 12); }  // two whole rows: crisp
Shape CloseGlyph() { return Union(Capsule(4.5, 4.5, 11.5, 11.5, 0.9), Capsule(11.5, 4.5, 4.5, 11.5, 0.9)); }

// A title-bar button: the band behind it (opaque variants) plus a plate and the glyph.
Canvas TitleButton(const Canvas& band, int x, const Shape& glyph, Rgba plate, Rgba ink, bool opaque) {
    Canvas t = opaque ? band.Crop(x, 5, 16, 16) : Canvas(16, 16, band.Scale());
    if (plate.a > 0) t.Fill(RoundRect(0, 0, 16, 16, 3), plate);
    t.Fill(glyph, ink, 8);
    return t;
}

// The switch button: a pill with a soft shadow, a gradient and a light top edge.
Canvas Switch(Rgba top, Rgba bottom, bool pressed, double scale) {
    Canvas t(156, 38, scale);
    Shape pill = RoundRect(2, 1, 154, 35, 17);
    if (!pressed) t.Shadow(pill, WithAlpha(Mix(bottom, Hex(0x000000), 0.4), 0.35), 1.6, 0, 1.5);
    t.Fill(pill, Vertical(1, top, 35, bottom));
    Rgba edge = pressed ? Hex(0x000000, 0.12) : Hex(0xFFFFFF, 0.28);
    t.Fill(Subtract(pill, RoundRect(2, pressed ? 2.5 : 2, 154, 35, 17)), edge);
    return t;
}

// Message-box button (opaque, on the box's white).
Canvas RedButton(Rgba top, Rgba bottom, Rgba border, double scale) {
    Canvas t(80, 28, scale);
    t.Fill(Rect(0, 0, 80, 28), Hex(0xFFFFFF));
    Shape body = RoundRect(0.5, 0.5, 79.5, 27.5, 4);
    t.Fill(body, border);
    t.Fill(RoundRect(1.5, 1.5, 78.5, 26.5, 3), Vertical(1.5, top, 26.5, bottom));
    return t;
}

Canvas Warning(double scale) {
    Canvas t(41, 33, scale);
    Shape triangle = Polygon({{20.5, 3.2}, {38.2, 30.2}, {2.8, 30.2}}, 2.2);
    t.Fill(triangle, Vertical(1, Hex(0xFFC233), 32, Hex(0xF59E0B)));
    t.Fill(Capsule(20.5, 12.0, 20.5, 21.0, 1.9), Hex(0x3B2A08), 8);
    t.Fill(Circle(20.5, 26.0, 2.0), Hex(0x3B2A08), 8);
    return t;
}

// 24 x 24 spare icons: plain glyphs and three status badges.
Canvas Glyph24(const Shape& glyph, double scale) {
    Canvas t(24, 24, scale);
    t.Fill(glyph, Hex(0x44546A), 8);
    return t;
}

Canvas Badge24(Rgba colour, const Shape& sign, double scale) {
    Canvas t(24, 24, scale);
    t.Fill(Subtract(Circle(12, 12, 10.5), sign), colour, 8);
    return t;
}

// ---- files ------------------------------------------------------------------------

void WritePng(const std::string& path, const Canvas& c, bool alpha) {
    std::vector<uint8_t> bytes = alpha ? c.Rgba8() : c.Rgb8();
    const int comp = alpha ? 4 : 3;
    if (!stbi_write_png(path.c_str(), c.Width(), c.Height(), comp, bytes.data(), c.Width() * comp)) {
        throw std::runtime_error("cannot write " + path);
    }
}

void WriteJpeg(const std::string& path, const Canvas& c) {
    std::vector<uint8_t> bytes = c.Rgb8();
    if (!stbi_write_jpg(path.c_str(), c.Width(), c.Height(), 3, bytes.data(), 94)) {
        throw std::runtime_error("cannot write " + path);
    }
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// An icon file of 32-bit bitmaps (BGRA with an AND mask), one per canvas.
void WriteIcon(const std::string& path, const std::vector<Canvas>& images) {
    std::vector<std::vector<uint8_t>> bodies;
    for (const Canvas& c : images) {
        const int s = c.Width();
        const int maskStride = ((s + 31) / 32) * 4;
        std::vector<uint8_t> body;
        Put32(body, 40);
        Put32(body, uint32_t(s));
        Put32(body, uint32_t(2 * s));  // colour rows and mask rows
        Put16(body, 1);
        Put16(body, 32);
        Put32(body, 0);
        Put32(body, uint32_t(s * s * 4 + maskStride * s));
        for (int i = 0; i < 4; ++i) Put32(body, 0);
        std::vector<uint8_t> rgba = c.Rgba8();
        for (int y = s - 1; y >= 0; --y) {  // bottom-up
            for (int x = 0; x < s; ++x) {
                const uint8_t* p = &rgba[(size_t(y) * s + x) * 4];
                body.insert(body.end(), {p[2], p[1], p[0], p[3]});
            }
        }
        for (int y = s - 1; y >= 0; --y) {
            std::vector<uint8_t> row(maskStride, 0);
            for (int x = 0; x < s; ++x) {
                if (rgba[(size_t(y) * s + x) * 4 + 3] == 0) row[x / 8] |= uint8_t(0x80 >> (x % 8));
            }
            body.insert(body.end(), row.begin(), row.end());
        }
        bodies.push_back(std::move(body));
    }
    std::vector<uint8_t> file;
    Put16(file, 0);
    Put16(file, 1);
    Put16(file, uint32_t(images.size()));
    uint32_t offset = 6 + 16 * uint32_t(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const int s = images[i].Width();
        file.insert(file.end(), {uint8_t(s), uint8_t(s), 0, 0});
        Put16(file, 1);
        Put16(file, 32);
        Put32(file, uint32_t(bodies[i].size()));
        Put32(file, offset);
        offset += uint32_t(bodies[i].size());
    }
    for (const auto& body : bodies) file.insert(file.end(), body.begin(), body.end());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Canvas Icon(int size) {
    Canvas c(size, size);
    const double inset = size <= 16 ? 0.5 : size * 0.04;
    DrawMark(c, inset, inset, size - 2 * inset);
    return c;
}

// ---- the whole skin at one scale -----------------------------------------------------

struct Skin {
    Canvas main;
    std::vector<std::pair<std::string, Canvas>> pngs;  // by the 100 % file name
};

Skin DrawSkin(const Fonts& fonts, double scale) {
    Canvas main(kWidth, kHeight, scale);
    DrawBackground(main, fonts);

    const Rgba none{};
    Skin skin{main, {}};
    auto add = [&](const char* name, Canvas image) { skin.pngs.emplace_back(name, std::move(image)); };
    add("1btnMinNormal.png", TitleButton(main, 658, MinGlyph(), none, kGlyph, false));
    add("1btnMinHot.png", TitleButton(main, 658, MinGlyph(), Hex(0xFFFFFF, 0.18), Hex(0xFFFFFF), true));
    add("1btnMinPush.png", TitleButton(main, 658, MinGlyph(), Hex(0xFFFFFF, 0.08), Hex(0xC4D3E2), true));
    add("1btnCloseNormal.png", TitleButton(main, 679, CloseGlyph(), none, kGlyph, false));
    add("1btnCloseHot.png", TitleButton(main, 679, CloseGlyph(), Hex(0xE5484D), Hex(0xFFFFFF), true));
    add("1btnClosePush.png", TitleButton(main, 679, CloseGlyph(), none, Hex(0x5F7A95), true));

    add("on_normal.png", Switch(Hex(0x2A9DF4), Hex(0x1873CC), false, scale));
    add("on_over.png", Switch(Hex(0x4DB0F7), Hex(0x2285DD), false, scale));
    add("on_down.png", Switch(Hex(0x1667B8), Hex(0x0F4F96), true, scale));
    add("off_normal.png", Switch(Hex(0xF28B24), Hex(0xD9620B), false, scale));
    add("off_over.png", Switch(Hex(0xF9A040), Hex(0xE67317), false, scale));
    add("off_down.png", Switch(Hex(0xCC5A09), Hex(0xA94405), true, scale));

    add("1redBtnNormal.png", RedButton(Hex(0xE5484D), Hex(0xC9302C), Hex(0xB42A26), scale));
    add("1redBtnHot.png", RedButton(Hex(0xF0676B), Hex(0xD93C38), Hex(0xC1332F), scale));
    add("1redBtnDisable.png", RedButton(Hex(0xF1E6E6), Hex(0xE6D9D9), Hex(0xD6C6C6), scale));
    add("warning.png", Warning(scale));

    add("close.png", Glyph24(Union(Capsule(7, 7, 17, 17, 1.3), Capsule(17, 7, 7, 17, 1.3)), scale));
    add("min.png", Glyph24(Capsule(6.5, 16.5, 17.5, 16.5, 1.3), scale));
    const Shape info = Union(Capsule(12, 10.5, 12, 17, 1.3), Circle(12, 7, 1.5));
    const Shape ok = Union(Capsule(7.5, 12.5, 10.5, 15.5, 1.3), Capsule(10.5, 15.5, 16.5, 8.8, 1.3));
    const Shape error = Union(Capsule(8.5, 8.5, 15.5, 15.5, 1.3), Capsule(15.5, 8.5, 8.5, 15.5, 1.3));
    add("43.png", Badge24(Hex(0x1E88E5), info, scale));
    add("44.png", Badge24(Hex(0x2E9E5B), ok, scale));
    add("45.png", Badge24(Hex(0xD93C38), error, scale));
    return skin;
}

// Opaque images sit on a known backdrop (the title band or the box's white).
bool IsOpaque(const std::string& name) {
    return name == "1btnMinHot.png" || name == "1btnMinPush.png" || name == "1btnCloseHot.png" ||
           name == "1btnClosePush.png" || name.rfind("1redBtn", 0) == 0;
}

// ---- preview ----------------------------------------------------------------------

void Checker(Canvas& c, int x, int y, int w, int h) {
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) c.Blend(x + i, y + j, ((i / 6 + j / 6) % 2) ? Hex(0x7C8591) : Hex(0x9AA2AC), 1);
    }
}

void WritePreview(const std::string& path, const Fonts& fonts, const Canvas& main, const Canvas& switchOn,
                  const Canvas& switchOff, const Canvas& minNormal, const Canvas& closeNormal,
                  const Canvas& redButton, const Canvas& warning, const std::vector<std::pair<std::string, Canvas>>& tiles) {
    Canvas sheet(1160, 800);
    sheet.Fill(Rect(0, 0, 1160, 800), Hex(0x5B6470));

    // The main window as the program lays it out, with sample texts.
    Canvas window = main;
    window.Draw(minNormal, 658, 5);
    window.Draw(closeNormal, 679, 5);
    const Rgba ink = Hex(0x000000);
    auto centred = [&](Canvas& c, const std::string& s, double x, double w, double base, double px, Rgba col) {
        fonts.regular.Draw(c, s, x + (w - fonts.regular.Width(s, px)) / 2, base, px, col);
    };
    centred(window, "Tavik VX310 Series SSD", 81, 302, 139, 16, ink);
    const char* names[] = {"Model No.:", "Capacity:", "Status:"};
    const char* values[] = {"Tavik VX310 512G", "476.94 GB", "Optimizable"};
    const int rows[] = {174, 222, 270};
    for (int i = 0; i < 3; ++i) {
        fonts.regular.Draw(window, names[i], 105, rows[i] + 20, 16, ink);
        fonts.regular.Draw(window, values[i], 210, rows[i] + 20, 16, ink);
    }
    const char* notice[] = {"Optimizing the VX310 and VX310 Pro SSD performance only on Intel 8th CPU platform, which",
                            "can make VX310/VX310 Pro to optimize its maximum performance.",
                            "All data will be reserved after optimizing. Please shut down and restart to make it",
                            "effective after this process."};
    for (int i = 0; i < 4; ++i) fonts.regular.Draw(window, notice[i], 112, 353 + i * 14, 12, ink);
    window.Draw(switchOn, 274, 425);
    centred(window, "On", 272, 159, 449, 16, Hex(0xFFFFFF));
    sheet.Draw(window, 20, 20);

    // The switch in its other state, and a confirmation box.
    Canvas off(160, 40);
    off.Fill(Rect(0, 0, 160, 40), kCard);
    off.Draw(switchOff, 2, 0);
    centred(off, "Off", 0, 159, 24, 16, Hex(0xFFFFFF));
    sheet.Draw(off, 740, 20);

    Canvas box(360, 190);
    box.Fill(Rect(0, 0, 360, 190), kCard);
    box.Fill(Subtract(Rect(0, 0, 360, 190), Rect(1, 1, 359, 189)), Hex(0x000000));
    box.Draw(warning, 160, 36);
    centred(box, "Computer will shut down after this process.", 0, 360, 96, 12, ink);
    centred(box, "Are you ready to proceed?", 0, 360, 112, 12, ink);
    box.Draw(redButton, 90, 140);
    centred(box, "Yes", 90, 80, 158, 12, Hex(0xFFFFFF));
    box.Draw(redButton, 190, 140);
    centred(box, "No", 190, 80, 158, 12, Hex(0xFFFFFF));
    sheet.Draw(box, 760, 90);

    // Every image at its own size on a checkerboard.
    int x = 20, y = 540, rowHeight = 0;
    for (const auto& [name, image] : tiles) {
        const int w = std::max(image.Width(), 90), h = image.Height() + 22;
        if (x + w > 1140) {
            x = 20;
            y += rowHeight + 14;
            rowHeight = 0;
        }
        Checker(sheet, x, y, image.Width(), image.Height());
        sheet.Draw(image, x, y);
        fonts.regular.Draw(sheet, name, x, y + image.Height() + 15, 11, Hex(0xFFFFFF));
        x += w + 14;
        rowHeight = std::max(rowHeight, h);
    }
    WritePng(path, sheet, false);
}

}  // namespace

int main(int argc, char** argv) try {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: skin_art SKIN_DIR ICON_PATH [PREVIEW_PNG]\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    const char* fontDir = std::getenv("SKIN_ART_FONTS");
    const std::string fontPath = fontDir ? fontDir : "/usr/share/fonts/truetype/liberation";
    const Fonts fonts{Font(fontPath + "/LiberationSans-Regular.ttf"), Font(fontPath + "/LiberationSans-Bold.ttf")};
    stbi_write_png_compression_level = 9;

    // Every image at 100 %, then again at 125 %, 150 %, 175 % and 200 % beside it
    // ("name@1.25x.png", "name@1.5x.png", "name@1.75x.png", "name@2x.png"): the skin
    // library takes the variant for a window's scale.
    const struct {
        double scale;
        const char* suffix;
    } scales[] = {{1.0, ""}, {1.25, "@1.25x"}, {1.5, "@1.5x"}, {1.75, "@1.75x"}, {2.0, "@2x"}};
    for (const auto& [scale, suffix] : scales) {
        const Skin skin = DrawSkin(fonts, scale);
        const std::string tag = suffix;
        WriteJpeg(dir + "mainWnd" + tag + ".jpg", skin.main);
        for (const auto& [name, image] : skin.pngs) {
            const std::string file = name.substr(0, name.size() - 4) + tag + ".png";
            WritePng(dir + file, image, !IsOpaque(name));
        }
    }
    WriteIcon(argv[2], {Icon(16), Icon(32), Icon(48)});

    if (argc == 4) {
        const Skin skin = DrawSkin(fonts, 1.0);
        auto png = [&](const std::string& name) -> const Canvas& {
            for (const auto& entry : skin.pngs) {
                if (entry.first == name) return entry.second;
            }
            throw std::runtime_error("no image " + name);
        };
        std::vector<std::pair<std::string, Canvas>> tiles = skin.pngs;
        tiles.emplace_back("icon 48", Icon(48));
        tiles.emplace_back("icon 32", Icon(32));
        tiles.emplace_back("icon 16", Icon(16));
        WritePreview(argv[3], fonts, skin.main, png("on_normal.png"), png("off_normal.png"),
                     png("1btnMinNormal.png"), png("1btnCloseNormal.png"), png("1redBtnNormal.png"),
                     png("warning.png"), tiles);
    }
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "skin_art: %s\n", e.what());
    return 1;
}
