// The viewer: the composition at the chosen zoom, the newest preview the
// server rendered, and a handle for each point parameter of the selected
// layer's effects, dragged to set the point.
import type { App } from './app';
import { h } from './dom';
import { defaultText, frameTime, numberText, parsePoint, sourceSize, valueAt } from './values';

const zooms: [string, string][] = [
  ['fit', 'Fit'],
  ['0.25', '25%'],
  ['0.5', '50%'],
  ['1', '100%'],
  ['2', '200%'],
  ['4', '400%'],
];

export function createViewer(app: App, root: HTMLElement): void {
  const zoom = h('select', { 'data-testid': 'zoom' }, ...zooms.map(([value, text]) => h('option', { value }, text)));
  const info = h('span', { class: 'hint', 'data-testid': 'preview-info' });
  const image = h('img', { 'data-testid': 'preview-image', alt: 'composition', draggable: false });
  const overlay = h('div', { class: 'overlay', 'data-testid': 'viewer-overlay' });
  const stage = h('div', { class: 'stage' }, image, overlay);
  const scroller = h('div', { class: 'scroller', 'data-testid': 'viewer' }, stage);
  root.append(h('div', { class: 'bar' }, h('h2', {}, 'Viewer'), ' Zoom ', zoom, info), scroller);

  // Pixels of the screen per pixel of the composition.
  const scale = () => {
    const c = app.state?.project.composition;
    if (!c) return 1;
    if (app.zoom !== 'fit') return app.zoom;
    const fit = Math.min((scroller.clientWidth - 8) / c.width, (scroller.clientHeight - 8) / c.height);
    return fit > 0 ? fit : 1;
  };

  const layout = () => {
    const c = app.state?.project.composition;
    if (!c) return;
    const s = scale();
    for (const el of [stage, image, overlay]) {
      el.style.width = `${c.width * s}px`;
      el.style.height = `${c.height * s}px`;
    }
  };

  const drawHandles = () => {
    overlay.replaceChildren();
    const layer = app.layer;
    const state = app.state;
    if (!layer || !state || !layer.visible) return;
    const composition = state.project.composition;
    const [lw, lh] = sourceSize(layer.source, composition);
    const time = frameTime(app.frame, composition);
    const s = scale();
    for (const entry of layer.effects) {
      const details = app.details.get(entry.effect);
      if (!entry.enabled || !details) continue;
      for (const param of details.info.params) {
        if (param.kind !== 'point') continue;
        const current = entry.params.find((p) => p.index === param.index);
        const animated = (current?.keys?.length ?? 0) > 0;
        let [x, y] = parsePoint(valueAt(param, current, time, defaultText(param, lw, lh)));
        const handle = h('div', {
          class: 'handle',
          title: `${details.info.display_name}: ${param.name}`,
          'data-testid': `handle-${entry.id}-${param.index}`,
        });
        const place = () => {
          handle.style.left = `${x * s}px`;
          handle.style.top = `${y * s}px`;
        };
        place();
        const drag = { merge: false };
        handle.addEventListener('pointerdown', (e) => {
          e.preventDefault();
          handle.setPointerCapture(e.pointerId);
          drag.merge = false;
          app.setInteracting(true);
        });
        handle.addEventListener('pointermove', (e) => {
          if (!handle.hasPointerCapture(e.pointerId)) return;
          const rect = overlay.getBoundingClientRect();
          x = Math.round((e.clientX - rect.left) / s);
          y = Math.round((e.clientY - rect.top) / s);
          if (param.restrict_bounds) {
            x = Math.max(0, Math.min(lw, x));
            y = Math.max(0, Math.min(lh, y));
          }
          place();
          app.editLatest(`${layer.id}/${entry.id}/${param.index}`, {
            op: 'set_param',
            layer: layer.id,
            entry: entry.id,
            param: param.index,
            value: `${numberText(x)},${numberText(y)}`,
            ...(animated ? { time } : {}),
            ...(drag.merge ? { merge: true } : {}),
          });
          drag.merge = true;
        });
        const release = (e: PointerEvent) => {
          if (handle.hasPointerCapture(e.pointerId)) handle.releasePointerCapture(e.pointerId);
          if (app.interacting) app.setInteracting(false);
        };
        handle.addEventListener('pointerup', release);
        handle.addEventListener('pointercancel', release);
        overlay.append(handle);
      }
    }
  };

  zoom.addEventListener('change', () => {
    app.zoom = zoom.value === 'fit' ? 'fit' : Number(zoom.value);
    layout();
    drawHandles();
  });
  window.addEventListener('resize', () => {
    layout();
    drawHandles();
  });

  app.onChange(() => {
    layout();
    if (!app.interacting) drawHandles();
  });

  app.onPreview(() => {
    const p = app.preview;
    if (!p) return;
    image.onload = () => {
      // What is on screen now, for anyone who needs to know (the tests read these).
      image.dataset.id = String(p.id);
      image.dataset.frame = String(p.frame);
      image.dataset.downsample = p.downsample;
      image.dataset.revision = String(p.revision);
      image.dataset.ready = 'true';
      info.textContent = `frame ${p.frame} · ${p.width}×${p.height} (${p.downsample}) · ${p.ms} ms`;
    };
    image.dataset.ready = 'false';
    image.src = p.url;
  });
}
