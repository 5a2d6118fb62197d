#!/usr/bin/python3
# The host's console in a real browser: starts the built vexa-host on a free port with a fresh
# data folder, opens its page in headless Chromium through chromedriver (Debian's Selenium), and
# goes through the six views as a developer does: clicks and typing only, each answer read off
# the page. Between views, and at the end, the browser's console must hold no warning and no
# error. Then, in the same browser, another site's page (a name of its own mapped to 127.0.0.1)
# tries to read and change the host, and fails. Last, through plain sockets: the requests such
# a page could send are refused and change nothing, the page comes with its content policy,
# and the page's OpenAPI link leads to the document.
#
#   /usr/bin/python3 console_test.py --host build/native/host/vexa-host --out DIR
#
# DIR receives a screenshot per view (api.png, call.png, ...), failure.png when a step fails,
# the host's standard error (host.stderr) and chromedriver's log. Exit status 0 when every
# step passes, 1 with the failed step named on standard error, 77 when the browser, its driver
# or Selenium is missing (CTest counts that as skipped).
import argparse
import ctypes
import http.client
import http.server
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

try:  # Debian's python3-selenium; without it the test skips (require_browser)
    from selenium import webdriver
    from selenium.common.exceptions import StaleElementReferenceException, TimeoutException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    webdriver = None

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
SKIPPED = 77
FOREIGN_NAME = "evil.example"  # another site's name, which the browser resolves to 127.0.0.1
WAIT_SECONDS = 10  # the longest one condition on the page is waited for
WHOLE_RUN_SECONDS = 90  # then the run is failed, and the browser and the host still stopped


class StepFailed(Exception):
    pass


def skip(reason):
    print(f"console_test: skipped: {reason}", file=sys.stderr)
    sys.exit(SKIPPED)


def require_browser():
    for program, package in ((CHROMIUM, "chromium"), (CHROMEDRIVER, "chromium-driver")):
        if not os.access(program, os.X_OK):
            skip(f"{program} is missing (Debian package {package})")
    if webdriver is None:
        skip(f"{sys.executable} has no selenium module (Debian package python3-selenium)")


def die_with_parent():
    """In the child before exec: a test killed outright takes its host and driver with it."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Host:
    """The vexa-host under test, on a free port with its own data folder."""

    def __init__(self, program, out):
        self.data = tempfile.TemporaryDirectory(prefix="vexa-console-")
        self.stderr_path = out / "host.stderr"
        self.stderr = open(self.stderr_path, "wb")
        self.process = subprocess.Popen(
            [program, "--port", "0", "--data-dir", self.data.name],
            stdout=subprocess.PIPE, stderr=self.stderr, stdin=subprocess.DEVNULL,
            preexec_fn=die_with_parent)
        try:
            self.port = self._read_port()
        except BaseException:
            self.process.kill()
            self.process.wait()
            raise
        # The host prints little after the start, but its pipe must never fill.
        threading.Thread(target=self.process.stdout.read, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.port}"

    def _read_port(self):
        for line in self.process.stdout:  # ends when the host exits; the whole run has a time limit
            found = re.search(rb"listening on http://127\.0\.0\.1:(\d+)", line)
            if found:
                return int(found.group(1))
        status = self.process.wait()
        raise StepFailed(f"the host exited with status {status} before listening; "
                         f"its standard error:\n{self.stderr_path.read_text(errors='replace')}")

    def stop(self):
        """SIGINT, as Ctrl-C: the host answers what is in flight and exits with status 0."""
        if self.data is None:
            return
        killed = False
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
                killed = True
        self.stderr.close()
        self.data.cleanup()
        self.data = None
        if killed:
            raise StepFailed("the host did not stop within 10 s of SIGINT (killed)")
        if self.process.returncode != 0:
            raise StepFailed(f"the host exited with status {self.process.returncode} on SIGINT; "
                             f"see {self.stderr_path}")

    def request(self, method, path, headers=None, body=None):
        """One request over a socket of its own: (status, headers, body text)."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=WAIT_SECONDS)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            answer = connection.getresponse()
            return answer.status, answer.headers, answer.read().decode(errors="replace")
        finally:
            connection.close()


