// frame_bench.cpp: times the intro's frame against a bare clear of the screen. The intro
// module is compiled in with its entry point renamed; the flip and the 1 ms sleep become
// no-ops and the clock a fake one, so draw() runs exactly as the intro composes a frame.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#define main intro_main
#include "../src/main.cpp"
#undef main

// Stand-ins that the intro's calls (and SDL's own) bind to. The clock only moves when a
// benchmark moves it, so the tick gate fires exactly when a case wants it to.
static Uint32 fake_now = 1000;

extern "C" Uint32 SDL_GetTicks(void)
{
    return fake_now;
}

extern "C" int SDL_Flip(SDL_Surface*)
{
    return 0;
}

extern "C" void SDL_Delay(Uint32)
{
}

namespace {

// Scroll positions: mid-message fills the screen's width with glyphs; far past the end
// leaves every character to the left of the screen (the scroller's resting state).
const Sint32 MID_SCROLL = -2000;
const Sint32 PAST_END = -100000;

// Whole frames with the scroller held at x: the clock stays on the last step, so draw()
// takes no animation step.
void frames_at(benchmark::State& state, Sint32 x)
{
    fontx = x;
    oldtick = fake_now;
    for (auto _ : state) {
        draw();
        benchmark::ClobberMemory();
    }
}

void BM_Clear(benchmark::State& state)
{
    for (auto _ : state) {
        SDL_FillRect(screen, NULL, SDL_MapRGB(screen->format, 0, 0, 0));
        benchmark::ClobberMemory();
    }
}

void BM_Frame(benchmark::State& state)
{
    frames_at(state, MID_SCROLL);
}

void BM_Step(benchmark::State& state)
{
    fontx = MID_SCROLL;
    for (auto _ : state) {
        update_snow();
        update_text();
        // Stay mid-message, where update_text still moves the text.
        if (fontx < MID_SCROLL - 1000)
            fontx = MID_SCROLL;
        benchmark::ClobberMemory();
    }
}

void BM_LateFrame(benchmark::State& state)
{
    frames_at(state, PAST_END);
}

void BM_Memset(benchmark::State& state)
{
    const size_t bytes = 640 * 480 * 2;
    std::vector<Uint8> frame(bytes);
    for (auto _ : state) {
        memset(frame.data(), 0, bytes);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
}

// Breakdown of the frame: the text pass and the logo blit on their own.
void BM_TextOnly(benchmark::State& state)
{
    fontx = MID_SCROLL;
    for (auto _ : state) {
        draw_text();
        benchmark::ClobberMemory();
    }
}

void BM_LogoOnly(benchmark::State& state)
{
    for (auto _ : state) {
        SDL_Rect d = dest; // the blit clips its destination rectangle in place
        SDL_UpperBlit(logo, NULL, screen, &d);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_Clear)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Step)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LateFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memset)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LogoOnly)->Unit(benchmark::kMicrosecond);

// The console report plus each benchmark's real and CPU time per iteration in seconds: the
// median when repetitions are asked for, else the (last) plain run.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    // Colour only on a terminal, so logs and pipes stay plain text.
    RecordingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_None) {}
    std::map<std::string, double> seconds, cpu_seconds;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        benchmark::ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const std::string& name = run.run_name.function_name;
            double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && !medians_[name])) {
                seconds[name] = run.GetAdjustedRealTime() / unit;
                cpu_seconds[name] = run.GetAdjustedCPUTime() / unit;
                medians_[name] = median;
            }
        }
    }

private:
    std::map<std::string, bool> medians_;
};

void describe(const char* what, const SDL_Surface* s)
{
    const SDL_PixelFormat* f = s->format;
    std::printf("%-6s %dx%d, %d bpp, masks R %04X G %04X B %04X A %04X, colour key %s%s%s\n", what,
                s->w, s->h, f->BitsPerPixel, (unsigned)f->Rmask, (unsigned)f->Gmask,
                (unsigned)f->Bmask, (unsigned)f->Amask, (s->flags & SDL_SRCCOLORKEY) ? "on" : "off",
                (s->flags & SDL_RLEACCEL) ? ", RLE" : "", (s->flags & SDL_SRCALPHA) ? ", alpha" : "");
}

bool same_format(const SDL_Surface* a, const SDL_Surface* b)
{
    const SDL_PixelFormat* x = a->format;
    const SDL_PixelFormat* y = b->format;
    return x->BytesPerPixel == y->BytesPerPixel && x->Rmask == y->Rmask &&
           x->Gmask == y->Gmask && x->Bmask == y->Bmask && x->Amask == y->Amask;
}

