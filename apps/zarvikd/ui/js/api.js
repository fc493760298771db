// Calls to the service's /api/v1 with the session's bearer token (kept in
// sessionStorage, so it lives as long as the tab). A failure to reach the
// service throws Offline and tells the connection watcher; an error answer
// throws ApiError with the service's code and message.
const kTokenKey = 'zarvik.token';

export class ApiError extends Error {
  constructor(status, code, message) {
    super(message);
    this.status = status;
    this.code = code;
  }
}

export class Offline extends Error {}

let offlineListener = () => {};
export function onOffline(listener) { offlineListener = listener; }

export function token() { return sessionStorage.getItem(kTokenKey) || ''; }
export function setToken(value) {
  if (value) sessionStorage.setItem(kTokenKey, value);
  else sessionStorage.removeItem(kTokenKey);
}

export async function call(method, path, body, bearer = token()) {
  const headers = { Authorization: `Bearer ${bearer}` };
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  let response;
  try {
    response = await fetch(path, {
      method, headers, cache: 'no-store', body: body === undefined ? undefined : JSON.stringify(body),
    });
  } catch (e) {
    offlineListener(e);
    throw new Offline(e.message);
  }
  const text = await response.text().catch(() => '');
  let doc = null;
  try { doc = text ? JSON.parse(text) : null; } catch { doc = null; }
  if (!response.ok) {
    throw new ApiError(response.status, doc?.code ?? `http_${response.status}`,
      doc?.message ?? `HTTP ${response.status}`);
  }
  return { status: response.status, body: doc };
}

export const get = (path, bearer = undefined) => call('GET', path, undefined, bearer).then((r) => r.body);
