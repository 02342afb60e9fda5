# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# The page in headless Chromium against the real server, used as a person uses it. Where
# Chromium cannot start, every row is skipped with the reason.
# Usage: /usr/bin/python3 page_test.py PATH/TO/move-rename-web
import os
import sys
import tempfile
import traceback

from selenium.webdriver import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

from pagedriver import Page, Server, browser, make_season

binary = sys.argv[1]
results = {'passed': 0, 'failed': 0, 'skipped': 0}


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def tree(root):
    """Every file under root, relative to it, as a sorted list."""
    return sorted(os.path.relpath(os.path.join(d, f), root)
                  for d, _, files in os.walk(root) for f in files)


def run(name, test, *arguments):
    try:
        test(*arguments)
        results['passed'] += 1
        print(f'PASS   {name}')
    except SkipTest as skip:
        results['skipped'] += 1
        print(f'SKIP   {name}: {skip}')
    except Exception as error:
        results['failed'] += 1
        print(f'FAIL   {name}: {error}')
        if not isinstance(error, AssertionError):
            traceback.print_exc()


class SkipTest(Exception):
    pass


class Session:
    """A server on a fresh tree and a browser on its page, ended on leaving."""

    def __init__(self, setup, password=None, size=(1000, 700)):
        try:
            self.driver = browser(*size)
        except Exception as error:
            why = ' '.join(str(error).split('Stacktrace')[0].split())
            raise SkipTest(f'Chromium does not start: {why}')
        # In memory where there is room: 100,000 folders on a busy disk take minutes.
        shm = '/dev/shm' if os.access('/dev/shm', os.W_OK) else None
        self.dir = tempfile.TemporaryDirectory(dir=shm)
        self.root = self.dir.name
        try:
            self.folders = setup(self.root)
            self.server = Server(binary, self.root, password)
        except Exception:
            self.driver.quit()
            raise
        self.page = Page(self.driver, self.server.url)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.driver.quit()
        self.server.stop()
        self.dir.cleanup()


def season(count, *name):
    return lambda root: make_season(os.path.join(root, 'Season'), count, *name)


def targets(page):
    return [row[2] for row in page.rows()]


