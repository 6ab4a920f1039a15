/* e2e_test.cpp: the real intro under a private Xvfb, on both SDL 1.2 runtimes (the classic
   library, and sdl12-compat over SDL2), and the Windows release under Wine: what it shows
   and plays, how it ends, how it fails at start-up, and that it survives missing or broken
   assets; and the shipped music as SDL_mixer plays it. The screen is read from the XWD file
   that Xvfb keeps in -fbdir. Every wait has a deadline. */
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_mixer.h>
#include <X11/Xlib.h>
#undef None /* Xlib macros that clash with GoogleTest's names */
#undef Bool
#undef Status
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

/* ---- processes and the X server ------------------------------------------------------- */

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

/* How long a run may take to show its window, draw, start its music or end when asked, on
   a machine three times slower than an idle one and busy besides: a deadline, not a
   measure, so only a run that never gets there waits it out. */
const int kPatienceMs = 30000;

/* Polls pred until it holds (true) or timeout_ms has passed (false). */
template <class Pred> bool wait_until(int timeout_ms, Pred pred)
{
    auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!pred()) {
        if (Clock::now() >= end)
            return false;
        sleep_ms(10);
    }
    return true;
}

/* In one piece: a screen read char by char takes most of an animation step under ASan,
   all the while holding the X server. */
std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

/* A fresh folder under /tmp, removed with the object. */
struct TempDir {
    fs::path path;
    TempDir()
    {
        char t[] = "/tmp/snowintro-XXXXXX";
        if (!mkdtemp(t))
            throw std::runtime_error("mkdtemp failed");
        path = t;
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path operator/(const char* name) const { return path / name; }
};

/* A child process (argv[0] searched in PATH) in folder cwd with its output in files. One
   still running when the object goes is asked to end, then killed. */
struct Child {
    pid_t pid;
    std::optional<int> status; /* the exit code, or 128 + signal */

    Child(const std::vector<std::string>& argv, const fs::path& cwd, const fs::path& out = "/dev/null",
          const fs::path& err = "/dev/null")
    {
        std::vector<char*> a;
        for (const std::string& s : argv)
            a.push_back(const_cast<char*>(s.c_str()));
        a.push_back(nullptr);
        if ((pid = fork()) < 0) /* no object, so no destructor signalling pid -1: everyone */
            throw std::runtime_error(std::string("fork failed: ") + strerror(errno));
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL); /* never outlive a crashed test */
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), 1);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), 2);
            if (chdir(cwd.c_str()) == 0)
                execvp(a[0], a.data());
            _exit(127);
        }
    }
    ~Child()
    {
        if (!wait(0) && kill(pid, SIGTERM) == 0 && !wait(3000) && kill(pid, SIGKILL) == 0)
            wait(3000);
    }
    std::optional<int> wait(int timeout_ms)
    {
        wait_until(timeout_ms, [&] {
            int st = 0;
            if (!status && waitpid(pid, &st, WNOHANG) == pid)
                status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            return status.has_value();
        });
        return status;
    }
    bool running() { return !wait(0); }
};

/* One screen of 16-bit pixels, row-major. */
struct Frame {
    int w, h;
    std::vector<uint16_t> px;
    uint16_t at(int x, int y) const { return px[size_t(y) * w + x]; }
};

/* A 16 bpp XWD file: big-endian header fields, ncolors 12-byte colour entries, then the
   rows in the file's byte order. */
std::optional<Frame> read_xwd(const std::string& d)
{
    auto bytes = reinterpret_cast<const uint8_t*>(d.data());
    auto u32 = [&](int i) {
        const uint8_t* p = bytes + 4 * i;
        return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    };
    if (d.size() < 100 || u32(11) != 16)
        return std::nullopt;
    Frame f{int(u32(4)), int(u32(5)), {}};
    size_t off = u32(0) + 12 * size_t(u32(19)), bpl = u32(12);
    if (d.size() < off + bpl * f.h)
        return std::nullopt;
    for (int y = 0; y < f.h; ++y)
        for (const uint8_t *p = bytes + off + y * bpl, *end = p + 2 * f.w; p < end; p += 2)
            f.px.push_back(uint16_t(u32(7) ? p[0] << 8 | p[1] : p[1] << 8 | p[0]));
    return f;
}

