// The signing page: takes the pad through the bridge, mirrors its screen, draws the ink as the
// pen moves, and on Accept offers the signature as PNG, SVG, ISO record and JSON.
import { connect, penSpaceOf } from "./zeltablet.js";

const INK = { colour: "#1a237e", minWidth: 0.5, maxWidth: 2.5 };  // screen pixels
const RETRY_MS = 2000;

const $ = (id) => document.getElementById(id);
const ui = {
    status: $("status"),
    screen: $("screen"),
    mirror: $("mirror"),
    ink: $("ink"),
    padName: $("pad-name"),
    clear: $("clear"),
    accept: $("accept"),
    again: $("again"),
    captureButtons: $("capture-buttons"),
    againButtons: $("again-buttons"),
    downloads: $("downloads"),
    links: {
        png: $("download-png"),
        svg: $("download-svg"),
        iso: $("download-iso"),
        json: $("download-json"),
    },
};

// What the page holds; `received` keeps every sample with the page time it arrived, which
// the browser tests and the latency benchmark read.
const page = {
    client: null,
    space: penSpaceOf(null),
    pixelsPerScreenPixel: 1,
    previous: null,  // the last sample drawn, while the pen touches
    received: [],
    gaps: [],
    objectUrls: [],
    capturing: false,
};
window.signingPage = page;

function announce(text) {
    ui.status.textContent = text;
}

function setBusy(busy) {
    ui.clear.disabled = busy || !page.capturing;
    ui.accept.disabled = busy || !page.capturing;
}

function sizeCanvas() {
    const { screenWidth, screenHeight } = page.space;
    // The backing store follows the device's pixels so the ink stays sharp when scaled.
    const ratio = Math.max(1, Math.min(4, window.devicePixelRatio || 1));
    page.pixelsPerScreenPixel = ratio;
    ui.ink.width = Math.round(screenWidth * ratio);
    ui.ink.height = Math.round(screenHeight * ratio);
    ui.screen.style.setProperty("--pad-aspect", `${screenWidth} / ${screenHeight}`);
}

function clearInk() {
    const context = ui.ink.getContext("2d");
    context.clearRect(0, 0, ui.ink.width, ui.ink.height);
    page.previous = null;
}

// One segment per pair of touching samples, its width following the pressure, with round
// ends so that the segments join into a smooth stroke; a lone touching sample is a dot.
function drawSample(sample) {
    if (sample.pressure <= 0) {
        page.previous = null;
        return;
    }
    const space = page.space;
    const k = page.pixelsPerScreenPixel;
    const x = space.toScreenX(sample.x) * k;
    const y = space.toScreenY(sample.y) * k;
    const pressure = space.toPressure(sample.pressure);
    const context = ui.ink.getContext("2d");
    context.strokeStyle = INK.colour;
    context.fillStyle = INK.colour;
    context.lineCap = "round";
    context.lineJoin = "round";
    const previous = page.previous;
    if (previous) {
        const p = (pressure + previous.pressure) / 2;
        context.lineWidth = (INK.minWidth + (INK.maxWidth - INK.minWidth) * p) * k;
        context.beginPath();
        context.moveTo(previous.x, previous.y);
        context.lineTo(x, y);
        context.stroke();
    } else {
        const radius = ((INK.minWidth + (INK.maxWidth - INK.minWidth) * pressure) * k) / 2;
        context.beginPath();
        context.arc(x, y, radius, 0, 2 * Math.PI);
        context.fill();
    }
    page.previous = { x, y, pressure };
}

// The prompt the pad shows while the person signs: a line to sign on, drawn here at the
// pad's own screen size and sent as a PNG, so that every model gets it without a file.
function promptPicture() {
    const { screenWidth: w, screenHeight: h } = page.space;
    const canvas = document.createElement("canvas");
    canvas.width = w;
    canvas.height = h;
    const context = canvas.getContext("2d");
    context.fillStyle = "#ffffff";
    context.fillRect(0, 0, w, h);
    const lineY = Math.round(h * 0.8);
    const left = Math.round(w * 0.08);
    const right = Math.round(w * 0.92);
    context.strokeStyle = "#000000";
    context.lineWidth = Math.max(1, Math.round(h / 136));
    context.beginPath();
    context.moveTo(left, lineY + 0.5);
    context.lineTo(right, lineY + 0.5);
    context.stroke();
    const mark = Math.round(h * 0.05);
    context.beginPath();
    context.moveTo(left, lineY - 3 * mark);
    context.lineTo(left + mark, lineY - 2 * mark);
    context.moveTo(left + mark, lineY - 3 * mark);
    context.lineTo(left, lineY - 2 * mark);
    context.stroke();
    context.fillStyle = "#000000";
    context.font = `${Math.max(10, Math.round(h * 0.065))}px sans-serif`;
    context.textAlign = "center";
    context.textBaseline = "top";
    context.fillText("Please sign above the line", w / 2, lineY + Math.round(h * 0.04));
    return new Promise((resolve) => canvas.toBlob(resolve, "image/png"));
}

