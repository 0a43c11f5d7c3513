#!/usr/bin/env python3
"""Writes docs/performance.md from the JSON of one run of every benchmark
(see scripts/bench-report, which runs them and calls this)."""

import argparse
import json
import pathlib
import re

# Our benchmarks, by binary and name, and the peers measured beside them in
# the same binary (matched on the same arguments, threads aside). A note
# marks work that is serial by its algorithm.
EFFECTS = [
    ("smooth_bench", r"^BM_Smooth$", "Smoothing routine (host)",
     [("BM_OpenCV_GaussianBlur", "OpenCV GaussianBlur"), ("BM_BoxBlur3", "three-pass box blur"),
      ("BM_Vips_Gaussblur", "libvips gaussblur"), ("BM_SmoothReference", "its plain reference form")], ""),
    ("hls_effects_bench", r"^BM_Hueswap", "Hueswap", [("BM_OpenCVHlsRoundTrip", "OpenCV 8-bit HLS round trip")], ""),
    ("hls_effects_bench", r"^BM_Speckhue", "Speckhue", [("BM_OpenCVHlsRoundTrip", "OpenCV 8-bit HLS round trip")], ""),
    ("fill_optics_bench", r"^BM_Floodspill(PaintBucket|Bleed4)", "Floodspill",
     [("BM_OpenCV_FloodFill", "OpenCV floodFill")], "the fill is serial by its algorithm"),
    ("fill_optics_bench", r"^BM_FloodspillUniform", "Floodspill",
     [("BM_OpenCV_FloodFillUniform", "OpenCV floodFill, whole frame")], "the fill is serial by its algorithm"),
    ("fill_optics_bench", r"^BM_Lenswarp", "Lenswarp", [("BM_OpenCV_RemapLens", "OpenCV remap, same lens map")], ""),
    ("fill_optics_bench", r"^BM_Magnify", "Magnify", [("BM_OpenCV_RemapMagnify", "OpenCV remap, same magnifier map")],
     ""),
    ("fill_optics_bench", r"^BM_Lampcast", "Lampcast", [], ""),
    ("mistform_bench", r"^BM_Mistform_", "Mistform", [("BM_VipsPerlinFractal", "libvips perlin, 6-octave fractal")], ""),
    ("swirlshift_bench", r"^BM_Swirlshift_", "Swirlshift",
     [("BM_VipsPerlin", "libvips perlin, one octave (the noise alone)")], ""),
    ("facetry_bench", r"^BM_Facetry_", "Facetry", [("BM_VipsWorley", "libvips worley")], ""),
    ("fourtint_bench", r"^BM_Fourtint", "Fourtint", [("BM_MagickShepards", "ImageMagick Shepards")], ""),
    ("flatwash_bench", r"^BM_FlatwashPure", "Flatwash",
     [("BM_PointerLoopPure", "its pixel function through a pointer"), ("BM_Memcpy", "memcpy of the frame")], ""),
    ("flatwash_bench", r"^BM_FlatwashHalf", "Flatwash",
     [("BM_PointerLoopHalf", "its pixel function through a pointer"), ("BM_Memcpy", "memcpy of the frame")], ""),
    ("flatwash_bench", r"^BM_FlatwashFull", "Flatwash", [("BM_Memcpy", "memcpy of the frame")], ""),
    ("grid_bench", r"^BM_Grid", "Grid", [], ""),
    ("frayline_bench", r"^Frayline$", "Frayline", [], ""),
    ("lightning_bench", r"^BM_LightningRender", "Lightning",  [],
     "the bolt walk is serial by its algorithm, the stamping is split in bands of rows"),
    ("lightning_bench", r"^BM_LightningWalk", "Lightning", [], "serial by its algorithm"),
]

