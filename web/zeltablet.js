// zeltablet.js: a web page's client for zeltablet-bridge, the local service that lends a
// signature pad to one page at a time over a WebSocket.
//
//   import { connect } from "./zeltablet.js";
//   const client = await connect();              // ws://<this page's host>/pad
//   await client.connect();                      // the first pad (or { uid })
//   const info = await client.info();
//   client.addEventListener("samples", (e) => draw(e.detail.samples));
//   await client.startCapture();
//   ...
//   await client.stopCapture();
//   const files = await client.signature(["png", "iso"]);
//
// Every command returns a promise. A refused command rejects with a ZELTabletError whose
// `code` is the bridge's ("busy", "no-pad", "bad-message", "too-large", "rate", "failed")
// or "closed" when the connection ended before the answer came. No build step, no
// dependencies: the file is served as it is.

const PROTOCOL_VERSION = 1;

// The signature component's defaults, so that the page's ink and signature_pad's drawing
// look like the pictures the bridge exports.
const DEFAULT_INK = {
    penColor: "#1a237e",
    minWidth: 0.5,
    maxWidth: 2.5,
    dotSize: 0,
    velocityFilterWeight: 0.7,
    compositeOperation: "source-over",
};

/** A refused command or a lost connection. */
export class ZELTabletError extends Error {
    constructor(code, message) {
        super(message || code);
        this.name = "ZELTabletError";
        this.code = code;
    }
}

/**
 * One pen sample as the bridge sends it: pen coordinates (0..65535), pressure (0 lifts the
 * pen), the side switches, the pad's time count and the milliseconds since capture start.
 */
function sampleFromWire(tuple) {
    if (!Array.isArray(tuple) || tuple.length < 6) return null;
    for (let i = 0; i < 6; i++) {
        if (typeof tuple[i] !== "number" || !Number.isFinite(tuple[i])) return null;
    }
    return {
        x: tuple[0],
        y: tuple[1],
        pressure: tuple[2],
        switches: tuple[3],
        timeCount: tuple[4],
        timeMs: tuple[5],
    };
}

/**
 * How pen coordinates land on the pad's screen, from the capabilities `info` reports
 * ({maxX, maxY, pressureLevels, screenWidth, screenHeight}). Values a pad does not report
 * sensibly fall back to the full 16-bit pen range, 4096 pressure levels and a 640 x 480
 * screen, as the signature component does.
 */
export function penSpaceOf(capabilities) {
    const c = capabilities || {};
    const within = (v, low, high) => Number.isInteger(v) && v >= low && v <= high;
    const maxX = within(c.maxX, 1, 65535) ? c.maxX : 65535;
    const maxY = within(c.maxY, 1, 65535) ? c.maxY : 65535;
    const levels = within(c.pressureLevels, 2, 65536) ? c.pressureLevels : 4096;
    const sensibleScreen = within(c.screenWidth, 1, 8192) && within(c.screenHeight, 1, 8192);
    const screenWidth = sensibleScreen ? c.screenWidth : 640;
    const screenHeight = sensibleScreen ? c.screenHeight : 480;
    return {
        maxX,
        maxY,
        maxPressure: levels - 1,
        screenWidth,
        screenHeight,
        // Pen x (0..maxX) lands on screen pixel x * screenWidth / (maxX + 1), as the pad
        // itself maps ink onto its screen.
        toScreenX: (x) => (x * screenWidth) / (maxX + 1),
        toScreenY: (y) => (y * screenHeight) / (maxY + 1),
        toPressure: (p) => Math.min(1, Math.max(0, p / (levels - 1))),
    };
}

/**
 * The samples of one capture as signature_pad's toData()/fromData() shape: one point group
 * per stroke (a run of samples with pressure), x/y in CSS pixels (screen pixels times
 * `scale`, y downward), time as milliseconds since 1970 (capture start + sample time),
 * pressure 0..1. Samples without pressure end a stroke and are not points; a capture with
 * no ink gives [].
 */
