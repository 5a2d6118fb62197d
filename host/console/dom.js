// Small DOM helpers. Everything the console shows is built with these, never with innerHTML:
// names, payloads and log lines come from the plugin and are shown as text only.

// el('a', {class: 'x', href: '#/api', text: 'API', onclick: f}, child, ...) builds an element.
// 'class' and 'text' set className and textContent, 'on...' adds a listener, anything else is an
// attribute (true gives an empty one; null, undefined and false are left out).
export function el(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'class') node.className = value;
    else if (key === 'text') node.textContent = value;
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else node.setAttribute(key, value === true ? '' : String(value));
  }
  node.append(...children.flat().filter((child) => child !== null && child !== undefined && child !== false));
  return node;
}

const svgNamespace = 'http://www.w3.org/2000/svg';

// An SVG element with the given attributes.
export function svg(tag, attributes = {}) {
  const node = document.createElementNS(svgNamespace, tag);
  for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, String(value));
  return node;
}

export function byId(id) {
  return document.getElementById(id);
}

// Sets the text of element `id`, and the class 'error' when `isError`.
export function say(id, text, isError = false) {
  const node = byId(id);
  node.textContent = text;
  node.classList.toggle('error', isError);
}

// The local time of day with milliseconds: 12:04:31.250.
export function clockTime(date = new Date()) {
  const two = (n) => String(n).padStart(2, '0');
  return `${two(date.getHours())}:${two(date.getMinutes())}:${two(date.getSeconds())}.` +
    String(date.getMilliseconds()).padStart(3, '0');
}

// JSON text pretty-printed, or the text itself when it is not JSON.
export function prettyJson(text) {
  try {
    return JSON.stringify(JSON.parse(text), null, 2);
  } catch {
    return text;
  }
}

// Marks an input dirty when the user types into it: polling (setUnlessEditing) leaves it alone
// while it has the focus or is dirty, until what was typed is applied and 'dirty' removed.
export function trackEdits(input) {
  input.addEventListener('input', () => input.classList.add('dirty'));
}

export function setUnlessEditing(input, value) {
  if (document.activeElement !== input && !input.classList.contains('dirty')) input.value = String(value);
}
