/* e2e_test.cpp: runs the real intro under a private Xvfb, once per SDL runtime (the classic
   library and sdl12-compat over SDL2), and checks what it shows, how it ends, how it fails
   at start-up, and that it survives missing or broken assets. The screen is read live from
   Xvfb's XWD framebuffer file; key presses come from xdotool. */
#include <gtest/gtest.h>

#include <SDL.h>

#include "xvfb.h"

#include <algorithm>
#include <memory>
#include <random>
#include <stdexcept>

using namespace e2e;

namespace {

const char* const kCaption = "SDL MultiMedia Application";
const char* const kCompatDir = "/usr/lib/x86_64-linux-gnu/sdl12-compat";
const char* const kAssetNames[] = {"font.bmp", "logo.bmp", "velimora.mp3"};
const int kLogoX = 190, kLogoY = 50, kTextY = 360;

/* The snow greys, near to far, as the 16-bit screen holds them. */
const uint16_t kGreys[] = {rgb565(250, 250, 250), rgb565(205, 205, 205), rgb565(155, 155, 155)};

bool is_snow(uint16_t p) { return std::find(std::begin(kGreys), std::end(kGreys), p) != std::end(kGreys); }
/* Anything drawn that is neither background nor snow: text or logo. */
bool is_ink(uint16_t p) { return p != 0 && !is_snow(p); }

/* ---- what the shipped assets should look like on screen -------------------------------- */

struct Expected {
    std::string error;         /* non-empty when the assets could not be read */
    int logo_w = 0, logo_h = 0;
    std::vector<uint16_t> logo; /* logo.bmp converted to RGB565, row-major */
    int text_h = 0;             /* glyph height: the font sheet's height less its marker row */
    int caps_top = -1, caps_bottom = -1; /* glyph rows with ink in the letters A to Z */
};

/* Converts a surface to RGB565 pixels, row-major. */
std::vector<uint16_t> to565(SDL_Surface* s)
{
    SDL_Surface* conv = SDL_CreateRGBSurface(SDL_SWSURFACE, s->w, s->h, 16, 0xF800, 0x07E0, 0x001F, 0);
    SDL_BlitSurface(s, nullptr, conv, nullptr);
    std::vector<uint16_t> px;
    for (int y = 0; y < conv->h; ++y)
        for (int x = 0; x < conv->w; ++x)
            px.push_back(((Uint16*)((Uint8*)conv->pixels + y * conv->pitch))[x]);
    SDL_FreeSurface(conv);
    return px;
}

/* The rows that the capital letters' ink spans in a font sheet: the glyph of code c lies
   between marker runs c - 33 and c - 32 of row 0; the bottom-left pixel is background. */
void caps_rows(SDL_Surface* sheet, Expected& e)
{
    std::vector<uint16_t> px = to565(sheet);
    const int w = sheet->w, h = sheet->h;
    const uint16_t magenta = rgb565(255, 0, 255), bg = px[size_t(h - 1) * w];
    std::vector<std::pair<int, int>> runs;
    for (int x = 0; x < w; ++x)
        if (px[x] == magenta && (x == 0 || px[x - 1] != magenta))
            runs.push_back({x, x});
        else if (px[x] == magenta)
            runs.back().second = x;
    for (int c = 'A'; c <= 'Z' && size_t(c - 32) < runs.size(); ++c)
        for (int y = 1; y < h; ++y)
            for (int x = runs[c - 33].second + 1; x < runs[c - 32].first; ++x)
                if (px[size_t(y) * w + x] != bg) {
                    e.caps_top = e.caps_top < 0 ? y - 1 : std::min(e.caps_top, y - 1);
                    e.caps_bottom = std::max(e.caps_bottom, y - 1);
                }
}

const Expected& expected()
{
    static const Expected e = [] {
        Expected x;
        SDL_Surface* logo = SDL_LoadBMP(ASSETS_DIR "/logo.bmp");
        SDL_Surface* font = SDL_LoadBMP(ASSETS_DIR "/font.bmp");
        if (!logo || !font) {
            x.error = std::string("cannot load the shipped assets: ") + SDL_GetError();
            return x;
        }
        x.logo_w = logo->w;
        x.logo_h = logo->h;
        x.logo = to565(logo);
        x.text_h = font->h - 1;
        caps_rows(font, x);
        if (x.caps_top < 0)
            x.error = "font.bmp has no capital letters";
        SDL_FreeSurface(logo);
        SDL_FreeSurface(font);
        return x;
    }();
    return e;
}

bool in_logo(int x, int y)
{
    const Expected& e = expected();
    return x >= kLogoX && x < kLogoX + e.logo_w && y >= kLogoY && y < kLogoY + e.logo_h;
}
bool in_band(int y) { return y >= kTextY && y < kTextY + expected().text_h; }

/* Logo pixels that differ from logo.bmp (clipped to the screen). */
int logo_mismatches(const Frame& f)
{
    const Expected& e = expected();
    int bad = 0;
    for (int y = 0; y < e.logo_h && kLogoY + y < f.h; ++y)
        for (int x = 0; x < e.logo_w && kLogoX + x < f.w; ++x)
            bad += f.at(kLogoX + x, kLogoY + y) != e.logo[size_t(y) * e.logo_w + x];
    return bad;
}

int text_pixels(const Frame& f)
{
    int n = 0;
    for (int y = kTextY; in_band(y) && y < f.h; ++y)
        for (int x = 0; x < f.w; ++x)
            n += is_ink(f.at(x, y));
    return n;
}

/* The first and last screen rows with text ink in the band. */
std::pair<int, int> text_rows(const Frame& f)
{
    int top = -1, bottom = -1;
    for (int y = kTextY; in_band(y) && y < f.h; ++y)
        for (int x = 0; x < f.w; ++x)
            if (is_ink(f.at(x, y))) {
                top = top < 0 ? y : top;
                bottom = y;
            }
    return {top, bottom};
}

/* The snow rule: outside the logo and the text band (each only while it is expected on
   screen) every lit pixel is one of the three greys; column 0 and row 0 stay black. */
struct SnowReport {
    int flakes = 0, strays = 0;
    std::string first_stray;
};
SnowReport snow_report(const Frame& f, bool logo_shown, bool text_shown)
{
    SnowReport r;
    for (int y = 0; y < f.h; ++y)
        for (int x = 0; x < f.w; ++x) {
            if ((logo_shown && in_logo(x, y)) || (text_shown && in_band(y)))
                continue;
            uint16_t p = f.at(x, y);
            bool stray = is_ink(p) || (p != 0 && (x == 0 || y == 0));
            r.flakes += is_snow(p);
            if (stray && r.strays++ == 0) {
                std::ostringstream s;
                s << "pixel 0x" << std::hex << p << std::dec << " at (" << x << "," << y << ")";
                r.first_stray = s.str();
            }
        }
    return r;
}

/* The leftward shift s that best maps the text of frame a onto frame b, b(x) = a(x + s),
   comparing text-coloured pixels only (snow is masked out). */
struct Shift {
    int s = -1, mismatches = 0, matched = 0;
};
Shift text_shift(const Frame& a, const Frame& b)
{
    Shift best;
    auto ink = [](uint16_t p) { return is_ink(p) ? p : uint16_t(0); };
    for (int s = 0; s < a.w / 2; ++s) {
        int mism = 0, match = 0;
        for (int y = kTextY; in_band(y) && y < a.h; ++y)
            for (int x = 0; x + s < a.w; ++x) {
                uint16_t pa = ink(a.at(x + s, y)), pb = ink(b.at(x, y));
                if (pa != pb)
                    ++mism;
                else if (pa)
                    ++match;
            }
        if (best.s < 0 || mism < best.mismatches)
            best = {s, mism, match};
    }
    return best;
}

/* ---- the display and the runtimes ------------------------------------------------------ */

Xvfb* g_x = nullptr;
std::string g_x_error;

struct Runtime {
    const char* name;
    const char* libdir; /* for LD_LIBRARY_PATH; empty for the classic library */
};
std::ostream& operator<<(std::ostream& o, const Runtime& r) { return o << r.name; }

std::vector<std::string> sdl_env(const Runtime& rt, const std::string& display, const fs::path& audio)
{
    std::vector<std::string> env = {"SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=disk",
                                    "SDL_DISKAUDIOFILE=" + audio.string(), "DISPLAY=" + display};
    if (*rt.libdir)
        env.push_back(std::string("LD_LIBRARY_PATH=") + rt.libdir);
    /* In a sanitizer build, X11's and D-Bus's own leaks at exit would turn every status
       into LeakSanitizer's; leaks are the unit tests' business. */
    const char* asan = getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":detect_leaks=0");
    return env;
}

