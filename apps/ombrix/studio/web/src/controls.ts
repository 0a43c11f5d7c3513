// Controls generated from an effect's registered parameters: each kind gets
// the control that edits it, with the ranges, precision and display the
// effect registered, a stopwatch that animates it and a button that sets or
// removes the keyframe at the current time.
import type { App } from './app';
import { h } from './dom';
import type { EffectDetails, EffectEntry, Layer, ParamInfo } from './types';
import {
  defaultText,
  formatNumber,
  frameTime,
  keyAt,
  numberText,
  parsePoint,
  percentScale,
  sourceSize,
  splitColor,
  valueAt,
} from './values';

const COLLAPSED = 0x20; // PF_ParamFlag_COLLAPSE_TWIRLY: the group starts closed
const CANNOT_TIME_VARY = 0x2;
const TOPIC = 0x1; // PF_PUI_TOPIC

interface Ctx {
  app: App;
  layer: Layer;
  entry: EffectEntry;
  info: ParamInfo;
  text: string; // the value shown at the current frame
  time: number;
  animated: boolean;
}

// Sends a value. While dragging, the first step of the drag is an undo step
// of its own and the rest fold into it.
function send(c: Ctx, value: string, drag?: { merge: boolean }): void {
  const edit = {
    op: 'set_param',
    layer: c.layer.id,
    entry: c.entry.id,
    param: c.info.index,
    value,
    ...(c.animated ? { time: c.time } : {}),
    ...(drag?.merge ? { merge: true } : {}),
  };
  if (drag) {
    drag.merge = true;
    c.app.editLatest(`${c.layer.id}/${c.entry.id}/${c.info.index}`, edit);
  } else {
    void c.app.edit(edit);
  }
}

// A range input edited by dragging: drafts while held, full preview on release.
function dragRange(c: Ctx, attrs: Record<string, number>, toText: (v: number) => string, testid: string): HTMLInputElement {
  const drag = { merge: false };
  const range = h('input', { type: 'range', 'data-testid': testid, ...attrs });
  range.value = String(attrs.value);
  range.addEventListener('pointerdown', () => {
    drag.merge = false;
    c.app.setInteracting(true);
  });
  range.addEventListener('input', () => send(c, toText(Number(range.value)), c.app.interacting ? drag : undefined));
  const release = () => {
    if (c.app.interacting) c.app.setInteracting(false);
  };
  range.addEventListener('pointerup', release);
  range.addEventListener('change', release);
  return range;
}

function numberField(value: string, attrs: Record<string, string | number>, onSet: (v: number) => void, testid: string) {
  const input = h('input', { type: 'number', class: 'num', 'data-testid': testid, ...attrs });
  input.value = value;
  input.addEventListener('change', () => {
    const v = Number(input.value);
    if (input.value.trim() !== '' && Number.isFinite(v)) onSet(v);
  });
  return input;
}

function sliderControl(c: Ctx, testid: string): HTMLElement {
  const { info } = c;
  const fixed = info.kind === 'fixed_slider';
  const scale = fixed ? percentScale(info) : 1;
  const precision = fixed ? (info.precision ?? 2) : 0;
  const step = 10 ** -precision;
  const value = Number(c.text) * scale;
  const toText = (shown: number) => (fixed ? numberText(shown / scale) : String(Math.round(shown)));
  const lo = (info.slider_min ?? info.valid_min ?? 0) * scale;
  const hi = (info.slider_max ?? info.valid_max ?? 100) * scale;
  const range = dragRange(c, { min: lo, max: hi, step, value }, toText, `${testid}-slider`);
  const field = numberField(
    formatNumber(value, precision),
    { min: (info.valid_min ?? lo) * scale, max: (info.valid_max ?? hi) * scale, step },
    (v) => send(c, toText(v)),
    `${testid}-value`,
  );
  return h('div', { class: 'control' }, range, field, info.percent ? h('span', { class: 'unit' }, '%') : null);
}

function angleControl(c: Ctx, testid: string): HTMLElement {
  const value = Number(c.text);
  const range = dragRange(c, { min: 0, max: 360, step: 0.1, value }, numberText, `${testid}-slider`);
  const field = numberField(formatNumber(value, 1), { step: 0.1 }, (v) => send(c, numberText(v)), `${testid}-value`);
  return h('div', { class: 'control' }, range, field, h('span', { class: 'unit' }, '°'));
}

function checkboxControl(c: Ctx, testid: string): HTMLElement {
  const box = h('input', {
    type: 'checkbox',
    'data-testid': `${testid}-value`,
    checked: c.text.toLowerCase() === 'on',
    onchange: (e: Event) => send(c, (e.target as HTMLInputElement).checked ? 'on' : 'off'),
  });
  return h('label', { class: 'control' }, box, ` ${c.info.label ?? ''}`);
}

function colorControl(c: Ctx, testid: string): HTMLElement {
  const { rgb, alpha } = splitColor(c.text);
  const input = h('input', { type: 'color', 'data-testid': `${testid}-value`, value: rgb });
  input.addEventListener('change', () => send(c, `${input.value}${alpha}`.toUpperCase()));
  return h('div', { class: 'control' }, input);
}

