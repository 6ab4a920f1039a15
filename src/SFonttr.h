/* SFonttr.h: a proportional bitmap font read from a marked BMP sheet, for single-line text.

   THE SHEET
   Any surface of 1, 2, 3 or 4 bytes per pixel. Row 0 is the marker row: runs of magenta
   (255, 0, 255, mapped into the sheet's own format) separate the glyphs. Glyphs stand in
   code order from '!' (33): the glyph of code c lies between marker run c - 33 and marker
   run c - 32, so a sheet for codes 33..95 has 64 runs and begins with one. Rows 1..h-1 are
   the glyph images (height h - 1). The bottom-left pixel gives the background colour, which
   becomes the sheet's colour key. Each glyph is copied with half of the marker run on each
   side of it, so those columns should hold the background below row 0.

   CHARACTERS
   Every byte is read unsigned. Byte b has the table index g = 2*b - 65. It is a glyph when
   b != 32, g >= 0, g <= MaxPos and the sheet closes b's cell with a marker run; anything
   else (space, control codes, codes past the sheet's last glyph) is drawn as nothing and
   advances by the space width, the width of the '!' cell (0 when the sheet has fewer than
   two marker runs). A glyph advances by its own cell width. There are no line breaks.

   OWNERSHIP
   SFont_InitFont takes the sheet surface; SFont_FreeFont frees it with the record.
   Every function accepts a null font: drawing then draws nothing, measuring gives 0.
   Nothing is allocated while drawing or measuring. Coordinates are in pixels.
*/
#ifndef SFONTTR_H
#define SFONTTR_H

#include "SDL.h"

typedef struct {
    SDL_Surface* Surface; /* the sheet, owned by the record */
    int CharPos[4096];    /* 2k: first column of marker run k; 2k+1: first column after it.
                             Entries past the sheet's last run are 0. */
    int MaxPos;           /* the scan's last column: w - 1, or w when a run reaches the edge */
} SFont_Font;

/* Builds a font from a loaded sheet and takes ownership of it. A null sheet gives null;
   so does an unreadable one (no rows or columns, or rows longer than their pitch), which
   is freed. Runs beyond the table's 2048 are not recorded. */
SFont_Font* SFont_InitFont(SDL_Surface* Surface);

/* Frees the sheet and the record. */
void SFont_FreeFont(SFont_Font* Font);

/* Draws text with its first glyph's left column at x and the glyph tops at row y, clipped
   to Surface. Stops at the first character that would start right of Surface->w. */
void SFont_Write(SDL_Surface* Surface, const SFont_Font* Font, int x, int y, const char* text);

/* The sum of the advances of text, exactly as SFont_Write moves; 0 for a null text. */
int SFont_TextWidth(const SFont_Font* Font, const char* text);

/* Glyph height: the sheet's height minus the marker row. */
int SFont_TextHeight(const SFont_Font* Font);

/* Draws text centred on Surface's width: x = w/2 - width/2, each half truncated. */
void SFont_WriteCenter(SDL_Surface* Surface, const SFont_Font* Font, int y, const char* text);

#endif
