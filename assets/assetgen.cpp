// Renders the intro's bitmap-font sheet (font.bmp) and logo (logo.bmp) from a
// TrueType font with SDL_ttf, and writes them as 16-bit RGB565 BMPs so the
// intro can blit them onto its 16-bit screen without any format conversion.
//
// usage: assetgen FONT.ttf OUTDIR
#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const std::string& msg) {
    std::fprintf(stderr, "assetgen: %s\n", msg.c_str());
    std::exit(1);
}

struct Rgb {
    float r, g, b;
};

Rgb mix(Rgb a, Rgb b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

struct Stop {
    float t;
    Rgb c;
};

// Piecewise-linear colour ramp, clamped at both ends.
Rgb ramp(const std::vector<Stop>& stops, float t) {
    if (t <= stops.front().t) return stops.front().c;
    for (size_t i = 1; i < stops.size(); ++i)
        if (t <= stops[i].t)
            return mix(stops[i - 1].c, stops[i].c,
                       (t - stops[i - 1].t) / (stops[i].t - stops[i - 1].t));
    return stops.back().c;
}

// Float RGB image on black; everything is composited here, then quantized once.
struct Canvas {
    int w, h;
    std::vector<Rgb> px;
    Canvas(int w_, int h_) : w(w_), h(h_), px(size_t(w_) * h_, Rgb{0, 0, 0}) {}
    Rgb& at(int x, int y) { return px[size_t(y) * w + x]; }
    // "over" compositing with coverage a in 0..1.
    void blend(int x, int y, Rgb c, float a) {
        if (x < 0 || y < 0 || x >= w || y >= h || a <= 0) return;
        Rgb& d = at(x, y);
        d = mix(d, c, std::min(a, 1.0f));
    }
};

// Antialiased coverage of a rendered string, 0..1 per pixel.
struct Coverage {
    int w = 0, h = 0;
    std::vector<float> a;
    float at(int x, int y) const {
        if (x < 0 || y < 0 || x >= w || y >= h) return 0;
        return a[size_t(y) * w + x];
    }
    // Ink bounding box; false if there is no ink at all.
    bool bbox(int& x0, int& y0, int& x1, int& y1) const {
        x0 = w; y0 = h; x1 = -1; y1 = -1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (at(x, y) > 0) {
                    x0 = std::min(x0, x); x1 = std::max(x1, x);
                    y0 = std::min(y0, y); y1 = std::max(y1, y);
                }
        return x1 >= 0;
    }
};

Coverage render(TTF_Font* font, const std::string& text) {
    SDL_Color white = {255, 255, 255, 0};
    SDL_Surface* s = TTF_RenderText_Blended(font, text.c_str(), white);
    if (!s) die(std::string("TTF_RenderText_Blended: ") + TTF_GetError());
    if (s->format->BytesPerPixel != 4 || !s->format->Amask) die("unexpected glyph surface format");
    Coverage c;
    c.w = s->w;
    c.h = s->h;
    c.a.resize(size_t(c.w) * c.h);
    SDL_LockSurface(s);
    for (int y = 0; y < c.h; ++y) {
        const Uint32* row = reinterpret_cast<const Uint32*>(static_cast<const Uint8*>(s->pixels) + y * s->pitch);
        for (int x = 0; x < c.w; ++x)
            c.a[size_t(y) * c.w + x] = float((row[x] & s->format->Amask) >> s->format->Ashift) / 255.0f;
    }
    SDL_UnlockSurface(s);
    SDL_FreeSurface(s);
    return c;
}

TTF_Font* openFont(const char* path, int pt) {
    TTF_Font* f = TTF_OpenFont(path, pt);
    if (!f) die(std::string("TTF_OpenFont: ") + TTF_GetError());
    return f;
}

uint16_t to565(Rgb c) {
    auto q = [](float v, int maxv) {
        int i = int(std::lround(std::clamp(v, 0.0f, 255.0f) * maxv / 255.0f));
        return std::clamp(i, 0, maxv);
    };
    return uint16_t(q(c.r, 31) << 11 | q(c.g, 63) << 5 | q(c.b, 31));
}

const uint16_t kMagenta565 = 0xF81F;

void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// 40-byte BITMAPINFOHEADER with BI_BITFIELDS and the three RGB565 masks after
// it: the layout every BMP reader (SDL 1.2 and sdl12-compat included) knows.
// Rows are stored bottom-up as usual.
void writeBmp565(const std::string& path, int w, int h, const std::vector<uint16_t>& topDown) {
    const uint32_t stride = (uint32_t(w) * 2 + 3) & ~3u;
    const uint32_t offBits = 14 + 40 + 12;
    const uint32_t imageSize = stride * uint32_t(h);
    std::vector<uint8_t> b;
    b.push_back('B'); b.push_back('M');
    put32(b, offBits + imageSize);
    put32(b, 0);
    put32(b, offBits);
    put32(b, 40);
    put32(b, uint32_t(w));
    put32(b, uint32_t(h));
    put16(b, 1);   // planes
    put16(b, 16);  // bits per pixel
    put32(b, 3);   // BI_BITFIELDS
    put32(b, imageSize);
    put32(b, 2835); put32(b, 2835);  // 72 dpi
    put32(b, 0); put32(b, 0);
    put32(b, 0xF800); put32(b, 0x07E0); put32(b, 0x001F);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) put16(b, topDown[size_t(y) * w + x]);
        for (uint32_t pad = uint32_t(w) * 2; pad < stride; ++pad) b.push_back(0);
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f) != 0)
        die("cannot write " + path);
}