class ForeignSite:
    """Another site's page, an empty one, served on a port of its own: the browser opens it as
    http://evil.example:PORT/, another origin than the console's."""

    class Page(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            body = b"<!doctype html><title>elsewhere</title><p>another site"
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *_):
            pass

    def __init__(self):
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), self.Page)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = f"http://{FOREIGN_NAME}:{self.server.server_address[1]}/"

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def start_browser(out):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--window-size=1280,900"):
        options.add_argument(argument)
    # A name of another site pointing at 127.0.0.1, as DNS rebinding makes one.
    options.add_argument(f"--host-resolver-rules=MAP {FOREIGN_NAME} 127.0.0.1")
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})  # the page's console
    service = Service(CHROMEDRIVER, log_path=str(out / "chromedriver.log"),
                      popen_kw={"preexec_fn": die_with_parent})
    return webdriver.Chrome(service=service, options=options)


class Console:
    """The page in the browser, found by the ids and classes the console promises."""

    def __init__(self, driver, host, out):
        self.driver, self.host, self.out = driver, host, out
        self.waiter = WebDriverWait(driver, WAIT_SECONDS, poll_frequency=0.05)
        self.expected_network_errors = []
        self.openapi_href = None  # the header's link, followed once the browser is closed

    def find(self, selector):
        return self.driver.find_element(By.CSS_SELECTOR, selector)

    def find_all(self, selector):
        return self.driver.find_elements(By.CSS_SELECTOR, selector)

    def text(self, selector):
        found = self.find_all(selector)
        return found[0].text if found else ""

    def wait(self, what, condition):
        """Waits until condition() is true; a page that never gets there fails with `what`."""
        def holds(_):
            try:
                return condition()
            except StaleElementReferenceException:  # the page redrew it meanwhile
                return False

        try:
            return self.waiter.until(holds)
        except TimeoutException:
            raise StepFailed(f"after {WAIT_SECONDS} s still not: {what}") from None

    def click(self, selector):
        self.wait(f"{selector} is on the page and can be clicked",
                  lambda: self.find(selector).is_displayed() and self.find(selector).is_enabled())
        self.find(selector).click()

    def type_into(self, selector, text):
        """Replaces what the field holds with `text` as keys, as a user does (each key an
        input event)."""
        self.click(selector)
        self.find(selector).send_keys(Keys.CONTROL, "a", Keys.NULL, Keys.BACKSPACE, *text)

    def forget(self, selector):
        """Empties what the page shows in `selector`, so that only a new answer can fill it."""
        self.driver.execute_script(
            "for (const e of document.querySelectorAll(arguments[0])) e.textContent = ''", selector)

    def open_view(self, name):
        self.click(f"#nav-{name}")
        self.wait(f"the {name} view is shown (#view-{name} without the hidden attribute)",
                  lambda: self.find(f"#view-{name}").get_attribute("hidden") is None)
        for other in self.find_all("section[id^=view-]"):
            if other.get_attribute("id") != f"view-{name}" and other.is_displayed():
                raise StepFailed(f"#view-{name} is open and #{other.get_attribute('id')} "
                                 "is still shown beside it")

    def screenshot(self, name):
        self.driver.save_screenshot(str(self.out / f"{name}.png"))

    def expect_network_error(self, pattern):
        """The next browser log check lets one network error matching `pattern` pass: the
        browser reports a fetch answered with 4xx/5xx as an error even when the page asked
        for it on purpose."""
        self.expected_network_errors.append(re.compile(pattern))

    def check_browser_log(self, after):
        problems = []
        for entry in self.driver.get_log("browser"):
            if entry["level"] not in ("SEVERE", "WARNING"):
                continue
            expected = next((p for p in self.expected_network_errors
                             if entry.get("source") == "network" and p.search(entry["message"])),
                            None)
            if expected is not None:
                self.expected_network_errors.remove(expected)
                continue
            problems.append(f"  {entry['level']} ({entry.get('source', '?')}): {entry['message']}")
        self.expected_network_errors.clear()
        if problems:
            raise StepFailed(f"the browser's console has warnings or errors after {after}:\n"
                             + "\n".join(problems))


# ---- the page, view by view -------------------------------------------------------------

WHEREAMI_EVENT = "whereami"
# An endpoint's operation by the end of its name, whatever the case: "whereami" finds both
# "whereami" and the API table's "GetKorGeoinfoV1Whereami".
OPERATION = '[data-operation$="{}" i]'


