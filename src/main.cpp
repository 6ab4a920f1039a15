/* main.cpp: the snow intro. Falling snow, a scrolling message and a logo over a looping
   tune, at 640x480x16 full screen, until a key press or a quit request. */
#include "SDL.h"
#include "SDL_mixer.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "SFonttr.h"

#define SCREEN_W 640 /* the display, in pixels */
#define SCREEN_H 480
#define FLAKES 999
#define STEP_MS 55 /* least time between two animation steps */

/* One snowflake: column, row (0 or less while it waits above the screen) and depth layer,
   0 nearest, which sets both its speed and its grey. */
struct flake {
    Sint32 x;
    Sint32 y;
    Sint32 layer;
};

SDL_Surface* screen;
SFont_Font* Font;
SDL_Surface* logo;
SDL_Rect dest;
Mix_Music* music;
Uint32 oldtick;
Uint32 newtick;
Sint32 differ;
flake kar[FLAKES];
Uint32 snowcol[3]; /* in screen's pixel format, indexed by layer */
Sint32 fontx;
Sint32 fonty;

const char message[705] =
    "HELLO AND WELCOME TO OUR VERY FIRST INTRO FOR A HANDHELD GAME CONSOLE! "
    "A RELEASE FOR WINDOWS (AND PERHAPS LINUX) WILL FOLLOW. "
    "A FEW DAYS AGO THE FIRST REAL SNOW OF THE WINTER FELL ON OUR TOWN, "
    "AND WE SPENT A WHOLE EVENING AT THE WINDOW WATCHING THE FLAKES COME DOWN. "
    "IT REMINDED US OF AN OLD SNOW DEMO WE ONCE LOVED DEARLY, "
    "AND BY THE NEXT MORNING THIS LITTLE INTRO WAS BORN: "
    "NINE HUNDRED AND NINETY-NINE FLAKES IN THREE LAYERS, EACH ONE A SINGLE PIXEL. "
    "-- CODE: FROSTBYTE / FONT: KERN_KAT / LOGO: ICEPICK / MUSIC: SLEIGHBELL -- "
    "THIS INTRO DOES NOT END BY ITSELF, SO LEAN BACK AND WATCH THE SNOW FOR AS LONG AS YOU LIKE. "
    "WHEN YOU HAVE SEEN ENOUGH, PRESS A BUTTON AND IT CLOSES. STAY WARM AND BYE FOR NOW!";

/* Stores one pixel value at (x, y); the caller keeps (x, y) inside the surface. */
void putpixel(SDL_Surface* surface, int x, int y, Uint32 pixel)
{
    int bpp = surface->format->BytesPerPixel;
    Uint8* p = (Uint8*)surface->pixels + y * surface->pitch + x * bpp;

    switch (bpp) {
    case 1:
        *p = (Uint8)pixel;
        break;
    case 2:
        *(Uint16*)p = (Uint16)pixel;
        break;
    case 3: /* least significant byte first */
        p[0] = pixel & 0xFF;
        p[1] = (pixel >> 8) & 0xFF;
        p[2] = (pixel >> 16) & 0xFF;
        break;
    case 4:
        *(Uint32*)p = pixel;
        break;
    }
}

/* Scatters the flakes over the band of rows above the screen and maps the three greys.
   The rand() order is fixed, so a seed always gives the same snow. */
void init_snow()
{
    for (int i = 0; i < FLAKES; i++) {
        kar[i].x = rand() % SCREEN_W;
        kar[i].y = -(rand() % SCREEN_H);
        kar[i].layer = rand() % 3;
    }
    snowcol[0] = SDL_MapRGB(screen->format, 250, 250, 250);
    snowcol[1] = SDL_MapRGB(screen->format, 205, 205, 205);
    snowcol[2] = SDL_MapRGB(screen->format, 155, 155, 155);
}

/* One animation step: layers 0, 1, 2 fall 3, 2, 1 pixels; a flake past the bottom row is
   reborn just above the screen with a new column and layer. */