/* A private Xvfb on a display number it picks itself (-displayfd), its screen in an XWD
   file, no cursor, and no reset when the last client leaves; plus our own connection. */
struct Xvfb {
    TempDir dir; /* first, so it goes after the server */
    std::optional<Child> server;
    std::string display;
    Display* dpy = nullptr;

    explicit Xvfb(const std::string& geometry)
    {
        int fds[2];
        if (pipe(fds) != 0)
            throw std::runtime_error("pipe failed");
        server.emplace(std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", geometry,
                                                "-nolisten", "tcp", "-nocursor", "-noreset", "-fbdir", dir.path},
                       dir.path, "/dev/null", dir / "log");
        close(fds[1]);
        /* The display number and a newline once it is ready; end of file if it died. Its
           first start on a new machine can take seconds. */
        std::string num;
        char buf[16];
        pollfd ready{fds[0], POLLIN, 0};
        for (ssize_t n; num.find('\n') == std::string::npos && poll(&ready, 1, 30000) == 1 &&
                        (n = read(fds[0], buf, sizeof buf)) > 0;)
            num.append(buf, size_t(n));
        close(fds[0]);
        display = ":" + num.substr(0, num.find('\n'));
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; }); /* windows may go while we look */
        if (num.find('\n') == std::string::npos || !(dpy = XOpenDisplay(display.c_str())))
            throw std::runtime_error("Xvfb " + geometry + " did not start: " + slurp(dir / "log"));
    }
    ~Xvfb() { XCloseDisplay(dpy); }

    /* The screen, read with the server grabbed so that no client draws while the file is
       read: an update in progress would tear it. (Waiting for two reads alike instead
       failed on a loaded machine, where a read can outlast an animation step.) */
    std::optional<Frame> frame() const
    {
        XGrabServer(dpy);
        XSync(dpy, False);
        std::optional<Frame> f = read_xwd(slurp(dir / "Xvfb_screen0"));
        XUngrabServer(dpy);
        XSync(dpy, False);
        return f;
    }

    /* The top-level window whose WM_NAME is name; 0 if none. */
    Window find_window(const char* name) const
    {
        Window root, parent, *kids = nullptr, found = 0;
        unsigned count = 0;
        XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &kids, &count);
        for (unsigned i = 0; i < count && !found; ++i) {
            char* n = nullptr;
            if (XFetchName(dpy, kids[i], &n) && std::strcmp(n, name) == 0)
                found = kids[i];
            XFree(n);
        }
        XFree(kids);
        return found;
    }

    /* Asks window w to close as a window manager does: WM_PROTOCOLS with WM_DELETE_WINDOW. */
    void send_delete_window(Window w) const
    {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = w;
        ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = long(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(dpy, w, False, NoEventMask, &ev);
        XSync(dpy, False);
    }
};

/* ---- what the screen should show ------------------------------------------------------ */

const char* const kCaption = "SDL MultiMedia Application";
const int kLogoX = 190, kLogoY = 50, kTextY = 360;

Xvfb* g_x;    /* the shared 640x480x16 display */
Frame g_logo; /* logo.bmp and font.bmp, as the 16-bit screen holds them */
Frame g_font;

uint16_t rgb565(int r, int g, int b) { return uint16_t((r >> 3) << 11 | (g >> 2) << 5 | b >> 3); }
const uint16_t kGreys[] = {rgb565(250, 250, 250), rgb565(205, 205, 205), rgb565(155, 155, 155)};
/* The pixel bits that a run's screen keeps; frames are captured with only these. Wine's GDI
   makes 16-bit bitmaps 5-5-5, so SDL's windib driver draws into a 5-5-5 screen there, and
   green's lowest bit is lost on the way to the 5-6-5 X server. */
const uint16_t kAllBits = 0xFFFF, kBits555 = 0xFFDF;
uint16_t g_bits = kAllBits;
bool same(uint16_t screen, uint16_t expected) { return screen == (expected & g_bits); }
bool is_snow(uint16_t p)
{
    return std::any_of(std::begin(kGreys), std::end(kGreys), [p](uint16_t g) { return same(p, g); });
}
bool is_ink(uint16_t p) { return p != 0 && !is_snow(p); } /* logo or text */
bool in_band(int y) { return y >= kTextY && y < kTextY + g_font.h - 1; }