/* A scratch folder holding links to the shipped assets, removed with the object. */
struct Scratch {
    fs::path dir;
    Scratch()
    {
        char tmpl[] = "/tmp/snowintro-run-XXXXXX";
        if (!mkdtemp(tmpl))
            throw std::runtime_error("mkdtemp failed");
        dir = tmpl;
        for (const char* a : kAssetNames)
            fs::create_symlink(fs::path(ASSETS_DIR) / a, dir / a);
    }
    ~Scratch()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path operator/(const std::string& n) const { return dir / n; }
};

/* The ways an asset can be broken; the original bytes give the sizes and magic numbers. */
enum class Break { Missing, Truncated, Garbage, Empty, Directory, Fifo, Swapped };
const char* break_name(Break b)
{
    static const char* n[] = {"missing", "truncated", "garbage", "empty", "directory", "fifo", "swapped"};
    return n[int(b)];
}

void break_asset(const Scratch& s, const std::string& name, Break how)
{
    std::string orig = slurp(fs::path(ASSETS_DIR) / name);
    fs::remove(s / name);
    auto write = [&](const std::string& bytes) { std::ofstream(s / name, std::ios::binary) << bytes; };
    switch (how) {
    case Break::Missing:
        break;
    case Break::Truncated: /* the header and about half of the data */
        write(orig.substr(0, orig.size() / 2));
        break;
    case Break::Garbage: { /* the first four bytes kept, so the loader gets past the magic */
        std::mt19937 rng(12345);
        std::string g = orig;
        for (size_t i = 4; i < g.size(); ++i)
            g[i] = char(rng());
        write(g);
        break;
    }
    case Break::Empty:
        write("");
        break;
    case Break::Directory:
        fs::create_directory(s / name);
        break;
    case Break::Fifo: /* opening it for reading blocks while no one writes */
        mkfifo((s / name).c_str(), 0644);
        break;
    case Break::Swapped: /* a valid file of the wrong kind */
        write(slurp(fs::path(ASSETS_DIR) / (name == "logo.bmp" ? "font.bmp" : "logo.bmp")));
        break;
    }
}