# A user's session: open a season, see the suggestion, type an output pattern and watch the names
# follow, untick a row, edit a name by hand and see the next keystroke replace it; Process with
# one target that exists; then undo it all.
def user_session():
    with Session(season(4)) as s:
        page = s.page
        exists = os.path.join(s.root, 'Season', 'Show - 1x03.mkv')
        open(exists, 'w').close()
        before = tree(s.root)
        # Walked into and chosen with nothing ticked, the folder shown stands for its subfolders.
        page.button('Open Folder(s)').click()
        page.wait(lambda: s.driver.find_elements(By.XPATH, '//*[@aria-label="Into Season"]'),
                  'the folder Season')
        page.button('Into Season').click()
        page.wait(lambda: s.driver.find_element(By.ID, 'chooser-path').text.endswith('Season'),
                  'the chooser inside Season')
        page.button('Choose').click()
        page.wait(lambda: len(page.rows()) == 4, 'four rows')
        check(page.field('Filename:').get_attribute('value') == 'Show.S01E0%1.720p',
              'the suggestion is ' + page.field('Filename:').get_attribute('value'))
        check(page.field('Output pattern:').get_attribute('value') == '%1', 'the output is %1')
        page.wait(lambda: targets(page) == ['1.mkv', '2.mkv', '3.mkv', '4.mkv'], 'suggested names')

        output = page.field('Output pattern:')
        output.send_keys(Keys.CONTROL, 'a')
        output.send_keys('Show - 1x0%1')
        want = [f'Show - 1x0{i}.mkv' for i in range(1, 5)]
        page.wait(lambda: targets(page) == want, f'names following the pattern: {want}')
        page.wait(lambda: page.rows()[2][3] == 'exists', 'the conflict on the third row')

        # Space unticks the second row; Enter edits the first row's target.
        tick = s.driver.find_elements(By.CSS_SELECTOR, '#scroller input[type=checkbox]')
        row2 = [t for t in tick if t.find_element(By.XPATH, '..').text.strip() == s.folders[1]]
        row2[0].send_keys(' ')
        cells = s.driver.find_elements(By.CSS_SELECTOR, '#scroller .target')
        cells[0].send_keys(Keys.ENTER)
        editor = s.driver.switch_to.active_element
        editor.send_keys(Keys.CONTROL, 'a')
        editor.send_keys('Pilot.mkv', Keys.ENTER)
        page.wait(lambda: targets(page)[0] == 'Pilot.mkv', 'the name typed by hand')
        output.send_keys('x')
        page.wait(lambda: targets(page)[0] == 'Show - 1x01x.mkv', 'the typed name replaced')
        output.send_keys(Keys.BACKSPACE)
        page.wait(lambda: targets(page) == want, 'the names after a backspace')
        # A double click edits too, and that name is the one Process uses.
        ActionChains(s.driver).double_click(cells[0]).perform()
        editor = s.driver.switch_to.active_element
        editor.send_keys(Keys.CONTROL, 'a')
        editor.send_keys('Pilot.mkv', Keys.ENTER)

        page.button('Process').click()
        page.wait(lambda: '1 failed' in page.driver.find_element(By.ID, 'status').text,
                  'the end of the run')
        counts = page.driver.find_element(By.ID, 'counts').text
        check(counts == '3 of 3: 2 moved, 1 failed', f'the progress says {counts}')
        shown = page.wait(lambda: len(page.rows()) == 2 and page.rows(),
                          lambda: f'two rows left, not {page.rows()}')
        check([r[0] for r in shown] == s.folders[1:3], f'rows left: {shown}')
        # The server's own reason, not a word the page makes up when it has none.
        check(shown[1][3] == 'not moved: target exists' and not shown[0][3],
              f'the reason on the failed row: {shown}')
        check(not shown[0][4], 'the unticked row is still unticked')
        season_dir = os.path.join(s.root, 'Season')
        moved = sorted(set(tree(s.root)) - set(before))
        check(moved == ['Season/Pilot.mkv', 'Season/Show - 1x04.mkv'], f'moved: {moved}')
        check(all(os.path.exists(os.path.join(season_dir, f, f.lower() + '.mkv'))
                  for f in s.folders[1:3]), 'the unticked and the failed file stay')

        page.wait(lambda: page.driver.find_elements(By.XPATH, '//button[text()="Undo"]'),
                  'the run in the history')
        page.button('Undo').click()
        page.wait(lambda: 'Pilot.mkv' in page.driver.find_element(By.ID, 'undo-list').text,
                  'the undo preview')
        page.button('Undo these moves').click()
        page.wait(lambda: '2 restored' in page.driver.find_element(By.ID, 'undo-summary').text,
                  'the undo done')
        check(tree(s.root) == before, f'the tree after undo: {tree(s.root)}')


def mixed_downloads(root):
    """Two episodes of one show, a film and a folder that names neither, under dl."""
    for folder in ('Harbour.Lights.S02E01.720p.HDTV.x264-GRP',
                   'Harbour.Lights.S02E02.720p.HDTV.x264-GRP',
                   'The.Quiet.Harbour.2019.1080p.BluRay.x264-GRP', 'Extras'):
        os.makedirs(os.path.join(root, 'dl', folder))
        with open(os.path.join(root, 'dl', folder, folder.lower() + '.mkv'), 'wb') as file:
            file.write(b'x')


# The library: its groups under their headings, a row's fields, one group's own pattern, then
# Process by hard links.
def library():
    with Session(mixed_downloads) as s:
        page = s.page
        before = tree(s.root)
        page.open_folders('dl')
        page.wait(lambda: len(page.rows()) == 4, 'four rows')
        page.field('Library').send_keys(' ')
        headings = lambda: [h.text for h in s.driver.find_elements(By.CSS_SELECTOR, '#library h2')]
        page.wait(lambda: headings() == ['Harbour Lights, season 02', 'The Quiet Harbour (2019)',
                                         'not recognised'], lambda: f'the groups, not {headings()}')
        rows = lambda: [r.text for r in s.driver.find_elements(
            By.XPATH, '//ul[@aria-label="Rows of Harbour Lights, season 02"]/li')]
        check('show Harbour Lights, season 2, episode 1' in rows()[0], f'the fields: {rows()}')
        output = s.driver.find_element(
            By.XPATH, '//input[@aria-label="Output pattern Harbour Lights, season 02"]')
        output.send_keys(Keys.CONTROL, 'a')
        output.send_keys('TV/%{show}/E%{episode:02}')
        page.wait(lambda: all(f'→ TV/Harbour Lights/E0{n}.mkv' in rows()[n - 1] for n in (1, 2)),
                  lambda: f"the group's own pattern: {rows()}")
        Select(page.field('Action:')).select_by_visible_text('hard link')
        page.button('Process').click()
        page.wait(lambda: '3 moved, 0 failed' in page.driver.find_element(By.ID, 'status').text,
                  'the end of the run')
        placed = sorted(set(tree(s.root)) - set(before))
        check(placed == ['dl/TV/Harbour Lights/E01.mkv', 'dl/TV/Harbour Lights/E02.mkv',
                         'dl/The Quiet Harbour (2019)/The Quiet Harbour (2019).mkv'] and
              os.path.samefile(os.path.join(s.root, placed[0]), os.path.join(
                  s.root, 'dl/Harbour.Lights.S02E01.720p.HDTV.x264-GRP',
                  'harbour.lights.s02e01.720p.hdtv.x264-grp.mkv')), f'placed: {placed}')