/* One pass over a frame. Logo pixels that differ from logo.bmp. Text pixels in the band,
   and those whose colour the font's glyph row at their height lacks: its gradient gives
   each row colours of its own, so text out of place shows. Outside the logo and the band
   (each only where it should show) flakes, and strays: lit pixels that are no snow grey,
   or lie in row 0 or column 0. */
struct Look {
    int logo_bad = 0, text = 0, misplaced = 0, flakes = 0, strays = 0;
};
Look look(const Frame& f, bool logo, bool text)
{
    Look l;
    for (int y = 0; y < f.h; ++y)
        for (int x = 0; x < f.w; ++x) {
            uint16_t p = f.at(x, y);
            bool in_logo = x >= kLogoX && x < kLogoX + g_logo.w && y >= kLogoY && y < kLogoY + g_logo.h;
            l.logo_bad += in_logo && !same(p, g_logo.at(x - kLogoX, y - kLogoY));
            if (in_band(y) && is_ink(p)) {
                auto row = g_font.px.begin() + (y - kTextY + 1) * g_font.w;
                l.text++;
                l.misplaced += std::none_of(row, row + g_font.w, [p](uint16_t q) { return same(p, q); });
            }
            if (p != 0 && !(logo && in_logo) && !(text && in_band(y))) {
                l.flakes += is_snow(p);
                l.strays += is_ink(p) || x == 0 || y == 0;
            }
        }
    return l;
}

/* The leftward shift s that best maps the text of frame a onto frame b, b(x) = a(x + s),
   on text-coloured pixels only, so the snow does not count. */
struct Shift {
    int s = -1, mismatches = 0, matched = 0;
};
Shift text_shift(const Frame& a, const Frame& b)
{
    Shift best;
    auto ink = [](uint16_t p) { return is_ink(p) ? p : 0; };
    for (int s = 0; s < a.w / 2; ++s) {
        Shift t{s, 0, 0};
        for (int y = kTextY; in_band(y); ++y)
            for (int x = 0; x + s < a.w; ++x) {
                uint16_t pa = ink(a.at(x + s, y)), pb = ink(b.at(x, y));
                t.mismatches += pa != pb;
                t.matched += pa && pa == pb;
            }
        if (best.s < 0 || t.mismatches < best.mismatches)
            best = t;
    }
    return best;
}

/* ---- runs of the intro ---------------------------------------------------------------- */

/* A runtime is named by its LD_LIBRARY_PATH: empty for the system's libSDL-1.2 (the classic
   library on Debian 12, sdl12-compat on 13), kCompat for Debian 12's sdl12-compat beside it.
   kWine names the Windows release instead: the zip in SNOWINTRO_ZIP under the Wine of
   WINEPREFIX. */
const char* const kCompat = "/usr/lib/x86_64-linux-gnu/sdl12-compat";
const char* const kWine = "wine";

/* sdl12-compat calls itself 1.2.50 or later; the classic library ended at 1.2.15. */
bool system_sdl_is_compat() { return SDL_Linked_Version()->patch >= 50; }
bool is_compat(const std::string& runtime) { return !runtime.empty() || system_sdl_is_compat(); }
/* Both runtimes where the system has the classic one, else just the system's. */
std::vector<std::string> runtimes()
{
    if (system_sdl_is_compat())
        return {""};
    return {"", kCompat};
}

/* Unpacks the release zip into `into`; its one folder, named after the zip, is returned. */
fs::path unpack_release(const fs::path& into)
{
    const char* zip = getenv("SNOWINTRO_ZIP");
    if (!zip || !getenv("WINEPREFIX"))
        throw std::runtime_error("SNOWINTRO_ZIP and WINEPREFIX must be set (ctest sets them)");
    if (Child({"unzip", "-q", zip, "-d", into}, "/").wait(kPatienceMs) != 0)
        throw std::runtime_error(std::string("cannot unpack ") + zip);
    std::string folder = fs::path(zip).filename();
    return into / folder.substr(0, folder.find("-windows-"));
}

/* The runtime a process really runs on: the libSDL-1.2 in its memory map, from the folder
   asked for. The classic library's file is libSDL-1.2.so.0.11.4; sdl12-compat's is named
   after its own version, libSDL-1.2.so.1.2.NN. */