/* Which libSDL-1.2 a running process has mapped, from /proc/<pid>/maps. */
std::string mapped_sdl(pid_t pid)
{
    std::istringstream maps(slurp("/proc/" + std::to_string(pid) + "/maps"));
    std::string line;
    while (std::getline(maps, line)) {
        auto at = line.find('/');
        if (at != std::string::npos && line.find("libSDL-1.2.so", at) != std::string::npos)
            return line.substr(at);
    }
    return "";
}

/* One run of the intro on the shared display, in its own scratch folder; killed if still
   running when the object goes. */
class Launch {
public:
    Launch(const Runtime& rt, const std::function<void(const Scratch&)>& prepare = {}) : rt_(rt)
    {
        if (prepare)
            prepare(scratch_);
        g_x->paint_root_red();
        pid_ = spawn({SNOWINTRO_BIN}, child_env(sdl_env(rt, g_x->display(), audio())), scratch_.dir,
                     scratch_ / "stdout.txt", scratch_ / "stderr.txt");
    }
    ~Launch()
    {
        if (pid_ > 0 && !status_)
            kill_and_reap(pid_);
    }

    pid_t pid() const { return pid_; }
    fs::path audio() const { return scratch_ / "audio.raw"; }
    std::string out() const { return slurp(scratch_ / "stdout.txt"); }
    std::string err() const { return slurp(scratch_ / "stderr.txt"); }

    bool running()
    {
        if (!status_)
            status_ = wait_exit(pid_, 0);
        return !status_;
    }

