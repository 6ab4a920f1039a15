/* sdl_surface.cpp: SDL 1.2's software surfaces for the browser build, on a 16-bit RGB565
   screen shown on the page's canvas.

   Emscripten's own SDL 1.2 emulation departs from SDL 1.2 exactly where the intro and its
   font module rely on it: its screen is always 32-bit, colour keys are ignored, pixels
   written outside Lock/Unlock are lost, a fill with the value 0 draws nothing, and its BMP
   reader misplaces 16-bit pictures. So this file supplies the surface calls the two modules
   make, with SDL 1.2's behaviour:
     SDL_SetVideoMode   an RGB565 screen in memory, the canvas set to its size (only 16
                        bits per pixel is offered)
     SDL_MapRGB, SDL_GetRGB   SDL 1.2's packing and expansion of a surface's own format
     SDL_FillRect       clipped to the surface's clip rectangle
     SDL_UpperBlit      SDL 1.2's clipping, the clipped rectangle written back, colour keys
     SDL_SetColorKey, SDL_LockSurface, SDL_UnlockSurface, SDL_FreeSurface
     SDL_LoadBMP_RW     16-bit RGB565 BMPs, the format of the intro's pictures
     SDL_Flip           converts the frame to RGBA and puts it on Module.canvas
     SDL_SetError, SDL_GetError   the reason for the last failure (Emscripten's drop it)
     SDL_WM_SetCaption  nothing: the page keeps its own title, the name its bookmarks and
                        shared links show (Emscripten's would put the window's caption there)
   Events, timing, sleeping, file streams and music stay with Emscripten's emulation. */
#include "SDL.h"

#include <emscripten.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Emscripten's headers are SDL 1.3's, whose pixel format has no colour key: the key lives
   behind the surface's private blit map pointer, which these headers leave to the
   implementation to define. Only surfaces made here have one. */
struct SDL_BlitMap {
    Uint32 colorkey; /* in the surface's pixel format */
};

/* Every surface here is RGB565; SDL 1.2 gives the same masks for a 16-bit screen. */
static SDL_PixelFormat rgb565 = {
    0, NULL, 16, 2, {0, 0}, 0xF800, 0x07E0, 0x001F, 0, 3, 2, 3, 8, 11, 5, 0, 0, 0, NULL};

static const int BMP_MAX_SIDE = 16384; /* larger pictures are taken as damaged */

static SDL_Surface* screen_surface;
static Uint32* canvas_pixels; /* the frame as RGBA bytes, for the canvas */
static Uint32 rgba_of[65536]; /* each 565 value's RGBA word, made with SDL_GetRGB */
static char error_text[256];

static void destroy_surface(SDL_Surface* s)
{
    if (s == NULL)
        return;
    free(s->pixels);
    free(s->map);
    free(s);
}

static SDL_Surface* create_surface(int w, int h)
{
    SDL_Surface* s = (SDL_Surface*)calloc(1, sizeof(SDL_Surface));
    if (s == NULL)
        return NULL;
    s->format = &rgb565;
    s->w = w;
    s->h = h;
    s->pitch = (w * 2 + 3) & ~3; /* rows padded to 4 bytes, as SDL 1.2 does */
    s->pixels = calloc(h, s->pitch);
    s->map = (SDL_BlitMap*)calloc(1, sizeof(SDL_BlitMap));
    s->clip_rect.w = w;
    s->clip_rect.h = h;
    s->refcount = 1;
    if (s->pixels == NULL || s->map == NULL) {
        destroy_surface(s);
        return NULL;
    }
    return s;
}

/* Surfaces made elsewhere (Emscripten's own are 32 or 8 bits per pixel, with no blit map
   of ours) would be read and written past their ends here, so the calls below refuse
   them. Every surface made here shares the one RGB565 format. */
static bool made_here(const SDL_Surface* s)
{
    return s != NULL && s->format == &rgb565;
}

static int refuse_foreign_surface(void)
{
    SDL_SetError("Not a surface of the browser build's 16-bit layer");
    return -1;
}

/* Sizes the canvas to the screen and wraps the RGBA frame buffer in one ImageData, made
   once here so a flip only puts it. The wasm memory does not grow (no ALLOW_MEMORY_GROWTH),
   so the view over it stays valid. 0 when the page's canvas gives no 2D context; a page
   without a canvas (the frame checker's) draws off screen. */
