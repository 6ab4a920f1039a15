// font_test.cpp: the bitmap font module on in-memory sheets of every pixel depth, and the
// shipped sheet. Drawing is checked pixel by pixel against a small model that places each
// glyph cell at the pen.
#include "SFonttr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace {

const int W = 640, H = 480;
const SDL_Color kBg = {16, 200, 16, 0};
const SDL_Color kMagenta = {255, 0, 255, 0};

struct Format { const char* name; int bpp; Uint32 r, g, b; };
void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }
const Format kFormats[] = {
    {"pal8", 8, 0, 0, 0},
    {"rgb565", 16, 0xF800, 0x07E0, 0x001F},
    {"rgb24", 24, 0xFF0000, 0x00FF00, 0x0000FF},
    {"bgr24", 24, 0x0000FF, 0x00FF00, 0xFF0000}, // the other byte order of a 3-byte pixel
    {"xrgb32", 32, 0xFF0000, 0x00FF00, 0x0000FF},
    {"xbgr32", 32, 0x0000FF, 0x00FF00, 0xFF0000},
};

// A sheet: row 0 from `top` ('M' magenta, anything else background), then h - 1 rows in
// which each glyph column (one past the first run), and each run column when ink_runs,
// holds ink of a colour all its own per column and row; the rest is background.
struct Sheet { std::string top; int h; bool ink_runs = false; };
bool inked(const Sheet& s, int c) { return s.top[c] == 'M' ? s.ink_runs : s.top.find('M') < size_t(c); }
SDL_Color ink(int c, int row) { return {Uint8(8 + 8 * (c % 31)), Uint8(4 * row), 128, 0}; }

struct Span { int start, end; };
std::vector<Span> runs_of(const std::string& top)
{
    std::vector<Span> runs;
    for (size_t x = top.find('M'); x != std::string::npos; x = top.find('M', x)) {
        size_t end = std::min(top.find_first_not_of('M', x), top.size());
        runs.push_back({int(x), int(end)});
        x = end;
    }
    return runs;
}

using SurfacePtr = std::unique_ptr<SDL_Surface, decltype(&SDL_FreeSurface)>;
using FontPtr = std::unique_ptr<SFont_Font, decltype(&SFont_FreeFont)>;

void put(SDL_Surface* s, int x, int y, SDL_Color c)
{
    SDL_Rect r = {Sint16(x), Sint16(y), 1, 1};
    SDL_FillRect(s, &r, SDL_MapRGB(s->format, c.r, c.g, c.b));
}

SDL_Surface* make(const Format& f, const Sheet& s)
{
    int w = int(s.top.size());
    SDL_Surface* surf = SDL_CreateRGBSurface(SDL_SWSURFACE, w, s.h, f.bpp, f.r, f.g, f.b, 0);
    if (f.bpp == 8) { // every colour a sheet can use: background, ink of rows 0..7, magenta
        std::vector<SDL_Color> pal(256, kBg);
        for (int i = 0; i < 31 * 8; i++)
            pal[1 + i] = ink(i / 8, i % 8);
        pal[255] = kMagenta;
        SDL_SetColors(surf, pal.data(), 0, 256);
    }
    for (int y = 0; y < s.h; y++)
        for (int x = 0; x < w; x++)
            put(surf, x, y, y == 0 ? (s.top[x] == 'M' ? kMagenta : kBg) : inked(s, x) ? ink(x, y) : kBg);
    return surf;
}

FontPtr font(const Format& f, const Sheet& s) { return FontPtr(SFont_InitFont(make(f, s)), SFont_FreeFont); }

// A blank screen like the intro's: 640x480 RGB565, whose rows have no padding.
SurfacePtr screen()
{
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, W, H, 16, 0xF800, 0x07E0, 0x001F, 0);
    SDL_FillRect(s, nullptr, 0);
    return SurfacePtr(s, SDL_FreeSurface);
}

::testing::AssertionResult same_image(const SDL_Surface* s, const std::vector<Uint16>& want)
{
    const Uint16* got = (const Uint16*)s->pixels;
    int i = int(std::mismatch(got, got + W * H, want.begin()).first - got);
    if (i == W * H)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "first differing pixel at (" << i % W << "," << i / W << "): got "
                                         << got[i] << " want " << want[i];
}
const std::vector<Uint16> kBlank(W * H, 0);

