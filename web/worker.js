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
// The files of every input cut so far, by the page's id, for a listing
// asked for later.
const kept = new Map();

self.zefacutProgress = (text) => {
  if (self.currentId !== undefined) {
    self.postMessage({ type: "progress", id: self.currentId, text: text.replace(/\n$/, "") });
  }
};

// The run's events as they happen: how far it has come, for the page's
// progress line.
self.zefacutEvent = (json) => {
  if (self.currentId === undefined) {
    return;
  }
  let event;
  try {
    event = JSON.parse(json);
  } catch (error) {
    return;
  }
  if (event.event === "progress") {
    self.postMessage({ type: "progress", id: self.currentId, text: `${event.done} of ${event.total} ${event.unit}` });
  } else if (event.event === "started" && event.member !== "") {
    self.postMessage({ type: "progress", id: self.currentId, text: event.name });
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

// Bytes handed to the core for one call, freed after it.
function withBytes(bytes, call) {
  const data = core._malloc(Math.max(bytes.length, 1));
  try {
    core.HEAPU8.set(bytes, data);
    return call(data);
  } finally {
    core._free(data);
  }
}

function withText(text, call) {
  const size = core.lengthBytesUTF8(text) + 1;
  const at = core._malloc(size);
  try {
    core.stringToUTF8(text, at, size);
    return call(at);
  } finally {
    core._free(at);
  }
}

// Hands the files of an input to the core for its next call.
function addFiles(files) {
  for (const file of files) {
    withBytes(file.bytes, (data) => withText(file.name, (namePtr) => core._zc_add_file(namePtr, data, file.bytes.length)));
  }
}

// One run over an input of one or more named files: 0 cut, 1 plan, 2
// listing.
function runInput(mode, name, files) {
  addFiles(files);
  // Its status is the command line's; the page tells it in words instead.
  withText(name, (namePtr) => core._zc_run_input(mode, namePtr));
  const json = core._zc_json_size() > 0 ? core.UTF8ToString(core._zc_json_text(), core._zc_json_size()) : "";
  return { lines: readLines(), files: mode === 0 ? readFiles() : [], json };
}

// The map of every disk of the input the last run cut, drawn from what the
// run read.
function lastMap() {
  const at = core._zc_run_map();
  return at ? core.UTF8ToString(at, core._zc_map_svg_size()) : "";
}

async function handle(message) {
  const id = message.id;
  self.currentId = id;
  try {
    if (message.type === "cut") {
      const files = [];
      for (const { path, file } of message.files) {
        files.push({ name: path, bytes: new Uint8Array(await file.arrayBuffer()) });
      }
      kept.set(id, { name: message.name, files });
      const begun = performance.now();
      // One run: its events say what was found and where each file came
      // from.
      const cut = runInput(0, message.name, files);
      let events = [];
      try {
        events = JSON.parse(cut.json).events || [];
      } catch (error) {
        events = [];
      }
      const result = { lines: cut.lines, files: cut.files, events, map: lastMap() };
      const ms = performance.now() - begun;
      self.postMessage(Object.assign({ type: "result", id, name: message.name, ms }, result),
        result.files.map((file) => file.bytes.buffer));
    } else if (message.type === "list") {
      const input = kept.get(id);
      const listing = input ? runInput(2, input.name, input.files) : { lines: [] };
      self.postMessage({ type: "listing", id, lines: listing.lines });
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
