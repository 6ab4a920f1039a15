// Writes the intro's tune as a standard MIDI file for fluidsynth to render with a General
// MIDI soundfont: 60 bars in A minor at 96 bpm, 150 s, in six sections. The score is plain
// data (chords and melodies per section); the arrangement turns it into parts.
//
// usage: score OUT.mid (prints the piece's length in seconds)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const std::string& msg) {
    std::fprintf(stderr, "score: %s\n", msg.c_str());
    std::exit(1);
}

const int kPpq = 480, kEighth = kPpq / 2, kBar = 8 * kEighth, kBpm = 96;

// General MIDI programs (zero-based) and percussion keys.
enum Program {
    kCelesta = 8, kGlockenspiel = 9, kMusicBox = 10, kAcousticBass = 32, kHarp = 46, kStrings = 48,
    kSlowStrings = 49, kChoir = 52, kOboe = 68, kFlute = 73,
};
const int kTriangle = 81, kShaker = 70;

// One MIDI channel per part; 9 is the percussion channel.
enum Channel { kLead, kDouble, kPad, kAir, kBass, kArp, kSparkle, kPerc = 9 };

struct Event {
    long tick;
    int order;  // at one tick: note-offs, then settings, then note-ons
    std::vector<uint8_t> bytes;
};
std::vector<Event> events;

void note(int ch, long start, long len, int key, int vel) {
    events.push_back({start, 2, {uint8_t(0x90 | ch), uint8_t(key), uint8_t(std::clamp(vel, 1, 127))}});
    events.push_back({start + len, 0, {uint8_t(0x80 | ch), uint8_t(key), 0}});
}
void program(int ch, long at, int prog) { events.push_back({at, 1, {uint8_t(0xC0 | ch), uint8_t(prog)}}); }
void control(int ch, long at, int cc, int v) {
    events.push_back({at, 1, {uint8_t(0xB0 | ch), uint8_t(cc), uint8_t(std::clamp(v, 0, 127))}});
}
const int kVolume = 7, kPan = 10, kExpression = 11, kReverb = 91, kChorus = 93;

// "a4", "c#5", "bb3" -> MIDI key (A4 = 69).
int key(const std::string& name) {
    static const int semis[] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
    if (name.size() < 2 || name[0] < 'a' || name[0] > 'g') die("bad note '" + name + "'");
    int k = semis[name[0] - 'a'];
    size_t i = 1;
    if (name[i] == '#') ++k, ++i;
    else if (name[i] == 'b' && i + 1 < name.size()) --k, ++i;
    if (i + 1 != name.size() || name[i] < '0' || name[i] > '8') die("bad note '" + name + "'");
    return 12 * (name[i] - '0' + 1) + k;
}

// A chord symbol: root letter, optional accidental, quality. "-" is a bar of rest.
struct Chord {
    int root = -1;  // pitch class, -1 for a rest
    std::vector<int> tones;  // intervals above the root
};
Chord chord(const std::string& name) {
    if (name == "-") return {};
    size_t q = name.size() > 1 && (name[1] == '#' || name[1] == 'b') ? 2 : 1;
    std::string lower = name.substr(0, q);
    lower[0] = char(lower[0] - 'A' + 'a');
    const std::string quality = name.substr(q);
    Chord c;
    c.root = key(lower + "0") % 12;
    if (quality == "") c.tones = {0, 4, 7};
    else if (quality == "m") c.tones = {0, 3, 7};
    else if (quality == "7") c.tones = {0, 4, 7, 10};
    else if (quality == "m7") c.tones = {0, 3, 7, 10};
    else if (quality == "maj7") c.tones = {0, 4, 7, 11};
    else if (quality == "sus4") c.tones = {0, 5, 7};
    else die("bad chord '" + name + "'");
    return c;
}

// The chord's tones as keys from `low` upwards, `count` of them, cycling through octaves.
std::vector<int> voicing(const Chord& c, int low, int count) {
    std::vector<int> keys;
    for (int k = low; int(keys.size()) < count; ++k)
        if (std::find(c.tones.begin(), c.tones.end(), ((k - c.root) % 12 + 12) % 12) != c.tones.end())
            keys.push_back(k);
    return keys;
}

// What plays in a section, besides the pad and the melody.
enum Layer { kBassLine = 1, kArpeggio = 2, kSparkles = 4, kDoubling = 8, kPercussion = 16, kChoirPad = 32 };

struct Section {
    const char* name;
    const char* chords;  // one symbol per bar
    const char* melody;  // note:eighths pairs, "r" a rest
    int lead;  // program of the melody
    int dynamic;  // velocity base
    int layers;
};