void expect_runtime(pid_t pid, const std::string& libdir)
{
    std::istringstream maps(slurp("/proc/" + std::to_string(pid) + "/maps"));
    std::string line, lib;
    while (lib.empty() && std::getline(maps, line))
        if (line.find("libSDL-1.2.so") != std::string::npos)
            lib = line.substr(line.find('/'));
    bool compat = lib.find("/libSDL-1.2.so.1.") != std::string::npos;
    EXPECT_TRUE(!lib.empty() && (lib.find("/sdl12-compat/") != std::string::npos) == !libdir.empty() &&
                compat == is_compat(libdir))
        << "libSDL-1.2 mapped from '" << lib << "'";
}

/* How an asset is laid out for a run. Garbage keeps the first four bytes, so the loader
   gets past the magic; a FIFO blocks whoever opens it. */
enum Break { Keep, Missing, Truncated, Garbage, Empty, Directory, Fifo };
using Assets = std::array<Break, 3>;
const char* const kAssetNames[] = {"font.bmp", "logo.bmp", "velimora.mp3"};

void place(const fs::path& at, const char* name, Break how)
{
    fs::path shipped = fs::path(ASSETS_DIR) / name;
    if (how == Keep) {
        fs::create_symlink(shipped, at);
    } else if (how == Directory) {
        fs::create_directory(at);
    } else if (how == Fifo) {
        mkfifo(at.c_str(), 0644);
    } else if (how != Missing) {
        std::string bytes = how == Empty ? "" : slurp(shipped);
        if (how == Truncated) /* the header and half the data */
            bytes.resize(bytes.size() / 2);
        std::mt19937 rng(12345);
        for (size_t i = 4; how == Garbage && i < bytes.size(); ++i)
            bytes[i] = char(rng());
        std::ofstream(at, std::ios::binary) << bytes;
    }
}

/* One run of the intro in a scratch folder with its assets laid out as asked, its sound
   going to a file there; env entries come last, so they override the defaults. The Windows
   release runs in its folder unpacked there, with its own assets where they are kept, and
   its output goes to stdout.txt and stderr.txt beside it. */
struct Launch {
    TempDir dir;
    bool wine;
    fs::path cwd;
    std::optional<Child> proc;

    Launch(const std::string& runtime, const Assets& assets, const std::vector<std::string>& env = {},
           const std::string& display = g_x->display)
        : wine(runtime == kWine), cwd(wine ? unpack_release(dir.path) : dir.path)
    {
        for (int i = 0; i < 3; ++i)
            if (!wine || assets[i] != Keep) {
                fs::remove(cwd / kAssetNames[i]);
                place(cwd / kAssetNames[i], kAssetNames[i], assets[i]);
            }
        /* The last run's window must be gone, or it would pass for this one's. */
        wait_until(kPatienceMs, [] { return !g_x->find_window(kCaption); });
        /* In a sanitizer build X11's own leaks at exit would replace every exit status;
           leaks are the unit tests' business. */
        const char* asan = getenv("ASAN_OPTIONS");
        std::vector<std::string> argv = {"env", "-u", "LD_LIBRARY_PATH", "DISPLAY=" + display, "SDL_VIDEODRIVER=x11",
                                         "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + (dir / "audio.raw").string(),
                                         std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":detect_leaks=0"};
        if (wine)
            argv.push_back("SDL_VIDEODRIVER=windib");
        else if (!runtime.empty())
            argv.push_back("LD_LIBRARY_PATH=" + runtime);
        argv.insert(argv.end(), env.begin(), env.end());
        if (wine)
            argv.insert(argv.end(), {"wine", "snowintro.exe"});
        else
            argv.push_back(SNOWINTRO_BIN);
        proc.emplace(argv, cwd, dir / "stdout", dir / "stderr");
    }
    std::string out() const { return slurp(wine ? cwd / "stdout.txt" : dir / "stdout"); }
    std::string err() const { return slurp(wine ? cwd / "stderr.txt" : dir / "stderr"); }
    bool sound() const { return slurp(dir / "audio.raw").find_first_not_of('\0') != std::string::npos; }
};

/* The screen and sound of a run up since `up`: the logo at (190,50), text scrolling in its
   band and music, each if its asset is there, and snow everywhere else. */