void update_snow()
{
    for (int i = 0; i < FLAKES; i++) {
        kar[i].y = kar[i].y - kar[i].layer + 3;
        if (kar[i].y > SCREEN_H - 1) {
            kar[i].y = -1;
            kar[i].x = rand() % SCREEN_W;
            kar[i].layer = rand() % 3;
        }
    }
}

void draw_text()
{
    SFont_Write(screen, Font, fontx, fonty, message);
}

/* Moves the message 5 pixels left. Once it lies a whole screen width beyond the left edge
   nothing of it can show again, so it stops there instead of running on to overflow. */
void update_text()
{
    if (fontx > -SFont_TextWidth(Font, message) - SCREEN_W)
        fontx = fontx - 5;
}

/* Renders one frame back to front (black, snow, text, logo), shows it, and takes one
   animation step when 55 ms or more have passed since the last. */
static void draw()
{
    SDL_FillRect(screen, NULL, SDL_MapRGB(screen->format, 0, 0, 0));

    /* Column 0 and row 0 stay clear; flakes at row 0 or above are still waiting. */
    if (SDL_MUSTLOCK(screen))
        SDL_LockSurface(screen);
    for (int i = 0; i < FLAKES; i++) {
        if (kar[i].x > 0 && kar[i].x <= SCREEN_W - 1 && kar[i].y > 0 && kar[i].y <= SCREEN_H - 1)
            putpixel(screen, kar[i].x, kar[i].y, snowcol[kar[i].layer]);
    }
    if (SDL_MUSTLOCK(screen))
        SDL_UnlockSurface(screen);

    draw_text();

    /* Unsigned wrap-around keeps the difference right when the counter rolls over. A
       late frame slows the animation rather than making it jump. */
    newtick = SDL_GetTicks();
    differ = (Sint32)(newtick - oldtick);
    if (differ >= STEP_MS) {
        oldtick = newtick;
        update_snow();
        update_text();
    }

    SDL_UpperBlit(logo, NULL, screen, &dest);
    SDL_Flip(screen);
    SDL_Delay(1);
}

/* Opens a BMP by name; the loader closes the stream. Null when it cannot be read. */
static SDL_Surface* load_bmp(const char* name)
{
    return SDL_LoadBMP_RW(SDL_RWFromFile(name, "rb"), 1);
}

int main(int argc, char* argv[])
{
    (void)argc;
    (void)argv;

    /* Bring up SDL, the display and the audio device; each failure ends the run. */
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO) < 0) {
        printf("Couldn't initialize SDL: %s\n", SDL_GetError());
        exit(1);
    }
    atexit(SDL_Quit);
    screen = SDL_SetVideoMode(SCREEN_W, SCREEN_H, 16, SDL_FULLSCREEN);
    if (screen == NULL) {
        printf("Couldn't set 640x480x16 video mode: %s\n", SDL_GetError());
        exit(2);
    }
    if (Mix_OpenAudio(22050, AUDIO_S16LSB, 2, 4096) != 0) {
        fprintf(stderr, "Unable to initialize audio: %s\n", SDL_GetError());
        exit(3);
    }
    SDL_WM_SetCaption("SDL MultiMedia Application", NULL);

    /* Load the assets. Any of them may be missing: the intro then runs without it. */
    Font = SFont_InitFont(load_bmp("font.bmp"));
    music = Mix_LoadMUS("velimora.mp3");
    logo = load_bmp("logo.bmp");
    Mix_PlayMusic(music, -1);

    /* Seed the snow and the start positions. */
    srand(time(NULL));
    init_snow();
    int done = 0;
    oldtick = SDL_GetTicks();
    fontx = SCREEN_W; /* just past the right edge */
    fonty = 360;
    dest.x = 190;
    dest.y = 50;

    /* Run until a key press or a quit request; the frame of that iteration is still drawn. */
    SDL_Event event;
    while (!done) {
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_KEYDOWN || event.type == SDL_QUIT)
                done = 1;
        }
        draw();
    }

    /* Release what was loaded; SDL_Quit runs at exit. */
    Mix_HaltMusic();
    Mix_FreeMusic(music);
    music = NULL;
    SFont_FreeFont(Font);
    Mix_CloseAudio();
    return 0;
}