std::vector<uint16_t> quantize(Canvas& cv) {
    std::vector<uint16_t> out(cv.px.size());
    for (size_t i = 0; i < cv.px.size(); ++i) out[i] = to565(cv.px[i]);
    return out;
}

// Icy ramp: white tops, cyan middle, deep blue at the baseline and below.
const std::vector<Stop> kIce = {
    {-0.3f, {255, 255, 255}},
    {0.0f, {236, 250, 255}},
    {0.45f, {128, 214, 255}},
    {1.0f, {32, 84, 224}},
    {1.4f, {22, 46, 170}},
};
const Rgb kShadow = {8, 22, 70};  // navy, so glyphs stay legible over white snow

// Font sheet: row 0 holds 2-px magenta marker runs, glyphs '!'..'_' sit between
// them; the cell width between two runs is the glyph's advance when drawing.
void makeFont(const char* ttf, const std::string& outPath) {
    const int kPt = 24, kFirst = 33, kLast = 95, kMarker = 2, kTail = 2, kSpacing = 1;
    TTF_Font* font = openFont(ttf, kPt);

    std::vector<Coverage> cov;
    std::vector<int> inkX0(kLast + 1), inkW(kLast + 1), cellW(kLast + 1), lsb(kLast + 1);
    int top = 1 << 30, bottom = -1;
    int spaceAdv = 0, dummy;
    TTF_GlyphMetrics(font, ' ', &dummy, &dummy, &dummy, &dummy, &spaceAdv);
    for (int c = kFirst; c <= kLast; ++c) {
        cov.push_back(render(font, std::string(1, char(c))));
        int x0, y0, x1, y1, minx, maxx, miny, maxy, adv;
        if (!cov.back().bbox(x0, y0, x1, y1)) die("glyph without ink");
        if (TTF_GlyphMetrics(font, Uint16(c), &minx, &maxx, &miny, &maxy, &adv) != 0) die("no metrics");
        top = std::min(top, y0);
        bottom = std::max(bottom, y1 + 1);  // +1: the shadow hangs one row lower
        inkX0[c] = x0;
        inkW[c] = x1 - x0 + 1;
        lsb[c] = std::max(minx, 0);
        int ink = lsb[c] + inkW[c] + 1;  // +1: shadow column
        cellW[c] = std::max(adv, ink) + kSpacing;
    }
    // '!' also serves as the space width: give it at least a space's advance,
    // with the mark centred.
    if (cellW['!'] < spaceAdv + kSpacing) {
        int w = spaceAdv + kSpacing;
        lsb['!'] = (w - inkW['!'] - 1) / 2;
        cellW['!'] = w;
    }

    // Crop to the rows any glyph uses, with one blank row above and below.
    const int rowFirst = top - 1, glyphH = bottom - top + 2;
    if (glyphH < 24 || glyphH > 32) die("glyph height " + std::to_string(glyphH) + " out of range");
    int cap0, cap1, hx0, hx1;
    {
        Coverage h = render(font, "H");
        if (!h.bbox(hx0, cap0, hx1, cap1)) die("no H");
    }

    int width = kMarker + kTail;
    for (int c = kFirst; c <= kLast; ++c) width += cellW[c] + kMarker;
    const int height = glyphH + 1;
    Canvas cv(width, height);
    std::vector<bool> marker(width, false);
    int x = 0;
    for (int i = 0; i < kMarker; ++i) marker[x++] = true;
    for (int c = kFirst; c <= kLast; ++c) {
        const Coverage& g = cov[c - kFirst];
        const int ox = x + lsb[c] - inkX0[c];
        for (int y = 0; y < glyphH; ++y) {
            const int sy = rowFirst + y;
            const float t = float(sy - cap0) / float(cap1 - cap0);
            const Rgb col = ramp(kIce, t);
            for (int gx = inkX0[c] - 1; gx < inkX0[c] + inkW[c] + 1; ++gx) {
                const float a = g.at(gx, sy), sa = g.at(gx - 1, sy - 1);
                cv.blend(ox + gx, 1 + y, kShadow, sa);
                cv.blend(ox + gx, 1 + y, col, a);
            }
        }
        x += cellW[c];
        for (int i = 0; i < kMarker; ++i) marker[x++] = true;
    }
    TTF_CloseFont(font);

    std::vector<uint16_t> px = quantize(cv);
    for (int i = 0; i < width; ++i) px[i] = marker[i] ? kMagenta565 : 0;
    for (size_t i = width; i < px.size(); ++i)
        if (px[i] == kMagenta565) die("glyph pixel quantized to the marker colour");
    writeBmp565(outPath, width, height, px);
    std::printf("font.bmp: %dx%d, glyph height %d, '!' cell %d (space advance %d)\n",
                width, height, glyphH, cellW['!'], spaceAdv);
}

