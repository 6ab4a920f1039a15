// chromium.js: drives the browser build in Debian's headless Chromium, the pages served from
// 127.0.0.1. WEB_DIR is the fixture's folder (tests/web/build.sh): page/, build/, node/.
//   node chromium.js fidelity WEB_DIR NATIVE_FRAMES   the frame checker, browser vs native
//   node chromium.js page WEB_DIR                      the release zip's page from a sub-folder,
//                                                      its name and icon, click to key press
//   node chromium.js phone WEB_DIR                     the release page on a phone, tap to tap
//   node chromium.js faults WEB_DIR                    the release page when something fails
//   node chromium.js figures WEB_DIR                   frames per second and main-thread time
"use strict";
const childProcess = require("child_process");
const fs = require("fs");
const http = require("http");
const path = require("path");

const ASSETS = path.join(__dirname, "..", "..", "assets");
const W = 640, H = 480;
const LOGO_AT = [190, 50];
const TEXT_TOP = 360;
const GREYS = [250, 205, 155].map((v) => rgb565(v, v, v));
const TITLE = "Snowfall";
const ICON = path.join(ASSETS, "icons", "snowintro-32.png");
const PHONE = { viewport: { width: 390, height: 844 }, deviceScaleFactor: 3, isMobile: true,
    hasTouch: true }; // a phone held upright: touch only, no fine pointer
const STALL_S = 20; // the page's limit for a download receiving nothing
const CHROMIUM = "/usr/bin/chromium";
const BAND_ROWS = 48; // rows per checksum of the frame checker
const CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
    "--no-first-run", "--disable-background-networking", "--disable-component-update",
    "--disable-sync"];
const TYPES = { ".html": "text/html", ".js": "text/javascript", ".css": "text/css",
    ".wasm": "application/wasm", ".data": "application/octet-stream", ".png": "image/png" };

function rgb565(r, g, b) {
    return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
}

function fail(message) {
    console.error("FAIL: " + message);
    process.exit(1);
}

function check(ok, message) {
    if (!ok)
        fail(message);
    console.log("ok: " + message);
}

// Serves the folder at URL path base (a folder, "/" by default; anything outside it is not
// found) on a free port of 127.0.0.1. routes maps URL paths under base to page texts, or to
// functions (res, body, type) that answer with the file's bytes in their own way.
function serve(root, routes = {}, base = "/") {
    const server = http.createServer((req, res) => {
        const url = decodeURIComponent(req.url.split("?")[0]);
        const inside = "/" + url.slice(base.length);
        if (typeof routes[inside] === "string") {
            res.writeHead(200, { "Content-Type": "text/html" });
            return res.end(routes[inside]);
        }
        const file = path.join(root, path.normalize(inside === "/" ? "/index.html" : inside));
        fs.readFile(file, (err, body) => {
            if (err || !url.startsWith(base)) {
                res.writeHead(404);
                return res.end();
            }
            const type = TYPES[path.extname(file)] || "application/octet-stream";
            (routes[inside] || sendFile)(res, body, type);
        });
    });
    return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

function sendFile(res, body, type) {
    res.writeHead(200, { "Content-Type": type, "Content-Length": body.length });
    res.end(body);
}

// Chromium with its own HOME and, per mode, profile under WEB_DIR; console errors and uncaught
// exceptions are collected in page.errors. device: Playwright's options for an emulated one.
async function openBrowser(webDir, mode, device = {}) {
    const { chromium } = require(path.join(webDir, "node", "node_modules", "playwright-core"));
    const home = path.join(webDir, "chromium-home");
    fs.mkdirSync(home, { recursive: true });
    const profile = path.join(webDir, "chromium-profile-" + mode);
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: CHROMIUM,
        headless: true,
        args: CHROMIUM_FLAGS,
        env: { ...process.env, HOME: home },
        viewport: { width: W, height: H },
        ...device,
    });
    const page = watch(context.pages()[0] || await context.newPage());
    return { context, page };
}

function watch(page) {
    page.errors = [];
    page.lines = [];
    page.answers = []; // "STATUS URL" of each HTTP response (not the blob: one of snowintro.js)
    page.on("response", (r) => r.url().startsWith("http") &&
            page.answers.push(`${r.status()} ${r.url()}`));
    page.on("console", (m) => {
        if (m.type() === "error")
            page.errors.push(m.text() + " " + m.location().url);
        page.lines.push(m.text());
    });
    page.on("pageerror", (e) => page.errors.push(String(e)));
    return page;
}