// Brings the intro's globals to a steady mid-run state: screen, font, logo and a snow field
// that has fallen long enough for every flake to have entered the screen.
bool set_up()
{
    // No picture or sound is needed, whatever the caller's environment.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
        return false;
    }
    screen = SDL_SetVideoMode(640, 480, 16, SDL_SWSURFACE);
    if (screen == NULL) {
        std::fprintf(stderr, "SDL_SetVideoMode: %s\n", SDL_GetError());
        return false;
    }
    Font = SFont_InitFont(SDL_LoadBMP(ASSETS_DIR "/font.bmp"));
    logo = SDL_LoadBMP(ASSETS_DIR "/logo.bmp");
    if (Font == NULL || logo == NULL) {
        std::fprintf(stderr, "cannot load the assets from %s: %s\n", ASSETS_DIR, SDL_GetError());
        return false;
    }
    dest.x = 190;
    dest.y = 50;
    fonty = 360;
    fontx = MID_SCROLL;
    srand(12345);
    init_snow();
    for (int i = 0; i < 600; i++)
        update_snow();
    oldtick = fake_now;

    const SDL_version* v = SDL_Linked_Version();
    char driver[32] = "?";
    SDL_VideoDriverName(driver, sizeof driver);
    std::printf("SDL runtime %d.%d.%d, video driver %s\n", v->major, v->minor, v->patch, driver);
    describe("screen", screen);
    describe("font", Font->Surface);
    describe("logo", logo);
    std::printf("font and logo in the screen's format (no conversion per blit): %s, %s\n",
                same_format(Font->Surface, screen) ? "yes" : "NO",
                same_format(logo, screen) ? "yes" : "NO");
    std::printf("message width %d px, scroll at %d\n", SFont_TextWidth(Font, message), fontx);
    std::fflush(stdout);
    return true;
}

// How many steps the message takes from its start position until the last of its pixels
// has left the screen: the intro's own text pass and step, on a black screen, looking at the
// text's rows after each step. At one step per 55 ms that is the shortest possible pass.
void print_message_pass()
{
    const SDL_Rect band = {0, (Sint16)fonty, SCREEN_W, (Uint16)SFont_TextHeight(Font)};
    const Uint32 black = SDL_MapRGB(screen->format, 0, 0, 0);
    auto text_shows = [&] {
        SDL_FillRect(screen, NULL, black);
        draw_text();
        for (int y = band.y; y < band.y + band.h; y++) {
            const Uint16* row = (const Uint16*)((const Uint8*)screen->pixels + y * screen->pitch);
            for (int x = 0; x < band.w; x++)
                if (row[x] != black)
                    return true;
        }
        return false;
    };
    const Sint32 saved = fontx;
    int steps = 0, first = -1, last = -1;
    for (fontx = SCREEN_W; fontx > -SFont_TextWidth(Font, message) - SCREEN_W; steps++) {
        if (text_shows()) {
            last = steps;
            if (first < 0)
                first = steps;
        }
        update_text();
    }
    fontx = saved;
    std::printf("message pass: text on screen from step %d to step %d; gone after %d steps, "
                "%.2f s at one step per %d ms\n",
                first, last, last + 1, (last + 1) * STEP_MS / 1000.0, STEP_MS);
}

// Prints num/den from real time, with the CPU-time ratio beside it: on a busy machine the
// real time also counts the time the benchmark waited for a core.
void print_ratio(const RecordingReporter& r, const char* label, const char* num, const char* den,
                 bool with_goal)
{
    auto a = r.seconds.find(num), b = r.seconds.find(den);
    if (a == r.seconds.end() || b == r.seconds.end() || b->second <= 0)
        return;
    std::printf("%s ratio: %.2f", label, a->second / b->second);
    if (with_goal)
        std::printf(" (goal <= 1.3, required <= 1.5)");
    double cpu_den = r.cpu_seconds.at(den);
    if (cpu_den > 0)
        std::printf("; by CPU time %.2f", r.cpu_seconds.at(num) / cpu_den);
    std::printf("\n");
}

} // namespace

// With --message-pass, prints only the message's pass and runs no benchmark: its 2600
// text passes would otherwise skew the instruction counts of the clear under callgrind.
int main(int argc, char** argv)
{
    const bool message_pass_only = argc == 2 && std::strcmp(argv[1], "--message-pass") == 0;
    if (message_pass_only)
        argc = 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!set_up())
        return 1;
    if (message_pass_only) {
        print_message_pass();
        SDL_Quit();
        return 0;
    }

    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    print_ratio(reporter, "frame/clear", "BM_Frame", "BM_Clear", true);
    print_ratio(reporter, "late frame/clear", "BM_LateFrame", "BM_Clear", true);
    print_ratio(reporter, "clear/memset", "BM_Clear", "BM_Memset", false);
    const SDL_version* v = SDL_Linked_Version();
    std::printf("SDL runtime: %d.%d.%d\n", v->major, v->minor, v->patch);

    SFont_FreeFont(Font);
    SDL_FreeSurface(logo);
    SDL_Quit();
    return 0;
}
