// fuzz_font.cpp: libFuzzer target for the font module. Any bytes are loaded as a BMP; a sheet
// that SDL accepts is scanned, drawn and measured with every code 1..255, centred and freed.
// Run with FUZZ_FONT_SEEDS=DIR it writes a few valid sheets there instead, as seeds.
#include "SFonttr.h"

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <string>

static SDL_Surface* screen;

// Skipped, as SDL's business rather than the font's: headers cut short (SDL then reads
// uninitialised sizes) and headers claiming over 4 MB of pixels (SDL allocates those before
// it reads one). A 12-byte header has 16-bit sizes.
static bool skip(const uint8_t* d, size_t n)
{
    uint8_t h[30] = {0};
    memcpy(h, d, n < sizeof h ? n : sizeof h);
    auto le = [&](int at, int bytes) {
        uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; i--)
            v = v << 8 | h[at + i];
        return v;
    };
    const bool os2 = le(14, 4) == 12;
    if (n < (os2 ? 26u : 54u))
        return true;
    double w = os2 ? le(18, 2) : (int32_t)le(18, 4), ht = os2 ? le(20, 2) : (int32_t)le(22, 4);
    double bits = os2 ? le(24, 2) : le(28, 2);
    return fabs(w) * fabs(ht) * (bits < 8 ? 8 : bits) / 8 > (4 << 20);
}

// Writes a sheet at depth bpp (8 with a 3-3-2 palette, 16 as 5-5-5, 24, 32): the marker row
// from top ('M' magenta), below it a box of ink in every other column, on black.
static void write_seed(const std::string& path, const std::string& top, int bpp)
{
    static const Uint32 masks[4][3] = {
        {0xE0, 0x1C, 0x03}, {0x7C00, 0x03E0, 0x1F}, {0xFF0000, 0xFF00, 0xFF}, {0xFF0000, 0xFF00, 0xFF}};
    const Uint32* m = masks[bpp / 8 - 1];
    const int w = (int)top.size(), h = 6, colours = bpp == 8 ? 256 : 0;
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, bpp, m[0], m[1], m[2], 0);
    for (int x = 0; x < w; x++) {
        bool mark = top[x] == 'M';
        SDL_Rect r = {(Sint16)x, Sint16(mark ? 0 : 2), 1, Uint16(mark ? 1 : h - 3)};
        SDL_FillRect(s, &r, mark ? SDL_MapRGB(s->format, 255, 0, 255) : SDL_MapRGB(s->format, 40 * x % 256, 160, 255));
    }
    std::string f = "BM";
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; i++)
            f += char(v >> 8 * i);
    };
    const int offset = 54 + 4 * colours, size = s->pitch * h; // SDL pads rows to 4 bytes, as BMP does
    put(offset + size, 4), put(0, 4), put(offset, 4), put(40, 4), put(w, 4), put(h, 4), put(1, 2), put(bpp, 2);
    put(0, 4), put(size, 4), put(2835, 4), put(2835, 4), put(colours, 4), put(0, 4);
    for (int i = 0; i < colours; i++) {
        SDL_Color c = s->format->palette->colors[i];
        put(c.b | c.g << 8 | c.r << 16, 4);
    }
    for (int y = h - 1; y >= 0; y--) // bottom-up
        f.append((const char*)s->pixels + y * s->pitch, s->pitch);
    SDL_FreeSurface(s);
    if (!std::ofstream(path, std::ios::binary).write(f.data(), f.size())) {
        perror(path.c_str());
        exit(1);
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The seeds: runs 1 and 2 wide, the last at the right edge; cells up to code 132; columns
    // before the first run and a run of 3 at the edge; no runs at all.
    if (const char* dir = getenv("FUZZ_FONT_SEEDS")) {
        std::string cells = "M", wide = "M";
        for (int i = 0; i < 100; i++) {
            cells += i < 12 ? std::string(1 + i % 4, '.') + std::string(1 + i % 2, 'M') : "";
            wide += std::string(1 + i % 3, '.') + "M";
        }
        for (int bpp = 8; bpp <= 32; bpp += 8)
            write_seed(dir + ("/sheet" + std::to_string(bpp) + ".bmp"),
                       bpp == 16 ? wide : bpp == 24 ? "..M.MM...MMM" : cells, bpp);
        write_seed(dir + std::string("/nomarks.bmp"), "........", 16);
        exit(0);
    }
    screen = SDL_CreateRGBSurface(SDL_SWSURFACE, 640, 480, 16, 0xF800, 0x07E0, 0x001F, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (skip(data, size))
        return 0;
    SFont_Font* font = SFont_InitFont(SDL_LoadBMP_RW(SDL_RWFromConstMem(data, (int)size), 1));
    if (font == NULL)
        return 0;
    if (SFont_TextHeight(font) != font->Surface->h - 1 || font->MaxPos < font->Surface->w - 1 ||
        font->MaxPos > font->Surface->w)
        abort();

    char all[256];
    long long sum = 0;
    for (int c = 1; c < 256; c++) {
        const char one[2] = {(char)c, '\0'};
        SFont_Write(screen, font, 5, 5, one);
        SFont_Write(screen, font, -3, -2, one);
        int w = SFont_TextWidth(font, one);
        if (w < 0)
            abort();
        sum += w;
        all[c - 1] = (char)c;
    }
    all[255] = '\0';
    if (SFont_TextWidth(font, all) != sum) // a text measures as the sum of its characters
        abort();
    static const int pos[][2] = {{0, 0}, {-37, -5}, {630, 470}, {-40000, 100}, {100, -40000}, {-2147483647, 3}};
    for (const auto& p : pos)
        SFont_Write(screen, font, p[0], p[1], all);
    SFont_WriteCenter(screen, font, 200, all);
    SFont_WriteCenter(screen, font, -7, "Hello, World! 0123456789");
    SFont_FreeFont(font);
    return 0;
}
