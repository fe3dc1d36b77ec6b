#!/usr/bin/python3
"""The page in headless chromium, held to the native zefacut.

Every fixture is cut by the native zefacut (-d, UTF-8 lines, into a folder of
its own) and dropped on the page in one go through its file input; each
input's lines on the page must be the native tool's lines, channel by
channel, its verdict the native exit status, and the page's zip of all files
the native files byte for byte. The page is opened from file:// or from a
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
    return ["sample.d88", "damaged.d88", "old.td0", "pair.zip", "notes.txt", "empty.d88",
            "damaged.zip", DUMP]


# The KryoFlux dump: a folder for the native tool; its files, chosen together,
# for the page, which hands them over as one dump of that name.
DUMP = "KryoFlux dump"


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
      return Array.from(document.querySelectorAll('#results section.image')).map((section) => ({
        name: section.dataset.name,
        status: section.dataset.status === undefined ? null : Number(section.dataset.status),
        pending: section.querySelector('.pending') !== null,
        out: Array.from(section.querySelectorAll('.part pre.lines span[data-channel="out"]')).map((s) => s.textContent),
        err: Array.from(section.querySelectorAll('.part pre.lines span[data-channel="err"]')).map((s) => s.textContent),
        parts: section.querySelectorAll('.part').length,
        rows: Array.from(section.querySelectorAll('tr[data-path]')).map((row) => ({
          path: row.dataset.path,
          cells: Array.from(row.querySelectorAll('td')).map((cell) => cell.textContent)})),
      }));""")


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
                                   os.path.join(scratch, "native", name)) for name in inputs}
        d88info = os.path.join(os.path.dirname(args.zefacut), "d88info")
        listing = subprocess.run([d88info, "sample.d88"], cwd=inputs_folder, capture_output=True,
                                 check=True).stdout.decode("utf-8").splitlines()

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

        # One drop of every input.
        file_input = driver.find_element(By.ID, "files")
        file_input.send_keys("\n".join(chosen_paths(inputs_folder, inputs)))
        wait_for_results(driver, len(inputs))
        sections = {section["name"]: section for section in page_sections(driver)}
        check(sorted(sections) == sorted(inputs), "one section per input: %s" % sorted(sections))

        expected_files = {}
        for name in inputs:
            section = sections.get(name)
            want = native[name]
            if section is None:
                continue
            if not archives and (name.endswith(".zip") or name == DUMP):
                # A page built without libarchive says so, as such a zefacut does.
                check(section["status"] == 1 and any("reads no archives" in line for line in section["err"]),
                      "%s: no word that archives are not read" % name)
                continue
            check(section["status"] == want["status"],
                  "%s: verdict %s, the native tool's status %s" % (name, section["status"], want["status"]))
            # The page hands a dump's files over as one archive, whose image
            # the tool announces with a line of its own.
            page_out = [line for line in section["out"] if not (name == DUMP and line == "reading ... " + DUMP)]
            check(page_out == want["out"],
                  "%s: standard output lines differ:\n page:   %s\n native: %s" % (name, section["out"], want["out"]))
            check(section["err"] == want["err"],
                  "%s: error lines differ:\n page:   %s\n native: %s" % (name, section["err"], want["err"]))
            expected_files.update(want["files"])

        # What the issue asks of each input, beyond matching the native tool.
        sample = sections.get("sample.d88", {})
        recognised = [line for line in sample.get("out", []) if line.endswith(RECOGNISED)]
        check(len(recognised) == 8, "sample.d88: %d recognition lines, not 8" % len(recognised))
        check(sample.get("status") == 0, "sample.d88 is not clean")
        check(len(sample.get("rows", [])) == len(native["sample.d88"]["files"]),
              "sample.d88: %d file rows for %d files" % (len(sample.get("rows", [])), len(native["sample.d88"]["files"])))
        for row in sample.get("rows", []):
            check(row["cells"][1] == "%d bytes" % len(native["sample.d88"]["files"].get(row["path"], b"")),
                  "sample.d88: the size shown for %s" % row["path"])
            check(row["cells"][2].startswith("sector "), "sample.d88: where %s was cut from: %r" % (row["path"], row["cells"][2]))
        damaged = sections.get("damaged.d88", {})
        check(damaged.get("status") == 2 and any(line.startswith("warning: ") for line in damaged.get("err", [])),
              "damaged.d88: no warning with status 2")
        teledisk = sections.get("old.td0", {})
        check(teledisk.get("status") == 1 and any("Teledisk" in line for line in teledisk.get("err", [])),
              "old.td0: no Teledisk error")
        dump = sections.get(DUMP, {})
        check(not archives or dump.get("status") == 2 and any(
            line.endswith("read well in none of 3 revolutions") for line in dump.get("err", [])),
              "the KryoFlux dump: no warning of a sector no revolution read well")
        pair = sections.get("pair.zip", {})
        check(not archives or pair.get("parts", 0) == 2 and pair.get("status") == 0, "pair.zip: not two clean images")
        check(not archives or {row["path"].split(" - ")[0] for row in pair.get("rows", [])} == {"title1-a.d88", "title3-b.dim"},
              "pair.zip: files of both images")
        for name in ("notes.txt", "empty.d88", "damaged.zip"):
            check(sections.get(name, {}).get("status") in (1, 2) and sections.get(name, {}).get("err"),
                  name + ": no message")

        zipped = page_zip(driver)
        check(sorted(zipped) == sorted(expected_files),
              "the zip's paths differ:\n page:   %s\n native: %s" % (sorted(zipped), sorted(expected_files)))
        for path, data in expected_files.items():
            check(zipped.get(path) == data, "%s differs from the native tool's file" % path)

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
