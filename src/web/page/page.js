// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

// The window's job in a browser. Every name, conflict and move comes from the server: the page
// only asks for the rows in view and draws them, so a keystroke or a scroll costs one screen of
// rows whatever the scan's size.
'use strict';

const $ = (id) => document.getElementById(id);
const filenameEdit = $('filename');
const outputEdit = $('output');
const scroller = $('scroller');
const spacer = $('spacer');
const processButton = $('process');

const state = {
    roots: [],
    scan: null,
    total: 0,
    // Bumped whenever the names the server gave may be out of date; an answer asked for under an
    // older generation is dropped, so a slow answer never paints over a newer keystroke's.
    generation: 0,
    rows: new Map(), // position in the scan -> row as the server gave it
    typed: new Map(), // row id -> target name typed by hand
    unticked: new Set(), // row ids
    failed: new Map(), // row id -> why its move failed, until its target changes
    leftOut: new Map(), // row id -> why the row cannot be an episode of the batch
    opened: new Set(), // row ids whose sidecars are listed
    running: false, // a run is under way
    pending: null, // {generation, offset, limit, controller}
    ahead: null, // the controller of the pass ahead asked for
    aheadWanted: false, // a pass ahead is asked for once the rows in view have come
    pool: [], // the row elements, position p drawn by pool[p % pool.length]
    rowHeight: 0,
    editing: null, // {id, element, editor}
    // The one control of the table that Tab reaches; the arrow keys move it.
    current: {position: 0, part: 'tick'},
    needsLogin: false,
};

class ApiError extends Error {}

// Calls the API; a 401 shows the login form. Resolves to the parsed answer, or the response
// itself when raw.
async function api(path, {method = 'GET', body, signal, raw = false} = {}) {
    const options = {method, signal, credentials: 'same-origin', headers: {}};
    if (body !== undefined) {
        options.headers['Content-Type'] = 'application/json';
        options.body = JSON.stringify(body);
    }
    const response = await fetch(path, options);
    if (response.status === 401 && path !== '/api/login') {
        showLogin();
    }
    if (!response.ok) {
        let text = response.statusText;
        try {
            text = (await response.json()).error || text;
        } catch (e) {
            // not JSON: the status text says enough
        }
        const error = new ApiError(text);
        error.status = response.status;
        throw error;
    }
    if (raw) return response;
    return response.status === 204 ? null : response.json();
}

function say(text) {
    $('status').textContent = text;
}

function failSay(error) {
    if (error.name === 'AbortError') return;
    if (error.status !== 401) say(`Error: ${error.message}`);
}

// --- Login -------------------------------------------------------------------------------------

function showLogin() {
    state.needsLogin = true;
    $('app').hidden = true;
    $('login').hidden = false;
    $('password').focus();
}

$('login').addEventListener('submit', async (event) => {
    event.preventDefault();
    const message = $('login-error');
    message.textContent = '';
    try {
        await api('/api/login', {method: 'POST', body: {password: $('password').value}});
    } catch (error) {
        message.textContent = error.status === 401 ? 'Wrong password.'
            : error.status === 429 ? 'Too many attempts: wait a minute, then try again.'
            : `Error: ${error.message}`;
        return;
    }
    $('password').value = '';
    start();
});

$('logout').addEventListener('click', async () => {
    try {
        await api('/api/logout', {method: 'POST', body: {}});
    } catch (error) {
        failSay(error);
    }
    showLogin();
});

async function start() {
    try {
        state.roots = await api('/api/roots');
    } catch (error) {
        failSay(error);
        return;
    }
    $('login').hidden = true;
    $('app').hidden = false;
    $('logout').hidden = !state.needsLogin;
    $('move-to').append(...state.roots.map((root) => new Option(root.path, root.id)));
    measureRows();
    loadHistory();
}

// Where the files go: the top of the root chosen in "Move to", or the folder opened; the
// releases stay where they are.
function destination() {
    const to = $('move-to').value;
    return to === '' ? {} : {to: Number(to)};
}

// --- The table of rows -------------------------------------------------------------------------

