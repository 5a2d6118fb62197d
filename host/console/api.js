// Fetch helpers for the host's own JSON API.
//
// getJson(path) and sendJson(method, path, body) resolve to the decoded answer, or throw a
// HostError: status 0 when the host could not be reached, else the host's status with the
// errorCode and message of its error answer. The host refuses state-changing requests without
// Content-Type: application/json, so sendJson always sends it (a DELETE too, with no body).

export class HostError extends Error {
  constructor(status, errorCode, message) {
    super(message);
    this.status = status;
    this.errorCode = errorCode;
  }

}

// "404 NOT_FOUND: Nothing is served at /x", "host unreachable, retrying", or for a failure of
// the console itself (an answer of an unexpected shape), its message.
export function describe(error) {
  if (!(error instanceof HostError)) return `the console failed: ${error?.message ?? error}`;
  if (error.status === 0) return 'host unreachable, retrying';
  return `${error.status} ${error.errorCode}: ${error.message}`;
}

// The error an error answer describes: {"errorCode": ..., "message": ...}, when it is one.
export function errorOf(status, text) {
  try {
    const body = JSON.parse(text);
    if (body && typeof body.errorCode === 'string') {
      return new HostError(status, body.errorCode, String(body.message ?? ''));
    }
  } catch {
    // Not JSON: described by its text below.
  }
  return new HostError(status, 'HTTP_ERROR', text.slice(0, 200) || `status ${status}`);
}

async function exchange(method, path, options) {
  let response;
  let text;
  try {
    response = await fetch(path, { method, cache: 'no-store', ...options });
    text = await response.text();
  } catch {
    throw new HostError(0, 'UNREACHABLE', 'host unreachable');
  }
  if (!response.ok) throw errorOf(response.status, text);
  try {
    return JSON.parse(text);
  } catch {
    throw new HostError(response.status, 'NOT_JSON', `the answer is not JSON: ${text.slice(0, 200)}`);
  }
}

export function getJson(path) {
  return exchange('GET', path, { headers: { Accept: 'application/json' } });
}

export function sendJson(method, path, body) {
  return exchange(method, path, {
    headers: { Accept: 'application/json', 'Content-Type': 'application/json' },
    body: body === undefined ? '' : JSON.stringify(body),
  });
}
