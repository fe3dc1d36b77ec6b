// The page: hands dropped files to the worker, shows each run's lines in the
// tool's words with its files to download, and packs them all in one ZIP.
"use strict";

const opened = performance.now();
const timings = { readyMs: null, runs: [] };
window.zefacutTimings = timings;

const $ = (id) => document.getElementById(id);
const state = $("state");
const progress = $("progress");
const results = $("results");
const zipButton = $("zip");
const clearButton = $("clear");

const workerSource = $("worker-source").textContent;
const worker = new Worker(URL.createObjectURL(new Blob([workerSource], { type: "text/javascript" })));

// Every file cut so far, in order: { path, bytes }.
let allFiles = [];
const waiting = new Map();
let nextId = 1;
let progressTimer = null;

const kVerdicts = {
  0: ["clean", "clean (exit status 0)"],
  2: ["warnings", "warnings (exit status 2)"],
  1: ["errors", "errors (exit status 1)"],
};

function element(tag, attributes, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes || {})) {
    if (key === "class") {
      node.className = value;
    } else {
      node.setAttribute(key, value);
    }
  }
  for (const child of children) {
    node.append(child);
  }
  return node;
}

function verdictBadge(status) {
  const [kind, words] = kVerdicts[status] || kVerdicts[1];
  return element("span", { class: "verdict " + kind, "data-status": String(status) }, words);
}

function linesBlock(lines) {
  const pre = element("pre", { class: "lines" });
  for (const line of lines) {
    const kind = !line.err ? "out" : /^error:/.test(line.text) ? "err" : /^warning:/.test(line.text) ? "warn" : "note";
    pre.append(element("span", { class: kind, "data-channel": line.err ? "err" : "out" }, line.text));
  }
  return pre;
}

function download(name, bytes, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type: type || "application/octet-stream" }));
  const link = element("a", { href: url, download: name });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

function lastPart(path) {
  return path.slice(path.lastIndexOf("/") + 1);
}

// The lines of a run split by image: an archive's run says "reading ...
// ARCHIVE/MEMBER" before each member's lines. Lines before the first belong
// to the input as a whole.
function splitByImage(lines, name) {
  const parts = [{ name, lines: [] }];
  for (const line of lines) {
    const reading = !line.err && /^reading \.\.\. (.*)$/.exec(line.text);
    if (reading) {
      parts.push({ name: reading[1], lines: [line] });
    } else {
      parts[parts.length - 1].lines.push(line);
    }
  }
  if (parts.length > 1 && parts[0].lines.length === 0) {
    parts.shift();
  }
  return parts;
}

function partStatus(lines) {
  if (lines.some((line) => line.err && /^error:/.test(line.text))) {
    return 1;
  }
  return lines.some((line) => line.err && /^warning:/.test(line.text)) ? 2 : 0;
}

// A path made unique among the files already kept, as a second drop of an
// image of the same name would otherwise replace the first one's files.
function uniquePath(path) {
  const taken = new Set(allFiles.map((file) => file.path));
  if (!taken.has(path)) {
    return path;
  }
  const slash = path.indexOf("/");
  const folder = slash < 0 ? "" : path.slice(0, slash);
  const rest = slash < 0 ? path : path.slice(slash + 1);
  for (let copy = 2; ; ++copy) {
    const candidate = folder ? `${folder} (${copy})/${rest}` : `${rest} (${copy})`;
    if (!taken.has(candidate)) {
      return candidate;
    }
  }
}