function makeRow(slot) {
    const element = document.createElement('div');
    element.className = 'row';
    element.setAttribute('role', 'row');
    const folderCell = document.createElement('label');
    folderCell.setAttribute('role', 'gridcell');
    const tick = document.createElement('input');
    tick.type = 'checkbox';
    const folder = document.createElement('span');
    folderCell.append(tick, folder);
    const file = document.createElement('span');
    file.setAttribute('role', 'gridcell');
    const target = document.createElement('span');
    target.setAttribute('role', 'gridcell');
    target.className = 'target';
    target.tabIndex = 0;
    // The target's folders (cut at their start when long, in a right-to-left box around an
    // isolated left-to-right run) and its file name, which is never cut.
    const name = document.createElement('span');
    name.className = 'name';
    const dir = document.createElement('span');
    dir.className = 'dir';
    const dirText = document.createElement('bdi');
    dir.append(dirText);
    const base = document.createElement('span');
    base.className = 'base';
    name.append(dir, base);
    const note = document.createElement('span');
    note.className = 'note';
    const more = document.createElement('button');
    more.type = 'button';
    more.className = 'more';
    const details = document.createElement('ul');
    details.className = 'details';
    target.append(name, note, more, details);
    element.append(folderCell, file, target);
    element.parts = {tick, folder, file, target, name, dirText, base, note, more, details};
    element.position = -1;
    element.slot = slot;
    spacer.append(element);
    return element;
}

// Rows are one fixed height, so that positions are arithmetic: measured from a drawn row, and
// again whenever the table's size changes, as a narrower table lays a row out on more lines.
function measureRows() {
    const probe = makeRow(-1);
    const height = probe.getBoundingClientRect().height;
    probe.remove();
    if (!height || height === state.rowHeight) return; // hidden, or no change
    // The row at the top of the view stays at the top.
    const top = state.rowHeight ? scroller.scrollTop / state.rowHeight : 0;
    state.rowHeight = height;
    spacer.style.height = `${state.total * height}px`;
    scroller.scrollTop = top * height;
}

function visibleRange() {
    const first = Math.floor(scroller.scrollTop / state.rowHeight);
    const count = Math.ceil(scroller.clientHeight / state.rowHeight) + 1;
    return {first, count, last: Math.min(state.total, first + count)};
}

function fill(element, position) {
    const row = state.rows.get(position);
    const {tick, folder, file, target, name, dirText, base, note, more, details} = element.parts;
    const editing = state.editing;
    // A row scrolled away takes its editor's text with it, as leaving the editor does.
    if (editing && editing.element === element && (!row || row.row !== editing.id))
        stopEditing(true, false);
    element.position = position;
    element.hidden = position >= state.total;
    element.classList.toggle('odd', position % 2 === 1);
    element.style.transform = `translateY(${position * state.rowHeight}px)`;
    element.setAttribute('aria-rowindex', position + 2);
    element.rowId = row ? row.row : undefined;
    const current = state.current.position === position && row;
    tick.tabIndex = current && state.current.part === 'tick' ? 0 : -1;
    target.tabIndex = current && state.current.part === 'target' ? 0 : -1;
    more.tabIndex = current && state.current.part === 'more' ? 0 : -1;
    tick.disabled = !row;
    if (!row) {
        folder.textContent = file.textContent = note.textContent = '';
        dirText.textContent = base.textContent = '';
        more.hidden = true;
        element.classList.remove('open');
        return;
    }
    tick.checked = !state.unticked.has(row.row);
    folder.textContent = row.folder;
    file.textContent = row.file;
    if (state.editing && state.editing.element === element) return;
    const typed = state.typed.get(row.row);
    const shown = typed !== undefined ? typed : row.target;
    const slash = shown.lastIndexOf('/') + 1;
    dirText.textContent = shown.slice(0, slash);
    base.textContent = shown.slice(slash);
    target.classList.toggle('typed', typed !== undefined);
    // A name typed by hand is checked only when it moves; the server's conflict was for its own.
    // A row left by a run shows its live conflict and, beside it, why the run left it.
    const failed = state.failed.get(row.row);
    const left = state.leftOut.get(row.row);
    const conflict = (typed === undefined && row.conflict) || '';
    const why = left && !failed ? `left out: ${left}`
        : [conflict, row.note, failed && `not moved: ${failed}`].filter(Boolean).join('; ');
    note.textContent = why;
    element.classList.toggle('problem', why !== '');
    // Opened (a click or Enter on "+3 sidecars"), the row lists where its sidecars go; its
    // target focused, it shows the whole target when that has folders.
    const sidecars = row.sidecars || [];
    const open = sidecars.length > 0 && state.opened.has(row.row);
    more.hidden = sidecars.length === 0;
    more.textContent = `+${sidecars.length} sidecar${sidecars.length > 1 ? 's' : ''}`;
    more.setAttribute('aria-expanded', open);
    element.classList.toggle('open', open);
    const line = (text, className) => {
        const item = document.createElement('li');
        item.textContent = text;
        item.className = className;
        return item;
    };
    details.replaceChildren(...(slash ? [line(shown, 'whole')] : []), ...(open ? sidecars.map(
        (s) => line(`${s.file} → ${s.target}${s.conflict ? ` (${s.conflict})` : ''}`, 'sidecar'))
        : []));
}

