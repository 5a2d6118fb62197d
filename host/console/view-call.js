// The Call view: a form generated from an endpoint's arguments, the request it builds, the
// answer, and the same request as a curl line.
//
// Path arguments replace their {placeholder}, query arguments (and those whose place is "any")
// go to the query string, header arguments to headers, a body argument is sent as it is typed
// with Content-Type: application/json. Empty inputs are left out, so a missing argument reaches
// the plugin as missing. Reserved arguments are the host's to fill and get no input.

import { el, byId, say, prettyJson } from './dom.js';
import { errorOf } from './api.js';

let endpoints = [];

const stateChanging = new Set(['PUT', 'PATCH', 'DELETE', 'POST']);

function currentEndpoint() {
  return endpoints.find((endpoint) => endpoint.name === byId('call-endpoint').value);
}

function inputFor(argument) {
  const typeText = argument.type?.name ?? argument.type?.kind ?? '';
  const label = el('span', { class: 'field-label' },
    el('span', { class: 'mono', text: argument.name }), ' ',
    el('span', { class: 'place', text: argument.in }), ' ',
    el('span', { class: 'muted', text: typeText + (argument.optional ? ', optional' : '') }));
  const input = argument.in === 'body'
    ? el('textarea', { name: argument.name, rows: 6, spellcheck: 'false', placeholder: 'JSON' })
    : el('input', { name: argument.name, type: 'text', placeholder: typeText });
  input.addEventListener('input', showCurl);
  return el('label', { class: 'field' }, label, input);
}

// The request the form describes: {method, path, headers, body}.
function buildRequest(endpoint) {
  const form = byId('call-form');
  const valueOf = (name) => form.elements.namedItem(name)?.value ?? '';
  const query = [];
  const headers = {};
  let body;
  let path = endpoint.uri;
  for (const argument of endpoint.arguments) {
    const value = valueOf(argument.name);
    if (argument.in === 'path') {
      path = path.replaceAll(`{${argument.name}}`, encodeURIComponent(value));
    } else if (value === '') {
      continue;
    } else if (argument.in === 'query' || argument.in === 'any') {
      query.push(`${encodeURIComponent(argument.name)}=${encodeURIComponent(value)}`);
    } else if (argument.in === 'header') {
      headers[argument.name] = value;
    } else if (argument.in === 'body') {
      body = value;
    }
  }
  if (body !== undefined || stateChanging.has(endpoint.method)) {
    headers['Content-Type'] = 'application/json';
  }
  return { method: endpoint.method, path: query.length ? `${path}?${query.join('&')}` : path, headers, body };
}

// Quotes a word for a POSIX shell: inside single quotes, each ' becomes '\''.
export function shellQuote(text) {
  return `'${text.replaceAll("'", "'\\''")}'`;
}

function curlLine(request) {
  const parts = ['curl'];
  if (request.method !== 'GET') parts.push('-X', request.method);
  for (const [name, value] of Object.entries(request.headers)) parts.push('-H', shellQuote(`${name}: ${value}`));
  if (request.body !== undefined) parts.push('--data', shellQuote(request.body));
  parts.push(shellQuote(location.origin + request.path));
  return parts.join(' ');
}

function showCurl() {
  const endpoint = currentEndpoint();
  byId('call-curl').textContent = endpoint ? curlLine(buildRequest(endpoint)) : '';
}

function showResult(status, time, answer, error) {
  say('call-status', status, error !== null);
  byId('call-time').textContent = time;
  byId('call-answer').textContent = answer;
  byId('call-error').hidden = error === null;
  byId('call-error').textContent = error ?? '';
}

async function send(event) {
  event.preventDefault();
  const endpoint = currentEndpoint();
  if (!endpoint) return;
  const request = buildRequest(endpoint);
  if (request.body !== undefined && request.method === 'GET') {
    showResult('not sent', '', '', 'A browser cannot send a GET request with a body; use the curl line.');
    return;
  }
  const button = byId('call-send');
  button.disabled = true;
  showResult('…', '', '', null);
  const started = performance.now();
  try {
    const response = await fetch(request.path, {
      method: request.method,
      headers: request.headers,
      body: request.body ?? (stateChanging.has(request.method) ? '' : undefined),
      cache: 'no-store',
    });
    const text = await response.text();
    const time = `${Math.round(performance.now() - started)} ms`;
    const status = `${response.status} ${response.statusText}`.trim();
    const failure = response.ok ? null : errorOf(response.status, text);
    showResult(status, time, prettyJson(text), failure ? `${failure.errorCode}: ${failure.message}` : null);
  } catch (error) {
    showResult('not answered', '', '', `The request failed: ${error.message} (is the host running?)`);
  } finally {
    button.disabled = false;
  }
}

async function copyCurl() {
  const code = byId('call-curl');
  try {
    await navigator.clipboard.writeText(code.textContent);
    byId('call-copy').textContent = 'Copied';
  } catch {
    // No clipboard access: select the line so that Ctrl-C copies it.
    getSelection().selectAllChildren(code);
    byId('call-copy').textContent = 'Selected, press Ctrl-C';
  }
  setTimeout(() => { byId('call-copy').textContent = 'Copy'; }, 2000);
}

function chooseEndpoint() {
  const endpoint = currentEndpoint();
  byId('call-uri').textContent = endpoint ? `${endpoint.method} ${endpoint.uri}` : '';
  byId('call-description').textContent = endpoint?.description ?? '';
  const inputs = endpoint ? endpoint.arguments.filter((argument) => argument.in !== 'reserved').map(inputFor) : [];
  byId('call-fields').replaceChildren(...(inputs.length ? inputs : [el('p', { class: 'muted', text: 'no arguments' })]));
  showResult('', '', '', null);
  showCurl();
}

export function setupCallView() {
  byId('call-form').addEventListener('submit', send);
  byId('call-copy').addEventListener('click', copyCurl);
  byId('call-endpoint').addEventListener('change', () => {
    history.replaceState(null, '', `#/call/${encodeURIComponent(byId('call-endpoint').value)}`);
    chooseEndpoint();
  });
}

export function renderCallView(description) {
  endpoints = description.endpoints;
  const select = byId('call-endpoint');
  const chosen = select.value;
  select.replaceChildren(...endpoints.map((endpoint) =>
    el('option', { value: endpoint.name, text: `${endpoint.method} ${endpoint.uri} (${endpoint.name})` })));
  if (endpoints.some((endpoint) => endpoint.name === chosen)) select.value = chosen;
  chooseEndpoint();
}

// Shows the view; `operation` (from #/call/<operation>) chooses the endpoint when given.
export function showCallView(operation) {
  const select = byId('call-endpoint');
  if (operation && operation !== select.value && endpoints.some((endpoint) => endpoint.name === operation)) {
    select.value = operation;
    chooseEndpoint();
  }
}
