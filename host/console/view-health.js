// The Health view: the host's health figures, the plugins' allocation counters (added up) and
// a row for each plugin from /host/v1/plugins, read every second for as long as the page is open (the history grows while other views are shown), with
// the last five minutes drawn as an SVG chart: live allocations on the right scale, live and
// peak bytes on the left one. When the uptime goes back, the host was restarted: the window
// hears 'host-restarted', and the API description is read again.

import { byId, el, say, svg } from './dom.js';
import { getJson, describe } from './api.js';

const pollMs = 1000;
const historyLength = 300;
const width = 600;
const height = 220;
const margin = { left: 64, right: 56, top: 12, bottom: 22 };

const history = [];
let lastUptime = -1;

export function formatBytes(bytes) {
  if (bytes < 1024) return `${bytes} B`;
  if (bytes < 1024 * 1024) return `${(bytes / 1024).toFixed(1)} KiB`;
  return `${(bytes / (1024 * 1024)).toFixed(2)} MiB`;
}

function formatUptime(seconds) {
  const h = Math.floor(seconds / 3600);
  const m = Math.floor((seconds % 3600) / 60);
  const s = seconds % 60;
  return h > 0 ? `${h} h ${m} min ${s} s` : m > 0 ? `${m} min ${s} s` : `${s} s`;
}

// The top of a scale: a round number at or above `value`.
function scaleTop(value) {
  if (value <= 0) return 1;
  const step = 10 ** Math.floor(Math.log10(value));
  return Math.ceil(value / step) * step;
}

function line(values, top, className) {
  const plotWidth = width - margin.left - margin.right;
  const plotHeight = height - margin.top - margin.bottom;
  const x = (index) => margin.left + (plotWidth * index) / (historyLength - 1);
  const y = (value) => margin.top + plotHeight * (1 - value / top);
  const offset = historyLength - values.length;
  const points = values.map((value, index) => `${x(offset + index).toFixed(1)},${y(value).toFixed(1)}`);
  return svg('polyline', { points: points.join(' '), class: `series ${className}` });
}

function label(x, y, text, anchor) {
  const node = svg('text', { x, y, 'text-anchor': anchor, class: 'axis-label' });
  node.textContent = text;
  return node;
}

function drawChart() {
  const chart = byId('health-chart');
  const bytesTop = scaleTop(Math.max(...history.map((sample) => sample.peakBytes)));
  const countTop = scaleTop(Math.max(...history.map((sample) => sample.liveAllocations)));
  const bottom = height - margin.bottom;
  chart.replaceChildren(
    svg('rect', { x: margin.left, y: margin.top, width: width - margin.left - margin.right,
      height: bottom - margin.top, class: 'plot' }),
    line(history.map((sample) => sample.peakBytes), bytesTop, 'series-peak'),
    line(history.map((sample) => sample.liveBytes), bytesTop, 'series-bytes'),
    line(history.map((sample) => sample.liveAllocations), countTop, 'series-allocations'),
    label(margin.left - 6, margin.top + 10, formatBytes(bytesTop), 'end'),
    label(margin.left - 6, bottom, '0', 'end'),
    label(width - margin.right + 6, margin.top + 10, String(countTop), 'start'),
    label(width - margin.right + 6, bottom, '0', 'start'),
    label(margin.left, height - 4, '5 min ago', 'start'),
    label(width - margin.right, height - 4, 'now', 'end'));
}

function showHealth(health) {
  // A shorter uptime than last time is a new host, perhaps with a rebuilt plugin.
  if (health.uptimeSeconds < lastUptime) window.dispatchEvent(new Event('host-restarted'));
  lastUptime = health.uptimeSeconds;
  say('health-state', `status ${health.status}`);
  const plugin = `${(health.plugins ?? [health.plugin]).join(', ')} (plugin API ${health.pluginApi})`;
  byId('health-plugin').textContent = plugin;
  byId('host-plugin').textContent = (health.plugins ?? [health.plugin]).join(', ');
  byId('health-uptime').textContent = formatUptime(health.uptimeSeconds);
  byId('health-subscriptions').textContent = String(health.subscriptions);
  byId('health-event-clients').textContent = String(health.eventClients);
}

function showStatistics(statistics) {
  const sample = {
    liveAllocations: statistics.allocations - statistics.frees,
    liveBytes: statistics.bytesAllocated - statistics.bytesFreed,
    peakBytes: statistics.peakBytes,
  };
  history.push(sample);
  if (history.length > historyLength) history.shift();
  byId('health-live-allocations').textContent = String(sample.liveAllocations);
  byId('health-live-bytes').textContent = formatBytes(sample.liveBytes);
  byId('health-peak-bytes').textContent = formatBytes(sample.peakBytes);
  drawChart();
}

function showPlugins(plugins) {
  byId('health-plugin-rows').replaceChildren(...plugins.map((plugin) => {
    const counters = plugin.statistics;
    const cells = [plugin.entry, plugin.health.endpoints, plugin.health.subscriptions,
      counters.allocations - counters.frees, formatBytes(counters.bytesAllocated - counters.bytesFreed),
      formatBytes(counters.peakBytes)];
    return el('tr', { 'data-plugin': plugin.name },
      el('td', { title: plugin.path }, el('span', { class: 'mono', text: plugin.name }), ` ${plugin.fullName}`),
      ...cells.map((cell) => el('td', { text: String(cell) })));
  }));
}

async function poll() {
  try {
    const [health, statistics, plugins] = await Promise.all(
      ['/host/v1/health', '/host/v1/statistics', '/host/v1/plugins'].map(getJson));
    showHealth(health);
    showStatistics(statistics);
    showPlugins(plugins);
  } catch (error) {
    say('health-state', describe(error), true);
  }
  setTimeout(poll, pollMs);
}

export function setupHealthView() {
  poll();
}
