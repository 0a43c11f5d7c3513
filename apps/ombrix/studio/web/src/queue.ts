// The render queue: a frame range written to files, with progress and cancel.
import { api } from './api';
import type { App } from './app';
import { clear, h } from './dom';
import type { QueueJob } from './types';

function jobRow(app: App, job: QueueJob): HTMLElement {
  const running = job.state === 'queued' || job.state === 'running';
  return h(
    'li',
    { class: `job ${job.state}`, 'data-testid': `job-${job.id}`, 'data-state': job.state },
    h('div', {}, `${job.output} · frames ${job.first}–${job.last}`),
    h('progress', { max: Math.max(1, job.total), value: job.done, 'data-testid': 'job-progress' }),
    h('span', { class: 'hint', 'data-testid': 'job-state' }, ` ${job.done}/${job.total} ${job.state}`),
    running &&
      h(
        'button',
        {
          'data-testid': 'job-cancel',
          onclick: async () => {
            try {
              const updated = await api.cancel(job.id);
              app.jobs.set(String(updated.id), updated);
              app.changed();
            } catch (e) {
              app.fail(e);
            }
          },
        },
        'Cancel',
      ),
    job.error ? h('div', { class: 'error' }, job.error) : null,
  );
}

export function createQueue(app: App, root: HTMLElement): void {
  const first = h('input', { type: 'number', class: 'num', min: 0, value: 0, 'data-testid': 'queue-first' });
  const last = h('input', { type: 'number', class: 'num', min: 0, value: 0, 'data-testid': 'queue-last' });
  const output = h('input', { 'data-testid': 'queue-output', placeholder: 'out/frame.####.png', spellcheck: false });
  const list = h('ul', { class: 'list', 'data-testid': 'queue-jobs' });
  let filled = false;
  const add = h(
    'button',
    {
      'data-testid': 'queue-add',
      onclick: async () => {
        if (!output.value.trim()) return app.status('type the output file or frame pattern', true);
        try {
          const { id } = await api.enqueue({ first: Number(first.value), last: Number(last.value), output: output.value.trim() });
          app.status(`render ${id} queued`, false);
          for (const job of await api.queue()) app.jobs.set(String(job.id), job);
          app.changed();
        } catch (e) {
          app.fail(e);
        }
      },
    },
    'Render',
  );
  root.append(
    h('h2', {}, 'Render queue'),
    h('div', { class: 'form' }, 'First ', first, ' Last ', last, h('br'), 'Output ', output, add),
    list,
  );
  app.onChange(() => {
    if (!filled && app.state) {
      last.value = String(app.state.project.composition.frames - 1);
      filled = true;
    }
    clear(list, ...[...app.jobs.values()].map((job) => jobRow(app, job)));
  });
}
