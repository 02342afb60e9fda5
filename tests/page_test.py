# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# The page in headless Chromium against the real server, used as a person uses it. Where
# Chromium cannot start, every row is skipped with the reason.
# Usage: /usr/bin/python3 page_test.py PATH/TO/move-rename-web
import json
import os
import sys
import tempfile
import traceback
import urllib.request

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
    if len(sys.argv) > 2 and sys.argv[2] not in name:  # a second argument picks rows by name
        return
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

    def __init__(self, setup, password=None, size=(1000, 700), library=False):
        try:
            self.driver = browser(*size)
        except Exception as error:
            why = ' '.join(str(error).split('Stacktrace')[0].split())
            raise SkipTest(f'Chromium does not start: {why}')
        # In memory where there is room: 100,000 folders on a busy disk take minutes.
        shm = '/dev/shm' if os.access('/dev/shm', os.W_OK) else None
        self.dir = tempfile.TemporaryDirectory(dir=shm)
        self.root = self.dir.name
        # A second root, on disk, for a library the files go to.
        self.library = tempfile.TemporaryDirectory() if library else None
        try:
            self.folders = setup(self.root)
            self.server = Server(binary, self.root, password,
                                 [self.library.name] if library else [])
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
        if self.library:
            self.library.cleanup()


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
        check(shown[1][3] == 'exists; not moved: target exists' and not shown[0][3],
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


# A name typed by hand is edited without its extension, which stays; its sidecars take it whole.
def typed_name():
    def setup(root):
        folders = make_season(os.path.join(root, 'Season'), 2)
        for name in ('show.s01e01.720p.hdtv.x264-grp.nfo', 'Subs/English.srt'):
            os.makedirs(os.path.dirname(os.path.join(root, 'Season', folders[0], name)),
                        exist_ok=True)
            open(os.path.join(root, 'Season', folders[0], name), 'w').close()
        return folders

    with Session(setup) as s:
        page = s.page
        page.open_folders('Season')
        page.wait(lambda: targets(page) == ['1.mkv', '2.mkv'], 'two rows')
        page.field('Sidecars').click()
        s.driver.find_elements(By.CSS_SELECTOR, '#scroller .target')[0].send_keys(Keys.ENTER)
        editor = s.driver.switch_to.active_element
        cell = s.driver.find_elements(By.CSS_SELECTOR, '#scroller .target')[0]
        check(editor.get_attribute('value') == '1' and cell.text.endswith('.mkv'),
              f'the editor holds {editor.get_attribute("value")!r} beside {cell.text!r}')
        editor.send_keys(Keys.CONTROL, 'a')
        editor.send_keys('Harbour Lights - S02E07 - The Storm', Keys.ENTER)
        name = 'Harbour Lights - S02E07 - The Storm'
        page.wait(lambda: targets(page)[0] == name + '.mkv', 'the extension kept')
        s.driver.find_elements(By.CSS_SELECTOR, '#scroller input[type=checkbox]')[1].click()
        page.button('Process').click()
        page.wait(lambda: '1 moved' in page.driver.find_element(By.ID, 'status').text,
                  'the end of the run')
        moved = sorted(f for f in tree(s.root) if f.startswith('Season/Harbour'))
        check(moved == [f'Season/{name}.English.srt', f'Season/{name}.mkv',
                        f'Season/{name}.nfo'], f'moved: {moved}')


# Rows that cannot be episodes of the batch start unticked, and say why.
def left_out():
    def setup(root):
        folders = make_season(os.path.join(root, 'Season'), 2)
        for name in ('Show.S01.Extras/readme.txt',
                     'Show.S01E03.720p-GRP/show.s01e03-sample.mkv'):
            os.makedirs(os.path.dirname(os.path.join(root, 'Season', name)), exist_ok=True)
            open(os.path.join(root, 'Season', name), 'w').close()
        return folders

    with Session(setup) as s:
        page = s.page
        page.open_folders('Season')
        page.wait(lambda: len(page.rows()) == 4, 'four rows')
        check(page.field('Filename:').get_attribute('value') == 'Show.S01E0%1.720p',
              'the suggestion is ' + page.field('Filename:').get_attribute('value'))
        shown = {row[0]: (row[3], row[4]) for row in page.rows()}
        check(shown['Show.S01.Extras'] == ('left out: not a video', False) and
              shown['Show.S01E03.720p-GRP'] == ('left out: a sample', False) and
              shown[s.folders[0]][1], f'the rows: {shown}')
        status = s.driver.find_element(By.ID, 'status').text
        check('2 left unticked' in status, f'the status says {status}')


# One release folder chosen is one release: the chooser says so, and it holds a video itself.
def one_release():
    def setup(root):
        folders = make_season(root, 2)
        os.makedirs(os.path.join(root, folders[0], 'Subs'))
        open(os.path.join(root, folders[0], 'Subs', 'English.srt'), 'w').close()
        return folders

    with Session(setup, library=True) as s:
        page = s.page
        page.button('Open Folder(s)').click()
        page.wait(lambda: s.driver.find_elements(
            By.XPATH, f'//label[normalize-space()="{s.folders[0]}"]'), 'the release folders')
        check(page.field('its subfolders are the releases').is_selected(),
              'the root shown stands for its subfolders')
        page.field(s.folders[0]).send_keys(' ')
        page.wait(lambda: page.field('this folder is one release').is_selected(),
                  'a folder holding a video taken for one release')
        page.button('Choose').click()
        page.wait(lambda: [r[1] for r in page.rows()] == [s.folders[0].lower() + '.mkv'],
                  lambda: f'its video as the one row, not {page.rows()}')
        # Moved to another root, which may lie on another file system, where no hard link goes.
        output = page.field('Output pattern:')
        output.send_keys(Keys.CONTROL, 'a')
        output.send_keys('Pilot')
        Select(page.field('Move to:')).select_by_visible_text(s.library.name)
        if os.stat(s.root).st_dev != os.stat(s.library.name).st_dev:
            Select(page.field('Action:')).select_by_visible_text('hard link')
            page.wait(lambda: page.rows()[0][3] == 'hard links cannot cross file systems',
                      lambda: f'the row says a hard link cannot go: {page.rows()}')
        Select(page.field('Action:')).select_by_visible_text('move')
        page.button('Process').click()
        page.wait(lambda: '1 moved, 0 failed' in page.driver.find_element(By.ID, 'status').text,
                  'the end of the run')
        check(tree(s.library.name) == ['Pilot.mkv'] and not os.path.exists(
            os.path.join(s.root, s.folders[0], s.folders[0].lower() + '.mkv')),
              f'moved to the other root: {tree(s.library.name)}')
        page.wait(lambda: page.driver.find_element(By.ID, 'history').text.startswith(
            f'{s.library.name}: 1 moved'), lambda: 'the run named by its root in the history: ' +
            page.driver.find_element(By.ID, 'history').text)


def post(url, body):
    request = urllib.request.Request(url, json.dumps(body).encode(),
                                     {'Content-Type': 'application/json'})
    with urllib.request.urlopen(request, timeout=30) as answer:
        return answer.read().decode()


# The history names each run's folder and says what it did in its action's words; a run that
# changed nothing offers no Undo; the undo preview lists every file from its top, then the
# folders it removes, counted apart.
def history_and_undo():
    with Session(season(40)) as s:
        page = s.page
        # A script's run whose every row had a target that exists, so that nothing moved.
        open(os.path.join(s.root, 'Season', 'one.mkv'), 'w').close()
        scan = json.loads(post(s.server.url + 'api/scans', {'root': 0, 'folders': ['Season']}))
        post(f'{s.server.url}api/scans/{scan["scan"]}/apply', {'filename': 'x', 'output': 'one'})
        page.open_folders('Season')
        page.wait(lambda: page.rows(), 'the rows')
        output = page.field('Output pattern:')
        output.send_keys(Keys.CONTROL, 'a')
        output.send_keys('Show/S1/E%1')
        Select(page.field('Action:')).select_by_visible_text('hard link')
        page.wait(lambda: targets(page)[0] == 'Show/S1/E01.mkv', 'names in folders')
        page.button('Process').click()
        # Read in one go: the history is drawn again while the run ends.
        entries = lambda: [tuple(e) for e in s.driver.execute_script('''
            return [...document.querySelectorAll('#history li')].map((li) => [
                li.querySelector('span').textContent.split(' — ')[0],
                li.querySelectorAll('button').length]);''')]
        page.wait(lambda: entries() == [('Season: 40 hard-linked', 1),
                                        ('Season: nothing done', 0)], lambda: entries())
        page.button('Undo').click()
        page.wait(lambda: 'Season/Show/S1/E01.mkv' in page.driver.find_element(
            By.ID, 'undo-list').text, 'the undo preview')
        lines = page.driver.find_element(By.ID, 'undo-list').text.split('\n')
        # In the order they go back, the last made first.
        check(lines[0] == 'Season/Show/S1/E40.mkv → Season/Show.S01E40.720p.HDTV.x264-GRP/'
              'show.s01e40.720p.hdtv.x264-grp.mkv' and lines[40:] == [
                  'folder Season/Show/S1/ removed', 'folder Season/Show/ removed'], lines)
        summary = page.driver.find_element(By.ID, 'undo-summary').text
        check(summary == '40 of 40 files go back, 2 folders are removed:', summary)
        first_seen = s.driver.execute_script('''
            const list = document.getElementById('undo-list');
            const top = list.firstChild.getBoundingClientRect().top;
            return list.scrollHeight > list.clientHeight &&
                top >= list.getBoundingClientRect().top &&
                top >= document.getElementById('undo-dialog').getBoundingClientRect().top;''')
        check(first_seen, 'the undo preview opens at its first file')


# A run leaves a row: its live conflict beside why the run left it, until the row changes; then
# Process goes again, with no folder opened anew.
def retry():
    with Session(season(2)) as s:
        page = s.page
        open(os.path.join(s.root, 'Season', '2.mkv'), 'w').close()
        page.open_folders('Season')
        page.wait(lambda: targets(page) == ['1.mkv', '2.mkv'], 'the suggested names')
        page.button('Process').click()
        page.wait(lambda: [r[3] for r in page.rows()] == ['exists; not moved: target exists'],
                  lambda: f'the row left with its conflict and its failure, not {page.rows()}')
        check(not page.button('Process').is_enabled(), 'Process offered with no row to move')
        page.type_into('Output pattern:', 'b')
        page.wait(lambda: page.rows() == [(s.folders[1], s.folders[1].lower() + '.mkv',
                                           '2b.mkv', '', True)], 'the row changed, its note gone')
        page.wait(lambda: page.button('Process').is_enabled(), 'Process offered again')
        page.button('Process').click()
        page.wait(lambda: os.path.exists(os.path.join(s.root, 'Season', '2b.mkv')), 'the move')


def resize(driver, width, height):
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
        'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': width < 600})


