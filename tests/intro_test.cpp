// intro_test.cpp: the intro module's snow, frame, tick gate, scroller and main loop, driven
// through its globals. The module is compiled into this test with its entry point renamed;
// the clock and the flip are replaced and events are queued frame by frame, so every case
// is deterministic.
#include <gtest/gtest.h>

#include <pthread.h>
#include <vector>

#define main intro_main
#include "../src/main.cpp"
#undef main

#include <unistd.h>

// Stand-ins for SDL's clock and flip: the intro's calls bind to these (and so do SDL's
// own, which is why only the main thread's calls after start-up count). The events of a
// scripted run go into SDL's real queue: those of frame 0 when the intro reads its start
// tick, those of frame n + 1 at the flip of frame n.
static Uint32 fake_now;
static std::vector<std::vector<Uint8>> script; // event types queued before frame n
static bool in_loop;                           // the scripted run has reached its loop
static int flips;                              // frames the scripted run has shown
static int left_in_queue;                      // events a flip found still queued
static Uint32 ms_per_frame;                    // how far the clock moves at each flip
static const pthread_t main_thread = pthread_self(); // SDL_mixer reads the clock too
// No picture or sound is needed: SDL's dummy drivers, whatever the caller's environment.
static const int dummy_drivers =
    setenv("SDL_VIDEODRIVER", "dummy", 1) | setenv("SDL_AUDIODRIVER", "dummy", 1);

static void queue_frame_events(size_t n)
{
    for (size_t i = 0; n < script.size() && i < script[n].size(); i++) {
        SDL_Event event = {};
        event.type = script[n][i];
        SDL_PushEvent(&event);
    }
}

extern "C" Uint32 SDL_GetTicks(void)
{
    if (!in_loop && !script.empty() && screen != nullptr &&
        pthread_equal(pthread_self(), main_thread)) {
        in_loop = true;
        queue_frame_events(0);
    }
    return fake_now;
}

extern "C" int SDL_Flip(SDL_Surface*)
{
    if (in_loop) {
        left_in_queue += SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_ALLEVENTS);
        ++flips;
        fake_now += ms_per_frame;
        queue_frame_events(flips);
    }
    return 0;
}