void check_show(Launch& r, bool logo, bool text, bool music, Clock::time_point up)
{
    std::vector<Frame> frames;
    auto capture = [&] {
        std::optional<Frame> f = g_x->frame();
        if (f) {
            for (uint16_t& p : f->px)
                p &= g_bits;
            frames.push_back(*f);
        }
        return f.has_value();
    };
    ASSERT_TRUE(wait_until(kPatienceMs, [&] {
        Look l = capture() ? look(frames.back(), logo, text) : Look{-1};
        return (!logo || l.logo_bad == 0) && (!text || l.text >= 20);
    })) << "logo or text not (or not right) on screen";

    if (text) { /* ~0.5 s apart: whole 5-pixel steps left, at most one per 55 ms tick */
        auto t0 = Clock::now();
        ASSERT_TRUE(capture());
        sleep_ms(500);
        ASSERT_TRUE(capture());
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        Shift sh = text_shift(frames[frames.size() - 2], frames.back());
        EXPECT_TRUE(sh.s > 0 && sh.s % 5 == 0 && sh.s / 5 <= int(ms / 55) + 1)
            << "text moved " << sh.s << " px in " << ms << " ms";
        EXPECT_GE(sh.matched, 50) << "too little text to compare";
        EXPECT_LE(sh.mismatches, sh.matched / 50) << "text pixels the shift does not explain";
    }

    /* By 2 s the nearest snow has fallen past the logo's top, so a logo drawn before the
       snow would show flakes on it. */
    std::this_thread::sleep_until(up + std::chrono::seconds(2));
    ASSERT_TRUE(capture());
    Look last = look(frames.back(), logo, text);
    EXPECT_EQ(logo ? last.logo_bad : 0, 0) << "logo pixels differ from logo.bmp at 2 s";
    EXPECT_GE(last.flakes, 20) << "hardly any snow";
    for (const Frame& f : frames) {
        Look l = look(f, logo, text);
        EXPECT_EQ(l.strays, 0) << "pixels where only snow belongs";
        EXPECT_EQ(l.misplaced, 0) << "text pixels out of their glyph row";
    }
    if (music) {
        EXPECT_TRUE(wait_until(kPatienceMs, [&] { return r.sound(); })) << "the music is not playing";
    } else {
        EXPECT_TRUE(fs::file_size(r.dir / "audio.raw") > 0 && !r.sound()) << "expected silence";
    }
}

/* ---- the shipped music ---------------------------------------------------------------- */

const int kRate = 22050;

/* One pass of the music as SDL_mixer mixes it for the intro's audio format: the disk driver
   writes to a scratch file (SDL 2's refuses /dev/null) without pausing, so it runs at full
   speed, and a post-mix hook keeps every chunk mixed while the music plays (so the last,
   partly silent one is left out).
   The intro runs started later inherit the environment, so the disk settings go again. */
std::vector<int16_t> g_played;
std::vector<int16_t> play_once(const char* path)
{
    TempDir scratch;
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (scratch / "audio.raw").c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    g_played.clear();
    if (SDL_Init(SDL_INIT_AUDIO) < 0 || Mix_OpenAudio(kRate, AUDIO_S16LSB, 2, 4096) != 0)
        throw std::runtime_error(std::string("no audio: ") + SDL_GetError());
    Mix_SetPostMix([](void*, Uint8* s, int len) {
        if (Mix_PlayingMusic())
            g_played.insert(g_played.end(), (int16_t*)s, (int16_t*)(s + len));
    }, nullptr);
    Mix_Music* m = Mix_LoadMUS(path);
    if (m && Mix_PlayMusic(m, 0) == 0)
        wait_until(60000, [] { return !Mix_PlayingMusic(); });
    Mix_FreeMusic(m);
    Mix_CloseAudio();
    SDL_Quit();
    unsetenv("SDL_DISKAUDIOFILE");
    unsetenv("SDL_DISKAUDIODELAY");
    return std::move(g_played);
}

/* Integrated loudness (LUFS) of interleaved stereo as BS.1770 defines it: K-weighting (its
   high shelf, then its high pass, made for this rate from their analogue parameters), mean
   squares of 400 ms blocks every 100 ms summed over the channels, gated at -70 LUFS and
   then 10 LU below the mean of what passed. */
