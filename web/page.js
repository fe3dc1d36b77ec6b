// The page: hands dropped files to the worker, tells for each input in words
// what was found, with its files to download and the tool's own lines for
// those who want them, and packs the files and a report in one ZIP.
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
// What each input's run told, in order, for the report in the zip.
let reports = [];
// The report's two files, at the top of the zip, beside the disks' folders.
const kReportLines = "zefacut report.txt";
const kReportEvents = "zefacut report.json";
const waiting = new Map();
let nextId = 1;
let progressTimer = null;

// The marks beside a verdict, for those who read no colour.
const kVerdictMarks = { good: "✓", doubt: "!", bad: "✗", none: "–" };

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

function verdictLine(verdict, tag) {
  return element(tag || "p", { class: "verdict " + verdict.kind, "data-verdict": verdict.kind },
    element("span", { class: "verdict-mark", "aria-hidden": "true" }, kVerdictMarks[verdict.kind] || ""),
    element("span", { class: "verdict-words" }, verdict.words));
}

function linesBlock(lines) {
  const pre = element("pre", { class: "lines" });
  for (const line of lines) {
    const kind = !line.err ? "out" : /^error:/.test(line.text) ? "err" : /^warning:/.test(line.text) ? "warn" : "note";
    pre.append(element("span", { class: kind, "data-channel": line.err ? "err" : "out" }, line.text));
  }
  return pre;
}

// A count with its thousands apart, as the tool writes them, kept on one
// line.
function grouped(value) {
  return String(value).replace(/\B(?=(\d{3})+(?!\d))/g, ",");
}

function download(name, bytes, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type: type || "application/octet-stream" }));
  const link = element("a", { href: url, download: name });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
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

// The map the core draws of every disk of an input, as one SVG, cut into a
// picture per disk and a key. Its cells are told apart here by the words
// each carries ("track 12, C6 H0 R6 N3: data CRC error; file FMSE"), so that
// the page can point at the sectors a file came from or a note names.
const kSvg = "http://www.w3.org/2000/svg";
let mapStyleAdded = false;

// The map's own style, kept to the maps: its class names are short words
// that the page's own elements use too.
function scopeMapStyle(text) {
  let scoped = "";
  let from = 0;
  const braces = /[{}]/g;
  for (let found; (found = braces.exec(text)) !== null;) {
    const chunk = text.slice(from, found.index);
    if (found[0] === "{" && !chunk.trim().startsWith("@")) {
      scoped += chunk.split(",").map((selector) => "svg.disk-map " + selector.trim()).join(", ") + " {";
    } else {
      scoped += chunk + found[0];
    }
    from = found.index + 1;
  }
  return scoped + text.slice(from);
}

function mapPicture(nodes, box, label) {
  const pad = 4;
  const svg = document.createElementNS(kSvg, "svg");
  const x = Math.floor(box.x - pad);
  const y = Math.floor(box.y - pad);
  const width = Math.ceil(box.width + 2 * pad);
  const height = Math.ceil(box.height + 2 * pad);
  svg.setAttribute("viewBox", `${x} ${y} ${width} ${height}`);
  svg.setAttribute("width", String(width));
  svg.setAttribute("class", "disk-map");
  svg.setAttribute("role", "img");
  svg.setAttribute("aria-label", label);
  const back = document.createElementNS(kSvg, "rect");
  for (const [key, value] of [["x", x], ["y", y], ["width", width], ["height", height], ["class", "bg"]]) {
    back.setAttribute(key, String(value));
  }
  svg.append(back, ...nodes);
  return svg;
}

