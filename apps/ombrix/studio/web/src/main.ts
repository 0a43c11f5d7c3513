// The studio page: toolbar, panels, viewer, timeline and queue around one App.
import { api } from './api';
import { App } from './app';
import { h } from './dom';
import { drawEffects, drawLayers } from './layers';
import { createQueue } from './queue';
import { createTimeline } from './timeline';
import { createViewer } from './viewer';
import './style.css';

const app = new App();
const $ = <T extends HTMLElement>(selector: string) => document.querySelector(selector) as T;
const byTestId = <T extends HTMLElement>(id: string) => $<T>(`[data-testid="${id}"]`);

const status = byTestId('status');
app.onStatus((text, error) => {
  status.textContent = text;
  status.classList.toggle('error', error);
});

const pathField = byTestId<HTMLInputElement>('path');
const undo = byTestId<HTMLButtonElement>('undo');
const redo = byTestId<HTMLButtonElement>('redo');
const title = byTestId('project-name');

byTestId('new').addEventListener('click', () => {
  if (app.state?.dirty && !confirm('Discard the changes to this project?')) return;
  void app.run(() => api.newProject(), 'new project');
});
byTestId('open').addEventListener('click', () => {
  const path = pathField.value.trim();
  if (!path) return app.status('type the path of the project to open', true);
  if (app.state?.dirty && !confirm('Discard the changes to this project?')) return;
  void app.run(() => api.open(path), `opened ${path}`);
});
byTestId('save').addEventListener('click', () => {
  const path = app.state?.path ?? pathField.value.trim();
  if (!path) return app.status('type a path and use Save As', true);
  void app.run(() => api.save(app.state?.path ? undefined : path), `saved ${path}`);
});
byTestId('save-as').addEventListener('click', () => {
  const path = pathField.value.trim();
  if (!path) return app.status('type the path to save to', true);
  void app.run(() => api.save(path), `saved ${path}`);
});
undo.addEventListener('click', () => void app.run(() => api.undo()));
redo.addEventListener('click', () => void app.run(() => api.redo()));

// Ctrl+Z and Ctrl+Shift+Z (Ctrl+Y too), but not while typing in a field,
// where they belong to the field.
document.addEventListener('keydown', (e) => {
  if (!(e.ctrlKey || e.metaKey) || e.altKey) return;
  const target = e.target as HTMLElement;
  const typing = target instanceof HTMLInputElement && !['checkbox', 'radio', 'range', 'color'].includes(target.type);
  if (typing || target instanceof HTMLTextAreaElement) return;
  const key = e.key.toLowerCase();
  if (key === 'z' && !e.shiftKey && app.state?.can_undo) {
    e.preventDefault();
    void app.run(() => api.undo());
  } else if (((key === 'z' && e.shiftKey) || key === 'y') && app.state?.can_redo) {
    e.preventDefault();
    void app.run(() => api.redo());
  }
});

const layersRoot = $<HTMLElement>('#layers');
const effectsRoot = $<HTMLElement>('#effects');
app.onChange(() => {
  const state = app.state;
  if (!state) return;
  undo.disabled = !state.can_undo;
  redo.disabled = !state.can_redo;
  title.textContent = `${state.path ?? 'untitled'}${state.dirty ? ' •' : ''}`;
  title.dataset.revision = String(state.revision);
  if (state.path && document.activeElement !== pathField && !pathField.value) pathField.value = state.path;
  // Panels are not rebuilt under a control that is being dragged.
  if (app.interacting) return;
  drawLayers(app, layersRoot);
  drawEffects(app, effectsRoot);
});

createViewer(app, $('#viewer'));
createTimeline(app, $('#timeline'));
createQueue(app, $('#queue'));
document.body.append(h('span', { hidden: true, 'data-testid': 'ready' }));
void app.start();