// Draws the rows in view from what is known, and asks for what is missing.
function render() {
    if (!state.scan) return;
    spacer.style.height = `${state.total * state.rowHeight}px`;
    $('table').setAttribute('aria-rowcount', state.total + 1);
    const {first, count: wanted, last} = visibleRange();
    while (state.pool.length < wanted) state.pool.push(makeRow(state.pool.length));
    // Leftovers from a taller view go; the pool's size decides which element draws a row.
    while (state.pool.length > wanted) state.pool.pop().remove();
    const current = state.current;
    current.position = Math.max(first, Math.min(last - 1, current.position));
    let missing = false;
    for (let position = first; position < first + wanted; ++position) {
        fill(state.pool[position % wanted], position);
        if (position < last && !state.rows.has(position)) missing = true;
    }
    if (missing) fetchRows(first, last - first);
    offerProcess();
}

// Process is offered while a ticked row may move: one not fetched yet, or one shown without a
// conflict (a name typed by hand is checked when it moves).
function offerProcess() {
    const ticked = (row) => !state.unticked.has(row.row);
    const free = (row) => state.typed.has(row.row) || !row.conflict;
    const unseen = state.rows.size < state.total && state.unticked.size < state.total;
    // The library's groups are drawn whole, their rows known: Process is its to offer.
    processButton.disabled = state.running || !state.scan ||
        !(libraryOn() || unseen ||
          [...state.rows.values()].some((row) => ticked(row) && free(row)));
}

// The rows request for the names as they stand, with the parameters more.
function rowsPath(more) {
    const query = new URLSearchParams({filename: filenameEdit.value, output: outputEdit.value,
                                       action: $('action').value, ...destination(), ...more});
    if ($('sidecars').checked) query.set('sidecars', '1');
    return `/api/scans/${encodeURIComponent(state.scan)}/rows?${query}`;
}

// A row's duplicate needs every row above it: the server finds them down to the last row now,
// giving way to any request for rows, so that a jump far down costs only its screen. Its answer
// holds nothing; a failure is told by the requests for rows.
function fetchAhead() {
    if (state.ahead) state.ahead.abort();
    state.ahead = new AbortController();
    api(rowsPath({ahead: 1}), {signal: state.ahead.signal}).catch(() => {});
}

// Asks for the rows from offset on; answers of an older generation are dropped.
async function fetchRows(offset, limit) {
    const pending = state.pending;
    if (pending && pending.generation === state.generation && pending.offset <= offset &&
        pending.offset + pending.limit >= offset + limit) {
        return;
    }
    if (pending && pending.generation !== state.generation) pending.controller.abort();
    // A little more than one screen, so that a short scroll finds its rows already there.
    const before = Math.min(offset, Math.floor(limit / 2));
    const request = {generation: state.generation, offset: offset - before,
                     limit: limit + before * 2, controller: new AbortController()};
    state.pending = request;
    let answer;
    try {
        answer = await api(rowsPath({offset: request.offset, limit: request.limit}),
                           {signal: request.controller.signal});
    } catch (error) {
        if (state.pending === request) state.pending = null;
        failSay(error);
        return;
    }
    if (state.pending === request) state.pending = null;
    if (request.generation !== state.generation) return;
    answer.rows.forEach((row, i) => state.rows.set(request.offset + i, row));
    state.total = answer.total;
    render();
    // After the rows in view are drawn, so that it never slows them.
    if (state.aheadWanted) {
        state.aheadWanted = false;
        fetchAhead();
    }
}

// The names known may be out of date: ask again for the rows in view.
function forget() {
    ++state.generation;
    state.rows.clear();
    fetchLibrary();
    if (state.scan) {
        const {first, last} = visibleRange();
        state.aheadWanted = state.total > last;
        fetchRows(first, Math.max(last - first, 1));
    }
}

