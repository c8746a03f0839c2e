#!/usr/bin/python3
"""The web application (kestrel::run_app()) in a real browser.

Starts the application with Rscript in the background on 127.0.0.1, drives it in headless Chromium
through chromedriver, and checks what a user sees against kestrel_design() and the program: a
design that is not the default (with futility stops) calculated and compared with kestrel_design()
of the same inputs; a bad value refused with its message next to its field and nothing calculated;
a second click while a calculation runs starting nothing; a long calculation cancelled while the
page stays usable; the downloaded deck run by the program giving the same sample size and the same
HTML report; two kept designs compared. Every process it started is stopped at the end.

Environment: R_LIBS (a library holding kestrel, shiny and callr), KESTREL_BINARY (the program).
With --screenshots DIR it also writes the page at 1280x800 and 1920x1080 into DIR.
"""
import argparse
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
SEED = 2024

# The design the test fills in (none of these is the form's starting value), as kestrel_design()
# takes it.
DESIGN_R = ('hr = c(0.75, 0.8), survival = c(0.35, 0.5), rho = 0.3, looks = c(0.5, 1), '
            'timing = "information_ep2", rule = "same", power = 0.85, accrual = 2.5, '
            'follow_up = 2, dropout = 0.02, spending = list(sf_obf(), sf_pocock()), '
            'futility = list(z = 0), mvn_accuracy = 1e-6, seed = %d' % SEED)
TEXT_FIELDS = {"hr_1": "0.75", "hr_2": "0.8", "survival_1": "0.35", "survival_2": "0.5",
               "rho": "0.3", "looks": "0.5, 1", "power": "0.85", "accrual": "2.5",
               "follow_up": "2", "dropout_1": "0.02", "mvn_accuracy": "1e-6", "seed": str(SEED),
               "futility_values": "0"}
SELECTS = {"timing": "information_ep2", "rule": "same", "spending_family_2": "pocock",
           "futility_kind": "z"}

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def descendants(pid):
    """Every process below pid (from /proc)."""
    children = {}
    for p in os.listdir("/proc"):
        if not p.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % p) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
        except OSError:
            continue
        children.setdefault(ppid, []).append(int(p))
    out, todo = [], [pid]
    while todo:
        for c in children.get(todo.pop(), []):
            out.append(c)
            todo.append(c)
    return out


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def r_json(code):
    out = subprocess.run(["Rscript", "-e", code], capture_output=True, text=True, timeout=120)
    if out.returncode != 0:
        raise RuntimeError(out.stderr)
    return json.loads(out.stdout.strip().splitlines()[-1])


def wait_for(driver, what, timeout=60):
    # Shiny replaces rendered parts of the page: an element found just before may be gone.
    return WebDriverWait(driver, timeout, poll_frequency=0.2,
                         ignored_exceptions=[StaleElementReferenceException]).until(lambda d: what(d))


def by_id(driver, id_):
    found = driver.find_elements(By.ID, id_)
    return found[0] if found else None


def text_of(driver, id_):
    return driver.execute_script(
        "var e = document.getElementById(arguments[0]); return e ? e.innerText.trim() : null;", id_)


def type_into(driver, id_, value):
    e = driver.find_element(By.ID, id_)
    driver.execute_script("arguments[0].scrollIntoView({block: 'center'});", e)
    e.clear()
    e.send_keys(value)


def tab(driver, name):
    driver.find_element(By.XPATH, "//ul[contains(@class,'nav')]//a[normalize-space()='%s']" % name).click()


def jobs_started(driver):
    return int(driver.execute_script("return document.getElementById('status').getAttribute('data-jobs');"))


def wait_done(driver, number, timeout=90):
    wait_for(driver, lambda d: ("Calculation %d done" % number) in (text_of(d, "status-message") or ""),
             timeout)


def table_rows(driver, id_, cells="td"):
    """The cells of a table's body rows (or its heading cells), read in one go."""
    return driver.execute_script(
        "var t = document.getElementById(arguments[0]); if (!t) return null;"
        "if (arguments[1] === 'th') return [Array.from(t.querySelectorAll('thead th'))"
        "  .map(function (c) { return c.textContent.trim(); })];"
        "return Array.from(t.querySelectorAll('tbody tr')).map(function (r) {"
        "  return Array.from(r.querySelectorAll('td')).map(function (c) { return c.textContent.trim(); }); });",
        id_, cells)