async function showPrompt() {
    try {
        const blob = await promptPicture();
        await page.client.showPicture(new Uint8Array(await blob.arrayBuffer()));
    } catch (error) {
        if (error.code === "closed") throw error;
        // A pad that takes no pictures is signed without a prompt.
    }
}

async function refreshMirror() {
    try {
        const blob = await page.client.screen();
        const url = URL.createObjectURL(blob);
        const old = ui.mirror.dataset.url;
        ui.mirror.src = url;
        ui.mirror.dataset.url = url;
        ui.mirror.hidden = false;
        if (old) URL.revokeObjectURL(old);
    } catch {
        ui.mirror.hidden = true;  // no mirror: the ink still shows on a blank screen
    }
}

function resetDownloads() {
    for (const url of page.objectUrls) URL.revokeObjectURL(url);
    page.objectUrls = [];
    ui.downloads.hidden = true;
    for (const link of Object.values(ui.links)) link.removeAttribute("href");
}

async function startCapture() {
    resetDownloads();
    clearInk();
    page.received = [];
    page.gaps = [];
    await page.client.startCapture();
    page.capturing = true;
    ui.screen.dataset.state = "capturing";
    ui.againButtons.hidden = true;
    ui.captureButtons.hidden = false;
    setBusy(false);
    announce("Please sign on the pad.");
}

async function onClear() {
    setBusy(true);
    try {
        // A fresh capture on a cleared pad: the signature starts over on both sides.
        await page.client.stopCapture();
        await page.client.clear();
        await showPrompt();
        await refreshMirror();
        await startCapture();
        announce("Cleared. Please sign again on the pad.");
        ui.clear.focus();
    } catch (error) {
        fail(error);
    }
}

async function onAccept() {
    setBusy(true);
    try {
        await page.client.stopCapture();
        page.capturing = false;
        ui.screen.dataset.state = "accepted";
        const files = await page.client.signature(["png", "svg", "iso", "json"]);
        for (const [format, blob] of Object.entries(files)) {
            const link = ui.links[format];
            if (!link) continue;
            const url = URL.createObjectURL(blob);
            page.objectUrls.push(url);
            link.href = url;
        }
        ui.downloads.hidden = false;
        ui.captureButtons.hidden = true;
        ui.againButtons.hidden = false;
        setBusy(false);
        announce("Signature accepted. Downloads are ready.");
        ui.links.png.focus();
    } catch (error) {
        if (error.code === "failed") {
            // Nothing usable was signed (no ink, a single dot): the person signs again.
            await startCapture().catch(fail);
            announce(`No signature to keep (${error.message}). Please sign on the pad, then Accept.`);
            return;
        }
        fail(error);
    }
}

async function onAgain() {
    setBusy(true);
    try {
        await page.client.clear();
        await showPrompt();
        await refreshMirror();
        await startCapture();
        ui.accept.focus();
    } catch (error) {
        fail(error);
    }
}

function fail(error) {
    page.capturing = false;
    setBusy(true);
    const text = {
        busy: "The pad is in use by another page. Trying again…",
        "no-pad": "No pad is attached. Trying again…",
        "pad-removed": "The pad was unplugged. Waiting for it…",
        closed: "The connection to the pad ended. Trying again…",
    }[error.code] || `The pad refused: ${error.message}. Trying again…`;
    announce(text);
    if (page.client && !page.client.closed) page.client.close();
    page.client = null;
    ui.screen.dataset.state = "waiting";
    setTimeout(start, RETRY_MS);
}

async function start() {
    try {
        const client = await connect();
        page.client = client;
        client.addEventListener("samples", (event) => {
            const now = performance.timeOrigin + performance.now();
            for (const sample of event.detail.samples) {
                page.received.push([sample.x, sample.y, sample.pressure, sample.switches,
                    sample.timeCount, sample.timeMs, now]);
                drawSample(sample);
            }
        });
        client.addEventListener("gap", (event) => page.gaps.push(event.detail));
        client.addEventListener("capture-ended", () => {
            page.previous = null;
        });
        client.addEventListener("pad", (event) => {
            // The pad was unplugged: the bridge ended the session; wait for it to come back.
            if (event.detail.event === "removed" && page.client === client) {
                fail({ code: "pad-removed" });
            }
        });
        client.addEventListener("close", () => {
            if (page.client === client) fail({ code: "closed" });
        });
        await client.connect();
        const info = await client.info();
        page.space = penSpaceOf(info.capabilities);
        ui.padName.textContent = info.pad && info.pad.model ? `Pad: ${info.pad.model}` : "";
        sizeCanvas();
        await showPrompt();
        await refreshMirror();
        await startCapture();
    } catch (error) {
        fail(error);
    }
}

ui.clear.addEventListener("click", onClear);
ui.accept.addEventListener("click", onAccept);
ui.again.addEventListener("click", onAgain);
sizeCanvas();
start();
