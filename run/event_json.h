// A run's events as one JSON document, for programs (the page, a manifest):
// the same events the text lines are rendered from, in the order they came.
//
// The document, UTF-8 (names as they are where they are UTF-8; a byte that
// makes no character written as the text "\xNN", as the tools' lines show
// it; controls escaped):
//
//   {"events": [EVENT, ...]}
//
// Each EVENT is an object whose "event" says which it is; every field
// below is always present, null where it says so.
//
//   {"event": "started", "name": NAME, "member": MEMBER}
//       An input about to be read: a path or buffer given to the run
//       ("member" "") or a member of an archive ("name" ARCHIVE/MEMBER,
//       "member" its path inside the archive). Every event after it, up to
//       the next "started", is about it.
//   {"event": "opened", "name": NAME, "member": MEMBER, "format": FORMAT,
//    "formatRecognised": BOOL, "size": BYTES, "disks": COUNT}
//       The input opened as a disk image; FORMAT as d88info names it ("D88",
//       "KryoFlux stream"); formatRecognised false when no format claimed
//       it and it was read as D88.
//   {"event": "disk", "image": NAME, "index": I, "count": N, "known": BOOL,
//    "title": TITLE, "disk": DISK, "files": COUNT, "evidence": [SIGNATURE]}
//       Disk I (from 0) of N of the image. A known disk has its title
//       ("ZEFA LOMRI 2"), its disk ("Disk B") and how many files it holds,
//       and no evidence; an unknown one has "" and 0 there, and in
//       "evidence" each signature sector as recognition read it:
//       SIGNATURE = {"track": T, "c": C, "h": H, "r": R, "n": N,
//                    "found": BOOL, "read": BYTES, "from": OFFSET,
//                    "length": LENGTH, "hex": "45 46 ..."}
//       "read" is how many bytes of the sector could be read, the bytes
//       compared are [from, from + length) of it, and "hex" holds those of
//       them that could be read, two digits each, one space apart.
//   {"event": "file", "image": NAME, "disk": I, "folder": FOLDER,
//    "name": FILE, "path": PATH, "read": BOOL, "planned": BOOL,
//    "size": BYTES, "first": SECTOR or null, "sectors": [SECTOR],
//    "notes": [WORDS]}
//       A file of a known disk: PATH is FOLDER (empty, or ending in "/")
//       followed by FILE. "read" false: its first sector could not be read
//       and it is not written (size 0, first null). "planned": a dry run,
//       which lists the file and writes nothing. The notes are the file's
//       doubts in words; each comes again after it as a "note" event. A
//       file the run fails to write is told by an error note of its path;
//       a file whose folder cannot be made has no event of its own, the
//       error note about the folder ("cannot-create") tells of it.
//       SECTOR = {"track": T, "c": C, "h": H, "r": R, "n": N,
//                 "flags": ["data CRC error", ...], "revolutionsGood": G,
//                 "revolutions": V, "duplicated": BOOL}
//       (revolutions 0 for a sector not read from flux).
//   {"event": "note", "severity": "info" | "warning" | "error",
//    "about": "run" | "image" | "disk" | "file" | "folder" | "sector" |
//             "track",
//    "subject": NAME, "words": WORDS, "text": LINE, "code": CODE,
//    "image": NAME, "disk": I or null, "track": T or null,
//    "sector": SECTOR or null, "path": PATH}
//       A warning or an error (counted), or an info line (not counted).
//       LINE is the line the tools print for it, without its line feed
//       ("warning: FMSE: sector 6 0 5 3 of track 12 is marked as a data CRC
//       error in the image"); WORDS the part after "SUBJECT: ". CODE tells
//       the kind for programs: "cannot-open", "cannot-read", "no-archive-
//       support", "archive-damaged", "no-image-in-archive", "member-too-
//       large", "nested-too-deep", "format-unrecognised", "image-fault",
//       "zero-size-disk", "disk-limit", "no-disk", "track-unread",
//       "signature-marked", "file-note", "replaced", "read-only",
//       "cannot-write", "cannot-create", "argument-ignored", "not-a-folder".
//       SECTOR in a note has no flags: {"track", "c", "h", "r", "n"}.
//   {"event": "progress", "image": NAME, "done": D, "total": T,
//    "unit": "disks"}
//       D of T disks of the image are done.
//   {"event": "end", "files": F, "warnings": W, "errors": E, "status": S,
//    "dryRun": BOOL}
//       The run's counts (files written, or listed in a dry run, each path
//       once) and the status the command line exits with: 0 clean, 2 after
//       a warning, 1 after an error.
#ifndef ZEFACUT_RUN_EVENT_JSON_H
#define ZEFACUT_RUN_EVENT_JSON_H

#include <functional>
#include <string>
#include <utility>

#include "run/events.h"

// Gathers a run's events into the document above.
class EventJson : public RunListener {
 public:
  EventJson() = default;
  // Also hands each event's object to `each` as it comes.
  explicit EventJson(std::function<void(const std::string&)> each) : each_(std::move(each)) {}

  void Started(const InputStarted& event) override;
  void Opened(const ImageOpened& event) override;
  void Found(const DiskFound& event) override;
  void Cut(const FileCut& event) override;
  void Told(const Note& event) override;
  void Advanced(const Progress& event) override;
  void Ended(const RunEnded& event) override;

  // The whole document, with a line feed after each event.
  std::string Document() const;

 private:
  void Add(const std::string& object);

  std::function<void(const std::string&)> each_;
  std::string events_;
};

#endif  // ZEFACUT_RUN_EVENT_JSON_H