namespace {

struct Display : ::testing::Test {
    static void SetUpTestSuite()
    {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        screen = SDL_SetVideoMode(640, 480, 16, SDL_SWSURFACE);
        ASSERT_NE(screen, nullptr) << SDL_GetError();
    }
    void SetUp() override
    {
        fake_now = 1000;
        oldtick = fake_now;
        fontx = 640;
        fonty = 360;
        Font = nullptr;
        logo = nullptr;
        srand(7);
        init_snow();
    }
    static Uint16 at(int x, int y)
    {
        return ((Uint16*)screen->pixels)[y * screen->pitch / 2 + x];
    }
    // Places every flake far above the screen, out of the way of the cases under test.
    static void park_flakes()
    {
        for (flake& f : kar)
            f = {1, -100000, 2};
    }
};

TEST_F(Display, SeedingFollowsTheRandOrderAndRanges)
{
    srand(42);
    init_snow();
    srand(42);
    for (const flake& f : kar) {
        int x = rand() % 640, y = -(rand() % 480), layer = rand() % 3;
        ASSERT_EQ(f.x, x);
        ASSERT_EQ(f.y, y);
        ASSERT_EQ(f.layer, layer);
        ASSERT_TRUE(x >= 0 && x < 640 && y <= 0 && y > -480 && layer >= 0 && layer < 3);
    }
    const int grey[3] = {250, 205, 155};
    for (int l = 0; l < 3; l++)
        EXPECT_EQ(snowcol[l], SDL_MapRGB(screen->format, grey[l], grey[l], grey[l]));
}

TEST_F(Display, FallAndRebirthReplayTheSameRandomNumbers)
{
    park_flakes();
    kar[0] = {100, 477, 0}; // reaches 480: reborn in the same step
    kar[1] = {200, 478, 1}; // reaches 480 too
    kar[2] = {300, 479, 2}; // reaches 480 too
    kar[3] = {400, 476, 0}; // reaches 479: still on screen
    srand(99);
    update_snow();
    srand(99);
    for (int i = 0; i < 3; i++) {
        int x = rand() % 640, layer = rand() % 3; // column first, then layer
        EXPECT_EQ(kar[i].y, -1);
        EXPECT_EQ(kar[i].x, x);
        EXPECT_EQ(kar[i].layer, layer);
    }
    EXPECT_EQ(kar[3].y, 479);
    EXPECT_EQ(kar[3].x, 400);
}

// After a rebirth at y = -1 the next step shows layers 0 and 1 (rows 2 and 1) but not
// layer 2, which only reaches row 0.
TEST_F(Display, RebornFlakesShowFromTheirSecondStepUnlessInTheBackLayer)
{
    park_flakes();
    for (int l = 0; l < 3; l++)
        kar[l] = {100 + 10 * l, -1, l};
    update_snow();
    EXPECT_EQ(kar[0].y, 2);
    EXPECT_EQ(kar[1].y, 1);
    EXPECT_EQ(kar[2].y, 0);

    Uint16 black = SDL_MapRGB(screen->format, 0, 0, 0);
    fake_now = oldtick; // no step this frame
    draw();
    EXPECT_EQ(at(100, 2), snowcol[0]);
    EXPECT_EQ(at(110, 1), snowcol[1]);
    for (int y = 0; y < 480; y++)
        EXPECT_EQ(at(120, y), black) << "row " << y;
}

TEST_F(Display, SnowPassPlotsOnlyInsideColumnsAndRowsOneToTheEdge)
{
    // Every combination of the edge columns and rows, in layer 0.
    const int xs[] = {-1, 0, 1, 639, 640};
    const int ys[] = {-1, 0, 1, 479, 480};
    park_flakes();
    int n = 0;
    for (int x : xs)
        for (int y : ys)
            kar[n++] = {x, y, 0};
    fake_now = oldtick;
    draw();
    Uint16 black = SDL_MapRGB(screen->format, 0, 0, 0);
    for (int x : xs)
        for (int y : ys) {
            if (x < 0 || x > 639 || y < 0 || y > 479)
                continue;
            bool shown = x > 0 && y > 0;
            EXPECT_EQ(at(x, y), shown ? snowcol[0] : black) << x << "," << y;
        }
}

TEST_F(Display, ManyStepsNeverLightColumnZeroOrRowZero)
{
    Uint16 black = SDL_MapRGB(screen->format, 0, 0, 0);
    for (int step = 0; step < 1200; step++) {
        fake_now += 55;
        draw();
        for (int x = 0; x < 640; x++)
            ASSERT_EQ(at(x, 0), black) << "step " << step;
        for (int y = 0; y < 480; y++)
            ASSERT_EQ(at(0, y), black) << "step " << step;
        for (const flake& f : kar)
            ASSERT_TRUE(f.y <= 479 && f.y >= -479 && f.x >= 0 && f.x < 640);
    }
}

// The gate steps when 55 ms or more have passed, once per frame, from the frame's own
// time; the counter rolling over 2^32 changes nothing.
TEST_F(Display, TickGateStepsFromFiftyFiveMillisecondsOn)
{
    struct Case {
        Uint32 old, now;
        bool steps;
    } cases[] = {
        {1000, 1054, false},
        {1000, 1055, true},
        {1000, 1000, false},
        {0xFFFFFFF0u, 0x26, false}, // 54 ms across the wrap
        {0xFFFFFFF0u, 0x27, true},  // 55 ms across the wrap
        {0xFFFFFFFFu, 5000, true},
        {1000, 1000 + 10000, true}, // a long stall is one step, not a burst
    };
    for (const Case& c : cases) {
        oldtick = c.old;
        fake_now = c.now;
        fontx = 640;
        draw();
        EXPECT_EQ(fontx, c.steps ? 635 : 640) << c.old << " -> " << c.now;
        EXPECT_EQ(oldtick, c.steps ? c.now : c.old);
        EXPECT_EQ(differ, (Sint32)(c.now - c.old));
        draw(); // same time again: at most one step per tick
        EXPECT_EQ(fontx, c.steps ? 635 : 640);
    }
}

TEST_F(Display, AnimationKeepsStepping55msApartAcrossTheWrap)
{
    fake_now = 0xFFFFFFFFu - 1000;
    oldtick = fake_now;
    int steps = 0;
    for (int ms = 0; ms < 2200; ms++) { // one frame per millisecond
        int before = fontx;
        fake_now++;
        draw();
        steps += fontx != before;
    }
    EXPECT_EQ(steps, 2200 / 55);
}

TEST_F(Display, ScrollerStopsSafelyOnceTheMessageHasGone)
{
    // Without a font the text has no width; either way the scroll ends a screen past it.
    fontx = -600;
    for (int i = 0; i < 100; i++)
        update_text();
    EXPECT_EQ(fontx, -640);
    fontx = INT32_MIN + 3; // far beyond the end: never moves further toward overflow
    update_text();
    EXPECT_EQ(fontx, INT32_MIN + 3);
}

TEST(Putpixel, StoresTheLowBytesOfThePixelAtEachDepth)
{
    const Uint32 pixel = 0xA1B2C3D4;
    struct Case {
        int bits;
        std::vector<Uint8> bytes; // at the target, little-endian memory order
    } cases[] = {
        {8, {0xD4}},
        {16, {0xD4, 0xC3}},
        {24, {0xD4, 0xC3, 0xB2}},
        {32, {0xD4, 0xC3, 0xB2, 0xA1}},
    };
    for (const Case& c : cases) {
        SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 7, 5, c.bits, 0, 0, 0, 0);
        ASSERT_NE(s, nullptr);
        SDL_FillRect(s, nullptr, 0);
        putpixel(s, 3, 2, pixel);
        const Uint8* row = (Uint8*)s->pixels;
        int bpp = c.bits / 8;
        for (int y = 0; y < s->h; y++)
            for (int i = 0; i < s->w * bpp; i++) {
                bool target = y == 2 && i >= 3 * bpp && i < 4 * bpp;
                Uint8 want = target ? c.bytes[i - 3 * bpp] : 0;
                ASSERT_EQ(row[y * s->pitch + i], want) << c.bits << " bits, row " << y << " byte " << i;
            }
        SDL_FreeSurface(s);
    }
}