function showResult(message, entry) {
  const section = entry.section;
  section.querySelector(".pending").remove();
  section.querySelector("h2").append(verdictBadge(message.status));
  section.dataset.status = String(message.status);

  // Where each file comes from, in the tool's words: "would write PATH: N
  // bytes from SECTOR".
  const planned = new Map();
  for (const line of message.plan) {
    const would = !line.err && /^would write (.*): (\d+) bytes from (.*)$/.exec(line.text);
    if (would) {
      planned.set(would[1], { size: Number(would[2]), from: would[3] });
    }
  }
  const files = new Map(message.files.map((file) => [file.path, file]));
  const kept = new Map();
  for (const file of message.files) {
    const path = uniquePath(file.path);
    kept.set(file.path, path);
    allFiles.push({ path, bytes: file.bytes });
  }

  const planParts = splitByImage(message.plan, message.name);
  const parts = splitByImage(message.lines, message.name);
  parts.forEach((part, index) => {
    const block = element("div", { class: "part" });
    if (parts.length > 1) {
      block.append(element("h3", {}, part.name, verdictBadge(partStatus(part.lines))));
    }
    block.append(linesBlock(part.lines));
    // The files of this image: the plan's lines of the same image name them.
    const planPart = planParts.find((candidate) => candidate.name === part.name) || planParts[index];
    const paths = [];
    for (const line of planPart ? planPart.lines : []) {
      const would = !line.err && /^would write (.*): \d+ bytes from/.exec(line.text);
      if (would && files.has(would[1]) && !paths.includes(would[1])) {
        paths.push(would[1]);
      }
    }
    if (paths.length > 0) {
      const body = element("tbody");
      let folder = null;
      for (const path of paths) {
        // Each disk's files under the name of its folder in the zip.
        const inFolder = path.slice(0, Math.max(path.lastIndexOf("/"), 0));
        if (inFolder !== folder) {
          folder = inFolder;
          body.append(element("tr", { class: "folder" },
            element("th", { colspan: "4", scope: "rowgroup", class: "mono" }, (kept.get(path) || path).replace(/\/[^/]*$/, "/"))));
        }
        const file = files.get(path);
        const plan = planned.get(path) || { from: "" };
        const name = lastPart(path);
        const button = element("button", { type: "button", "aria-label": `Download ${name} from ${path.slice(0, path.length - name.length - 1)}` }, "Download");
        button.addEventListener("click", () => download(name, file.bytes));
        body.append(element("tr", { "data-path": kept.get(path) },
          element("td", { class: "mono" }, name),
          element("td", { class: "size" }, `${file.bytes.length} bytes`),
          element("td", {}, plan.from),
          element("td", {}, button)));
      }
      block.append(element("table", {},
        element("caption", { class: "mono" }, paths.length === 1 ? "1 file" : `${paths.length} files`),
        element("thead", {}, element("tr", {}, element("th", { scope: "col" }, "File"),
          element("th", { scope: "col" }, "Size"), element("th", { scope: "col" }, "Cut from"),
          element("th", { scope: "col" }, "Save"))),
        body));
    }
    section.append(block);
  });

  const listButton = element("button", { type: "button", class: "list" }, "Show d88info listing");
  const listing = element("pre", { class: "listing", hidden: "" });
  listButton.addEventListener("click", () => {
    if (!listing.hidden) {
      listing.hidden = true;
      listButton.textContent = "Show d88info listing";
      return;
    }
    if (listing.childNodes.length > 0) {
      listing.hidden = false;
      listButton.textContent = "Hide d88info listing";
      return;
    }
    listButton.disabled = true;
    ask({ type: "list", id: entry.id }, (answer) => {
      listButton.disabled = false;
      listing.append(linesBlock(answer.lines));
      listing.hidden = false;
      listButton.textContent = "Hide d88info listing";
    });
  });
  section.append(element("div", { class: "actions" }, listButton), listing);
  zipButton.disabled = allFiles.length === 0;
  clearButton.disabled = false;
}

function ask(message, answer) {
  waiting.set(message.id + ":" + message.type, answer);
  worker.postMessage(message);
}

function busy(count) {
  if (count === 0) {
    clearTimeout(progressTimer);
    progressTimer = null;
    progress.hidden = true;
    return;
  }
  // A bar only for a wait long enough to notice.
  if (progressTimer === null && progress.hidden) {
    progressTimer = setTimeout(() => {
      progress.hidden = false;
    }, 500);
  }
}

let running = 0;
let total = 0;
let done = 0;

