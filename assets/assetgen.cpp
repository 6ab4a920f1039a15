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
    std::vector<int> inkX0(kLast + 1), inkW(kLast + 1), cellW(kLast + 1), lsb(kLast + 1), lift(kLast + 1);
    int top = 1 << 30, bottom = -1;
    // 'H' spans the cap height: the icy ramp runs from its top to its baseline.
    int cap0, cap1, hx0, hx1;
    {
        Coverage h = render(font, "H");
        if (!h.bbox(hx0, cap0, hx1, cap1)) die("no H");
    }
    int spaceAdv = 0, dummy;
    TTF_GlyphMetrics(font, ' ', &dummy, &dummy, &dummy, &dummy, &spaceAdv);
    for (int c = kFirst; c <= kLast; ++c) {
        cov.push_back(render(font, std::string(1, char(c))));
        int x0, y0, x1, y1, minx, maxx, miny, maxy, adv;
        if (!cov.back().bbox(x0, y0, x1, y1)) die("glyph without ink");
        if (TTF_GlyphMetrics(font, Uint16(c), &minx, &maxx, &miny, &maxy, &adv) != 0) die("no metrics");
        // The underscore sits on the baseline, in the colours of the letters beside
        // it, not below it in the ramp's darkest blue.
        if (c == '_') lift[c] = y1 - cap1;
        top = std::min(top, y0 - lift[c]);
        bottom = std::max(bottom, y1 - lift[c] + 1);  // +1: the shadow hangs one row lower
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
                const float a = g.at(gx, sy + lift[c]), sa = g.at(gx - 1, sy + lift[c] - 1);
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

// Deterministic hash noise in 0..1 for the frost; the same image on every run.
float hashNoise(int x, int y, unsigned seed) {
    unsigned h = unsigned(x) * 374761393u + unsigned(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return float((h ^ (h >> 16)) & 0xFFFF) / 65535.0f;
}

// Smooth noise: hash values on a grid of `cell` pixels, interpolated.
float smoothNoise(float x, float y, int cell, unsigned seed) {
    const float fx = x / cell, fy = y / cell;
    const int ix = int(std::floor(fx)), iy = int(std::floor(fy));
    const float tx = fx - ix, ty = fy - iy;
    const float top = hashNoise(ix, iy, seed) + (hashNoise(ix + 1, iy, seed) - hashNoise(ix, iy, seed)) * tx;
    const float bot = hashNoise(ix, iy + 1, seed) + (hashNoise(ix + 1, iy + 1, seed) - hashNoise(ix, iy + 1, seed)) * tx;
    return top + (bot - top) * ty;
}

// Distance inside a rounded rectangle covering the canvas (negative outside).
float insideRounded(float x, float y, int w, int h, float r) {
    const float cx = std::clamp(x, r, w - r), cy = std::clamp(y, r, h - r);
    const float edge = std::min(std::min(x, w - x), std::min(y, h - y));
    if (cx == x || cy == y) return edge;
    return r - std::hypot(x - cx, y - cy);
}

// Logo: a frosted ice plaque with a bevelled rim and snow settled on its top edge,
// filling the whole image, so the snow that falls behind it vanishes at a visible
// object. On it "SNOWFALL" in the icy ramp with a dark drop shadow and a spaced-out
// subtitle. 260 px wide so that, drawn at x=190 on the 640-px screen, it is centred;
// no taller than the old 72 px, so the copy costs what it did.
void makeLogo(const char* ttf, const std::string& outPath) {
    const int W = 260, H = 72, kShadowOff = 2, kRim = 3, kMargin = 14;
    const float kCorner = 6;
    Canvas cv(W, H);

    // Snow cap: a gently undulating top and a lower edge that droops in drifts,
    // with a few icicles below it.
    std::vector<float> capTop(W), capBottom(W);
    for (int x = 0; x < W; ++x) {
        const float u = float(x);
        capTop[x] = 1.6f * (0.5f + 0.5f * std::sin(u * 0.153f + 1.0f)) * (0.6f + 0.4f * std::sin(u * 0.37f));
        capBottom[x] = 8.0f + 2.4f * std::sin(u * 0.118f + 0.7f) + 1.4f * std::sin(u * 0.273f + 2.1f) +
                       0.7f * std::sin(u * 0.571f);
    }
    const struct { int x, len; } icicles[] = {{23, 6}, {61, 4}, {104, 7}, {147, 5}, {183, 4}, {229, 6}};

    const Rgb plaqueTop = {34, 64, 118}, plaqueBottom = {10, 22, 56};
    const Rgb rimLight = {170, 215, 250}, rimDark = {14, 30, 72}, outline = {4, 10, 28};
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const float px = x + 0.5f, py = y + 0.5f;
            const float d = insideRounded(px, py, W, H, kCorner);
            if (d <= -0.5f) continue;
            // Frosted ice: a vertical gradient, cloudy frost that thickens towards the
            // rim, fine crystals, and a faint diagonal sheen.
            Rgb c = mix(plaqueTop, plaqueBottom, py / H);
            // Ridges of the noise read as frost feathers.
            const float cloud = smoothNoise(px, py, 11, 1);
            const float feathers = 1 - std::fabs(2 * smoothNoise(px + 3 * cloud, py, 4, 2) - 1);
            const float nearRim = std::exp(-std::max(d - kRim, 0.0f) / 10.0f);
            c = mix(c, Rgb{120, 170, 220}, cloud * 0.14f + feathers * feathers * (0.06f + 0.30f * nearRim));
            const float sheen = std::fabs(px + 0.7f * py - 78.0f);
            c = mix(c, Rgb{150, 200, 245}, sheen < 14 ? 0.10f * (1 - sheen / 14) : 0.0f);
            // Rim: dark outline, then a bevel lit from the top left.
            if (d < 1) {
                c = outline;
            } else if (d < kRim + 1) {
                // The nearest edge decides: top brightest, then left, right, bottom.
                const float edges[] = {py, px, W - px, H - py}, light[] = {1.0f, 0.7f, 0.3f, 0.1f};
                c = mix(rimDark, rimLight, light[std::min_element(edges, edges + 4) - edges]);
            }
            // Settled snow over everything on the top edge, with its shadow below.
            float depth = capBottom[x] - py;
            for (const auto& ic : icicles) {
                const float half = 1.6f * (1 - (py - capBottom[ic.x]) / ic.len);
                if (std::fabs(px - ic.x) < half && py < capBottom[ic.x] + ic.len) depth = std::max(depth, 0.5f);
            }
            if (depth > -2 && depth <= 0) c = mix(c, Rgb{6, 14, 40}, 0.35f * (1 + depth / 2));
            if (depth > 0 && py >= capTop[x]) {
                // Lit from above: white on top, blue-grey where the drift curls under.
                const Rgb snow = mix(Rgb{252, 253, 255}, Rgb{168, 198, 232}, std::clamp(1.4f - depth / 3, 0.0f, 1.0f));
                c = mix(c, snow, std::min(depth, 1.0f) * std::min(py - capTop[x] + 0.5f, 1.0f));
            }
            cv.blend(x, y, c, std::min(d + 0.5f, 1.0f));
        }

    // Largest title size that fits inside the margins and below the snow.
    const int textTop = 15, textBottom = H - kRim - 4;
    TTF_Font* sf = openFont(ttf, 11);
    Coverage sub = render(sf, "W I N T E R    I N T R O");
    TTF_CloseFont(sf);
    int sx0, sy0, sx1, sy1;
    sub.bbox(sx0, sy0, sx1, sy1);
    const int subH = sy1 - sy0 + 1, kGap = 4;
    int pt = 60;
    Coverage title;
    int tx0, ty0, tx1, ty1;
    for (;; --pt) {
        TTF_Font* f = openFont(ttf, pt);
        title = render(f, "SNOWFALL");
        TTF_CloseFont(f);
        title.bbox(tx0, ty0, tx1, ty1);
        if (tx1 - tx0 + 1 + kShadowOff <= W - 2 * kMargin &&
            ty1 - ty0 + 1 + kShadowOff + kGap + subH <= textBottom - textTop)
            break;
    }

    // Title and subtitle centred in the space below the snow.
    const int titleH = ty1 - ty0 + 1 + kShadowOff, blockH = titleH + kGap + subH;
    const int titleTop = textTop + (textBottom - textTop - blockH) / 2;
    const int ox = (W - (tx1 - tx0 + 1 + kShadowOff)) / 2 - tx0, oy = titleTop - ty0;
    for (int y = ty0 - 1; y <= ty1 + kShadowOff; ++y) {
        const Rgb col = ramp(kIce, float(y - ty0) / float(ty1 - ty0));
        for (int x = tx0 - 1; x <= tx1 + kShadowOff; ++x) {
            // Drop shadow down-right plus a 1-px halo so the edge reads on the ice.
            float sa = title.at(x - kShadowOff, y - kShadowOff);
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) sa = std::max(sa, 0.7f * title.at(x + dx, y + dy));
            cv.blend(ox + x, oy + y, Rgb{2, 6, 22}, sa * 0.85f);
            cv.blend(ox + x, oy + y, col, title.at(x, y));
        }
    }
    const int sox = (W - (sx1 - sx0 + 1)) / 2 - sx0, soy = titleTop + titleH + kGap - sy0;
    for (int y = sy0; y <= sy1; ++y) {
        const Rgb col = mix(Rgb{215, 240, 255}, Rgb{130, 190, 245}, float(y - sy0) / float(sy1 - sy0));
        for (int x = sx0; x <= sx1; ++x) cv.blend(sox + x, soy + y, col, sub.at(x, y));
    }

    // Four-pointed glints where light catches the snow and the rim.
    const struct { int x, y, r; } glints[] = {{17, 4, 3}, {92, 3, 2}, {201, 5, 3}, {246, 60, 3}, {9, 52, 2}};
    for (const auto& g : glints) {
        cv.blend(g.x, g.y, Rgb{255, 255, 255}, 1.0f);
        for (int i = 1; i <= g.r; ++i) {
            const float a = 1.0f - float(i) / float(g.r + 1);
            const Rgb c = {225, 245, 255};
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