    /* Waits until the program has drawn over the red root (its column 0 is always
       black), and checks which SDL library the process uses. */
    ::testing::AssertionResult wait_frames(int timeout_ms = 8000)
    {
        bool up = wait_until(timeout_ms, [&] {
            if (!running())
                return true;
            auto f = g_x->frame();
            return f && f->at(0, 0) == 0;
        });
        if (!up || !running()) {
            auto r = ::testing::AssertionFailure() << "no frames from the intro within " << timeout_ms << " ms";
            if (!running())
                r << "; it ended with status " << *status_ << ", stdout: " << out() << " stderr: " << err();
            return r;
        }
        std::string lib = mapped_sdl(pid_);
        bool compat = lib.find("/sdl12-compat/") != std::string::npos;
        if (lib.empty() || compat != (*rt_.libdir != 0))
            return ::testing::AssertionFailure() << "runtime " << rt_.name << " but libSDL-1.2 mapped from '" << lib << "'";
        return ::testing::AssertionSuccess();
    }

    /* Waits up to timeout_ms for the process to end by itself; its status or nothing. */
    std::optional<int> wait_end(int timeout_ms = 5000)
    {
        if (!status_)
            status_ = wait_exit(pid_, timeout_ms);
        return status_;
    }

private:
    Runtime rt_;
    Scratch scratch_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

RunResult xdotool(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, child_env({"DISPLAY=" + g_x->display()}), fs::temp_directory_path(), 5000);
}

/* True when the disk audio file holds at least one non-zero sample. */
bool audio_has_sound(const fs::path& p)
{
    std::string d = slurp(p);
    return std::any_of(d.begin(), d.end(), [](char c) { return c != 0; });
}

/* Ends the run with a key press and expects status 0 within a few seconds. */
void press_key_and_expect_clean_end(Launch& l, const std::string& key = "space")
{
    RunResult k = xdotool({"key", key});
    ASSERT_EQ(k.status, 0) << "xdotool failed: " << k.err;
    auto st = l.wait_end();
    ASSERT_TRUE(st.has_value()) << "still running 5 s after a key press";
    EXPECT_EQ(*st, 0) << "stderr: " << l.err();
}

class Intro : public ::testing::TestWithParam<Runtime> {
protected:
    void SetUp() override
    {
        ASSERT_NE(g_x, nullptr) << g_x_error;
        ASSERT_TRUE(expected().error.empty()) << expected().error;
    }
};

/* ---- tests ----------------------------------------------------------------------------- */

/* One full run: caption, logo, snow and scroller on screen, music in the audio output, a
   mouse click ignored, and a key press ending the run with status 0. */
TEST_P(Intro, ShowsLogoSnowAndScrollerThenEndsOnKeyPress)
{
    Launch l(GetParam());
    ASSERT_TRUE(l.wait_frames());
    auto up = Clock::now();
    EXPECT_NE(g_x->find_window(kCaption), 0u) << "no window named exactly '" << kCaption << "'";

    std::vector<Frame> frames;
    auto capture = [&] {
        auto f = g_x->stable_frame();
        if (f)
            frames.push_back(*f);
        return f.has_value();
    };
    EXPECT_TRUE(wait_until(3000, [&] { return capture() && logo_mismatches(frames.back()) == 0; }))
        << (frames.empty() ? -1 : logo_mismatches(frames.back())) << " logo pixels at (190,50) differ from logo.bmp";
    EXPECT_TRUE(wait_until(3000, [&] { return capture() && text_pixels(frames.back()) >= 20; }))
        << "no text in rows " << kTextY << ".." << kTextY + expected().text_h - 1;
    /* The message opens with capitals, so with the glyph tops on row 360 the text's
       first ink row is the capitals' first one in the sheet. */
    ASSERT_TRUE(l.running()) << "ended by itself, stderr: " << l.err();
    auto rows = text_rows(frames.back());
    EXPECT_EQ(rows.first, kTextY + expected().caps_top) << "first row of text ink";
    EXPECT_LE(rows.second, kTextY + expected().caps_bottom) << "last row of text ink";

    /* The scroller: two frames ~0.5 s apart, the text shifted left by whole steps of 5
       pixels, and by no more steps than 55 ms ticks fit between the two captures. */
    auto t0 = Clock::now();
    ASSERT_TRUE(capture());
    sleep_ms(500);
    ASSERT_TRUE(capture());
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    Shift sh = text_shift(frames[frames.size() - 2], frames.back());
    EXPECT_GT(sh.s, 0) << "the text did not move";
    EXPECT_EQ(sh.s % 5, 0) << "shift " << sh.s;
    EXPECT_LE(sh.s / 5, int(ms / 55) + 1) << "shift " << sh.s << " in " << ms << " ms";
    EXPECT_GE(sh.matched, 50) << "too little text to compare";
    EXPECT_LE(sh.mismatches, sh.matched / 50) << "shift " << sh.s << " leaves " << sh.mismatches << " text pixels unmatched";

    /* Mouse events do not end the intro. */
    ASSERT_EQ(xdotool({"mousemove", "5", "5", "click", "1"}).status, 0);
    sleep_ms(300);
    EXPECT_TRUE(l.running()) << "a mouse click ended the intro";

    /* By 2 s the nearest snow has fallen past the logo's top row, so a logo drawn under
       the snow would show flakes on it. */
    std::this_thread::sleep_until(up + std::chrono::milliseconds(2000));
    ASSERT_TRUE(capture());
    for (size_t i = 0; i < frames.size(); ++i) {
        SnowReport r = snow_report(frames[i], true, true);
        EXPECT_EQ(r.strays, 0) << "frame " << i << ": " << r.strays << " pixels outside the logo and text band are "
                               << "neither black nor snow grey, first " << r.first_stray;
    }
    EXPECT_EQ(logo_mismatches(frames.back()), 0) << "logo pixels differ from logo.bmp at 2 s";
    EXPECT_GE(snow_report(frames.back(), true, true).flakes, 20) << "hardly any snow";
    EXPECT_TRUE(wait_until(3000, [&] { return audio_has_sound(l.audio()); })) << "the music is not playing";

    press_key_and_expect_clean_end(l);
    EXPECT_EQ(l.out(), "");
}

