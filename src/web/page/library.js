// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

// The library choice: the scan's release folders as the server groups them for a media library,
// each group under its heading with its own two patterns, each row with the fields its name
// gave. The page only shows what the server decides; Process and the history are page.js's.
'use strict';

const libraryChoice = $('library-choice');
const libraryArea = $('library');

const library = {
    own: {}, // group key -> {filename, output} as the user edited them
    // Row ids unticked here. The plain table's ticks are its own: a row it leaves out as no
    // episode of the batch may well be a film of the library.
    unticked: new Set(),
    sections: new Map(), // group key -> its section, kept so that an edited field keeps focus
    generation: 0,
};

function libraryOn() {
    return libraryChoice.checked;
}

// A new scan's groups have new keys: nothing edited carries over.
function libraryScanned() {
    library.own = {};
    library.unticked.clear();
    library.sections.clear();
    libraryArea.replaceChildren();
}

// What a row's name gave, as it reads: "show Harbour Lights, season 2, episode 1".
function fieldsText(fields) {
    return ['show', 'title', 'year', 'season', 'episode']
        .filter((name) => fields[name] !== undefined)
        .map((name) => {
            const value = fields[name];
            return `${name} ${Array.isArray(value) ? value.join('-') : value}`;
        })
        .join(', ');
}

function libraryRow(row, placed) {
    const item = document.createElement('li');
    item.className = 'library-row';
    const label = document.createElement('label');
    const tick = document.createElement('input');
    tick.type = 'checkbox';
    tick.checked = placed && !library.unticked.has(row.row);
    tick.disabled = !placed;
    tick.addEventListener('change', () => {
        if (tick.checked) library.unticked.delete(row.row);
        else library.unticked.add(row.row);
    });
    const folder = document.createElement('span');
    folder.textContent = row.folder;
    label.append(tick, folder);
    const file = document.createElement('span');
    file.textContent = row.file;
    const target = document.createElement('span');
    target.className = 'target';
    target.textContent = row.target === null ? '' : `→ ${row.target}`;
    const fields = document.createElement('span');
    fields.className = 'fields';
    fields.textContent = fieldsText(row.fields);
    const note = document.createElement('span');
    note.className = 'note';
    const failed = state.failed.get(row.row);
    note.textContent = failed ? `not moved: ${failed}`
        : [row.conflict, row.note].filter(Boolean).join('; ');
    item.classList.toggle('problem', note.textContent !== '');
    item.append(label, file, target, fields, note);
    return item;
}

// A group's pattern field, labelled for the group it belongs to.
function patternField(group, part, text) {
    const label = document.createElement('label');
    const input = document.createElement('input');
    input.type = 'text';
    input.autocomplete = 'off';
    input.spellcheck = false;
    input.id = `library-${part}-${library.sections.size}`;
    input.value = group[part];
    input.setAttribute('aria-label', `${text} ${group.heading}`);
    label.htmlFor = input.id;
    label.textContent = `${text}:`;
    input.addEventListener('input', () => {
        const section = library.sections.get(group.key);
        library.own[group.key] = {filename: section.fields.filename.value,
                                  output: section.fields.output.value};
        fetchLibrary();
    });
    return {label, input};
}

function librarySection(group) {
    const section = document.createElement('section');
    section.className = 'library-group';
    const heading = document.createElement('h2');
    section.append(heading);
    section.fields = {};
    if (group.key !== null) {
        const patterns = document.createElement('div');
        patterns.className = 'patterns';
        for (const [part, text] of [['filename', 'Filename'], ['output', 'Output pattern']]) {
            const {label, input} = patternField(group, part, text);
            section.fields[part] = input;
            patterns.append(label, input);
        }
        section.append(patterns);
    } else {
        const reason = document.createElement('p');
        reason.textContent = group.reason;
        section.append(reason);
    }
    const rows = document.createElement('ul');
    rows.className = 'library-rows';
    rows.setAttribute('aria-label', `Rows of ${group.heading}`);
    section.append(rows);
    section.heading = heading;
    section.rows = rows;
    return section;
}

// Draws the groups; a group already drawn keeps its section, and so its fields and their focus.
function drawLibrary(answer) {
    const shown = [];
    for (const group of answer.groups) {
        const key = group.key === null ? '' : group.key;
        let section = library.sections.get(key);
        if (!section) {
            section = librarySection(group);
            library.sections.set(key, section);
        }
        section.heading.textContent = group.heading;
        const placed = group.key !== null;
        section.rows.replaceChildren(...group.rows.map((row) => libraryRow(row, placed)));
        shown.push(section);
    }
    for (const [key, section] of library.sections) {
        if (!shown.includes(section)) library.sections.delete(key);
    }
    libraryArea.replaceChildren(...shown);
    const skipped = answer.skipped.map((s) => `${s.folder}: ${s.reason}`);
    if (skipped.length) {
        const list = document.createElement('ul');
        list.setAttribute('aria-label', 'Left alone');
        list.replaceChildren(...skipped.map((text) => {
            const item = document.createElement('li');
            item.textContent = text;
            return item;
        }));
        libraryArea.append(list);
    }
}

// Asks for the groups afresh; an answer overtaken by a newer question is dropped.
async function fetchLibrary() {
    if (!state.scan || !libraryOn()) return;
    const generation = ++library.generation;
    let answer;
    try {
        answer = await api(`/api/scans/${encodeURIComponent(state.scan)}/library`, {
            method: 'POST', body: {action: $('action').value, sidecars: $('sidecars').checked,
                                   groups: library.own, ...destination()}});
    } catch (error) {
        if (generation === library.generation) failSay(error);
        return;
    }
    if (generation !== library.generation) return;
    drawLibrary(answer);
}

// What Process sends to place the groups.
function libraryRun() {
    return {body: {library: true, groups: library.own, action: $('action').value,
                   sidecars: $('sidecars').checked, unticked: [...library.unticked],
                   ...destination()},
            planned: libraryArea.querySelectorAll('input[type=checkbox]:checked').length};
}

libraryChoice.addEventListener('change', () => {
    const on = libraryOn();
    $('plain-patterns').hidden = on;
    $('table').hidden = on;
    libraryArea.hidden = !on;
    if (on) fetchLibrary();
    else forget();
    offerProcess();
});
