// The page's state and the one path every change takes: an edit goes to the
// server, the answer becomes the state, the panels are drawn again from it
// and a preview is asked for.
import { api, Socket, type PreviewResult } from './api';
import type { EffectDetails, EffectSummary, Edit, Layer, ProjectState, QueueJob } from './types';

export type Listener = () => void;

// How the viewer is asked for frames: downsampled while a value is being
// dragged or the timeline scrubbed, at full resolution once the page has
// been idle for this long.
export const IDLE_MS = 250;

export interface ShownPreview {
  id: number;
  frame: number;
  downsample: string;
  revision: number;
  width: number;
  height: number;
  ms: number;
  url: string;
}

export class App {
  state: ProjectState | null = null;
  effects: EffectSummary[] = [];
  details = new Map<string, EffectDetails>();
  selectedLayer: string | null = null;
  frame = 0;
  zoom: number | 'fit' = 'fit';
  // True while the user drags a control, a handle or the timeline: panels
  // are not rebuilt under the pointer and previews are drafts.
  interacting = false;
  jobs = new Map<string, QueueJob>();
  preview: ShownPreview | null = null;

  private listeners: Listener[] = [];
  private previewListeners: Listener[] = [];
  private statusListeners: ((text: string, error: boolean) => void)[] = [];
  private socket: Socket;
  private nextPreviewId = 1;
  private sent = new Map<number, { revision: number; downsample: string }>();
  private idleTimer: number | undefined;
  private editChain: Promise<unknown> = Promise.resolve();
  private coalesced = new Map<string, Edit>();

  constructor() {
    this.socket = new Socket({
      preview: (result) => this.showPreview(result),
      previewFailed: (id, error) => {
        this.sent.delete(id);
        if (error) this.status(`preview: ${error}`, true);
      },
      projectChanged: (revision) => {
        if (!this.state || revision !== this.state.revision) void this.refresh();
      },
      queueChanged: (job) => {
        this.jobs.set(String(job.id), job);
        this.changed();
      },
      connection: (open) => {
        if (!open) this.status('connection to the studio lost; reconnecting', true);
        else {
          this.status('connected', false);
          this.requestPreview(false);
        }
      },
    });
  }

  async start(): Promise<void> {
    try {
      this.effects = await api.effects();
      this.setState(await api.state());
      for (const job of await api.queue()) this.jobs.set(String(job.id), job);
      this.changed();
    } catch (e) {
      this.fail(e);
    }
  }

  onChange(listener: Listener): void {
    this.listeners.push(listener);
  }
  onPreview(listener: Listener): void {
    this.previewListeners.push(listener);
  }
  onStatus(listener: (text: string, error: boolean) => void): void {
    this.statusListeners.push(listener);
  }

  status(text: string, error: boolean): void {
    for (const l of this.statusListeners) l(text, error);
  }

  fail(e: unknown): void {
    this.status(e instanceof Error ? e.message : String(e), true);
  }

  changed(): void {
    for (const l of this.listeners) l();
  }

  get layer(): Layer | undefined {
    return this.state?.project.layers.find((l) => l.id === this.selectedLayer);
  }

  setState(state: ProjectState): void {
    const previous = this.state;
    const revisionChanged = previous?.revision !== state.revision;
    // The same state again (a change the page already has, announced on the
    // socket) redraws nothing, so that a field being typed in keeps its text.
    if (previous && !revisionChanged && previous.path === state.path && previous.dirty === state.dirty) return;
    this.state = state;
    const layers = state.project.layers;
    if (state.added && layers.some((l) => l.id === state.added)) this.selectedLayer = state.added;
    if (!layers.some((l) => l.id === this.selectedLayer)) this.selectedLayer = layers[0]?.id ?? null;
    this.frame = Math.min(this.frame, Math.max(0, state.project.composition.frames - 1));
    void this.loadDetails().then((loaded) => loaded && this.changed());
    this.changed();
    if (revisionChanged) this.requestPreview(this.interacting);
  }

