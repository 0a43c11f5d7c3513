// The Options... dialog: a modal drawn from the controls the effect's
// options dialog template has. Answers are collected in the order the user
// gives them and sent as one `options` edit, followed by OK.
import type { App } from './app';
import { h } from './dom';
import type { DialogControl, EffectDetails } from './types';
import { dialogAnswers } from './values';

function controlRow(c: DialogControl, answer: (id: number, value: string) => void): HTMLElement {
  const testid = `dialog-control-${c.id}`;
  const disabled = !c.enabled;
  switch (c.kind) {
    case 'edit': {
      const input = h('input', { 'data-testid': testid, disabled, spellcheck: false });
      input.addEventListener('change', () => answer(c.id, input.value));
      return h('label', { class: 'row' }, h('span', {}, c.label), input);
    }
    case 'check_box': {
      const box = h('input', { type: 'checkbox', 'data-testid': testid, disabled });
      box.addEventListener('change', () => answer(c.id, box.checked ? 'on' : 'off'));
      return h('label', { class: 'row' }, box, ` ${c.label}`);
    }
    case 'radio_button': {
      const radio = h('input', { type: 'radio', name: 'options-radio', 'data-testid': testid, disabled });
      radio.addEventListener('change', () => answer(c.id, 'on'));
      return h('label', { class: 'row' }, radio, ` ${c.label}`);
    }
    case 'scroll_bar': {
      const min = c.min ?? 0;
      const max = c.max ?? 100;
      const bar = h('input', { type: 'range', min, max, step: 1, 'data-testid': testid, disabled });
      const shown = h('span', { class: 'num' }, bar.value);
      bar.addEventListener('input', () => (shown.textContent = bar.value));
      bar.addEventListener('change', () => answer(c.id, bar.value));
      return h('label', { class: 'row' }, h('span', {}, c.label), bar, shown);
    }
    case 'button':
      return h('div', { class: 'row' }, h('button', { 'data-testid': testid, disabled, onclick: () => answer(c.id, 'click') }, c.label));
    default:
      return h('div', { class: 'row hint' }, c.label);
  }
}

// The template's own OK and Cancel (ids 1 and 2) are the modal's buttons.
const ownButton = (c: DialogControl) => c.kind === 'button' && (c.id === 1 || c.id === 2);

export function openOptions(app: App, ref: { layer: string; entry: string }, details: EffectDetails): void {
  const dialog = details.dialog;
  if (!dialog?.has_dialog) return;
  const answers: string[] = [];
  const answer = (id: number, value: string) => {
    // A later answer to the same control replaces the earlier one; clicks add up.
    const prefix = `${id}=`;
    const previous = answers.findIndex((a) => a.startsWith(prefix) && !a.endsWith('=click'));
    if (value !== 'click' && previous >= 0) answers.splice(previous, 1);
    answers.push(`${id}=${value}`);
  };
  const close = () => backdrop.remove();
  const body = dialog.error
    ? h('p', { class: 'error' }, `The dialog could not be shown: ${dialog.error}`)
    : h(
        'div',
        { class: 'dialog-controls' },
        ...(dialog.controls ?? []).filter((c) => !ownButton(c)).map((c) => controlRow(c, answer)),
      );
  const ok = h(
    'button',
    {
      'data-testid': 'dialog-ok',
      disabled: !!dialog.error,
      onclick: () => {
        close();
        void app.edit({ op: 'options', ...ref, answers: dialogAnswers([...answers, 'ok']) });
      },
    },
    'OK',
  );
  const cancel = h('button', { 'data-testid': 'dialog-cancel', onclick: close }, 'Cancel');
  const backdrop = h(
    'div',
    { class: 'backdrop' },
    h(
      'div',
      { class: 'modal', role: 'dialog', 'aria-modal': 'true', 'data-testid': 'options-dialog' },
      h('h3', {}, dialog.title || `${details.info.display_name} Options`),
      body,
      h('div', { class: 'buttons' }, ok, cancel),
    ),
  );
  backdrop.addEventListener('keydown', (e) => {
    if (e.key === 'Escape') close();
  });
  document.body.append(backdrop);
  (backdrop.querySelector('input, button') as HTMLElement | null)?.focus();
}
