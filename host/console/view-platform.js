// The Platform view: the login session, the feature switch, any configuration namespace (read
// and replaced by name) and the service's faults, as the plugins see them. While the view is shown it reads all three every second, so changes made
// elsewhere (another tab, curl) appear; an input the user is editing (focused, or changed and
// not yet applied) is left as it is.

import { byId, say, trackEdits, setUnlessEditing } from './dom.js';
import { getJson, sendJson, describe } from './api.js';

const faultNames = ['errorRate', 'latencyMs', 'silenceRate', 'duplicateRate', 'strayRate'];
const pollMs = 1000;

let visible = false;
let timer = 0;
let round = 0; // a poll loop stops when the view is shown again, which starts a new one
let unreachable = false;

const faultInput = (name) => byId(`fault-${name}`);

function showSession(session) {
  byId('session-state').textContent = session ? session.state : 'signed out';
  byId('session-profile').textContent = session ? String(session.profileId) : '–';
  byId('session-account').textContent = session ? String(session.accountId) : '–';
  if (session) {
    setUnlessEditing(byId('signin-profile'), session.profileId);
    setUnlessEditing(byId('signin-account'), session.accountId);
  }
}

function showConfig(config) {
  const box = byId('feature-enabled');
  if (!box.disabled) box.checked = config?.Enabled === true;
}

function showFaults(faults) {
  for (const name of faultNames) {
    if (typeof faults?.[name] === 'number') setUnlessEditing(faultInput(name), faults[name]);
  }
}

async function refresh() {
  try {
    const [session, config, faults] = await Promise.all(
      ['/host/v1/session', '/host/v1/config', '/host/v1/faults'].map(getJson));
    showSession(session);
    showConfig(config);
    showFaults(faults);
    if (unreachable) say('platform-message', 'host reachable again');
    unreachable = false;
  } catch (error) {
    unreachable = error.status === 0;
    say('platform-message', describe(error), true);
  }
}

async function poll(loop) {
  await refresh();
  if (visible && loop === round) timer = setTimeout(() => poll(loop), pollMs);
}

// Runs a change: shows its result or the host's error, then reads the state again.
async function change(what, method, path, body, inputs = []) {
  try {
    await sendJson(method, path, body);
    inputs.forEach((input) => input.classList.remove('dirty'));
    say('platform-message', `${what}: done`);
  } catch (error) {
    say('platform-message', `${what}: ${describe(error)}`, true);
  }
  await refresh();
}

// The unsigned id typed into `input`, or null after saying why it is not one.
function idFrom(input, label) {
  const text = input.value.trim();
  if (/^\d+$/.test(text) && Number.isSafeInteger(Number(text))) return Number(text);
  say('platform-message', `${label} must be an unsigned number below 2^53`, true);
  return null;
}

function sessionChange(what, state) {
  const profileInput = byId('signin-profile');
  const accountInput = byId('signin-account');
  const profileId = idFrom(profileInput, 'Profile id');
  const accountId = profileId === null ? null : idFrom(accountInput, 'Account id');
  if (accountId === null) return;
  change(what, 'PUT', '/host/v1/session', { state, profileId, accountId }, [profileInput, accountInput]);
}

async function switchFeature() {
  const box = byId('feature-enabled');
  box.disabled = true;
  try {
    await change(box.checked ? 'Enable' : 'Disable', 'PUT', '/host/v1/config', { Enabled: box.checked });
  } finally {
    box.disabled = false;
  }
}

const namespacePath = () => `/host/v1/config/${encodeURIComponent(byId('config-name').value.trim())}`;

async function readNamespace() {
  if (byId('config-name').value.trim() === '') return say('platform-message', 'Name a namespace', true);
  try {
    byId('config-document').value = JSON.stringify(await getJson(namespacePath()));
    say('platform-message', 'Namespace read');
  } catch (error) {
    say('platform-message', `Namespace: ${describe(error)}`, true);
  }
}

function applyNamespace() {
  let document;
  try {
    document = JSON.parse(byId('config-document').value);
  } catch {
    return say('platform-message', 'The namespace document is not JSON', true);
  }
  if (byId('config-name').value.trim() === '') return say('platform-message', 'Name a namespace', true);
  change('Namespace', 'PUT', namespacePath(), document);
}

function applyFaults() {
  const faults = {};
  for (const name of faultNames) {
    const text = faultInput(name).value.trim();
    if (text === '') continue;
    const value = Number(text);
    if (!Number.isFinite(value)) {
      say('platform-message', `${name} must be a number`, true);
      return;
    }
    faults[name] = value;
  }
  change('Faults', 'PUT', '/host/v1/faults', faults, faultNames.map(faultInput));
}

export function setupPlatformView() {
  for (const input of [byId('signin-profile'), byId('signin-account'), ...faultNames.map(faultInput)]) {
    trackEdits(input);
  }
  byId('session-signin').addEventListener('click', () => sessionChange('Sign in', 'SUCCEEDED'));
  byId('session-logout').addEventListener('click', () => sessionChange('Log out', 'LOGGING_OUT'));
  byId('session-delete').addEventListener('click', () => change('Delete session', 'DELETE', '/host/v1/session'));
  byId('feature-enabled').addEventListener('change', switchFeature);
  byId('faults-apply').addEventListener('click', applyFaults);
  byId('config-read').addEventListener('click', readNamespace);
  byId('config-apply').addEventListener('click', applyNamespace);
}

export function showPlatformView() {
  if (visible) return;
  visible = true;
  poll(++round);
}

export function hidePlatformView() {
  visible = false;
  clearTimeout(timer);
}
