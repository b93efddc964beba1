// zeltablet.js without a browser: a scripted socket stands in for the bridge, so that the
// replies, refusals, binary frames, lost connections and malformed frames come exactly when
// a case needs them.  Run: node client_test.mjs PATH/TO/zeltablet.js
import assert from "node:assert/strict";
import { pathToFileURL } from "node:url";

// Node 18 has no global CustomEvent; browsers do.
globalThis.CustomEvent ??= class extends Event {
    constructor(type, options = {}) {
        super(type);
        this.detail = options.detail;
    }
};

class ScriptedSocket extends EventTarget {
    static instances = [];
    constructor(url) {
        super();
        this.url = url;
        this.readyState = 0;
        this.sent = [];
        ScriptedSocket.instances.push(this);
    }
    open() {
        this.readyState = 1;
        this.dispatchEvent(new Event("open"));
    }
    send(data) {
        this.sent.push(typeof data === "string" ? JSON.parse(data) : data);
    }
    receive(message) {
        const event = new Event("message");
        event.data = typeof message === "string" || message instanceof ArrayBuffer
            ? message
            : JSON.stringify(message);
        this.dispatchEvent(event);
    }
    close(code = 1006, reason = "") {
        this.readyState = 3;
        const event = new Event("close");
        event.code = code;
        event.reason = reason;
        this.dispatchEvent(event);
    }
    lastRequest() {
        return this.sent.filter((m) => !(m instanceof Uint8Array)).at(-1);
    }
}
ScriptedSocket.OPEN = 1;
globalThis.WebSocket = ScriptedSocket;

const module = await import(pathToFileURL(process.argv[2]).href);
const { connect, penSpaceOf, toSignaturePadData, ZELTabletError } = module;

async function openClient() {
    const pending = connect("ws://127.0.0.1:1/pad");
    const socket = ScriptedSocket.instances.at(-1);
    socket.open();
    return { client: await pending, socket };
}

const A3 = { maxX: 14999, maxY: 8499, pressureLevels: 4096, screenWidth: 480, screenHeight: 272 };
const tests = [];
const test = (name, body) => tests.push({ name, body });

// ---- The signature_pad mapping ---------------------------------------------------------

test("strokes become point groups in CSS pixels; pen-up samples split them, none is empty", () => {
    const samples = [
        { x: 0, y: 0, pressure: 0, timeMs: 0 },          // hover before the first stroke
        { x: 7500, y: 4250, pressure: 4095, timeMs: 10 },
        { x: 15000 - 1, y: 8499, pressure: 2048, timeMs: 20.5 },
        { x: 100, y: 100, pressure: 0, timeMs: 30 },
        { x: 100, y: 100, pressure: 0, timeMs: 40 },      // two pen-ups in a row
        { x: 3000, y: 1700, pressure: 1, timeMs: 50 },    // a dot, last sample still down
    ];
    const groups = toSignaturePadData(samples, A3, 1_700_000_000_000, { scale: 2 });
    assert.equal(groups.length, 2);
    assert.deepEqual(groups.map((g) => g.points.length), [2, 1]);
    const [first, last] = groups[0].points;
    assert.deepEqual(first, { x: 480, y: 272, pressure: 1, time: 1_700_000_000_010 });
    assert.ok(Math.abs(last.x - (14999 * 480 / 15000) * 2) < 1e-9);
    assert.ok(Math.abs(last.pressure - 2048 / 4095) < 1e-12);
    assert.equal(last.time, 1_700_000_000_020.5);
    assert.equal(groups[0].minWidth, 1);    // widths follow the scale
    assert.equal(groups[0].maxWidth, 5);
    assert.ok(groups.every((g) => g.points.length > 0));
});

test("a capture without ink gives no groups at all", () => {
    assert.deepEqual(toSignaturePadData([], A3, 0), []);
    assert.deepEqual(toSignaturePadData([{ x: 1, y: 1, pressure: 0, timeMs: 0 }], A3, 0), []);
});

