// The page's only way to the server: HTTP for the project, one WebSocket
// for previews and progress. Every request carries the token the page was
// opened with.
import type { EffectDetails, EffectSummary, Edit, ProjectState, QueueJob } from './types';

export const token = new URLSearchParams(location.search).get('token') ?? '';

export class ApiError extends Error {
  constructor(
    message: string,
    readonly status: number,
  ) {
    super(message);
  }
}

async function call<T>(method: string, path: string, body?: unknown): Promise<T> {
  const headers: Record<string, string> = { 'X-Ombrix-Token': token };
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  const response = await fetch(path, {
    method,
    headers,
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  const text = await response.text();
  let parsed: unknown = null;
  try {
    parsed = text ? JSON.parse(text) : null;
  } catch {
    parsed = null;
  }
  if (!response.ok) {
    const error = (parsed as { error?: string } | null)?.error ?? (text || response.statusText);
    throw new ApiError(`${method} ${path}: ${error} (${response.status})`, response.status);
  }
  return parsed as T;
}

export const api = {
  effects: () => call<EffectSummary[]>('GET', '/api/effects'),
  effect: (name: string) => call<EffectDetails>('GET', `/api/effects/${encodeURIComponent(name)}`),
  state: () => call<ProjectState>('GET', '/api/project'),
  edit: (edit: Edit) => call<ProjectState>('POST', '/api/edit', edit),
  undo: () => call<ProjectState>('POST', '/api/undo', {}),
  redo: () => call<ProjectState>('POST', '/api/redo', {}),
  newProject: () => call<ProjectState>('POST', '/api/new', {}),
  open: (path: string) => call<ProjectState>('POST', '/api/open', { path }),
  save: (path?: string) => call<ProjectState>('POST', '/api/save', path ? { path } : {}),
  queue: () => call<QueueJob[]>('GET', '/api/queue'),
  enqueue: (job: { first: number; last: number; output: string; downsample?: string }) =>
    call<{ id: string | number }>('POST', '/api/queue', job),
  cancel: (id: string | number) => call<QueueJob>('POST', `/api/queue/${encodeURIComponent(String(id))}/cancel`, {}),
};

export interface PreviewRequest {
  id: number;
  frame: number;
  downsample: string;
}

export interface PreviewResult extends PreviewRequest {
  width: number;
  height: number;
  ms: number;
  png: Blob;
}

export interface SocketHandlers {
  preview(result: PreviewResult): void;
  previewFailed(id: number, error: string | null): void;
  projectChanged(revision: number): void;
  queueChanged(job: QueueJob): void;
  connection(open: boolean): void;
}

// The WebSocket: previews go out as requests and come back as a header
// followed by one binary message with the PNG. It reconnects when lost.
export class Socket {
  private ws: WebSocket | null = null;
  private pending: (PreviewRequest & { width: number; height: number; ms: number }) | null = null;
  private queued: PreviewRequest | null = null;

  constructor(private readonly handlers: SocketHandlers) {
    this.connect();
  }

  requestPreview(request: PreviewRequest): void {
    if (this.ws && this.ws.readyState === WebSocket.OPEN) {
      this.ws.send(JSON.stringify({ type: 'preview', ...request }));
    } else {
      this.queued = request;
    }
  }

  private connect(): void {
    const scheme = location.protocol === 'https:' ? 'wss' : 'ws';
    const ws = new WebSocket(`${scheme}://${location.host}/ws?token=${encodeURIComponent(token)}`);
    ws.binaryType = 'blob';
    this.ws = ws;
    ws.onopen = () => {
      this.handlers.connection(true);
      if (this.queued) {
        const request = this.queued;
        this.queued = null;
        this.requestPreview(request);
      }
    };
    ws.onclose = () => {
      this.handlers.connection(false);
      this.pending = null;
      setTimeout(() => this.connect(), 1000);
    };
    ws.onmessage = (event) => this.receive(event.data);
  }

  private receive(data: unknown): void {
    if (data instanceof Blob) {
      const header = this.pending;
      this.pending = null;
      if (header) this.handlers.preview({ ...header, png: data });
      return;
    }
    let message: Record<string, unknown>;
    try {
      message = JSON.parse(String(data));
    } catch {
      return;
    }
    switch (message.type) {
      case 'preview':
        this.pending = {
          id: Number(message.id),
          frame: Number(message.frame),
          downsample: String(message.downsample ?? ''),
          width: Number(message.width),
          height: Number(message.height),
          ms: Number(message.ms),
        };
        break;
      case 'preview_cancelled':
        this.handlers.previewFailed(Number(message.id), null);
        break;
      case 'preview_error':
        this.handlers.previewFailed(Number(message.id), String(message.error ?? 'preview failed'));
        break;
      case 'project':
        this.handlers.projectChanged(Number(message.revision));
        break;
      case 'queue':
        this.handlers.queueChanged(message.job as QueueJob);
        break;
    }
  }
}