/* A quit request ends the intro like a key press does: SIGTERM, the window manager's
   close message, and another key than the space bar. */
TEST_P(Intro, QuitRequestsEndTheRun)
{
    struct Case {
        const char* name;
        std::function<void(Launch&)> request;
    } cases[] = {
        {"SIGTERM", [](Launch& l) { kill(l.pid(), SIGTERM); }},
        {"WM_DELETE_WINDOW", [](Launch&) { g_x->send_delete_window(g_x->find_window(kCaption)); }},
        {"key Escape", [](Launch&) { xdotool({"key", "Escape"}); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Launch l(GetParam());
        ASSERT_TRUE(l.wait_frames());
        sleep_ms(200);
        c.request(l);
        auto st = l.wait_end();
        ASSERT_TRUE(st.has_value()) << "still running 5 s after the request";
        EXPECT_EQ(*st, 0) << "stderr: " << l.err();
    }
}

/* The three start-up failures: status, message, stream. The assets are FIFOs that block
   whoever opens them, so opening any asset before failing shows up as a hang. */
TEST_P(Intro, StartupFailuresExitWithTheirMessage)
{
    Xvfb small; /* too small a screen, and 8 bits deep, for 640x480x16 on either runtime */
    std::string why;
    ASSERT_TRUE(small.start("320x240x8", why)) << why;

    struct Case {
        const char* name;
        int status;
        bool on_stderr;
        const char* prefix;
        std::string display;
        std::vector<std::string> env;
    } cases[] = {
        {"no video driver", 1, false, "Couldn't initialize SDL: ", g_x->display(), {"SDL_VIDEODRIVER=nosuchdriver"}},
        {"no such video mode", 2, false, "Couldn't set 640x480x16 video mode: ", small.display(), {}},
        {"no audio device", 3, true, "Unable to initialize audio: ", g_x->display(),
         {"SDL_DISKAUDIOFILE=/nonexistent-dir/x.raw"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch s;
        for (const char* a : kAssetNames)
            break_asset(s, a, Break::Fifo);
        std::vector<std::string> env = sdl_env(GetParam(), c.display, s / "audio.raw");
        env.insert(env.end(), c.env.begin(), c.env.end());
        RunResult r = run({SNOWINTRO_BIN}, child_env(env), s.dir, 6000);
        ASSERT_NE(r.status, -1) << "hung: did it open an asset before failing?";
        EXPECT_EQ(r.status, c.status) << "stdout: " << r.out << " stderr: " << r.err;
        const std::string& msg = c.on_stderr ? r.err : r.out;
        const std::string& other = c.on_stderr ? r.out : r.err;
        EXPECT_EQ(msg.rfind(c.prefix, 0), 0u) << "message: '" << msg << "'";
        /* One line, ending in SDL's (non-empty) error text. */
        EXPECT_TRUE(msg.size() > std::strlen(c.prefix) + 1 && msg.back() == '\n' &&
                    std::count(msg.begin(), msg.end(), '\n') == 1) << "message: '" << msg << "'";
        EXPECT_EQ(other.find(c.prefix), std::string::npos) << "the message is on the wrong stream";
        if (c.on_stderr) {
            EXPECT_EQ(r.out, "");
        }
    }
}

/* Without one of its assets the intro runs without that part and still ends cleanly. */
TEST_P(Intro, RunsWithoutAMissingAsset)
{
    struct Case {
        const char* missing;
        bool logo, text, music;
    } cases[] = {
        {"velimora.mp3", true, true, false},
        {"logo.bmp", false, true, true},
        {"font.bmp", true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("without ") + c.missing);
        Launch l(GetParam(), [&](const Scratch& s) { break_asset(s, c.missing, Break::Missing); });
        ASSERT_TRUE(l.wait_frames());
        auto start = Clock::now();
        std::optional<Frame> f;
        /* What should show, shows; then at least 0.8 s for what should not to show up. */
        EXPECT_TRUE(wait_until(3000, [&] {
            f = g_x->stable_frame();
            return f && (!c.logo || logo_mismatches(*f) == 0) && (!c.text || text_pixels(*f) >= 20) &&
                   Clock::now() - start > std::chrono::milliseconds(800);
        })) << "logo or text missing";
        ASSERT_TRUE(f.has_value());
        SnowReport r = snow_report(*f, c.logo, c.text);
        EXPECT_EQ(r.strays, 0) << r.strays << " pixels where only snow belongs, first " << r.first_stray;
        EXPECT_GE(r.flakes, 20) << "hardly any snow";
        if (c.music) {
            EXPECT_TRUE(wait_until(3000, [&] { return audio_has_sound(l.audio()); })) << "the music is not playing";
        } else {
            EXPECT_TRUE(fs::file_size(l.audio()) > 0 && !audio_has_sound(l.audio())) << "expected silent audio output";
        }
        press_key_and_expect_clean_end(l);
    }
}

/* Broken assets of every kind: each row breaks each asset differently, so four rows cover
   every asset with every kind of damage, and a fifth swaps them for files of the wrong
   kind. The intro must draw frames, stay up, and end cleanly on a key press. */
TEST_P(Intro, SurvivesBrokenAssets)
{
    const Break rows[][3] = {
        /* font.bmp,       logo.bmp,          velimora.mp3 */
        {Break::Truncated, Break::Garbage, Break::Empty},
        {Break::Garbage, Break::Empty, Break::Directory},
        {Break::Empty, Break::Directory, Break::Truncated},
        {Break::Directory, Break::Truncated, Break::Garbage},
        {Break::Swapped, Break::Swapped, Break::Swapped},
    };
    for (const auto& row : rows) {
        std::string name;
        for (int i = 0; i < 3; ++i)
            name += std::string(i ? ", " : "") + kAssetNames[i] + " " + break_name(row[i]);
        SCOPED_TRACE(name);
        Launch l(GetParam(), [&](const Scratch& s) {
            for (int i = 0; i < 3; ++i)
                break_asset(s, kAssetNames[i], row[i]);
        });
        ASSERT_TRUE(l.wait_frames());
        sleep_ms(500);
        ASSERT_TRUE(l.running()) << "ended by itself, stderr: " << l.err();
        press_key_and_expect_clean_end(l);
    }
}

INSTANTIATE_TEST_SUITE_P(Runtimes, Intro,
                         ::testing::Values(Runtime{"classic", ""}, Runtime{"sdl12compat", kCompatDir}),
                         [](const ::testing::TestParamInfo<Runtime>& i) { return std::string(i.param.name); });

/* The shared 640x480x16 display, up for the whole test run. */
class SharedDisplay : public ::testing::Environment {
public:
    void SetUp() override
    {
        x_ = std::make_unique<Xvfb>();
        if (x_->start("640x480x16", g_x_error))
            g_x = x_.get();
    }
    void TearDown() override
    {
        g_x = nullptr;
        x_.reset();
    }

private:
    std::unique_ptr<Xvfb> x_;
};

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new SharedDisplay);
    return RUN_ALL_TESTS();
}