export function toSignaturePadData(samples, capabilities, captureStartUnixMs, options = {}) {
    const space = penSpaceOf(capabilities);
    const scale = options.scale > 0 ? options.scale : 1;
    const start = Number.isFinite(captureStartUnixMs) ? captureStartUnixMs : 0;
    const group = () => ({
        penColor: options.penColor || DEFAULT_INK.penColor,
        dotSize: options.dotSize ?? DEFAULT_INK.dotSize,
        minWidth: (options.minWidth ?? DEFAULT_INK.minWidth) * scale,
        maxWidth: (options.maxWidth ?? DEFAULT_INK.maxWidth) * scale,
        velocityFilterWeight: DEFAULT_INK.velocityFilterWeight,
        compositeOperation: DEFAULT_INK.compositeOperation,
        points: [],
    });
    const groups = [];
    let current = null;
    for (const s of samples) {
        if (s.pressure > 0) {
            if (!current) current = group();
            current.points.push({
                x: space.toScreenX(s.x) * scale,
                y: space.toScreenY(s.y) * scale,
                pressure: space.toPressure(s.pressure),
                time: start + s.timeMs,
            });
        } else if (current) {
            groups.push(current);
            current = null;
        }
    }
    if (current) groups.push(current);
    return groups;
}

function base64ToBytes(text) {
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
}

function defaultUrl() {
    if (typeof location === "undefined" || !location.host) {
        throw new ZELTabletError("bad-url", "no bridge address given and no page to take it from");
    }
    const scheme = location.protocol === "https:" ? "wss:" : "ws:";
    return `${scheme}//${location.host}/pad`;
}

/**
 * A connection to the bridge. Events (EventTarget):
 *   "samples"        detail { samples: [sample, ...], first }  every sample, in order, per
 *                    batch; `first` is the index of the batch's first sample in the capture
 *   "gap"            detail { expected, first }  samples expected..first-1 went missing or
 *                    could not be read (never with a sound bridge)
 *   "capture-ended"  the capture ended (stopCapture, or the pad ended it)
 *   "pad"            detail { event: "removed" }  the connected pad went away
 *   "device"         detail { event: "arrived" | "removed", productId, uid? }  a pad was
 *                    plugged in or unplugged on the bridge's computer
 *   "close"          detail { code, reason }  the connection ended
 */
export class ZELTabletClient extends EventTarget {
    constructor(socket) {
        super();
        this._socket = socket;
        this._socket.binaryType = "arraybuffer";
        this._nextId = 1;
        this._pending = new Map();    // id -> { resolve, reject, binary }
        this._binaryWaiters = [];     // replies whose binary frame comes next, in order
        this._closed = false;
        this._capabilities = null;
        this._captureStartUnixMs = null;
        this._capture = [];           // samples of the current (or last) capture
        this._nextIndex = 0;          // index the next batch's first sample should have
        this._iterators = new Set();
        socket.addEventListener("message", (event) => this._onMessage(event.data));
        socket.addEventListener("close", (event) => this._onClose(event.code, event.reason));
    }

    /** True once the connection has ended; every command then rejects with "closed". */
    get closed() {
        return this._closed;
    }

    /** The capabilities the last info() reported (null before). */
    get capabilities() {
        return this._capabilities;
    }

    /** The samples received since the last startCapture (a copy). */
    get captureSamples() {
        return this._capture.slice();
    }

    /** Capture start, milliseconds since 1970 (null before startCapture). */
    get captureStart() {
        return this._captureStartUnixMs;
    }

    list() {
        return this._request("list").then((r) => r.pads || []);
    }

    /** Takes the pad: `uid` names one from list(); without it, the first. */
    connect(uid) {
        return this._request("connect", uid === undefined ? {} : { uid });
    }

    /** Gives the pad back, so that another page may take it. */
    release() {
        return this._request("release");
    }

    async info() {
        const reply = await this._request("info");
        if (reply.capabilities) this._capabilities = reply.capabilities;
        return reply;
    }

