// What a run found in one dropped input, as the page shows it: each image
// with its disks, each known disk with its files and their notes, and the
// input's verdict in words. Built from the run's events, kept apart from how
// the page draws it.
"use strict";

// A sector of the events in the words the tool uses: "sector 6 0 5 3 of
// track 12".
function sectorWords(sector) {
  return `sector ${sector.c} ${sector.h} ${sector.r} ${sector.n} of track ${sector.track}`;
}

// The run's events (its JSON, parsed) as one input: { name, images: [{
// name, format, disks, notes, errors, notImage }] }, each disk { known,
// title, disk, files: [{ path, name, size, from, written, notes, sectors }]
// } or an unknown one with its signature sectors' evidence.
function inputFromEvents(name, events) {
  const images = [];
  let image = null;
  const startImage = (shown) => {
    image = { name: shown, disks: [], notes: [], errors: [], notImage: false };
    images.push(image);
  };
  startImage(name);
  for (const event of events) {
    switch (event.event) {
      case "started":
        if (event.member !== "") {
          const empty = image.disks.length === 0 && image.notes.length === 0 && image.errors.length === 0;
          if (empty && images.length === 1) {
            images.pop();
          }
          startImage(event.name);
        }
        break;
      case "opened":
        image.format = event.format;
        image.size = event.size;
        image.notImage = !event.formatRecognised;
        break;
      case "disk":
        image.disks[event.index] = event.known
          ? { known: true, title: event.title, disk: event.disk, files: [], notes: [] }
          : { known: false, files: [], notes: [], evidence: event.evidence };
        break;
      case "file": {
        const disk = image.disks[event.disk];
        if (disk) {
          disk.files.push({
            path: event.read ? event.path : "", name: event.name, size: event.size,
            from: event.first ? sectorWords(event.first) : "", written: event.read,
            notes: event.notes.slice(), sectors: event.sectors,
          });
        }
        break;
      }
      case "note":
        // A file's notes came with the file; "info" lines count as neither.
        if (event.severity === "info" || event.code === "file-note") {
          break;
        }
        if (event.about === "file" && event.path) {
          const file = image.disks.flatMap((disk) => (disk ? disk.files : [])).find((candidate) => candidate.path === event.path);
          if (file) {
            file.notes.push(event.words);
            break;
          }
        }
        (event.severity === "error" ? image.errors : image.notes).push(
          { severity: event.severity, text: event.words, code: event.code, track: event.track });
        break;
      default:
        break;
    }
  }
  for (const found of images) {
    found.disks = found.disks.filter((disk) => disk !== undefined);
  }
  return { name, images };
}

function lastPart(path) {
  return path.slice(path.lastIndexOf("/") + 1);
}

function plural(count, one, many) {
  return count === 1 ? `${count} ${one}` : `${count} ${many}`;
}

// "12", "12 and 40", "1, 2 and 3".
function listed(values) {
  return values.length <= 1 ? values.join("") : `${values.slice(0, -1).join(", ")} and ${values[values.length - 1]}`;
}

// An error in words: what the input is, and what stops it being read.
function errorWords(note) {
  if (note.code === "no-archive-support") {
    return "an archive, which this page cannot open";
  }
  const text = note.text;
  let found;
  if ((found = /^cannot read the (.*) archive: (.*)$/.exec(text))) {
    return `the ${found[1]} archive is damaged: ${found[2]}`;
  }
  if ((found = /^cannot be read as (.*?): (.*)$/.exec(text))) {
    return `a damaged ${found[1]} image: ${found[2]}`;
  }
  return text;
}

// The files of the known disks, and how they read.
function fileCounts(disks) {
  const files = disks.flatMap((disk) => disk.files);
  return {
    files,
    unwritten: files.filter((file) => !file.written).length,
    doubtful: files.filter((file) => file.written && file.notes.length > 0).length,
  };
}

// The words for the files of `disks`, known ones, with `prefix` before them.
function filesVerdict(disks, prefix) {
  const { files, unwritten, doubtful } = fileCounts(disks);
  if (files.length === 0) {
    return { kind: "good", words: `${prefix}no music or driver files on ${disks.length === 1 ? "this disk" : "these disks"}` };
  }
  const total = files.length;
  const parts = [];
  if (unwritten > 0) {
    parts.push(`${unwritten} of ${total} files could not be read`);
  }
  if (doubtful > 0) {
    parts.push(`${doubtful} of ${total} files ${doubtful === 1 ? "has" : "have"} doubtful sectors`);
  }
  if (parts.length > 0) {
    return { kind: unwritten > 0 ? "bad" : "doubt", words: `${prefix}${parts.join(", ")} (see below)` };
  }
  const of = disks.length === 1 ? "" : ` of ${plural(disks.length, "disk", "disks")}`;
  return { kind: "good", words: `${prefix}all ${plural(total, "file", "files")}${of} read cleanly` };
}

// The verdict of one image: { kind: good | doubt | bad | none, words }.
function imageVerdict(image) {
  const known = image.disks.filter((disk) => disk.known);
  if (known.length > 0) {
    return filesVerdict(known, known.length === 1 ? `${known[0].title} ${known[0].disk}: ` : "");
  }
  if (image.errors.length > 0) {
    return { kind: "bad", words: errorWords(image.errors[0]) };
  }
  if (image.notImage && image.disks.length === 0) {
    return { kind: "none", words: image.size === 0 ? "an empty file, not a disk image" : "not a disk image" };
  }
  const undecoded = [];
  for (const note of image.notes) {
    const found = note.code === "track-unread" && /^track (\d+) of the flux dump: no sector could be decoded/.exec(note.text);
    if (found) {
      undecoded.push(found[1]);
    }
  }
  if (undecoded.length > 0) {
    return { kind: "bad", words: `the flux of ${undecoded.length === 1 ? "track" : "tracks"} ${listed(undecoded)} could not be decoded` };
  }
  const cutShort = image.notes.find((note) => /^the image file ends inside track \d+$/.test(note.text));
  if (cutShort) {
    return { kind: "bad", words: cutShort.text };
  }
  if (image.disks.length === 0) {
    return { kind: image.notes.length > 0 ? "none" : "bad", words: image.notes.length > 0 ? image.notes[0].text : "no disk found" };
  }
  return { kind: "none", words: "a disk image, but none of the disks this tool knows" };
}

const kWorst = ["good", "none", "doubt", "bad"];

// The verdict of a whole input: its one image's, or for several (an
// archive's members) the files of all their known disks together.
function inputVerdict(input) {
  const images = input.images;
  if (images.length === 1) {
    return imageVerdict(images[0]);
  }
  const known = images.flatMap((image) => image.disks.filter((disk) => disk.known));
  const verdicts = images.map(imageVerdict);
  const worst = verdicts.reduce((kind, verdict) => (kWorst.indexOf(verdict.kind) > kWorst.indexOf(kind) ? verdict.kind : kind), "good");
  if (known.length === 0) {
    // Nothing known: the first image's words, or the archive's own error.
    return verdicts.find((verdict) => verdict.kind === worst) || verdicts[0];
  }
  const words = filesVerdict(known, "").words;
  const others = images.length - images.filter((image) => image.disks.some((disk) => disk.known)).length;
  return {
    kind: worst === "none" ? "good" : worst,
    words: others > 0 ? `${words}; ${plural(others, "image", "images")} with no disk this tool knows` : words,
  };
}

if (typeof module !== "undefined") {
  module.exports = { inputFromEvents, inputVerdict, imageVerdict, errorWords };
}
