# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# Runs the real move-rename-web on a temporary tree and drives its page in headless Chromium as
# a person would: fields found by their label, buttons by their text. Shared by the page's tests,
# the benchmark and the screenshot script. Needs Debian's python3-selenium (/usr/bin/python3).
import os
import subprocess
import tempfile
import threading

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait


def make_season(season, count, name='Show.S01E{:02d}.720p.HDTV.x264-GRP'):
    """count release folders under season, each holding one media file; returns their names."""
    folders = [name.format(i) for i in range(1, count + 1)]
    for folder in folders:
        os.makedirs(os.path.join(season, folder))
        with open(os.path.join(season, folder, folder.lower() + '.mkv'), 'wb') as file:
            file.write(b'x')
    return folders


class Server:
    """move-rename-web on root, with its own settings and journals, on a free loopback port."""

    def __init__(self, binary, root, password=None, more_roots=()):
        self.home = tempfile.TemporaryDirectory()
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.home.name, 'config'),
                   XDG_STATE_HOME=os.path.join(self.home.name, 'state'))
        if password is not None:
            subprocess.run([binary, '--set-password'], input=password + '\n', text=True,
                           env=env, check=True, capture_output=True)
        roots = [arg for path in (root, *more_roots) for arg in ('--root', path)]
        self.process = subprocess.Popen([binary, *roots, '--listen', '127.0.0.1:0'],
                                        env=env, stderr=subprocess.PIPE, text=True)
        self.log = []
        for line in self.process.stderr:
            if line.startswith('listening on '):
                self.url = line.split()[-1]
                break
        else:
            raise RuntimeError('the server ended before it listened')
        # The request log is read all along, so that the server never blocks on a full pipe.
        threading.Thread(target=lambda: self.log.extend(self.process.stderr), daemon=True).start()

    def stop(self):
        self.process.terminate()
        self.process.wait(10)
        self.home.cleanup()


def browser(width=1000, height=700):
    """Headless Chromium, or an exception that says why it cannot start."""
    options = webdriver.ChromeOptions()
    for argument in ('--headless=new', '--no-sandbox', '--disable-dev-shm-usage',
                     '--disable-gpu', f'--window-size={width},{height}'):
        options.add_argument(argument)
    options.binary_location = '/usr/bin/chromium'
    service = Service(executable_path='/usr/bin/chromedriver')
    driver = webdriver.Chrome(options=options, service=service)
    # A window is never narrower than about 500 pixels; a phone's width takes an emulated screen.
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
        'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': width < 600})
    return driver


class Page:
    def __init__(self, driver, url):
        self.driver = driver
        driver.get(url)

    def wait(self, condition, what, timeout=10):
        """Waits until condition() is true, as a person waits for what they expect to see."""
        # An element found a moment before may be drawn anew as answers arrive: look again.
        try:
            return WebDriverWait(self.driver, timeout,
                                 ignored_exceptions=(StaleElementReferenceException,)).until(
                lambda _: condition())
        except Exception:
            what = what() if callable(what) else what
            raise AssertionError(f'waited in vain for {what}') from None

    def field(self, label):
        element = self.driver.find_element(By.XPATH, f'//label[normalize-space()="{label}"]')
        return self.driver.find_element(By.ID, element.get_attribute('for'))

    def button(self, text):
        return self.driver.find_element(
            By.XPATH, f'//button[normalize-space()="{text}" or @aria-label="{text}"]')

    def rows(self):
        """The rows shown: (folder, file, target, note, ticked) each, top to bottom."""
        return [tuple(row) for row in self.driver.execute_script('''
            const rows = [...document.querySelectorAll('#scroller [role=row]')]
                .filter((r) => !r.hidden && r.offsetParent !== null && r.rowId !== undefined)
                .sort((a, b) => a.position - b.position);
            const text = (r, selector) => r.querySelector(selector).textContent.trim();
            return rows.map((r) => [text(r, 'label'), text(r, '[role=gridcell]:nth-child(2)'),
                                    text(r, '.target > span'), text(r, '.note'),
                                    r.querySelector('input[type=checkbox]').checked]);''')]

    def open_folders(self, *names):
        """Open Folder(s): ticks the folders named in the root and chooses."""
        self.wait(lambda: self.button('Open Folder(s)').is_displayed(), 'the page shown')
        self.button('Open Folder(s)').click()
        for name in names:
            self.wait(lambda: self.driver.find_elements(
                By.XPATH, f'//label[normalize-space()="{name}"]'), f'folder {name}')
            self.field(name).send_keys(' ')
        self.button('Choose').click()

    def type_into(self, label, text):
        self.field(label).send_keys(text)
