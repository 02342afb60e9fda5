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
    failed: new Map(), // row id -> why its move failed
    pending: null, // {generation, offset, limit, controller}
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
    measureRows();
    loadHistory();
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
    const name = document.createElement('span');
    const note = document.createElement('span');
    note.className = 'note';
    target.append(name, note);
    element.append(folderCell, file, target);
    element.parts = {tick, folder, file, target, name, note};
    element.position = -1;
    element.slot = slot;
    spacer.append(element);
    return element;
}

// Rows are one fixed height, measured once from a drawn row, so that positions are arithmetic.
function measureRows() {
    if (state.rowHeight) return;
    const probe = makeRow(-1);
    state.rowHeight = probe.getBoundingClientRect().height || 28;
    probe.remove();
}

function visibleRange() {
    const first = Math.floor(scroller.scrollTop / state.rowHeight);
    const count = Math.ceil(scroller.clientHeight / state.rowHeight) + 1;
    return {first, count, last: Math.min(state.total, first + count)};
}

function fill(element, position) {
    const row = state.rows.get(position);
    const {tick, folder, file, target, name, note} = element.parts;
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
    tick.disabled = !row;
    if (!row) {
        folder.textContent = file.textContent = name.textContent = note.textContent = '';
        return;
    }
    tick.checked = !state.unticked.has(row.row);
    folder.textContent = row.folder;
    file.textContent = row.file;
    if (state.editing && state.editing.element === element) return;
    const typed = state.typed.get(row.row);
    name.textContent = typed !== undefined ? typed : row.target;
    target.classList.toggle('typed', typed !== undefined);
    // A name typed by hand is checked only when it moves; the server's conflict was for its own.
    const failed = state.failed.get(row.row);
    const why = failed ? `not moved: ${failed}` : (typed === undefined && row.conflict) || '';
    const sidecars = row.sidecars || [];
    const more = sidecars.length ? `+${sidecars.length} sidecar${sidecars.length > 1 ? 's' : ''}`
        : '';
    note.textContent = why || more;
    element.classList.toggle('problem', why !== '');
    target.title = sidecars.map((s) => `${s.file} → ${s.target}`).join('\n');
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
    const query = new URLSearchParams({filename: filenameEdit.value, output: outputEdit.value,
                                       offset: request.offset, limit: request.limit,
                                       action: $('action').value});
    if ($('sidecars').checked) query.set('sidecars', '1');
    let answer;
    try {
        answer = await api(`/api/scans/${encodeURIComponent(state.scan)}/rows?${query}`,
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
}

// The names known may be out of date: ask again for the rows in view.
function forget() {
    ++state.generation;
    state.rows.clear();
    fetchLibrary();
    if (state.scan) {
        const {first, last} = visibleRange();
        fetchRows(first, Math.max(last - first, 1));
    }
}

function patternsChanged() {
    // As in the window: a keystroke in a pattern field replaces every name typed by hand.
    state.typed.clear();
    stopEditing(false);
    forget();
}

filenameEdit.addEventListener('input', patternsChanged);
outputEdit.addEventListener('input', patternsChanged);
$('action').addEventListener('change', forget);
$('sidecars').addEventListener('change', forget);

let scrollFrame = 0;
scroller.addEventListener('scroll', () => {
    if (scrollFrame) return;
    scrollFrame = requestAnimationFrame(() => {
        scrollFrame = 0;
        render();
    });
});
window.addEventListener('resize', render);

function rowOf(node) {
    const element = node.closest('.row');
    return element && element.rowId !== undefined ? element : null;
}

spacer.addEventListener('change', (event) => {
    const element = rowOf(event.target);
    if (!element || event.target.type !== 'checkbox') return; // not the editor's change
    if (event.target.checked) state.unticked.delete(element.rowId);
    else state.unticked.add(element.rowId);
});

// --- Names typed by hand -----------------------------------------------------------------------

function startEditing(element) {
    stopEditing(true);
    const {target, name} = element.parts;
    const editor = document.createElement('input');
    editor.type = 'text';
    editor.className = 'editor';
    editor.value = name.textContent;
    editor.setAttribute('aria-label', `Target filename for ${element.parts.folder.textContent}`);
    state.editing = {id: element.rowId, element, editor};
    name.hidden = true;
    target.append(editor);
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
    if (keep) state.typed.set(editing.id, editing.editor.value);
    editing.editor.remove();
    editing.element.parts.name.hidden = false;
    if (redraw) fill(editing.element, editing.element.position);
}

spacer.addEventListener('dblclick', (event) => {
    const element = rowOf(event.target);
    if (element && event.target.closest('.target')) startEditing(element);
});

spacer.addEventListener('focusin', (event) => {
    const element = rowOf(event.target);
    if (!element || event.target.classList.contains('editor')) return;
    const part = event.target === element.parts.target ? 'target' : 'tick';
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
        part = event.key === 'ArrowRight' ? 'target' : 'tick';
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
    if (next) next.parts[part].focus();
});

// --- Open Folder(s) ----------------------------------------------------------------------------

const chooser = {root: 0, path: ''};

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
    const root = state.roots.find((r) => r.id === chooser.root);
    $('chooser-path').textContent = joinPath(root ? root.path : '', chooser.path);
    $('chooser-up').disabled = chooser.path === '';
    list.replaceChildren(...answer.folders.map((name, i) => {
        const item = document.createElement('li');
        const tick = document.createElement('input');
        tick.type = 'checkbox';
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
// subfolders; several are the release folders themselves.
$('chooser-choose').addEventListener('click', () => {
    const ticked = [...$('chooser-list').querySelectorAll('input:checked')];
    const folders = ticked.length ? ticked.map((t) => joinPath(chooser.path, t.value))
        : [chooser.path];
    $('chooser').close();
    scan(folders);
});

async function scan(folders) {
    say('Reading folders…');
    let answer;
    try {
        answer = await api('/api/scans', {method: 'POST',
                                          body: {root: chooser.root, folders}});
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
    say(`${answer.rows} ${answer.rows === 1 ? 'row' : 'rows'}`);
    processButton.disabled = false;
    scroller.scrollTop = 0;
    forget();
    render();
}

// --- Process -----------------------------------------------------------------------------------

processButton.addEventListener('click', async () => {
    stopEditing(true);
    processButton.disabled = true;
    const counts = {attempted: 0, moved: 0, failed: 0};
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
        targets: Object.fromEntries(state.typed)};
    let refresh = 0;
    const line = (outcome) => {
        if (outcome.done) {
            say(`${outcome.moved} moved, ${outcome.failed} failed` +
                (outcome.journal ? ` (journal ${outcome.journal})` : ''));
            return;
        }
        ++counts.attempted;
        if (outcome.outcome === 'moved') {
            ++counts.moved;
            state.typed.delete(outcome.row);
        } else {
            ++counts.failed;
            state.failed.set(outcome.row, outcome.error || 'failed');
        }
        progress.value = counts.attempted;
        $('counts').textContent =
            `${counts.attempted} of ${planned}: ${counts.moved} moved, ${counts.failed} failed`;
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
    forget();
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
        text.textContent = `${shown}: ${j.moved} moved${undone[j.undone] || ''}`;
        const button = document.createElement('button');
        button.type = 'button';
        button.textContent = 'Undo';
        button.setAttribute('aria-label', `Undo the run of ${shown}`);
        button.disabled = j.undone === 'yes';
        button.addEventListener('click', () => previewUndo(j.journal));
        item.append(text, button);
        return item;
    }));
}

function undoLines(rows, done) {
    $('undo-list').replaceChildren(...rows.map((r) => {
        const item = document.createElement('li');
        const why = r.refused || r.error;
        item.textContent = `${r.now_at} → ${r.back_to}` + (why ? ` (${why})` : '');
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
    const going = answer.rows.filter((r) => !r.refused).length;
    $('undo-summary').textContent = `${going} of ${answer.rows.length} files go back:`;
    $('undo-cancel').textContent = 'Cancel';
    const confirm = $('undo-confirm');
    confirm.disabled = going === 0;
    confirm.onclick = () => applyUndo(journal);
    $('undo-dialog').showModal();
}

async function applyUndo(journal) {
    $('undo-confirm').disabled = true;
    try {
        const answer = await api('/api/undo', {method: 'POST', body: {journal, apply: true}});
        undoLines(answer.rows, true);
        const text = `${answer.restored} restored, ${answer.failed} failed`;
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
