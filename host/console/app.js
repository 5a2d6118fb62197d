// The console's shell: starts every view, loads the API description for the API and Call
// views, and shows one view at a time after the address's hash: #/<view>[/<argument>], for
// example #/call/GetKorGeoinfoV1Getlocation or #/api/type-MdlBeKorGeoinfoGeoInfo.

import { byId, say } from './dom.js';
import { getJson } from './api.js';
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

function route() {
  const [, name = '', ...rest] = location.hash.split('/');
  if (!(name in views)) {
    location.replace('#/api');
    return;
  }
  const argument = decodeURIComponent(rest.join('/'));
  for (const [other, view] of Object.entries(views)) {
    const section = byId(`view-${other}`);
    const shown = other === name;
    if (!shown && !section.hidden) view.hide?.();
    section.hidden = !shown;
    byId(`nav-${other}`).classList.toggle('current', shown);
    if (shown) byId(`nav-${other}`).setAttribute('aria-current', 'page');
    else byId(`nav-${other}`).removeAttribute('aria-current');
  }
  document.title = `${name} · vexa-host console`;
  if (description || (name !== 'api' && name !== 'call')) views[name].show?.(argument);
}

// Reads /host/v1/api, again every 2 s until the host answers.
async function loadDescription() {
  say('api-state', 'loading the API description…');
  try {
    description = await getJson('/host/v1/api');
  } catch (error) {
    say('api-state', `${error.describe()}`, true);
    setTimeout(loadDescription, 2000);
    return;
  }
  say('api-state', `${description.endpoints.length} endpoints, ${description.types.length} types, ` +
    `${description.events.length} events`);
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
route();
loadDescription();
