// Small DOM helpers: elements built in code (no HTML strings, so nothing
// from the service is ever parsed as markup).
export function el(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === null || value === undefined || value === false) continue;
    if (name === 'class') node.className = value;
    else if (name === 'text') node.textContent = value;
    else if (name.startsWith('on')) node.addEventListener(name.slice(2), value);
    else if (name === 'dataset') Object.assign(node.dataset, value);
    else node.setAttribute(name, value === true ? '' : value);
  }
  for (const child of children.flat()) {
    if (child !== null && child !== undefined) node.append(child);
  }
  return node;
}

export const $ = (selector, root = document) => root.querySelector(selector);
export const $$ = (selector, root = document) => [...root.querySelectorAll(selector)];

// A short message at the foot of the page; errors stay until closed.
export function toast(text, kind = 'info') {
  const box = $('#toasts');
  const item = el('div', { class: `toast toast-${kind}`, role: kind === 'error' ? 'alert' : 'status' }, text);
  item.addEventListener('click', () => item.remove());
  box.append(item);
  if (kind !== 'error') setTimeout(() => item.remove(), 6000);
  while (box.children.length > 4) box.firstChild.remove();
}