// { key, disks: [svg] }, the disks in the order the run read them; null
// when the input gave no map.
function splitMap(text) {
  if (!text) {
    return null;
  }
  const parsed = new DOMParser().parseFromString(text, "image/svg+xml").documentElement;
  if (parsed.namespaceURI !== kSvg || parsed.localName !== "svg") {
    return null;
  }
  const style = parsed.querySelector("style");
  if (style && !mapStyleAdded) {
    document.head.append(element("style", {}, scopeMapStyle(style.textContent)));
    mapStyleAdded = true;
  }
  // Measured in place, out of sight.
  const whole = document.importNode(parsed, true);
  whole.querySelector("style")?.remove();
  whole.setAttribute("class", "disk-map");
  const holder = element("div", { class: "map-measure", "aria-hidden": "true" });
  holder.append(whole);
  document.body.append(holder);
  try {
    const groups = Array.from(whole.children).filter((node) => node.localName === "g" && node.getAttribute("role") === "group");
    for (const group of groups) {
      for (const cell of group.querySelectorAll("g")) {
        const words = cell.querySelector("title")?.textContent || "";
        const found = /^track (\d+), C(\d+) H(\d+) R(\d+) N(\d+): (.*)$/.exec(words);
        if (!found) {
          continue;
        }
        cell.classList.add("map-cell");
        cell.dataset.track = found[1];
        cell.dataset.sector = `${found[2]} ${found[3]} ${found[4]} ${found[5]}`;
        cell.dataset.files = found[6].split("; ").filter((words) => words.startsWith("file ")).map((words) => words.slice(5)).join(" ");
        cell.dataset.state = cell.querySelector("rect.cell")?.getAttribute("class").replace(/^cell\s*/, "") || "";
      }
    }
    const boxes = groups.map((group) => group.getBBox());
    const top = boxes.length > 0 ? boxes[0].y : whole.viewBox.baseVal.height;
    const keyNodes = Array.from(whole.children).filter((node) =>
      !groups.includes(node) && !["title", "desc"].includes(node.localName) && !node.classList.contains("bg"));
    const key = mapPicture(keyNodes, { x: 0, y: 0, width: whole.viewBox.baseVal.width, height: top - 4 }, "Key to the map");
    return { key, disks: groups.map((group, index) => mapPicture([group], boxes[index], group.getAttribute("aria-label") || "")) };
  } finally {
    holder.remove();
  }
}

// Marks on a disk's map the sectors that the notes of its files name.
function markNamedSectors(picture, disk) {
  for (const file of disk.files) {
    for (const note of file.notes) {
      for (const named of note.matchAll(/sector (\d+ \d+ \d+ \d+) of track (\d+)/g)) {
        for (const cell of picture.querySelectorAll(`g.map-cell[data-track="${named[2]}"][data-sector="${named[1]}"]`)) {
          cell.classList.add("named");
        }
      }
    }
  }
}

// A file's row lights its sectors on its disk's map, once drawn, while
// pointed at or focused.
function linkRowToMap(row, frame, name) {
  const light = (on) => {
    for (const cell of frame.querySelectorAll("g.map-cell")) {
      if (cell.dataset.files.split(" ").includes(name)) {
        cell.classList.toggle("lit", on);
      }
    }
  };
  row.addEventListener("mouseenter", () => light(true));
  row.addEventListener("mouseleave", () => light(false));
  row.addEventListener("focusin", () => light(true));
  row.addEventListener("focusout", () => light(false));
}

// An input's map, cut into pictures only when one is first shown: an input
// of many disks shows their maps folded.
function lazyMap(text) {
  let split;
  const get = () => {
    if (split === undefined) {
      split = splitMap(text);
    }
    return split;
  };
  return {
    count: text ? (text.match(/<g role="group"/g) || []).length : 0,
    picture: (index) => (get() ? get().disks[index] || null : null),
    key: () => (get() ? get().key : null),
  };
}

// A folded map: its picture drawn when it is first unfolded, or at once
// when it starts unfolded.
function mapDetails(summary, open, draw) {
  const frame = element("div", { class: "map-frame" });
  const details = element("details", open ? { class: "map", open: "" } : { class: "map" },
    element("summary", {}, summary), frame);
  let drawn = false;
  const fill = () => {
    if (drawn) {
      return;
    }
    drawn = true;
    const picture = draw();
    if (picture) {
      frame.append(picture);
    }
  };
  details.addEventListener("toggle", () => {
    if (details.open) {
      fill();
    }
  });
  return { details, frame, fill };
}