function cutFiles(fileList) {
  const files = Array.from(fileList);
  if (files.length === 0) {
    return;
  }
  total += files.length;
  for (const file of files) {
    const id = nextId++;
    const section = element("section", { class: "image", "data-name": file.name, "data-id": String(id) },
      element("h2", {}, file.name),
      element("p", { class: "pending" }, "Waiting…"));
    results.append(section);
    const entry = { id, section, begun: performance.now() };
    running += 1;
    busy(running);
    updateProgress();
    ask({ type: "cut", id, file }, (message) => {
      running -= 1;
      done += 1;
      timings.runs.push({ name: file.name, coreMs: message.ms, pageMs: performance.now() - entry.begun });
      if (message.type === "failed") {
        section.querySelector(".pending").textContent = "The page could not run on this file: " + message.text;
      } else {
        showResult(message, entry);
      }
      busy(running);
      updateProgress();
    });
  }
}

function updateProgress(text) {
  progress.max = total || 1;
  progress.value = done;
  if (running > 0) {
    state.textContent = `Reading ${done + 1} of ${total}…` + (text ? " " + text : "");
  } else if (total > 0) {
    const count = allFiles.length;
    state.textContent = `Done: ${total === 1 ? "1 input" : total + " inputs"}, ${count === 1 ? "1 file" : count + " files"} cut.`;
  }
}

worker.onmessage = (event) => {
  const message = event.data;
  if (message.type === "ready") {
    timings.readyMs = performance.now() - opened;
    timings.coreReadyMs = message.ms;
    document.body.dataset.ready = "true";
    if (!message.archives) {
      $("archive-note").textContent = "no archives in this build";
    }
    state.textContent = "Ready.";
    return;
  }
  if (message.type === "progress") {
    updateProgress(message.text);
    return;
  }
  const kind = message.type === "listing" ? "list" : "cut";
  const answer = waiting.get(message.id + ":" + kind);
  if (answer) {
    waiting.delete(message.id + ":" + kind);
    answer(message);
  }
};

worker.onerror = (event) => {
  state.textContent = "The page's worker stopped: " + (event.message || "unknown error");
};

// A ZIP of stored files, the per-disk folders in its names (UTF-8).
const crcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) {
      c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    }
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes) {
  let crc = 0xFFFFFFFF;
  for (let i = 0; i < bytes.length; ++i) {
    crc = crcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >>> 8);
  }
  return (crc ^ 0xFFFFFFFF) >>> 0;
}

function makeZip(files) {
  const encoder = new TextEncoder();
  const now = new Date();
  const time = (now.getHours() << 11) | (now.getMinutes() << 5) | (now.getSeconds() >> 1);
  const date = ((now.getFullYear() - 1980) << 9) | ((now.getMonth() + 1) << 5) | now.getDate();
  const chunks = [];
  const central = [];
  let offset = 0;
  for (const file of files) {
    const name = encoder.encode(file.path);
    const crc = crc32(file.bytes);
    const local = new DataView(new ArrayBuffer(30));
    local.setUint32(0, 0x04034B50, true);
    local.setUint16(4, 20, true);
    local.setUint16(6, 0x0800, true);  // names in UTF-8
    local.setUint16(8, 0, true);  // stored
    local.setUint16(10, time, true);
    local.setUint16(12, date, true);
    local.setUint32(14, crc, true);
    local.setUint32(18, file.bytes.length, true);
    local.setUint32(22, file.bytes.length, true);
    local.setUint16(26, name.length, true);
    chunks.push(local, name, file.bytes);
    const entry = new DataView(new ArrayBuffer(46));
    entry.setUint32(0, 0x02014B50, true);
    entry.setUint16(4, 20, true);
    entry.setUint16(6, 20, true);
    entry.setUint16(8, 0x0800, true);
    entry.setUint16(10, 0, true);
    entry.setUint16(12, time, true);
    entry.setUint16(14, date, true);
    entry.setUint32(16, crc, true);
    entry.setUint32(20, file.bytes.length, true);
    entry.setUint32(24, file.bytes.length, true);
    entry.setUint16(28, name.length, true);
    entry.setUint32(42, offset, true);
    central.push(entry, name);
    offset += 30 + name.length + file.bytes.length;
  }
  const centralSize = central.reduce((sum, part) => sum + part.byteLength, 0);
  const end = new DataView(new ArrayBuffer(22));
  end.setUint32(0, 0x06054B50, true);
  end.setUint16(8, files.length, true);
  end.setUint16(10, files.length, true);
  end.setUint32(12, centralSize, true);
  end.setUint32(16, offset, true);
  return new Blob([...chunks, ...central, end], { type: "application/zip" });
}
window.zefacutZip = () => makeZip(allFiles);

