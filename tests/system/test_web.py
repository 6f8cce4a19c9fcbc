"""The box's web page end to end: the real daemon, the camera stand-in and
vb-web in the sandbox, the page driven in headless Chromium through Selenium.
The page shows the camera's moving attitude and its recording, a click on
"Record" reaches the camera as the record frame, a held control moves the
gimbal until let go, a settings change lands in the saved file (a password
left empty is kept, a form saved in part says which rows were saved), and
requests the box must not act on change nothing.
Only the box's own names are served, no answer holds a password, and neither
event streams nor slow clients shut the page out.

Screenshots of the page go to BUILD/test-artifacts/."""

import http.client
import json
import os
import re
import socket
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import zlib

# Selenium comes from Debian's python3-selenium, installed for the system's
# Python: the program run (this test, or one that imports it) starts again there.
try:
    import selenium  # noqa: F401
except ImportError:
    if os.access("/usr/bin/python3", os.X_OK) and os.path.realpath(sys.executable) != "/usr/bin/python3":
        os.execv("/usr/bin/python3", ["/usr/bin/python3", os.path.abspath(sys.argv[0])] + sys.argv[1:])
    raise

from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import Select, WebDriverWait  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402
import standins as si  # noqa: E402

PORT = 8080
PIN_FILE = "/run/vb/web-pin"
BASE = "http://127.0.0.1:%d" % PORT
BOOT_FILE = "/boot/vantagebridge-cable.conf"
MAILBOX = 1570
RECORD_START = "23 09>01 00 01:01 | 0C 00 00 00 00 91 0D 00 00 90"
RECORD_STOP = "23 09>01 00 01:01 | 04 00 00 00 00 91 0D 00 00 98"
SPEED = "20 02>04 40 04:0C"
PAN_600 = SPEED + " | 58 02 00 00 00 00 90"
STOP = SPEED + " | 00 00 00 00 00 00 90"
PASSWORDS = 'wifi_psk="lan-secret-1"\nap_psk="ap-secret-2"\n'
# Keeps, in window.sent, every command body the page posts with its time.
LOG_POSTS = """window.sent = [];
const original = window.fetch;
window.fetch = (url, options) => {
  if (options && options.body) window.sent.push([performance.now(), options.body]);
  return original(url, options);
};"""


def start_box(sb, camera_args=("--still",), config="control_enabled=1\n"):
    daemon = si.start_daemon(sb, config)
    camera = sb.start_tool("vb-camera", "--quiet", *camera_args)
    sb.expect(sb.wait_for(daemon, "data connected\n", timeout=15), "camera link did not come up")
    web = sb.start_tool("vb-web", "--port", PORT, "--box-dir", sandbox.WORK_DIR)
    sb.expect(sb.wait_for(web, "vb-web: serving", timeout=15), "vb-web did not start: " + web.stderr_text())
    return daemon, camera, web


class Browser:
    """Headless Chromium with a fresh, empty profile, closed on exit."""

    def __init__(self, width=1280, height=900, phone=False):
        self.profile = tempfile.mkdtemp(prefix="chromium-", dir="/run")
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
        for arg in ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--disable-dev-shm-usage", "--user-data-dir=" + self.profile,
                    "--window-size=%d,%d" % (width, height)]:
            options.add_argument(arg)
        if phone:
            options.add_experimental_option("mobileEmulation", {
                "deviceMetrics": {"width": width, "height": height, "pixelRatio": 2.0, "touch": True}})
        service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver")
        self.driver = webdriver.Chrome(service=service, options=options)

    def __enter__(self):
        return self.driver

    def __exit__(self, *exc):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)


def text_of(driver, element_id):
    return driver.find_element(By.ID, element_id).text


def wait_text(sb, driver, element_id, predicate, timeout, what):
    try:
        WebDriverWait(driver, timeout, poll_frequency=0.1).until(lambda d: predicate(text_of(d, element_id)))
    except Exception:
        raise AssertionError("%s: #%s reads %r" % (what, element_id, text_of(driver, element_id)))