// The table of a disk's files: a mark on each file a note concerns, with
// the notes beside its name.
function filesTable(disk, kept, files) {
  const body = element("tbody");
  for (const file of disk.files) {
    const path = kept.get(file.path);
    const bytes = files.get(file.path);
    const noted = file.notes.length > 0;
    const nameCell = element("td", { class: "name" }, element("span", { class: "file-name mono" }, file.name));
    if (noted) {
      const notes = element("ul", { class: "notes" });
      for (const note of file.notes) {
        notes.append(element("li", {}, note));
      }
      nameCell.append(notes);
    }
    let save = "";
    if (bytes && path) {
      save = element("button", { type: "button", "aria-label": `Download ${file.name} of ${lastPart(path.slice(0, path.length - file.name.length - 1))}` }, "Download");
      save.addEventListener("click", () => download(file.name, bytes.bytes));
    }
    const row = element("tr", { class: noted ? (file.written ? "noted doubt" : "noted bad") : "", "data-file": file.name },
      element("td", { class: "mark" }, noted
        ? element("span", { class: "file-mark", role: "img", "aria-label": file.written ? "doubtful" : "not read", title: file.notes.join("\n") }, file.written ? "!" : "✗")
        : ""),
      nameCell,
      element("td", { class: "size" }, bytes ? element("span", { class: "num", "data-bytes": String(bytes.bytes.length) }, `${grouped(bytes.bytes.length)} bytes`) : "not read"),
      element("td", { class: "from" }, file.from ? element("span", { class: "num" }, file.from) : ""),
      element("td", { class: "save" }, save));
    if (path) {
      row.dataset.path = path;
    }
    body.append(row);
  }
  return element("table", { class: "files" },
    element("caption", {}, disk.files.length === 1 ? "1 file" : `${disk.files.length} files`),
    element("thead", {}, element("tr", {},
      element("th", { scope: "col", class: "mark" }, element("span", { class: "visually-hidden" }, "Note")),
      element("th", { scope: "col" }, "File"), element("th", { scope: "col", class: "size" }, "Size"),
      element("th", { scope: "col", class: "from" }, "Cut from"), element("th", { scope: "col", class: "save" }, element("span", { class: "visually-hidden" }, "Save")))),
    body);
}

// One image of an input: its notes, then each disk with its files and its
// map; `next` counts the disks of the input's map.
function imageBlock(image, several, kept, files, map, next) {
  const block = element("div", { class: "part", "data-image": image.name });
  if (several) {
    block.append(element("h3", { class: "mono" }, image.name), verdictLine(imageVerdict(image)));
  }
  // An image without disks is told by its verdict; the tool's lines hold
  // the rest.
  const notes = image.disks.length > 0 ? image.notes.concat(image.errors) : [];
  if (notes.length > 0) {
    const list = element("ul", { class: "image-notes" });
    for (const note of notes) {
      list.append(element("li", { class: note.severity }, note.text));
    }
    block.append(list);
  }
  const fills = [];
  image.disks.forEach((disk, index) => {
    const number = image.disks.length > 1 ? `disk ${index + 1} of ${image.disks.length}` : "";
    const at = next.disk++;
    const hasMap = at < map.count;
    if (!disk.known) {
      // A run of unknown disks reads as one line each, without a heading.
      if (number) {
        block.append(element("p", { class: "disk unknown" },
          `${number[0].toUpperCase() + number.slice(1)}: none of the disks this tool knows`));
      }
      if (hasMap) {
        block.append(mapDetails("Map of this disk", false, () => map.picture(at)).details);
      }
      return;
    }
    const section = element("div", { class: "disk", "data-disk": String(index + 1) },
      element("h4", {}, `${disk.title} ${disk.disk}`, number ? element("span", { class: "disk-number" }, ` (${number})`) : ""));
    // Unfolded at once where a few disks leave room, or where a note points
    // at a sector.
    const open = image.disks.length <= 2 || disk.files.some((file) => file.notes.length > 0);
    const shown = hasMap ? mapDetails("Map of this disk", open, () => {
      const picture = map.picture(at);
      if (picture) {
        markNamedSectors(picture, disk);
      }
      return picture;
    }) : null;
    if (disk.files.length > 0) {
      const table = filesTable(disk, kept, files);
      if (shown) {
        for (const row of table.querySelectorAll("tbody tr")) {
          linkRowToMap(row, shown.frame, row.dataset.file);
        }
      }
      section.append(table);
    } else {
      section.append(element("p", { class: "no-files" }, "No music or driver files on this disk."));
    }
    if (shown) {
      section.append(shown.details);
      if (open) {
        fills.push(shown.fill);
      }
    }
    block.append(section);
  });
  block.fills = fills;
  return block;
}