// Logo: "SNOWFALL" in the icy ramp with a navy drop shadow, a fading rule, a
// spaced-out subtitle and a few sparkles. 260 px wide so that, drawn at x=190
// on the 640-px screen, it is centred.
void makeLogo(const char* ttf, const std::string& outPath) {
    const int W = 260, H = 72, kShadowOff = 3, kGap = 5, kRule = 2;
    Canvas cv(W, H);

    // Largest title size that fits the width with a margin.
    int pt = 60;
    Coverage title;
    int tx0, ty0, tx1, ty1;
    for (;; --pt) {
        TTF_Font* f = openFont(ttf, pt);
        title = render(f, "SNOWFALL");
        TTF_CloseFont(f);
        title.bbox(tx0, ty0, tx1, ty1);
        if (tx1 - tx0 + 1 + kShadowOff <= W - 8) break;
    }
    TTF_Font* sf = openFont(ttf, 13);
    Coverage sub = render(sf, "W I N T E R    I N T R O");
    TTF_CloseFont(sf);
    int sx0, sy0, sx1, sy1;
    sub.bbox(sx0, sy0, sx1, sy1);

    // Centre the title/rule/subtitle block vertically.
    const int titleH = ty1 - ty0 + 1 + kShadowOff, subH = sy1 - sy0 + 1;
    const int blockH = titleH + kGap + kRule + kGap + subH;
    const int titleTop = (H - blockH) / 2, ruleY = titleTop + titleH + kGap;
    const int subTop = ruleY + kRule + kGap;

    const int ox = (W - (tx1 - tx0 + 1 + kShadowOff)) / 2 - tx0, oy = titleTop - ty0;
    for (int y = ty0 - 1; y <= ty1 + kShadowOff; ++y) {
        const Rgb col = ramp(kIce, float(y - ty0) / float(ty1 - ty0));
        for (int x = tx0 - 1; x <= tx1 + kShadowOff; ++x) {
            // Drop shadow down-right plus a 1-px halo so the edge reads on black.
            float sa = title.at(x - kShadowOff, y - kShadowOff);
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) sa = std::max(sa, 0.8f * title.at(x + dx, y + dy));
            cv.blend(ox + x, oy + y, kShadow, sa);
            cv.blend(ox + x, oy + y, col, title.at(x, y));
        }
    }

    // Rule that fades out towards both ends.
    for (int x = 0; x < W; ++x) {
        const float d = std::fabs((x - (W - 1) / 2.0f) / ((W - 1) / 2.0f));
        const float a = std::max(0.0f, 1.0f - d * d);
        cv.blend(x, ruleY, Rgb{150, 220, 255}, a);
        cv.blend(x, ruleY + 1, Rgb{40, 90, 200}, a * 0.7f);
    }

    const int sox = (W - (sx1 - sx0 + 1)) / 2 - sx0, soy = subTop - sy0;
    for (int y = sy0; y <= sy1; ++y) {
        const Rgb col = mix(Rgb{200, 240, 255}, Rgb{90, 160, 240}, float(y - sy0) / float(sy1 - sy0));
        for (int x = sx0; x <= sx1; ++x) cv.blend(sox + x, soy + y, col, sub.at(x, y));
    }
    if (titleTop < 1 || subTop + subH > H - 1) die("logo block does not fit");

    // Four-pointed glints, placed by hand in the margins around the block.
    const struct { int x, y, r; } glints[] = {
        {8, 8, 3}, {251, 6, 4}, {30, 66, 2}, {226, 67, 3}, {246, 50, 2}, {12, 45, 2}};
    for (const auto& g : glints) {
        cv.blend(g.x, g.y, Rgb{255, 255, 255}, 1.0f);
        for (int i = 1; i <= g.r; ++i) {
            const float a = 1.0f - float(i) / float(g.r + 1);
            const Rgb c = {190, 235, 255};
            cv.blend(g.x + i, g.y, c, a);
            cv.blend(g.x - i, g.y, c, a);
            cv.blend(g.x, g.y + i, c, a);
            cv.blend(g.x, g.y - i, c, a);
        }
    }

    writeBmp565(outPath, W, H, quantize(cv));
    std::printf("logo.bmp: %dx%d, title at %d pt\n", W, H, pt);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) die("usage: assetgen FONT.ttf OUTDIR");
    if (TTF_Init() != 0) die(std::string("TTF_Init: ") + TTF_GetError());
    const std::string out = argv[2];
    makeFont(argv[1], out + "/font.bmp");
    makeLogo(argv[1], out + "/logo.bmp");
    TTF_Quit();
    return 0;
}
