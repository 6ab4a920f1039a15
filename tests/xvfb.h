/* xvfb.h: a private Xvfb display for end-to-end runs of the intro, its framebuffer read
   live from the XWD file that Xvfb keeps in -fbdir, a few Xlib helpers (find a window by
   name, ask it to close, paint the root), and child processes with captured output and
   bounded waits. Header-only; every wait here has a deadline. */
#ifndef SNOWINTRO_TESTS_XVFB_H
#define SNOWINTRO_TESTS_XVFB_H

#include <X11/Xlib.h>
#include <X11/Xutil.h>
/* Xlib's macros that clash with other headers (GoogleTest's among them); unused here. */
#undef None
#undef Bool
#undef Status

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

/* Polls pred every step_ms until it holds or timeout_ms has passed; true when it held. */
inline bool wait_until(int timeout_ms, const std::function<bool()>& pred, int step_ms = 20)
{
    auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (pred())
            return true;
        if (Clock::now() >= end)
            return false;
        sleep_ms(step_ms);
    }
}

inline std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

/* ---- child processes ---------------------------------------------------------------- */

/* The parent's environment without the variables a run sets itself, plus the given
   NAME=value entries; of two entries with one name the later wins. */
inline std::vector<std::string> child_env(const std::vector<std::string>& extra)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        if (kv.rfind("SDL_", 0) != 0 && kv.rfind("DISPLAY=", 0) != 0 && kv.rfind("LD_LIBRARY_PATH=", 0) != 0)
            env.push_back(kv);
    }
    for (const std::string& kv : extra) {
        std::string key = kv.substr(0, kv.find('=') + 1);
        for (auto it = env.begin(); it != env.end();)
            it = it->rfind(key, 0) == 0 ? env.erase(it) : it + 1;
        env.push_back(kv);
    }
    return env;
}

/* Starts argv[0] (searched in PATH) in cwd with exactly env; stdout and stderr go to the
   given files (or /dev/null when empty). Returns the pid, or -1. */
inline pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const fs::path& cwd, const fs::path& out = {}, const fs::path& err = {})
{
    std::vector<char*> a, e;
    for (auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    for (auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    e.push_back(nullptr);
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL); /* never outlive the test */
    int in = open("/dev/null", O_RDONLY);
    int o = open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int r = open(err.empty() ? "/dev/null" : err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(o, 1);
    dup2(r, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0)
        _exit(126);
    execvpe(a[0], a.data(), e.data());
    _exit(127);
}

/* Decoded wait status: the exit code, or 128 + signal for a process killed by one. */
inline int decode_status(int st) { return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st); }

/* Waits up to timeout_ms for pid to end; its decoded status, or nothing if still running. */
inline std::optional<int> wait_exit(pid_t pid, int timeout_ms)
{
    std::optional<int> status;
    wait_until(timeout_ms, [&] {
        int st = 0;
        if (waitpid(pid, &st, WNOHANG) == pid)
            status = decode_status(st);
        return status.has_value();
    }, 10);
    return status;
}

/* Ends a child that did not end by itself, and reaps it. */
inline void kill_and_reap(pid_t pid)
{
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    int st;
    waitpid(pid, &st, 0);
}

/* Runs a program to its end (killed after timeout_ms); -1 as status on time-out. */
struct RunResult {
    int status = -1;
    std::string out, err;
};
inline RunResult run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const fs::path& cwd, int timeout_ms)
{
    RunResult r;
    fs::path o = cwd / ".run.out", e = cwd / ".run.err";
    pid_t pid = spawn(argv, env, cwd, o, e);
    if (pid < 0)
        return r;
    if (auto st = wait_exit(pid, timeout_ms))
        r.status = *st;
    else
        kill_and_reap(pid);
    r.out = slurp(o);
    r.err = slurp(e);
    fs::remove(o);
    fs::remove(e);
    return r;
}

/* ---- the framebuffer ---------------------------------------------------------------- */

/* One screen of 16-bit pixels, row-major. */
struct Frame {
    int w = 0, h = 0;
    std::vector<uint16_t> px;
    uint16_t at(int x, int y) const { return px[size_t(y) * w + x]; }
    bool operator==(const Frame& o) const { return w == o.w && h == o.h && px == o.px; }
};

inline uint16_t rgb565(int r, int g, int b) { return uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3)); }

/* Parses an XWD file of a 16 bpp RGB565 TrueColor screen: big-endian header fields, then
   ncolors entries of 12 bytes, then the pixels in the file's byte order. */
inline std::optional<Frame> parse_xwd(const std::string& d)
{
    auto u32 = [&](size_t i) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(d.data()) + 4 * i;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    };
    if (d.size() < 100)
        return std::nullopt;
    uint32_t header_size = u32(0), depth = u32(3), w = u32(4), h = u32(5), byte_order = u32(7),
             bpp = u32(11), bpl = u32(12), rmask = u32(14), gmask = u32(15), bmask = u32(16),
             ncolors = u32(19);
    if (depth != 16 || bpp != 16 || rmask != 0xF800 || gmask != 0x07E0 || bmask != 0x001F)
        return std::nullopt;
    size_t off = size_t(header_size) + size_t(ncolors) * 12;
    if (bpl < 2 * w || d.size() < off + size_t(bpl) * h)
        return std::nullopt;
    Frame f;
    f.w = int(w);
    f.h = int(h);
    f.px.resize(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            auto p = reinterpret_cast<const unsigned char*>(d.data()) + off + size_t(y) * bpl + 2 * x;
            f.px[size_t(y) * w + x] = byte_order == 0 ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[0] << 8 | p[1]);
        }
    return f;
}