function showResult(message, entry) {
  const section = entry.section;
  section.querySelector(".pending").remove();

  const input = inputFromEvents(message.name, message.events);
  const verdict = inputVerdict(input);
  section.dataset.verdict = verdict.kind;
  section.append(verdictLine(verdict));

  const files = new Map(message.files.map((file) => [file.path, file]));
  const kept = new Map();
  for (const file of message.files) {
    const path = uniquePath(file.path);
    kept.set(file.path, path);
    allFiles.push({ path, bytes: file.bytes });
  }
  reports.push({ id: entry.id, name: message.name, verdict, input, lines: message.lines, events: message.events });

  // One picture per disk, in the order the run read them.
  const map = lazyMap(message.map);
  const next = { disk: 0 };
  const fills = [];
  for (const image of input.images) {
    const block = imageBlock(image, input.images.length > 1, kept, files, map, next);
    fills.push(...block.fills);
    section.append(block);
  }
  if (map.count > 0) {
    const key = mapDetails("Key to the maps", false, () => map.key());
    key.details.classList.add("map-key");
    section.append(key.details);
  }
  // The maps shown unfolded are drawn once their section is in the page.
  for (const fill of fills) {
    fill();
  }

  const lines = element("details", { class: "tool-lines" },
    element("summary", {}, "The tool's own lines"), linesBlock(message.lines));
  section.append(lines);

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
  zipButton.disabled = false;
  clearButton.disabled = false;
}

// The report beside the files in the zip: each input's verdict and the
// tool's lines as it said them, in UTF-8, and what the page made of them as
// JSON.
function reportFiles() {
  const encoder = new TextEncoder();
  let text = "";
  for (const report of reports) {
    text += `${report.name}\n${report.verdict.words}\n\n`;
    for (const line of report.lines) {
      text += line.text + "\n";
    }
    text += "\n";
  }
  const json = JSON.stringify(reports.map((report) => (
    { name: report.name, verdict: report.verdict, events: report.events })), null, 2);
  return [
    { path: kReportLines, bytes: encoder.encode(text) },
    { path: kReportEvents, bytes: encoder.encode(json + "\n") },
  ];
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

// Hands inputs to the worker, one run each: { name, files: [{ path, file }] },
// one file, or a dump's stream files together.
function cutFiles(inputs) {
  if (inputs.length === 0) {
    return;
  }
  total += inputs.length;
  for (const input of inputs) {
    const id = nextId++;
    const section = element("section", { class: "image", "data-name": input.name, "data-id": String(id) },
      element("h2", {}, input.name),
      element("p", { class: "pending" }, "Waiting…"));
    results.append(section);
    const entry = { id, section, begun: performance.now() };
    running += 1;
    busy(running);
    updateProgress();
    ask({ type: "cut", id, name: input.name, files: input.files }, (message) => {
      running -= 1;
      done += 1;
      timings.runs.push({ name: input.name, coreMs: message.ms, pageMs: performance.now() - entry.begun });
      if (message.type === "failed") {
        section.querySelector(".pending").textContent = "The page could not run on this input: " + message.text;
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
window.zefacutZip = () => makeZip(allFiles.concat(reportFiles()));

zipButton.addEventListener("click", () => {
  download("zefacut-files.zip", window.zefacutZip(), "application/zip");
});

clearButton.addEventListener("click", () => {
  for (const section of results.querySelectorAll("section")) {
    worker.postMessage({ type: "forget", id: Number(section.dataset.id) });
    section.remove();
  }
  allFiles = [];
  reports = [];
  total = 0;
  done = 0;
  zipButton.disabled = true;
  clearButton.disabled = true;
  state.textContent = "Ready.";
});

// A KryoFlux dump is a set of files, trackCC.H.raw, that the tool reads as
// one disk: the files of one folder. Those of a dropped folder, or chosen
// together, are one input, named after their folder, and go to the core in
// one run.
const kStreamName = /^track\d{2,}\.[01]\.raw$/i;

// A dump's name as shown, apart from those shown already: files chosen
// together have no folder to name them.
function dumpName(name) {
  const taken = new Set(Array.from(results.querySelectorAll("section.image"), (section) => section.dataset.name));
  let unique = name;
  for (let copy = 2; taken.has(unique); ++copy) {
    unique = `${name} (${copy})`;
  }
  return unique;
}

function cutInputs(entries) {
  const inputs = [];
  const dumps = new Map();
  for (const { file, folder } of entries) {
    if (kStreamName.test(file.name)) {
      if (!dumps.has(folder)) {
        dumps.set(folder, []);
      }
      dumps.get(folder).push(file);
    } else {
      inputs.push({ name: file.name, files: [{ path: file.name, file }] });
    }
  }
  for (const [folder, files] of dumps) {
    if (files.length === 1) {
      inputs.push({ name: files[0].name, files: [{ path: files[0].name, file: files[0] }] });
      continue;
    }
    files.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
    // The core takes the stream files as they are, as one dump.
    const name = dumpName(folder || "KryoFlux dump");
    inputs.push({ name, files: files.map((file) => ({ path: `${name}/${file.name}`, file })) });
  }
  cutFiles(inputs);
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