// Writes text with a font made from s on a blank screen, at (x, y) or centred on row y, and
// compares with a model of where it must land, the pen starting at x. A byte b > 32 whose
// cell (between marker runs b-33 and b-32) exists puts the cell's first column at the pen,
// with the inner halves of the runs beside it (the left one rounded up, and one column
// further right when the run's middle falls left of column 0 at a half column); keyed
// background is left out. Other bytes draw nothing and move by the '!' cell width (0
// without two runs). A pen past the right edge stops drawing; a run middle below -32768
// draws nothing.
void expect_model(const Format& fmt, const Sheet& s, int x, int y, const std::string& text, bool centred = false)
{
    std::vector<Uint16> image(W * H, 0);
    std::vector<Span> runs = runs_of(s.top);
    int width = 0, space = runs.size() >= 2 ? runs[1].start - runs[0].end : 0;
    bool stopped = false;
    for (unsigned char b : text) {
        size_t k = b - 33u;
        bool glyph = b > 32 && k + 1 < runs.size();
        int pen = x + width;
        stopped = stopped || pen > W;
        if (glyph && !stopped) {
            int rw = runs[k].end - runs[k].start;
            int from = runs[k].end - (rw + 1) / 2;
            int to = runs[k + 1].start + (runs[k + 1].end - runs[k + 1].start) / 2;
            int left = pen - (rw + 1) / 2 + (rw % 2 && 2 * pen < rw ? 1 : 0);
            for (int c = from; c < to && 2 * pen - rw >= -65536; c++)
                for (int r = 1; r < s.h; r++) {
                    int dx = left + c - from, dy = y + r - 1;
                    SDL_Color col = ink(c, r);
                    if (inked(s, c) && dx >= 0 && dx < W && dy >= 0 && dy < H)
                        image[dy * W + dx] = Uint16((col.r >> 3) << 11 | (col.g >> 2) << 5 | col.b >> 3);
                }
        }
        width += glyph ? runs[k + 1].start - runs[k].end : space;
    }

    FontPtr f = font(fmt, s);
    ASSERT_NE(f, nullptr);
    SurfacePtr dst = screen();
    if (centred)
        SFont_WriteCenter(dst.get(), f.get(), y, text.c_str());
    else
        SFont_Write(dst.get(), f.get(), x, y, text.c_str());
    EXPECT_TRUE(same_image(dst.get(), image));
    EXPECT_EQ(SFont_TextWidth(f.get(), text.c_str()), width);
    EXPECT_EQ(SFont_TextHeight(f.get()), s.h - 1);
}

// Runs of widths 1..4 inked below row 0, glyphs 1..4 wide, a cell '%' left open by the
// last run, which reaches the right edge; column 0 lies before the first run.
const Sheet kA = {".M.MM..MMM...MMMM....MM", 5, true};
const Sheet kCentre = {"M" + std::string(101, '.') + "M..M", 4}; // '!' 101 wide, '"' 2
const Sheet kWide = [] {                                         // 100 cells: codes 33..132
    std::string top = "M";
    for (int i = 0; i < 100; i++)
        top += std::string(1 + i % 3, '.') + "M";
    return Sheet{top + "....", 4};
}();
// 5000 columns and 2500 runs, past the table's 2048; and every byte a text can hold.
const std::string kTooManyRuns = [] { std::string t; while (t.size() < 5000) t += "M."; return t; }();
const std::string kAllBytes = [] { std::string t; for (int b = 1; b < 256; b++) t += char(b); return t; }();

class FontByFormat : public ::testing::TestWithParam<Format> {};
INSTANTIATE_TEST_SUITE_P(Depths, FontByFormat, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<Format>& i) { return std::string(i.param.name); });

TEST_P(FontByFormat, ScanRecordsRunEdgesMaxPosAndTheColourKey)
{
    std::vector<int> full(4096);
    std::iota(full.begin(), full.end(), 0);
    struct Case { std::string top; std::vector<int> pos; int max_pos; } cases[] = {
        {".M.MM..MMM...MMMM....MM", {1, 2, 3, 5, 7, 10, 13, 17, 21, 23}, 23},
        {"M.M..M", {0, 1, 2, 3, 5, 6}, 6},
        {"M..MM...M.", {0, 1, 3, 5, 8, 9}, 9},
        {"MMMM", {0, 4}, 4},
        {"M", {0, 1}, 1},
        {"......", {}, 5},
        {".", {}, 0},
        {kTooManyRuns, full, 4999}, // runs past the table are scanned, not recorded
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.top.substr(0, 30));
        SDL_Surface* s = make(GetParam(), {c.top, 3});
        const SDL_Color key = ink(0, 7); // the bottom-left pixel, unlike any other
        put(s, 0, 2, key);
        FontPtr f(SFont_InitFont(s), SFont_FreeFont);
        ASSERT_NE(f, nullptr);
        std::vector<int> want(4096, 0);
        std::copy(c.pos.begin(), c.pos.end(), want.begin());
        EXPECT_EQ(std::vector<int>(f->CharPos, f->CharPos + 4096), want);
        EXPECT_EQ(f->MaxPos, c.max_pos);
        EXPECT_EQ(s->flags & (SDL_SRCCOLORKEY | SDL_RLEACCELOK | SDL_RLEACCEL), Uint32(SDL_SRCCOLORKEY));
        EXPECT_EQ(s->format->colorkey, SDL_MapRGB(s->format, key.r, key.g, key.b));
    }
}

