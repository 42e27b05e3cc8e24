// The code editor: CodeMirror 6 with C/C++ highlighting and the usual editing help.

import { EditorState, Compartment, Prec, Annotation } from '@codemirror/state';
import {
  EditorView, keymap, lineNumbers, highlightActiveLine, highlightActiveLineGutter,
  drawSelection, highlightSpecialChars, rectangularSelection, crosshairCursor,
} from '@codemirror/view';
import { defaultKeymap, history, historyKeymap, indentWithTab } from '@codemirror/commands';
import {
  bracketMatching, indentOnInput, indentUnit, syntaxHighlighting, HighlightStyle, foldGutter, foldKeymap,
} from '@codemirror/language';
import { searchKeymap, highlightSelectionMatches, search } from '@codemirror/search';
import { closeBrackets, closeBracketsKeymap, autocompletion, completionKeymap } from '@codemirror/autocomplete';
import { lintGutter, setDiagnostics } from '@codemirror/lint';
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

export function createEditor(parent, { onChange, onRun, onSubmit }) {
  const readOnly = new Compartment();
  const actions = Prec.highest(keymap.of([
    { key: 'Mod-Enter', run: () => { onSubmit(); return true; } },
    { key: "Mod-'", run: () => { onRun(); return true; } },
  ]));
  const extensions = [
    actions,
    lineNumbers(), highlightActiveLineGutter(), foldGutter(), lintGutter(),
    highlightSpecialChars(), history(), drawSelection(), EditorState.allowMultipleSelections.of(true),
    indentOnInput(), indentUnit.of('    '), EditorState.tabSize.of(4),
    syntaxHighlighting(style), bracketMatching(), closeBrackets(), autocompletion({ activateOnTyping: false }),
    rectangularSelection(), crosshairCursor(), highlightActiveLine(), highlightSelectionMatches(),
    search({ top: true }),
    keymap.of([...closeBracketsKeymap, ...defaultKeymap, ...searchKeymap, ...historyKeymap,
      ...foldKeymap, ...completionKeymap, indentWithTab]),
    cpp(),
    readOnly.of(EditorState.readOnly.of(false)),
    EditorView.contentAttributes.of({ 'aria-label': '代码编辑器', spellcheck: 'false', autocorrect: 'off', autocapitalize: 'off' }),
    typeOverSelection,
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
    },
    // Replaces the text as one undoable edit (resetting to the starter code).
    replace(code) {
      view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: code } });
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
    showDiagnostics(list) {
      const doc = view.state.doc;
      const marks = list.filter((d) => d.severity !== 'note' && d.line >= 1 && d.line <= doc.lines).map((d) => {
        const l = doc.line(d.line);
        const from = Math.min(l.from + Math.max(0, d.col - 1), l.to);
        return { from, to: Math.min(l.to, from + 1), severity: d.severity === 'error' ? 'error' : 'warning', message: d.message };
      });
      view.dispatch(setDiagnostics(view.state, marks));
    },
    focus() { view.focus(); },
  };
}