# Building blocks measured beside a peer: (binary, ours, peer, peer's name).
SERVICES = [
    ("ombrix_sampling_bench", "BM_SubpixelSampleRemap", "BM_OpenCV_Remap", "OpenCV remap"),
    ("ombrix_sampling_bench", "BM_AreaSampleRemap", "BM_OpenCV_Remap", "OpenCV remap"),
    ("ombrix_sampling_bench", "BM_SwirlshiftSampling", "BM_OpenCV_RemapSwirlshift", "OpenCV remap, same positions"),
    ("ombrix_sampling_bench", "BM_HlsRoundTrip", "BM_OpenCV_HlsRoundTrip", "OpenCV HLS round trip"),
    ("ombrix_sampling_bench", "BM_ScaledCopyReduce", "BM_OpenCV_ResizeArea", "OpenCV resize INTER_AREA"),
    ("services_bench", "BM_SubpixelThroughHost", "BM_SubpixelDirect", "the pixel function called directly"),
    ("services_bench", "BM_SubpixelThroughHostHalfRes", "BM_SubpixelDirect", "the pixel function called directly"),
    ("services_bench", "BM_Service", "BM_InPlugin", "the same maths called in the plug-in"),
]

UNIT_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1000.0}


def parse_name(name):
    """'BM_X/radius:2/threads:0/real_time' -> ('BM_X', 'radius:2', threads)."""
    parts = [p for p in name.split("/") if p != "real_time" and not p.startswith("min_time:")]
    base, rest, threads = parts[0], [], None
    for p in parts[1:]:
        if p.startswith("threads:"):
            threads = int(p.split(":", 1)[1])
        elif re.fullmatch(r"\d+", p) and threads is None and base.startswith("BM_SubpixelThroughHost"):
            threads = int(p)
        else:
            rest.append(p)
    return base, "/".join(rest), threads


class Figures:
    """Times in ms per (binary, base, args): one thread and all cores."""

    def __init__(self, results):
        self.runs = {}
        self.order = []
        self.failed = {}
        for path in sorted(pathlib.Path(results).glob("*.json")):
            binary = path.stem
            try:
                data = json.loads(path.read_text())
            except (ValueError, OSError):
                self.failed[binary] = "no results"
                continue
            for b in data.get("benchmarks", []):
                if b.get("run_type", "iteration") != "iteration":
                    continue
                base, args, threads = parse_name(b["name"])
                key = (binary, base, args)
                if key not in self.runs:
                    self.runs[key] = {}
                    self.order.append(key)
                if b.get("error_occurred"):
                    self.runs[key]["error"] = b.get("error_message", "failed")
                    continue
                ms = b["real_time"] * UNIT_MS[b.get("time_unit", "ns")]
                slot = "one" if threads in (None, 1) else "all"
                self.runs[key][slot] = ms
        self.used = set()
        self.records = []  # one per effect row: what the goals below are judged on

    def get(self, key):
        self.used.add(key)
        return self.runs.get(key, {})


def ms(v):
    if v is None:
        return "-"
    return f"{v:.3g}" if v < 10 else f"{v:.0f}"


def ratio(a, b):
    if a is None or b is None or b <= 0:
        return "-"
    return f"{a / b:.2f}"


def mpx(t):
    return "-" if t is None else f"{1920 * 1080 / 1e6 / (t / 1000):.0f}"


