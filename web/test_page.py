#!/usr/bin/python3
"""The page in headless chromium, held to the native zefacut.

Every fixture is cut by the native zefacut (-d, UTF-8 lines, into a folder of
its own) and dropped on the page in one go through its file input; each
input's verdict must be in the words a user reads, each file a note concerns
marked with the native tool's notes beside it, the tool's own lines (under a
disclosure) the native tool's lines, channel by channel, and the page's zip
of all files the native files byte for byte, with a report beside them. The page is opened from file:// or from a
server on 127.0.0.1 started and stopped here; the browser's own network log
must show no request but the page itself. A screenshot and the figures of
the run (page size, time to ready, time to cut the sample against the native
tool) land in the artefacts folder.
"""

import argparse
import base64
import functools
import http.server
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

RECOGNISED = " を認識しました."
# The report beside the files in the page's zip.
REPORT_LINES = "zefacut report.txt"
REPORT_EVENTS = "zefacut report.json"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what, file=sys.stderr)


def native_run(zefacut, folder, name, out):
    """The native tool's run over one input: status, lines per stream, files."""
    os.makedirs(out)
    with open(os.path.join(out, ".stdout"), "wb") as stdout, \
            open(os.path.join(out, ".stderr"), "wb") as stderr:
        # Standard error to a file: the tool then adds no summary line for a
        # person watching, which the page does not show either.
        status = subprocess.run([zefacut, "--encoding=utf-8", "-d", "-o", out, name],
                                cwd=folder, stdout=stdout, stderr=stderr).returncode
    lines = {}
    for stream in ("stdout", "stderr"):
        with open(os.path.join(out, "." + stream), "rb") as text:
            lines[stream] = text.read().decode("utf-8").splitlines()
        os.remove(os.path.join(out, "." + stream))
    files = {}
    for root, _, names in os.walk(out):
        for file in names:
            path = os.path.join(root, file)
            with open(path, "rb") as data:
                files[os.path.relpath(path, out).replace(os.sep, "/")] = data.read()
    return {"status": status, "out": lines["stdout"], "err": lines["stderr"], "files": files}


