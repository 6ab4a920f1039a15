// font_test.cpp: the bitmap font module on in-memory sheets of every pixel depth. Drawing is
// checked pixel by pixel against a small model that places each glyph cell at the pen.
#include "SFonttr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const int W = 640, H = 480;
const SDL_Color kBg = {16, 200, 16, 0};
const SDL_Color kMagenta = {255, 0, 255, 0};

struct SdlEnv : ::testing::Environment {
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1); // no picture needed
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }
    void TearDown() override { SDL_Quit(); }
};
::testing::Environment* const sdl_env = ::testing::AddGlobalTestEnvironment(new SdlEnv);

struct Format { const char* name; int bpp; Uint32 r, g, b; };
void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }
const Format kFormats[] = {
    {"pal8", 8, 0, 0, 0},
    {"rgb565", 16, 0xF800, 0x07E0, 0x001F},
    {"rgb24", 24, 0xFF0000, 0x00FF00, 0x0000FF},
    {"bgr24", 24, 0x0000FF, 0x00FF00, 0xFF0000},
    {"xrgb32", 32, 0xFF0000, 0x00FF00, 0x0000FF},
    {"xbgr32", 32, 0x0000FF, 0x00FF00, 0xFF0000},
};

// A sheet: row 0 from `top` ('M' magenta, anything else background); rows 1..h-1 from `body`,
// one letter per column: '.' background, 'a'..'z' ink whose colour also varies by row.
struct Sheet { std::string top, body; int h; };

struct Span { int start, end; };
std::vector<Span> runs_of(const std::string& top)
{
    std::vector<Span> runs;
    for (int x = 0, n = int(top.size()); x < n; x++) {
        if (top[x] != 'M')
            continue;
        int start = x;
        while (x < n && top[x] == 'M')
            x++;
        runs.push_back({start, x});
    }
    return runs;
}

// Glyph k's columns get letter k (cycling, 'z' kept apart); runs get 'z' when inked.
Sheet sheet(const std::string& top, int h = 5, bool ink_runs = false)
{
    std::string body(top.size(), '.');
    std::vector<Span> runs = runs_of(top);
    for (size_t k = 0; k < runs.size(); k++) {
        for (int x = runs[k].start; ink_runs && x < runs[k].end; x++)
            body[x] = 'z';
        int next = k + 1 < runs.size() ? runs[k + 1].start : int(top.size());
        for (int x = runs[k].end; x < next; x++)
            body[x] = char('a' + k % 25);
    }
    return {top, body, h};
}

SDL_Color ink(char c, int row)
{
    return c == 'M' ? kMagenta : c == '.' ? kBg : SDL_Color{Uint8(8 * (c - 'a' + 1)), Uint8(4 * row), 128, 0};
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
    auto colour = [&](int x, int y) { return y == 0 ? ink(s.top[x] == 'M' ? 'M' : '.', 0) : ink(s.body[x], y); };
    if (f.bpp == 8) { // background first, magenta last, so its index is not a fixed one
        std::vector<SDL_Color> pal = {kBg};
        auto add = [&](SDL_Color c) {
            auto same = [&](SDL_Color q) { return q.r == c.r && q.g == c.g && q.b == c.b; };
            if (std::none_of(pal.begin(), pal.end(), same))
                pal.push_back(c);
        };
        for (int i = 0; i < w * (s.h - 1); i++)
            add(colour(i % w, 1 + i / w));
        add(kMagenta);
        pal.resize(256, SDL_Color{0, 0, 1, 0});
        SDL_SetColors(surf, pal.data(), 0, 256);
    }
    for (int y = 0; y < s.h; y++)
        for (int x = 0; x < w; x++)
            put(surf, x, y, colour(x, y));
    return surf;
}

FontPtr font(const Format& f, const Sheet& s) { return FontPtr(SFont_InitFont(make(f, s)), SFont_FreeFont); }

SurfacePtr screen()
{
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, W, H, 16, 0xF800, 0x07E0, 0x001F, 0);
    SDL_FillRect(s, nullptr, 0);
    return SurfacePtr(s, SDL_FreeSurface);
}