EM_JS(int, canvas_set_up, (const Uint32* pixels, int w, int h), {
    var canvas = Module.canvas;
    if (!canvas)
        return 1;
    canvas.width = w;
    canvas.height = h;
    Module.frameContext = canvas.getContext("2d");
    Module.frameImage = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, pixels, w * h * 4), w, h);
    return Module.frameContext ? 1 : 0;
});

EM_JS(void, canvas_put, (void), {
    if (Module.frameContext)
        Module.frameContext.putImageData(Module.frameImage, 0, 0);
});

/* Emscripten's file streams are handles into its table SDL.rwops, each the table's length
   when opened; freeing the last one empties the table, and the next stream would be handle
   0, which C reads as no stream. Keeping slot 0 taken from the start keeps every stream's
   handle above 0. */
EM_JS(void, rwops_reserve_handle_0, (void), {
    SDL.rwops[0] = SDL.rwops[0] || {};
});

__attribute__((constructor)) static void reserve_handle_0(void)
{
    rwops_reserve_handle_0();
}

/* The name the file stream was opened with, as UTF-8 ending in a zero byte; 0 for no stream,
   one that is not a file, or a name longer than size allows. Written through HEAPU8, since
   newer Emscriptens link their string helpers only into programs that ask for them. */
EM_JS(int, rwops_filename, (SDL_RWops* src, char* name, int size), {
    var rw = src ? SDL.rwops[src] : null;
    if (!rw || !rw.filename)
        return 0;
    var bytes = new TextEncoder().encode(rw.filename);
    if (bytes.length >= size)
        return 0;
    HEAPU8.set(bytes, name);
    HEAPU8[name + bytes.length] = 0;
    return 1;
});

extern "C" {

void SDL_SetError(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    vsnprintf(error_text, sizeof error_text, fmt, args);
    va_end(args);
}

const char* SDL_GetError(void)
{
    return error_text;
}

void SDL_WM_SetCaption(const char* title, const char* icon)
{
    (void)title;
    (void)icon;
}

SDL_Surface* SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags)
{
    (void)flags;
    if (bpp != 16) {
        SDL_SetError("Only 16 bits per pixel");
        return NULL;
    }
    destroy_surface(screen_surface);
    free(canvas_pixels);
    canvas_pixels = (Uint32*)malloc((size_t)width * height * 4);
    screen_surface = create_surface(width, height);
    const char* fault = NULL;
    if (canvas_pixels == NULL || screen_surface == NULL)
        fault = "Out of memory";
    else if (!canvas_set_up(canvas_pixels, width, height))
        fault = "The page's canvas gives no 2D context";
    if (fault) {
        destroy_surface(screen_surface);
        free(canvas_pixels);
        screen_surface = NULL;
        canvas_pixels = NULL;
        SDL_SetError("%s", fault);
        return NULL;
    }
    for (Uint32 p = 0; p < 65536; p++) {
        Uint8 r, g, b;
        SDL_GetRGB(p, &rgb565, &r, &g, &b);
        rgba_of[p] = r | g << 8 | b << 16 | 0xFFu << 24; /* RGBA in memory order */
    }
    return screen_surface;
}

Uint32 SDL_MapRGB(const SDL_PixelFormat* f, Uint8 r, Uint8 g, Uint8 b)
{
    return (r >> f->Rloss) << f->Rshift | (g >> f->Gloss) << f->Gshift |
           (b >> f->Bloss) << f->Bshift | f->Amask;
}

/* SDL 1.2's expansion: the value's bits, then its top bits again in the lost low bits. */
void SDL_GetRGB(Uint32 pixel, const SDL_PixelFormat* f, Uint8* r, Uint8* g, Uint8* b)
{
    Uint32 v = (pixel & f->Rmask) >> f->Rshift;
    *r = (Uint8)((v << f->Rloss) + (v >> (8 - (f->Rloss << 1))));
    v = (pixel & f->Gmask) >> f->Gshift;
    *g = (Uint8)((v << f->Gloss) + (v >> (8 - (f->Gloss << 1))));
    v = (pixel & f->Bmask) >> f->Bshift;
    *b = (Uint8)((v << f->Bloss) + (v >> (8 - (f->Bloss << 1))));
}