def make_inputs(fixtures, folder):
    subprocess.run([fixtures, folder], check=True)
    with zipfile.ZipFile(os.path.join(folder, "pair.zip"), "w", zipfile.ZIP_DEFLATED) as pair:
        for name in ("title1-a.d88", "title3-b.dim"):
            pair.write(os.path.join(folder, name), name)
    # An archive cut short inside its one member.
    with open(os.path.join(folder, "sample.d88"), "rb") as sample:
        data = sample.read()
    whole = io.BytesIO()
    with zipfile.ZipFile(whole, "w", zipfile.ZIP_STORED) as broken:
        broken.writestr("broken.d88", data)
    with open(os.path.join(folder, "damaged.zip"), "wb") as damaged:
        damaged.write(whole.getvalue()[: len(whole.getvalue()) // 3])
    return ["sample.d88", "damaged.d88", "old.td0", "pair.zip", "other.d88", "notes.txt",
            "empty.d88", "damaged.zip", DUMP]


# The KryoFlux dump: a folder for the native tool; its files, chosen together,
# for the page, which hands them over as one dump of that name.
DUMP = "KryoFlux dump"
# A second dump, its identification track noise, chosen on its own after the
# others: its files have no folder to name them, and the page names it apart
# from the first.
NOISY = "Noisy dump"
NOISY_ON_PAGE = DUMP + " (2)"

# What the page says of each input, as a user reads it.
VERDICTS = {
    "sample.d88": ("good", "all 58 files of 8 disks read cleanly"),
    "damaged.d88": ("doubt", "ZEFA LOMRI 2 Disk B: 1 of 4 files has doubtful sectors (see below)"),
    "old.td0": ("bad", "a damaged Teledisk image: the header's CRC is wrong"),
    "pair.zip": ("good", "all 44 files of 2 disks read cleanly"),
    "other.d88": ("none", "a disk image, but none of the disks this tool knows"),
    "notes.txt": ("none", "not a disk image"),
    "empty.d88": ("none", "an empty file, not a disk image"),
    "damaged.zip": ("bad", "the ZIP archive is damaged: broken.d88: Truncated ZIP file data"),
    DUMP: ("doubt", "ZEFA LOMRI 2 Disk B: 1 of 4 files has doubtful sectors (see below)"),
    NOISY_ON_PAGE: ("bad", "the flux of track 1 could not be decoded"),
}
# Without archives, what a page built so says of those.
NO_ARCHIVES = ("bad", "an archive, which this page cannot open")


def chosen_paths(folder, inputs):
    paths = []
    for name in inputs:
        path = os.path.join(folder, name)
        if os.path.isdir(path):
            paths += sorted(os.path.join(path, file) for file in os.listdir(path))
        else:
            paths.append(path)
    return paths


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    seen = []

    def log_message(self, *args):
        pass

    def do_GET(self):
        QuietHandler.seen.append(self.path)
        super().do_GET()


def start_browser(artefacts):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1200,2600", "--lang=ja", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-default-apps", "--disable-sync"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    service = Service("/usr/bin/chromedriver", log_output=os.path.join(artefacts, "chromedriver.log"))
    return webdriver.Chrome(service=service, options=options)


def page_requests(driver):
    urls = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message.get("method") == "Network.requestWillBeSent":
            urls.append(message["params"]["request"]["url"])
    return urls


def page_sections(driver):
    return driver.execute_script("""
      const texts = (nodes) => Array.from(nodes, (node) => node.textContent);
      return Array.from(document.querySelectorAll('#results section.image')).map((section) => ({
        name: section.dataset.name,
        pending: section.querySelector('.pending') !== null,
        verdict: section.dataset.verdict || null,
        words: (section.querySelector(':scope > p.verdict .verdict-words') || {}).textContent,
        linesHidden: !section.querySelector('details.tool-lines').open,
        out: texts(section.querySelectorAll('details.tool-lines pre.lines span[data-channel="out"]')),
        err: texts(section.querySelectorAll('details.tool-lines pre.lines span[data-channel="err"]')),
        parts: section.querySelectorAll('.part').length,
        text: section.innerText,
        rows: Array.from(section.querySelectorAll('table.files tbody tr')).map((row) => ({
          file: row.dataset.file,
          path: row.dataset.path || null,
          marked: row.querySelector('td.mark .file-mark') !== null,
          notes: texts(row.querySelectorAll('ul.notes li')),
          bytes: row.querySelector('td.size [data-bytes]') ? Number(row.querySelector('td.size [data-bytes]').dataset.bytes) : null,
          from: row.querySelector('td.from').textContent})),
      }));""")


def open_maps(driver, name):
    """Unfolds every map of an input's section, which draws those not drawn."""
    driver.execute_script("""
      for (const details of document.querySelectorAll('section.image[data-name="' + arguments[0] + '"] details.map'))
        details.open = true;""", name)
    WebDriverWait(driver, 30).until(lambda d: d.execute_script("""
      const section = document.querySelector('section.image[data-name="' + arguments[0] + '"]');
      return Array.from(section.querySelectorAll('details.map')).every((details) => details.querySelector('svg.disk-map'));""", name))


def page_maps(driver, name):
    """Each disk's map in an input's section: its cells in order."""
    open_maps(driver, name)
    return driver.execute_script("""
      const section = document.querySelector('section.image[data-name="' + arguments[0] + '"]');
      return Array.from(section.querySelectorAll('svg.disk-map'))
        .filter((svg) => svg.getAttribute('aria-label') !== 'Key to the map')
        .map((svg) => Array.from(svg.querySelectorAll('g.map-cell')).map((cell) => ({
          track: Number(cell.dataset.track), sector: cell.dataset.sector, state: cell.dataset.state,
          files: cell.dataset.files.split(' ').filter((file) => file !== ''),
          named: cell.classList.contains('named')})));""", name)


def page_disks(driver, name):
    """Each known disk's file rows and its map's cells."""
    open_maps(driver, name)
    return driver.execute_script("""
      const section = document.querySelector('section.image[data-name="' + arguments[0] + '"]');
      return Array.from(section.querySelectorAll('div.disk[data-disk]')).map((disk) => ({
        disk: disk.dataset.disk,
        rows: Array.from(disk.querySelectorAll('table.files tbody tr')).map((row) => ({
          file: row.dataset.file, from: row.querySelector('td.from').textContent})),
        cells: Array.from(disk.querySelectorAll('svg.disk-map g.map-cell')).map((cell) => ({
          track: Number(cell.dataset.track), sector: cell.dataset.sector,
          files: cell.dataset.files.split(' ').filter((file) => file !== '')}))}));""", name)


def listing_tracks(lines):
    """d88info's tracks per disk: {track: (sectors, [marked sectors])}."""
    disks = []
    for line in lines:
        if re.match(r"^disk \d+$", line):
            disks.append({})
            continue
        found = re.match(r"^  track (\d+): (\d+) sectors?(.*)$", line)
        if found and disks:
            marked = [" ".join(ids) for ids in re.findall(r"C(\d+) H(\d+) R(\d+) N(\d+) marked as", found.group(3))]
            disks[-1][int(found.group(1))] = (int(found.group(2)), marked)
    return disks


def native_file_notes(native):
    """The notes the native tool gave each cut file: "warning: FILE: NOTE"."""
    notes = {}
    for line in native["err"]:
        if line.startswith("warning: "):
            subject, _, note = line[len("warning: "):].partition(": ")
            if subject.replace("_", "").replace(".", "").isalnum() and subject.upper() == subject:
                notes.setdefault(subject, []).append(note)
    return notes


def page_zip(driver):
    encoded = driver.execute_async_script("""
      const done = arguments[arguments.length - 1];
      const reader = new FileReader();
      reader.onload = () => done(reader.result.slice(reader.result.indexOf(',') + 1));
      reader.readAsDataURL(window.zefacutZip());""")
    files = {}
    with zipfile.ZipFile(io.BytesIO(base64.b64decode(encoded))) as archive:
        check(archive.testzip() is None, "the page's zip has a bad CRC")
        for info in archive.infolist():
            files[info.filename] = archive.read(info)
    return files


def wait_for_results(driver, count, timeout=120):
    WebDriverWait(driver, timeout).until(lambda d: d.execute_script(
        "return document.querySelectorAll('#results section.image').length === arguments[0] &&"
        " document.querySelectorAll('#results .pending').length === 0", count))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--page", required=True)
    parser.add_argument("--zefacut", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--place", choices=("file", "http"), required=True)
    parser.add_argument("--artefacts", required=True)
    parser.add_argument("--archives", choices=("ON", "OFF"), default="ON",
                        help="whether the page was built to read archives")
    args = parser.parse_args()
    for name in ("page", "zefacut", "fixtures", "artefacts"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    os.makedirs(args.artefacts, exist_ok=True)

    scratch = tempfile.mkdtemp(prefix="zefacut-web-")
    server = None
    driver = None
    try:
        inputs_folder = os.path.join(scratch, "in")
        os.makedirs(inputs_folder)
        inputs = make_inputs(args.fixtures, inputs_folder)
        native = {name: native_run(args.zefacut, inputs_folder, name,
                                   os.path.join(scratch, "native", name)) for name in inputs + [NOISY]}
        d88info = os.path.join(os.path.dirname(args.zefacut), "d88info")
        listings = {name: subprocess.run([d88info, name], cwd=inputs_folder, capture_output=True,
                                         check=True).stdout.decode("utf-8").splitlines()
                    for name in ("sample.d88", "damaged.d88")}
        listing = listings["sample.d88"]

        served = os.path.join(scratch, "site")
        os.makedirs(served)
        shutil.copy(args.page, os.path.join(served, "zefacut.html"))
        if args.place == "http":
            handler = functools.partial(QuietHandler, directory=served)
            server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
            threading.Thread(target=server.serve_forever, daemon=True).start()
            url = "http://127.0.0.1:%d/zefacut.html" % server.server_address[1]
        else:
            url = "file://" + os.path.join(served, "zefacut.html")

        driver = start_browser(args.artefacts)
        driver.get(url)
        WebDriverWait(driver, 30).until(
            lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))
        ready_ms = driver.execute_script("return window.zefacutTimings.readyMs")
        archives = args.archives == "ON"
        check((driver.execute_script("return document.getElementById('archive-note').textContent")
               != "no archives in this build") == archives, "the page tells whether it reads archives")

        # One drop of every input, then the second dump chosen on its own.
        file_input = driver.find_element(By.ID, "files")
        file_input.send_keys("\n".join(chosen_paths(inputs_folder, inputs)))
        wait_for_results(driver, len(inputs))
        file_input.send_keys("\n".join(chosen_paths(inputs_folder, [NOISY])))
        wait_for_results(driver, len(inputs) + 1)
        sections = {section["name"]: section for section in page_sections(driver)}
        check(sorted(sections) == sorted(inputs + [NOISY_ON_PAGE]), "one section per input: %s" % sorted(sections))

        expected_files = {}
        for name, section in sections.items():
            # The verdict in words, and never an exit status.
            kind, words = VERDICTS.get(name, (None, None))
            if not archives and name.endswith(".zip"):
                kind, words = NO_ARCHIVES
            check((section["verdict"], section["words"]) == (kind, words),
                  "%s: verdict %r %r, not %r %r" % (name, section["verdict"], section["words"], kind, words))
            check("exit status" not in section["text"], "%s: an exit status on the page" % name)
            check(section["linesHidden"], "%s: the tool's lines are not under a closed disclosure" % name)
        check("exit status" not in driver.execute_script("return document.body.innerText"),
              "the page speaks of an exit status")
        for name in inputs:
            section = sections.get(name)
            want = native[name]
            if section is None or not archives and name.endswith(".zip"):
                continue
            check(section["out"] == want["out"],
                  "%s: standard output lines differ:\n page:   %s\n native: %s" % (name, section["out"], want["out"]))
            check(section["err"] == want["err"],
                  "%s: error lines differ:\n page:   %s\n native: %s" % (name, section["err"], want["err"]))
            expected_files.update(want["files"])
            # A file's row is marked exactly when the native tool gave it a
            # note, with those notes beside it.
            notes = native_file_notes(want)
            for row in section["rows"]:
                check(row["marked"] == (row["file"] in notes) and row["notes"] == notes.get(row["file"], []),
                      "%s: %s marked %s with %s, the native tool's notes %s"
                      % (name, row["file"], row["marked"], row["notes"], notes.get(row["file"], [])))
                if row["path"] is not None:
                    check(row["bytes"] == len(want["files"].get(row["path"], b"")),
                          "%s: the size shown for %s" % (name, row["path"]))
                    check(row["from"].startswith("sector "), "%s: where %s was cut from: %r" % (name, row["path"], row["from"]))
            check({row["path"] for row in section["rows"] if row["path"]} == set(want["files"]),
                  "%s: the rows' files are not the native files" % name)

        sample = sections.get("sample.d88", {})
        recognised = [line for line in sample.get("out", []) if line.endswith(RECOGNISED)]
        check(len(recognised) == 8, "sample.d88: %d recognition lines, not 8" % len(recognised))
        check(not any(row["marked"] for row in sample.get("rows", [])), "sample.d88: a clean file is marked")
        damaged = sections.get("damaged.d88", {})
        check([row["file"] for row in damaged.get("rows", []) if row["marked"]] == ["FMSE"],
              "damaged.d88: FMSE alone is marked")
        dump = sections.get(DUMP, {})
        check(any(note.endswith("read well in none of 3 revolutions")
                                  for row in dump.get("rows", []) for note in row["notes"]),
              "the KryoFlux dump: no note beside FMSE of a sector no revolution read well")
        pair = sections.get("pair.zip", {})
        check(not archives or pair.get("parts", 0) == 2, "pair.zip: not two images")
        check(not archives or {row["path"].split(" - ")[0] for row in pair.get("rows", [])} == {"title1-a.d88", "title3-b.dim"},
              "pair.zip: files of both images")

        # The maps, held to d88info's listing: a picture per disk, with a
        # cell per sector the listing gives each track, the sectors it marks
        # drawn so, each file's extent starting at the sector it was cut
        # from, and the sector a note names pointed at.
        for name in ("sample.d88", "damaged.d88"):
            listed = listing_tracks(listings[name])
            maps = page_maps(driver, name)
            check(len(maps) == len(listed), "%s: %d maps for %d disks" % (name, len(maps), len(listed)))
            for number, (cells, tracks) in enumerate(zip(maps, listed), 1):
                counts = {}
                for cell in cells:
                    counts[cell["track"]] = counts.get(cell["track"], 0) + 1
                check(counts == {track: count for track, (count, _) in tracks.items()},
                      "%s disk %d: the map's cells per track differ from the listing's" % (name, number))
                for track, (_, marked) in tracks.items():
                    for sector in marked:
                        check(any(cell["track"] == track and cell["sector"] == sector and cell["state"] != "good"
                                  for cell in cells),
                              "%s disk %d: sector %s of track %d is not drawn as marked" % (name, number, sector, track))
            for disk in page_disks(driver, name):
                for row in disk["rows"]:
                    extent = [cell for cell in disk["cells"] if row["file"] in cell["files"]]
                    check(bool(extent) and "sector %s of track %d" % (extent[0]["sector"], extent[0]["track"]) == row["from"],
                          "%s disk %s: the extent of %s does not start where it was cut from"
                          % (name, disk["disk"], row["file"]))
        named = [cell for cells in page_maps(driver, "damaged.d88") for cell in cells if cell["named"]]
        check([(cell["track"], cell["sector"], cell["state"]) for cell in named] == [(12, "6 0 6 3", "crc")],
              "damaged.d88: the sector FMSE's note names is not the one pointed at: %s" % named)

        # The zip: the native files, and the report beside them.
        zipped = page_zip(driver)
        report_text = zipped.pop(REPORT_LINES, b"").decode("utf-8")
        report_json = json.loads(zipped.pop(REPORT_EVENTS, b"null").decode("utf-8") or "null")
        check(sorted(zipped) == sorted(expected_files),
              "the zip's paths differ:\n page:   %s\n native: %s" % (sorted(zipped), sorted(expected_files)))
        for path, data in expected_files.items():
            check(zipped.get(path) == data, "%s differs from the native tool's file" % path)
        report_lines = report_text.splitlines()
        for name in inputs:
            section = sections.get(name, {})
            shown = section.get("out", []) + section.get("err", [])
            check(name in report_lines and all(line in report_lines for line in shown),
                  "the zip's report lacks the tool's lines of %s" % name)
        check(isinstance(report_json, list) and [entry.get("name") for entry in report_json]
              == [section["name"] for section in page_sections(driver)],
              "the zip's JSON report does not hold one entry per input, in order")
        for entry in report_json or []:
            check(entry.get("verdict", {}).get("words") == sections.get(entry.get("name"), {}).get("words"),
                  "the JSON report's verdict of %s" % entry.get("name"))

        # Readable in a window 400 pixels wide: nothing wider than the page,
        # no number or sector address split across lines.
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 400, "height": 2600, "deviceScaleFactor": 1, "mobile": False})
        narrow = driver.execute_script("""
          for (const details of document.querySelectorAll('details.tool-lines')) details.open = true;
          const split = Array.from(document.querySelectorAll('#results .num'))
            .filter((node) => node.getClientRects().length > 1)
            .map((node) => node.textContent);
          return { width: document.documentElement.scrollWidth, client: document.documentElement.clientWidth, split };""")
        check(narrow["client"] <= 400 and narrow["width"] <= narrow["client"],
              "at 400 pixels the page is %d wide in a window of %d" % (narrow["width"], narrow["client"]))
        check(narrow["split"] == [], "at 400 pixels numbers break across lines: %s" % narrow["split"][:5])
        driver.save_screenshot(os.path.join(args.artefacts, "page-%s-400.png" % args.place))
        driver.execute_script("for (const details of document.querySelectorAll('details.tool-lines')) details.open = false;")
        driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

        # d88info's listing on demand.
        driver.execute_script(
            "document.querySelector('section.image[data-name=\"sample.d88\"] button.list').click()")
        WebDriverWait(driver, 30).until(lambda d: d.execute_script(
            "const l = document.querySelector('section.image[data-name=\"sample.d88\"] pre.listing');"
            " return !l.hidden && l.textContent.length > 0"))
        shown = driver.execute_script(
            "return Array.from(document.querySelectorAll('section.image[data-name=\"sample.d88\"] pre.listing span'))"
            ".map((s) => s.textContent)")
        check(shown == listing, "the listing differs from d88info's")

        # A dump's stream files dropped together are one input, read in one
        # run, not one input each.
        before = len(page_sections(driver))
        streams = []
        for path in chosen_paths(inputs_folder, [NOISY]):
            with open(path, "rb") as stream:
                streams.append([os.path.basename(path), base64.b64encode(stream.read()).decode("ascii")])
        driver.execute_script("""
          const transfer = new DataTransfer();
          for (const [name, data] of arguments[0]) {
            const bytes = Uint8Array.from(atob(data), (ch) => ch.charCodeAt(0));
            transfer.items.add(new File([bytes], name));
          }
          document.getElementById('drop').dispatchEvent(
            new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));""", streams)
        wait_for_results(driver, before + 1)
        dropped = page_sections(driver)[-1]
        check((dropped["verdict"], dropped["words"]) == VERDICTS[NOISY_ON_PAGE],
              "the dropped stream files: %r %r" % (dropped["verdict"], dropped["words"]))

        driver.save_screenshot(os.path.join(args.artefacts, "page-%s.png" % args.place))

        # The figures: the sample cut again on its own, and the native tool
        # on it, best of five each.
        page_ms = []
        core_ms = []
        for _ in range(5):
            driver.find_element(By.ID, "clear").click()
            file_input.send_keys(os.path.join(inputs_folder, "sample.d88"))
            wait_for_results(driver, 1)
            run = driver.execute_script("return window.zefacutTimings.runs[window.zefacutTimings.runs.length - 1]")
            page_ms.append(run["pageMs"])
            core_ms.append(run["coreMs"])
        native_ms = []
        for attempt in range(5):
            out = os.path.join(scratch, "bench%d" % attempt)
            begun = time.perf_counter()
            subprocess.run([args.zefacut, "-q", "-d", "-o", out, "sample.d88"], cwd=inputs_folder,
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            native_ms.append((time.perf_counter() - begun) * 1000)

        requests = page_requests(driver)
        if server is not None:
            requests += ["server:" + path for path in QuietHandler.seen]
        own = {url, "server:/zefacut.html"}
        stray = [request for request in requests
                 if request not in own and not request.startswith(("blob:", "data:"))]
        check(stray == [], "requests beyond the page: %s" % stray)

        figures = {
            "place": args.place,
            "page_bytes": os.path.getsize(args.page),
            "ready_ms": round(ready_ms, 1),
            "sample_in_page_ms": round(min(page_ms), 1),
            "sample_in_core_ms": round(min(core_ms), 1),
            "sample_native_ms": round(min(native_ms), 1),
            "ratio_page_to_native": round(min(page_ms) / min(native_ms), 2),
        }
        with open(os.path.join(args.artefacts, "figures-%s.json" % args.place), "w") as out:
            json.dump(figures, out, indent=2)
        print(json.dumps(figures))
    finally:
        if driver is not None:
            driver.quit()
        if server is not None:
            server.shutdown()
            server.server_close()
        shutil.rmtree(scratch, ignore_errors=True)
    if failures:
        print("%d checks failed" % len(failures), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