    clear() {
        return this._request("clear");
    }

    /** Puts a picture (the bytes of a PNG, JPEG, BMP, GIF ... file) on the pad's screen. */
    showPicture(bytes) {
        const data = bytes instanceof ArrayBuffer ? new Uint8Array(bytes) : bytes;
        if (!(data instanceof Uint8Array) || data.length === 0) {
            return Promise.reject(new ZELTabletError("bad-message", "a picture needs its bytes"));
        }
        return this._request("picture", { size: data.length }, { after: data });
    }

    /** { pen: {width, colour}, backlight, clearColour, area: {x1, y1, x2, y2}, inking } */
    settings(values) {
        return this._request("settings", values || {});
    }

    async startCapture() {
        this._capture = [];
        this._nextIndex = 0;
        this._captureStartUnixMs = Date.now();
        const reply = await this._request("capture-start");
        if (Number.isFinite(reply.captureStart)) this._captureStartUnixMs = reply.captureStart;
        return reply;
    }

    stopCapture() {
        return this._request("capture-stop");
    }

    /** The pad's screen as the library last sent it, as a PNG Blob. */
    async screen() {
        const bytes = await this._request("screen", {}, { binary: true });
        return new Blob([bytes], { type: "image/png" });
    }

    /**
     * The finished signature in the given formats ("png", "svg", "iso", "json", "csv"):
     * an object from format to Blob. Rejects with "failed" when the bridge refuses (for
     * example a capture without ink).
     */
    async signature(formats = ["png", "svg", "iso", "json"]) {
        const reply = await this._request("signature", { formats });
        const types = {
            png: "image/png",
            svg: "image/svg+xml",
            iso: "application/octet-stream",
            json: "application/json",
            csv: "text/csv",
        };
        const binary = new Set(["png", "iso"]);
        const files = {};
        for (const format of formats) {
            const value = reply[format];
            if (typeof value !== "string") continue;
            const body = binary.has(format) ? base64ToBytes(value) : value;
            files[format] = new Blob([body], { type: types[format] || "application/octet-stream" });
        }
        return files;
    }

    /** The current capture as signature_pad's fromData() takes it (see toSignaturePadData). */
    toSignaturePadData(options = {}) {
        return toSignaturePadData(this._capture, this._capabilities,
                                  this._captureStartUnixMs ?? Date.now(), options);
    }

    /**
     * Every sample from now on, one at a time: `for await (const s of client.samples())`.
     * The iteration ends when the connection closes (or the loop breaks).
     */
    samples() {
        const queue = [];
        let wake = null;
        const iterator = {
            push: (sample) => {
                queue.push(sample);
                if (wake) {
                    wake();
                    wake = null;
                }
            },
            end: () => {
                iterator.ended = true;
                if (wake) {
                    wake();
                    wake = null;
                }
            },
            ended: false,
        };
        this._iterators.add(iterator);
        if (this._closed) iterator.end();
        const client = this;
        return {
            [Symbol.asyncIterator]() {
                return this;
            },
            async next() {
                while (queue.length === 0 && !iterator.ended) {
                    await new Promise((resolve) => (wake = resolve));
                }
                if (queue.length > 0) return { value: queue.shift(), done: false };
                return { value: undefined, done: true };
            },
            async return() {
                client._iterators.delete(iterator);
                iterator.end();
                return { value: undefined, done: true };
            },
        };
    }

    /** Ends the connection; the bridge then releases the pad and ends any capture. */
    close() {
        if (!this._closed) this._socket.close(1000, "closed by the page");
    }

    _request(type, fields = {}, extra = {}) {
        if (this._closed || this._socket.readyState !== WebSocket.OPEN) {
            return Promise.reject(new ZELTabletError("closed", "the connection to the bridge is closed"));
        }
        const id = this._nextId++;
        const message = Object.assign({}, fields, { v: PROTOCOL_VERSION, type, id });
        return new Promise((resolve, reject) => {
            this._pending.set(id, { resolve, reject, binary: Boolean(extra.binary) });
            this._socket.send(JSON.stringify(message));
            if (extra.after) this._socket.send(extra.after);
        });
    }

