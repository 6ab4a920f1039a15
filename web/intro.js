// intro.js: the page's side of the intro. It runs main on the first click, since browsers
// let sound start only after one, and shows the end screen when main has returned.
var Module = {
    canvas: document.getElementById("canvas"),
    noInitialRun: true,
    // The music is decoded and played through Web Audio; an <audio> element would wait
    // for an autoplay permission that never comes.
    noAudioDecoding: true,
    onRuntimeInitialized: function () {
        showOverlay("start");
    },
    onExit: function () {
        if (document.fullscreenElement)
            document.exitFullscreen().catch(function () {});
        showOverlay("end");
    },
};

function showOverlay(id) {
    document.querySelectorAll(".overlay").forEach(function (overlay) {
        overlay.hidden = overlay.id !== id;
    });
}

document.getElementById("start").addEventListener("click", function () {
    showOverlay(null);
    // Full screen as the intro asks for; a browser that refuses still shows the canvas.
    var page = document.documentElement;
    if (page.requestFullscreen)
        page.requestFullscreen().catch(function () {});
    Module.callMain([]);
});

document.getElementById("again").addEventListener("click", function () {
    location.reload();
});