def api_view_lists_the_endpoints_and_filters_them(page):
    page.driver.get(page.host.url + "/")
    page.open_view("api")
    endpoint = "#view-api .endpoint" + OPERATION
    page.wait("the API view lists whereami and getlocation",
              lambda: page.find_all(endpoint.format("whereami"))
              and page.find_all(endpoint.format("getlocation")))
    page.wait("the API view has type definitions (.type-def with an id type-<Name>)",
              lambda: any((d.get_attribute("id") or "").startswith("type-")
                          for d in page.find_all("#view-api .type-def")))
    links = page.find_all("#view-api .endpoint a[href*='type-']")
    if not links:
        raise StepFailed("no type name in the API view's endpoints links to its definition")
    target = "type-" + links[0].get_attribute("href").rsplit("type-", 1)[-1]
    if not page.find_all(f".type-def[id='{target}']"):
        raise StepFailed(f"the type link {links[0].get_attribute('href')} leads to no .type-def "
                         f"with the id {target}")
    links[0].click()
    page.wait(f"clicking the type link brings #{target} into view",
              lambda: page.driver.execute_script(
                  "const box = document.getElementById(arguments[0]).getBoundingClientRect();"
                  "return box.bottom > 0 && box.top < window.innerHeight", target))
    page.openapi_href = page.find("#openapi-link").get_attribute("href")
    page.screenshot("api")
    page.type_into("#api-filter", "getloc")
    page.wait("typing 'getloc' into the filter hides whereami and keeps getlocation",
              lambda: not page.find(endpoint.format("whereami")).is_displayed()
              and page.find(endpoint.format("getlocation")).is_displayed())
    page.type_into("#api-filter", "")
    page.wait("emptying the filter shows whereami again",
              lambda: page.find(endpoint.format("whereami")).is_displayed())
    page.check_browser_log("the API view")


def choose_endpoint(page, operation):
    page.open_view("call")
    option = f'#call-endpoint option[value$="{operation}" i]'
    page.wait(f"the endpoint list offers {operation}", lambda: page.find_all(option))
    Select(page.find("#call-endpoint")).select_by_value(page.find(option).get_attribute("value"))


def send(page, arguments=None):
    """Fills the form's inputs by name, sends, and returns (status text, answer text)."""
    for name, value in (arguments or {}).items():
        page.type_into(f"#call-form [name={name}]", value)
    page.forget("#call-status, #call-answer")
    page.click("#call-send")
    page.wait("Send shows a status and an answer",
              lambda: re.match(r"\d{3}", page.text("#call-status")) and page.text("#call-answer"))
    return page.text("#call-status"), page.text("#call-answer")


def whereami_answer(page):
    choose_endpoint(page, "whereami")
    status, answer = send(page)
    if not status.startswith("200"):
        raise StepFailed(f"whereami answered {status!r}: {answer}")
    return answer


def call_view_sends_whereami(page):
    answer = whereami_answer(page)
    if '"success": true' not in answer:
        raise StepFailed(f'whereami\'s answer has no "success": true (pretty-printed): {answer}')
    curl = page.text("#call-curl")
    if "curl" not in curl or "/kor-geoinfo/v1/whereami" not in curl:
        raise StepFailed(f"the curl line does not ask for /kor-geoinfo/v1/whereami: {curl!r}")
    page.screenshot("call")
    page.check_browser_log("whereami in the Call view")


def call_view_sends_getlocation(page):
    # Reached from the API view: the endpoint's link opens its form in Call (#/call/<operation>).
    page.open_view("api")
    page.click("#view-api .endpoint" + OPERATION.format("getlocation") + " a[href^='#/call/']")
    page.wait("the endpoint's link in the API view opens Call with getlocation chosen",
              lambda: page.find("#view-call").get_attribute("hidden") is None
              and Select(page.find("#call-endpoint")).first_selected_option.get_attribute(
                  "value").lower().endswith("getlocation"))
    page.wait("the getlocation form has an ip_address input",
              lambda: page.find_all("#call-form input[name=ip_address]"))
    status, answer = send(page, {"ip_address": "8.8.8.8"})
    if not status.startswith("200") or not re.search(r'"country": "[A-Z]{2}"', answer):
        raise StepFailed(f"getlocation of 8.8.8.8 answered {status!r} without a two-letter "
                         f"country: {answer}")
    curl = page.text("#call-curl")
    if "ip_address=8.8.8.8" not in curl:
        raise StepFailed(f"the curl line does not carry the address typed: {curl!r}")
    page.check_browser_log("getlocation in the Call view")