    _onMessage(data) {
        if (typeof data !== "string") {
            const waiter = this._binaryWaiters.shift();
            if (waiter) waiter.resolve(new Uint8Array(data));
            return;
        }
        let message;
        try {
            message = JSON.parse(data);
        } catch {
            return;  // the bridge sends JSON only; anything else is ignored
        }
        if (!message || typeof message !== "object") return;
        switch (message.type) {
            case "result":
            case "error":
                this._settle(message);
                break;
            case "samples":
                this._onSamples(message.samples, message.first);
                break;
            case "capture-ended":
                this.dispatchEvent(new CustomEvent("capture-ended", { detail: message }));
                break;
            case "pad":
            case "device":
                this.dispatchEvent(new CustomEvent(message.type, { detail: message }));
                break;
            default:
                break;
        }
    }

    _settle(message) {
        const request = this._pending.get(message.id);
        if (!request) return;
        this._pending.delete(message.id);
        if (message.type === "error") {
            request.reject(new ZELTabletError(message.code || "failed", message.message));
        } else if (request.binary) {
            // The binary frame follows its reply; frames arrive in the order they were sent.
            this._binaryWaiters.push(request);
        } else {
            request.resolve(message);
        }
    }

    _onSamples(wire, first) {
        if (!Array.isArray(wire)) return;
        const numbered = Number.isInteger(first);
        if (numbered && first !== this._nextIndex) this._reportGap(this._nextIndex, first);
        let index = numbered ? first : this._nextIndex;
        const samples = [];
        for (const tuple of wire) {
            const sample = sampleFromWire(tuple);
            // A sample that cannot be read is lost data: say so rather than skip it quietly.
            if (sample) samples.push(sample);
            else this._reportGap(index, index + 1);
            index++;
        }
        this._nextIndex = index;
        if (samples.length === 0) return;
        for (const sample of samples) this._capture.push(sample);
        this.dispatchEvent(new CustomEvent("samples", { detail: { samples, first } }));
        for (const iterator of this._iterators) {
            for (const sample of samples) iterator.push(sample);
        }
    }

    _reportGap(expected, first) {
        this.dispatchEvent(new CustomEvent("gap", { detail: { expected, first } }));
    }

    _onClose(code, reason) {
        if (this._closed) return;
        this._closed = true;
        const error = new ZELTabletError("closed", reason || "the connection to the bridge closed");
        for (const request of this._pending.values()) request.reject(error);
        this._pending.clear();
        for (const waiter of this._binaryWaiters) waiter.reject(error);
        this._binaryWaiters = [];
        for (const iterator of this._iterators) iterator.end();
        this._iterators.clear();
        this.dispatchEvent(new CustomEvent("close", { detail: { code, reason } }));
    }
}

/**
 * Opens a connection to the bridge (default: the /pad socket of the host that served this
 * page). Rejects with "closed" when the bridge cannot be reached or refuses this page's
 * origin.
 */
export function connect(url) {
    let target;
    try {
        target = url || defaultUrl();
    } catch (error) {
        return Promise.reject(error);
    }
    return new Promise((resolve, reject) => {
        let socket;
        try {
            socket = new WebSocket(target);
        } catch (error) {
            reject(new ZELTabletError("bad-url", String(error.message || error)));
            return;
        }
        const onOpen = () => {
            socket.removeEventListener("close", onFail);
            resolve(new ZELTabletClient(socket));
        };
        const onFail = () => {
            socket.removeEventListener("open", onOpen);
            reject(new ZELTabletError("closed", `the bridge at ${target} cannot be reached or refused this page`));
        };
        socket.addEventListener("open", onOpen, { once: true });
        socket.addEventListener("close", onFail, { once: true });
    });
}