def login(rows):
    with Session(season(1), password='secret') as s:
        page = s.page
        for password, message, app_shown in rows:
            page.wait(lambda: page.field('Password:').is_displayed(), 'the login form')
            page.field('Password:').clear()
            page.field('Password:').send_keys(password, Keys.ENTER)
            page.wait(lambda: page.driver.find_element(By.ID, 'app').is_displayed() == app_shown
                      and page.driver.find_element(By.ID, 'login-error').text == message,
                      f'after "{password}": "{message}", the page shown: {app_shown}')


# 100,000 rows: only those in view are in the document, and any row can be scrolled to.
def many_rows():
    with Session(season(100000, 'Show.S01E{:06d}')) as s:
        page = s.page
        page.open_folders('Season')
        page.wait(lambda: page.rows(), 'the first rows', timeout=60)
        page.type_into('Output pattern:', ' - x')
        for fraction, folder in ((1.0, 'Show.S01E100000'), (0.5, 'Show.S01E050001')):
            s.driver.execute_script(
                'const s = document.getElementById("scroller");'
                's.scrollTop = (s.scrollHeight - s.clientHeight) * arguments[0];', fraction)
            page.wait(lambda: folder in [r[0] for r in page.rows()], f'the row {folder}')
            row = [r for r in page.rows() if r[0] == folder][0]
            check(row[2] == f'{folder[-6:]} - x.mkv', f'its target: {row}')
        drawn = len(s.driver.find_elements(By.CSS_SELECTOR, '#scroller [role=row]'))
        check(drawn < 60, f'{drawn} rows in the document')


# The keyboard alone: Tab reaches the controls in order, one stop for the whole table.
def keyboard():
    with Session(season(3)) as s:
        page = s.page
        page.open_folders('Season')
        page.wait(lambda: len(page.rows()) == 3, 'three rows')
        page.field('Filename:').click()
        seen = []
        for _ in range(8):
            active = s.driver.switch_to.active_element
            seen.append(active.get_attribute('id') or active.get_attribute('type'))
            active.send_keys(Keys.TAB)
        want = ['filename', 'output', 'checkbox', 'action', 'sidecars', 'library-choice', 'open',
                'process']
        check(seen == want, f'Tab order {seen}')
        page.field('Filename:').send_keys(Keys.TAB, Keys.TAB, Keys.ARROW_DOWN, Keys.ARROW_DOWN,
                                          Keys.SPACE, Keys.ARROW_RIGHT, Keys.ENTER)
        s.driver.switch_to.active_element.send_keys('Three.mkv', Keys.ENTER)
        page.wait(lambda: [r[2:] for r in page.rows()][2] == ('Three.mkv', '', False),
                  'the third row unticked and renamed by keys')


# At a phone's width nothing scrolls sideways.
def phone_width():
    with Session(season(3), size=(390, 844)) as s:
        page = s.page
        page.open_folders('Season')
        page.wait(lambda: len(page.rows()) == 3, 'three rows')
        wide = s.driver.execute_script('return document.documentElement.scrollWidth - '
                                       'document.documentElement.clientWidth')
        s.driver.save_screenshot(os.path.join(s.root, 'phone.png'))
        check(wide <= 0, f'the page is {wide} pixels wider than the phone')


run('a user session: names follow, Process, undo', user_session)
run('the library: groups, fields, a pattern of its own, Process', library)
run('login: a wrong password, then the right one', login,
    [('wrong', 'Wrong password.', False), ('secret', '', True)])
run('100,000 rows scrolled to the end and the middle', many_rows)
run('the keyboard alone', keyboard)
run('a phone width scrolls nothing sideways', phone_width)
print(f"{results['passed']} passed, {results['failed']} failed")
sys.exit(1 if results['failed'] else 77 if not results['passed'] else 0)