def call_view_shows_an_error_answer(page):
    choose_endpoint(page, "getlocation")
    page.expect_network_error(r"getlocation\?ip_address=not-an-address.* status of 4\d\d")
    status, answer = send(page, {"ip_address": "not-an-address"})
    if status.startswith("2") or "errorCode" not in answer:
        raise StepFailed(f"getlocation of not-an-address answered {status!r} without an "
                         f"errorCode: {answer}")
    page.check_browser_log("an error answer in the Call view")


def session_state(page):
    return page.text("#session-state")


def whereami_event_rows(page, located):
    """The events list's whereami rows: those with a location (a sign-in's) or those without
    (a deletion's, "data": null)."""
    return [row for row in page.find_all("#events-list .event-row")
            if WHEREAMI_EVENT in row.find_element(By.CSS_SELECTOR, ".event-name").text
            and located == ('"geoInfo"' in row.find_element(
                By.CSS_SELECTOR, "details.event-payload").get_attribute("textContent"))]


def delete_the_session_and_clear_its_events(page):
    page.open_view("platform")
    page.wait("the platform view shows the signed-in session",
              lambda: "SUCCEEDED" in session_state(page))
    page.click("#session-delete")
    page.wait("Delete ends the session (#session-state no longer SUCCEEDED)",
              lambda: session_state(page) and "SUCCEEDED" not in session_state(page))
    page.check_browser_log("deleting the session")

    page.open_view("events")
    page.wait(f"the events view shows the deletion's *{WHEREAMI_EVENT}* event without a location",
              lambda: whereami_event_rows(page, located=False))
    page.click("#events-clear")
    page.wait("Clear empties the events list", lambda: not page.find_all("#events-list .event-row"))
    page.check_browser_log("clearing the events")


def sign_in_publishes_the_location(page):
    page.open_view("platform")
    page.type_into("#signin-profile", "7")
    page.type_into("#signin-account", "9")
    page.click("#session-signin")
    page.wait("Sign in starts a session (#session-state SUCCEEDED)",
              lambda: "SUCCEEDED" in session_state(page))
    page.screenshot("platform")
    page.check_browser_log("signing in")

    page.open_view("events")
    page.wait(f"the events view shows an event named *{WHEREAMI_EVENT}* with the location "
              "after the sign-in", lambda: whereami_event_rows(page, located=True))
    whereami_event_rows(page, located=True)[0].find_element(By.CSS_SELECTOR, "summary").click()
    page.wait("a click on the event unfolds its payload, the location shown",
              lambda: any('"geoInfo"' in pre.text for row in whereami_event_rows(page, located=True)
                          for pre in row.find_elements(By.CSS_SELECTOR, "details[open] pre")))
    page.screenshot("events")
    page.check_browser_log("the events view")


def apply_error_rate(page, rate):
    page.open_view("platform")
    page.type_into("#fault-errorRate", rate)
    page.forget("#platform-message")
    page.click("#faults-apply")
    page.wait(f"Apply (error rate {rate}) reports in #platform-message",
              lambda: page.text("#platform-message"))


def injected_errors_make_whereami_fall_back(page):
    apply_error_rate(page, "1")
    answer = whereami_answer(page)
    if '"isLatest": false' not in answer:
        raise StepFailed(f'with error rate 1 whereami does not answer "isLatest": false: {answer}')
    apply_error_rate(page, "0")
    answer = whereami_answer(page)
    if '"isLatest": true' not in answer:
        raise StepFailed(f'with error rate 0 again whereami does not answer "isLatest": true: '
                         f"{answer}")
    page.check_browser_log("the service's faults")


def log_view_shows_the_plugins_lines(page):
    page.open_view("log")
    plugin_rows = "#log-list .log-row[data-source=plugin]"
    page.wait("the log view shows a plugin line about its service proxy request",
              lambda: any("service proxy request" in row.text
                          for row in page.find_all(plugin_rows + " .log-text")))
    page.screenshot("log")
    page.check_browser_log("the log view")