test("capabilities a pad does not report sensibly fall back to the full pen range", () => {
    for (const bad of [null, {}, { maxX: 0, maxY: -1, pressureLevels: 1 },
        { maxX: 1e9, maxY: "8499", pressureLevels: 4096.5, screenWidth: 0, screenHeight: 272 }]) {
        const space = penSpaceOf(bad);
        assert.equal(space.maxX, 65535);
        assert.equal(space.maxY, 65535);
        assert.equal(space.maxPressure, 4095);
        assert.equal(space.screenWidth, 640);
        assert.equal(space.screenHeight, 480);
        assert.equal(space.toPressure(9999), 1);  // pressure above the range is clamped
    }
    const a3 = penSpaceOf(A3);
    assert.equal(a3.toScreenX(14999), 14999 * 480 / 15000);
    assert.equal(a3.toScreenY(0), 0);
});

// ---- Events --------------------------------------------------------------------------------

test("the connected pad leaving and pads coming and going are separate events", async () => {
    const { client, socket } = await openClient();
    const seen = [];
    client.addEventListener("pad", (e) => seen.push(["pad", e.detail.event]));
    client.addEventListener("device", (e) => seen.push(["device", e.detail.event, e.detail.uid]));
    socket.receive({ v: 1, type: "device", event: "arrived", productId: 0xa1, uid: 7 });
    socket.receive({ v: 1, type: "device", event: "removed", productId: 0xa1, uid: 7 });
    socket.receive({ v: 1, type: "pad", event: "removed" });
    assert.deepEqual(seen, [["device", "arrived", 7], ["device", "removed", 7], ["pad", "removed"]]);
});

// ---- Commands and replies ---------------------------------------------------------------

test("replies settle their own request even when they come out of order", async () => {
    const { client, socket } = await openClient();
    const list = client.list();
    const info = client.info();
    const [listRequest, infoRequest] = socket.sent;
    assert.equal(listRequest.v, 1);
    assert.equal(listRequest.type, "list");
    assert.notEqual(listRequest.id, infoRequest.id);
    socket.receive({ v: 1, type: "result", id: infoRequest.id, capabilities: A3 });
    socket.receive({ v: 1, type: "result", id: listRequest.id, pads: [{ uid: 5 }] });
    assert.deepEqual(await list, [{ uid: 5 }]);
    assert.equal((await info).capabilities.screenWidth, 480);
    assert.deepEqual(client.capabilities, A3);
});

test("a busy pad rejects with the bridge's code and message", async () => {
    const { client, socket } = await openClient();
    const taking = client.connect(0x5a000001);
    assert.equal(socket.lastRequest().uid, 0x5a000001);
    socket.receive({ v: 1, type: "error", id: socket.lastRequest().id, code: "busy",
                     message: "another page holds the pad" });
    await assert.rejects(taking, (e) => e instanceof ZELTabletError && e.code === "busy" &&
                                        e.message === "another page holds the pad");
});

test("a lost connection rejects what is waiting, later commands, and ends sample loops",
     async () => {
    const { client, socket } = await openClient();
    const waiting = client.clear();
    const screen = client.screen();
    socket.receive({ v: 1, type: "result", id: socket.sent[1].id, size: 3 });  // frame never comes
    const loop = client.samples();
    const next = loop.next();
    let closed = null;
    client.addEventListener("close", (e) => (closed = e.detail));
    socket.close(1006, "");
    await assert.rejects(waiting, (e) => e.code === "closed");
    await assert.rejects(screen, (e) => e.code === "closed");
    assert.deepEqual(await next, { value: undefined, done: true });
    await assert.rejects(client.info(), (e) => e.code === "closed");
    assert.equal(closed.code, 1006);
    assert.ok(client.closed);
});

test("a bridge that refuses the page (handshake closed) rejects connect", async () => {
    const pending = connect("ws://127.0.0.1:1/pad");
    ScriptedSocket.instances.at(-1).close(1006, "");
    await assert.rejects(pending, (e) => e.code === "closed");
});

