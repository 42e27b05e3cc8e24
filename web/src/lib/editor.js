// The code editor: CodeMirror 6 with C/C++ highlighting and the usual editing help.

import { EditorState, Compartment, Prec, Annotation, StateField, StateEffect } from '@codemirror/state';
import {
  EditorView, keymap, lineNumbers, highlightActiveLine, highlightActiveLineGutter,
  drawSelection, highlightSpecialChars, rectangularSelection, crosshairCursor,
} from '@codemirror/view';
import { defaultKeymap, history, historyKeymap, indentWithTab, isolateHistory } from '@codemirror/commands';
import {
  bracketMatching, indentOnInput, indentUnit, syntaxHighlighting, HighlightStyle, foldGutter, foldKeymap,
} from '@codemirror/language';
import { searchKeymap, highlightSelectionMatches, search } from '@codemirror/search';
import { closeBrackets, closeBracketsKeymap, autocompletion, completionKeymap } from '@codemirror/autocomplete';
import { lintGutter, linter, forceLinting } from '@codemirror/lint';
import { fullWidthInCode, codeOnly } from './codecheck.js';
import { cpp } from '@codemirror/lang-cpp';
import { tags as t } from '@lezer/highlight';

const style = HighlightStyle.define([
  { tag: [t.keyword, t.controlKeyword, t.modifier, t.operatorKeyword], color: 'var(--code-keyword)' },
  { tag: [t.typeName, t.standard(t.typeName)], color: 'var(--code-type)' },
  { tag: [t.string, t.character, t.special(t.string)], color: 'var(--code-string)' },
  { tag: [t.number, t.bool, t.null], color: 'var(--code-number)' },
  { tag: [t.comment, t.lineComment, t.blockComment], color: 'var(--code-comment)', fontStyle: 'italic' },
  { tag: [t.processingInstruction, t.meta], color: 'var(--code-meta)' },
  { tag: [t.function(t.variableName), t.function(t.propertyName)], color: 'var(--code-function)' },
  { tag: [t.definition(t.variableName)], color: 'var(--code-def)' },
  { tag: [t.macroName], color: 'var(--code-meta)' },
  { tag: [t.escape], color: 'var(--code-number)' },
  { tag: t.invalid, color: 'var(--danger)' },
]);

// Marks changes made by the page itself (loading a draft), which are not edits.
const quiet = Annotation.define();

// Typing over a selection is applied by the editor itself: left to the browser,
// contenteditable rebuilds the deleted lines with inline-styled spans, which the
// page's Content-Security-Policy refuses (and the editor would redraw anyway).
const typeOverSelection = EditorView.domEventHandlers({
  beforeinput(event, view) {
    if (event.inputType !== 'insertText' || !event.data || event.isComposing || view.composing) return false;
    if (view.state.selection.ranges.every((r) => r.empty) || view.state.readOnly) return false;
    event.preventDefault();
    view.dispatch(view.state.replaceSelection(event.data), { userEvent: 'input.type', scrollIntoView: true });
    return true;
  },
});

// "}" typed on an empty line just above a "}" the editor put there itself (after "{" and
// Enter) steps over that brace instead of adding a second one, when one more "}" would
// leave more closing braces than opening ones.
function braceCount(text) {
  let open = 0;
  let close = 0;
  for (const c of codeOnly(text)) { if (c === '{') open++; else if (c === '}') close++; }
  return open - close;
}
const stepOverBrace = EditorView.inputHandler.of((view, from, to, text) => {
  if (text !== '}' || from !== to || view.state.readOnly || view.state.selection.ranges.length > 1) return false;
  const doc = view.state.doc;
  const line = doc.lineAt(from);
  if (line.text.trim() !== '' || line.number >= doc.lines) return false;
  const next = doc.line(line.number + 1);
  if (next.text.trim() !== '}' || braceCount(doc.toString()) > 0) return false;
  const brace = next.from + next.text.indexOf('}');
  view.dispatch({ changes: { from: line.from, to: next.from }, selection: { anchor: brace + 1 - (next.from - line.from) },
    userEvent: 'input.type', scrollIntoView: true });
  return true;
});