  async refresh(): Promise<void> {
    try {
      this.setState(await api.state());
    } catch (e) {
      this.fail(e);
    }
  }

  // Details (parameters, about, dialog) of every effect the project uses.
  // True when it fetched any.
  private async loadDetails(): Promise<boolean> {
    const names = new Set<string>();
    for (const layer of this.state?.project.layers ?? []) for (const e of layer.effects) names.add(e.effect);
    let loaded = false;
    for (const name of names) {
      if (this.details.has(name)) continue;
      try {
        this.details.set(name, await api.effect(name));
        loaded = true;
      } catch (e) {
        this.fail(e);
      }
    }
    return loaded;
  }

  // Runs a request that answers with the new state; edits run one at a time
  // in the order they were made.
  run(what: () => Promise<ProjectState>, done?: string): Promise<void> {
    this.pending(1);
    const next = this.editChain.then(async () => {
      try {
        this.setState(await what());
        if (done) this.status(done, false);
      } catch (e) {
        this.fail(e);
      } finally {
        this.pending(-1);
      }
    });
    this.editChain = next;
    return next;
  }

  // How many requests that change the project are on their way, on the
  // page for anyone who waits for it to settle (the browser tests do).
  private inFlight = 0;
  private pending(by: number): void {
    this.inFlight += by;
    document.body.dataset.pending = String(this.inFlight);
  }

  edit(edit: Edit): Promise<void> {
    return this.run(() => api.edit(edit));
  }

  // Edits made while dragging: only the newest one for `key` is sent when the
  // server is free again, so a fast drag does not queue up stale values.
  // A replaced edit that started a new undo step passes that on.
  editLatest(key: string, edit: Edit): void {
    const waiting = this.coalesced.get(key);
    if (waiting && !waiting.merge) {
      const { merge: _merge, ...unmerged } = edit;
      edit = unmerged as Edit;
    }
    this.coalesced.set(key, edit);
    if (waiting) return;
    void this.run(() => {
      const latest = this.coalesced.get(key)!;
      this.coalesced.delete(key);
      return api.edit(latest);
    });
  }

  setFrame(frame: number, draft: boolean): void {
    if (frame === this.frame && this.preview?.frame === frame && !draft) return;
    this.frame = frame;
    this.changed();
    this.requestPreview(draft);
  }

  setInteracting(on: boolean): void {
    this.interacting = on;
    if (!on) {
      this.changed();
      this.requestPreview(false);
    }
  }

  scale(): number {
    return this.zoom === 'fit' ? 1 : this.zoom;
  }

  // A draft is downsampled by a quarter, or more when the zoom shows less.
  private draftDownsample(): string {
    const zoom = this.zoom === 'fit' ? 1 : this.zoom;
    return zoom <= 0.125 ? '1/8' : '1/4';
  }

  requestPreview(draft: boolean): void {
    if (!this.state) return;
    window.clearTimeout(this.idleTimer);
    const downsample = draft ? this.draftDownsample() : '1/1';
    const id = this.nextPreviewId++;
    this.sent.set(id, { revision: this.state.revision, downsample });
    this.socket.requestPreview({ id, frame: this.frame, downsample });
    if (draft) this.idleTimer = window.setTimeout(() => this.requestPreview(false), IDLE_MS);
  }

  private showPreview(result: PreviewResult): void {
    const sent = this.sent.get(result.id);
    this.sent.delete(result.id);
    if (!sent || (this.preview && result.id < this.preview.id)) return;
    for (const id of [...this.sent.keys()]) if (id < result.id) this.sent.delete(id);
    if (this.preview) URL.revokeObjectURL(this.preview.url);
    this.preview = {
      id: result.id,
      frame: result.frame,
      downsample: result.downsample || sent.downsample,
      revision: sent.revision,
      width: result.width,
      height: result.height,
      ms: result.ms,
      url: URL.createObjectURL(result.png),
    };
    for (const l of this.previewListeners) l();
  }
}
