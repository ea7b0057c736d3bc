#!/usr/bin/env python3
"""The status page in headless Chromium.

check-status-page.py STATUS DOWNLOAD SIM EXTRACT OUTDIR

Builds a project in a temporary HOME (a deployment filled by a real download
from the simulator and pelox5-extract, one whose journal holds a damaged line,
one without a record store, one that never ran, one whose cfg is broken, one
whose name holds markup characters), writes the page with pelox5-status -a --html and loads it in
Chromium: one row and one section per deployment, the figures equal those of
pelox5-status --json, names and messages stay text, no request leaves the
file. Screenshots at 1280 and 390 px go to OUTDIR for a person to look at.
Exits 77 (skipped) when chromium is absent and CI is not set.
"""

import html.parser
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile

TIMEOUT = 180  # seconds for each program; the sanitizer build is slow
ODD = "a<b>&\"q'"
# Every element the page itself writes; any other came from a file's text.
PAGE_TAGS = {"html", "head", "meta", "title", "style", "body", "h1", "h2", "h3", "p", "b", "i",
             "div", "table", "thead", "tbody", "tr", "th", "td", "a", "section", "svg", "rect",
             "path", "ul", "li"}


def fail(message):
    print("check-status-page: " + message, file=sys.stderr)
    sys.exit(1)


def run(args, env, expect=None):
    r = subprocess.run(args, env=env, capture_output=True, timeout=TIMEOUT)
    if expect is not None and r.returncode not in expect:
        fail("%s exited %d: %s" % (args[0], r.returncode, r.stderr.decode(errors="replace")))
    return r


def journal_line(end, outcome, logged):
    return json.dumps({"deployment": "x", "start": end, "end": end, "duration_s": 6.5,
                       "status": 0 if outcome == "complete" else 1, "outcome": outcome,
                       "fatal": None if outcome == "complete" else "Connect(): <quitting> & \"gone\"",
                       "session": None, "session_bytes": 1000, "records_logged": logged}) + "\n"


def deployment(project, name, rcd=None, journal=None, port="127.0.0.1:9"):
    folder = os.path.join(project, name)
    os.makedirs(os.path.join(folder, "cfg"))
    cfg = {"Name": name, "Status": "Active", "Port": port}
    if rcd is not None:
        cfg["ExtractReceivedRecordFile"] = "extract.rcd"
        with open(os.path.join(folder, "extract.rcd"), "w") as f:
            f.write(rcd)
    with open(os.path.join(folder, "cfg", "deployment.cfg"), "w") as f:
        json.dump(cfg, f)
    if journal is not None:
        with open(os.path.join(folder, "runs.jsonl"), "w") as f:
            f.write(journal)
    return folder