double integrated_loudness(const std::vector<int16_t>& s)
{
    struct Biquad {
        double b0, b1, b2, a1, a2, z1 = 0, z2 = 0;
        double run(double x)
        {
            double y = b0 * x + z1;
            z1 = b1 * x - a1 * y + z2;
            z2 = b2 * x - a2 * y;
            return y;
        }
    };
    const double A = std::pow(10, 3.99984385 / 40), w = 2 * M_PI * 1681.97445 / kRate, c = std::cos(w);
    const double r = std::sqrt(A) * std::sin(w) / 0.70717524, a0 = A + 1 - (A - 1) * c + r;
    const Biquad shelf = {A * (A + 1 + (A - 1) * c + r) / a0, -2 * A * (A - 1 + (A + 1) * c) / a0,
                          A * (A + 1 + (A - 1) * c - r) / a0, 2 * (A - 1 - (A + 1) * c) / a0, (A + 1 - (A - 1) * c - r) / a0};
    const double hw = 2 * M_PI * 38.1354709 / kRate, hc = std::cos(hw), al = std::sin(hw) / (2 * 0.50032704);
    const Biquad high = {(1 + hc) / 2 / (1 + al), -(1 + hc) / (1 + al), (1 + hc) / 2 / (1 + al), -2 * hc / (1 + al),
                         (1 - al) / (1 + al)};
    Biquad f[2][2] = {{shelf, high}, {shelf, high}};
    std::vector<double> sum = {0}; /* running sum of both channels' weighted squares */
    for (size_t i = 0; i < s.size(); i += 2) {
        double e = 0;
        for (int ch = 0; ch < 2; ++ch) {
            double y = f[ch][1].run(f[ch][0].run(s[i + ch] / 32768.0));
            e += y * y;
        }
        sum.push_back(sum.back() + e);
    }
    const size_t block = kRate * 4 / 10, hop = kRate / 10;
    std::vector<double> blocks;
    for (size_t i = 0; i + block < sum.size(); i += hop)
        blocks.push_back((sum[i + block] - sum[i]) / block);
    auto lufs = [](double z) { return -0.691 + 10 * std::log10(z); };
    auto gated_mean = [&](double gate) {
        double total = 0;
        int n = 0;
        for (double z : blocks)
            if (lufs(z) > gate)
                total += z, n++;
        return n ? total / n : 0;
    };
    return lufs(gated_mean(lufs(gated_mean(-70)) - 10));
}

/* The file's first MPEG audio frame header: MPEG-2 Layer III at 22050 Hz, not mono, the rate
   the intro opens the device at (SDL_mixer 1.2 converts rates well only by factors of two).
   Played through SDL_mixer: about 150 s, about -16 LUFS, peaks below -1 dBFS, and silence
   at both ends, so the loop's seam makes no click. */
TEST(ShippedMusic, Is22050HzStereo150sAtMinus16LufsWithASilentSeam)
{
    const std::string mp3 = slurp(ASSETS_DIR "/velimora.mp3");
    ASSERT_GE(mp3.size(), 4u);
    const auto h = reinterpret_cast<const uint8_t*>(mp3.data());
    EXPECT_TRUE(h[0] == 0xFF && (h[1] & 0xFE) == 0xF2 && (h[2] & 0x0C) == 0 && h[3] >> 6 != 3)
        << "frame header " << std::hex << (h[0] << 24 | h[1] << 16 | h[2] << 8 | h[3]);

    const std::vector<int16_t> s = play_once(ASSETS_DIR "/velimora.mp3");
    const double seconds = double(s.size()) / 2 / kRate;
    EXPECT_TRUE(seconds > 145 && seconds < 155) << seconds << " s";
    ASSERT_GT(seconds, 1);
    EXPECT_NEAR(integrated_loudness(s), -16, 1);
    auto peak = [&](size_t from, size_t to) {
        int p = 0;
        for (size_t i = from; i < to; ++i)
            p = std::max(p, std::abs(int(s[i])));
        return 20 * std::log10(std::max(p, 1) / 32768.0);
    };
    EXPECT_LT(peak(0, s.size()), -1);
    EXPECT_LT(peak(0, 2 * kRate / 50), -60) << "in the first 20 ms";
    EXPECT_LT(peak(s.size() - kRate, s.size()), -60) << "in the last 0.5 s";
}

