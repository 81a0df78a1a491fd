#!/usr/bin/env python3
"""Headless Chromium, driven through chromedriver's WebDriver protocol: opens
a page, follows the link with the given text and prints where the link went
and the text of the page it answered with.

    browser-follow-link.py PAGE_URL LINK_TEXT

Exit code 0 when the link was found and followed, 1 otherwise."""

import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

CHROMIUM = os.environ.get("VP_CHROMIUM", "/usr/bin/chromium")
CHROMEDRIVER = os.environ.get("VP_CHROMEDRIVER", "/usr/bin/chromedriver")
ELEMENT = "element-6066-11e4-a52e-4f735466cecf"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Driver:
    def __init__(self, port):
        self.base = f"http://127.0.0.1:{port}"

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=60) as answer:
                return json.load(answer)["value"]
        except urllib.error.HTTPError as error:
            raise RuntimeError(f"{method} {path}: {error.read().decode(errors='replace')}") from None

    def ready(self):
        try:
            return self.call("GET", "/status").get("ready", False)
        except (OSError, RuntimeError):
            return False


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    page, link_text = sys.argv[1:]
    port = free_port()
    driver_process = subprocess.Popen([CHROMEDRIVER, f"--port={port}"], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
    profile = tempfile.TemporaryDirectory()
    try:
        driver = Driver(port)
        for _ in range(100):
            if driver.ready():
                break
            time.sleep(0.1)
        else:
            print("browser: chromedriver did not start", file=sys.stderr)
            return 1
        options = {"binary": CHROMIUM,
                   "args": ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                            "--no-first-run", f"--user-data-dir={profile.name}"]}
        capabilities = {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": options}}
        session = driver.call("POST", "/session", {"capabilities": capabilities})["sessionId"]
        try:
            driver.call("POST", f"/session/{session}/url", {"url": page})
            link = driver.call("POST", f"/session/{session}/element", {"using": "link text", "value": link_text})
            element = link[ELEMENT]
            href = driver.call("GET", f"/session/{session}/element/{element}/attribute/href")
            driver.call("POST", f"/session/{session}/element/{element}/click", {})
            text = driver.call("POST", f"/session/{session}/execute/sync",
                               {"script": "return document.body ? document.body.innerText : ''", "args": []})
            print(f"followed {href}")
            print(text)
        finally:
            driver.call("DELETE", f"/session/{session}")
    except RuntimeError as error:
        print(f"browser: {error}", file=sys.stderr)
        return 1
    finally:
        driver_process.terminate()
        driver_process.wait(timeout=20)
        profile.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