def overlapping(driver):
    """The rows in view that reach into the next one down."""
    return driver.execute_script('''
        const rows = [...document.querySelectorAll('#scroller [role=row]')]
            .filter((r) => !r.hidden).sort((a, b) => a.position - b.position)
            .map((r) => [r.position, r.getBoundingClientRect()]);
        return rows.slice(1).filter(([, box], i) => box.top < rows[i][1].bottom - 0.5)
            .map(([position]) => position);''')


# A tablet turned, a window dragged narrower and back: the rows never overlap, with no reload.
def narrowed():
    with Session(season(8), size=(1280, 800)) as s:
        page = s.page
        page.open_folders('Season')
        page.wait(lambda: len(page.rows()) == 8, 'eight rows')
        for width, height in ((390, 844), (1280, 800), (600, 800)):
            resize(s.driver, width, height)
            page.wait(lambda: len(page.rows()) > 4 and not overlapping(s.driver),
                      lambda: f'rows apart at {width} wide, not {overlapping(s.driver)}')


def harbour_lights(root):
    """A season of three, the first with a .nfo, subtitles beside it and in Subs."""
    folders = make_season(os.path.join(root, 'Season'), 3,
                          'Harbour.Lights.S02E{:02d}.720p.HDTV.x264-GRP')
    first = os.path.join(root, 'Season', folders[0])
    os.mkdir(os.path.join(first, 'Subs'))
    for name in (folders[0].lower() + '.nfo', folders[0].lower() + '.en.srt', 'Subs/English.srt'):
        open(os.path.join(first, name), 'w').close()
    return folders


