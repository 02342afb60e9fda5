#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# Remakes docs/page.png and docs/page-phone.png: runs the built move-rename-web on a small season
# of release folders, opens it in the page in headless Chromium, lets the suggestion fill the
# patterns, types an output pattern that makes folders and captures the page, at a desktop's and a phone's width.
# Needs: chromium, chromium-driver, python3-selenium (./test installs them).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
/usr/bin/python3 - "$top" <<'PYTHON'
import os, sys, tempfile
top = sys.argv[1]
sys.path.insert(0, os.path.join(top, 'tests'))
from pagedriver import Page, Server, browser, make_season

with tempfile.TemporaryDirectory() as root:
    make_season(os.path.join(root, 'Season'), 3, 'Harbour.Lights.S02E{:02d}.720p.HDTV.x264-GRP')
    server = Server(os.path.join(top, 'build/src/web/move-rename-web'), root)
    try:
        for name, size in (('page.png', (900, 560)), ('page-phone.png', (390, 700))):
            driver = browser(*size)
            page = Page(driver, server.url)
            page.open_folders('Season')
            page.wait(lambda: len(page.rows()) == 3, 'three rows')
            page.field('Output pattern:').send_keys('\ue009a')  # Ctrl+A
            page.type_into('Output pattern:', 'Harbour Lights/Season 02/Harbour Lights - S02E0%1')
            page.wait(lambda: page.rows()[2][2] ==
                      'Harbour Lights/Season 02/Harbour Lights - S02E03.mkv', 'the names')
            driver.save_screenshot(os.path.join(top, 'docs', name))
            driver.quit()
            print('wrote', os.path.join(top, 'docs', name))
    finally:
        server.stop()
PYTHON