test("binary frames go to the requests that announced them, in order", async () => {
    const { client, socket } = await openClient();
    const first = client.screen();
    const second = client.screen();
    const [a, b] = socket.sent;
    socket.receive({ v: 1, type: "result", id: a.id, size: 2 });
    socket.receive({ v: 1, type: "result", id: b.id, size: 1 });
    socket.receive(new Uint8Array([1, 2]).buffer);
    socket.receive(new Uint8Array([3]).buffer);
    assert.deepEqual([...new Uint8Array(await (await first).arrayBuffer())], [1, 2]);
    assert.deepEqual([...new Uint8Array(await (await second).arrayBuffer())], [3]);
});

test("a picture is announced with its size and followed by its bytes", async () => {
    const { client, socket } = await openClient();
    const bytes = new Uint8Array([0x89, 0x50, 0x4e, 0x47]);
    const showing = client.showPicture(bytes);
    assert.equal(socket.sent[0].type, "picture");
    assert.equal(socket.sent[0].size, 4);
    assert.equal(socket.sent[1], bytes);
    socket.receive({ v: 1, type: "result", id: socket.sent[0].id });
    await showing;
    await assert.rejects(client.showPicture(new Uint8Array(0)), (e) => e.code === "bad-message");
    await assert.rejects(client.showPicture("not bytes"), (e) => e.code === "bad-message");
    assert.equal(socket.sent.length, 2);  // refused pictures send nothing
});

test("signature formats arrive as Blobs, base64 formats decoded", async () => {
    const { client, socket } = await openClient();
    const files = client.signature(["png", "svg", "csv"]);
    socket.receive({ v: 1, type: "result", id: socket.sent[0].id,
                     png: Buffer.from([0x89, 0x50]).toString("base64"), svg: "<svg/>" });
    const result = await files;
    assert.deepEqual([...new Uint8Array(await result.png.arrayBuffer())], [0x89, 0x50]);
    assert.equal(await result.svg.text(), "<svg/>");
    assert.equal(result.png.type, "image/png");
    assert.equal(result.csv, undefined);  // a format the bridge left out is absent
});

// ---- Pen samples --------------------------------------------------------------------------

test("samples reach listeners and loops in order; unreadable samples are reported lost",
     async () => {
    const { client, socket } = await openClient();
    const starting = client.startCapture();
    socket.receive({ v: 1, type: "result", id: socket.sent[0].id });
    await starting;
    const seen = [];
    const gaps = [];
    client.addEventListener("samples", (e) => seen.push(...e.detail.samples.map((s) => s.x)));
    client.addEventListener("gap", (e) => gaps.push(e.detail));
    const loop = client.samples();
    socket.receive("not json");
    socket.receive("[1,2]");
    socket.receive({ v: 1, type: "samples", first: 0,
                     samples: [[1, 0, 5, 0, 0, 0.5], [2, 0, 5, 0, 0]] });  // the second is short
    socket.receive({ v: 1, type: "samples", first: 2, samples: "nope" });
    socket.receive({ v: 1, type: "samples", first: 2, samples: [[3, 0, 0, 0, 0, 1]] });
    socket.receive({ v: 1, type: "samples", first: 3, samples: [[4, "x", 0, 0, 0, 1]] });
    socket.receive({ v: 1, type: "result", id: 12345 });  // answers nothing we asked
    assert.deepEqual(seen, [1, 3]);
    assert.deepEqual(gaps, [{ expected: 1, first: 2 }, { expected: 3, first: 4 }]);
    assert.equal((await loop.next()).value.x, 1);
    assert.equal((await loop.next()).value.x, 3);
    await loop.return();
    assert.deepEqual(client.captureSamples.map((s) => s.x), [1, 3]);
});

