// The console's shell: starts every view, loads the API description for the API and Call
// views, and shows one view at a time after the address's hash: #/<view>[/<argument>], for
// example #/call/GetKorGeoinfoV1Getlocation or #/api/type-MdlBeKorGeoinfoGeoInfo.

import { byId, say } from './dom.js';
import { getJson, describe } from './api.js';
import { setupApiView, renderApiView, showApiView } from './view-api.js';
import { setupCallView, renderCallView, showCallView } from './view-call.js';
import { setupEventsView } from './view-events.js';
import { setupLogView, showLogView } from './view-log.js';
import { setupPlatformView, showPlatformView, hidePlatformView } from './view-platform.js';
import { setupHealthView } from './view-health.js';

const views = {
  api: { show: showApiView },
  call: { show: showCallView },
  events: {},
  log: { show: showLogView },
  platform: { show: showPlatformView, hide: hidePlatformView },
  health: {},
};

let description = null;
let loading = false;

function route() {
  const [, name = '', ...rest] = location.hash.split('/');
  if (!(name in views)) {
    location.replace('#/api');
    return;
  }
  let argument = rest.join('/');
  try {
    argument = decodeURIComponent(argument);
  } catch {
    // A malformed escape: the argument is taken as it is written.
  }
  for (const [other, view] of Object.entries(views)) {
    const section = byId(`view-${other}`);
    const shown = other === name;
    if (!shown && !section.hidden) view.hide?.();
    section.hidden = !shown;
    byId(`nav-${other}`).classList.toggle('current', shown);
    byId(`nav-${other}`).setAttribute('aria-current', shown ? 'page' : 'false');
  }
  document.title = `${name} · vexa-host console`;
  if (description || (name !== 'api' && name !== 'call')) views[name].show?.(argument);
}

// Reads /host/v1/api, again every 2 s until the host answers.
// Views are drawn again only when it changed, so a form being filled in stays as it is.
async function loadDescription() {
  if (loading) return;
  loading = true;
  if (!description) say('api-state', 'loading the API description…');
  let loaded;
  try {
    loaded = await getJson('/host/v1/api');
  } catch (error) {
    say('api-state', describe(error), true);
    setTimeout(() => { loading = false; loadDescription(); }, 2000);
    return;
  }
  loading = false;
  say('api-state', `${loaded.endpoints.length} endpoints, ${loaded.types.length} types, ` +
    `${loaded.events.length} events`);
  if (description && JSON.stringify(loaded) === JSON.stringify(description)) return;
  description = loaded;
  renderApiView(description);
  renderCallView(description);
  route();
}

setupApiView();
setupCallView();
setupEventsView();
setupLogView();
setupPlatformView();
setupHealthView();
window.addEventListener('hashchange', route);
window.addEventListener('host-restarted', loadDescription);
route();
loadDescription();