int SDL_FillRect(SDL_Surface* dst, const SDL_Rect* rect, Uint32 color)
{
    if (!made_here(dst))
        return refuse_foreign_surface();
    const SDL_Rect& clip = dst->clip_rect;
    int x0 = clip.x, y0 = clip.y, x1 = clip.x + clip.w, y1 = clip.y + clip.h;
    if (rect != NULL) {
        x0 = SDL_max(x0, rect->x);
        y0 = SDL_max(y0, rect->y);
        x1 = SDL_min(x1, rect->x + rect->w);
        y1 = SDL_min(y1, rect->y + rect->h);
    }
    for (int y = y0; y < y1; y++) {
        Uint16* row = (Uint16*)((Uint8*)dst->pixels + y * dst->pitch);
        for (int x = x0; x < x1; x++)
            row[x] = (Uint16)color;
    }
    return 0;
}

int SDL_SetColorKey(SDL_Surface* surface, int flag, Uint32 key)
{
    if (!made_here(surface))
        return refuse_foreign_surface();
    if (flag & SDL_SRCCOLORKEY) {
        surface->flags |= SDL_SRCCOLORKEY;
        surface->map->colorkey = key;
    } else {
        surface->flags &= ~SDL_SRCCOLORKEY;
    }
    return 0;
}

int SDL_LockSurface(SDL_Surface* surface)
{
    surface->locked++;
    return 0;
}

void SDL_UnlockSurface(SDL_Surface* surface)
{
    if (surface->locked > 0)
        surface->locked--;
}

/* Copies w x h pixels from (sx, sy) to (dx, dy), all inside both surfaces, leaving out
   the source's colour key when it has one. */
static void copy_pixels(SDL_Surface* src, int sx, int sy, SDL_Surface* dst, int dx, int dy,
                        int w, int h)
{
    bool keyed = src->flags & SDL_SRCCOLORKEY;
    Uint16 key = (Uint16)src->map->colorkey;
    for (int y = 0; y < h; y++) {
        const Uint16* from = (const Uint16*)((Uint8*)src->pixels + (sy + y) * src->pitch) + sx;
        Uint16* to = (Uint16*)((Uint8*)dst->pixels + (dy + y) * dst->pitch) + dx;
        if (!keyed) {
            memcpy(to, from, w * 2);
            continue;
        }
        for (int x = 0; x < w; x++)
            if (from[x] != key)
                to[x] = from[x];
    }
}

/* SDL 1.2's clipping along one axis, x or y: len pixels from source offset *s to destination
   offset *d, cut first to the source's [0, src_len), then to the destination's clip
   [lo, hi), moving both offsets with any cut at the start. The length left; 0 or less when
   nothing is. */
static int clip_axis(int* s, int* d, int len, int src_len, int lo, int hi)
{
    if (*s < 0) {
        len += *s;
        *d -= *s;
        *s = 0;
    }
    len = SDL_min(len, src_len - *s);
    int cut = lo - *d;
    if (cut > 0) {
        len -= cut;
        *d += cut;
        *s += cut;
    }
    cut = *d + len - hi;
    if (cut > 0)
        len -= cut;
    return len;
}

/* SDL 1.2's public blit: clip the source rectangle to the source, then the destination to
   the destination's clip rectangle, write the clipped rectangle back, and copy. */
int SDL_UpperBlit(SDL_Surface* src, const SDL_Rect* srcrect, SDL_Surface* dst, SDL_Rect* dstrect)
{
    if (src == NULL || dst == NULL) {
        SDL_SetError("SDL_UpperBlit: passed a NULL surface");
        return -1;
    }
    if (!made_here(src) || !made_here(dst))
        return refuse_foreign_surface();
    if (src->locked || dst->locked) {
        SDL_SetError("Surfaces must not be locked during blit");
        return -1;
    }
    SDL_Rect whole = {0, 0, 0, 0};
    if (dstrect == NULL)
        dstrect = &whole;

    int sx = srcrect ? srcrect->x : 0, w = srcrect ? srcrect->w : src->w;
    int sy = srcrect ? srcrect->y : 0, h = srcrect ? srcrect->h : src->h;
    int dx = dstrect->x, dy = dstrect->y;
    const SDL_Rect& clip = dst->clip_rect;
    w = clip_axis(&sx, &dx, w, src->w, clip.x, clip.x + clip.w);
    h = clip_axis(&sy, &dy, h, src->h, clip.y, clip.y + clip.h);
    dstrect->x = dx;
    dstrect->y = dy;

    if (w <= 0 || h <= 0) {
        dstrect->w = dstrect->h = 0;
        return 0;
    }
    dstrect->w = w;
    dstrect->h = h;
    copy_pixels(src, sx, sy, dst, dstrect->x, dstrect->y, w, h);
    return 0;
}

