// The Log view: the host's log records from /host/v1/log, oldest first, filtered by level,
// source and text. On each connection the host sends its backlog first, so the list is
// cleared whenever the stream connects again.

import { el, byId, say } from './dom.js';
import { openStream } from './sse.js';

const maxRows = 2000;

// ALWAYS lines pass every level filter.
const levelRank = { OKAY: 0, WARN: 1, ERROR: 2, ALWAYS: 3 };

function passes(row) {
  const minimum = levelRank[byId('log-level').value] ?? 0;
  const source = byId('log-source').value;
  const words = byId('log-filter').value.trim().toLowerCase();
  return (levelRank[row.dataset.level] ?? 0) >= minimum &&
    (source === 'all' || row.dataset.source === source) &&
    (words === '' || row.textContent.toLowerCase().includes(words));
}

function follow() {
  const list = byId('log-list');
  if (byId('log-follow').checked) list.scrollTop = list.scrollHeight;
}

function receive(name, data) {
  if (name !== 'log') return;
  let record;
  try {
    record = JSON.parse(data);
  } catch {
    record = { time: '', level: 'ERROR', source: 'host', text: `unreadable log record: ${data}` };
  }
  const level = String(record.level ?? '');
  const source = String(record.source ?? '');
  const row = el('div', { class: `log-row level-${level}`, 'data-level': level, 'data-source': source },
    el('span', { class: 'log-time', text: String(record.time ?? '') }),
    el('span', { class: 'log-level', text: level }),
    el('span', { class: 'log-source', text: source }),
    el('span', { class: 'log-text', text: String(record.text ?? '') }));
  row.hidden = !passes(row);
  const list = byId('log-list');
  list.append(row);
  while (list.childElementCount > maxRows) list.firstElementChild.remove();
  follow();
}

function refilter() {
  for (const row of byId('log-list').children) row.hidden = !passes(row);
  follow();
}

export function setupLogView() {
  byId('log-level').addEventListener('change', refilter);
  byId('log-source').addEventListener('change', refilter);
  byId('log-filter').addEventListener('input', refilter);
  byId('log-follow').addEventListener('change', follow);
  openStream('/host/v1/log', {
    onOpen: () => byId('log-list').replaceChildren(),
    onEvent: receive,
    onState: (state, text) => say('log-state', text, state === 'retrying'),
  });
}

// The list was hidden and did not scroll; bring its end into sight.
export function showLogView() {
  follow();
}