async function waitForLine(page, prefix, ms) {
    const deadline = Date.now() + ms;
    while (!page.lines.some((l) => l.startsWith(prefix))) {
        if (Date.now() > deadline)
            fail(`no "${prefix}" line within ${ms} ms; errors: ${page.errors.join(" | ")}`);
        await page.waitForTimeout(100);
    }
}

// The canvas in RGB565, whose expansion to RGBA is one-to-one.
async function canvas565(page) {
    const rgba = Buffer.from(await page.evaluate(() => {
        const c = document.getElementById("canvas");
        const d = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
        let s = "";
        for (let i = 0; i < d.length; i += 8192)
            s += String.fromCharCode.apply(null, d.subarray(i, i + 8192));
        return btoa(s);
    }), "base64");
    const px = new Uint16Array(W * H);
    for (let i = 0; i < px.length; i++)
        px[i] = rgb565(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]);
    return px;
}

// A 16-bit RGB565 BMP (bottom-up) as { w, h, px }.
function readBmp565(file) {
    const b = fs.readFileSync(file);
    const w = b.readInt32LE(18), h = b.readInt32LE(22), offset = b.readUInt32LE(10);
    const stride = (w * 2 + 3) & ~3;
    const px = new Uint16Array(w * h);
    for (let y = 0; y < h; y++)
        for (let x = 0; x < w; x++)
            px[y * w + x] = b.readUInt16LE(offset + (h - 1 - y) * stride + 2 * x);
    return { w, h, px };
}

async function fidelity(webDir, nativeFrames) {
    const env = { ...process.env, SDL_VIDEODRIVER: "dummy", SDL_AUDIODRIVER: "dummy" };
    const native = childProcess.execFileSync(nativeFrames, { cwd: ASSETS, env, encoding: "utf8" })
        .trim().split("\n");
    const server = await serve(path.join(webDir, "build"), {
        "/frames.html": '<!DOCTYPE html><link rel="icon" href="data:,">' +
            '<canvas id="canvas"></canvas><script>var Module = {canvas: ' +
            'document.getElementById("canvas"), noAudioDecoding: true};</script>' +
            '<script src="intro_frames.js"></script>',
    });
    const { context, page } = await openBrowser(webDir, "fidelity");
    await page.goto(`http://127.0.0.1:${server.address().port}/frames.html`);
    await waitForLine(page, "done:", 60000);
    const web = page.lines.filter((l) => l.startsWith("frame ") || l.startsWith("done:"));
    await context.close();
    server.close();

    for (let i = 0; i < Math.max(native.length, web.length); i++) {
        if (native[i] === web[i])
            continue;
        const a = (native[i] || "").split(" "), b = (web[i] || "").split(" ");
        const band = a.findIndex((v, k) => v !== b[k]) - 2; // after "frame N"
        const top = BAND_ROWS * band;
        const rows = band >= 0 ? ` in rows ${top} to ${top + BAND_ROWS - 1}` : "";
        fail(`line ${i} differs${rows}:\n  native:  ${native[i]}\n  browser: ${web[i]}`);
    }
    check(native[native.length - 1].endsWith("status 0") && native.length > 100,
          `${native.length - 1} frames and the exit status alike in the browser and natively`);
    check(page.errors.length === 0, "no console errors: " + page.errors.join(" | "));
}

// The shift d (1..W) that carries every text pixel of a to the same value in b at x - d;
// text pixels are those in the text rows that are neither black nor a snow grey.
function textShift(a, b, rows) {
    const text = [];
    for (let y = TEXT_TOP; y < TEXT_TOP + rows; y++)
        for (let x = 0; x < W; x++) {
            const v = a[y * W + x];
            if (v !== 0 && !GREYS.includes(v))
                text.push([x, y, v]);
        }
    for (let d = 1; d < W; d++)
        if (text.every(([x, y, v]) => x - d < 0 || b[y * W + x - d] === v) &&
            text.some(([x]) => x - d >= 0))
            return { d, pixels: text.length };
    return { d: 0, pixels: text.length };
}