// The text layer with the shipped font and logo: it moves 5 pixels per step, lies under
// the logo, and shows nothing once the scroll has stopped past the end of the message.
TEST_F(Display, TextLayerScrollsUnderTheLogoAndEndsEmpty)
{
    Font = SFont_InitFont(SDL_LoadBMP(ASSETS_DIR "/font.bmp"));
    logo = SDL_LoadBMP(ASSETS_DIR "/logo.bmp");
    ASSERT_TRUE(Font && logo);
    dest = {190, 50, 0, 0};
    park_flakes();
    const int band = SFont_TextHeight(Font);
    auto rows = [&](int top) {
        std::vector<Uint16> px;
        for (int y = top; y < top + band; y++)
            for (int x = 0; x < 640; x++)
                px.push_back(at(x, y));
        return px;
    };

    fontx = -1000;
    draw();
    std::vector<Uint16> before = rows(fonty);
    fake_now += 55;
    draw(); // steps after drawing: the move shows in the next frame
    draw();
    std::vector<Uint16> after = rows(fonty);
    for (int y = 0; y < band; y++)
        for (int x = 0; x < 635; x++)
            ASSERT_EQ(after[y * 640 + x], before[y * 640 + x + 5]) << x << "," << y;

    fonty = 60; // through the logo's rows: the logo hides the text
    draw();
    std::vector<Uint16> covered = rows(60);
    SDL_FillRect(screen, nullptr, 0);
    SDL_Rect again = {190, 50, 0, 0};
    SDL_BlitSurface(logo, nullptr, screen, &again);
    for (int y = 0; y < band; y++)
        for (int x = 190; x < 190 + logo->w; x++)
            ASSERT_EQ(covered[y * 640 + x], at(x, 60 + y)) << x << "," << y;

    fonty = 360;
    fontx = -SFont_TextWidth(Font, message) - 640;
    update_text();
    EXPECT_EQ(fontx, -SFont_TextWidth(Font, message) - 640) << "the scroll has stopped";
    draw();
    const Uint16 black = SDL_MapRGB(screen->format, 0, 0, 0);
    for (Uint16 p : rows(fonty))
        ASSERT_EQ(p, black);
    SFont_FreeFont(Font);
    SDL_FreeSurface(logo);
}