// The code font, sized by the learner. CodeMirror's own base theme names a
// plain monospace font; this theme outranks it.
function codeTheme(size) {
  return EditorView.theme({
    '&': { fontSize: `${size}px`, color: 'var(--text)', backgroundColor: 'var(--panel)' },
    '.cm-scroller, .cm-content, .cm-gutters': { fontFamily: 'var(--mono)' },
    '.cm-cursor, .cm-dropCursor': { borderLeftColor: 'var(--text)' },
    // CodeMirror's own light colours outrank the page's style sheet, so the
    // gutter, the current line and the bracket marks follow the theme here.
    '.cm-gutters': { backgroundColor: 'var(--gutter-bg)', color: 'var(--gutter-text)', borderRight: '1px solid var(--line)' },
    '.cm-activeLine': { backgroundColor: 'rgba(90, 120, 220, .07)' },
    '.cm-activeLineGutter': { backgroundColor: 'rgba(90, 120, 220, .16)', color: 'var(--text)' },
    '&.cm-focused .cm-matchingBracket, .cm-matchingBracket': { backgroundColor: 'rgba(60, 170, 90, .28)', outline: '1px solid rgba(60, 170, 90, .7)' },
    '&.cm-focused .cm-nonmatchingBracket, .cm-nonmatchingBracket': { backgroundColor: 'var(--bad-bg)' },
    '&.cm-focused .cm-selectionBackground, .cm-selectionBackground, ::selection': { backgroundColor: 'var(--selection)' },
    '.cm-panels': { backgroundColor: 'var(--panel-2)', color: 'var(--text)' },
    '.cm-tooltip': { backgroundColor: 'var(--panel)', color: 'var(--text)', border: '1px solid var(--line)' },
    '.cm-diagnosticText': { whiteSpace: 'pre-wrap' },
  });
}

export const FONT_SIZES = [12, 13, 14, 15, 16, 18, 20, 22, 24];

// Compiler messages of the last compile, per line: one mark per line, with
// every distinct message and its Chinese hint said once.
function compileMarks(doc, list) {
  const byLine = new Map();
  for (const d of list) {
    if (d.severity === 'note' || d.line < 1 || d.line > doc.lines) continue;
    const entry = byLine.get(d.line) || { col: d.col, severity: 'warning', messages: [], hints: [] };
    if (d.severity === 'error') entry.severity = 'error';
    if (!entry.messages.includes(d.message)) entry.messages.push(d.message);
    if (d.hint && !entry.hints.includes(d.hint)) entry.hints.push(d.hint);
    entry.col = Math.min(entry.col, d.col);
    byLine.set(d.line, entry);
  }
  return [...byLine].map(([line, e]) => {
    const l = doc.line(line);
    const from = Math.min(l.from + Math.max(0, e.col - 1), l.to);
    return { line: l.from, from, to: Math.min(l.to, from + 1), severity: e.severity, source: '编译器',
      message: [...e.hints, ...e.messages].join('\n') };
  });
}

// The marks of the last compile live with the text: they move with edits
// elsewhere and vanish as soon as the line they stand on is changed.
const setCompileMarks = StateEffect.define();
const compileField = StateField.define({
  create: () => [],
  update(marks, tr) {
    for (const e of tr.effects) if (e.is(setCompileMarks)) return e.value;
    if (!tr.docChanged || !marks.length) return marks;
    const kept = [];
    for (const m of marks) {
      const line = tr.startState.doc.lineAt(m.line);
      let touched = false;
      tr.changes.iterChangedRanges((fromA, toA) => { if (fromA <= line.to && toA >= line.from) touched = true; });
      if (touched) continue;
      const start = tr.changes.mapPos(m.line, 1);
      kept.push({ ...m, line: start, from: tr.changes.mapPos(m.from, 1), to: tr.changes.mapPos(m.to, -1) });
    }
    return kept;
  },
});

function fullWidthMarks(doc) {
  return fullWidthInCode(doc.toString()).map((f) => ({
    from: f.from, to: f.to, severity: 'error', source: '全角符号',
    message: `代码里的“${f.char}”是中文全角符号，编译器不认识：要用英文半角“${f.replacement}”。`,
    actions: [{
      name: `改成 ${f.replacement}`,
      apply(view, from, to) { view.dispatch({ changes: { from, to, insert: f.replacement }, userEvent: 'input.fix' }); },
    }],
  }));
}