// The page in folder root (the release page by default), served at URL path base, up to its
// start overlay. It counts its frames (canvas puts) in window.canvasPuts and keeps hold of
// its audio contexts, to ask them their state; init runs in it first.
async function loadPage(webDir, mode, { root = path.join(webDir, "page"), base = "/", device,
                                        init = () => {} } = {}) {
    const server = await serve(root, {}, base);
    const { context, page } = await openBrowser(webDir, mode, device);
    await page.addInitScript(() => {
        const Base = window.AudioContext;
        window.audioContexts = [];
        window.AudioContext = class extends Base {
            constructor(...args) {
                super(...args);
                window.audioContexts.push(this);
            }
        };
        const proto = CanvasRenderingContext2D.prototype, put = proto.putImageData;
        window.canvasPuts = 0;
        proto.putImageData = function (...args) {
            window.canvasPuts++;
            return put.apply(this, args);
        };
    });
    await page.addInitScript(init);
    await page.goto(`http://127.0.0.1:${server.address().port}${base}`);
    await page.waitForSelector("#start", { state: "visible", timeout: 60000 });
    return { server, context, page };
}

// Waits for the intro to draw n more frames, by when it has taken every event sent before,
// as it polls them all before each frame; or for the end screen. Whether it ended.
async function waitForFrames(page, n) {
    const ms = 20000;
    const state = () => page.evaluate(() => ({ frames: window.canvasPuts,
        ended: !document.getElementById("end").hidden }));
    const from = (await state()).frames, deadline = Date.now() + ms;
    for (;;) {
        const { frames, ended } = await state();
        if (ended || frames >= from + n)
            return ended;
        if (Date.now() > deadline)
            fail(`the intro drew ${frames - from} of ${n} frames in ${ms} ms`);
        await page.waitForTimeout(50);
    }
}

// The release zip, unpacked into WEB_DIR/unzipped: it must hold the page's files, the same
// bytes, at its top. The folder it was unpacked into.
function unpackZip(webDir) {
    const zips = fs.readdirSync(webDir).filter((f) => /^snowintro-.*-web\.zip$/.test(f));
    if (zips.length !== 1)
        fail(`not one web zip in ${webDir}: ${zips.join(" ")}`);
    const zip = path.join(webDir, zips[0]), into = path.join(webDir, "unzipped");
    const pageDir = path.join(webDir, "page");
    fs.rmSync(into, { recursive: true, force: true });
    const names = childProcess.execFileSync("unzip", ["-Z1", zip], { encoding: "utf8" })
        .trim().split("\n").sort();
    childProcess.execFileSync("unzip", ["-q", zip, "-d", into]);
    const files = fs.readdirSync(pageDir).sort();
    const same = names.join(" ") === files.join(" ") && files.every((f) =>
        fs.readFileSync(path.join(into, f)).equals(fs.readFileSync(path.join(pageDir, f))));
    check(same && names.includes("index.html"),
          `${zips[0]} holds the page's files at its top, the same bytes: ${names.join(" ")}`);
    return into;
}

// The page's name and face: its title, description, theme colour and, from its relative
// address, the intro's icon.
async function checkFace(page) {
    const face = await page.evaluate(async () => {
        const meta = (name) => (document.querySelector(`meta[name="${name}"]`) || {}).content;
        const icon = document.querySelector('link[rel="icon"]');
        const answer = icon && await fetch(icon.href);
        return { title: document.title, description: meta("description"),
                 theme: meta("theme-color"), icon: icon && icon.getAttribute("href"),
                 bytes: answer && answer.ok ? btoa(String.fromCharCode(
                     ...new Uint8Array(await answer.arrayBuffer()))) : "" };
    });
    check(face.title === TITLE && /\w+ \w+ \w+/.test(face.description || "") &&
          face.theme === "#000000", `the title "${face.title}", the description ` +
          `"${face.description}" and the theme colour ${face.theme}`);
    check(Buffer.from(face.bytes, "base64").equals(fs.readFileSync(ICON)) &&
          !/^(\/|\w+:)/.test(face.icon), `the icon "${face.icon}" is the intro's own`);
}