// Opening, theme, variation, bridge, the theme's return, close.
const char* const kTheme =
    "e5:3 a4:1 c5:2 e5:2  f5:3 e5:1 c5:2 a4:2  g5:3 e5:1 c5:2 g4:2  d5:4 b4:2 r:2 "
    "e5:3 a4:1 c5:2 e5:2  a5:3 g5:1 f5:2 e5:2  d5:2 f5:2 a5:2 f5:2  e5:4 b4:2 g#4:2 "
    "a5:3 g5:1 e5:2 c5:2  f5:3 e5:1 d5:2 c5:2  e5:3 d5:1 c5:2 g4:2  b4:2 d5:2 g5:4 "
    "a5:3 g5:1 f5:2 a5:2  g#5:3 f5:1 e5:2 d5:2 c5:3 b4:1 a4:4       r:8";
const char* const kThemeChords = "Am F C G  Am F Dm E  Am F C G  F E Am Am";

const Section kSections[] = {
    {"opening", "Am Fmaj7 C Esus4", "r:32", kFlute, 50, kSparkles},
    {"theme", kThemeChords, kTheme, kFlute, 72, kBassLine | kSparkles},
    {"variation", "Am F C G  Am F Dm E  F G E E",
     "e5:1 a5:1 e5:1 c5:1 a4:1 c5:1 e5:2  f5:1 a5:1 f5:1 c5:1 a4:1 c5:1 f5:2 "
     "g5:1 c6:1 g5:1 e5:1 c5:1 e5:1 g5:2  d5:1 g5:1 b5:1 g5:1 d5:4 "
     "e5:1 a5:1 c6:1 a5:1 e5:2 c5:2       a5:2 c6:2 f5:2 a5:2 "
     "d6:2 a5:2 f5:2 d5:2                 e5:2 g#5:2 b5:4 "
     "c6:3 b5:1 a5:2 f5:2                 b5:3 a5:1 g5:2 d5:2 "
     "e5:2 g#5:2 b5:2 d6:2                e6:4 r:4",
     kMusicBox, 78, kBassLine | kArpeggio},
    {"bridge", "C Em F G  C Em F E",
     "g4:4 c5:4  b4:4 e5:2 d5:2  c5:4 a4:2 c5:2  d5:6 r:2 "
     "e5:4 g5:4  b5:2 a5:2 g5:2 e5:2  a5:4 f5:2 d5:2  e5:4 g#4:2 b4:2",
     kOboe, 66, kBassLine | kSparkles},
    {"return", kThemeChords, kTheme, kFlute, 86,
     kBassLine | kArpeggio | kSparkles | kDoubling | kPercussion | kChoirPad},
    {"close", "Fmaj7 E Am -", "c5:4 a4:4 b4:4 g#4:4 a4:8 r:8", kFlute, 60, kSparkles},
};

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> w;
    for (std::string t; in >> t;) w.push_back(t);
    return w;
}

// The melody on the lead channel (and an octave lower on the doubling strings); returns its
// length in ticks so the caller can check it against the bars.
long melody(const Section& s, long start) {
    long t = start;
    for (const std::string& ev : words(s.melody)) {
        const size_t colon = ev.find(':');
        if (colon == std::string::npos) die("bad melody event '" + ev + "'");
        const long len = std::atol(ev.c_str() + colon + 1) * kEighth;
        const std::string pitch = ev.substr(0, colon);
        if (pitch != "r") {
            // Phrases breathe: a little gap after each note, accents on the beats.
            const int vel = s.dynamic + ((t - start) % kPpq == 0 ? 8 : 0);
            note(kLead, t, len - kEighth / 8, key(pitch), vel);
            if (s.layers & kDoubling) note(kDouble, t, len, key(pitch) - 12, vel - 24);
        }
        t += len;
    }
    return t - start;
}

// A small fixed generator, so the sparkles look scattered but the score is always the same.
unsigned next_random() {
    static unsigned state = 2024;
    state = state * 1103515245u + 12345u;
    return (state >> 16) & 0x7fff;
}

