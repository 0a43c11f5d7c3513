// What the studio's browser tests share: finding Chromium and playwright-core,
// starting `ombrix studio` and reading the address it prints, and decoding
// the PNGs the server and `ombrix render` write, to compare their pixels.
import { spawn } from 'node:child_process';
import { existsSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import readline from 'node:readline';
import zlib from 'node:zlib';

export const CHROMIUM = process.env.OMBRIX_CHROMIUM || '/usr/bin/chromium';

function required() {
  const v = process.env.OMBRIX_REQUIRE_TOOLS;
  if (v !== undefined) return v !== '' && v !== '0';
  return process.env.CI === 'true';
}

// Ends the test when there is no Chromium: a skip (77), or a failure where
// outside tools are required.
export function needChromium() {
  if (existsSync(CHROMIUM)) return;
  if (required()) {
    console.error(`FAIL: the browser tests need ${CHROMIUM}; run scripts/install-browser`);
    process.exit(1);
  }
  console.log(`SKIP: no ${CHROMIUM} (scripts/install-browser installs it)`);
  process.exit(77);
}

// playwright-core as the page's build installed it (npm ci in the web folder).
export function playwright(webSource) {
  const require = createRequire(path.join(webSource, 'package.json'));
  try {
    return require('playwright-core');
  } catch (e) {
    throw new Error(`playwright-core is not installed in ${webSource} (scripts/build runs npm ci there): ${e.message}`);
  }
}

export async function launch(pw) {
  return pw.chromium.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
}

// Starts `ombrix studio` and resolves with its address once printed.
export function startStudio({ ombrix, plugins, web, cwd, project }) {
  const args = ['studio', '--no-open', '--port', '0', '--web', web, '--plugins', plugins];
  if (project) args.push(project);
  const child = spawn(ombrix, args, { cwd, stdio: ['ignore', 'pipe', 'pipe'] });
  let stderr = '';
  child.stderr.on('data', (d) => (stderr += d));
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`ombrix studio printed no address in 30 s:\n${stderr}`)), 30000);
    child.on('exit', (code) => reject(new Error(`ombrix studio exited (${code}):\n${stderr}`)));
    readline.createInterface({ input: child.stdout }).on('line', (line) => {
      const m = /(http:\/\/127\.0\.0\.1:(\d+)\/\?token=([0-9A-Za-z_-]+))/.exec(line);
      if (!m) return;
      clearTimeout(timer);
      const url = new URL(m[1]);
      resolve({
        child,
        url: m[1],
        origin: url.origin,
        port: Number(m[2]),
        token: m[3],
        stderr: () => stderr,
        stop: () =>
          new Promise((done) => {
            if (child.exitCode !== null) return done();
            child.once('exit', () => done());
            child.kill('SIGINT');
          }),
      });
    });
  });
}

export function run(program, args, cwd) {
  return new Promise((resolve, reject) => {
    const child = spawn(program, args, { cwd, stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    child.stdout.on('data', (d) => (out += d));
    child.stderr.on('data', (d) => (out += d));
    child.on('exit', (code) => (code === 0 ? resolve(out) : reject(new Error(`${program} ${args.join(' ')}: ${code}\n${out}`))));
  });
}

// 8-bit RGB or RGBA PNG to {width, height, rgba}: enough for what the host writes.
export function decodePng(bytes) {
  const buf = Buffer.from(bytes);
  if (buf.readUInt32BE(0) !== 0x89504e47) throw new Error('not a PNG');
  let width = 0;
  let height = 0;
  let channels = 0;
  const idat = [];
  for (let at = 8; at < buf.length; ) {
    const length = buf.readUInt32BE(at);
    const type = buf.toString('latin1', at + 4, at + 8);
    const data = buf.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = data.readUInt32BE(0);
      height = data.readUInt32BE(4);
      const [depth, colour, , , interlace] = data.subarray(8);
      channels = { 2: 3, 6: 4 }[colour];
      if (depth !== 8 || !channels || interlace !== 0) throw new Error(`PNG kind not handled: depth ${depth} colour ${colour}`);
    } else if (type === 'IDAT') {
      idat.push(data);
    }
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = width * channels;
  const pixels = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const a = x >= channels ? pixels[y * stride + x - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + x] : 0;
      const c = x >= channels && y > 0 ? pixels[(y - 1) * stride + x - channels] : 0;
      let predictor = 0;
      if (filter === 1) predictor = a;
      else if (filter === 2) predictor = b;
      else if (filter === 3) predictor = (a + b) >> 1;
      else if (filter === 4) {
        const p = a + b - c;
        const pa = Math.abs(p - a);
        const pb = Math.abs(p - b);
        const pc = Math.abs(p - c);
        predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      pixels[y * stride + x] = (line[x] + predictor) & 0xff;
    }
  }
  if (channels === 4) return { width, height, rgba: pixels };
  const rgba = Buffer.alloc(width * height * 4, 255);
  for (let i = 0; i < width * height; ++i) pixels.copy(rgba, i * 4, i * 3, i * 3 + 3);
  return { width, height, rgba };
}
