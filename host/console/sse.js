// A Server-Sent-Events reader over fetch().
//
// EventSource needs a listener per event name, and the plugin's event names are not known in
// advance, so the console reads the stream itself: fetch, then the body's reader, a
// TextDecoder, and the SSE framing (field lines, comments starting with ':', a blank line
// ending each event, several data lines joined with '\n').
//
//   openStream('/events', {
//     onOpen() {},                      // connected (again): a good time to clear old rows
//     onEvent(name, data) {},           // data is the text; the name 'message' when none given
//     onState(state, text) {},          // 'connecting', 'connected' or 'retrying', and a text
//   });
//
// It reconnects by itself when the stream ends, fails or stays silent too long (the host sends
// a heartbeat after 15 s of silence), waiting 1 s first and up to 8 s after repeated failures.

const firstDelayMs = 1000;
const longestDelayMs = 8000;
const silenceLimitMs = 45000;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export function openStream(url, handlers) {
  const state = (name, text) => handlers.onState?.(name, text);
  let delay = firstDelayMs;

  async function connectOnce() {
    const controller = new AbortController();
    let watchdog = 0;
    const feedWatchdog = () => {
      clearTimeout(watchdog);
      watchdog = setTimeout(() => controller.abort(), silenceLimitMs);
    };
    try {
      feedWatchdog();
      const response = await fetch(url, {
        cache: 'no-store',
        headers: { Accept: 'text/event-stream' },
        signal: controller.signal,
      });
      if (!response.ok || !response.body) return `the host answered ${response.status}`;
      delay = firstDelayMs;
      state('connected', 'connected');
      handlers.onOpen?.();
      await readFrames(response.body.getReader(), handlers, feedWatchdog);
      return 'the stream ended';
    } catch {
      return controller.signal.aborted ? 'the stream fell silent' : 'host unreachable';
    } finally {
      clearTimeout(watchdog);
    }
  }

  (async () => {
    for (;;) {
      state('connecting', 'connecting…');
      const reason = await connectOnce();
      state('retrying', `${reason}, retrying in ${delay / 1000} s`);
      await sleep(delay);
      delay = Math.min(delay * 2, longestDelayMs);
    }
  })();
}

// Reads frames until the stream ends; calls handlers.onEvent per complete event.
async function readFrames(reader, handlers, onActivity) {
  const decoder = new TextDecoder();
  let pending = '';
  let name = '';
  let data = [];
  const takeLine = (line) => {
    if (line === '') {
      if (data.length > 0) handlers.onEvent?.(name || 'message', data.join('\n'));
      name = '';
      data = [];
      return;
    }
    if (line.startsWith(':')) return;
    const colon = line.indexOf(':');
    const field = colon < 0 ? line : line.slice(0, colon);
    let value = colon < 0 ? '' : line.slice(colon + 1);
    if (value.startsWith(' ')) value = value.slice(1);
    if (field === 'event') name = value;
    else if (field === 'data') data.push(value);
  };
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return;
    onActivity();
    pending += decoder.decode(value, { stream: true });
    // A '\r' at the end may be the first half of '\r\n': keep it until the next chunk.
    const lines = pending.split(/\r\n|\r(?!$)|\n/);
    pending = lines.pop();
    lines.forEach(takeLine);
  }
}