test("a batch that does not follow the last one is reported as a gap", async () => {
    const { client, socket } = await openClient();
    const gaps = [];
    client.addEventListener("gap", (e) => gaps.push(e.detail));
    socket.receive({ v: 1, type: "samples", first: 0, samples: [[1, 1, 1, 0, 0, 0]] });
    socket.receive({ v: 1, type: "samples", first: 5, samples: [[2, 2, 1, 0, 0, 1]] });
    assert.deepEqual(gaps, [{ expected: 1, first: 5 }]);
});

test("a new capture starts a new sample list", async () => {
    const { client, socket } = await openClient();
    socket.receive({ v: 1, type: "samples", first: 0, samples: [[1, 1, 1, 0, 0, 0]] });
    const starting = client.startCapture();
    socket.receive({ v: 1, type: "result", id: socket.lastRequest().id });
    await starting;
    socket.receive({ v: 1, type: "samples", first: 0, samples: [[7, 7, 7, 0, 0, 0]] });
    assert.deepEqual(client.captureSamples.map((s) => s.x), [7]);
    assert.equal(client.toSignaturePadData()[0].points.length, 1);
});

test("thousands of random frames from a broken bridge never throw and never settle wrongly",
     async () => {
    // A small deterministic generator, so that a failure can be replayed.
    let seed = 0x2545f491;
    const random = () => {
        seed ^= seed << 13;
        seed ^= seed >>> 17;
        seed ^= seed << 5;
        return (seed >>> 0) / 4294967296;
    };
    const pick = (items) => items[Math.floor(random() * items.length)];
    const value = (depth) => {
        const kinds = ["number", "string", "null", "bool", "array", "object", "huge", "nan"];
        switch (pick(depth > 2 ? kinds.slice(0, 4) : kinds)) {
            case "number": return Math.floor(random() * 70000) - 1000;
            case "string": return pick(["", "x", "result", "samples", "\u0000", "9"]);
            case "null": return null;
            case "bool": return random() < 0.5;
            case "array": return Array.from({ length: Math.floor(random() * 7) }, () => value(depth + 1));
            case "huge": return 1e308 * 10;
            case "nan": return "NaN";
            default: {
                const o = {};
                for (const key of ["v", "type", "id", "code", "samples", "first", "message"]) {
                    if (random() < 0.5) o[key] = value(depth + 1);
                }
                return o;
            }
        }
    };
    const { client, socket } = await openClient();
    const pending = client.list();
    const id = socket.sent[0].id;
    let settled = false;
    pending.then(() => (settled = true), () => (settled = true));
    let delivered = 0;
    client.addEventListener("samples", (e) => (delivered += e.detail.samples.length));
    for (let i = 0; i < 5000; i++) {
        const roll = random();
        let frame;
        if (roll < 0.1) frame = new Uint8Array(Math.floor(random() * 8)).buffer;
        else if (roll < 0.2) frame = JSON.stringify(value(0)).slice(0, Math.floor(random() * 40));
        else if (roll < 0.5) {
            frame = { v: 1, type: "samples", first: pick([0, 1, -1, 2.5, "3", null]),
                      samples: value(0) };
        } else {
            frame = value(0);
            // Replies never name the waiting request: it must stay pending.
            if (frame && typeof frame === "object" && frame.id === id) frame.id = id + 1;
        }
        socket.receive(frame);
    }
    await new Promise((resolve) => setTimeout(resolve, 0));
    assert.equal(settled, false);
    assert.equal(client.captureSamples.length, delivered);
    for (const sample of client.captureSamples) {
        for (const key of ["x", "y", "pressure", "switches", "timeCount", "timeMs"]) {
            assert.ok(Number.isFinite(sample[key]), `sample ${key} is a finite number`);
        }
    }
    socket.receive({ v: 1, type: "result", id, pads: [] });
    assert.deepEqual(await pending, []);
});

let failed = 0;
for (const { name, body } of tests) {
    try {
        await body();
        console.log(`ok    ${name}`);
    } catch (error) {
        failed++;
        console.log(`FAIL  ${name}\n${error.stack}`);
    }
}
console.log(`${tests.length - failed}/${tests.length} passed`);
process.exit(failed ? 1 : 0);
