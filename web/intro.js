// intro.js: the page's side of the intro. It downloads the intro's three files itself, to show
// how far it has got and to name any file that cannot be had and why, and hands them to
// Emscripten's runtime. It runs main on the first click or tap, since browsers let sound
// start only after one, hands a tap on the running page to the intro as the key press that
// ends it, and then says how the intro ended.
var FILES = ["snowintro.js", "snowintro.wasm", "snowintro.data"];
var MB = 1e6;
var STALL_S = 20; // seconds without data after which a download is given up as stalled
// A phone or tablet: a touch screen and no mouse or other fine pointer. The page then says
// "tap" where it would say "click" or "press a key".
var TOUCH_SCREEN = navigator.maxTouchPoints > 0 && !matchMedia("(any-pointer: fine)").matches;
var downloads = {}; // per file name: { got, size } in bytes; size 0 when not announced
var packageData = null; // snowintro.data, for Emscripten's package loader
// The first line printed once the intro runs: on a failed start, the intro's own reason,
// which it prints before anything else does (Emscripten's SDL_Quit prints after it).
var firstLine = "";
var phase = "loading"; // then "ready", "running" and "ended"
var scriptUrl = ""; // snowintro.js as run, from its downloaded bytes
var endedBy = ""; // the first input while the intro runs, which ends it: "key" or "tap"
var touchHeld = false; // a touch that began while the intro ran is still down

var Module = {
    canvas: document.getElementById("canvas"),
    noInitialRun: true,
    // The music is decoded and played through Web Audio; an <audio> element would wait
    // for an autoplay permission that never comes.
    noAudioDecoding: true,
    print: function (line) {
        keepFirst(line);
        console.log(line);
    },
    printErr: function (line) {
        keepFirst(line);
        console.warn(line);
    },
    // The package loader names the size the data file was built with, so a response cut
    // short stops here instead of running without its font, logo and tune.
    getPreloadedPackage: function (name, size) {
        if (packageData.byteLength < size) {
            var error = fileError(name, `cut short, ${packageData.byteLength} of ${size} bytes`);
            fail(error.message);
            throw error;
        }
        return packageData;
    },
    onRuntimeInitialized: function () {
        phase = "ready";
        showOverlay("start");
    },
    onExit: function (status) {
        if (status === 0)
            end("The intro has ended",
                endedBy === "tap" ? "The screen was tapped." : "A key was pressed.", "Watch again");
        else
            end("The intro could not start", `${firstLine} (status ${status})`.trim(), "Try again");
    },
    onAbort: function (what) {
        fail(String(what));
    },
};

function keepFirst(line) {
    if (phase === "running" && !firstLine)
        firstLine = line;
}

function showOverlay(id) {
    document.querySelectorAll(".overlay").forEach(function (overlay) {
        overlay.hidden = overlay.id !== id;
    });
}

function setText(id, text) {
    document.getElementById(id).textContent = text;
}

// The end screen: a title, one line on what happened, and a button that loads the page
// again. The first outcome is the one told.
function end(title, line, button) {
    if (phase === "ended")
        return;
    phase = "ended";
    if (document.fullscreenElement)
        document.exitFullscreen().catch(function () {});
    setText("end-title", title);
    setText("end-line", line);
    setText("again", button);
    showOverlay("end");
}

// Before the start nothing has run, so the page could not be loaded; after it, the intro
// stopped where it was.
function fail(line) {
    console.error(line);
    end(phase === "running" ? "The intro stopped" : "The intro could not be loaded", line,
        "Try again");
}

// One line naming the file and what is wrong with it.
function fileError(name, reason) {
    return new Error(`${name}: ${reason}`);
}

function showProgress() {
    var got = 0, size = 0, allSized = true;
    FILES.forEach(function (name) {
        var d = downloads[name] || { got: 0, size: 0 };
        got += d.got;
        size += d.size;
        allSized = allSized && d.size > 0;
    });
    var text = "Loading\u2026 " + (got / MB).toFixed(1);
    if (allSized)
        text += ` of ${(size / MB).toFixed(1)} MB (${Math.floor(100 * got / size)}%)`;
    else
        text += " MB";
    setText("progress", text);
}

// Aborts its signal once STALL_S seconds pass without a call to rearm: a server or network
// that stalls without closing the connection would otherwise leave the progress frozen.
// Armed from the start; aborting a download that has already failed does nothing.
function stallWatch() {
    var controller = new AbortController(), timer = 0;
    var watch = {
        signal: controller.signal,
        rearm: function () {
            clearTimeout(timer);
            timer = setTimeout(function () { controller.abort(); }, STALL_S * 1000);
        },
        stop: function () {
            clearTimeout(timer);
        },
    };
    watch.rearm();
    return watch;
}

