// Builds the page into dist/: exactly the files the program serves.
import { build } from 'esbuild';
import { execFileSync } from 'node:child_process';
import { copyFileSync, existsSync, mkdirSync, readdirSync, rmSync, statSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const src = join(here, 'src');
const dist = join(here, 'dist');
const fonts = join(dist, 'fonts');
const served = ['index.html', 'style.css', 'studio.css', 'app.js', 'icon.svg'];

function files(dir) {
  return readdirSync(dir, { withFileTypes: true }).flatMap((e) =>
    e.isDirectory() ? files(join(dir, e.name)) : [join(dir, e.name)]);
}

mkdirSync(fonts, { recursive: true });
// Only the served names may be in dist/, so stale leftovers go.
for (const name of readdirSync(dist)) {
  if (name !== 'fonts' && !served.includes(name)) rmSync(join(dist, name), { recursive: true, force: true });
}

// style-mod puts CodeMirror's styles into a <style> element, which the page's
// Content-Security-Policy (style-src 'self') blocks. A constructed style sheet
// is not subject to that policy, so the document gets one too, not only shadow roots.
const adoptSheets = {
  name: 'adopt-sheets',
  setup(b) {
    b.onLoad({ filter: /[\\/]style-mod[\\/].*\.js$/ }, async (args) => {
      const { readFile } = await import('node:fs/promises');
      const text = await readFile(args.path, 'utf8');
      const from = 'if (!root.head && root.adoptedStyleSheets && win.CSSStyleSheet) {';
      if (!text.includes(from)) throw new Error(`style-mod changed: ${args.path} no longer has the expected sheet choice`);
      return { contents: text.replace(from, 'if (root.adoptedStyleSheets && win.CSSStyleSheet) {'), loader: 'js' };
    });
  },
};

await build({
  plugins: [adoptSheets],
  entryPoints: [join(src, 'main.js')],
  outfile: join(dist, 'app.js'),
  bundle: true,
  minify: process.env.TAVRIN_WEB_DEBUG ? false : true,
  format: 'iife',
  target: ['chrome100', 'safari15'],
  charset: 'utf8',
  legalComments: 'none',
  logLevel: 'warning',
});
for (const name of ['index.html', 'style.css', 'studio.css', 'icon.svg']) {
  copyFileSync(join(src, name), join(dist, name));
}

// The Chinese font keeps every character the page itself uses, so it is
// rebuilt when the sources are newer than it.
const texts = files(src);
const bankDir = join(here, '..', 'bank');
if (existsSync(bankDir)) texts.push(...files(bankDir).filter((f) => /\.(json|md)$/.test(f)));
const fontFile = join(fonts, 'mesk-sans-sc.woff2');
const newest = Math.max(...texts.map((f) => statSync(f).mtimeMs), statSync(join(here, 'tools', 'fonts.py')).mtimeMs);
const fontNames = ['mesk-sans-sc.woff2', 'mesk-inter.woff2', 'mesk-jetbrains-mono.woff2'];
if (!fontNames.every((n) => existsSync(join(fonts, n))) || statSync(fontFile).mtimeMs < newest) {
  execFileSync('/usr/bin/python3', [join(here, 'tools', 'fonts.py'), fonts, ...texts], { stdio: 'inherit' });
}
for (const name of readdirSync(fonts)) {
  if (!fontNames.includes(name)) rmSync(join(fonts, name), { force: true });
}