zipButton.addEventListener("click", () => {
  download("zefacut-files.zip", makeZip(allFiles), "application/zip");
});

clearButton.addEventListener("click", () => {
  for (const section of results.querySelectorAll("section")) {
    worker.postMessage({ type: "forget", id: Number(section.dataset.id) });
    section.remove();
  }
  allFiles = [];
  total = 0;
  done = 0;
  zipButton.disabled = true;
  clearButton.disabled = true;
  state.textContent = "Ready.";
});

// A KryoFlux dump is a set of files, trackCC.H.raw, that the tool reads as
// one disk: the files of one folder. Those dropped or chosen together are
// handed to the core together, stored in one archive as it reads a dump's
// folder from one, named after their folder.
const kStreamName = /^track\d{2,}\.[01]\.raw$/i;

async function cutInputs(entries) {
  const plain = [];
  const dumps = new Map();
  for (const { file, folder } of entries) {
    if (kStreamName.test(file.name)) {
      if (!dumps.has(folder)) {
        dumps.set(folder, []);
      }
      dumps.get(folder).push(file);
    } else {
      plain.push(file);
    }
  }
  for (const [folder, files] of dumps) {
    if (files.length === 1) {
      plain.push(files[0]);
      continue;
    }
    files.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
    const members = [];
    for (const file of files) {
      members.push({ path: file.name, bytes: new Uint8Array(await file.arrayBuffer()) });
    }
    plain.push(new File([makeZip(members)], folder || "KryoFlux dump"));
  }
  cutFiles(plain);
}

// The files under a dropped folder, each with the name of the folder it lies
// in.
async function filesOfEntry(entry, into) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    const parts = entry.fullPath.split("/").filter((part) => part !== "");
    into.push({ file, folder: parts.length > 1 ? parts[parts.length - 2] : "" });
    return;
  }
  const reader = entry.createReader();
  for (;;) {
    const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
    if (batch.length === 0) {
      return;
    }
    for (const child of batch) {
      await filesOfEntry(child, into);
    }
  }
}

const input = $("files");
input.addEventListener("change", () => {
  cutInputs(Array.from(input.files, (file) => ({ file, folder: "" })));
  input.value = "";
});

const drop = $("drop");
drop.addEventListener("keydown", (event) => {
  if (event.key === "Enter" || event.key === " ") {
    event.preventDefault();
    input.click();
  }
});
for (const name of ["dragenter", "dragover"]) {
  drop.addEventListener(name, (event) => {
    event.preventDefault();
    drop.classList.add("over");
  });
}
drop.addEventListener("dragleave", () => drop.classList.remove("over"));
drop.addEventListener("drop", (event) => {
  event.preventDefault();
  drop.classList.remove("over");
  const items = Array.from(event.dataTransfer.items || []);
  const entries = items.map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null));
  if (entries.length === 0 || entries.some((entry) => entry === null)) {
    cutInputs(Array.from(event.dataTransfer.files, (file) => ({ file, folder: "" })));
    return;
  }
  // The entries are read now: the drop's items are gone once it returns.
  (async () => {
    const found = [];
    for (const entry of entries) {
      await filesOfEntry(entry, found);
    }
    cutInputs(found);
  })().catch((error) => {
    state.textContent = "The dropped folder could not be read: " + error;
  });
});
// A file dropped beside the zone is not opened by the browser instead.
window.addEventListener("dragover", (event) => event.preventDefault());
window.addEventListener("drop", (event) => event.preventDefault());
