#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# Remakes docs/window.png: opens a small season of release folders in the window under Xvfb,
# lets the suggestion fill the patterns, types an output pattern and captures the screen.
# Needs: xvfb, xdotool, imagemagick (apt-get install xvfb xauth xdotool imagemagick).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for episode in 01 02 03; do
    folder="$work/Season/Harbour.Lights.S02E$episode.720p.HDTV.x264-GRP"
    mkdir -p "$folder"
    head -c $((2000 + 10#$episode)) /dev/zero >"$folder/harbour.lights.s02e$episode.720p.hdtv.x264-grp.mkv"
    echo nfo >"$folder/grp.nfo"
done
cat >"$work/drive.sh" <<DRIVE
#!/usr/bin/env bash
"$top/build/src/app/move-rename" "$work/Season" &
sleep 2
window=\$(xdotool search --name "Move & Rename" | head -1)
xdotool windowmove "\$window" 0 0 windowsize "\$window" 900 300
sleep 0.5
xdotool key --window "\$window" Tab Tab Tab Tab   # to "Open Folder(s)"
xdotool key space
sleep 2
xdotool key Return                                 # accept the folder shown
sleep 1.5
xdotool mousemove 700 19 click 1                   # the output pattern field
sleep 0.3
xdotool key ctrl+a
xdotool type --delay 30 "Harbour Lights - 2x0%1"
sleep 0.5
import -window root "$top/docs/window.png"
kill %1
DRIVE
chmod +x "$work/drive.sh"
xvfb-run -a -s "-screen 0 900x300x24" "$work/drive.sh" 2>/dev/null
echo "wrote $top/docs/window.png"
