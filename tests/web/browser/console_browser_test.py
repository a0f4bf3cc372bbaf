#!/usr/bin/env python3
"""The web console in a real headless Chromium, against the real qmdriver on its emulator.

Signs in, sends messages whose echoes come back from hostile senders with hostile texts (the emulator
returns "SEND <number> <text>" as a message from <number>), and checks that they show literally as text,
that nothing ran (no dialog, no injected element, no script error, no CSP violation) and that the page
follows the message states, the counter, USSD and the link buttons. Leaves screenshots in --artifacts.
Exits 77 (skipped) when no Chromium is installed. Talks DevTools over --remote-debugging-pipe, so it
needs nothing but the Python standard library.
"""
import argparse
import base64
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

SKIPPED = 77
TO = '+4912345'
IMG = '<img src=x onerror=alert(1)>'
SCRIPT = '</script><script>alert(2)</script>'
IMG_NO_BLANKS = '<img/src=x/onerror=alert(1)>'
JS_URL = 'javascript:alert(3)'
# (text, WAP push address): the first two come back as received messages from hostile senders.
SENDS = [(f'SEND {SCRIPT} {IMG}', ''), (f'SEND {IMG_NO_BLANKS} {JS_URL}', ''), ('Offer', JS_URL)]


class Failure(Exception):
    pass