TEST_P(FontByFormat, WriteTextWidthAndWriteCenterMatchTheModel)
{
    struct Case { const char* name; Sheet s; int x, y; std::string text; bool centred = false; } cases[] = {
        {"cells_and_run_halves", kA, 10, 20, "!\"#$"},
        {"spaces_and_controls", kA, 10, 20, "! \t\n\x1f\x01#"},
        {"unclosed_cell_like_space", kA, 10, 20, "$%$%%#"},
        {"negative_x_clipped", kA, -5, 20, "#$!\"#"},
        {"last_column_on_left_edge", kA, -5, 20, "#"}, // the glyph that is only just visible
        {"saturates_far_left", kA, -40000, 20, "$#$"},
        {"no_16_bit_wrap", kA, -65436, 20, "$"},
        {"starts_at_right_edge", kA, 640, 20, "$"},
        {"past_right_edge", kA, 641, 20, "$"},
        {"stops_before_next", kA, 637, 20, "$$"},
        {"negative_y_all_clipped_alike", kA, 10, -2, "!\"#$#"},
        {"bottom_edge", kA, 10, 477, "#$"},
        {"run_at_column_0", Sheet{"M.M..M", 4}, 0, 0, "!\"!"},
        {"high_codes_unsigned", kWide, 5, 30, "\x80!\x80\x84\x85\xff\x80"},
        {"no_runs_space_0", Sheet{"..........", 4}, 10, 10, "!! !\""},
        {"one_run_space_0", Sheet{"..MM......", 4}, 10, 10, "!! !\""},
        {"marker_row_only", Sheet{"M.M", 1}, 0, 0, "!!"},
        {"runs_past_the_table", Sheet{kTooManyRuns, 2}, 0, 0, kAllBytes},
        {"centre_odd_width", kCentre, 270, 7, "!", true}, // 320 - 101/2
        {"centre_two_glyphs", kCentre, 269, 7, "!\"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expect_model(GetParam(), c.s, c.x, c.y, c.text, c.centred);
    }
}

TEST(Font, NullFontOrTextDrawsNothingAndMeasuresZero)
{
    FontPtr f = font(kFormats[1], kA);
    SurfacePtr dst = screen();
    for (const char* text : {(const char*)nullptr, ""}) {
        SFont_Write(dst.get(), f.get(), 10, 10, text);
        SFont_WriteCenter(dst.get(), f.get(), 10, text);
        EXPECT_EQ(SFont_TextWidth(f.get(), text), 0);
    }
    SFont_Write(dst.get(), nullptr, 10, 10, "!!!");
    SFont_WriteCenter(dst.get(), nullptr, 10, "!!!");
    EXPECT_EQ(SFont_TextWidth(nullptr, "!!!"), 0);
    EXPECT_EQ(SFont_TextHeight(nullptr), 0);
    SFont_FreeFont(nullptr);
    EXPECT_TRUE(same_image(dst.get(), kBlank));
}

// Rejected sheets are freed too: leak-checked under ASan.
TEST(Font, InitFontRejectsSheetsItCannotRead)
{
    EXPECT_EQ(SFont_InitFont(nullptr), nullptr);
    for (int w : {0, 5}) // no column, then no row
        EXPECT_EQ(SFont_InitFont(SDL_CreateRGBSurface(SDL_SWSURFACE, w, 5 - w, 16, 0xF800, 0x07E0, 0x1F, 0)), nullptr);

    // A 49x1 BMP with bit count 0x0801: the classic SDL 1.2 loads it as 1 bit per pixel (an
    // 8-byte row) yet 1 byte per pixel, so scanning row 0 would read past the pixels.
    // sdl12-compat (SDL 1.2.50 and later) refuses the file itself.
    std::vector<Uint8> bmp(118, 0);
    const Uint8 header[] = {'B', 'M', 118, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, // file size, pixel offset
                            40, 0, 0, 0, 49, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0x01, 0x08}; // w, h, planes, bits
    std::copy(std::begin(header), std::end(header), bmp.begin());
    SDL_Surface* s = SDL_LoadBMP_RW(SDL_RWFromConstMem(bmp.data(), int(bmp.size())), 1);
    if (SDL_Linked_Version()->patch >= 50 && !s)
        return;
    ASSERT_NE(s, nullptr) << SDL_GetError();
    ASSERT_LT(s->pitch, s->w * s->format->BytesPerPixel);
    EXPECT_EQ(SFont_InitFont(s), nullptr);
}

// The shipped pictures are in the screen's own format, so they blit without conversion.
::testing::AssertionResult is_rgb565(const SDL_Surface* s)
{
    const SDL_PixelFormat* f = s->format;
    if (f->BitsPerPixel == 16 && f->Rmask == 0xF800 && f->Gmask == 0x07E0 && f->Bmask == 0x001F)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << int(f->BitsPerPixel) << " bpp, masks " << std::hex << f->Rmask << " "
                                         << f->Gmask << " " << f->Bmask;
}

// The first and last screen rows that text drawn at row 100 lights.
std::pair<int, int> ink_rows(SFont_Font* f, const char* text)
{
    SurfacePtr dst = screen();
    SFont_Write(dst.get(), f, 100, 100, text);
    std::pair<int, int> rows = {H, -1};
    for (int i = 0; i < W * H; i++)
        if (((Uint16*)dst->pixels)[i])
            rows = {std::min(rows.first, i / W), std::max(rows.second, i / W)};
    return rows;
}

TEST(ShippedFont, IsRgb565AndDrawsEveryCode33To95)
{
    SDL_Surface* s = SDL_LoadBMP(ASSETS_DIR "/font.bmp");
    ASSERT_NE(s, nullptr) << SDL_GetError();
    FontPtr f(SFont_InitFont(s), SFont_FreeFont);
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(is_rgb565(s));
    std::string top(s->w, '.'); // the marker row, read independently of the module
    for (int x = 0; x < s->w; x++)
        if (((Uint16*)s->pixels)[x] == 0xF81F)
            top[x] = 'M';
    std::vector<Span> runs = runs_of(top);
    ASSERT_GE(runs.size(), 64u);
    for (int c = 33; c <= 95; c++) {
        const char text[2] = {char(c), 0};
        EXPECT_EQ(SFont_TextWidth(f.get(), text), runs[c - 32].start - runs[c - 33].end) << "code " << c;
        SurfacePtr dst = screen(); // black: the sheet's colour key, so any glyph pixel shows
        SFont_Write(dst.get(), f.get(), 100, 100, text);
        EXPECT_FALSE(same_image(dst.get(), kBlank)) << "code " << c << " draws nothing";
    }
    // The underscore sits within the letters' rows, so it has their colours too.
    std::pair<int, int> letter = ink_rows(f.get(), "H"), underscore = ink_rows(f.get(), "_");
    EXPECT_TRUE(underscore.first >= letter.first && underscore.second <= letter.second)
        << "'_' in rows " << underscore.first << "-" << underscore.second << ", 'H' in " << letter.first << "-"
        << letter.second;
}

// The logo is an opaque plaque that fills its image: a black margin would show as an
// invisible box where the snow vanishes.
TEST(ShippedLogo, IsAnRgb565PlaqueOfAtMost260x100)
{
    SurfacePtr s(SDL_LoadBMP(ASSETS_DIR "/logo.bmp"), SDL_FreeSurface);
    ASSERT_NE(s, nullptr) << SDL_GetError();
    EXPECT_TRUE(is_rgb565(s.get()));
    EXPECT_TRUE(s->w <= 260 && s->h <= 100) << s->w << "x" << s->h;
    int ring = 0, black = 0;
    for (int y = 0; y < s->h; y++)
        for (int x = 0; x < s->w; x++)
            if (x == 1 || y == 1 || x == s->w - 2 || y == s->h - 2) { // just inside the edge
                ring++;
                black += ((Uint16*)((Uint8*)s->pixels + y * s->pitch))[x] == 0;
            }
    EXPECT_LE(black, ring / 20) << "of " << ring << " pixels along the edge";
}

} // namespace