/* ---- tests ------------------------------------------------------------------------------ */

enum End { Key, Term, Close };

/* One run to its end: the window comes up; whole or missing assets are checked on screen and
   in the sound, damaged ones only have to keep it up; the end asked for gives status 0. */
void run_and_end(const std::string& runtime, const Assets& assets, End end)
{
    g_bits = runtime == kWine ? kBits555 : kAllBits;
    Launch r(runtime, assets);
    Window w = 0;
    ASSERT_TRUE(wait_until(kPatienceMs, [&] { return !r.proc->running() || (w = g_x->find_window(kCaption)); }) && w)
        << "no window named '" << kCaption << "'; stderr: " << r.err();
    auto up = Clock::now();
    if (runtime != kWine)
        expect_runtime(r.proc->pid, runtime);
    if (std::all_of(assets.begin(), assets.end(), [](Break b) { return b == Keep || b == Missing; }))
        check_show(r, assets[1] == Keep, assets[0] == Keep, assets[2] == Keep, up);
    else
        sleep_ms(500);
    ASSERT_TRUE(r.proc->running()) << "ended by itself; stderr: " << r.err();

    if (end == Key)
        EXPECT_EQ(Child({"env", "DISPLAY=" + g_x->display, "xdotool", "key", "space"}, "/").wait(kPatienceMs), 0);
    else if (end == Term)
        kill(r.proc->pid, SIGTERM);
    else
        g_x->send_delete_window(w);
    EXPECT_EQ(r.proc->wait(kPatienceMs).value_or(-1), 0) << "(-1: still running) stderr: " << r.err();
    EXPECT_EQ(r.out(), "");
}

/* A start-up failure: its status, and one line that ends in SDL's error, alone on its stream. */
struct Failure {
    int status;
    const char* message;
    bool on_stderr;
    std::string display;
    std::vector<std::string> env;
};
void expect_failure(const std::string& runtime, const Assets& assets, const Failure& c)
{
    SCOPED_TRACE(c.message);
    std::optional<Launch> r;
    r.emplace(runtime, assets, c.env, c.display);
    int status = r->proc->wait(kPatienceMs).value_or(-1);
    /* Wine 10 (Debian 13) now and then reports status 0 for a Windows process that exited
       with another, mostly on a machine's first runs; such a run is tried once more. */
    if (r->wine && status == 0) {
        r.emplace(runtime, assets, c.env, c.display);
        status = r->proc->wait(kPatienceMs).value_or(-1);
    }
    ASSERT_EQ(status, c.status)
        << "(-1: hung, so it opened an asset) stdout: " << r->out() << " stderr: " << r->err();
    std::string msg = c.on_stderr ? r->err() : r->out();
    EXPECT_TRUE(msg.rfind(c.message, 0) == 0 && msg.size() > std::strlen(c.message) + 1 &&
                std::count(msg.begin(), msg.end(), '\n') == 1 && msg.back() == '\n')
        << "message: '" << msg << "'";
    EXPECT_EQ(c.on_stderr ? r->out() : r->err(), "");
}

const Failure kNoVideoDriver{1, "Couldn't initialize SDL: ", false, "", {"SDL_VIDEODRIVER=nosuchdriver"}};
const Failure kNoAudio{3, "Unable to initialize audio: ", true, "", {"SDL_DISKAUDIOFILE=/nonexistent-dir/x.raw"}};
const Failure kNoMode{2, "Couldn't set 640x480x16 video mode: ", false, "", {}};
/* A failure on the given display. */
Failure on(Failure f, const std::string& display)
{
    f.display = display;
    return f;
}

class Intro : public ::testing::TestWithParam<std::string> {};

/* Each row one run, ended one of three ways. Each kind of damage hits each asset once over
   the last four rows. */