def download_from_simulator(tools, project, env):
    """The "normal" deployment: two downloads from the simulator with an extraction between."""
    sim = subprocess.Popen([tools["sim"], "--tcp", "0", "--records", "300"], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        ready, _, _ = select.select([sim.stdout], [], [], TIMEOUT)
        line = sim.stdout.readline().decode() if ready else ""
        if len(line.split()) < 2:
            fail("pelox5-sim did not report its endpoint")
        folder = deployment(project, "normal", rcd="1-100\n120-200\n")
        with open(os.path.join(folder, "cfg", "deployment.cfg"), "w") as f:
            json.dump({"Name": "normal", "Status": "Active", "Port": line.split()[1],
                       "ConnectAttemptMaxTries": 3, "ConnectAttemptTimeout": 5,
                       "RecordRequestSize": 30, "ExtractReceivedRecordFile": "extract.rcd"}, f)
        run([tools["download"], "-d", "normal"], env, expect=[0])
        run([tools["extract"], "-d", "normal"], env, expect=[0])
    finally:
        sim.kill()
        sim.wait()


class Dom(html.parser.HTMLParser):
    """The parts of the page the checks look at."""

    def __init__(self):
        super().__init__()
        self.rows = []       # [name, {key: text}] for each table row
        self.sections = {}   # id -> [name, {key: text}, heading text]
        self.tags = set()
        self.links = []
        self.stack = []      # open elements of interest: (tag, attrs)
        self.text = None     # (target dict, key) collecting text
        self.heading = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.tags.add(tag)
        for attr in ("href", "src", "srcset", "action", "data", "poster"):
            if attr in a:
                self.links.append(a[attr])
        if tag == "tr" and "data-d" in a:
            self.rows.append([a["data-d"], {}])
            self.current = self.rows[-1][1]
        elif tag == "section":
            self.sections[a.get("id")] = [a.get("data-d"), {}, ""]
            self.current = self.sections[a.get("id")][1]
            self.section = a.get("id")
        elif tag == "h2" and getattr(self, "section", None):
            self.heading = self.section
        if "data-k" in a and hasattr(self, "current"):
            self.current[a["data-k"]] = ""
            self.text = (self.current, a["data-k"])

    def handle_endtag(self, tag):
        if tag in ("td", "b"):
            self.text = None
        if tag == "h2":
            self.heading = None
        if tag == "section":
            self.section = None

    def handle_data(self, data):
        if self.text:
            self.text[0][self.text[1]] += data
        if self.heading:
            self.sections[self.heading][2] += data


def chromium(browser, home, *args):
    profile = tempfile.mkdtemp(dir=home)
    return subprocess.run(
        [browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--user-data-dir=" + profile] + list(args),
        capture_output=True, timeout=TIMEOUT, env=dict(os.environ, HOME=home))


def main():
    if len(sys.argv) != 6:
        fail("usage: check-status-page.py STATUS DOWNLOAD SIM EXTRACT OUTDIR")
    tools = dict(zip(("status", "download", "sim", "extract"), sys.argv[1:5]))
    outdir = sys.argv[5]
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if not browser:
        if os.environ.get("CI"):
            fail("chromium is missing (scripts/setup installs it)")
        print("check-status-page: skipped: chromium is not installed")
        sys.exit(77)

    with tempfile.TemporaryDirectory() as work:
        home = os.path.join(work, "home")
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/.config",
                   XDG_DOCUMENTS_DIR=home + "/Documents", TZ="UTC")
        project = home + "/Documents/Pelox5"
        os.makedirs(project)
        download_from_simulator(tools, project, env)
        deployment(project, "badjournal", rcd="1-50,60-80\n",
                   journal=journal_line("2026-12-09T10:00:00+00:00", "complete", 90)
                   + "{\"outcome\": <b>not json</b>\n"
                   + journal_line("2026-12-09T11:00:00+00:00", "fatal", None))
        deployment(project, "nostore", rcd="5-10\n",
                   journal=journal_line("2026-12-09T10:00:00+00:00", "complete", 12))
        deployment(project, "noruns")
        with open(os.path.join(deployment(project, "broken"), "cfg", "deployment.cfg"), "w") as f:
            f.write("{\"Name\": <broken>")
        deployment(project, ODD, journal=journal_line("2026-12-09T10:00:00+00:00", "fatal", None),
                   port="<img src=x>:1")

        listing = json.loads(run([tools["status"], "--json"], env, expect=[0, 1]).stdout)
        page = os.path.join(work, "page", "index.html")
        os.makedirs(os.path.dirname(page))
        run([tools["status"], "-a", "--html", page], env, expect=[0, 1])
        url = "file://" + page

        netlog = os.path.join(work, "net.json")
        r = chromium(browser, home, "--log-net-log=" + netlog, "--dump-dom", url)
        if r.returncode != 0 or not r.stdout:
            fail("chromium --dump-dom failed: " + r.stderr.decode(errors="replace")[-2000:])
        dom = Dom()
        dom.feed(r.stdout.decode())

        problems = []
        if len(dom.rows) != len(listing) or len(dom.sections) != len(listing):
            problems.append("%d rows and %d sections for %d deployments"
                            % (len(dom.rows), len(dom.sections), len(listing)))
        by_name = {d["deployment"]: d for d in listing}
        keys_row = ("session_files", "missing_records", "records_logged", "stored_records",
                    "record_conflicts")
        keys_section = ("missing_records", "records_logged", "stored_records", "record_conflicts",
                        "sessions_not_absorbed")

        def shown(value):
            return "-" if value is None else str(value)

        for name, cells in dom.rows:
            d = by_name.get(name)
            if d is None:
                problems.append("row for an unknown deployment %r" % name)
                continue
            for k in keys_row:
                if cells.get(k) != shown(d[k]):
                    problems.append("row %r: %s is %r, --json says %r" % (name, k, cells.get(k), d[k]))
        for sid, (name, figures, heading) in dom.sections.items():
            d = by_name.get(name)
            if d is None:
                problems.append("section for an unknown deployment %r" % name)
                continue
            if not heading.endswith(name):
                problems.append("section %s heading %r lacks the name" % (sid, heading))
            for k in keys_section:
                if k in figures and figures[k] != shown(d[k]):
                    problems.append("section %r: %s is %r, --json says %r" % (name, k, figures[k], d[k]))
            if d["missing_records"] is not None and "missing_records" not in figures:
                problems.append("section %r shows no missing count" % name)
        # Attention first, as --json marks it.
        order = [by_name[n]["needs_attention"] for n, _ in dom.rows if n in by_name]
        if order != sorted(order, reverse=True):
            problems.append("rows needing attention are not first: %r" % order)
        if by_name["normal"]["stored_records"] in (None, 0):
            problems.append("the downloaded deployment has no stored records")
        # Markup in names, journals and messages stays text.
        stray = dom.tags - PAGE_TAGS
        if stray:
            problems.append("elements the page does not make: %r" % sorted(stray))
        # Rows link to sections whose ids come from positions, never from names.
        ids = {"#" + i for i in dom.sections}
        if any(not i.startswith("#d-") or not i[3:].isdigit() for i in ids):
            problems.append("section ids not of the form d-N: %r" % sorted(ids))
        outside = [link for link in dom.links if link not in ids]
        if outside:
            problems.append("links out of the file or to no section: %r" % outside[:5])

        # Requests: the browser's own background traffic has no origin; anything
        # the page asked for would carry the file's.
        with open(netlog) as f:
            log = json.load(f)
        start = log["constants"]["logEventTypes"]["URL_REQUEST_START_JOB"]
        for event in log["events"]:
            params = event.get("params", {})
            if event["type"] == start and "url" in params and params.get("initiator") != "not an origin":
                problems.append("the page requested %s" % params.get("url"))

        os.makedirs(outdir, exist_ok=True)
        for width in (1280, 390):
            shot = os.path.join(outdir, "status-%d.png" % width)
            r = chromium(browser, home, "--screenshot=" + shot, "--window-size=%d,2000" % width,
                         "--hide-scrollbars", url)
            if r.returncode != 0 or not os.path.getsize(shot):
                problems.append("no screenshot at %d px: %s" % (width, r.stderr.decode()[-500:]))

        if problems:
            fail("\n  ".join(["the page disagrees:"] + problems))
        print("check-status-page: %d deployments checked; screenshots in %s" % (len(listing), outdir))


main()