def click(driver, css):
    """Clicks an element brought to the middle of the window, clear of the sticky header."""
    element = driver.find_element(By.CSS_SELECTOR, css)
    driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", element)
    element.click()
    return element


def open_page(sb, driver):
    driver.get(BASE + "/")
    wait_text(sb, driver, "connection", lambda t: t == "Live", 20, "page never went live")


def artefact(sb, name):
    folder = os.path.join(sb.build_dir, "test-artifacts")
    os.makedirs(folder, exist_ok=True)
    return os.path.join(folder, name)


def request(method, path, body=None, headers=None, timeout=30):
    """One HTTP request to vb-web; (status, parsed JSON body or raw text)."""
    status, _, data = si.web_request(path, method, body, headers, timeout, PORT)
    data = data.decode("utf-8", "replace")
    try:
        return status, json.loads(data)
    except ValueError:
        return status, data


def post_command(command, content_type="application/json", headers=None):
    body = command if isinstance(command, (str, bytes)) else json.dumps(command)
    all_headers = {"Content-Type": content_type}
    all_headers.update(headers or {})
    return request("POST", "/api/command", body, all_headers)


def test_page_shows_moving_attitude_and_recording(sb):
    # The camera stand-in's own script: a slow pan, and a recording from second
    # 10 to 20 of every 30.
    start_box(sb, camera_args=())
    with Browser() as driver:
        open_page(sb, driver)
        pans = set()
        sb.expect(sb.wait_until(lambda: pans.add(text_of(driver, "pan")) or len(pans - {"–"}) >= 3, 20),
                  "the pan angle did not move on the page: %r" % pans)
        wait_text(sb, driver, "rec-text", lambda t: t == "Recording", 40, "the recording never showed")
        sb.expect(text_of(driver, "record") == "Stop recording", "record button does not offer to stop")
        wait_text(sb, driver, "camera-link", lambda t: t == "Connected", 5, "camera link not shown")
        wait_text(sb, driver, "version", lambda t: "0.14.10" in t, 15, "the box's report never arrived")
        driver.save_screenshot(artefact(sb, "web-page-laptop.png"))
        wait_text(sb, driver, "rec-text", lambda t: t == "Not recording", 20, "the end of the recording never showed")
    with Browser(width=390, height=1300, phone=True) as phone:
        open_page(sb, phone)
        wait_text(sb, phone, "version", lambda t: "0.14.10" in t, 15, "the box's report never arrived")
        phone.save_screenshot(artefact(sb, "web-page-phone.png"))


def hold_repeats_and_stops(sb, driver, camera):
    """Holding "pan right" repeats its speed twice a second and the gimbal
    moves on; letting go, or the window losing focus, sends the stop."""
    driver.execute_script(LOG_POSTS)
    sent = lambda part: [t for t, body in driver.execute_script("return window.sent") if part in body]
    moving, stopping = '"moverel","value1":"600","value2":"0"', '"moverel","value1":"0","value2":"0"'
    pan = driver.find_element(By.CSS_SELECTOR, "[data-hold=pan-right]")
    since = len(si.lines(camera))
    ActionChains(driver).click_and_hold(pan).perform()
    sb.expect(sb.wait_until(lambda: len(sent(moving)) >= 6, 15), "the held control was not repeated")
    held = len(si.lines(camera))
    sb.expect(sb.wait_until(lambda: [f.text for f in si.frames(camera, held)].count(PAN_600) >= 10, 10),
              "the gimbal did not move on while held")
    ActionChains(driver).release(pan).perform()
    sb.expect(sb.wait_until(lambda: sent(stopping), 10), "letting go sent no stop")
    sb.expect(sb.wait_until(lambda: STOP in [f.text for f in si.frames(camera, held)], 10), "the gimbal did not stop")
    times = sent(moving)
    gaps = [b - a for a, b in zip(times, times[1:])]
    print("held control: %d repeats, every %.0f to %.0f ms" % (len(times), min(gaps), max(gaps)))
    ActionChains(driver).click_and_hold(pan).perform()
    sb.expect(sb.wait_until(lambda: len(sent(moving)) > len(times), 10), "the second hold sent nothing")
    driver.execute_script("window.dispatchEvent(new Event('blur'))")
    sb.expect(sb.wait_until(lambda: len(sent(stopping)) == 2, 10), "losing focus sent no stop")
    ActionChains(driver).release(pan).perform()
    sb.expect(PAN_600 in [f.text for f in si.frames(camera, since)], "no speed reached the camera")