function patternsChanged() {
    // As in the window: a keystroke in a pattern field replaces every name typed by hand.
    state.typed.clear();
    state.failed.clear();
    stopEditing(false);
    forget();
}

filenameEdit.addEventListener('input', patternsChanged);
outputEdit.addEventListener('input', patternsChanged);
$('action').addEventListener('change', forget);
$('sidecars').addEventListener('change', forget);
$('move-to').addEventListener('change', forget);

let scrollFrame = 0;
scroller.addEventListener('scroll', () => {
    if (scrollFrame) return;
    scrollFrame = requestAnimationFrame(() => {
        scrollFrame = 0;
        render();
    });
});
new ResizeObserver(() => {
    measureRows();
    render();
}).observe(scroller);

function rowOf(node) {
    const element = node.closest('.row');
    return element && element.rowId !== undefined ? element : null;
}

spacer.addEventListener('change', (event) => {
    const element = rowOf(event.target);
    if (!element || event.target.type !== 'checkbox') return; // not the editor's change
    if (event.target.checked) state.unticked.delete(element.rowId);
    else state.unticked.add(element.rowId);
    offerProcess();
});

// --- Names typed by hand -----------------------------------------------------------------------

// The extension of a name: a last dot followed by up to four letters or digits, a letter among
// them, so that "S01E01" or "Mr. Robot" is no extension.
function extensionOf(name) {
    const match = /\.(?=[^.]*[a-z])[a-z0-9]{1,4}$/i.exec(name);
    return match ? match[0] : '';
}

// As a file manager renames: the name is edited without its extension, shown beside the field,
// which stays unless another is typed.
function startEditing(element) {
    stopEditing(true);
    const {target, name} = element.parts;
    const editor = document.createElement('input');
    editor.type = 'text';
    editor.className = 'editor';
    const extension = extensionOf(name.textContent);
    editor.value = name.textContent.slice(0, name.textContent.length - extension.length);
    editor.setAttribute('aria-label', `Target filename for ${element.parts.folder.textContent}`);
    const shown = document.createElement('span');
    shown.className = 'extension';
    shown.textContent = extension;
    state.editing = {id: element.rowId, element, editor, extension, shown};
    name.hidden = true;
    target.append(editor, shown);
    editor.focus();
    editor.select();
    editor.addEventListener('keydown', (event) => {
        if (event.key === 'Enter' || event.key === 'Escape') {
            event.preventDefault();
            event.stopPropagation();
            stopEditing(event.key === 'Enter');
            target.focus();
        }
    });
    editor.addEventListener('blur', () => stopEditing(true));
}

function stopEditing(keep, redraw = true) {
    const editing = state.editing;
    if (!editing) return;
    state.editing = null;
    const typed = editing.editor.value;
    if (keep) state.typed.set(editing.id, extensionOf(typed) ? typed : typed + editing.extension);
    // A row whose name was edited is a new row to a run: why the last one left it is past.
    if (keep) state.failed.delete(editing.id);
    editing.editor.remove();
    editing.shown.remove();
    editing.element.parts.name.hidden = false;
    if (redraw) fill(editing.element, editing.element.position);
    offerProcess();
}

spacer.addEventListener('dblclick', (event) => {
    const element = rowOf(event.target);
    if (element && event.target.closest('.target') && !event.target.closest('.more, .details'))
        startEditing(element);
});

spacer.addEventListener('click', (event) => {
    const element = rowOf(event.target);
    if (!element || event.target !== element.parts.more) return;
    if (!state.opened.delete(element.rowId)) state.opened.add(element.rowId);
    fill(element, element.position);
});

spacer.addEventListener('focusin', (event) => {
    const element = rowOf(event.target);
    if (!element || event.target.classList.contains('editor')) return;
    const part = ['target', 'more'].find((p) => event.target === element.parts[p]) || 'tick';
    state.current = {position: element.position, part};
    for (const other of state.pool) fill(other, other.position);
});