std::vector<Uint16> pixels(const SDL_Surface* s)
{
    std::vector<Uint16> px(W * H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            px[y * W + x] = ((const Uint16*)((const Uint8*)s->pixels + y * s->pitch))[x];
    return px;
}

::testing::AssertionResult same_image(const std::vector<Uint16>& got, const std::vector<Uint16>& want)
{
    int diffs = 0, first = -1;
    for (int i = 0; i < W * H; i++)
        if (got[i] != want[i] && diffs++ == 0)
            first = i;
    if (diffs == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << diffs << " pixels differ, first at (" << first % W << ","
                                         << first / W << "): got " << got[first] << " want " << want[first];
}

// Where text must land: a byte b > 32 whose cell (between marker runs b-33 and b-32) exists
// puts the cell's first column at the pen, with the inner halves of the runs beside it
// (the left one rounded up, and one column further right when the run's middle falls left
// of column 0 at a half column); keyed background is left out. Other bytes draw nothing
// and move by the '!' cell width (0 without two runs). A pen past the right edge stops
// drawing; a run middle below -32768 draws nothing.
struct Model { std::vector<Uint16> image; int width; };
Model model(SDL_Surface* dst, const Sheet& s, int x, int y, const std::string& text)
{
    Model m{std::vector<Uint16>(W * H, 0), 0};
    std::vector<Span> runs = runs_of(s.top);
    int space = runs.size() >= 2 ? runs[1].start - runs[0].end : 0;
    bool stopped = false;
    for (unsigned char b : text) {
        size_t k = b - 33u;
        bool glyph = b > 32 && k + 1 < runs.size();
        int pen = x + m.width;
        stopped = stopped || pen > W;
        if (glyph && !stopped) {
            int rw = runs[k].end - runs[k].start;
            int from = runs[k].end - (rw + 1) / 2;
            int to = runs[k + 1].start + (runs[k + 1].end - runs[k + 1].start) / 2;
            int left = pen - (rw + 1) / 2 + (rw % 2 && 2 * pen < rw ? 1 : 0);
            for (int c = from; c < to && 2 * pen - rw >= -65536; c++)
                for (int r = 1; r < s.h; r++) {
                    int dx = left + c - from, dy = y + r - 1;
                    SDL_Color col = ink(s.body[c], r);
                    if (s.body[c] != '.' && dx >= 0 && dx < W && dy >= 0 && dy < H)
                        m.image[dy * W + dx] = Uint16(SDL_MapRGB(dst->format, col.r, col.g, col.b));
                }
        }
        m.width += glyph ? runs[k + 1].start - runs[k].end : space;
    }
    return m;
}

// Runs of widths 1..4 inked below row 0, glyphs 1..4 wide, a cell '%' left open by the
// last run, which reaches the right edge; column 0 lies before the first run.
const Sheet kA = sheet(".M.MM..MMM...MMMM....MM", 5, true);
const Sheet kB = sheet("M.M..M", 4); // a run at column 0
Sheet wide_sheet()                   // 100 cells: codes 33..132
{
    std::string top = "M";
    for (int i = 0; i < 100; i++)
        top += std::string(1 + i % 3, '.') + "M";
    return sheet(top + "....", 4);
}
const Sheet kWide = wide_sheet();

class FontByFormat : public ::testing::TestWithParam<Format> {};
INSTANTIATE_TEST_SUITE_P(Depths, FontByFormat, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<Format>& i) { return std::string(i.param.name); });

TEST_P(FontByFormat, ScanRecordsMarkerRunEdgesAndMaxPos)
{
    struct Case { const char* top; std::vector<int> pos; int max_pos; } cases[] = {
        {".M.MM..MMM...MMMM....MM", {1, 2, 3, 5, 7, 10, 13, 17, 21, 23}, 23},
        {"M.M..M", {0, 1, 2, 3, 5, 6}, 6},
        {"M..MM...M.", {0, 1, 3, 5, 8, 9}, 9},
        {"MMMM", {0, 4}, 4},
        {"M", {0, 1}, 1},
        {"......", {}, 5},
        {".", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.top);
        FontPtr f = font(GetParam(), sheet(c.top, 3));
        ASSERT_NE(f, nullptr);
        std::vector<int> want(4096, 0);
        std::copy(c.pos.begin(), c.pos.end(), want.begin());
        EXPECT_EQ(std::vector<int>(f->CharPos, f->CharPos + 4096), want);
        EXPECT_EQ(f->MaxPos, c.max_pos);
        EXPECT_EQ(SFont_TextHeight(f.get()), 2);
    }
}

TEST_P(FontByFormat, BottomLeftPixelBecomesPlainColourKey)
{
    SDL_Surface* s = make(GetParam(), kA);
    put(s, 0, kA.h - 1, ink('q', 7)); // differs from every other pixel
    Uint32 key = SDL_MapRGB(s->format, ink('q', 7).r, ink('q', 7).g, ink('q', 7).b);
    FontPtr f(SFont_InitFont(s), SFont_FreeFont);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(s->flags & (SDL_SRCCOLORKEY | SDL_RLEACCELOK | SDL_RLEACCEL), Uint32(SDL_SRCCOLORKEY));
    EXPECT_EQ(s->format->colorkey, key);
}

TEST_P(FontByFormat, WriteMatchesModelAndTextWidthSumsAdvances)
{
    struct Case { const char* name; Sheet s; int x, y; std::string text; } cases[] = {
        {"cells_and_run_halves", kA, 10, 20, "!\"#$"},
        {"spaces_and_controls", kA, 10, 20, "! \t\n\x1f\x01#"},
        {"unclosed_cell_like_space", kA, 10, 20, "$%$%%#"},
        {"negative_x_clipped", kA, -5, 20, "#$!\"#"},
        {"saturates_far_left", kA, -40000, 20, "$#$"},
        {"no_16_bit_wrap", kA, -65436, 20, "$"},
        {"starts_at_right_edge", kA, 640, 20, "$"},
        {"past_right_edge", kA, 641, 20, "$"},
        {"stops_before_next", kA, 637, 20, "$$"},
        {"negative_y_all_clipped_alike", kA, 10, -2, "!\"#$#"},
        {"bottom_edge", kA, 10, 477, "#$"},
        {"run_at_column_0", kB, 0, 0, "!\"!"},
        {"high_codes_unsigned", kWide, 5, 30, "\x80!\x80\x84\x85\xff\x80"},
        {"no_runs_space_0", sheet("..........", 4), 10, 10, "!! !\""},
        {"one_run_space_0", sheet("..MM......", 4), 10, 10, "!! !\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FontPtr f = font(GetParam(), c.s);
        SurfacePtr dst = screen();
        SFont_Write(dst.get(), f.get(), c.x, c.y, c.text.c_str());
        Model m = model(dst.get(), c.s, c.x, c.y, c.text);
        EXPECT_TRUE(same_image(pixels(dst.get()), m.image));
        EXPECT_EQ(SFont_TextWidth(f.get(), c.text.c_str()), m.width);
    }
}

TEST_P(FontByFormat, NextGlyphLandsAtTextWidth)
{
    const std::string text = "!\"# %\t$\x80\x85!";
    for (const Sheet& s : {kA, kB, kWide}) {
        FontPtr f = font(GetParam(), s);
        SurfacePtr whole = screen(), parts = screen();
        SFont_Write(whole.get(), f.get(), 3, 9, (text + "!").c_str());
        SFont_Write(parts.get(), f.get(), 3, 9, text.c_str());
        SFont_Write(parts.get(), f.get(), 3 + SFont_TextWidth(f.get(), text.c_str()), 9, "!");
        EXPECT_TRUE(same_image(pixels(whole.get()), pixels(parts.get())));
    }
}

TEST_P(FontByFormat, WriteCenterStartsAtHalfWidthMinusHalfText)
{
    const Sheet s = sheet("M" + std::string(101, '.') + "M..M", 4); // '!' 101 wide, '"' 2
    FontPtr f = font(GetParam(), s);
    struct Case { const char* text; int x; } cases[] = {{"!", 270}, {"!\"", 269}, {"", 320}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SurfacePtr dst = screen();
        SFont_WriteCenter(dst.get(), f.get(), 7, c.text);
        EXPECT_TRUE(same_image(pixels(dst.get()), model(dst.get(), s, c.x, 7, c.text).image));
    }
}

TEST_P(FontByFormat, RunsBeyondTableCapacityAreDropped)
{
    std::string top;
    for (int i = 0; i < 2500; i++)
        top += "M.";
    const Sheet s = sheet(top, 2); // 5000 columns, 2500 runs
    FontPtr f = font(GetParam(), s);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->CharPos[4094], 4094);
    EXPECT_EQ(f->CharPos[4095], 4095);
    EXPECT_EQ(f->MaxPos, 4999);
    std::string all;
    for (int b = 1; b < 256; b++)
        all += char(b);
    SurfacePtr dst = screen();
    SFont_Write(dst.get(), f.get(), 0, 0, all.c_str());
    Model m = model(dst.get(), s, 0, 0, all);
    EXPECT_TRUE(same_image(pixels(dst.get()), m.image));
    EXPECT_EQ(SFont_TextWidth(f.get(), all.c_str()), m.width);
}

TEST(Font, NullAndEmptyTextDrawNothingAndMeasureZero)
{
    FontPtr f = font(kFormats[1], kA);
    SurfacePtr dst = screen();
    const std::vector<Uint16> blank = pixels(dst.get());
    for (const char* text : {(const char*)nullptr, ""}) {
        SFont_Write(dst.get(), f.get(), 10, 10, text);
        SFont_WriteCenter(dst.get(), f.get(), 10, text);
        EXPECT_EQ(SFont_TextWidth(f.get(), text), 0);
    }
    EXPECT_TRUE(same_image(pixels(dst.get()), blank));
}

TEST(Font, NullFontIsAcceptedEverywhere)
{
    SurfacePtr dst = screen();
    const std::vector<Uint16> blank = pixels(dst.get());
    SFont_Write(dst.get(), nullptr, 10, 10, "!!!");
    SFont_WriteCenter(dst.get(), nullptr, 10, "!!!");
    EXPECT_EQ(SFont_TextWidth(nullptr, "!!!"), 0);
    EXPECT_EQ(SFont_TextHeight(nullptr), 0);
    SFont_FreeFont(nullptr);
    EXPECT_TRUE(same_image(pixels(dst.get()), blank));
}

TEST(Font, InitFontRejectsMissingOrEmptySheets)
{
    EXPECT_EQ(SFont_InitFont(nullptr), nullptr);
    for (int wh : {0, 1}) { // a 0x5 and a 5x0 sheet; both are freed (leak-checked under ASan)
        SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, wh ? 5 : 0, wh ? 0 : 5, 16, 0xF800, 0x07E0, 0x1F, 0);
        if (s != nullptr) {
            EXPECT_EQ(SFont_InitFont(s), nullptr);
        }
    }
    FontPtr one_row = font(kFormats[1], sheet("M.M", 1)); // only the marker row: height 0
    ASSERT_NE(one_row, nullptr);
    EXPECT_EQ(SFont_TextHeight(one_row.get()), 0);
    SurfacePtr dst = screen();
    SFont_Write(dst.get(), one_row.get(), 0, 0, "!!");
    EXPECT_TRUE(same_image(pixels(dst.get()), std::vector<Uint16>(W * H, 0)));
    EXPECT_EQ(SFont_TextWidth(one_row.get(), "!!"), 2);
}