def effect_rows(fig):
    lines = ["| Effect | Mode | Ours 1 thread (ms) | Ours all cores (ms) | Mpx/s 1 / all | Scaling | Peer (same run) "
             "| Peer 1 thread (ms) | Peer all cores (ms) | Ratio 1 thread | Ratio all cores | Note |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for binary, pattern, label, peers, note in EFFECTS:
        for key in fig.order:
            if key[0] != binary or not re.search(pattern, key[1]):
                continue
            ours = fig.get(key)
            mode = re.sub(r"^(BM_)?", "", key[1])
            mode = re.sub(r"^(Mistform|Swirlshift|Facetry|Fourtint|Flatwash|Grid|Hueswap|Speckhue|Floodspill|Lenswarp"
                          r"|Magnify|Lampcast|LightningRender|Lightning|Smooth|Frayline)_?", "", mode)
            mode = " ".join(x for x in (mode, key[2]) if x) or "default"
            if key[1].startswith("BM_LightningWalk"):
                mode = "walk alone " + mode.replace("Walk_", "")
            one, alls = ours.get("one"), ours.get("all")
            scaling = ratio(one, alls)
            common = (f"| {label} | {mode} | {ms(one)} | {ms(alls)} | {mpx(one)} / {mpx(alls)} | "
                      f"{scaling} |")
            record = {"label": label, "mode": mode, "args": key[2], "one": one, "all": alls, "note": note,
                      "peer": None, "p_one": None, "p_all": None}
            if "error" in ours:
                lines.append(f"{common} - | - | - | - | - | failed: {ours['error']} |")
                continue
            if not peers:
                fig.records.append(record)
                lines.append(f"{common} - | - | - | - | - | {note} |")
                continue
            for peer_base, peer_label in peers:
                # A peer without our extra arguments (e.g. the plain forms' switch) serves all of them.
                peer = fig.get((binary, peer_base, key[2])) or fig.get((binary, peer_base, ""))
                if not peer or "error" in peer:
                    lines.append(f"{common} {peer_label}: not built or failed | - | - | - | - | {note} |")
                    continue
                p_one, p_all = peer.get("one"), peer.get("all", peer.get("one") if "all" not in peer else None)
                if peer_base == "BM_Memcpy":
                    p_all = None
                fig.records.append(dict(record, peer=peer_label, p_one=p_one, p_all=p_all))
                lines.append(f"{common} {peer_label} | {ms(p_one)} | {ms(p_all)} | {ratio(one, p_one)} | "
                             f"{ratio(alls, p_all)} | {note} |")
    return lines


def service_rows(fig):
    lines = ["| Measurement | Arguments | Ours 1 thread (ms) | Ours all cores (ms) | Peer | Peer 1 thread (ms) "
             "| Peer all cores (ms) | Ratio 1 thread | Ratio all cores |", "|---|---|---|---|---|---|---|---|---|"]
    for binary, ours_base, peer_base, peer_label in SERVICES:
        for key in fig.order:
            if key[0] != binary or key[1] != ours_base:
                continue
            ours = fig.get(key)
            # A peer without our extra arguments (e.g. the plain forms' switch) serves all of them.
            peer = fig.get((binary, peer_base, key[2])) or fig.get((binary, peer_base, ""))
            lines.append(f"| {ours_base[3:]} | {key[2] or '-'} | {ms(ours.get('one'))} | {ms(ours.get('all'))} | "
                         f"{peer_label} | {ms(peer.get('one'))} | {ms(peer.get('all'))} | "
                         f"{ratio(ours.get('one'), peer.get('one'))} | {ratio(ours.get('all'), peer.get('all'))} |")
    return lines


def other_rows(fig):
    lines = ["| Benchmark | Program | Arguments | 1 thread (ms) | all cores (ms) |", "|---|---|---|---|---|"]
    for key in fig.order:
        if key in fig.used:
            continue
        r = fig.runs[key]
        lines.append(f"| {key[1]} | {key[0]} | {key[2] or '-'} | {ms(r.get('one'))} | {ms(r.get('all'))} |")
    return lines


def _arg(record, name):
    m = re.search(name + r":(\d+)", record["args"] + " " + record["mode"])
    return int(m.group(1)) if m else None


def _worst(records, value):
    """The record with the largest value (None values left out) and that value."""
    scored = [(value(r), r) for r in records if value(r) is not None]
    return max(scored, key=lambda x: x[0]) if scored else (None, None)


def _div(a, b):
    return None if a is None or b is None or b <= 0 else a / b


def _judge(goal, records, value, limit, describe):
    """One goal row: met when the worst record's value is within the limit."""
    worst, record = _worst(records, value)
    if record is None:
        return f"| {goal} | no figures | - |"
    status = "met" if worst <= limit else "**not met**"
    return f"| {goal} | {status} | {describe(worst, record)} |"


def goal_rows(fig):
    recs = fig.records

    def pick(label, peer=None, mode=None):
        return [r for r in recs if r["label"] == label and (peer is None or r["peer"] == peer)
                and (mode is None or re.search(mode, r["mode"]))]

    def vs_peer(r):
        return _div(r["one"], r["p_one"])

    def said(worst, r):
        return f"worst {r['label']} {r['mode']}: {worst:.2f}x the peer ({ms(r['one'])} ms against {ms(r['p_one'])} ms)"

    gauss = pick("Smoothing routine (host)", "OpenCV GaussianBlur")
    big = [r for r in gauss if (_arg(r, "radius") or 0) >= 5]
    small = [r for r in gauss if _arg(r, "radius") == 2]
    rows = ["| Goal | Status | Measured (one thread unless said) |", "|---|---|---|",
            _judge("Smoothing routine no slower than OpenCV GaussianBlur from radius 5", big, vs_peer, 1.0, said),
            _judge("Smoothing routine within 2x of OpenCV GaussianBlur at radius 2", small, vs_peer, 2.0, said)]
    times = [r["one"] for r in gauss if r["one"]]
    if times:
        spread = max(times) / min(times)
        rows.append(f"| Smoothing routine flat in the radius (slowest within 1.5x of the fastest) | "
                    f"{'met' if spread <= 1.5 else '**not met**'} | slowest / fastest radius: {spread:.2f} |")

    fractal = "libvips perlin, 6-octave fractal"
    mist = pick("Mistform", fractal, r"^(2_Linear|3_Smooth)")
    rows.append(_judge("Mistform Linear and Smooth faster than the 6-octave libvips fractal, all cores", mist,
                       lambda r: _div(r["all"], r["p_all"]), 1.0,
                       lambda w, r: f"worst {r['mode']}: {w:.2f}x the peer ({ms(r['all'])} ms against "
                                    f"{ms(r['p_all'])} ms)"))
    smooth = [r["one"] for r in pick("Mistform", fractal, r"^3_Smooth")]
    if smooth:
        rows.append(_judge("No Mistform type more than 4x Smooth's time", pick("Mistform", fractal),
                           lambda r: _div(r["one"], smooth[0]), 4.0,
                           lambda w, r: f"slowest {r['mode']}: {w:.2f}x Smooth"))
    hls = "OpenCV 8-bit HLS round trip"
    rows.append(_judge("Hueswap and Speckhue within 2x of OpenCV's HLS round trip",
                       pick("Hueswap", hls) + pick("Speckhue", hls), vs_peer, 2.0, said))
    rows.append(_judge("Lenswarp and Magnify within 2x of OpenCV remap with the same mapping",
                       pick("Lenswarp") + pick("Magnify"), vs_peer, 2.0, said))
    remap = fig.runs.get(("ombrix_sampling_bench", "BM_OpenCV_RemapSwirlshift", ""), {}).get("one")
    stage = [{"label": "Swirlshift sampling stage", "mode": args, "one": r.get("one"), "p_one": remap}
             for (binary, base, args), r in fig.runs.items()
             if base == "BM_SwirlshiftSampling" and "plain:0" in args]
    rows.append(_judge("Swirlshift's sampling stage within 2x of OpenCV remap over the same positions", stage,
                       vs_peer, 2.0, said))
    rows.append(_judge("Floodspill within 1.5x of OpenCV floodFill", pick("Floodspill"), vs_peer, 1.5, said))
    rows.append(_judge("Facetry at least 2x ahead of libvips worley on every type", pick("Facetry"), vs_peer, 0.5,
                       said))
    rows.append(_judge("Flatwash within 2x of the per-pixel function called through a pointer",
                       [r for r in pick("Flatwash") if r["peer"] and "pointer" in r["peer"]], vs_peer, 2.0, said))
    rows.append(_judge("Lightning's default bolt under 10 ms a frame on all cores",
                       pick("Lightning", mode=r"^Default"), lambda r: r["all"], 10.0,
                       lambda w, r: f"{ms(w)} ms"))
    parallel = {}
    for r in recs:
        if "serial" not in r["note"] and r["all"]:
            parallel[(r["label"], r["mode"])] = r
    rows.append(_judge("Every effect at least 1.8x its one-thread speed on all cores (serial parts aside)",
                       list(parallel.values()), lambda r: -_div(r["one"], r["all"]), -1.8,
                       lambda w, r: f"least scaling {r['label']} {r['mode']}: {-w:.2f}x"))
    names = {"0": "subpixel_sample", "1": "area_sample", "2": "the HLS round trip"}
    bookkeeping = []
    for (binary, base, args), r in fig.runs.items():
        inside = fig.runs.get((binary, "BM_InPlugin", args), {}).get("one")
        if base == "BM_Service" and r.get("one") and inside:
            service = names.get(args.split(":")[-1], args)
            bookkeeping.append({"label": service, "share": r["one"] / inside - 1})
    rows.append(_judge("The host's per-pixel service bookkeeping under 10 % of the work of one call", bookkeeping,
                       lambda r: r["share"], 0.10,
                       lambda w, r: f"worst {r['label']}: {100 * w:.0f} % more time through the host than the "
                                    f"same maths in the plug-in"))
    return rows


def main():
    ap = argparse.ArgumentParser()
    for opt in ("results", "out", "cpu", "cores", "load-start", "load-end", "started", "build-type", "compiler",
                "min-time"):
        ap.add_argument("--" + opt, required=True)
    a = ap.parse_args()
    fig = Figures(a.results)
    cores = int(a.cores)
    load = float(a.load_start.split()[0])
    effects, services = effect_rows(fig), service_rows(fig)
    goals = goal_rows(fig)
    others = other_rows(fig)
    idle = load < 0.25 * cores
    text = [
        "# Performance",
        "",
        "Generated by `scripts/bench-report` (rerun it on an idle machine for figures worth comparing; it",
        "builds and runs every benchmark of `bench/` and rewrites this page). All effects render one",
        "1920 x 1080 frame; times are wall-clock milliseconds per frame (or per call of the measured",
        "operation), each the mean of the benchmark's repetitions.",
        "",
        "## Machine",
        "",
        f"- CPU: {a.cpu}, {cores} cores",
        f"- Load average at the start (1, 5, 15 min): {a.load_start}; at the end: {a.load_end}",
        f"- Run: {a.started}, minimum time per benchmark {a.min_time} s",
        f"- Build: {a.build_type}, {a.compiler}",
        "",
    ]
    if not idle:
        text += [
            f"**Measured under load**: the load average was {load:.2f} on {cores} cores when the run started,",
            "so other work shared the cores; the all-cores figures and the scaling suffer most, and ratios",
            "against peers measured minutes apart in the same program are only indicative.",
            "",
        ]
    if fig.failed:
        text += ["Programs without results: " + ", ".join(sorted(fig.failed)), ""]
    text += [
        "## Goals",
        "",
        "Each goal is judged on the figures below, from this run. Where one is not met, "
        "[performance-notes.md](performance-notes.md) says where the time goes and why.",
        "",
        *goals,
        "",
        "## Effects beside their peers",
        "",
        "Ratio = our time / the peer's time (below 1: ours is faster). Scaling = one-thread time / all-cores",
        "time. Peers do comparable work: Mistform's is a six-octave fractal of libvips perlin noise at halving",
        "cell sizes, the smoothing routine's are OpenCV's GaussianBlur, libvips' gaussblur and a plain",
        "three-pass box blur at the same standard deviation (radius / 2), the remap-based effects' OpenCV",
        "remap with the same mapping computed once beforehand. Swirlshift's peer prices its noise only; its",
        "sampling stage (the host's bilinear sampler at given positions) is priced apart by the",
        "SubpixelSampleRemap row below, beside OpenCV remap over the same positions. Flatwash's memcpy runs",
        "on one thread; its other peer, the floor a per-pixel callback sets, is a plain loop calling",
        "Flatwash's own pixel function through a pointer, in bands of rows over the same threads. The",
        "smoothing routine's plain reference form is the one-lane-at-a-time code its tests compare against.",
        "",
        *effects,
        "",
        "## Host services beside a peer",
        "",
        "Service rows: each per-pixel service (0 subpixel_sample, 1 area_sample, 2 the HLS round trip)",
        "called through the host's table from inside iterate, beside the same maths compiled into the",
        "plug-in and called directly from the same pixel function: the difference is the services'",
        "bookkeeping.",
        "",
        *services,
        "",
        "## Other measurements",
        "",
        *others,
        "",
    ]
    pathlib.Path(a.out).write_text("\n".join(text))


if __name__ == "__main__":
    main()
