/* SFonttr.cpp: scans a marked font sheet into a font record, and draws and measures
   single-line text with it, one colour-keyed blit per glyph straight from the sheet. */
#include "SFonttr.h"

#include <assert.h>
#include <stdlib.h>

/* Entries of CharPos, two per marker run. */
static const int CHARPOS_ENTRIES = sizeof(((SFont_Font*)0)->CharPos) / sizeof(int);

/* Table index of byte b's glyph cell, or -1 when b draws as a space. A cell is only a
   glyph when the sheet closes it with a marker run: the end of a run is never column 0,
   and the record starts cleared, so an unwritten closing entry reads 0. */
static int glyph_index(const SFont_Font* Font, unsigned char b)
{
    int g = 2 * b - 65;
    if (b == ' ' || g < 0 || g > Font->MaxPos || Font->CharPos[g + 2] <= 0)
        return -1;
    return g;
}

/* The width of the '!' cell; 0 when the sheet has no second marker run to end it. */
static int space_advance(const SFont_Font* Font)
{
    return Font->CharPos[2] > 0 ? Font->CharPos[2] - Font->CharPos[1] : 0;
}

/* How far a character with table index g (or -1 for a space) moves the pen. */
static int advance(const SFont_Font* Font, int g)
{
    return g < 0 ? space_advance(Font) : Font->CharPos[g + 1] - Font->CharPos[g];
}

/* The pixel value at column X, row Y, in the surface's own format. The caller has locked
   the surface; only X is checked, since the scan walks along a row. */
static Uint32 GetPixel(SDL_Surface* Surface, Sint32 X, Sint32 Y)
{
    Uint8* row = (Uint8*)Surface->pixels + Y * Surface->pitch;
    const SDL_PixelFormat* f = Surface->format;

    assert(X>=0);
    assert(X<Surface->w);

    switch (f->BytesPerPixel) {
    case 1:
        return row[X];
    case 2:
        return ((Uint16*)Surface->pixels)[Y * Surface->pitch / 2 + X];
    case 3: {
        /* Byte order within a 24-bit pixel follows the shifts, so rebuild the value. */
        const Uint8* p = row + 3 * X;
        return SDL_MapRGB(Surface->format, p[f->Rshift / 8], p[f->Gshift / 8], p[f->Bshift / 8]);
    }
    case 4:
        return ((Uint32*)Surface->pixels)[Y * Surface->pitch / 4 + X];
    default:
        return 0xFFFFFFFF;
    }
}

SFont_Font* SFont_InitFont(SDL_Surface* Surface)
{
    if (Surface == NULL)
        return NULL;
    /* Without a row and a column there is no marker row or background pixel to read. A row
       that does not fit in the pitch (the BMP loader gives one for a malformed bit count)
       cannot be read either. */
    if (Surface->w < 1 || Surface->h < 1 || Surface->pixels == NULL ||
        Surface->w * Surface->format->BytesPerPixel > Surface->pitch) {
        SDL_FreeSurface(Surface);
        return NULL;
    }
    /* Cleared, so entries past the last marker run read 0 (see glyph_index). */
    SFont_Font* Font = (SFont_Font*)calloc(1, sizeof(SFont_Font));
    if (Font == NULL) {
        SDL_FreeSurface(Surface);
        return NULL;
    }
    Font->Surface = Surface;

    SDL_LockSurface(Surface);
    Uint32 magenta = SDL_MapRGB(Surface->format, 255, 0, 255);
    int x = 0;
    int i = 0;
    while (x < Surface->w) {
        if (GetPixel(Surface, x, 0) == magenta) {
            int start = x;
            while (x < Surface->w && GetPixel(Surface, x, 0) == magenta)
                x++;
            /* Runs past the table's capacity are scanned over but not recorded. */
            if (i + 2 <= CHARPOS_ENTRIES) {
                Font->CharPos[i++] = start;
                Font->CharPos[i++] = x;
            }
        }
        x++;
    }
    Font->MaxPos = x - 1;
    Uint32 background = GetPixel(Surface, 0, Surface->h - 1);
    SDL_UnlockSurface(Surface);

    SDL_SetColorKey(Surface, SDL_SRCCOLORKEY, background);
    return Font;
}

void SFont_FreeFont(SFont_Font* Font)
{
    if (Font == NULL)
        return;
    SDL_FreeSurface(Font->Surface);
    free(Font);
}

/* Destination column of a glyph whose cell starts at x: half the run in front of it lies
   to its left. Truncated toward zero; out of the 16-bit range it saturates to -32768,
   which puts the glyph off any surface instead of wrapping it back on. */
static Sint16 glyph_left(int x, int run_before)
{
    double left = x - run_before / 2.0;
    if (left < -32768.0 || left >= 32768.0)
        return -32768;
    return (Sint16)left;
}

void SFont_Write(SDL_Surface* Surface, const SFont_Font* Font, int x, int y, const char* text)
{
    if (Font == NULL || text == NULL)
        return;

    const int* pos = Font->CharPos;
    SDL_Rect src, dst;
    src.y = 1; /* row 0 holds the markers */
    src.h = (Uint16)(Font->Surface->h - 1);
    dst.h = src.h;

    for (const unsigned char* c = (const unsigned char*)text; *c != '\0'; c++) {
        if (x > Surface->w)
            break;
        int g = glyph_index(Font, *c);
        if (g >= 0) {
            int from = (pos[g - 1] + pos[g]) / 2;
            src.x = (Sint16)from;
            src.w = (Uint16)((pos[g + 1] + pos[g + 2]) / 2 - from);
            dst.w = src.w;
            dst.x = glyph_left(x, pos[g] - pos[g - 1]);
            /* A glyph wholly left of the clip rectangle would be clipped to nothing; skip
               the call, since every frame walks the whole scrolled-off part of the text.
               The blit moves a top-clipped rectangle down to row 0, so each glyph starts
               from y again and all of them clip alike. */
            if (dst.x + src.w > Surface->clip_rect.x) {
                dst.y = (Sint16)y;
                SDL_UpperBlit(Font->Surface, &src, Surface, &dst);
            }
        }
        x += advance(Font, g);
    }
}

int SFont_TextWidth(const SFont_Font* Font, const char* text)
{
    if (Font == NULL || text == NULL)
        return 0;
    int width = 0;
    for (const unsigned char* c = (const unsigned char*)text; *c != '\0'; c++)
        width += advance(Font, glyph_index(Font, *c));
    return width;
}

int SFont_TextHeight(const SFont_Font* Font)
{
    return Font == NULL ? 0 : Font->Surface->h - 1;
}

void SFont_WriteCenter(SDL_Surface* Surface, const SFont_Font* Font, int y, const char* text)
{
    SFont_Write(Surface, Font, Surface->w / 2 - SFont_TextWidth(Font, text) / 2, y, text);
}