# Folders in the output pattern: a target's file name is never cut, at a desktop's width or a
# phone's; a row opened (a click, or Enter) lists where its sidecars go.
def readable_targets(width, height):
    with Session(harbour_lights, size=(width, height)) as s:
        page = s.page
        page.open_folders('Season')
        page.wait(lambda: len(page.rows()) == 3, 'three rows')
        page.field('Sidecars').click()
        output = page.field('Output pattern:')
        output.send_keys(Keys.CONTROL, 'a')
        output.send_keys('Harbour Lights/Season 02/Harbour Lights - S02E0%1 - The Storm Surge')
        page.wait(lambda: targets(page)[2].endswith('S02E03 - The Storm Surge.mkv'),
                  lambda: f'the names, not {targets(page)}')
        cut = s.driver.execute_script('''
            return [...document.querySelectorAll('#scroller [role=row]:not([hidden]) .target')]
                .map((cell) => [cell.querySelector('.base'), cell.getBoundingClientRect()])
                .filter(([name, box]) => name.scrollWidth > name.clientWidth ||
                        name.getBoundingClientRect().right > box.right + 0.5)
                .map(([name]) => name.textContent);''')
        check(cut == [], f'file names cut at {width} wide: {cut}')
        listed = lambda: [li.is_displayed() for li in s.driver.find_elements(  # noqa: E731
            By.XPATH, '//li[contains(., ".srt → Harbour Lights/Season 02/")]')]
        page.button('+3 sidecars').click()
        page.wait(lambda: listed() == [True, True], 'the opened row listing its sidecars')
        page.button('+3 sidecars').send_keys(Keys.ENTER)
        page.wait(lambda: not any(listed()), 'the row closed by Enter')


