// capture.cpp: a library preloaded into the real intro that films it on a virtual clock, as
// kkapture does on Windows. Only the main loop's SDL_Delay moves the clock, by what it asks,
// so the intro runs as on an infinitely fast machine whatever this one's speed; the video's
// frame k is what the screen holds at virtual time k/60 s. time() is fixed, so the snow, and
// with it every frame, is the same on every run.
//
// Set by the environment (capture/capture.sh sets them):
//   SNOWCAPTURE_OUT     the file or pipe the raw frames go to
//   SNOWCAPTURE_FRAMES  how many frames to write; then the intro is asked to quit
//   SNOWCAPTURE_SKIP    how many frames to pass over first (default 0)
//   SNOWCAPTURE_FORMAT  rgb565: 640x480 as drawn, 2 bytes a pixel, little-endian;
//                       yuv420p-3x: scaled 3x by whole pixels to 1920x1440, planar BT.709
//                       limited range with 4:2:0 chroma, the encoder's own input
// On quitting it reports on standard error where the time went.
#include "SDL.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <vector>

namespace {

const int W = 640, H = 480; // the intro's screen, RGB565
const int SCALE = 3;
const int OUT_W = W * SCALE, OUT_H = H * SCALE;
const long FPS = 60;
const time_t FIXED_TIME = 20091224; // seeds the snow; the frame checker's value

// Preloaded libraries are initialised on the main thread, before main().
const pthread_t main_thread = pthread_self();

enum Format { RGB565, YUV420P_3X };

struct Capture {
    int fd = -1;
    Format format = RGB565;
    long skip = 0, end = 0; // the frames [skip, end) are written
    long next = 0;          // the next frame due
    std::atomic<Uint32> now_ms{0}; // the virtual clock; SDL_mixer's thread reads it too
    bool quitting = false;
    std::vector<Uint8> out;   // one output frame
    std::vector<Uint16> last; // the screen that out was made from
    long converted = 0;
    double started = 0, scaling = 0, writing = 0; // seconds of real time
};
Capture cap;

// An RGB565 value's BT.709 limited-range Y, Cb and Cr.
Uint8 lut_y[65536], lut_u[65536], lut_v[65536];

double seconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

[[noreturn]] void die(const char* what)
{
    fprintf(stderr, "capture: %s\n", what);
    _exit(1);
}

Uint8 to_byte(double v)
{
    return (Uint8)lround(v < 0 ? 0 : v > 255 ? 255 : v);
}

void build_luts()
{
    for (int p = 0; p < 65536; p++) {
        // 5 and 6 bits widen to 8 by repeating their top bits, so full white stays 255.
        double r = ((p >> 11) << 3 | p >> 13) / 255.0;
        double g = ((p >> 5 & 63) << 2 | (p >> 9 & 3)) / 255.0;
        double b = ((p & 31) << 3 | (p >> 2 & 7)) / 255.0;
        double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
        lut_y[p] = to_byte(16 + 219 * y);
        lut_u[p] = to_byte(128 + 224 * (b - y) / 1.8556);
        lut_v[p] = to_byte(128 + 224 * (r - y) / 1.5748);
    }
}

// A count of frames from the environment: digits only, at least min, and small enough that
// the last frame's time in milliseconds still fits the clock.
long frame_count(const char* text, long min, const char* complaint)
{
    const long MAX = 1000000000L / FPS;
    char* end;
    errno = 0;
    long n = text && *text >= '0' && *text <= '9' ? strtol(text, &end, 10) : -1;
    if (n < min || n > MAX || errno || *end)
        die(complaint);
    return n;
}

void configure()
{
    const char* out = getenv("SNOWCAPTURE_OUT");
    const char* skip = getenv("SNOWCAPTURE_SKIP");
    const char* format = getenv("SNOWCAPTURE_FORMAT");
    if (!out)
        die("SNOWCAPTURE_OUT must be set");
    long frames = frame_count(getenv("SNOWCAPTURE_FRAMES"), 1, "SNOWCAPTURE_FRAMES must be a whole number above 0");
    cap.skip = skip ? frame_count(skip, 0, "SNOWCAPTURE_SKIP must be a whole number, 0 or more") : 0;
    cap.end = cap.skip + frames;
    if (!format || !strcmp(format, "rgb565"))
        cap.format = RGB565;
    else if (!strcmp(format, "yuv420p-3x"))
        cap.format = YUV420P_3X;
    else
        die("SNOWCAPTURE_FORMAT must be rgb565 or yuv420p-3x");

    const SDL_Surface* screen = SDL_GetVideoSurface();
    if (!screen || screen->w != W || screen->h != H || screen->format->BitsPerPixel != 16 ||
        screen->format->Rmask != 0xF800 || screen->format->Gmask != 0x07E0)
        die("the intro's screen is not 640x480 RGB565 (SDL_VIDEODRIVER=dummy gives that)");

    cap.fd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (cap.fd < 0)
        die("cannot open SNOWCAPTURE_OUT for writing");
    signal(SIGPIPE, SIG_IGN);              // a reader that has gone is an error we report
    fcntl(cap.fd, F_SETPIPE_SZ, 1 << 20); // fewer wake-ups on a pipe; a file ignores it
    if (cap.format == YUV420P_3X) {
        build_luts();
        cap.out.resize(OUT_W * OUT_H * 3 / 2);
    } else {
        cap.out.resize(W * H * 2);
    }
    cap.started = seconds();
}

// One source row's chroma as 960 samples: each pair of source pixels spans three, the middle
// one straddling both.
void chroma_row(const Uint16* src, const Uint8* lut, Uint8* dst)
{
    for (int x = 0; x < W; x += 2, dst += 3) {
        dst[0] = lut[src[x]];
        dst[2] = lut[src[x + 1]];
        dst[1] = (Uint8)((dst[0] + dst[2] + 1) >> 1);
    }
}

// A chroma plane, 960x720: likewise each pair of source rows spans three sample rows.
void chroma_plane(const Uint16* screen, const Uint8* lut, Uint8* plane)
{
    const int CW = OUT_W / 2;
    for (int y = 0; y < H; y += 2, plane += 3 * CW) {
        chroma_row(screen + y * W, lut, plane);
        chroma_row(screen + (y + 1) * W, lut, plane + 2 * CW);
        for (int x = 0; x < CW; x++)
            plane[CW + x] = (Uint8)((plane[x] + plane[2 * CW + x] + 1) >> 1);
    }
}

// Every source pixel becomes a 3x3 square of luma.
void convert_yuv(const Uint16* screen)
{
    Uint8* luma = cap.out.data();
    for (int y = 0; y < H; y++) {
        Uint8* row = luma + y * SCALE * OUT_W;
        for (int x = 0; x < W; x++)
            memset(row + x * SCALE, lut_y[screen[y * W + x]], SCALE);
        memcpy(row + OUT_W, row, OUT_W);
        memcpy(row + 2 * OUT_W, row, OUT_W);
    }
    Uint8* cb = luma + OUT_W * OUT_H;
    chroma_plane(screen, lut_u, cb);
    chroma_plane(screen, lut_v, cb + OUT_W * OUT_H / 4);
}

// The screen as packed rows of 640 RGB565 pixels, whatever its pitch.
const Uint16* packed_screen(SDL_Surface* screen)
{
    static std::vector<Uint16> rows(W * H);
    if (screen->pitch == W * 2)
        return (const Uint16*)screen->pixels;
    for (int y = 0; y < H; y++)
        memcpy(&rows[y * W], (Uint8*)screen->pixels + y * screen->pitch, W * 2);
    return rows.data();
}

void write_frame(SDL_Surface* screen)
{
    const Uint16* px = packed_screen(screen);
    double t0 = seconds();
    if (cap.format == RGB565) {
        memcpy(cap.out.data(), px, W * H * 2);
    } else if (cap.last.empty() || memcmp(cap.last.data(), px, W * H * 2)) {
        // The intro steps every 55 ms, so most frames repeat the one before: those reuse
        // its conversion.
        convert_yuv(px);
        cap.last.assign(px, px + W * H);
        cap.converted++;
    }
    double t1 = seconds();
    for (size_t done = 0; done < cap.out.size();) {
        ssize_t n = write(cap.fd, cap.out.data() + done, cap.out.size() - done);
        if (n <= 0)
            die("cannot write a frame: its reader has gone");
        done += n;
    }
    cap.scaling += t1 - t0;
    cap.writing += seconds() - t1;
}

// Ends the intro as a window close would, and says where the time went: the waiting on a
// full pipe is the reader's (the encoder's) time, the rest the program's.
void finish()
{
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    if (SDL_PushEvent(&quit) < 0)
        die("cannot ask the intro to quit");
    cap.quitting = true;
    double total = seconds() - cap.started;
    fprintf(stderr,
            "capture: %ld frames to %.3f s of virtual time in %.2f s: program %.2f s, "
            "scaling %.2f s (%ld frames converted), waiting for the reader %.2f s\n",
            cap.end - cap.skip, cap.now_ms.load() / 1000.0, total, total - cap.scaling - cap.writing,
            cap.scaling, cap.converted, cap.writing);
}

} // namespace

extern "C" {

Uint32 SDL_GetTicks(void)
{
    return cap.now_ms;
}

// The intro sleeps right after each flip, so while it sleeps the screen holds its latest
// frame: every frame due in [now, now + ms) is that one.
void SDL_Delay(Uint32 ms)
{
    if (!pthread_equal(pthread_self(), main_thread)) {
        usleep(ms * 1000); // SDL's audio thread keeps real time
        return;
    }
    if (cap.fd < 0)
        configure();
    Uint32 until = cap.now_ms + ms;
    for (; cap.next < cap.end && cap.next * 1000 < (long)until * FPS; cap.next++) {
        if (cap.next >= cap.skip)
            write_frame(SDL_GetVideoSurface());
    }
    cap.now_ms = until;
    if (cap.next == cap.end && !cap.quitting)
        finish();
}

time_t time(time_t* t) noexcept
{
    if (t)
        *t = FIXED_TIME;
    return FIXED_TIME;
}
}
