// The program's local API. Every call carries the session token; every answer's
// body is read, since failures come back as {"error": ...} with status 200.

let token = '';

export const NO_SERVICE = '无法连接到 Tavrin 程序。它可能已经退出，请重新打开程序。';

// The token comes in the address's fragment. This tab keeps a copy, so a
// reload still works if the fragment was lost on the way.
const KEEP = 'tavrin-token';

function kept() {
  try { return sessionStorage.getItem(KEEP) || ''; } catch { return ''; }
}

export function readToken(hash) {
  const match = /(?:^#|&)token=([^&]*)/.exec(hash || '');
  let found = '';
  try { found = match ? decodeURIComponent(match[1]) : ''; } catch { found = ''; }
  token = found || kept();
  if (found) { try { sessionStorage.setItem(KEEP, found); } catch { /* private mode: memory only */ } }
  return token;
}

export function hasToken() {
  return token !== '';
}

function headers(extra) {
  return { Authorization: 'Bearer ' + token, ...extra };
}

// Resolves with { status, data } where data is the parsed JSON answer; a
// transport failure or an unreadable answer becomes an error object too.
export async function call(path, { method = 'GET', body, extra = {}, keepalive = false } = {}) {
  const init = { method, headers: headers(extra), cache: 'no-store', keepalive };
  if (body !== undefined) {
    init.body = typeof body === 'string' || body instanceof ArrayBuffer || ArrayBuffer.isView(body) ? body : JSON.stringify(body);
    init.headers['Content-Type'] = 'application/json; charset=utf-8';
  }
  let response;
  try {
    response = await fetch(path, init);
  } catch {
    return { status: 0, data: { error: NO_SERVICE } };
  }
  let text = '';
  try {
    text = await response.text();
  } catch {
    return { status: response.status, data: { error: NO_SERVICE } };
  }
  try {
    const data = JSON.parse(text);
    if (data && typeof data === 'object') return { status: response.status, data, text };
  } catch { /* fall through */ }
  return { status: response.status, data: { error: `程序的回答无法识别（HTTP ${response.status}）。` }, text };
}

// For answers that are bytes on success (the code export): { ok, bytes } or { ok: false, error }.
export async function callBytes(path, body) {
  let response;
  try {
    response = await fetch(path, {
      method: 'POST', headers: headers({ 'Content-Type': 'application/json; charset=utf-8' }),
      body: JSON.stringify(body), cache: 'no-store',
    });
  } catch {
    return { ok: false, error: NO_SERVICE };
  }
  const type = response.headers.get('Content-Type') || '';
  if (response.status === 200 && type.startsWith('application/octet-stream')) {
    return { ok: true, bytes: new Uint8Array(await response.arrayBuffer()) };
  }
  try {
    const data = JSON.parse(await response.text());
    if (data && typeof data.error === 'string') return { ok: false, error: data.error };
  } catch { /* fall through */ }
  return { ok: false, error: `导出失败（HTTP ${response.status}）。` };
}