async function pageTest(webDir) {
    const base = "/games/snowfall/"; // as on a host that keeps many pages, one a folder
    const { server, context, page } = await loadPage(webDir, "page",
                                                     { root: unpackZip(webDir), base });
    await checkFace(page);
    const words = oneLine(await page.innerText("#start"));
    check(words === "Click to start With sound, in full screen. Press any key to end the intro.",
          `the start screen on a desktop: "${words}"`);
    await page.click("#start");
    await page.waitForTimeout(2500);
    const a = await canvas565(page);
    await page.waitForTimeout(700);
    const b = await canvas565(page);

    const logo = readBmp565(path.join(ASSETS, "logo.bmp"));
    const font = readBmp565(path.join(ASSETS, "font.bmp"));
    const [lx, ly] = LOGO_AT;
    let logoSame = true;
    for (let y = 0; y < logo.h; y++)
        for (let x = 0; x < logo.w; x++)
            logoSame = logoSame && b[(ly + y) * W + lx + x] === logo.px[y * logo.w + x];
    check(logoSame, `the logo at (${lx}, ${ly}) as in logo.bmp`);

    const inLogo = (x, y) => x >= lx && x < lx + logo.w && y >= ly && y < ly + logo.h;
    const inText = (y) => y >= TEXT_TOP && y < TEXT_TOP + font.h - 1;
    let stray = 0, snow = 0;
    for (let y = 0; y < H; y++)
        for (let x = 0; x < W; x++) {
            const v = b[y * W + x];
            if (inLogo(x, y) || inText(y) || v === 0)
                continue;
            if (GREYS.includes(v))
                snow++;
            else
                stray++;
        }
    check(stray === 0 && snow > 0, `snow only in the three greys (${snow} flakes, ${stray} other)`);

    const { d, pixels } = textShift(a, b, font.h - 1);
    check(pixels > 0 && d > 0 && d % 5 === 0, `the text band moved ${d} pixels, in 5-pixel steps`);

    const states = await page.evaluate(() => window.audioContexts.map((c) => c.state));
    check(states.length > 0 && states.every((s) => s === "running"), `audio context ${states}`);
    check(await page.title() === TITLE, `the page keeps its title "${TITLE}" while the intro runs`);

    await page.mouse.click(W / 2, H / 2);
    check(!await waitForFrames(page, 30), "a click on the running picture does not end it");
    await page.keyboard.press("Space");
    await page.waitForSelector("#end", { state: "visible", timeout: 10000 });
    const said = await page.innerText("#end");
    check(said.includes("A key was pressed."), `a key press ends the intro: "${oneLine(said)}"`);
    const folder = `200 ${new URL(base, page.url())}`;
    const astray = page.answers.filter((answer) => !answer.startsWith(folder));
    check(astray.length === 0, `all ${page.answers.length} files from the page's folder ${base}` +
          astray.map((answer) => "; not " + answer).join(""));
    check(page.errors.length === 0, "no console errors: " + page.errors.join(" | "));
    await context.close();
    server.close();
}

// A phone held upright: the start screen's words, a tap that starts the intro in full screen
// asking for landscape (refused here, as many browsers do), and a tap that ends it.
async function phoneTest(webDir) {
    const { server, context, page } = await loadPage(webDir, "phone", { device: PHONE,
        init: () => {
            window.locks = [];
            screen.orientation.lock = (to) => {
                window.locks.push(to);
                return Promise.reject(new DOMException("not here", "NotSupportedError"));
            };
        } });
    const words = oneLine(await page.innerText("#start"));
    check(words === "Tap to start With sound, in full screen. Tap the screen to end the intro. " +
          "Turn the screen sideways for a larger picture.",
          `the start screen on a phone: "${words}"`);
    await page.tap("#start");
    await page.waitForFunction(() => window.locks.length > 0, null, { timeout: 10000 })
        .catch(() => fail("the intro's start asks for no orientation"));
    const ended = await waitForFrames(page, 30);
    const locks = await page.evaluate(() => window.locks);
    check(!ended && locks.join() === "landscape",
          `a tap starts the intro, which asks for ${locks} and runs on when refused`);
    await page.touchscreen.tap(PHONE.viewport.width / 2, PHONE.viewport.height / 2);
    await page.waitForSelector("#end", { state: "visible", timeout: 10000 })
        .catch(() => fail("a tap on the running intro does not end it"));
    const said = oneLine(await page.innerText("#end"));
    check(said === "The intro has ended The screen was tapped. Watch again",
          `a tap on the running intro ends it: "${said}"`);
    check(page.errors.length === 0, "no console errors: " + page.errors.join(" | "));
    await context.close();
    server.close();
}

function oneLine(text) {
    return text.replace(/\s+/g, " ").trim();
}

// The moment the fault of the case being run was made, for the delay until the page tells.
let faultAt = 0;
function made() {
    faultAt = faultAt || Date.now();
}