/* Like SDL 1.2, freeing the screen does nothing; nor does freeing a surface made
   elsewhere, whose parts this file did not allocate. */
void SDL_FreeSurface(SDL_Surface* surface)
{
    if (surface != screen_surface && made_here(surface))
        destroy_surface(surface);
}

int SDL_Flip(SDL_Surface* screen)
{
    if (screen == NULL || screen != screen_surface) {
        SDL_SetError("SDL_Flip: not the screen");
        return -1;
    }
    for (int y = 0; y < screen->h; y++) {
        const Uint16* row = (const Uint16*)((Uint8*)screen->pixels + y * screen->pitch);
        Uint32* out = canvas_pixels + y * screen->w;
        for (int x = 0; x < screen->w; x++)
            out[x] = rgba_of[row[x]];
    }
    canvas_put();
    return 0;
}

} /* extern "C" */

static Uint32 le32(const Uint8* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | (Uint32)p[3] << 24;
}

/* A BMP file's pixels as a new surface: 16 bits per pixel with RGB565 bit fields, rows
   bottom-up or top-down. Null for anything else or a file cut short. */
static SDL_Surface* decode_bmp(const Uint8* file, Uint32 size)
{
    const Uint32 HEADERS = 54, MASKS = 12; /* file and info headers, then the bit fields */
    if (size < HEADERS + MASKS || file[0] != 'B' || file[1] != 'M')
        return NULL;
    Uint32 offset = le32(file + 10);
    Sint32 w = (Sint32)le32(file + 18), rows = (Sint32)le32(file + 22);
    int bits = file[28] | file[29] << 8;
    bool rgb565_fields = le32(file + 30) == 3 && le32(file + 54) == rgb565.Rmask &&
                         le32(file + 58) == rgb565.Gmask && le32(file + 62) == rgb565.Bmask;
    bool top_down = rows < 0;
    if (bits != 16 || !rgb565_fields || w < 1 || w > BMP_MAX_SIDE || rows == 0 ||
        rows < -BMP_MAX_SIDE || rows > BMP_MAX_SIDE)
        return NULL;
    int h = top_down ? -rows : rows;
    Uint32 stride = (w * 2 + 3) & ~3;
    if (offset > size || size - offset < stride * h)
        return NULL;
    SDL_Surface* s = create_surface(w, h);
    if (s == NULL)
        return NULL;
    for (int y = 0; y < h; y++) {
        const Uint8* row = file + offset + stride * (top_down ? y : h - 1 - y);
        memcpy((Uint8*)s->pixels + y * s->pitch, row, w * 2);
    }
    return s;
}

extern "C" SDL_Surface* SDL_LoadBMP_RW(SDL_RWops* src, int freesrc)
{
    char name[1024];
    SDL_Surface* s = NULL;
    FILE* f = rwops_filename(src, name, sizeof name) ? fopen(name, "rb") : NULL;
    if (f != NULL && fseek(f, 0, SEEK_END) == 0) {
        long size = ftell(f);
        Uint8* file = size > 0 ? (Uint8*)malloc(size) : NULL;
        rewind(f);
        if (file != NULL && fread(file, 1, size, f) == (size_t)size)
            s = decode_bmp(file, size);
        free(file);
    }
    if (f != NULL)
        fclose(f);
    if (freesrc && src != NULL)
        SDL_FreeRW(src);
    if (s == NULL)
        SDL_SetError("Couldn't load a 16-bit RGB565 BMP");
    return s;
}
