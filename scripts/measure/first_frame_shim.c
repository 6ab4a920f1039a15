/* first_frame_shim.c: an LD_PRELOAD wrapper around SDL_Flip for scripts/measure/startup_memory.sh.
   It reports the time from launch to the end of the first flip and which SDL runtime is
   loaded, then the frame rate and the processor time of the intro (and of the X server, if
   given) from the first flip on, and asks the intro to quit after a set time. Or, watching
   the scroller, it reports when the message has left the screen and quits then. */

/* For dladdr1; SDL's own compiler flags may define it already. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <SDL.h>
#include <dlfcn.h>
#include <link.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#define TEXT_TOP 360   /* the scroller's top row; below it only text and snow are drawn */
#define WATCH_EVERY 50 /* ms between two looks at the scroller's rows */

static long frames;
static double stop_after_s = 4;
static double t0_us;       /* launch time from the script (SNOW_T0_US), else our constructor */
static int watch_text;     /* SNOW_WATCH_TEXT: quit once the message has gone */
static pid_t server;       /* SNOW_SERVER_PID: the X server, whose processor time we report */
static double first_us, first_cpu, first_server_cpu;

static double now_us(void)
{
    struct timeval tv;
    gettimeofday(&tv, NULL);
    return tv.tv_sec * 1e6 + tv.tv_usec;
}

/* Seconds of processor time of this process, all its threads (audio, renderer) included. */
static double cpu_s(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

/* Seconds of processor time of the X server, from its /proc stat; 0 without one. */
static double server_cpu_s(void)
{
    char path[64], buf[1024];
    snprintf(path, sizeof path, "/proc/%d/stat", (int)server);
    FILE* f = server > 0 ? fopen(path, "r") : NULL;
    if (!f)
        return 0;
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = '\0';
    /* utime and stime are fields 14 and 15; the name in field 2 may hold spaces. */
    char* p = strrchr(buf, ')');
    unsigned long utime = 0, stime = 0;
    if (!p || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return 0;
    return (double)(utime + stime) / sysconf(_SC_CLK_TCK);
}

__attribute__((constructor)) static void shim_init(void)
{
    /* Wall-clock time, because the launching shell's $EPOCHREALTIME is wall-clock too. */
    const char* t0 = getenv("SNOW_T0_US");
    t0_us = t0 ? atof(t0) : now_us();
    const char* s = getenv("SNOW_SECONDS");
    if (s && atof(s) > 0)
        stop_after_s = atof(s);
    watch_text = getenv("SNOW_WATCH_TEXT") != NULL;
    const char* pid = getenv("SNOW_SERVER_PID");
    server = pid ? atoi(pid) : 0;
}

/* True when the code at addr belongs to the program itself (the link map's nameless first
   entry) rather than to a library. */
static int in_program(void* addr)
{
    Dl_info info;
    struct link_map* map = NULL;
    return dladdr1(addr, &info, (void**)&map, RTLD_DL_LINKMAP) && map && map->l_name[0] == '\0';
}

/* True while the scroller's rows hold anything but black and the three snow greys. */
static int text_shows(SDL_Surface* screen)
{
    static Uint32 (*map)(const SDL_PixelFormat*, Uint8, Uint8, Uint8);
    if (!map)
        map = (Uint32(*)(const SDL_PixelFormat*, Uint8, Uint8, Uint8))dlsym(RTLD_DEFAULT, "SDL_MapRGB");
    if (!map || screen->format->BytesPerPixel != 2)
        return 0;
    Uint16 black = map(screen->format, 0, 0, 0), g0 = map(screen->format, 250, 250, 250),
           g1 = map(screen->format, 205, 205, 205), g2 = map(screen->format, 155, 155, 155);
    for (int y = TEXT_TOP; y < screen->h; y++) {
        const Uint16* row = (const Uint16*)((const Uint8*)screen->pixels + y * screen->pitch);
        for (int x = 0; x < screen->w; x++)
            if (row[x] != black && row[x] != g0 && row[x] != g1 && row[x] != g2)
                return 1;
    }
    return 0;
}

/* SDL turns SIGTERM into a quit request, so the intro ends through its own shutdown. */
static void report_and_quit(double now)
{
    double wall = (now - first_us) / 1e6;
    fprintf(stderr, "fps=%.1f cpu_pct=%.1f server_cpu_pct=%.1f seconds=%.2f\n", (frames - 1) / wall,
            100 * (cpu_s() - first_cpu) / wall, 100 * (server_cpu_s() - first_server_cpu) / wall, wall);
    raise(SIGTERM);
}

int SDL_Flip(SDL_Surface* screen)
{
    static int (*real_flip)(SDL_Surface*);
    static int text_seen, quitting;
    static double next_look_us;
    if (!real_flip)
        real_flip = (int (*)(SDL_Surface*))dlsym(RTLD_NEXT, "SDL_Flip");
    int result = real_flip ? real_flip(screen) : -1;

    /* SDL flips on its own too (setting a full-screen mode shows the cleared screen);
       only the intro's frames count. */
    if (!in_program(__builtin_return_address(0)) || quitting)
        return result;
    double now = now_us();
    if (++frames == 1) {
        const SDL_version* (*linked)(void) =
            (const SDL_version* (*)(void))dlsym(RTLD_DEFAULT, "SDL_Linked_Version");
        const SDL_version* v = linked ? linked() : NULL;
        fprintf(stderr, "first_frame_ms=%.2f sdl=%d.%d.%d\n", (now - t0_us) / 1000.0, v ? v->major : 0,
                v ? v->minor : 0, v ? v->patch : 0);
        first_us = now;
        first_cpu = cpu_s();
        first_server_cpu = server_cpu_s();
    }
    if (watch_text) {
        if (now < next_look_us)
            return result;
        next_look_us = now + WATCH_EVERY * 1000.0;
        int shows = text_shows(screen);
        text_seen |= shows;
        if (shows || !text_seen)
            return result;
        fprintf(stderr, "text_gone_s=%.2f\n", (now - first_us) / 1e6);
    } else if (now - first_us < stop_after_s * 1e6) {
        return result;
    }
    quitting = 1;
    report_and_quit(now);
    return result;
}