/* ---- the X server -------------------------------------------------------------------- */

inline int ignore_x_errors(Display*, XErrorEvent*) { return 0; }

/* A private Xvfb on a display number it picks itself (-displayfd), with its screen in an
   XWD file, no cursor drawn, and no reset when the last client leaves. The object keeps
   its own connection open. */
class Xvfb {
public:
    bool start(const std::string& geometry, std::string& why)
    {
        char tmpl[] = "/tmp/snowintro-xvfb-XXXXXX";
        if (!mkdtemp(tmpl)) {
            why = "mkdtemp failed";
            return false;
        }
        dir_ = tmpl;
        int fds[2];
        if (pipe(fds) != 0) {
            why = "pipe failed";
            return false;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            setpgid(0, 0);
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            int err = open((dir_ / "xvfb.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, 1);
            dup2(err, 2);
            std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", geometry.c_str(),
                   "-nolisten", "tcp", "-nocursor", "-noreset", "-fbdir", dir_.c_str(), (char*)nullptr);
            _exit(127);
        }
        close(fds[1]);
        std::string num;
        auto end = Clock::now() + std::chrono::seconds(15);
        while (Clock::now() < end && num.find('\n') == std::string::npos) {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char buf[32];
                ssize_t n = read(fds[0], buf, sizeof buf);
                if (n <= 0)
                    break;
                num.append(buf, size_t(n));
            }
        }
        close(fds[0]);
        if (num.find('\n') == std::string::npos) {
            why = "Xvfb did not become ready: " + slurp(dir_ / "xvfb.log");
            return false;
        }
        display_ = ":" + num.substr(0, num.find('\n'));
        XSetErrorHandler(ignore_x_errors);
        dpy_ = XOpenDisplay(display_.c_str());
        if (!dpy_) {
            why = "cannot connect to Xvfb " + display_;
            return false;
        }
        return true;
    }

    void stop()
    {
        if (dpy_)
            XCloseDisplay(dpy_);
        dpy_ = nullptr;
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            if (!wait_exit(pid_, 5000))
                kill_and_reap(pid_);
        }
        pid_ = -1;
        std::error_code ec;
        if (!dir_.empty())
            fs::remove_all(dir_, ec);
    }

    ~Xvfb() { stop(); }

    const std::string& display() const { return display_; }

    /* The screen as it is now, or nothing if the file cannot be read or parsed. */
    std::optional<Frame> frame() const { return parse_xwd(slurp(dir_ / "Xvfb_screen0")); }

    /* A frame read twice in a row with the same content, so not torn by an update in
       progress; nothing if none settles within timeout_ms. */
    std::optional<Frame> stable_frame(int timeout_ms = 2000) const
    {
        std::optional<Frame> prev, got;
        wait_until(timeout_ms, [&] {
            auto f = frame();
            if (f && prev && *f == *prev)
                got = f;
            prev = f;
            return got.has_value();
        }, 2);
        return got;
    }

    /* Paints the root window (and so the screen where no window covers it) pure red. */
    void paint_root_red()
    {
        Window root = DefaultRootWindow(dpy_);
        XSetWindowBackground(dpy_, root, DefaultVisual(dpy_, DefaultScreen(dpy_))->red_mask);
        XClearWindow(dpy_, root);
        XSync(dpy_, False);
    }

    /* Depth-first search from the root for a window whose WM_NAME is name; 0 if none. */
    Window find_window(const std::string& name) const
    {
        std::function<Window(Window)> walk = [&](Window w) -> Window {
            char* n = nullptr;
            if (XFetchName(dpy_, w, &n) && n) {
                bool hit = name == n;
                XFree(n);
                if (hit)
                    return w;
            }
            Window root, parent, *kids = nullptr;
            unsigned count = 0;
            Window found = 0;
            if (XQueryTree(dpy_, w, &root, &parent, &kids, &count)) {
                for (unsigned i = 0; i < count && !found; ++i)
                    found = walk(kids[i]);
                if (kids)
                    XFree(kids);
            }
            return found;
        };
        XSync(dpy_, False);
        return walk(DefaultRootWindow(dpy_));
    }

    /* Asks window w to close the way a window manager does: a WM_PROTOCOLS client message
       carrying WM_DELETE_WINDOW. */
    void send_delete_window(Window w)
    {
        XEvent ev;
        std::memset(&ev, 0, sizeof ev);
        ev.xclient.type = ClientMessage;
        ev.xclient.window = w;
        ev.xclient.message_type = XInternAtom(dpy_, "WM_PROTOCOLS", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = long(XInternAtom(dpy_, "WM_DELETE_WINDOW", False));
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(dpy_, w, False, NoEventMask, &ev);
        XSync(dpy_, False);
    }

private:
    fs::path dir_;
    pid_t pid_ = -1;
    std::string display_;
    Display* dpy_ = nullptr;
};

}  // namespace e2e

#endif
