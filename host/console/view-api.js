// The API view: the plugins' endpoints, types and events as /host/v1/api describes them, each
// endpoint under the name of the plugin it belongs to, with a filter that narrows all three
// lists (a plugin's name finds its endpoints). A type name links to its definition on this view
// (#/api/type-<Name>), an endpoint to its Call form (#/call/<operation>).

import { el, byId } from './dom.js';

// A type as text and, for a named record or enum, a link to its definition.
export function typeView(type) {
  if (!type) return el('span', { class: 'type', text: 'none' });
  const link = (name) => el('a', { href: `#/api/type-${name}`, text: name });
  if (type.kind === 'vector' || type.kind === 'map') {
    const element = type.name ? link(type.name) : type.elementKind ?? '?';
    return el('span', { class: 'type' }, `${type.kind}<`, element, '>');
  }
  if (type.name) return el('span', { class: 'type' }, `${type.kind} `, link(type.name));
  return el('span', { class: 'type', text: type.kind });
}

function endpointView(endpoint, plugin) {
  const argumentRows = endpoint.arguments.map((argument) =>
    el('li', {},
      el('span', { class: 'mono', text: argument.name }), ' ',
      el('span', { class: 'place', text: argument.in }), ' ',
      typeView(argument.type),
      argument.optional ? el('span', { class: 'muted', text: ' optional' }) : null));
  return el('article', { class: 'endpoint item', 'data-operation': endpoint.name },
    el('h3', {},
      el('span', { class: `method method-${endpoint.method}`, text: endpoint.method }), ' ',
      el('span', { class: 'mono', text: endpoint.uri }), ' ',
      el('a', { href: `#/call/${endpoint.name}`, class: 'operation', title: 'Open in Call', text: endpoint.name }),
      plugin ? el('span', { class: 'muted plugin', text: ` ${plugin}` }) : null),
    endpoint.description ? el('p', { text: endpoint.description }) : null,
    argumentRows.length ? el('ul', { class: 'arguments' }, argumentRows) : el('p', { class: 'muted', text: 'no arguments' }),
    el('p', {}, 'answers ', typeView(endpoint.result?.type)));
}

function typeDefinitionView(type) {
  const isEnum = Array.isArray(type.enumerators);
  const rows = isEnum
    ? [...type.enumerators].sort((a, b) => a.value - b.value).map((enumerator) =>
      el('li', {}, el('span', { class: 'mono', text: enumerator.name }), ` = ${enumerator.value}`))
    : (type.fields ?? []).map((field) =>
      el('li', {}, el('span', { class: 'mono', text: field.name }), ' ', typeView(field.type),
        field.optional ? el('span', { class: 'muted', text: ' optional' }) : null));
  return el('article', { class: 'type-def item', id: `type-${type.name}` },
    el('h3', {}, el('span', { class: 'muted', text: isEnum ? 'enum ' : 'record ' }),
      el('span', { class: 'mono', text: type.namespace ? `${type.namespace}.${type.name}` : type.name })),
    rows.length ? el('ul', {}, rows) : el('p', { class: 'muted', text: 'empty' }));
}

function eventView(event) {
  return el('article', { class: 'event-def item' },
    el('h3', {}, el('span', { class: 'mono', text: event.name })),
    event.description ? el('p', { text: event.description }) : null,
    el('p', {}, 'payload ', typeView({ kind: 'struct', name: event.dataType })));
}

function applyFilter() {
  const words = byId('api-filter').value.trim().toLowerCase();
  for (const item of byId('view-api').querySelectorAll('.item')) {
    item.hidden = words !== '' && !item.textContent.toLowerCase().includes(words);
  }
}

export function setupApiView() {
  byId('api-filter').addEventListener('input', applyFilter);
}

export function renderApiView(description) {
  const byName = (a, b) => a.name.localeCompare(b.name);
  const pluginOf = new Map();
  for (const plugin of description.plugins ?? []) {
    for (const name of plugin.endpoints) pluginOf.set(name, plugin.name);
  }
  byId('api-endpoints').replaceChildren(
    ...description.endpoints.map((endpoint) => endpointView(endpoint, pluginOf.get(endpoint.name))));
  byId('api-types').replaceChildren(...[...description.types].sort(byName).map(typeDefinitionView));
  byId('api-events').replaceChildren(...description.events.map(eventView));
  applyFilter();
}

// Shows the view; `target` is the id of a definition to bring into sight, if any.
export function showApiView(target) {
  const node = target ? byId(target) : null;
  if (!node) return;
  node.hidden = false;
  node.scrollIntoView({ block: 'start' });
  node.classList.remove('flash');
  void node.offsetWidth; // restarts the highlight's animation
  node.classList.add('flash');
}
