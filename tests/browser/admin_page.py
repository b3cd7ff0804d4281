"""The admin page in a real browser (headless chromium through chromedriver):
an admin logs in with a token made by -newadmin, kicks a bot, and sees it
leave; the token stays for the tab across a reload. Saves a screenshot.
Everything it starts (server, walking client, browser) is stopped at the
end, pass or fail; the whole run is bounded.

usage: /usr/bin/python3 tests/browser/admin_page.py BUILD_DIR [SCREENSHOT.png]"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
SHOT = sys.argv[2] if len(sys.argv) > 2 else os.path.join(BUILD, "admin-page.png")
SERVER = os.path.join(BUILD, "brastok_server")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait(what, cond, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        v = cond()
        if v:
            return v
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def main():
    procs = []
    driver = None
    work = tempfile.mkdtemp(prefix="brastok-admin-page-")
    try:
        out = subprocess.run([SERVER, "-newadmin", "ann", "moderator"], capture_output=True, text=True,
                             timeout=10, check=True).stdout.splitlines()
        token, line = out[1], out[3]
        with open(os.path.join(work, "admins"), "w") as f:
            f.write(line + "\n")
        http = free_port()
        server = subprocess.Popen([SERVER, "-port", "0", "-bots", "2", "-http", str(http), "-admins", "admins"],
                                  cwd=work, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        procs.append(server)
        udp = int(re.match(r"UDP initialized! UDP port: (\d+)", server.stdout.readline()).group(1))
        # Bots join while a human holds a slot.
        walker = subprocess.Popen([os.path.join(BUILD, "brastok_client"), "load", "-n", "1", "-t", "40",
                                   "--name", "Walker", f"127.0.0.1:{udp}"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(walker)

        opts = webdriver.ChromeOptions()
        opts.binary_location = "/usr/bin/chromium"
        for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                  "--window-size=1100,800"):
            opts.add_argument(a)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)
        driver.set_page_load_timeout(15)
        driver.set_script_timeout(5)
        driver.get(f"http://127.0.0.1:{http}/admin")

        # A wrong token is refused and asked again; the right one lets in.
        driver.find_element(By.ID, "token").send_keys("brastok_wrong")
        driver.find_element(By.ID, "enter").click()
        wait("the refusal", lambda: driver.find_element(By.ID, "loginerr").text == "wrong token")
        driver.find_element(By.ID, "token").send_keys(token)
        driver.find_element(By.ID, "enter").click()
        wait("the admin's name", lambda: driver.find_element(By.ID, "who").text == "ann (moderator)")

        # The page draws the list anew every second: each look and each
        # click is one script, on the rows as they are then.
        pick = """
const rows = [...document.querySelectorAll('#players tr')].filter(r => r.cells[1].textContent.endsWith(' (bot)'));
if (rows.length < 2) return null;
const r = rows[rows.length - 1], slot = r.dataset.slot;
return {slot, name: r.cells[1].textContent.replace(' (bot)', ''),
        ban: !r.querySelector(`button[data-cmd="ban ${slot}"]`).disabled};"""
        bot = wait("two bots in the player list", lambda: driver.execute_script(pick))
        slot, name = bot["slot"], bot["name"]
        # A moderator may kick but not ban: the ban button is off.
        assert not bot["ban"], "a moderator's ban button is on"
        click = "const b = document.querySelector(arguments[0]); if (b) b.click(); return !!b;"
        assert driver.execute_script(click, f'button[data-cmd="kick {slot}"]')
        wait("the answer to the kick", lambda: driver.find_element(By.ID, "answer").text == f"> kick {slot}\nok")
        wait(f"{name} leaving in the events",
             lambda: f"{name} disconnected!" in driver.find_element(By.ID, "log").text)
        # A bot has no address: its mute button is off. The moderator mutes
        # the walker's address.
        mutes = """
return [...document.querySelectorAll('#players tr')].map(r => [r.cells[1].textContent,
        r.querySelector('button[data-cmd^="mute "]').disabled]);"""
        rows = driver.execute_script(mutes)
        assert all(off == name.endswith(" (bot)") for name, off in rows), rows
        walk = """
const r = [...document.querySelectorAll('#players tr')].find(r => r.cells[1].textContent === 'Walker1');
if (r) r.querySelector('button[data-cmd^="mute "]').click();
return !!r;"""
        assert driver.execute_script(walk), rows
        wait("the answer to mute",
             lambda: "muted 127.0.0.1 (Walker1) until unmuted" in driver.find_element(By.ID, "answer").text)

        # The token stays for the tab: a reload needs no login.
        driver.refresh()
        wait("the panel after a reload", lambda: driver.find_element(By.ID, "who").text == "ann (moderator)")
        assert not driver.find_element(By.ID, "login").is_displayed()
        driver.save_screenshot(SHOT)
        print(f"admin page: logged in, kicked {name} (slot {slot}) and saw it leave; screenshot {SHOT}")
    finally:
        if driver is not None:
            driver.quit()
        for p in procs:
            p.terminate()
        for p in procs:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