def fetch(base, href):
    with urllib.request.urlopen(href if href.startswith("http") else base + "/" + href, timeout=30) as r:
        return r.read()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--screenshots", help="directory for the screenshots")
    opts = ap.parse_args()
    started = time.time()
    work = tempfile.mkdtemp(prefix="kestrel-app-test-")
    port = free_port()
    base = "http://127.0.0.1:%d" % port
    app_log = open(os.path.join(work, "app.log"), "w")
    app = subprocess.Popen(["Rscript", "-e", "kestrel::run_app(port = %d, launch.browser = FALSE)" % port],
                           stdout=app_log, stderr=subprocess.STDOUT, start_new_session=True)
    driver = None
    service = None
    started_pids = []
    try:
        deadline = time.time() + 60
        while True:
            try:
                urllib.request.urlopen(base, timeout=2).read()
                break
            except OSError:
                if app.poll() is not None or time.time() > deadline:
                    raise RuntimeError("the application did not start:\n" +
                                       open(os.path.join(work, "app.log")).read())
                time.sleep(0.3)
        print("application up after %.1f s" % (time.time() - started), flush=True)

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + os.path.join(work, "profile"), "--window-size=1280,800"]:
            options.add_argument(flag)
        service = Service(CHROMEDRIVER, log_path=os.path.join(work, "chromedriver.log"))
        driver = webdriver.Chrome(service=service, options=options)
        started_pids = [service.process.pid] + descendants(service.process.pid)
        driver.get(base)
        wait_for(driver, lambda d: by_id(d, "no-results") is not None)

        # A bad value: its message next to its field, nothing calculated.
        type_into(driver, "rho", "1.5")
        driver.find_element(By.ID, "calculate").click()
        wait_for(driver, lambda d: "Not calculated" in (text_of(d, "status-message") or ""), 20)
        msg = text_of(driver, "error-rho")
        check(msg.startswith("`rho` must be a correlation of the event times in [0, 1)"),
              "bad rho: message next to its field: %r" % msg)
        check(driver.execute_script("return document.querySelector('#field-rho .field-error').innerText.trim();") == msg,
              "the message is inside the rho field")
        check(by_id(driver, "no-results") is not None and jobs_started(driver) == 0,
              "bad rho: nothing calculated")

        # The design, filled in; two clicks at once start one calculation.
        for id_, value in TEXT_FIELDS.items():
            type_into(driver, id_, value)
        for id_, value in SELECTS.items():
            Select(driver.find_element(By.ID, id_)).select_by_value(value)
        wait_for(driver, lambda d: text_of(d, "error-rho") == "", 20)
        driver.execute_script("var b = document.getElementById('calculate'); b.click(); b.click();")
        wait_for(driver, lambda d: by_id(d, "sample-size-EP2") is not None, 90)
        check(jobs_started(driver) == 1, "a double click started %d calculation(s)" % jobs_started(driver))
        app_n = int(text_of(driver, "sample-size-EP2"))
        app_power = text_of(driver, "power-EP2")
        app_first = table_rows(driver, "bounds-EP2-EP1")[0]
        print("page: sample size %d, power %s, first EP1 bound row %s" % (app_n, app_power, app_first))
        ref = r_json("library(kestrel); d <- kestrel_design(%s); "
                     "b <- kestrel:::app_bounds_table(d, 'EP2', 'EP1')[1, ]; "
                     "cat(sprintf('{\"n\": %%d, \"power\": \"%%.4f\", \"first\": [%%s]}', "
                     "sample_size(d)[['EP2']], power(d)[['EP2']], "
                     "paste0('\"', vapply(b, format, ''), '\"', collapse = ', ')))" % DESIGN_R)
        check(app_n == ref["n"], "sample size on the page %d, kestrel_design() %d" % (app_n, ref["n"]))
        check(app_power == ref["power"], "power on the page %s, kestrel_design() %s" % (app_power, ref["power"]))
        check(app_first == ref["first"], "first EP1 bound row on the page %s, kestrel_design() %s" %
              (app_first, ref["first"]))
        wait_done(driver, 1)

        # The deck downloaded and run by the program: the same size, the same HTML report.
        tab(driver, "Downloads")
        href = "var a = document.getElementById(arguments[0]); return a ? a.href : null;"
        wait_for(driver, lambda d: d.execute_script(href, "download-deck"), 30)
        deck = fetch(base, driver.execute_script(href, "download-deck"))
        report = fetch(base, driver.execute_script(href, "download-report"))
        run_dir = os.path.join(work, "run")
        os.makedirs(os.path.join(run_dir, "a"))
        with open(os.path.join(run_dir, "a", "input.txt"), "wb") as f:
            f.write(deck)
        program = os.environ["KESTREL_BINARY"]
        subprocess.run([program, "-C", run_dir, "--seed", str(SEED), "--mvn-accuracy", "1e-6"],
                       check=True, capture_output=True, timeout=120)
        with open(os.path.join(run_dir, "a", "kestrel-results.json")) as f:
            prog_n = json.load(f)["designs"][0]["sets"][0]["MSS"]
        check(prog_n == app_n, "the program on the downloaded deck: sample size %d, page %d" % (prog_n, app_n))
        with open(os.path.join(run_dir, "a", "kestrel-report.html"), "rb") as f:
            check(f.read() == report, "the downloaded HTML report is the program's report of the deck")
        tab(driver, "Results")

        # The first design kept; rule 1 instead of rule 2, calculated and kept; both compared.
        driver.find_element(By.ID, "keep").click()
        wait_for(driver, lambda d: "Kept as design A" in (text_of(d, "status-message") or ""), 20)
        Select(driver.find_element(By.ID, "rule")).select_by_value("any")
        driver.find_element(By.ID, "calculate").click()
        wait_done(driver, 2)
        n_any = int(text_of(driver, "sample-size-EP2"))
        driver.find_element(By.ID, "keep").click()
        wait_for(driver, lambda d: "Kept as design B" in (text_of(d, "status-message") or ""), 20)
        tab(driver, "Compare")
        wait_for(driver, lambda d: by_id(d, "compare-table") is not None, 20)
        heads = table_rows(driver, "compare-table", "th")[0]
        body = table_rows(driver, "compare-table")
        rows = {r[0]: r[1:] for r in body}
        check(heads[1:] == ["design A", "design B"], "compare columns %s" % heads)
        check(rows.get("rule") == ["same", "any"], "compare row rule %s" % rows.get("rule"))
        check(rows.get("sample size (set EP2)") == [str(app_n), str(n_any)],
              "compare row sample size %s, expected %s" % (rows.get("sample size (set EP2)"), [app_n, n_any]))
        check(len(body) >= 6, "compare table rows")
        loaded = "return Array.from(document.querySelectorAll('.side img'))" \
                 ".filter(function (i) { return i.complete && i.naturalWidth > 0; }).length;"
        wait_for(driver, lambda d: d.execute_script(loaded) == 2, 30)
        check(driver.execute_script(loaded) == 2, "two bounds plots side by side")

        if opts.screenshots:
            shots(driver, opts.screenshots)

        # A long calculation: progress shown, the page usable while it runs, then cancelled.
        tab(driver, "Results")
        type_into(driver, "nsim", "2000000")
        type_into(driver, "mvn_accuracy", "")
        driver.find_element(By.ID, "calculate").click()
        wait_for(driver, lambda d: by_id(d, "status-running") is not None, 20)
        type_into(driver, "alpha", "0.7")
        wait_for(driver, lambda d: (text_of(d, "error-alpha") or "").startswith("`alpha` must be"), 20)
        check(by_id(driver, "status-running") is not None, "the form answers while a calculation runs")
        wait_for(driver, lambda d: (text_of(d, "progress") or "starting") != "starting", 30)
        print("progress line: %s" % text_of(driver, "progress"))
        app_children = descendants(app.pid)
        driver.find_element(By.ID, "cancel").click()
        wait_for(driver, lambda d: "cancelled" in (text_of(d, "status-message") or ""), 20)
        time.sleep(1)
        check(by_id(driver, "status-running") is None and
              text_of(driver, "sample-size-EP2") == str(n_any),
              "cancelled: the previous results stay")
        check(jobs_started(driver) == 3, "three calculations started in all")
        gone = [p for p in app_children if p not in descendants(app.pid)]
        check(len(gone) >= 1, "the cancelled calculation's process is gone")
    finally:
        if driver is not None:
            driver.quit()
        left = descendants(app.pid) + [app.pid]
        try:
            os.killpg(app.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        for p in left:
            try:
                os.kill(p, signal.SIGTERM)
            except ProcessLookupError:
                pass
        try:
            app.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(app.pid, signal.SIGKILL)
            app.wait()
        time.sleep(1)
        still = [p for p in left + started_pids if alive(p)]
        for p in still:
            try:
                os.kill(p, signal.SIGKILL)
            except ProcessLookupError:
                pass
        check(not still, "every process started is stopped (left: %s)" % still)
        app_log.close()
    print("app browser test: %.1f s" % (time.time() - started))
    if failures:
        print("app browser test: %d failure(s); logs in %s" % (len(failures), work))
        sys.exit(1)
    subprocess.run(["rm", "-rf", work])


def shots(driver, outdir):
    os.makedirs(outdir, exist_ok=True)
    for w, h in [(1280, 800), (1920, 1080)]:
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": w, "height": h, "deviceScaleFactor": 1, "mobile": False})
        driver.execute_script("document.querySelector('.form').scrollTop = 0;")
        for name in ["Results", "Compare", "Plots", "R code"]:
            tab(driver, name)
            time.sleep(1)
            path = os.path.join(outdir, "app-%s-%dx%d.png" % (name.lower().replace(" ", "-"), w, h))
            driver.save_screenshot(path)
            print("screenshot", path)
    driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


if __name__ == "__main__":
    main()
