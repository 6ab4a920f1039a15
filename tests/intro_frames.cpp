// intro_frames.cpp: runs the whole intro with a fixed seed and a scripted clock for a fixed
// number of frames and prints a checksum of each frame's RGB565 pixels, band by band. Built
// natively and for the browser, so the two builds can be compared frame for frame.
// With --video N it films the intro as the release video does, to check that capture: the
// clock starts at 0 and moves only by what SDL_Delay asks, the snow comes from the C
// library's rand() as in the real program, and the screen at each 1/60 s is written raw
// (RGB565, 640x480) to standard output, N frames in all.
#include "SDL.h"
#include "SDL_mixer.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

// The C libraries' rand() differ (glibc natively, musl in the browser), so both builds
// draw from the same small generator instead, seeded with a fixed value. A video run uses the
// C library's, like the real intro under the capture.
static long video_frames; // 0 unless --video
static unsigned long scripted_state;
static void scripted_srand(unsigned seed)
{
    if (video_frames)
        srand(seed);
    scripted_state = seed;
}
static int scripted_rand()
{
    if (video_frames)
        return rand();
    scripted_state = scripted_state * 1103515245 + 12345;
    return (int)(scripted_state / 65536 % 32768);
}
static time_t scripted_time(time_t*)
{
    return 20091224;
}

#define main intro_main
#define rand scripted_rand
#define srand scripted_srand
#define time(t) scripted_time(t)
#include "../src/main.cpp"
#undef time
#undef srand
#undef rand
#undef main

static const int FRAMES = 400;
static const Uint32 MS_PER_FRAME = 30; // a step every other frame
static const int BAND_ROWS = 48;       // rows per checksum

static const long VIDEO_FPS = 60;

static Uint32 fake_now = 1000;
static int frames_shown;
static long video_written;
static const pthread_t main_thread = pthread_self(); // SDL's audio thread sleeps too

// 64-bit FNV-1a over the 565 values of rows [top, top + BAND_ROWS).
static unsigned long long band_checksum(int top)
{
    unsigned long long h = 14695981039346656037ull;
    for (int y = top; y < top + BAND_ROWS && y < screen->h; y++) {
        const Uint16* row = (const Uint16*)((Uint8*)screen->pixels + y * screen->pitch);
        for (int x = 0; x < screen->w; x++) {
            h = (h ^ (row[x] & 0xFF)) * 1099511628211ull;
            h = (h ^ (row[x] >> 8)) * 1099511628211ull;
        }
    }
    return h;
}

extern "C" Uint32 SDL_GetTicks(void)
{
    return fake_now;
}

static void press_key()
{
    SDL_Event key = {};
    key.type = SDL_KEYDOWN;
    SDL_PushEvent(&key);
}

// The screen shows the frame just flipped until the clock reaches fake_now + ms: every video
// frame due before then, at k * 1000 / 60 ms, is this one.
static void film(Uint32 ms)
{
    while (video_written < video_frames && video_written * 1000 < (long)(fake_now + ms) * VIDEO_FPS) {
        for (int y = 0; y < screen->h; y++)
            fwrite((Uint8*)screen->pixels + y * screen->pitch, 2, screen->w, stdout);
        if (++video_written == video_frames)
            press_key();
    }
    fake_now += ms;
}

// The intro sleeps once per frame, after the flip: the finished frame is still on the
// screen surface. After the last frame a key press ends the loop.
extern "C" void SDL_Delay(Uint32 ms)
{
    if (!pthread_equal(pthread_self(), main_thread)) {
        usleep(ms * 1000);
        return;
    }
    if (video_frames) {
        film(ms);
        return;
    }
    printf("frame %d", frames_shown);
    for (int top = 0; top < screen->h; top += BAND_ROWS)
        printf(" %016llx", band_checksum(top));
    printf("\n");
    fake_now += MS_PER_FRAME;
    if (++frames_shown == FRAMES)
        press_key();
}

int main(int argc, char** argv)
{
    if (argc == 3 && !strcmp(argv[1], "--video") && atol(argv[2]) > 0) {
        video_frames = atol(argv[2]);
        fake_now = 0;
    } else if (argc != 1) {
        fprintf(stderr, "usage: intro_frames [--video FRAMES]\n");
        return 2;
    }
    char name[] = "intro_frames";
    char* args[] = {name, nullptr};
    int status = intro_main(1, args);
    if (video_frames)
        fprintf(stderr, "done: %ld frames filmed, status %d\n", video_written, status);
    else
        printf("done: %d frames, status %d\n", frames_shown, status);
    return status;
}
