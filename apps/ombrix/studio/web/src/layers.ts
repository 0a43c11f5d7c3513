// The layers panel and, for the selected layer, its effect stack with the
// controls of each effect.
import type { App } from './app';
import { clear, h } from './dom';
import { effectControls } from './controls';
import { openOptions } from './dialog';
import type { EffectEntry, Layer } from './types';

const layerKinds: [string, string][] = [
  ['testcard', 'Test card'],
  ['solid', 'Solid'],
  ['image', 'Image file'],
  ['sequence', 'Sequence (frame pattern)'],
];

function newSource(app: App, kind: string, text: string, color: string): string | null {
  const { width, height } = app.state!.project.composition;
  switch (kind) {
    case 'testcard':
      return `testcard:${width}x${height}`;
    case 'solid':
      return `solid:${width}x${height}:${color.toUpperCase()}`;
    default:
      return text.trim() || null;
  }
}

function moveButtons(index: number, count: number, move: (to: number) => void, testid: string): HTMLElement[] {
  return [
    h('button', { title: 'Up', 'data-testid': `${testid}-up`, disabled: index === 0, onclick: () => move(index - 1) }, '▲'),
    h(
      'button',
      { title: 'Down', 'data-testid': `${testid}-down`, disabled: index === count - 1, onclick: () => move(index + 1) },
      '▼',
    ),
  ];
}

function layerRow(app: App, layer: Layer, index: number, count: number): HTMLElement {
  const selected = layer.id === app.selectedLayer;
  return h(
    'li',
    {
      class: selected ? 'row selected' : 'row',
      'data-testid': `layer-${layer.id}`,
      onclick: () => {
        app.selectedLayer = layer.id;
        app.changed();
      },
    },
    h('input', {
      type: 'checkbox',
      title: 'Visible',
      'data-testid': 'layer-visible',
      checked: layer.visible,
      onclick: (e: Event) => e.stopPropagation(),
      onchange: (e: Event) =>
        void app.edit({ op: 'set_layer', layer: layer.id, visible: (e.target as HTMLInputElement).checked }),
    }),
    h('span', { class: 'name', title: layer.source }, layer.name || layer.source),
    ...moveButtons(index, count, (to) => void app.edit({ op: 'move_layer', layer: layer.id, to }), 'layer'),
    h(
      'button',
      { title: 'Remove', 'data-testid': 'layer-remove', onclick: () => void app.edit({ op: 'remove_layer', layer: layer.id }) },
      '✕',
    ),
  );
}

export function drawLayers(app: App, root: HTMLElement): void {
  const state = app.state;
  if (!state) return;
  const kind = h(
    'select',
    { 'data-testid': 'layer-kind' },
    ...layerKinds.map(([value, text]) => h('option', { value }, text)),
  );
  const source = h('input', { 'data-testid': 'layer-source', placeholder: 'path or pattern (shot.####.png)', spellcheck: false });
  const color = h('input', { type: 'color', 'data-testid': 'layer-color', value: '#808080' });
  const showFields = () => {
    source.hidden = kind.value === 'testcard' || kind.value === 'solid';
    color.hidden = kind.value !== 'solid';
  };
  kind.addEventListener('change', showFields);
  showFields();
  const add = h(
    'button',
    {
      'data-testid': 'add-layer',
      onclick: () => {
        const src = newSource(app, kind.value, source.value, color.value);
        if (!src) return app.status('type the path of the image or the frame pattern', true);
        void app.edit({ op: 'add_layer', source: src, at: 0 });
      },
    },
    'Add layer',
  );
  const layers = state.project.layers;
  clear(
    root,
    h('h2', {}, 'Layers'),
    h('div', { class: 'add' }, kind, source, color, add),
    h('ul', { class: 'list', 'data-testid': 'layers' }, ...layers.map((l, i) => layerRow(app, l, i, layers.length))),
  );
}

function effectPicker(app: App, layer: Layer): HTMLElement {
  const categories = new Map<string, HTMLOptGroupElement>();
  for (const e of [...app.effects].sort((a, b) => a.display_name.localeCompare(b.display_name))) {
    const category = e.category || 'Other';
    if (!categories.has(category)) categories.set(category, h('optgroup', { label: category }));
    categories.get(category)!.append(h('option', { value: e.name }, e.display_name));
  }
  const select = h(
    'select',
    { 'data-testid': 'add-effect-select' },
    ...[...categories.entries()].sort(([a], [b]) => a.localeCompare(b)).map(([, group]) => group),
  );
  const add = h(
    'button',
    {
      'data-testid': 'add-effect',
      onclick: () => void app.edit({ op: 'add_effect', layer: layer.id, effect: select.value }),
    },
    'Apply',
  );
  return h('div', { class: 'add' }, select, add);
}

function effectBlock(app: App, layer: Layer, entry: EffectEntry, index: number): HTMLElement {
  const details = app.details.get(entry.effect);
  const ref = { layer: layer.id, entry: entry.id };
  const about = h('pre', { class: 'about', 'data-testid': `about-text-${entry.id}`, hidden: true }, details?.about ?? '');
  const hasDialog = !!details?.dialog?.has_dialog;
  const header = h(
    'div',
    { class: 'effect-header' },
    h('input', {
      type: 'checkbox',
      title: 'Enabled',
      'data-testid': 'effect-enabled',
      checked: entry.enabled,
      onchange: (e: Event) => void app.edit({ op: 'set_effect', ...ref, enabled: (e.target as HTMLInputElement).checked }),
    }),
    h('strong', { class: 'name' }, details?.info.display_name ?? entry.effect),
    ...moveButtons(index, layer.effects.length, (to) => void app.edit({ op: 'move_effect', ...ref, to }), 'effect'),
    h('button', { 'data-testid': 'effect-about', onclick: () => (about.hidden = !about.hidden) }, 'About'),
    hasDialog &&
      h(
        'button',
        { 'data-testid': 'effect-options', onclick: () => details && openOptions(app, ref, details) },
        'Options...',
      ),
    h('button', { title: 'Remove', 'data-testid': 'effect-remove', onclick: () => void app.edit({ op: 'remove_effect', ...ref }) }, '✕'),
  );
  return h(
    'section',
    { class: entry.enabled ? 'effect' : 'effect disabled', 'data-testid': `effect-${entry.id}`, 'data-effect': entry.effect },
    header,
    about,
    details ? effectControls(app, layer, entry, details) : h('p', {}, 'loading…'),
  );
}

export function drawEffects(app: App, root: HTMLElement): void {
  const layer = app.layer;
  if (!layer) return clear(root, h('h2', {}, 'Effects'), h('p', { class: 'hint' }, 'Add a layer to apply effects.'));
  clear(
    root,
    h('h2', {}, `Effects on ${layer.name || layer.source}`),
    effectPicker(app, layer),
    ...layer.effects.map((entry, i) => effectBlock(app, layer, entry, i)),
  );
}