function pointControl(c: Ctx, testid: string): HTMLElement {
  const [x, y] = parsePoint(c.text);
  const xs = numberField(String(x), { step: 1 }, (v) => send(c, `${numberText(v)},${numberText(y)}`), `${testid}-x`);
  const ys = numberField(String(y), { step: 1 }, (v) => send(c, `${numberText(x)},${numberText(v)}`), `${testid}-y`);
  return h('div', { class: 'control' }, 'X ', xs, ' Y ', ys);
}

function popupControl(c: Ctx, testid: string): HTMLElement {
  const select = h('select', { 'data-testid': `${testid}-value` });
  for (const item of c.info.items ?? []) {
    const option = item.separator
      ? h('option', { disabled: true, class: 'separator', 'data-separator': 'true' }, '────────')
      : h('option', { value: String(item.number), disabled: item.disabled, class: item.disabled ? 'disabled' : null }, item.text);
    select.append(option);
  }
  select.value = c.text;
  select.addEventListener('change', () => send(c, select.value));
  return h('div', { class: 'control' }, select);
}

function layerControl(c: Ctx, testid: string): HTMLElement {
  const listId = `sources-${c.entry.id}-${c.info.index}`;
  const sources = new Set(c.app.state!.project.layers.filter((l) => l.id !== c.layer.id).map((l) => l.source));
  const input = h('input', { 'data-testid': `${testid}-value`, list: listId, placeholder: 'source of the layer', spellcheck: false });
  input.setAttribute('list', listId);
  input.value = c.text;
  input.addEventListener('change', () => send(c, input.value.trim()));
  return h('div', { class: 'control' }, input, h('datalist', { id: listId }, ...[...sources].map((s) => h('option', { value: s }))));
}

function control(c: Ctx, testid: string): HTMLElement | null {
  switch (c.info.kind) {
    case 'slider':
    case 'fixed_slider':
      return sliderControl(c, testid);
    case 'angle':
      return angleControl(c, testid);
    case 'checkbox':
      return checkboxControl(c, testid);
    case 'color':
      return colorControl(c, testid);
    case 'point':
      return pointControl(c, testid);
    case 'popup':
      return popupControl(c, testid);
    case 'layer':
      return layerControl(c, testid);
    case 'no_data':
      return c.info.custom_control ? h('div', { class: 'hint' }, 'drawn by the effect') : null;
    default:
      return h('div', { class: 'hint' }, 'not editable here');
  }
}

function keyButtons(c: Ctx, testid: string): HTMLElement[] {
  const ref = { layer: c.layer.id, entry: c.entry.id, param: c.info.index };
  const stopwatch = h(
    'button',
    {
      class: c.animated ? 'stopwatch on' : 'stopwatch',
      title: c.animated ? 'Stop animating (keeps the current value)' : 'Animate: set a keyframe here',
      'data-testid': `${testid}-stopwatch`,
      onclick: (e: Event) => {
        e.preventDefault();
        void c.app.edit({ op: 'set_param', ...ref, value: c.text, ...(c.animated ? {} : { time: c.time }) });
      },
    },
    '◔',
  );
  if (!c.animated) return [stopwatch];
  const param = c.entry.params.find((p) => p.index === c.info.index);
  const here = keyAt(param, c.time);
  const key = h(
    'button',
    {
      class: here ? 'key on' : 'key',
      title: here ? 'Remove the keyframe here' : 'Set a keyframe here',
      'data-testid': `${testid}-key`,
      onclick: (e: Event) => {
        e.preventDefault();
        void c.app.edit(here ? { op: 'remove_key', ...ref, time: here.time } : { op: 'set_param', ...ref, value: c.text, time: c.time });
      },
    },
    '◆',
  );
  return [stopwatch, key];
}

export function effectControls(app: App, layer: Layer, entry: EffectEntry, details: EffectDetails): HTMLElement {
  const composition = app.state!.project.composition;
  const [lw, lh] = sourceSize(layer.source, composition);
  const time = frameTime(app.frame, composition);
  const rows = details.info.params
    .filter((info) => info.index > 0)
    .map((info) => {
      const param = entry.params.find((p) => p.index === info.index);
      const c: Ctx = {
        app,
        layer,
        entry,
        info,
        time,
        text: valueAt(info, param, time, defaultText(info, lw, lh)),
        animated: (param?.keys?.length ?? 0) > 0,
      };
      const testid = `param-${entry.id}-${info.index}`;
      const keyable = !(info.flags & CANNOT_TIME_VARY) && !['layer', 'no_data', 'custom'].includes(info.kind);
      const body = control(c, testid);
      const topic = info.kind === 'no_data' && !!(info.ui_flags & TOPIC);
      return h(
        'details',
        {
          class: topic ? 'param topic' : 'param',
          open: !(info.flags & COLLAPSED),
          'data-testid': testid,
          'data-name': info.name,
          'data-kind': info.kind,
          'data-value': c.text,
        },
        h('summary', {}, ...(keyable ? keyButtons(c, testid) : []), h('span', { class: 'pname' }, info.name)),
        body,
      );
    });
  return h('div', { class: 'params' }, ...rows);
}