// One file as a Blob, its progress shown as its pieces arrive.
async function download(name) {
    var watch = stallWatch();
    // A wait that failed because the watch gave up on it was a stall.
    var broken = function (reason) {
        return fileError(name, watch.signal.aborted ? `no data for ${STALL_S} s` : reason);
    };
    var response;
    try {
        response = await fetch(name, { signal: watch.signal });
    } catch (e) {
        throw broken("network error");
    }
    if (!response.ok)
        throw fileError(name, `HTTP ${response.status} ${response.statusText}`.trim());
    // A compressed response announces its compressed size, not the bytes read here.
    var announced = response.headers.get("Content-Encoding") ? 0 :
        Number(response.headers.get("Content-Length")) || 0;
    var d = downloads[name] = { got: 0, size: announced };
    var reader = response.body.getReader(), pieces = [];
    for (;;) {
        var piece;
        watch.rearm();
        try {
            piece = await reader.read();
        } catch (e) {
            throw broken(`the connection broke off after ${d.got} bytes`);
        }
        if (piece.done)
            break;
        pieces.push(piece.value);
        d.got += piece.value.length;
        showProgress();
    }
    watch.stop();
    if (d.got < announced)
        throw fileError(name, `cut short, ${d.got} of ${announced} bytes`);
    return new Blob(pieces, { type: response.headers.get("Content-Type") || "" });
}

async function load() {
    if (typeof WebAssembly !== "object")
        throw fileError("snowintro.wasm", "this browser has no WebAssembly");
    var [js, wasm, data] = await Promise.all(FILES.map(download));
    Module.wasmBinary = await wasm.arrayBuffer();
    if (!WebAssembly.validate(Module.wasmBinary))
        throw fileError("snowintro.wasm", "damaged, not valid WebAssembly");
    packageData = await data.arrayBuffer();
    setText("progress", "Starting\u2026");
    var script = document.createElement("script");
    script.src = scriptUrl = URL.createObjectURL(js);
    document.body.appendChild(script);
}

// Whatever fails without being caught ends the page with its message, rather than leaving
// it on a frozen frame.
window.addEventListener("error", function (event) {
    var where = scriptUrl && event.filename === scriptUrl ? "snowintro.js: " : "";
    fail(where + (event.message || "an error in the page"));
});
window.addEventListener("unhandledrejection", function (event) {
    fail(String(event.reason));
});

// Held upright, a phone shows the 4:3 picture in a third of its screen: the page asks to
// turn it, which browsers allow only in full screen if at all, and carries on when refused.
function lockLandscape() {
    if (screen.orientation && screen.orientation.lock)
        return screen.orientation.lock("landscape");
}

document.getElementById("start").addEventListener("click", function () {
    phase = "running";
    showOverlay(null);
    // Full screen as the intro asks for; a browser that refuses still shows the canvas.
    var page = document.documentElement;
    var fullscreen = page.requestFullscreen ? page.requestFullscreen() : Promise.resolve();
    fullscreen.catch(function () {}).then(lockLandscape).catch(function () {});
    Module.callMain([]);
});

// The intro ends on a key press, and a phone has no keys: a touch on the running page
// reaches it as the key press it stands for, key down as the finger lands and key up as it
// lifts, through the listener SDL keeps on the document. Mouse clicks stay ignored, as the
// intro intends. Cancelling the touch keeps the browser from making a click of it, which
// could land on the end screen's button.
function pressSpace(type) {
    document.dispatchEvent(new KeyboardEvent(type, { key: " ", code: "Space", keyCode: 32 }));
}
document.addEventListener("touchstart", function (event) {
    if (phase !== "running")
        return;
    event.preventDefault();
    if (touchHeld)
        return;
    touchHeld = true;
    endedBy = endedBy || "tap";
    pressSpace("keydown");
}, { passive: false });
["touchend", "touchcancel"].forEach(function (type) {
    document.addEventListener(type, function (event) {
        if (!touchHeld)
            return;
        event.preventDefault();
        if (event.touches.length > 0)
            return;
        touchHeld = false;
        pressSpace("keyup");
    }, { passive: false });
});
document.addEventListener("keydown", function (event) {
    if (phase === "running" && event.isTrusted)
        endedBy = endedBy || "key";
}, true);

if (TOUCH_SCREEN) {
    document.documentElement.classList.add("touch");
    setText("start-title", "Tap to start");
    setText("start-end", "Tap the screen to end the intro.");
}

document.getElementById("again").addEventListener("click", function () {
    location.reload();
});

load().catch(function (e) {
    fail(e.message);
});
