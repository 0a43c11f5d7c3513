// The timeline: scrubbing (draft previews while held), the frame number,
// markers at the keyframes of the selected layer's effects, and the
// composition's size, rate and length.
import type { App } from './app';
import { h } from './dom';
import { framesPerSecond } from './values';

export function createTimeline(app: App, root: HTMLElement): void {
  const slider = h('input', { type: 'range', min: 0, max: 0, step: 1, value: 0, 'data-testid': 'timeline-slider' });
  const frameField = h('input', { type: 'number', class: 'num', min: 0, step: 1, 'data-testid': 'frame-number' });
  const time = h('span', { class: 'hint', 'data-testid': 'frame-time' });
  const markers = h('div', { class: 'markers', 'data-testid': 'key-markers' });
  const width = h('input', { type: 'number', class: 'num', min: 1, 'data-testid': 'comp-width' });
  const height = h('input', { type: 'number', class: 'num', min: 1, 'data-testid': 'comp-height' });
  const fps = h('input', { class: 'num', 'data-testid': 'comp-fps' });
  const frames = h('input', { type: 'number', class: 'num', min: 1, 'data-testid': 'comp-frames' });
  const apply = h('button', { 'data-testid': 'comp-apply' }, 'Set');
  const step = (by: number) => () => {
    const last = (app.state?.project.composition.frames ?? 1) - 1;
    app.setFrame(Math.max(0, Math.min(last, app.frame + by)), false);
  };
  root.append(
    h(
      'div',
      { class: 'bar' },
      h('h2', {}, 'Timeline'),
      h('button', { title: 'Previous frame', 'data-testid': 'frame-prev', onclick: step(-1) }, '◀'),
      h('button', { title: 'Next frame', 'data-testid': 'frame-next', onclick: step(1) }, '▶'),
      ' Frame ',
      frameField,
      time,
    ),
    h('div', { class: 'track' }, slider, markers),
    h('div', { class: 'bar' }, 'Composition ', width, '×', height, ' fps ', fps, ' frames ', frames, apply),
  );

  slider.addEventListener('pointerdown', () => app.setInteracting(true));
  slider.addEventListener('input', () => app.setFrame(Number(slider.value), app.interacting));
  const release = () => {
    if (app.interacting) app.setInteracting(false);
  };
  slider.addEventListener('pointerup', release);
  slider.addEventListener('change', release);
  frameField.addEventListener('change', () => {
    const last = (app.state?.project.composition.frames ?? 1) - 1;
    const f = Math.round(Number(frameField.value));
    if (Number.isFinite(f)) app.setFrame(Math.max(0, Math.min(last, f)), false);
  });
  apply.addEventListener('click', () => {
    void app.edit({
      op: 'set_composition',
      width: Number(width.value),
      height: Number(height.value),
      fps: fps.value.trim(),
      frames: Number(frames.value),
    });
  });

  app.onChange(() => {
    const state = app.state;
    if (!state) return;
    const c = state.project.composition;
    const last = Math.max(0, c.frames - 1);
    slider.max = String(last);
    slider.value = String(app.frame);
    frameField.max = String(last);
    if (document.activeElement !== frameField) frameField.value = String(app.frame);
    time.textContent = ` ${(app.frame / framesPerSecond(c.fps)).toFixed(3)} s`;
    for (const [field, value] of [
      [width, c.width],
      [height, c.height],
      [fps, c.fps],
      [frames, c.frames],
    ] as const) {
      if (document.activeElement !== field) field.value = String(value);
    }
    // A marker for each frame that holds a keyframe of the selected layer.
    const fpsValue = framesPerSecond(c.fps);
    const keyed = new Map<number, string[]>();
    for (const entry of app.layer?.effects ?? []) {
      for (const p of entry.params) {
        for (const k of p.keys ?? []) {
          const f = Math.round(k.time * fpsValue);
          keyed.set(f, [...(keyed.get(f) ?? []), `${p.name} = ${k.value}`]);
        }
      }
    }
    markers.replaceChildren(
      ...[...keyed.entries()].map(([f, what]) => {
        const marker = h('button', {
          class: f === app.frame ? 'marker current' : 'marker',
          title: `frame ${f}: ${what.join(', ')}`,
          'data-testid': 'key-marker',
          'data-frame': f,
          onclick: () => app.setFrame(f, false),
        });
        marker.style.left = `${last === 0 ? 0 : (f / last) * 100}%`;
        return marker;
      }),
    );
  });
}