// Enter edits a target; the arrow and page keys walk the table, scrolling as they go.
spacer.addEventListener('keydown', (event) => {
    const element = rowOf(event.target);
    if (!element || event.target.classList.contains('editor')) return;
    let {position, part} = state.current;
    if (event.key === 'Enter' && part === 'target') {
        event.preventDefault();
        startEditing(element);
        return;
    }
    const page = Math.max(1, Math.floor(scroller.clientHeight / state.rowHeight) - 1);
    const step = {ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page}[event.key];
    if (event.key === 'ArrowLeft' || event.key === 'ArrowRight') {
        const parts = element.parts.more.hidden ? ['tick', 'target'] : ['tick', 'target', 'more'];
        const at = parts.indexOf(part) + (event.key === 'ArrowRight' ? 1 : -1);
        part = parts[Math.max(0, Math.min(parts.length - 1, at))];
    } else if (step) {
        position = Math.max(0, Math.min(state.total - 1, position + step));
    } else {
        return;
    }
    event.preventDefault();
    const top = position * state.rowHeight;
    if (top < scroller.scrollTop) scroller.scrollTop = top;
    else if (top + state.rowHeight > scroller.scrollTop + scroller.clientHeight)
        scroller.scrollTop = top + state.rowHeight - scroller.clientHeight;
    state.current = {position, part};
    render();
    const next = state.pool.find((e) => e.position === position);
    if (next) next.parts[part === 'more' && next.parts.more.hidden ? 'target' : part].focus();
});

// --- Open Folder(s) ----------------------------------------------------------------------------

const chooser = {root: 0, path: '', release: false, asked: 0};

function joinPath(base, name) {
    return base ? `${base}/${name}` : name;
}

async function listFolders() {
    const list = $('chooser-list');
    let answer;
    try {
        answer = await api(`/api/folders?${new URLSearchParams({root: chooser.root,
                                                               path: chooser.path})}`);
    } catch (error) {
        list.replaceChildren();
        $('chooser-path').textContent = `Error: ${error.message}`;
        return;
    }
    chooser.release = answer.release;
    const root = state.roots.find((r) => r.id === chooser.root);
    $('chooser-path').textContent = joinPath(root ? root.path : '', chooser.path);
    $('chooser-up').disabled = chooser.path === '';
    list.replaceChildren(...answer.folders.map((name, i) => {
        const item = document.createElement('li');
        const tick = document.createElement('input');
        tick.type = 'checkbox';
        tick.addEventListener('change', describeChoice);
        tick.id = `folder-${i}`;
        tick.value = name;
        const label = document.createElement('label');
        label.htmlFor = tick.id;
        label.textContent = name;
        const into = document.createElement('button');
        into.type = 'button';
        into.textContent = '›';
        into.setAttribute('aria-label', `Into ${name}`);
        into.addEventListener('click', () => {
            chooser.path = joinPath(chooser.path, name);
            listFolders();
        });
        item.append(tick, label, into);
        return item;
    }));
    describeChoice();
}

// Says what Choose will do. One folder, the one ticked or else the one shown, stands for its
// subfolders or is one release itself, as picked; one that looks like a release folder is taken
// for one unless the user picks otherwise. Several ticked are one release each.
async function describeChoice() {
    const ticked = [...$('chooser-list').querySelectorAll('input:checked')];
    const asked = ++chooser.asked;
    $('chooser-mode').hidden = ticked.length > 1;
    $('chooser-several').hidden = ticked.length <= 1;
    if (ticked.length > 1) return;
    const path = ticked.length ? joinPath(chooser.path, ticked[0].value) : chooser.path;
    const root = state.roots.find((r) => r.id === chooser.root);
    $('chooser-which').textContent = `${path || (root ? root.path : '')}:`;
    let release = chooser.release;
    if (ticked.length) {
        try {
            release = (await api(`/api/folders?${new URLSearchParams({root: chooser.root,
                                                                     path})}`)).release;
        } catch (error) {
            release = false;
        }
    }
    if (asked === chooser.asked) $(release ? 'chooser-one' : 'chooser-subfolders').checked = true;
}

$('open').addEventListener('click', () => {
    const select = $('chooser-root');
    select.replaceChildren(...state.roots.map((root) => new Option(root.path, root.id)));
    if (!state.roots.some((r) => r.id === chooser.root) && state.roots.length)
        chooser.root = state.roots[0].id;
    select.value = chooser.root;
    $('chooser').showModal();
    listFolders();
});

$('chooser-root').addEventListener('change', (event) => {
    chooser.root = Number(event.target.value);
    chooser.path = '';
    listFolders();
});

$('chooser-up').addEventListener('click', () => {
    chooser.path = chooser.path.split('/').slice(0, -1).join('/');
    listFolders();
});