def test_controls_reach_the_camera(sb):
    daemon, camera, web = start_box(sb)
    with Browser() as driver:
        open_page(sb, driver)
        hold_repeats_and_stops(sb, driver, camera)
        wait_text(sb, driver, "rec-text", lambda t: t == "Not recording", 15, "camera state not shown")
        since = len(si.lines(camera))
        click(driver, "#record")
        seen, ok = si.wait_lines(camera, lambda ls: "camera record on" in ls, 15, since)
        sb.expect(ok, "the camera never started recording")
        sb.expect(any(f.text == RECORD_START for f in si.frames(camera, since)), "no record frame reached the camera")
        wait_text(sb, driver, "rec-text", lambda t: t == "Recording", 15, "the page did not follow the camera")
        click(driver, "#record")
        seen, ok = si.wait_lines(camera, lambda ls: "camera record off" in ls, 15, since)
        sb.expect(ok and any(f.text == RECORD_STOP for f in si.frames(camera, since)), "stop did not reach the camera")
        wait_text(sb, driver, "rec-text", lambda t: t == "Not recording", 15, "the page did not follow the stop")


def test_settings_change_lands_in_the_saved_file(sb):
    daemon, camera, web = start_box(sb, config="control_enabled=1\n" + PASSWORDS)
    with Browser() as driver:
        open_page(sb, driver)
        wait_text(sb, driver, "version", lambda t: "0.14.10" in t, 15, "the box's report never arrived")
        click(driver, "#display-group summary")
        width = click(driver, "[data-key=osdbrdw]")
        width.clear()
        width.send_keys("12")
        click(driver, "[data-key=v_hf]")
        click(driver, "[data-testid=save-display]")
        answer = "#display-form .answer"
        WebDriverWait(driver, 20).until(lambda d: d.find_element(By.CSS_SELECTOR, answer).text.startswith("Saved"))
        sb.expect(driver.find_element(By.CSS_SELECTOR, answer).text == "Saved. The box reports the new settings.",
                  "answer: " + driver.find_element(By.CSS_SELECTOR, answer).text)
        data = si.read_bytes(BOOT_FILE)
        sb.expect(b"\r\nosd_border_width=12\r\n" in data and b"\r\nvideo_hflip=1\r\n" in data,
                  "the saved file lacks the change: %r" % data[-400:])

        # A text the file cannot hold is refused on the page, and nothing is sent.
        click(driver, "#wifi-group summary")
        ssid = click(driver, "[data-key=ap_ssid]")
        ssid.clear()
        ssid.send_keys(next(r["text"] for r in si.settings_texts() if r["key"] == "ap_ssid" and r["stored"] is None))
        before = daemon.stdout_text().count("Need to update param")
        click(driver, "[data-testid=save-wifi]")
        WebDriverWait(driver, 10).until(lambda d: d.find_elements(By.CSS_SELECTOR, "#wifi-form .problem"))
        problem = driver.find_element(By.CSS_SELECTOR, "#wifi-form .problem").text
        sb.expect("too long" in problem, "problem shown: %r" % problem)
        driver.save_screenshot(artefact(sb, "web-settings-refused.png"))

        # The password fields stay empty, and saved so they keep the box's passwords.
        psk = driver.find_element(By.CSS_SELECTOR, "[data-key=lan_psk]")
        sb.expect(psk.get_attribute("value") == "" and psk.get_attribute("placeholder").startswith("set"),
                  "password field: %r" % psk.get_attribute("placeholder"))
        ssid.clear()
        ssid.send_keys("Box")
        # The band picker offers the box's words; the box stores "2.4" as 2.
        band = Select(click(driver, "[data-key=ap_mode]"))
        offered = [(o.get_attribute("value"), o.text) for o in band.options]
        sb.expect(offered == [("0", "Not set"), ("2", "2.4 GHz"), ("5", "5 GHz")], "band picker: %r" % offered)
        band.select_by_visible_text("2.4 GHz")
        click(driver, "[data-testid=save-wifi]")
        WebDriverWait(driver, 20).until(lambda d: d.find_element(By.CSS_SELECTOR, "#wifi-form .answer").text.startswith("Saved"))
        # The form's one change since reached the box: the refused SSID never did.
        sb.expect(daemon.stdout_text().count("Need to update param") == before + 1, "the refused SSID was sent")
        data = si.read_bytes(BOOT_FILE)
        sb.expect(all(line in data for line in (b'ap_ssid="Box"', b'wifi_psk="lan-secret-1"', b'ap_psk="ap-secret-2"')),
                  "the saved file lost a password: %r" % data)
        sb.expect(b"\r\nap_mode=2\r\n" in data, "the band was not saved: %r" % data)

        # A form whose later row the box refuses (the page's own checks gone, as
        # when it could not load them): the rows before it are saved and named.
        click(driver, "#rc-group summary")
        driver.execute_script("limits = []")
        click(driver, "[data-key=rcin_en]")
        rc_map = click(driver, "[data-key=rcin_map]")
        rc_map.clear()
        rc_map.send_keys("pan," * 50)
        speed = click(driver, "[data-key=rcin_pan]")
        speed.clear()
        speed.send_keys("40")
        click(driver, "#rc-form button[type=submit]")
        answer = "#rc-form .answer"
        WebDriverWait(driver, 20).until(lambda d: d.find_element(By.CSS_SELECTOR, answer).text.startswith("Saved: "))
        text = driver.find_element(By.CSS_SELECTOR, answer).text
        sb.expect(text == "Saved: RC control. Not saved: Channel map (the RC channel map is too long); "
                          "not sent: Pan speed %, Tilt speed %, Dutch speed %.", "answer: %r" % text)
        data = si.read_bytes(BOOT_FILE)
        sb.expect(b"\r\nrc_input_enabled=1\r\n" in data and b"pan,pan" not in data, "saved: %r" % data[-900:])
        sb.expect(rc_map.get_attribute("value") == "pan," * 50, "the map not saved left the form")


