// The desktop window's message channel (absent in a plain browser).

const channel = typeof window !== 'undefined' && window.chrome && window.chrome.webview ? window.chrome.webview : null;
let nextId = 1;
const pending = new Map();

export function inDesktop() {
  return channel !== null;
}

export function post(message) {
  if (channel) channel.postMessage(message);
}

// handlers: { requestClose() }
export function listen(handlers) {
  if (!channel) return;
  channel.addEventListener('message', (event) => {
    const data = event.data;
    if (data === 'request-close') { handlers.requestClose(); return; }
    if (data && typeof data === 'object' && data.type === 'file-saved') {
      const done = pending.get(data.id);
      if (done) { pending.delete(data.id); done(data); }
    }
  });
}

export function bytesToBase64(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(text);
}

// Asks the window to save bytes through its own dialog; resolves with the
// "file-saved" answer { ok, cancelled, message }.
export function saveFile(name, bytes) {
  const id = nextId++;
  return new Promise((resolve) => {
    pending.set(id, resolve);
    post({ type: 'save', id, name, data: bytesToBase64(bytes) });
  });
}