def wait_for(what, probe, limit=30.0):
    deadline = time.monotonic() + limit
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f'timed out waiting for {what}')
        time.sleep(0.2)


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class Driver:
    """qmdriver in a private home, configured from the shipped template, as tests/support's DriverSandbox."""

    def __init__(self, binary, template, home, port):
        program = os.path.join(home, 'program')
        for folder in ('program', 'run', 'units', 'xdg-autostart', 'config'):
            os.makedirs(os.path.join(home, folder), mode=0o700)
        settings = {'status.time': '1', 'sender.delay': '0', 'http.listen': f'127.0.0.1:{port}'}
        lines = []
        with open(template, encoding='utf-8') as f:
            for line in f.read().splitlines():
                key = line.split('=', 1)[0]
                lines.append(f'{key}={settings.pop(key)}' if '=' in line and key in settings else line)
        lines += [f'{key}={value}' for key, value in settings.items()]
        with open(os.path.join(program, 'qmdriver.cfg'), 'w', encoding='utf-8') as f:
            f.write('\n'.join(lines) + '\n')
        env = {k: v for k, v in os.environ.items() if not k.startswith(('XDG_', 'QMDRIVER_')) and k != 'HOME'}
        env.update(HOME=home, XDG_CONFIG_HOME=f'{home}/config', XDG_RUNTIME_DIR=f'{home}/run',
                   QMDRIVER_SERVICE_HOME=f'{home}/service', QMDRIVER_SYSTEMD_DIR=f'{home}/units',
                   QMDRIVER_XDG_AUTOSTART_DIR=f'{home}/xdg-autostart')
        self.log = f'{home}/config/Quillmoor SMS/qmdriver.log'
        self.output = f'{home}/driver.out'
        with open(self.output, 'wb') as out:
            self.process = subprocess.Popen([os.path.abspath(binary), '-noicon'], cwd=program, env=env, stdout=out,
                                            stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def read(self, path):
        try:
            with open(path, encoding='utf-8', errors='replace') as f:
                return f.read()
        except OSError:
            return ''

    def token(self):
        text = self.read(self.log) + self.read(self.output)
        found = re.search(r'Web console: http://127\.0\.0\.1:\d+/\?token=([0-9a-f]{64})', text)
        if self.process.poll() is not None:
            raise Failure(f'the driver ended with {self.process.returncode}')
        return found and found.group(1)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode


class Browser:
    """Headless Chromium driven over its DevTools pipe (fd 3 in, fd 4 out, messages ended by NUL)."""

    def __init__(self, executable, profile, log):
        to_browser, self.to_browser = os.pipe()
        self.from_browser, from_browser = os.pipe()
        args = [executable, '--headless=new', '--remote-debugging-pipe', f'--user-data-dir={profile}',
                '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run', '--no-default-browser-check',
                '--disable-extensions', '--disable-background-networking', '--hide-scrollbars']
        if os.geteuid() == 0:
            args.append('--no-sandbox')
        with open(log, 'wb') as err:
            self.process = subprocess.Popen(
                ['sh', '-c', f'exec "$0" "$@" 3<&{to_browser} 4>&{from_browser}', *args, 'about:blank'],
                pass_fds=(to_browser, from_browser), stdin=subprocess.DEVNULL, stdout=err, stderr=err,
                start_new_session=True, env={**os.environ, 'DBUS_SESSION_BUS_ADDRESS': 'disabled:'})
        os.close(to_browser)
        os.close(from_browser)
        self.buffer = b''
        self.last_id = 0
        self.session = None
        self.problems = []
        self.dialogs = []

    def call(self, method, limit=30.0, **params):
        self.last_id += 1
        message = {'id': self.last_id, 'method': method, 'params': params}
        if self.session and not method.startswith('Target.'):
            message['sessionId'] = self.session
        data = json.dumps(message).encode() + b'\0'
        while data:
            data = data[os.write(self.to_browser, data):]
        deadline = time.monotonic() + limit
        while True:
            answer = self.receive(deadline)
            if answer.get('id') == self.last_id:
                if 'error' in answer:
                    raise Failure(f'{method}: {answer["error"]}')
                return answer.get('result', {})

    def receive(self, deadline):
        while b'\0' not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure('the browser did not answer in time')
            if select.select([self.from_browser], [], [], left)[0]:
                chunk = os.read(self.from_browser, 1 << 20)
                if not chunk:
                    raise Failure('the browser closed its pipe')
                self.buffer += chunk
        raw, _, self.buffer = self.buffer.partition(b'\0')
        message = json.loads(raw)
        self.note(message.get('method'), message.get('params', {}))
        return message

    def note(self, method, params):
        if method == 'Page.javascriptDialogOpening':
            self.dialogs.append(params.get('message'))
            # Answered at once, so that a dialog cannot block the checks that report it.
            data = json.dumps({'id': 0, 'method': 'Page.handleJavaScriptDialog', 'params': {'accept': False},
                               'sessionId': self.session}).encode() + b'\0'
            os.write(self.to_browser, data)
        elif method == 'Runtime.exceptionThrown':
            self.problems.append(params['exceptionDetails'].get('exception', {}).get('description')
                                 or params['exceptionDetails'].get('text'))
        elif method == 'Runtime.consoleAPICalled' and params.get('type') in ('error', 'assert'):
            self.problems.append(' '.join(str(a.get('value', a.get('description'))) for a in params['args']))
        elif method == 'Log.entryAdded' and params['entry']['level'] == 'error':
            entry = params['entry']
            # The page probes the API before signing in: those 401 answers are expected.
            if not (entry.get('source') == 'network' and 'status of 401' in entry.get('text', '')):
                self.problems.append(f'{entry.get("source")}: {entry.get("text")}')

    def open_page(self, width, height):
        target = self.call('Target.createTarget', url='about:blank')['targetId']
        self.session = self.call('Target.attachToTarget', targetId=target, flatten=True)['sessionId']
        for domain in ('Page', 'Runtime', 'Log'):
            self.call(f'{domain}.enable')
        self.resize(width, height)

    def resize(self, width, height):
        self.call('Emulation.setDeviceMetricsOverride', width=width, height=height, deviceScaleFactor=1,
                  mobile=width < 600)

    def eval(self, expression, quiet=False):
        result = self.call('Runtime.evaluate', expression=expression, returnByValue=True, awaitPromise=True)
        if 'exceptionDetails' in result:
            if quiet:
                return None
            details = result['exceptionDetails']
            raise Failure(f'{expression}: {details.get("exception", {}).get("description", details.get("text"))}')
        return result['result'].get('value')

    def wait(self, what, expression, limit=30.0):
        # Quiet: while a page loads, its elements may not exist yet.
        return wait_for(what, lambda: self.eval(expression, quiet=True), limit)

    def navigate(self, url):
        # The old document is marked, so that no check below reads it while the new one loads.
        self.eval('window.qmOld = true')
        self.call('Page.navigate', url=url)
        self.wait(url, 'document.readyState === "complete" && !window.qmOld')

    def fill(self, element_id, value):
        self.eval(f'(() => {{ const e = document.getElementById({json.dumps(element_id)}); '
                  f'e.value = {json.dumps(value)}; e.dispatchEvent(new Event("input")); }})()')

    def click(self, selector):
        self.eval(f'document.querySelector({json.dumps(selector)}).click()')

    def text(self, element_id):
        return self.eval(f'document.getElementById({json.dumps(element_id)}).textContent')

    def screenshot(self, path):
        shot = self.call('Page.captureScreenshot', format='png', captureBeyondViewport=True)
        with open(path, 'wb') as f:
            f.write(base64.b64decode(shot['data']))

    def close(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)


def answers(url):
    try:
        with urllib.request.urlopen(url, timeout=5) as response:
            return response.status == 200
    except OSError:
        return False


def signed_in(browser):
    return browser.eval('document.getElementById("login").hidden && '
                        'document.getElementById("link-text").textContent.startsWith("Connected")', quiet=True)


def run(browser, base, token, artifacts):
    browser.open_page(1280, 900)
    # Without the cookie the page asks for the token; a wrong one is refused, the right one signs in.
    browser.navigate(f'{base}/')
    browser.wait('the sign-in form', '!document.getElementById("login").hidden')
    browser.fill('login-token', '0' * 64)
    browser.eval('document.getElementById("login-form").requestSubmit()')
    browser.wait('the refusal', 'document.getElementById("login-error").textContent.length > 0')
    browser.fill('login-token', token)
    browser.eval('document.getElementById("login-form").requestSubmit()')
    wait_for('the console after signing in', lambda: signed_in(browser), 60)
    # The address the driver prints signs in as well, and the token leaves the address bar.
    browser.call('Network.clearBrowserCookies')
    browser.navigate(f'{base}/?token={token}')
    wait_for('the console opened by the printed address', lambda: signed_in(browser))
    if browser.eval('location.href') != f'{base}/':
        raise Failure(f'the token stayed in the address: {browser.eval("location.href")}')

    # The counter follows the driver's codec.
    browser.fill('send-text', 'Привет')
    browser.wait('a UCS2 count', 'document.getElementById("counter").textContent.startsWith("UCS2 · 6 units · 1")')
    for text, url in SENDS:
        browser.fill('send-to', TO)
        browser.fill('send-text', text)
        browser.fill('send-url', url)
        if not url:
            browser.wait('the count', f'document.getElementById("counter").textContent.startsWith('
                         f'"GSM 7-bit · {len(text)} characters · 1 segment ")')
        before = browser.text('tracked-id')
        browser.eval('document.getElementById("send-report").checked = true;'
                     'document.getElementById("send-form").requestSubmit()')
        browser.wait('the message to be sent', f'document.getElementById("tracked-id").textContent !== "{before}" && '
                     'document.getElementById("tracked-state").textContent === "sent"', 60)
    browser.wait('the last message',
                 f'document.getElementById("last-from").textContent === {json.dumps(IMG_NO_BLANKS)}')
    browser.click('[data-box="inbox"]')
    browser.fill('search', 'alert(2)')
    browser.wait('the search', 'document.querySelectorAll("#rows-body tr").length === 1 && '
                 f'document.getElementById("rows-body").textContent.includes({json.dumps(SCRIPT)})')
    browser.fill('search', '')
    browser.click('[data-box="sent"]')
    browser.wait('the sent table', 'document.querySelectorAll("#rows-body tr").length === 3')

    browser.fill('ussd-code', '*100#')
    browser.eval('document.getElementById("ussd-form").requestSubmit()')
    browser.wait('the USSD reply', 'document.getElementById("ussd-reply").textContent.includes("balance")', 60)
    browser.click('#disconnect')
    browser.wait('the disconnection', 'document.getElementById("link-text").textContent.startsWith("Not connected")')
    browser.click('#connect')
    wait_for('the reconnection', lambda: signed_in(browser), 60)
    browser.wait('the live events', 'document.querySelectorAll("#events .kind.incoming").length >= 2 && '
                 'document.querySelector("#events .text").textContent.startsWith("connected")')
    browser.click('[data-box="inbox"]')
    browser.wait('the inbox', 'document.getElementById("rows-body").textContent.includes("alert(1)")')

    # Everything hostile is there as text, and nothing of it became markup or ran.
    body = browser.eval('document.body.innerText')
    for literal in (IMG, SCRIPT, IMG_NO_BLANKS, JS_URL):
        if literal not in body:
            raise Failure(f'{literal!r} is not shown as text')
    injected = browser.eval('document.querySelectorAll("img, script:not([src=\'/console.js\']), iframe").length + '
                            '[...document.querySelectorAll("a[href]")].filter(a => /^\\s*javascript:/i.test('
                            'a.getAttribute("href"))).length')
    if injected:
        raise Failure(f'{injected} injected elements in the page')

    browser.eval('window.scrollTo(0, 0)')
    browser.screenshot(os.path.join(artifacts, 'console.png'))
    browser.resize(390, 844)
    browser.wait('the phone layout', 'document.documentElement.scrollWidth <= window.innerWidth')
    browser.screenshot(os.path.join(artifacts, 'console-phone.png'))
    if browser.dialogs:
        raise Failure(f'dialogs opened: {browser.dialogs}')
    if browser.problems:
        raise Failure('errors in the page:\n  ' + '\n  '.join(map(str, browser.problems)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--driver', required=True)
    parser.add_argument('--template', required=True)
    parser.add_argument('--artifacts', required=True)
    options = parser.parse_args()
    chromium = shutil.which('chromium') or shutil.which('chromium-browser')
    if not chromium:
        print('SKIPPED: no chromium installed')
        return SKIPPED
    os.makedirs(options.artifacts, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix='qm-browser-') as home:
        port = free_port()
        driver = Driver(options.driver, options.template, home, port)
        browser = None
        try:
            token = wait_for('the token in the driver log', driver.token)
            base = f'http://127.0.0.1:{port}'
            wait_for('the web server', lambda: answers(f'{base}/'))
            browser = Browser(chromium, f'{home}/browser', f'{home}/browser.log')
            run(browser, base, token, options.artifacts)
            if driver.stop() != 0:
                raise Failure(f'the driver ended with {driver.process.returncode}')
            print('PASSED: the console works and shows hostile texts as text')
            return 0
        except Exception as e:  # noqa: BLE001 - every failure is reported with the driver's log
            print(f'FAILED: {e}')
            print('--- driver log (end) ---')
            print(driver.read(driver.log)[-4000:] + driver.read(driver.output)[-2000:])
            return 1
        finally:
            if browser:
                browser.close()
            driver.stop()


if __name__ == '__main__':
    sys.exit(main())