// Waits for the page's visible text to match; the text and the milliseconds since the fault.
async function waitForText(page, pattern, ms) {
    const deadline = Date.now() + ms;
    for (;;) {
        const text = oneLine(await page.innerText("body"));
        if (pattern.test(text))
            return { text, after: Date.now() - faultAt };
        if (Date.now() > deadline)
            fail(`no text like ${pattern} within ${ms} ms; the page shows "${text}"`);
        await page.waitForTimeout(50);
    }
}

async function clickStart(page) {
    await page.waitForSelector("#start", { state: "visible", timeout: 60000 });
    await page.click("#start");
}

const CUT = 4096; // bytes of the data file that arrive when it is cut short
const PIECES = 8; // the slow data file's pieces, PIECE_MS apart
const PIECE_MS = 250;

// Each fault the release page must tell of, how it is made (a request intercepted in the
// browser, a route of the local server, a script run in the page) and what the page must
// then show: which file and why, or how the intro ended, and an offer to try again. It must
// show it within 10 s of the fault unless the case sets its own bounds in ms (soonest,
// within); then what else must hold (after).
function faultCases(data) {
    const failed = (line) => new RegExp(`The intro could not be loaded ${line} Try again$`);
    let stalls = 0;
    return [
        { name: "data file refused", says: failed("snowintro\\.data: network error"),
          intercept: ["**/snowintro.data", (route) => (made(), route.abort("connectionrefused"))] },
        { name: "wasm file answered with 404", says: failed("snowintro\\.wasm: HTTP 404 Not Found"),
          intercept: ["**/snowintro.wasm", (route) => (made(), route.fulfill({ status: 404 }))] },
        { name: "data file cut short",
          says: failed(`snowintro\\.data: cut short, ${CUT} of ${data.length} bytes`),
          intercept: ["**/snowintro.data",
                      (route) => (made(), route.fulfill({ body: data.subarray(0, CUT) }))] },
        { name: "data file's connection dropped",
          says: failed(`snowintro\\.data: the connection broke off after ${CUT} bytes`),
          routes: { "/snowintro.data": (res, body, type) => {
              res.writeHead(200, { "Content-Type": type, "Content-Length": body.length });
              const drop = () => (made(), res.destroy());
              res.write(body.subarray(0, CUT), () => setTimeout(drop, 200));
          } } },
        // The first request for the data file stalls, the connection kept open; the second,
        // after "Try again", is answered.
        { name: "data file stalled", says: failed(`snowintro\\.data: no data for ${STALL_S} s`),
          soonest: STALL_S * 1000, within: STALL_S * 1000 + 5000,
          routes: { "/snowintro.data": (res, body, type) => {
              if (stalls++ > 0)
                  return sendFile(res, body, type);
              res.writeHead(200, { "Content-Type": type, "Content-Length": body.length });
              res.write(body.subarray(0, CUT), made);
          } },
          after: async (page) => {
              await page.click("#again");
              await page.waitForSelector("#start", { state: "visible", timeout: 60000 })
                  .catch(() => fail("after a stall, \"Try again\" does not load the page"));
              check(true, "after a stall, \"Try again\" loads the page up to its start");
          } },
        { name: "no WebAssembly", says: failed("snowintro\\.wasm: this browser has no WebAssembly"),
          init: () => delete window.WebAssembly },
        { name: "intro.js refused",
          says: /intro\.js could not be loaded\. Reload the page to try again\.$/,
          intercept: ["**/intro.js", (route) => (made(), route.abort("connectionrefused"))] },
        // The intro's own start failing: its video mode cannot be had when the canvas gives
        // no 2D context, as in a browser with canvas drawing turned off.
        { name: "a canvas without a 2D context",
          says: new RegExp("The intro could not start Couldn't set 640x480x16 video mode: " +
                           "The page's canvas gives no 2D context \\(status 2\\) Try again$"),
          act: async (page) => {
              await page.waitForSelector("#start", { state: "visible", timeout: 60000 });
              await page.evaluate(() => { HTMLCanvasElement.prototype.getContext = () => null; });
              made();
              await page.click("#start");
          } },
        { name: "the canvas failing while the intro runs",
          says: /The intro stopped .*the canvas is gone Try again$/,
          act: async (page) => {
              await clickStart(page);
              await page.waitForTimeout(1000);
              await page.evaluate(() => {
                  CanvasRenderingContext2D.prototype.putImageData = () => {
                      throw new Error("the canvas is gone");
                  };
              });
              made();
          } },
    ];
}