$('chooser-cancel').addEventListener('click', () => $('chooser').close());

// As the window's dialog: one folder chosen (or none, meaning the one shown) stands for its
// subfolders, unless picked as one release; several are the release folders themselves.
$('chooser-choose').addEventListener('click', () => {
    const ticked = [...$('chooser-list').querySelectorAll('input:checked')];
    const folders = ticked.length ? ticked.map((t) => joinPath(chooser.path, t.value))
        : [chooser.path];
    const release = ticked.length <= 1 && $('chooser-one').checked;
    $('chooser').close();
    scan(folders, release);
});

async function scan(folders, release) {
    say('Reading folders…');
    let answer;
    try {
        answer = await api('/api/scans', {method: 'POST',
                                          body: {root: chooser.root, folders, release}});
    } catch (error) {
        failSay(error);
        return;
    }
    stopEditing(false);
    state.scan = answer.scan;
    state.total = answer.rows;
    state.typed.clear();
    state.unticked.clear();
    state.failed.clear();
    state.opened.clear();
    // Rows that cannot be episodes of the batch start unticked, every one of them, drawn or not.
    const leftOut = answer.left_out || [];
    state.leftOut = new Map(leftOut.map((r) => [r.row, r.reason]));
    for (const r of leftOut) state.unticked.add(r.row);
    libraryScanned();
    if (filenameEdit.value === '' && answer.rows > 0) {
        filenameEdit.value = answer.suggestion.filename;
        outputEdit.value = answer.suggestion.output;
    }
    const skipped = answer.skipped || [];
    $('skipped').replaceChildren(...skipped.map((s) => {
        const item = document.createElement('li');
        item.textContent = `${s.folder}: ${s.reason}`;
        return item;
    }));
    $('skipped-area').hidden = skipped.length === 0;
    $('progress-area').hidden = true;
    say(`${answer.rows} ${answer.rows === 1 ? 'row' : 'rows'}` + (leftOut.length
        ? `, ${leftOut.length} left unticked: they cannot be episodes of this batch` : ''));
    scroller.scrollTop = 0;
    forget();
    render();
}

// --- Process -----------------------------------------------------------------------------------

processButton.addEventListener('click', async () => {
    stopEditing(true);
    state.running = true;
    offerProcess();
    // done: by what was done ("moved", "hard-linked", "copied"), as the run says of each row.
    const counts = {attempted: 0, done: {}, failed: 0};
    // The library places its groups' rows, each by its group's patterns.
    const placing = libraryOn() ? libraryRun() : null;
    const planned = placing ? placing.planned : state.total - state.unticked.size;
    const progress = $('progress');
    progress.max = Math.max(planned, 1);
    progress.value = 0;
    $('counts').textContent = '';
    $('progress-area').hidden = false;
    say('Processing…');
    const body = placing ? placing.body : {
        filename: filenameEdit.value, output: outputEdit.value, action: $('action').value,
        sidecars: $('sidecars').checked, unticked: [...state.unticked],
        targets: Object.fromEntries(state.typed), ...destination()};
    let refresh = 0;
    const line = (outcome) => {
        if (outcome.done) {
            say(`${doneWords(counts.done)}, ${outcome.failed} failed` +
                (outcome.journal ? ` (journal ${outcome.journal})` : ''));
            return;
        }
        ++counts.attempted;
        if (outcome.outcome === 'moved') {
            counts.done[outcome.how] = (counts.done[outcome.how] || 0) + 1;
            state.typed.delete(outcome.row);
        } else {
            ++counts.failed;
            state.failed.set(outcome.row, outcome.error || 'failed');
        }
        progress.value = counts.attempted;
        $('counts').textContent =
            `${counts.attempted} of ${planned}: ${doneWords(counts.done)}, ${counts.failed} failed`;
        // Rows leave the table as their files move; asked for at most ten times a second.
        if (!refresh) refresh = setTimeout(() => { refresh = 0; forget(); }, 100);
    };
    try {
        const path = `/api/scans/${encodeURIComponent(state.scan)}/apply`;
        await readLines(await api(path, {method: 'POST', body, raw: true}),
                        (text) => line(JSON.parse(text)));
    } catch (error) {
        failSay(error);
    }
    clearTimeout(refresh);
    state.running = false;
    forget();
    offerProcess();
    loadHistory();
});

