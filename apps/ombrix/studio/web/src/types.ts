// The shapes the server sends and takes (docs/studio.md).

export interface Key {
  time: number;
  value: string;
}

export interface ParamEntry {
  index: number;
  name: string;
  value?: string;
  keys?: Key[];
}

export interface EffectEntry {
  id: string;
  effect: string;
  enabled: boolean;
  params: ParamEntry[];
  sequence_data?: string | null;
}

export interface Layer {
  id: string;
  name: string;
  source: string;
  visible: boolean;
  effects: EffectEntry[];
}

export interface Composition {
  width: number;
  height: number;
  fps: string;
  frames: number;
}

export interface Project {
  ombrix_project: number;
  composition: Composition;
  layers: Layer[];
}

export interface ProjectState {
  project: Project;
  path: string | null;
  dirty: boolean;
  can_undo: boolean;
  can_redo: boolean;
  revision: number;
  added?: string;
}

export interface EffectSummary {
  name: string;
  display_name: string;
  category: string;
}

export interface PopupItem {
  number: number;
  text: string;
  separator: boolean;
  disabled: boolean;
}

// One parameter as `ombrix info --json` describes it.
export interface ParamInfo {
  index: number;
  kind: string;
  name: string;
  flags: number;
  ui_flags: number;
  label?: string;
  default?: number | string;
  default_fixed?: number;
  valid_min?: number;
  valid_max?: number;
  slider_min?: number;
  slider_max?: number;
  precision?: number;
  display_flags?: number;
  percent?: boolean;
  percent_unit?: number;
  default_percent?: [number, number];
  restrict_bounds?: boolean;
  num_choices?: number;
  items?: PopupItem[];
  custom_control?: boolean;
}

export interface DialogControl {
  id: number;
  kind: string;
  label: string;
  values?: string;
  min?: number;
  max?: number;
  enabled: boolean;
}

export interface EffectDetails {
  info: {
    short_name: string;
    display_name: string;
    category: string;
    params: ParamInfo[];
  };
  about: string;
  dialog: { has_dialog: boolean; title?: string; error?: string; controls?: DialogControl[] } | null;
}

export interface QueueJob {
  id: string | number;
  first: number;
  last: number;
  output: string;
  done: number;
  total: number;
  state: string;
  error?: string | null;
}

export type Edit = { op: string } & Record<string, unknown>;
