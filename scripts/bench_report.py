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
    ("fill_optics_bench", r"^BM_Floodspill", "Floodspill", [("BM_OpenCV_FloodFill", "OpenCV floodFill")],
     "the fill is serial by its algorithm"),
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
            if "error" in ours:
                lines.append(f"{common} - | - | - | - | - | failed: {ours['error']} |")
                continue
            if not peers:
                lines.append(f"{common} - | - | - | - | - | {note} |")
                continue
            for peer_base, peer_label in peers:
                peer = fig.get((binary, peer_base, key[2]))
                if not peer:
                    peer = fig.get((binary, peer_base, ""))
                if not peer or "error" in peer:
                    lines.append(f"{common} {peer_label}: not built or failed | - | - | - | - | {note} |")
                    continue
                p_one, p_all = peer.get("one"), peer.get("all", peer.get("one") if "all" not in peer else None)
                if peer_base == "BM_Memcpy":
                    p_all = None
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
            peer = fig.get((binary, peer_base, key[2]))
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