// Calls each with every line of a streamed answer as it arrives.
async function readLines(response, each) {
    const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
    let buffer = '';
    for (;;) {
        const {value, done} = await reader.read();
        if (done) break;
        buffer += value;
        let end;
        while ((end = buffer.indexOf('\n')) >= 0) {
            const text = buffer.slice(0, end).trim();
            buffer = buffer.slice(end + 1);
            if (text) each(text);
        }
    }
    if (buffer.trim()) each(buffer.trim());
}

// --- History and undo --------------------------------------------------------------------------

async function loadHistory() {
    let journals;
    try {
        journals = await api('/api/journals');
    } catch (error) {
        failSay(error);
        return;
    }
    const undone = {no: '', partly: ', partly undone', yes: ', undone'};
    $('history').replaceChildren(...journals.map((j) => {
        const item = document.createElement('li');
        const text = document.createElement('span');
        const when = new Date(j.started);
        const shown = isNaN(when) ? j.started : when.toLocaleString();
        // Among several roots, a run is told by its root's path too.
        const root = state.roots.length > 1 && state.roots.find((r) => r.id === j.root);
        const where = root ? [root.path, j.folder].filter(Boolean).join('/')
            : j.folder || 'the root';
        text.textContent = `${where}: ${doneWords(j.done)}` +
            `${undone[j.undone] || ''} — ${shown}`;
        item.append(text);
        // A run that changed nothing has nothing to take back.
        if (j.moved === 0) return item;
        const button = document.createElement('button');
        button.type = 'button';
        button.textContent = 'Undo';
        button.setAttribute('aria-label', `Undo the run of ${shown}`);
        button.disabled = j.undone === 'yes';
        button.addEventListener('click', () => previewUndo(j.journal));
        item.append(button);
        return item;
    }));
}

// "11 hard-linked, 3 copied": what a run did, in its actions' own words.
function doneWords(done) {
    const parts = Object.entries(done || {}).map(([word, count]) => `${count} ${word}`);
    return parts.length ? parts.join(', ') : 'nothing done';
}

// Each file where it is now and where it goes back to, then the folders the undo removes (the
// server sends them last, as they go last).
function undoLines(rows, done) {
    $('undo-list').replaceChildren(...rows.map((r) => {
        const item = document.createElement('li');
        const why = r.refused || r.error;
        const what = r.folder ? `folder ${r.now_at}/ removed` : `${r.now_at} → ${r.back_to}`;
        item.textContent = what + (why ? ` (${why})` : '');
        if (why || (done && !r.restored)) item.className = 'error';
        return item;
    }));
}

async function previewUndo(journal) {
    let answer;
    try {
        answer = await api('/api/undo', {method: 'POST', body: {journal, apply: false}});
    } catch (error) {
        failSay(error);
        return;
    }
    undoLines(answer.rows, false);
    const files = answer.rows.filter((r) => !r.folder);
    const going = files.filter((r) => !r.refused).length;
    const folders = answer.rows.length - files.length;
    $('undo-summary').textContent = `${going} of ${files.length} files go back` +
        (folders ? `, ${folders} ${folders === 1 ? 'folder is' : 'folders are'} removed:` : ':');
    $('undo-cancel').textContent = 'Cancel';
    const confirm = $('undo-confirm');
    confirm.disabled = going === 0;
    confirm.onclick = () => applyUndo(journal);
    $('undo-dialog').showModal();
    // The dialog focuses its first button, below the list; the list is read from its top.
    $('undo-list').scrollTop = 0;
}

async function applyUndo(journal) {
    $('undo-confirm').disabled = true;
    try {
        const answer = await api('/api/undo', {method: 'POST', body: {journal, apply: true}});
        undoLines(answer.rows, true);
        const restored = answer.rows.filter((r) => r.restored);
        const folders = restored.filter((r) => r.folder).length;
        const text = `${restored.length - folders} restored` +
            (folders ? `, ${folders} ${folders === 1 ? 'folder' : 'folders'} removed` : '') +
            `, ${answer.failed} failed`;
        $('undo-summary').textContent = text;
        $('undo-cancel').textContent = 'Close';
        say(text);
    } catch (error) {
        $('undo-summary').textContent = `Error: ${error.message}`;
    }
    loadHistory();
}

$('undo-cancel').addEventListener('click', () => $('undo-dialog').close());

start();
