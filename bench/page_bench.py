# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# Times the page in headless Chromium against the real server at COUNT rows, as a person feels
# it: a keystroke in the output pattern until the rows in view show their new names, and a jump
# to an arbitrary row until it shows its names. Both are taken in the browser, from the input
# event (or the scroll) to the moment a MutationObserver sees the cells right. Beside each, the
# server's own time for the very requests the page made, replayed by a plain HTTP client on
# loopback. The first jump after typing is apart: the server then works out the names of every
# row above the one shown. So is a jump to the last row right after a keystroke, until the last
# row shows its name from the new pattern. Prints four lines:
#   keystroke MEDIAN_MS SERVER_MEDIAN_MS
#   scroll MEDIAN_MS SERVER_MEDIAN_MS
#   first scroll MS SERVER_MS
#   jump to the end after a keystroke MEDIAN_MS SERVER_MEDIAN_MS
# Usage: /usr/bin/python3 page_bench.py PATH/TO/move-rename-web WORK_DIR COUNT
import os
import random
import statistics
import sys
import time
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests'))
from pagedriver import Page, Server, browser, make_season  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

binary, work, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
KEYS, JUMPS, ENDS = 30, 30, 10

# Each measurement waits in the page for the cells to be right, then answers the time taken.
OBSERVE = '''
window.benchWait = (done, start, right) => {
    const cells = () => [...document.querySelectorAll('#scroller [role=row]')]
        .filter((r) => !r.hidden && r.rowId !== undefined);
    const check = () => {
        const rows = cells();
        if (!rows.length || !right(rows)) return false;
        observer.disconnect();
        done(performance.now() - start);
        return true;
    };
    const observer = new MutationObserver(check);
    observer.observe(document.getElementById('scroller'),
                     {subtree: true, childList: true, characterData: true, attributes: true});
    check();
};
'''


def server_ms(driver, cold):
    """The median time the server takes for the rows requests the page made since last asked,
    each made again with urllib. The server keeps what it worked out for the last patterns (a
    row's duplicate needs every earlier row's target); when cold, each request is preceded by
    one with other patterns, as the page meets it after a keystroke."""
    urls = driver.execute_script("""
        const urls = performance.getEntriesByType('resource').map((e) => e.name)
            .filter((u) => u.includes('/rows?') && !u.includes('ahead='));
        performance.clearResourceTimings();
        return urls;""")
    times = []
    for url in urls:
        parts = urllib.parse.urlsplit(url)
        query = dict(urllib.parse.parse_qsl(parts.query), offset='0', limit='1')
        query['output'] += ' other'
        if cold:
            with urllib.request.urlopen(parts._replace(query=urllib.parse.urlencode(query))
                                        .geturl()):
                pass
        start = time.perf_counter()
        with urllib.request.urlopen(url) as answer:
            answer.read()
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


season = os.path.join(work, 'page', 'Season')
make_season(season, count, 'Show.S01E{:06d}.720p.HDTV.x264-GRP')
server = Server(binary, os.path.dirname(season))
driver = browser(1200, 900)
try:
    page = Page(driver, server.url)
    page.open_folders('Season')
    page.wait(lambda: page.rows(), 'the first rows', timeout=300)
    driver.set_script_timeout(10)
    driver.execute_script(OBSERVE)
    driver.execute_script('''
        document.getElementById('output').addEventListener('input', (event) => {
            const suffix = event.target.value.replace('%1', '') + '.mkv';
            window.benchWait((ms) => window.benchTimes.push(ms), event.timeStamp,
                             (rows) => rows.every((r) => r.querySelector('.target > span')
                                                  .textContent.endsWith(suffix)));
        }, true);
        window.benchTimes = [];''')

    output = page.field('Output pattern:')
    server_ms(driver, False)
    for i, key in enumerate((' - Show Name' * 3)[:KEYS]):
        output.send_keys(key)
        page.wait(lambda: driver.execute_script('return window.benchTimes.length') > i,
                  f'keystroke {i}')
        time.sleep(0.05)
    keystroke = statistics.median(driver.execute_script('return window.benchTimes'))
    keystroke_server = server_ms(driver, True)

    jumps = []
    random.seed(20)
    for i, position in enumerate(random.sample(range(count), JUMPS)):
        jumps.append(driver.execute_async_script('''
            const [position, done] = arguments;
            const scroller = document.getElementById('scroller');
            const start = performance.now();
            scroller.scrollTop = position * scroller.scrollHeight / state.total;
            window.benchWait(done, start, (rows) => rows.some((r) => r.position === position &&
                r.querySelector('.target > span').textContent !== ''));''', position))
        time.sleep(0.05)
        if i == 0:
            first_server = server_ms(driver, True)
    scroll_server = server_ms(driver, False)

    ends = []
    for i in range(ENDS):
        driver.execute_script('document.getElementById("scroller").scrollTop = 0')
        time.sleep(0.05)
        output.send_keys('x' if i % 2 == 0 else Keys.BACKSPACE)
        ends.append(driver.execute_async_script('''
            const done = arguments[0];
            const scroller = document.getElementById('scroller');
            const suffix = document.getElementById('output').value.replace('%1', '') + '.mkv';
            const start = performance.now();
            scroller.scrollTop = scroller.scrollHeight;
            window.benchWait(done, start, (rows) => rows.some((r) =>
                r.position === state.total - 1 &&
                r.querySelector('.target > span').textContent.endsWith(suffix)));'''))
    ends_server = server_ms(driver, True)
    print(f'keystroke {keystroke:.2f} {keystroke_server:.2f}')
    print(f'scroll {statistics.median(jumps[1:]):.2f} {scroll_server:.2f}')
    print(f'first scroll {jumps[0]:.2f} {first_server:.2f}')
    print(f'jump to the end after a keystroke {statistics.median(ends):.2f} {ends_server:.2f}')
finally:
    driver.quit()
    server.stop()