TEST_P(Intro, ShowsPlaysAndEndsOnRequest)
{
    const struct {
        const char* name;
        Assets assets; /* font, logo, music */
        End end;
    } cases[] = {
        {"all assets, key press", {Keep, Keep, Keep}, Key},
        {"no music, SIGTERM", {Keep, Keep, Missing}, Term},
        {"no logo, WM_DELETE_WINDOW", {Keep, Missing, Keep}, Close},
        {"no font, key press", {Missing, Keep, Keep}, Key},
        {"broken: truncated, garbage, empty", {Truncated, Garbage, Empty}, Key},
        {"broken: garbage, empty, directory", {Garbage, Empty, Directory}, Key},
        {"broken: empty, directory, truncated", {Empty, Directory, Truncated}, Key},
        {"broken: directory, truncated, garbage", {Directory, Truncated, Garbage}, Key},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        run_and_end(GetParam(), c.assets, c.end);
    }
}

/* The three start-up failures. The assets are FIFOs, so opening one before failing shows as
   a hang. */
TEST_P(Intro, StartupFailuresExitWithTheirMessage)
{
    Xvfb small("320x240x8"); /* too small and too shallow for 640x480x16 on either runtime */
    for (const Failure& c : {on(kNoVideoDriver, g_x->display), on(kNoMode, small.display), on(kNoAudio, g_x->display)})
        expect_failure(GetParam(), {Fifo, Fifo, Fifo}, c);
}

INSTANTIATE_TEST_SUITE_P(Runtimes, Intro, ::testing::ValuesIn(runtimes()),
                         [](const auto& i) { return is_compat(i.param) ? "sdl12compat" : "classic"; });

/* The Windows release under Wine, run from its unpacked folder as a user would start it.
   The prefix is made once; its windows are left unmanaged, since with no window manager on
   Xvfb Wine would wait 2 s, twice, for one to withdraw the window at exit. */
class Wine : public ::testing::Test {
  protected:
    static void wine(const std::vector<std::string>& args, int timeout_ms = 2 * kPatienceMs)
    {
        std::vector<std::string> argv = {"env", "DISPLAY=" + g_x->display};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_EQ(Child(argv, "/").wait(timeout_ms), 0) << args[0] << " failed";
    }
    static void SetUpTestSuite()
    {
        wine({"wineboot", "--init"}, 180000);
        wine({"wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"});
    }
    /* Ends the prefix's server and whatever still runs under it. */
    static void stop_server()
    {
        Child({"wineserver", "-k"}, "/").wait(10000);
        Child({"wineserver", "-w"}, "/").wait(10000);
    }
    static void TearDownTestSuite() { stop_server(); }
};

TEST_F(Wine, ShowsAndEndsOnRequest)
{
    const struct {
        const char* name;
        Assets assets;
        End end;
    } cases[] = {
        {"all assets, key press", {Keep, Keep, Keep}, Key},
        {"no music, WM_DELETE_WINDOW", {Keep, Keep, Missing}, Close},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        run_and_end(kWine, c.assets, c.end);
    }
}

/* Its messages land in stdout.txt and stderr.txt. Wine's server keeps the display it was
   started on, so the small screen gets a server of its own. */
TEST_F(Wine, StartupFailuresLandInTheirFiles)
{
    for (const Failure& c : {on(kNoVideoDriver, g_x->display), on(kNoAudio, g_x->display)})
        expect_failure(kWine, {Keep, Keep, Keep}, c);
    Xvfb small("320x240x8");
    stop_server();
    expect_failure(kWine, {Keep, Keep, Keep}, on(kNoMode, small.display));
    stop_server();
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    SDL_Surface* logo = SDL_LoadBMP(ASSETS_DIR "/logo.bmp");
    SDL_Surface* font = SDL_LoadBMP(ASSETS_DIR "/font.bmp");
    if (!logo || !font)
        throw std::runtime_error(std::string("cannot load the shipped assets: ") + SDL_GetError());
    for (auto [bmp, frame] : {std::pair{logo, &g_logo}, std::pair{font, &g_font}}) {
        *frame = {bmp->w, bmp->h, std::vector<uint16_t>(size_t(bmp->w) * bmp->h)};
        SDL_Surface* as565 =
            SDL_CreateRGBSurfaceFrom(frame->px.data(), bmp->w, bmp->h, 16, 2 * bmp->w, 0xF800, 0x07E0, 0x001F, 0);
        SDL_BlitSurface(bmp, nullptr, as565, nullptr);
        SDL_FreeSurface(as565);
        SDL_FreeSurface(bmp);
    }
    Xvfb x("640x480x16");
    g_x = &x;
    return RUN_ALL_TESTS();
}