def check_line_matches(data):
    """The saved file ends in a check line matching the LF text before it."""
    text = data.replace(b"\r\n", b"\n")
    body, last = text[:-1].rsplit(b"\n", 1)
    body += b"\n"
    return last == b"# check: %d bytes, crc32 %08x" % (len(body), zlib.crc32(body))


def test_a_backup_is_restored_and_a_damaged_one_refused(sb):
    daemon, camera, web = start_box(sb, config="control_enabled=1\n" + PASSWORDS)
    status, body = post_command({"cmd": "updateparam", "name": "osd_borders", "value": "12", "value2": "3"})
    sb.expect(status == 200, "the settings change: %d %r" % (status, body))
    # The backup is what the last save left: the /run copy, whole, passwords and all.
    status, headers, backup = si.web_request("/api/settings-file")
    sb.expect(status == 200 and headers.get("Content-Disposition")
              == 'attachment; filename="vantagebridge-cable.conf"', "download: %d %r" % (status, backup))
    sb.expect(backup == si.read_bytes("/run/vantagebridge.conf") and check_line_matches(backup)
              and b'wifi_psk="lan-secret-1"' in backup, "the backup is not the saved file: %r" % backup[-300:])

    edited = backup.replace(b"osd_border_width=12", b"osd_border_width=40").replace(b'ap_ssid=""', b'ap_ssid="Restored"')
    chosen = os.path.join(sandbox.SANDBOX_DIR, "edited-backup.conf")
    with open(chosen, "wb") as f:
        f.write(edited)
    sb.expect(not os.path.exists("/run/wlan.update"), "the Wi-Fi reload was asked for before the restore")
    with Browser() as driver:
        open_page(sb, driver)
        sb.expect(driver.find_element(By.ID, "backup").get_attribute("href") == BASE + "/api/settings-file",
                  "no backup link")
        driver.find_element(By.ID, "restore-file").send_keys(chosen)
        wait_text(sb, driver, "restore-answer", lambda t: t.startswith("Restored"), 40, "the restore was not answered")
        answer = text_of(driver, "restore-answer")
        sb.expect("2 settings changed; the file was edited by hand" in answer, "answer: %r" % answer)
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", driver.find_element(By.ID, "backup"))
        driver.save_screenshot(artefact(sb, "web-restored.png"))
    saved = si.read_bytes(BOOT_FILE)
    sb.expect(b"\r\nosd_border_width=40\r\n" in saved and b'\r\nap_ssid="Restored"\r\n' in saved
              and b'wifi_psk="lan-secret-1"' in saved and check_line_matches(saved),
              "the boot file does not hold the restored settings: %r" % saved[-400:])
    run_copy = si.read_bytes("/run/vantagebridge.conf")
    mode = os.stat("/run/vantagebridge.conf").st_mode & 0o777
    sb.expect(run_copy == saved.replace(b"\r\n", b"\n") and mode == 0o600, "run copy mode %o" % mode)
    sb.expect(os.path.exists("/run/wlan.update"), "the Wi-Fi was not asked to reload")

    # A damaged file is refused with its reason, and nothing changes.
    cut = list(edited[:len(edited) // 2])
    status, body = request("POST", "/api/settings-restore", json.dumps({"file": cut}),
                           {"Content-Type": "application/json"})
    sb.expect(status == 400 and "damaged" in body.get("error", "") and "cut short" in body["error"],
              "damaged upload: %d %r" % (status, body))
    sb.expect(si.read_bytes(BOOT_FILE) == saved, "the refused file changed the boot file")
    sb.expect(daemon.stderr_text().count("settings restored and saved") == 1, "a second restore ran")
    sb.expect(not os.listdir("/run/vb-web"), "the handover left files: %r" % os.listdir("/run/vb-web"))


def test_refused_requests_change_nothing(sb):
    """What each kind of request is answered is the unit test's table; here a
    request refused by each layer (the request's origin, the command's check)
    meets the real daemon, and changes nothing there."""
    daemon, camera, web = start_box(sb)
    too_long = next(r["text"] for r in si.settings_texts() if r["key"] == "wifi_ssid" and r["stored"] is None)
    cases = [
        ("other site", post_command({"cmd": "iso", "param": "400"}, headers={"Origin": "http://evil.example"}), 403),
        ("SSID too long", post_command({"cmd": "updateparam", "name": "wifi", "value5": too_long}), 400),
    ]
    for what, (status, body), wanted in cases:
        sb.expect(status == wanted and isinstance(body, dict) and body.get("ok") is False and body.get("error"),
                  "%s: HTTP %d, wanted %d with a clear error (%r)" % (what, status, wanted, body))
    # Commands reach the box one at a time, in order: once a good one has run,
    # a refused one would have run before it.
    status, body = post_command({"cmd": "iso", "param": "400"})
    sb.expect(status == 200 and body.get("ok") is True, "good request: %d %r" % (status, body))
    sb.expect(sb.wait_for(daemon, "set iso 400", timeout=10), "the good request did not reach the box")
    sb.expect(daemon.stderr_text().count("set iso 400") == 1, "a refused request reached the camera")
    sb.expect("Need to update param" not in daemon.stdout_text(), "a refused request changed a setting")
    sb.expect(not os.path.exists(BOOT_FILE), "a refused request saved the file")


def test_a_burst_waits_its_turn_and_overflow_is_refused(sb):
    daemon, camera, web = start_box(sb)
    results = []
    # As many connections as one address may open at once.
    barrier = threading.Barrier(12)

    def one():
        barrier.wait()
        results.append(post_command({"cmd": "iso", "param": "800"})[0])

    threads = [threading.Thread(target=one) for _ in range(12)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    sb.expect(set(results) <= {200, 503} and len(results) == 12, "statuses %r" % results)
    sb.expect(503 in results, "the queue took a burst of 12 without refusing any: %r" % results)
    taken = results.count(200)
    # Every command the page was told was taken ran exactly once, none of the refused ones.
    # One after them, in the same order: once it has run, every one taken before it has.
    sb.expect(post_command({"cmd": "iso", "param": "100"})[0] == 200, "the command after the burst was refused")
    sb.expect(sb.wait_for(daemon, "set iso 100", timeout=10), "the command after the burst did not run")
    sb.expect(daemon.stderr_text().count("set iso 800") == taken,
              "%d ran, %d taken" % (daemon.stderr_text().count("set iso 800"), taken))


def test_a_command_the_box_does_not_take_times_out_and_is_withdrawn(sb):
    daemon, camera, web = start_box(sb)
    os.kill(daemon.pid, signal.SIGSTOP)
    try:
        started = time.monotonic()
        status, body = post_command({"cmd": "iso", "param": "1600"})
        waited = time.monotonic() - started
        sb.expect(status == 504 and "did not take" in body.get("error", ""), "answer %d %r" % (status, body))
        sb.expect(waited < 20, "the page waited %.1f s" % waited)
        sb.expect(sb.read_hud(MAILBOX, 1) == b"\0", "the command was left in the mailbox")
    finally:
        os.kill(daemon.pid, signal.SIGCONT)
    # The mailbox holds one command: had the first stayed, it would run before the next.
    status, body = post_command({"cmd": "iso", "param": "200"})
    sb.expect(status == 200, "after the box came back: %d %r" % (status, body))
    sb.expect(sb.wait_for(daemon, "set iso 200", timeout=10), "the next command did not run")
    sb.expect("set iso 1600" not in daemon.stderr_text(), "the withdrawn command ran after all")


def test_pin_locks_the_controls_but_not_the_view(sb):
    daemon = si.start_daemon(sb)
    camera = sb.start_tool("vb-camera", "--quiet", "--still")
    sb.expect(sb.wait_for(daemon, "data connected\n", timeout=15), "camera link did not come up")
    made = subprocess.run([sb.binary("vb-web"), "--pin-file", PIN_FILE, "--set-pin"], input="4711\n",
                          capture_output=True, text=True)
    sb.expect(made.returncode == 0, "--set-pin: %s" % made.stderr)
    stored = open(PIN_FILE).read()
    sb.expect(os.stat(PIN_FILE).st_mode & 0o777 == 0o600 and stored.startswith("$y$") and "4711" not in stored,
              "the PIN file: mode %o, %r" % (os.stat(PIN_FILE).st_mode & 0o777, stored))
    web = sb.start_tool("vb-web", "--port", PORT, "--pin-file", PIN_FILE)
    sb.expect(sb.wait_for(web, "vb-web: serving", timeout=15), "vb-web did not start: " + web.stderr_text())
    sb.expect(post_command({"cmd": "iso", "param": "400"})[0] == 401, "a command went through without the PIN")
    removal = request("POST", "/api/pin", json.dumps({"current": "4711", "pin": ""}),
                      {"Content-Type": "application/json"})
    sb.expect(removal[0] == 401 and os.path.exists(PIN_FILE), "the PIN changed without a session: %r" % (removal,))
    sb.expect(request("GET", "/api/state")[0] == 200, "watching needs the PIN")

    with Browser() as driver:
        open_page(sb, driver)
        wait_text(sb, driver, "lock-state", lambda t: t.lower().startswith("locked"), 15, "the page shows no lock")
        click(driver, "#record")
        wait_text(sb, driver, "toast", lambda t: "locked" in t, 15, "a locked control said nothing")
        sb.expect("camera record on" not in si.lines(camera), "a locked control reached the camera")

        def unlock(pin):
            driver.execute_script("document.getElementById('lock-answer').textContent = ''")
            driver.find_element(By.ID, "pin").send_keys(pin)
            click(driver, "#unlock")
            wait_text(sb, driver, "lock-answer", lambda t: t != "", 15, "no answer to the PIN")
            return text_of(driver, "lock-answer")

        sb.expect(unlock("0000") == "wrong PIN", "a wrong PIN: %r" % text_of(driver, "lock-answer"))
        # The address waits a second after a wrong PIN: the page says so until then.
        answers = []
        sb.expect(sb.wait_until(lambda: answers.append(unlock("4711")) or answers[-1] == "Controls unlocked", 20),
                  "the right PIN did not unlock: %r" % answers)
        sb.expect(all(a == "Controls unlocked" or "try again in" in a for a in answers), "answers %r" % answers)
        cookie = driver.get_cookie("vb_session")
        sb.expect(cookie and cookie["httpOnly"] and cookie.get("sameSite") == "Strict" and len(cookie["value"]) == 64,
                  "the session cookie: %r" % cookie)
        wait_text(sb, driver, "lock-state", lambda t: t.lower() == "unlocked", 15, "the page did not show the unlock")
        since = len(si.lines(camera))
        click(driver, "#record")
        seen, ok = si.wait_lines(camera, lambda ls: "camera record on" in ls, 15, since)
        sb.expect(ok, "the unlocked control did not reach the camera")
        driver.save_screenshot(artefact(sb, "web-page-unlocked.png"))

    # Guessing is slowed per address: a wrong PIN, then at once another is refused for a while.
    pin = lambda p: request("POST", "/api/session", json.dumps({"pin": p}), {"Content-Type": "application/json"})
    sb.expect(pin("1111")[0] == 403, "a wrong PIN was not refused")
    status, body = pin("2222")
    sb.expect(status == 429 and "try again" in body.get("error", ""), "a second guess at once: %d %r" % (status, body))


# Asks vb-web from the outside host, from a given source address; prints the
# status, or "refused" when the connection was closed without an answer.
ASK_FROM = """
import http.client, sys
source, box = sys.argv[1], sys.argv[2]
try:
    c = http.client.HTTPConnection(box, %d, timeout=10, source_address=(source, 0))
    c.request("GET", "/api/state")
    print("status", c.getresponse().status, flush=True)
except (ConnectionError, http.client.RemoteDisconnected, OSError) as e:
    print("refused", type(e).__name__, flush=True)
""" % PORT


def test_clients_outside_the_connected_networks_are_refused(sb):
    daemon, camera, web = start_box(sb)
    outside = sb.outside_host()
    far = outside.start_python(ASK_FROM, outside.address, outside.box_address)
    near = outside.start_python(ASK_FROM, outside.peer_address, outside.box_address)
    sb.expect(si.wait_exit(sb, far, 20) == 0 and si.wait_exit(sb, near, 20) == 0, "the asking programs hung")
    sb.expect(far.stdout_text().startswith("refused"), "a client beyond the networks was served: %r"
              % far.stdout_text())
    sb.expect(near.stdout_text().strip() == "status 200", "a client in a connected network was not served: %r %r"
              % (near.stdout_text(), near.stderr_text()))
    sb.expect(sb.wait_for(web, "refused a client outside the box's networks", 5), "the refusal was not logged")


EVENTS = "GET /events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % PORT


def open_stream(source):
    """An event stream asked for from a source address: (socket left open, status code or None, first bytes)."""
    s = socket.create_connection(("127.0.0.1", PORT), timeout=30, source_address=(source, 0))
    s.sendall(EVENTS.encode())
    head = s.recv(4096)
    return s, int(head.split(b" ")[1]) if head.startswith(b"HTTP/1.1 ") else None, head


def drain(stream, chunks):
    try:
        while True:
            chunk = stream.recv(65536)
            if not chunk:
                return
            chunks.append(chunk)
    except OSError:
        return


def test_only_the_box_is_served_and_nobody_shuts_it_out(sb):
    daemon, camera, web = start_box(sb, config="control_enabled=1\n" + PASSWORDS)
    # The box's addresses are read live.
    subprocess.run([sandbox._ip(), "addr", "add", "10.77.0.1/24", "dev", "lo"], check=True)
    try:
        sb.expect(request("GET", "/", headers={"Host": "10.77.0.1:%d" % PORT})[0] == 200, "a new address was refused")
    finally:
        subprocess.run([sandbox._ip(), "addr", "del", "10.77.0.1/24", "dev", "lo"], check=True)

    # No answer holds a password: the report says one is set.
    status, answer = post_command({"cmd": "configrequest"})
    sb.expect(status == 200 and answer["report"]["lan_psk_set"] and answer["report"]["ap_psk_set"], repr(answer))
    early, status, head = open_stream("127.0.0.9")  # before the slow clients: it must outlive their deadline
    events = [head]
    threading.Thread(target=drain, args=(early, events), daemon=True).start()
    sb.expect(sb.wait_until(lambda: b"event: config" in b"".join(events), 10), "the stream sent no report")
    texts = [json.dumps(answer), json.dumps(request("GET", "/api/config")[1]), b"".join(events).decode()]
    sb.expect(not any("secret" in t for t in texts), "a password was served: %r" % texts)

    # Ten clients sending a header line every 5 s, and 64 event streams from 16 addresses.
    slow = sb.start(["slowhttptest", "-H", "-c", "10", "-i", "5", "-r", "10", "-l", "40", "-p", "3", "-u", BASE + "/"])
    plain = lambda: re.sub(r"\x1b\[[0-9;]*[A-Za-z]", "", slow.stdout_text())
    sb.expect(sb.wait_until(lambda: re.search(r"connected:\s*10\b", plain()), 20), "slowhttptest did not connect")
    streams, accepted = [early], {}
    for source in ["127.0.0.%d" % (10 + n // 4) for n in range(64)]:
        stream, status, _ = open_stream(source)
        streams.append(stream)
        accepted.setdefault(source, []).append(status)
    counts = [v.count(200) for v in accepted.values()]
    print("event streams: %d accepted (at most %d from one address), the others %r"
          % (sum(counts) + 1, max(counts), sorted({c for v in accepted.values() for c in v} - {200})))
    sb.expect(max(counts) == 2 and sum(counts) + 1 == 16 and all(set(v) <= {200, 429} for v in accepted.values()),
              "streams: %r" % accepted)
    started = time.monotonic()
    page = http.client.HTTPConnection("127.0.0.1", PORT, timeout=30, source_address=("127.0.0.99", 0))
    codes = []
    for path in ("/", "/app.js", "/style.css", "/api/state"):
        page.request("GET", path)
        response = page.getresponse()
        response.read()
        codes.append(response.status)
    print("page load under that load: %.3f s" % (time.monotonic() - started))
    sb.expect(codes == [200] * 4, "page load: %r" % codes)
    # The slow clients are closed by the request deadline; the older stream lives on.
    sb.expect(si.wait_exit(sb, slow, 60) is not None and "No open connections left" in plain(),
              "the slow clients stayed: %r" % plain()[-200:])
    print("slow clients closed: %s" % re.findall(r"Test ended on \d+\w+ second", plain()))
    sb.expect(sb.wait_for(web, "closed a connection whose request did not arrive in time", 5), "no deadline log")
    seen = len(events)
    sb.expect(sb.wait_until(lambda: len(events) > seen + 2, 10), "the older event stream was closed")
    for stream in streams:
        stream.close()


if __name__ == "__main__":
    sandbox.main([
        test_page_shows_moving_attitude_and_recording,
        test_controls_reach_the_camera,
        test_settings_change_lands_in_the_saved_file,
        test_a_backup_is_restored_and_a_damaged_one_refused,
        test_refused_requests_change_nothing,
        test_a_burst_waits_its_turn_and_overflow_is_refused,
        test_a_command_the_box_does_not_take_times_out_and_is_withdrawn,
        test_clients_outside_the_connected_networks_are_refused,
        test_only_the_box_is_served_and_nobody_shuts_it_out,
        test_pin_locks_the_controls_but_not_the_view,
    ])
