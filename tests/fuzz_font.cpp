// fuzz_font.cpp: libFuzzer target for the font module. Any bytes are loaded as a BMP; a sheet
// that SDL accepts is scanned, drawn with every code 1..255 at several positions (on and off
// the screen), measured, centred and freed. Built and run by scripts/fuzz_font.sh, which also
// compiles this file with FUZZ_FONT_SEEDS into a writer of small seed sheets.
#include "SFonttr.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

static SDL_Surface* screen;

static uint32_t le(const uint8_t* p, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; i--)
        v = v << 8 | p[i];
    return v;
}

// Sheets whose header claims more than a million pixels are skipped: SDL allocates them
// before reading anything, and their cost is SDL's, not the font's.
static bool too_big(const uint8_t* d, size_t n)
{
    if (n < 26)
        return false;
    long long w, h;
    if (le(d + 14, 4) == 12) {
        w = le(d + 18, 2);
        h = le(d + 20, 2);
    } else {
        w = (int32_t)le(d + 18, 4);
        h = (int32_t)le(d + 22, 4);
    }
    return llabs(w) * llabs(h) > (1 << 20);
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    if (SDL_Init(SDL_INIT_VIDEO) != 0 && SDL_Init(0) != 0)
        abort();
    screen = SDL_CreateRGBSurface(SDL_SWSURFACE, 640, 480, 16, 0xF800, 0x07E0, 0x001F, 0);
    if (screen == NULL)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (too_big(data, size))
        return 0;
    SDL_Surface* sheet = SDL_LoadBMP_RW(SDL_RWFromConstMem(data, (int)size), 1);
    SFont_Font* font = SFont_InitFont(sheet); // null sheets included
    if (font == NULL)
        return 0;
    if (SFont_TextHeight(font) != font->Surface->h - 1 || font->MaxPos < font->Surface->w - 1 ||
        font->MaxPos > font->Surface->w)
        abort();

    char all[256];
    for (int c = 1; c < 256; c++)
        all[c - 1] = (char)c;
    all[255] = '\0';
    static const int pos[][2] = {{0, 0}, {-37, -5}, {630, 470}, {-40000, 100}, {100, -40000}, {-2147483647, 3}};
    for (const auto& p : pos)
        SFont_Write(screen, font, p[0], p[1], all);

    long long sum = 0;
    for (int c = 1; c < 256; c++) {
        const char one[2] = {(char)c, '\0'};
        SFont_Write(screen, font, 5, 5, one);
        SFont_Write(screen, font, -3, -2, one);
        int w = SFont_TextWidth(font, one);
        if (w < 0)
            abort();
        sum += w;
    }
    if (SFont_TextWidth(font, all) != sum) // a text measures as the sum of its characters
        abort();
    SFont_WriteCenter(screen, font, 200, all);
    SFont_WriteCenter(screen, font, -7, "Hello, World! 0123456789");
    SFont_FreeFont(font);
    return 0;
}

#ifdef FUZZ_FONT_SEEDS
// Writes a BMP with the given depth: 8 (palette), 16 (RGB565 bitfields), 24, 32.
static void write_bmp(const std::string& path, int w, int h, int bpp, const std::vector<uint32_t>& rgb)
{
    std::vector<uint8_t> f;
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; i++)
            f.push_back((uint8_t)(v >> (8 * i)));
    };
    std::vector<uint32_t> pal; // distinct colours, for the 8-bit sheet
    for (uint32_t c : rgb) {
        bool seen = false;
        for (uint32_t q : pal)
            seen = seen || q == c;
        if (!seen)
            pal.push_back(c);
    }
    int pitch = (w * bpp / 8 + 3) & ~3, extra = bpp == 8 ? 1024 : bpp == 16 ? 12 : 0;
    put('B' | 'M' << 8, 2);
    put(54 + extra + pitch * h, 4);
    put(0, 4);
    put(54 + extra, 4);
    put(40, 4), put(w, 4), put(h, 4), put(1, 2), put(bpp, 2), put(bpp == 16 ? 3 : 0, 4);
    put(pitch * h, 4), put(2835, 4), put(2835, 4), put(bpp == 8 ? 256 : 0, 4), put(0, 4);
    if (bpp == 16)
        put(0xF800, 4), put(0x07E0, 4), put(0x001F, 4);
    for (int i = 0; bpp == 8 && i < 256; i++)
        put(i < (int)pal.size() ? pal[i] : 0, 4);
    for (int y = h - 1; y >= 0; y--) {
        size_t start = f.size();
        for (int x = 0; x < w; x++) {
            uint32_t c = rgb[y * w + x];
            if (bpp == 8) {
                size_t i = 0;
                while (pal[i] != c)
                    i++;
                put((uint32_t)i, 1);
            } else if (bpp == 16) {
                put((c >> 8 & 0xF800) | (c >> 5 & 0x07E0) | (c >> 3 & 0x001F), 2);
            } else {
                put(c, bpp / 8);
            }
        }
        while (f.size() - start < (size_t)pitch)
            f.push_back(0);
    }
    FILE* out = fopen(path.c_str(), "wb");
    if (out == NULL || fwrite(f.data(), 1, f.size(), out) != f.size() || fclose(out) != 0) {
        perror(path.c_str());
        exit(1);
    }
}

// A sheet from its marker row ('M' magenta) with each glyph a box of its own colour.
static void write_sheet(const std::string& path, const std::string& top, int h, int bpp)
{
    int w = (int)top.size();
    std::vector<uint32_t> rgb(w * h, 0x000000);
    int glyph = 0;
    for (int x = 0; x < w; x++) {
        if (top[x] == 'M') {
            rgb[x] = 0xFF00FF;
            if (x + 1 < w && top[x + 1] != 'M')
                glyph++;
        } else {
            for (int y = 2; y < h - 1; y++)
                rgb[y * w + x] = 0x204080u * (uint32_t)(glyph % 7 + 1) & 0xF8FCF8;
        }
    }
    write_bmp(path, w, h, bpp, rgb);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s SEEDDIR\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1], cells = "M";
    for (int i = 0; i < 12; i++)
        cells += std::string(1 + i % 4, '.') + std::string(1 + i % 2, 'M');
    std::string wide = "M"; // cells up to code 132
    for (int i = 0; i < 100; i++)
        wide += std::string(1 + i % 3, '.') + "M";
    for (int bpp : {8, 16, 24, 32})
        write_sheet(dir + "/cells" + std::to_string(bpp) + ".bmp", cells, 6, bpp);
    write_sheet(dir + "/wide8.bmp", wide, 5, 8);
    write_sheet(dir + "/edge24.bmp", "..M.MM...MMM", 4, 24);
    write_sheet(dir + "/nomarks16.bmp", "........", 3, 16);
    return 0;
}
#endif