export function createEditor(parent, { onChange, onRun, onSubmit, onSave }) {
  const readOnly = new Compartment();
  const wrapping = new Compartment();
  const sizing = new Compartment();
  let fontSize = 14;
  let wrap = false;
  const actions = Prec.highest(keymap.of([
    { key: 'Mod-Enter', run: () => { onSubmit(); return true; } },
    { key: "Mod-'", run: () => { onRun(); return true; } },
    { key: 'Mod-s', run: () => { onSave(); return true; }, preventDefault: true },
  ]));
  const marks = linter((view) => [
    ...view.state.field(compileField).map(({ line, ...m }) => m), ...fullWidthMarks(view.state.doc)], {
    delay: 250,
    needsRefresh: (u) => u.startState.field(compileField) !== u.state.field(compileField),
  });
  const extensions = [
    actions,
    lineNumbers(), highlightActiveLineGutter(), foldGutter(), lintGutter(), compileField, marks,
    highlightSpecialChars(), history(), drawSelection(), EditorState.allowMultipleSelections.of(true),
    indentOnInput(), indentUnit.of('    '), EditorState.tabSize.of(4),
    syntaxHighlighting(style), bracketMatching(), closeBrackets(), autocompletion({ activateOnTyping: false }),
    rectangularSelection(), crosshairCursor(), highlightActiveLine(), highlightSelectionMatches(),
    search({ top: true }),
    keymap.of([...closeBracketsKeymap, ...defaultKeymap, ...searchKeymap, ...historyKeymap,
      ...foldKeymap, ...completionKeymap, indentWithTab]),
    cpp(),
    readOnly.of(EditorState.readOnly.of(false)),
    wrapping.of([]),
    sizing.of(codeTheme(fontSize)),
    EditorView.contentAttributes.of({ 'aria-label': '代码编辑器', spellcheck: 'false', autocorrect: 'off', autocapitalize: 'off' }),
    typeOverSelection, stepOverBrace,
    EditorView.updateListener.of((u) => {
      if (u.docChanged && !u.transactions.some((tr) => tr.annotation(quiet))) onChange(u.state.doc.toString());
    }),
  ];
  const view = new EditorView({ parent, state: EditorState.create({ doc: '', extensions }) });

  return {
    view,
    get code() { return view.state.doc.toString(); },
    // A fresh document for another exercise or language: undo never reaches into the previous one.
    load(code) {
      view.setState(EditorState.create({ doc: code, extensions }));
      view.dispatch({ effects: [wrapping.reconfigure(wrap ? EditorView.lineWrapping : []), sizing.reconfigure(codeTheme(fontSize))] });
    },
    setFontSize(px) {
      fontSize = px;
      view.dispatch({ effects: sizing.reconfigure(codeTheme(px)) });
    },
    setWrap(on) {
      wrap = !!on;
      view.dispatch({ effects: wrapping.reconfigure(wrap ? EditorView.lineWrapping : []) });
    },
    // Replaces the text as one undoable edit (resetting to the starter code).
    replace(code) {
      // Its own undo step, never merged with the typing just before it.
      view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: code }, annotations: isolateHistory.of('full') });
    },
    setReadOnly(on) {
      view.dispatch({ effects: readOnly.reconfigure(EditorState.readOnly.of(on)) });
    },
    // Puts the cursor on a line (1-based) and column and scrolls it into the middle.
    goTo(line, col = 1) {
      const doc = view.state.doc;
      const l = doc.line(Math.min(Math.max(1, line), doc.lines));
      const pos = Math.min(l.from + Math.max(0, col - 1), l.to);
      view.dispatch({ selection: { anchor: pos }, effects: EditorView.scrollIntoView(pos, { y: 'center' }) });
      view.focus();
    },
    // list: [{ line, col, severity, message, hint }] from the compile of `code`. They are
    // shown only while that code is on screen; otherwise the marks of an older compile go.
    showDiagnostics(list, code) {
      const doc = view.state.doc;
      const marks = code === undefined || code === doc.toString() ? compileMarks(doc, list) : [];
      view.dispatch({ effects: setCompileMarks.of(marks) });
      forceLinting(view);
    },
    focus() { view.focus(); },
    selectAll() { view.dispatch({ selection: { anchor: 0, head: view.state.doc.length } }); },
  };
}