TEST(Font, InitFontRejectsLoadedSheetWhoseRowOverrunsItsPitch)
{
    // A BMP with bit count 0x0801: SDL loads it as 1 bit per pixel (an 8-byte row for 49
    // pixels) yet 1 byte per pixel, so scanning row 0 would read past the pixels.
    std::vector<Uint8> bmp(54 + 64, 0);
    auto le = [&](int at, Uint32 v, int n) {
        for (int i = 0; i < n; i++)
            bmp[at + i] = Uint8(v >> (8 * i));
    };
    bmp[0] = 'B', bmp[1] = 'M';
    le(2, Uint32(bmp.size()), 4), le(10, 54, 4), le(14, 40, 4), le(18, 49, 4), le(22, 1, 4);
    le(26, 1, 2), le(28, 0x0801, 2);
    SDL_Surface* s = SDL_LoadBMP_RW(SDL_RWFromConstMem(bmp.data(), int(bmp.size())), 1);
    ASSERT_NE(s, nullptr) << SDL_GetError();
    ASSERT_LT(s->pitch, s->w * s->format->BytesPerPixel);
    EXPECT_EQ(SFont_InitFont(s), nullptr); // and freed: leak-checked under ASan
}

TEST(ShippedFont, IsRgb565AndHasAGlyphForEveryCode33To95)
{
    SDL_Surface* s = SDL_LoadBMP(ASSETS_DIR "/font.bmp");
    ASSERT_NE(s, nullptr) << SDL_GetError();
    FontPtr f(SFont_InitFont(s), SFont_FreeFont);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(s->format->BitsPerPixel, 16);
    EXPECT_EQ(s->format->Rmask, 0xF800u);
    EXPECT_EQ(s->format->Gmask, 0x07E0u);
    EXPECT_EQ(s->format->Bmask, 0x001Fu);
    std::string top(s->w, '.'); // the marker row, read independently of the module
    for (int x = 0; x < s->w; x++)
        if (((Uint16*)s->pixels)[x] == SDL_MapRGB(s->format, 255, 0, 255))
            top[x] = 'M';
    std::vector<Span> runs = runs_of(top);
    ASSERT_GE(runs.size(), 64u);
    for (int c = 33; c <= 95; c++) {
        SCOPED_TRACE(c);
        const char text[2] = {char(c), 0};
        EXPECT_EQ(SFont_TextWidth(f.get(), text), runs[c - 32].start - runs[c - 33].end);
        SurfacePtr dst = screen();
        SDL_FillRect(dst.get(), nullptr, 0xF81F); // magenta: not in the sheet below row 0
        SFont_Write(dst.get(), f.get(), 100, 100, text);
        std::vector<Uint16> px = pixels(dst.get());
        EXPECT_NE(std::count(px.begin(), px.end(), 0xF81F), W * H) << "glyph draws nothing";
    }
}

} // namespace
