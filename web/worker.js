// The page's worker: holds the tool's WebAssembly core (ZefacutCore, put
// before this script when the page is made) and runs it on the files the page
// hands over, so that the page never waits on a run.
"use strict";

const started = performance.now();
// The module is inside this script: the core reads it from there, not
// through fetch, which the worker never needs (the page allows it no
// connection at all).
self.fetch = undefined;
let core = null;
const pending = [];
// The bytes of every file cut so far, by the page's id, for a listing asked
// for later.
const kept = new Map();

self.zefacutProgress = (text) => {
  if (self.currentId !== undefined) {
    self.postMessage({ type: "progress", id: self.currentId, text: text.replace(/\n$/, "") });
  }
};

function readLines() {
  const lines = [];
  const count = core._zc_line_count();
  for (let i = 0; i < count; ++i) {
    const text = core.UTF8ToString(core._zc_line_text(i), core._zc_line_size(i));
    lines.push({ err: core._zc_line_channel(i) === 1, text: text.replace(/\n$/, "") });
  }
  return lines;
}

function readFiles() {
  const files = [];
  const count = core._zc_file_count();
  for (let i = 0; i < count; ++i) {
    const size = core._zc_file_size(i);
    const at = core._zc_file_data(i);
    files.push({
      path: core.UTF8ToString(core._zc_file_path(i)),
      bytes: core.HEAPU8.slice(at, at + size),
    });
  }
  return files;
}

// One run of the core over bytes: 0 cut, 1 plan (what would be written), 2
// d88info's listing.
function run(mode, name, bytes) {
  const data = core._malloc(Math.max(bytes.length, 1));
  const nameSize = core.lengthBytesUTF8(name) + 1;
  const namePtr = core._malloc(nameSize);
  try {
    core.HEAPU8.set(bytes, data);
    core.stringToUTF8(name, namePtr, nameSize);
    const status = core._zc_run(mode, namePtr, data, bytes.length);
    return { status, lines: readLines(), files: mode === 0 ? readFiles() : [] };
  } finally {
    core._free(data);
    core._free(namePtr);
  }
}

async function handle(message) {
  const id = message.id;
  self.currentId = id;
  try {
    if (message.type === "cut") {
      const bytes = new Uint8Array(await message.file.arrayBuffer());
      kept.set(id, { name: message.file.name, bytes });
      const begun = performance.now();
      const plan = run(1, message.file.name, bytes);
      const cut = run(0, message.file.name, bytes);
      // The map of every disk of the input the cut read.
      const at = core._zc_map_svg(0, 0, 0);
      const map = at ? core.UTF8ToString(at, core._zc_map_svg_size()) : "";
      const ms = performance.now() - begun;
      const transfer = cut.files.map((file) => file.bytes.buffer);
      self.postMessage(
        { type: "result", id, name: message.file.name, size: bytes.length, plan: plan.lines,
          status: cut.status, lines: cut.lines, files: cut.files, map, ms },
        transfer);
    } else if (message.type === "list") {
      const file = kept.get(id);
      const listing = file ? run(2, file.name, file.bytes) : { status: 1, lines: [] };
      self.postMessage({ type: "listing", id, status: listing.status, lines: listing.lines });
    } else if (message.type === "forget") {
      kept.delete(id);
    }
  } catch (error) {
    self.postMessage({ type: "failed", id, text: String(error && error.message || error) });
  } finally {
    self.currentId = undefined;
  }
}

// Messages are handled one at a time, in order: the core runs one call at a
// time.
let queue = Promise.resolve();
self.onmessage = (event) => {
  if (core === null) {
    pending.push(event.data);
    return;
  }
  queue = queue.then(() => handle(event.data));
};

ZefacutCore().then((module) => {
  core = module;
  self.postMessage({
    type: "ready",
    archives: core._zc_reads_archives() === 1,
    ms: performance.now() - started,
  });
  for (const message of pending.splice(0)) {
    queue = queue.then(() => handle(message));
  }
});
