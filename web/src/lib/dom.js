// Small DOM helpers. Text always goes in through textContent, never as markup,
// because exercise texts and program output come from files we do not control.

export function el(tag, attrs, ...children) {
  const node = document.createElement(tag);
  if (attrs) {
    for (const [key, value] of Object.entries(attrs)) {
      if (value === undefined || value === null || value === false) continue;
      if (key === 'class') node.className = value;
      else if (key === 'text') node.textContent = value;
      else if (key === 'dataset') Object.assign(node.dataset, value);
      else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
      else if (value === true) node.setAttribute(key, '');
      else node.setAttribute(key, String(value));
    }
  }
  append(node, children);
  return node;
}

function append(node, children) {
  for (const child of children) {
    if (child === undefined || child === null || child === false) continue;
    if (Array.isArray(child)) append(node, child);
    else node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
}

const SVG_NS = 'http://www.w3.org/2000/svg';
export function svg(tag, attrs, ...children) {
  const node = document.createElementNS(SVG_NS, tag);
  for (const [key, value] of Object.entries(attrs || {})) {
    if (key === 'text') node.textContent = value;
    else if (key === 'class') node.setAttribute('class', value);
    else node.setAttribute(key, String(value));
  }
  for (const child of children.flat()) if (child) node.append(child);
  return node;
}

export function $(selector, root = document) {
  return root.querySelector(selector);
}

export function clear(node) {
  while (node.firstChild) node.removeChild(node.firstChild);
  return node;
}

export function show(node, visible) {
  node.hidden = !visible;
}

let toastTimer = 0;
// Short notices at the bottom of the window; kind: info | ok | error.
export function toast(message, kind = 'info', ms = 4200) {
  const box = $('#toast');
  box.textContent = message;
  box.className = 'toast toast-' + kind;
  box.hidden = false;
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => { box.hidden = true; }, ms);
}

// A modal question with buttons; resolves with the chosen button's value.
// message is a text or a node.
export function ask(title, message, buttons) {
  return new Promise((resolve) => {
    const dialog = $('#dialog');
    clear(dialog);
    const done = (value) => { dialog.close(); resolve(value); };
    const row = el('div', { class: 'dialog-buttons' },
      buttons.map((b) => el('button', {
        type: 'button', class: b.primary ? 'btn btn-primary' : 'btn', text: b.label,
        onclick: () => done(b.value),
      })));
    const body = typeof message === 'string' ? el('p', { class: 'dialog-text', text: message }) : message;
    dialog.append(el('h2', { text: title }), body, row);
    dialog.oncancel = (e) => { e.preventDefault(); done(buttons[buttons.length - 1].value); };
    dialog.showModal();
    const primary = row.querySelector('.btn-primary') || row.querySelector('button');
    primary.focus();
  });
}

export function formatDate(d) {
  const p = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())}`;
}