// The data file served in pieces: the progress shown must rise at least twice before the
// start overlay comes up.
async function slowDownload(context, root) {
    const server = await serve(root, { "/snowintro.data": (res, body, type) => {
        res.writeHead(200, { "Content-Type": type, "Content-Length": body.length });
        const piece = Math.ceil(body.length / PIECES);
        const send = (at) => {
            res.write(body.subarray(at, at + piece));
            if (at + piece < body.length)
                setTimeout(send, PIECE_MS, at + piece);
            else
                res.end();
        };
        send(0);
    } });
    const page = watch(await context.newPage());
    await page.addInitScript(() => {
        window.progressShown = [];
        document.addEventListener("DOMContentLoaded", () => {
            const shown = document.getElementById("progress");
            new MutationObserver(() => window.progressShown.push(shown.textContent))
                .observe(shown, { childList: true, characterData: true, subtree: true });
        });
    });
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    await page.waitForSelector("#start", { state: "visible", timeout: 60000 });
    const shown = await page.evaluate(() => window.progressShown);
    const megabytes = shown.map((text) => /Loading\u2026 ([\d.]+)/.exec(text)).filter(Boolean)
        .map((m) => Number(m[1]));
    const rises = megabytes.filter((mb, i) => i > 0 && mb > megabytes[i - 1]).length;
    check(rises >= 2 && shown.some((text) => text.includes("%)")),
          `the data file in ${PIECES} pieces: progress rose ${rises} times, ` +
          `"${shown[1]}" ... "${shown[shown.length - 2]}", then the start overlay`);
    await page.close();
    server.close();
}

async function faultsTest(webDir) {
    const root = path.join(webDir, "page");
    const data = fs.readFileSync(path.join(root, "snowintro.data"));
    const { context } = await openBrowser(webDir, "faults");
    for (const c of faultCases(data)) {
        faultAt = 0;
        const server = await serve(root, c.routes);
        const page = watch(await context.newPage());
        if (c.init) {
            await page.addInitScript(c.init);
            made(); // the fault is there from the first line the page runs
        }
        if (c.intercept)
            await page.route(...c.intercept);
        await page.goto(`http://127.0.0.1:${server.address().port}/`);
        if (c.act)
            await c.act(page);
        const { text, after } = await waitForText(page, c.says, c.within || 10000);
        check(after >= (c.soonest || 0), `${c.name}: "${text}", ${after} ms after the fault`);
        if (c.after)
            await c.after(page);
        await page.close();
        server.close();
    }
    await slowDownload(context, root);
    await context.close();
}

// Frames are the canvas puts; main-thread time is Chromium's own busy time.
async function figures(webDir) {
    const { server, context, page } = await loadPage(webDir, "figures");
    await page.click("#start");
    const cdp = await context.newCDPSession(page);
    await cdp.send("Performance.enable");
    const busy = async () => (await cdp.send("Performance.getMetrics")).metrics
        .find((m) => m.name === "TaskDuration").value;
    await page.waitForTimeout(1000);
    const f0 = await page.evaluate(() => window.canvasPuts), b0 = await busy(), t0 = Date.now();
    await page.waitForTimeout(5000);
    const f1 = await page.evaluate(() => window.canvasPuts), b1 = await busy(), t1 = Date.now();
    const frames = f1 - f0;
    console.log(`frames per second: ${(frames * 1000 / (t1 - t0)).toFixed(1)}`);
    console.log(`main-thread time per frame: ${((b1 - b0) * 1000 / frames).toFixed(2)} ms`);
    await context.close();
    server.close();
}

async function main() {
    const [mode, webDir, extra] = process.argv.slice(2);
    if (!webDir || !fs.existsSync(webDir))
        fail("usage: node chromium.js fidelity|page|phone|faults|figures WEB_DIR [NATIVE_FRAMES]");
    if (!fs.existsSync(CHROMIUM))
        fail(`${CHROMIUM} is missing (Debian package chromium)`);
    if (mode === "fidelity")
        await fidelity(webDir, extra);
    else if (mode === "page")
        await pageTest(webDir);
    else if (mode === "phone")
        await phoneTest(webDir);
    else if (mode === "faults")
        await faultsTest(webDir);
    else if (mode === "figures")
        await figures(webDir);
    else
        fail(`unknown mode "${mode}"`);
}

main().catch((e) => fail(e.message || String(e)));