def health_view_draws_the_chart(page):
    page.open_view("health")
    page.wait("svg#health-chart draws a series (a polyline or path with points)",
              lambda: page.driver.execute_script(
                  "const svg = document.querySelector('svg#health-chart');"
                  "return svg !== null && [...svg.querySelectorAll('polyline, path')].some("
                  "  (line) => (line.getAttribute('points') || line.getAttribute('d') || '')"
                  "    .trim() !== '')"))
    page.wait("#health-uptime shows a number",
              lambda: re.search(r"\d", page.text("#health-uptime")))
    page.screenshot("health")
    page.check_browser_log("the health view")


# What a script of another site's page gets from the host: its requests fail in the browser
# (the host grants no CORS), whatever they were meant to change stays, and the console itself
# does not load under another name (DNS rebinding).
FOREIGN_SCRIPT = """
const [host, done] = arguments;
const attempt = (path, options) => fetch(host + path, options).then(
    (answer) => `answered ${answer.status}`, (error) => 'blocked');
Promise.all([
  attempt('/host/v1/session', {}),
  attempt('/host/v1/faults', {method: 'PUT', headers: {'Content-Type': 'application/json'},
                              body: '{"errorRate": 1}'}),
  attempt('/host/v1/session', {method: 'DELETE', headers: {'Content-Type': 'application/json'}}),
]).then(done);
"""


def another_sites_page_cannot_drive_the_host(page):
    page.check_browser_log("the console")  # what comes now is the other site's, refused
    session_before = page.host.request("GET", "/host/v1/session")[2]
    faults_before = page.host.request("GET", "/host/v1/faults")[2]

    page.driver.get(f"http://{FOREIGN_NAME}:{page.host.port}/")
    if page.find_all("#nav-api"):
        raise StepFailed(f"the console loads as http://{FOREIGN_NAME}:{page.host.port}/, a name "
                         "of another site pointing at 127.0.0.1")

    foreign = ForeignSite()
    try:
        page.driver.get(foreign.url)
        page.driver.set_script_timeout(WAIT_SECONDS)
        outcomes = page.driver.execute_async_script(FOREIGN_SCRIPT, page.host.url)
    finally:
        foreign.stop()
    if outcomes != ["blocked"] * 3:
        raise StepFailed(f"from {foreign.url}, reading the session, setting the faults and "
                         f"deleting the session were not all blocked: {outcomes}")
    for path, before in (("/host/v1/session", session_before), ("/host/v1/faults", faults_before)):
        after = page.host.request("GET", path)[2]
        if json.loads(after) != json.loads(before):
            raise StepFailed(f"another site's page changed {path}: {before} became {after}")
    page.driver.get_log("browser")  # the refusals, as the browser reports them


PAGE_STEPS = [
    api_view_lists_the_endpoints_and_filters_them,
    call_view_sends_whereami,
    call_view_sends_getlocation,
    call_view_shows_an_error_answer,
    delete_the_session_and_clear_its_events,
    sign_in_publishes_the_location,
    injected_errors_make_whereami_fall_back,
    log_view_shows_the_plugins_lines,
    health_view_draws_the_chart,
    another_sites_page_cannot_drive_the_host,
]


# ---- over plain sockets, the browser closed: what another site's page could send -------

def foreign_requests_are_refused(page):
    host = page.host
    own = f"127.0.0.1:{host.port}"
    evil = "http://evil.example"
    faults_before = host.request("GET", "/host/v1/faults")[2]
    rows = [  # method, path, headers, body, the statuses that refuse it
        ("GET", "/host/v1/health", {"Host": f"evil.example:{host.port}"}, None, (421, 403)),
        ("PUT", "/host/v1/faults", {"Host": own, "Content-Type": "text/plain"},
         '{"errorRate":1}', (415, 403)),
        ("PUT", "/host/v1/faults", {"Host": own,
                                    "Content-Type": "application/x-www-form-urlencoded"},
         '{"errorRate":1}', (415, 403)),
    ]
    for method, path, headers, body, refusals in rows:
        status, _, text = host.request(method, path, headers, body)
        if status not in refusals:
            raise StepFailed(f"{method} {path} with {headers} answered {status} (want one of "
                             f"{refusals}): {text}")
    faults_after = host.request("GET", "/host/v1/faults")[2]
    if json.loads(faults_after) != json.loads(faults_before):
        raise StepFailed(f"refused PUTs changed the faults: {faults_before} became {faults_after}")

    status, headers, _ = host.request("OPTIONS", "/host/v1/faults", {
        "Origin": evil, "Access-Control-Request-Method": "PUT",
        "Access-Control-Request-Headers": "content-type"})
    if headers.get("Access-Control-Allow-Origin") is not None:
        raise StepFailed(f"a preflight from {evil} was granted (status {status}, "
                         f"Access-Control-Allow-Origin: {headers['Access-Control-Allow-Origin']})")