def mixed_downloads(root):
    """Two episodes of one show, a film and a folder that names neither, under dl."""
    for folder in ('Harbour.Lights.S02E01.720p.HDTV.x264-GRP',
                   'Harbour.Lights.S02E02.720p.HDTV.x264-GRP',
                   'The.Quiet.Harbour.2019.1080p.BluRay.x264-GRP', 'Extras'):
        os.makedirs(os.path.join(root, 'dl', folder))
        with open(os.path.join(root, 'dl', folder, folder.lower() + '.mkv'), 'wb') as file:
            file.write(b'x')


# The library: its groups under their headings, a row's fields, one group's own pattern, then
# Process by hard link or copy into another root, which may lie on another file system.
def library():
    with Session(mixed_downloads, library=True) as s:
        page = s.page
        before = tree(s.root)
        page.open_folders('dl')
        page.wait(lambda: len(page.rows()) == 4, 'four rows')
        page.field('Library').send_keys(' ')
        headings = lambda: [h.text for h in s.driver.find_elements(By.CSS_SELECTOR, '#library h2')]
        page.wait(lambda: headings() == ['Harbour Lights, season 02', 'The Quiet Harbour (2019)',
                                         'not recognised'], lambda: f'the groups, not {headings()}')
        rows = lambda: s.driver.execute_script(  # noqa: E731 (read at once: the list is redrawn)
            'return [...document.querySelectorAll(arguments[0])].map((li) => li.innerText);',
            'ul[aria-label="Rows of Harbour Lights, season 02"] > li')
        check('show Harbour Lights, season 2, episode 1' in rows()[0], f'the fields: {rows()}')
        output = s.driver.find_element(
            By.XPATH, '//input[@aria-label="Output pattern Harbour Lights, season 02"]')
        output.send_keys(Keys.CONTROL, 'a')
        output.send_keys('TV/%{show}/E%{episode:02}')
        page.wait(lambda: all(f'→ TV/Harbour Lights/E0{n}.mkv' in rows()[n - 1] for n in (1, 2)),
                  lambda: f"the group's own pattern: {rows()}")
        Select(page.field('Move to:')).select_by_visible_text(s.library.name)
        Select(page.field('Action:')).select_by_visible_text('hard link or copy')
        apart = os.stat(s.root).st_dev != os.stat(s.library.name).st_dev
        word = 'copied' if apart else 'hard-linked'
        if apart:
            page.wait(lambda: 'copied: another file system' in rows()[0],
                      lambda: f'a row says it will be copied: {rows()}')
        page.button('Process').click()
        page.wait(lambda: f'3 {word}, 0 failed' in page.driver.find_element(By.ID, 'status').text,
                  'the end of the run')
        placed = sorted(tree(s.library.name))
        source = os.path.join(s.root, 'dl/Harbour.Lights.S02E01.720p.HDTV.x264-GRP',
                              'harbour.lights.s02e01.720p.hdtv.x264-grp.mkv')
        check(placed == ['TV/Harbour Lights/E01.mkv', 'TV/Harbour Lights/E02.mkv',
                         'The Quiet Harbour (2019)/The Quiet Harbour (2019).mkv'] and
              tree(s.root) == before and os.path.samefile(
                  source, os.path.join(s.library.name, placed[0])) != apart, f'placed: {placed}')


def login(rows):
    with Session(season(1), password='secret words') as s:
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
        for _ in range(9):
            active = s.driver.switch_to.active_element
            seen.append(active.get_attribute('id') or active.get_attribute('type'))
            active.send_keys(Keys.TAB)
        want = ['filename', 'output', 'checkbox', 'action', 'move-to', 'sidecars',
                'library-choice', 'open', 'process']
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
run('the history says what each run did; its undo, file by file', history_and_undo)
run('a row left by a run: its conflict, its failure, Process again', retry)
run('a table narrowed and widened lays its rows out again', narrowed)
run('targets readable at 1280 wide, sidecars listed', readable_targets, 1280, 800)
run('targets readable at a phone width', readable_targets, 390, 844)
run('the library: groups, fields, a pattern of its own, Process', library)
run('login: a wrong password, then the right one', login,
    [('wrong', 'Wrong password.', False), ('secret words', '', True)])
run('a name typed without its extension', typed_name)
run('rows that cannot be episodes left unticked', left_out)
run('one release folder chosen as one release', one_release)
run('100,000 rows scrolled to the end and the middle', many_rows)
run('the keyboard alone', keyboard)
run('a phone width scrolls nothing sideways', phone_width)
print(f"{results['passed']} passed, {results['failed']} failed")
sys.exit(1 if results['failed'] else 77 if not results['passed'] else 0)