// Every character of the message is a capital, a space or one of a few signs, and the
// shipped font draws each one that is not a space.
TEST_F(Display, MessageUsesOnlyCharactersTheShippedFontDraws)
{
    ASSERT_EQ(strlen(message), 704u);
    SFont_Font* font = SFont_InitFont(SDL_LoadBMP(ASSETS_DIR "/font.bmp"));
    ASSERT_NE(font, nullptr);
    const std::string allowed = " !'(),-./2:ABCDEFGHIJKLMNOPQRSTUVWXYZ_";
    Uint32 black = SDL_MapRGB(screen->format, 0, 0, 0);
    for (const char* c = message; *c; c++) {
        ASSERT_NE(allowed.find(*c), std::string::npos) << "'" << *c << "'";
        if (*c == ' ')
            continue;
        char one[2] = {*c, 0};
        SDL_FillRect(screen, nullptr, black);
        SFont_Write(screen, font, 100, 100, one);
        int lit = 0;
        for (int y = 100; y < 100 + SFont_TextHeight(font); y++)
            for (int x = 80; x < 200; x++)
                lit += at(x, y) != black;
        ASSERT_GT(lit, 0) << "no glyph for '" << *c << "'";
    }
    SFont_FreeFont(font);
}

// The whole program in-process: start-up from the assets folder, the loop fed from the
// scripted queue, shutdown.
struct MainLoop : ::testing::Test {
    void SetUp() override
    {
        ASSERT_EQ(chdir(ASSETS_DIR), 0);
        fake_now = 5000;
        in_loop = false;
        flips = 0;
        left_in_queue = 0;
        ms_per_frame = 0;
        screen = nullptr;
        script.clear();
    }
    int run(std::vector<std::vector<Uint8>> events)
    {
        script = std::move(events);
        char name[] = "snowintro";
        char* argv[] = {name, nullptr};
        int status = intro_main(1, argv);
        script.clear();
        // The intro keeps its logo until the process ends; one process runs it many times.
        SDL_FreeSurface(logo);
        logo = nullptr;
        return status;
    }
};

TEST_F(MainLoop, StopEventsEndTheLoopAfterOneMoreFrame)
{
    struct Case {
        std::vector<std::vector<Uint8>> events;
        int frames;
    } cases[] = {
        {{{SDL_KEYDOWN}}, 1},
        {{{SDL_QUIT}}, 1},
        {{{}, {SDL_KEYUP, SDL_MOUSEMOTION, SDL_MOUSEBUTTONDOWN}, {}, {SDL_KEYDOWN}}, 4},
        {{{SDL_MOUSEMOTION, SDL_KEYDOWN, SDL_MOUSEMOTION, SDL_QUIT, SDL_KEYUP}}, 1},
    };
    for (Case& c : cases) {
        SetUp();
        EXPECT_EQ(run(c.events), 0);
        EXPECT_EQ(flips, c.frames);
        EXPECT_EQ(left_in_queue, 0) << "the queue is drained to the end every frame";
    }
}

// SDL's queue holds up to 127 events: fill it before every frame for 200 frames, 10 ms
// apart. Each frame must drain it all, and the animation still steps once per 60 ms (the
// first frame 55 ms or more after the last step).
TEST_F(MainLoop, AFloodOfOtherEventsNeitherLingersNorSlowsTheAnimation)
{
    std::vector<std::vector<Uint8>> events(200, std::vector<Uint8>(127, SDL_MOUSEMOTION));
    events.push_back({SDL_KEYDOWN});
    ms_per_frame = 10;
    EXPECT_EQ(run(events), 0);
    EXPECT_EQ(flips, 201);
    EXPECT_EQ(left_in_queue, 0);
    EXPECT_EQ(fontx, 640 - 5 * (200 / 6));
}

TEST_F(MainLoop, StartsTheSceneAtItsFixedPositions)
{
    EXPECT_EQ(run({{SDL_KEYDOWN}}), 0);
    EXPECT_EQ(dest.x, 190);
    EXPECT_EQ(dest.y, 50);
    EXPECT_EQ(fontx, 640);
    EXPECT_EQ(fonty, 360);
    EXPECT_EQ(music, nullptr) << "freed at shutdown";
    char *title, *icon;
    SDL_WM_GetCaption(&title, &icon);
    EXPECT_STREQ(title, "SDL MultiMedia Application");
    EXPECT_EQ(icon, nullptr);
}

} // namespace