def the_page_comes_with_its_policy(page):
    status, headers, _ = page.host.request("GET", "/")
    policy = headers.get("Content-Security-Policy") or ""
    if status != 200 or "script-src 'self'" not in policy:
        raise StepFailed(f"GET / answered {status} with the policy {policy!r}; "
                         "want script-src 'self'")
    for loophole in ("unsafe-inline", "unsafe-eval"):
        if loophole in policy:
            raise StepFailed(f"the page's policy allows {loophole}: {policy!r}")


def the_openapi_link_leads_to_the_document(page):
    href = page.openapi_href or ""
    path = "/" + href.split("/", 3)[-1] if href.startswith("http") else href
    status, _, text = page.host.request("GET", path)
    try:
        document = json.loads(text) if status == 200 else {}
    except ValueError:
        document = {}
    if "openapi" not in document or "/kor-geoinfo/v1/whereami" not in document.get("paths", {}):
        raise StepFailed(f"the page's OpenAPI link {href} answered {status} without an OpenAPI "
                         f"document describing /kor-geoinfo/v1/whereami: {text[:300]}")


SOCKET_STEPS = [foreign_requests_are_refused, the_page_comes_with_its_policy,
                the_openapi_link_leads_to_the_document]


# ---- the run ------------------------------------------------------------------------------

def give_up(signum, _frame):
    raise StepFailed(f"the run took longer than {WHOLE_RUN_SECONDS} s"
                     if signum == signal.SIGALRM else f"stopped by signal {signum}")


def run(arguments):
    out = Path(arguments.out)
    out.mkdir(parents=True, exist_ok=True)
    for old in out.glob("*.png"):
        old.unlink()
    signal.signal(signal.SIGALRM, give_up)
    signal.signal(signal.SIGTERM, give_up)
    signal.alarm(WHOLE_RUN_SECONDS)

    step = "starting the host"
    host = driver = None
    try:
        host = Host(arguments.host, out)
        step = "starting the browser"
        driver = start_browser(out)
        page = Console(driver, host, out)
        for check in PAGE_STEPS:
            step = check.__name__
            check(page)
        step = "closing the browser"
        driver.quit()
        driver = None
        for check in SOCKET_STEPS:
            step = check.__name__
            check(page)
        step = "stopping the host"
        host.stop()
        host = None
    except Exception as failure:
        what = str(failure)
        if not isinstance(failure, StepFailed):  # the browser's or Selenium's own
            what = f"{type(failure).__name__}: {failure}"
        print(f"console_test: FAILED in step '{step}': {what}", file=sys.stderr)
        if driver is not None:
            try:
                driver.save_screenshot(str(out / "failure.png"))
                print(f"  the page then: {out / 'failure.png'}", file=sys.stderr)
            except Exception:
                pass
        if host is not None:
            print(f"  the host's standard error: {host.stderr_path}", file=sys.stderr)
        return 1
    finally:
        signal.alarm(0)
        if driver is not None:
            try:
                driver.quit()
            except Exception as failure:
                print(f"console_test: also: the browser did not close: {failure}", file=sys.stderr)
        if host is not None:
            try:
                host.stop()
            except StepFailed as failure:
                print(f"console_test: also: {failure}", file=sys.stderr)
    print(f"console_test: passed ({len(PAGE_STEPS)} page steps, {len(SOCKET_STEPS)} socket "
          f"steps; screenshots in {out})")
    return 0


def main():
    parser = argparse.ArgumentParser(description="The host's console in headless Chromium.")
    parser.add_argument("--host", required=True, help="the vexa-host program to start")
    parser.add_argument("--out", required=True, help="the folder for screenshots and logs")
    arguments = parser.parse_args()
    require_browser()
    started = time.monotonic()
    status = run(arguments)
    print(f"console_test: {time.monotonic() - started:.1f} s", file=sys.stderr)
    sys.exit(status)


if __name__ == "__main__":
    main()