void bar(const Section& s, const Chord& c, long t, bool last_chord) {
    if (c.root < 0) return;
    // Pad: the chord held for the bar; the close's last chord swells down to nothing.
    for (int k : voicing(c, 55, 4)) note(kPad, t, kBar, k, s.dynamic - 20);
    if (last_chord)
        for (int i = 0; i <= 16; ++i) control(kPad, t + i * kBar / 16, kExpression, 110 - i * 110 / 16);
    if (s.layers & kChoirPad)
        for (int k : voicing(c, 60, 3)) note(kAir, t, kBar, k, s.dynamic - 30);
    const int root = 36 + (c.root + 12 - 4) % 12 + 4;  // E2..D#3
    if (s.layers & kBassLine) {
        // Root on one, fifth on three, a pickup root on the last eighth.
        note(kBass, t, 3 * kPpq / 2, root, s.dynamic);
        note(kBass, t + 2 * kPpq, 3 * kPpq / 2, root + 7, s.dynamic - 10);
        note(kBass, t + 7 * kEighth, kEighth, root, s.dynamic - 20);
    }
    if (s.layers & kArpeggio) {
        const std::vector<int> up = voicing(c, 57, 5);
        const int order[] = {0, 1, 2, 3, 4, 3, 2, 1};
        for (int i = 0; i < 8; ++i) note(kArp, t + i * kEighth, 2 * kEighth, up[order[i]], s.dynamic - 22);
    }
    if (s.layers & kSparkles) {
        // Falling snow: two or three high chord tones on scattered sixteenths.
        const std::vector<int> high = voicing(c, 84, 6);
        const int n = 2 + int(next_random() % 2);
        for (int i = 0; i < n; ++i) {
            const long at = t + long(next_random() % 16) * kEighth / 2;
            note(kSparkle, at, kPpq, high[next_random() % high.size()], s.dynamic - 15 + int(next_random() % 20));
        }
    }
    if (s.layers & kPercussion) {
        note(kPerc, t, kPpq, kTriangle, s.dynamic - 20);
        for (int i = 0; i < 8; ++i) note(kPerc, t + i * kEighth, kEighth / 2, kShaker, s.dynamic - (i % 2 ? 55 : 40));
    }
}

void arrange() {
    struct { int ch, prog, volume, pan, reverb, chorus; } setup[] = {
        {kLead, kFlute, 100, 58, 70, 10},     {kDouble, kSlowStrings, 80, 74, 80, 30},
        {kPad, kStrings, 82, 64, 90, 40},     {kAir, kChoir, 70, 50, 100, 40},
        {kBass, kAcousticBass, 96, 64, 40, 0}, {kArp, kHarp, 78, 84, 70, 10},
        {kSparkle, kCelesta, 76, 40, 110, 20}, {kPerc, 0, 70, 70, 60, 0},
    };
    for (const auto& p : setup) {
        if (p.ch != kPerc) program(p.ch, 0, p.prog);
        control(p.ch, 0, kVolume, p.volume);
        control(p.ch, 0, kPan, p.pan);
        control(p.ch, 0, kReverb, p.reverb);
        control(p.ch, 0, kChorus, p.chorus);
        control(p.ch, 0, kExpression, 110);
    }
    long t = 0;
    for (const Section& s : kSections) {
        program(kLead, t, s.lead);
        // The variation's music box trades places with the glockenspiel.
        program(kSparkle, t, s.lead == kMusicBox ? kGlockenspiel : kCelesta);
        const std::vector<std::string> chords = words(s.chords);
        if (melody(s, t) != long(chords.size()) * kBar)
            die(std::string("melody and chords of the ") + s.name + " differ in length");
        for (size_t i = 0; i < chords.size(); ++i) {
            const bool last = &s == std::end(kSections) - 1 && i + 2 == chords.size();
            bar(s, chord(chords[i]), t + long(i) * kBar, last);
        }
        t += long(chords.size()) * kBar;
    }
    // End of track exactly at the last bar line, so the piece keeps its length.
    events.push_back({t, 3, {0xFF, 0x2F, 0x00}});
}

void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
void put_varlen(std::vector<uint8_t>& b, uint32_t v) {
    uint8_t tmp[5];
    int n = 0;
    do tmp[n++] = uint8_t(v & 0x7F), v >>= 7; while (v);
    while (n--) b.push_back(uint8_t(tmp[n] | (n ? 0x80 : 0)));
}

// Format 0: one track, all channels; tempo first.
void write_midi(const std::string& path) {
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.tick != b.tick ? a.tick < b.tick : a.order < b.order; });
    const uint32_t us_per_quarter = 60000000 / kBpm;
    std::vector<uint8_t> track = {0x00, 0xFF, 0x51, 0x03, uint8_t(us_per_quarter >> 16), uint8_t(us_per_quarter >> 8),
                                  uint8_t(us_per_quarter)};
    long last = 0;
    for (const Event& e : events) {
        put_varlen(track, uint32_t(e.tick - last));
        track.insert(track.end(), e.bytes.begin(), e.bytes.end());
        last = e.tick;
    }
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, uint8_t(kPpq >> 8), uint8_t(kPpq)};
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    put32(file, uint32_t(track.size()));
    file.insert(file.end(), track.begin(), track.end());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(file.data(), 1, file.size(), f) != file.size() || std::fclose(f) != 0)
        die("cannot write " + path);
    std::printf("%.3f\n", double(last) / kPpq * 60 / kBpm);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) die("usage: score OUT.mid");
    arrange();
    write_midi(argv[1]);
    return 0;
}
