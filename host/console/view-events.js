// The Events view: the plugin's events from /events as they arrive, newest first, each with
// its payload folded; a count per event name; Pause and Clear.
//
// While paused, events are still counted and kept aside (up to the list's bound) and are
// listed when the view resumes, so nothing that arrived in between is missed.

import { el, byId, say, clockTime, prettyJson } from './dom.js';
import { openStream } from './sse.js';

const maxRows = 500;

const counts = new Map();
let paused = false;
let held = [];

const previewLength = 100;

function rowFor(name, data, time) {
  const preview = data.length > previewLength ? `${data.slice(0, previewLength)}…` : data;
  return el('div', { class: 'event-row' },
    el('details', { class: 'event-payload' },
      el('summary', {},
        el('span', { class: 'event-time', text: time }), ' ',
        el('span', { class: 'event-name', text: name }),
        el('span', { class: 'event-preview', text: preview })),
      el('pre', { text: prettyJson(data) })));
}

function addRow(row) {
  const list = byId('events-list');
  list.prepend(row);
  while (list.childElementCount > maxRows) list.lastElementChild.remove();
}

function showCounts() {
  const rows = [...counts.entries()].sort(([a], [b]) => a.localeCompare(b)).map(([name, count]) =>
    el('div', { class: 'event-count', 'data-name': name },
      el('span', { class: 'mono', text: name }), el('span', { class: 'count', text: String(count) })));
  byId('events-counts').replaceChildren(...rows);
}

function showNote() {
  byId('events-note').textContent = paused
    ? `paused: still counting, ${held.length} event${held.length === 1 ? '' : 's'} held until resumed`
    : `newest first, the last ${maxRows} kept`;
}

function receive(name, data) {
  counts.set(name, (counts.get(name) ?? 0) + 1);
  showCounts();
  const row = rowFor(name, data, clockTime());
  if (paused) {
    held.push(row);
    if (held.length > maxRows) held.shift();
    showNote();
  } else {
    addRow(row);
  }
}

function togglePause() {
  paused = !paused;
  byId('events-pause').textContent = paused ? 'Resume' : 'Pause';
  byId('events-pause').classList.toggle('active', paused);
  if (!paused) {
    held.forEach(addRow);
    held = [];
  }
  showNote();
}

function clear() {
  counts.clear();
  held = [];
  byId('events-list').replaceChildren();
  showCounts();
  showNote();
}

export function setupEventsView() {
  byId('events-pause').addEventListener('click', togglePause);
  byId('events-clear').addEventListener('click', clear);
  showNote();
  openStream('/events', {
    onEvent: receive,
    onState: (state, text) => say('events-state', text, state === 'retrying'),
  });
}
