/* first_frame_shim.c: an LD_PRELOAD wrapper around SDL_Flip for scripts/startup_memory.sh.
   It reports the time from launch to the end of the first flip and which SDL runtime is
   loaded, counts frames, and asks the intro to quit after a set number of them. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <link.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/time.h>

typedef struct SDL_Surface SDL_Surface;
typedef struct {
    unsigned char major, minor, patch;
} sdl_version;

static long frames;
static long stop_after = 300;
static double t0_us; /* launch time from the script (SNOW_T0_US), else our constructor */

static double now_us(void)
{
    struct timeval tv;
    gettimeofday(&tv, NULL);
    return tv.tv_sec * 1e6 + tv.tv_usec;
}

__attribute__((constructor)) static void shim_init(void)
{
    /* Wall-clock time, because the launching shell's $EPOCHREALTIME is wall-clock too. */
    const char* t0 = getenv("SNOW_T0_US");
    t0_us = t0 ? atof(t0) : now_us();
    const char* n = getenv("SNOW_FRAMES");
    if (n && atol(n) > 0)
        stop_after = atol(n);
}

/* True when the code at addr belongs to the program itself (the link map's nameless first
   entry) rather than to a library. */
static int in_program(void* addr)
{
    Dl_info info;
    struct link_map* map = NULL;
    return dladdr1(addr, &info, (void**)&map, RTLD_DL_LINKMAP) && map && map->l_name[0] == '\0';
}

int SDL_Flip(SDL_Surface* screen)
{
    static int (*real_flip)(SDL_Surface*);
    if (!real_flip)
        real_flip = (int (*)(SDL_Surface*))dlsym(RTLD_NEXT, "SDL_Flip");
    int result = real_flip ? real_flip(screen) : -1;

    /* SDL flips on its own too (setting a full-screen mode shows the cleared screen);
       only the intro's frames count. */
    if (!in_program(__builtin_return_address(0)))
        return result;
    if (++frames == 1) {
        double ms = (now_us() - t0_us) / 1000.0;
        const sdl_version* (*linked)(void) =
            (const sdl_version* (*)(void))dlsym(RTLD_DEFAULT, "SDL_Linked_Version");
        const sdl_version* v = linked ? linked() : NULL;
        fprintf(stderr, "first_frame_ms=%.2f sdl=%d.%d.%d\n", ms, v ? v->major : 0,
                v ? v->minor : 0, v ? v->patch : 0);
    }
    /* SDL turns SIGTERM into a quit request, so the intro ends through its own shutdown. */
    if (frames == stop_after)
        raise(SIGTERM);
    return result;
}

/* Silent in processes that never flip, such as /usr/bin/time, which inherits the preload. */
__attribute__((destructor)) static void shim_done(void)
{
    if (frames > 0)
        fprintf(stderr, "frames=%ld\n", frames);
}
