// Parameter values as the page shows and edits them. Values travel as the
// text `ombrix render -p` takes; these helpers turn that text into numbers
// for the controls and back.
import type { Composition, Key, ParamEntry, ParamInfo } from './types';

// Frames per second from the composition's rate text ("24", "30000/1001", "29.97").
export function framesPerSecond(fps: string): number {
  const [num, den] = fps.split('/');
  const value = Number(num) / (den === undefined ? 1 : Number(den));
  return Number.isFinite(value) && value > 0 ? value : 24;
}

export function frameTime(frame: number, composition: Composition): number {
  return frame / framesPerSecond(composition.fps);
}

const sameTime = (a: number, b: number) => Math.abs(a - b) < 1e-9;

export function keyAt(entry: ParamEntry | undefined, time: number): Key | undefined {
  return entry?.keys?.find((k) => sameTime(k.time, time));
}

// The default value of a parameter as text.
export function defaultText(info: ParamInfo, layerWidth: number, layerHeight: number): string {
  switch (info.kind) {
    case 'point': {
      const [px, py] = info.default_percent ?? [50, 50];
      return `${round((px / 100) * layerWidth, 3)},${round((py / 100) * layerHeight, 3)}`;
    }
    case 'layer':
      return '';
    default:
      return info.default === undefined ? '' : String(info.default);
  }
}

function numbers(text: string): number[] | null {
  const parts = text.split(',').map((p) => Number(p.trim().replace(/%$/, '')));
  return parts.every(Number.isFinite) ? parts : null;
}

const interpolable = new Set(['slider', 'fixed_slider', 'angle', 'point']);

// The value shown at `time`: the keyframe there, a straight line between
// the keys around it for numbers, else the last key before it. The server
// renders with the host's own interpolation; this is only for the controls.
export function valueAt(info: ParamInfo, entry: ParamEntry | undefined, time: number, fallback: string): string {
  if (!entry) return fallback;
  const keys = [...(entry.keys ?? [])].sort((a, b) => a.time - b.time);
  if (keys.length === 0) return entry.value ?? fallback;
  const exact = keyAt(entry, time);
  if (exact) return exact.value;
  if (time <= keys[0].time) return keys[0].value;
  const last = keys[keys.length - 1];
  if (time >= last.time) return last.value;
  const after = keys.findIndex((k) => k.time > time);
  const a = keys[after - 1];
  const b = keys[after];
  const va = numbers(a.value);
  const vb = numbers(b.value);
  if (!interpolable.has(info.kind) || !va || !vb || va.length !== vb.length) return a.value;
  const t = (time - a.time) / (b.time - a.time);
  return va.map((v, i) => round(v + (vb[i] - v) * t, 6)).join(',');
}

export function round(value: number, decimals: number): number {
  const scale = 10 ** decimals;
  return Math.round(value * scale) / scale;
}

// Shown value of a fixed slider: percent sliders show value / unit with "%".
export function percentScale(info: ParamInfo): number {
  return info.percent ? 1 / (info.percent_unit ?? 1) : 1;
}

export function formatNumber(value: number, precision: number): string {
  return round(value, precision).toFixed(Math.max(0, precision));
}

// The text a number is sent as: plain registered units, no more than six decimals.
export function numberText(value: number): string {
  return String(round(value, 6));
}

export function parsePoint(text: string): [number, number] {
  const n = numbers(text);
  return n && n.length >= 2 ? [n[0], n[1]] : [0, 0];
}

// "#RRGGBB" for a colour input from "#RRGGBB[AA]" or "R,G,B[,A]"; the alpha apart.
export function splitColor(text: string): { rgb: string; alpha: string } {
  const hex = (v: number) => Math.max(0, Math.min(255, Math.round(v))).toString(16).padStart(2, '0');
  if (text.startsWith('#') && (text.length === 7 || text.length === 9)) {
    return { rgb: text.slice(0, 7).toLowerCase(), alpha: text.length === 9 ? text.slice(7) : 'FF' };
  }
  const n = numbers(text);
  if (n && n.length >= 3) return { rgb: `#${hex(n[0])}${hex(n[1])}${hex(n[2])}`, alpha: hex(n[3] ?? 255) };
  return { rgb: '#000000', alpha: 'FF' };
}

// The size of a layer's source when it says it ("testcard:640x360"); else the composition's.
export function sourceSize(source: string, composition: Composition): [number, number] {
  const m = /^(?:testcard|solid):(\d+)x(\d+)/.exec(source);
  if (m) return [Number(m[1]), Number(m[2])];
  if (source === 'testcard') return [640, 360];
  return [composition.width, composition.height];
}

// Answers for the options dialog in the form `--dialog` takes: items
// joined by commas, commas and backslashes inside a value escaped.
export function dialogAnswers(items: string[]): string {
  return items.map((item) => item.replace(/[\\,]/g, (c) => `\\${c}`)).join(',');
}
