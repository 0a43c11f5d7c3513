// `ombrix studio` driven in headless Chromium: the test card with Mistform,
// a value dragged (draft previews, then the full-resolution one, whose pixels
// are the server's /api/frame), a point dragged on the viewer, keyframes and
// scrubbing, save and reopen, `ombrix render --project` matching the studio
// byte for byte, and requests without the token refused.
//
// node studio_test.mjs OMBRIX PLUGIN_DIR WEB_BUILD WEB_SOURCE
import assert from 'node:assert/strict';
import http from 'node:http';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { decodePng, launch, needChromium, playwright, run, startStudio } from './harness.mjs';

const [ombrix, plugins, web, webSource] = process.argv.slice(2).map((a) => path.resolve(a));
needChromium();
const pw = playwright(webSource);
const work = mkdtempSync(path.join(os.tmpdir(), 'ombrix-studio-test-'));
let studio = null;
let browser = null;
let passed = 0;
let failed = 0;

async function step(name, body) {
  const started = Date.now();
  try {
    await body();
    passed += 1;
    console.log(`ok    ${name} (${Date.now() - started} ms)`);
  } catch (e) {
    failed += 1;
    console.log(`FAIL  ${name}\n${e.stack ?? e}`);
    if (studio) console.log(`server output:\n${studio.stderr()}`);
    throw e;
  }
}

const api = (s, route, init = {}) =>
  fetch(s.origin + route, { ...init, headers: { 'X-Ombrix-Token': s.token, ...(init.headers ?? {}) } });
const stateOf = async (s) => (await api(s, '/api/project')).json();
async function framePixels(s, frame) {
  const response = await api(s, `/api/frame?frame=${frame}&downsample=1/1`);
  assert.equal(response.status, 200, `/api/frame?frame=${frame}: ${await response.clone().text()}`);
  return decodePng(new Uint8Array(await response.arrayBuffer()));
}

// The page's newest preview once it shows the project's current revision at
// `frame` in full resolution, read back from the <img> through a canvas.
async function shownPreview(page, frame) {
  await page.waitForSelector('body[data-pending="0"]', { timeout: 15000 });
  const revision = (await stateOf(studio)).revision;
  await page.waitForSelector(
    `[data-testid="preview-image"][data-ready="true"][data-frame="${frame}"][data-downsample="1/1"][data-revision="${revision}"]`,
    { timeout: 30000 },
  );
  const shown = await page.evaluate(() => {
    const img = document.querySelector('[data-testid="preview-image"]');
    const canvas = document.createElement('canvas');
    canvas.width = img.naturalWidth;
    canvas.height = img.naturalHeight;
    const ctx = canvas.getContext('2d');
    ctx.drawImage(img, 0, 0);
    const data = ctx.getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000) text += String.fromCharCode(...data.subarray(i, i + 0x8000));
    return { width: canvas.width, height: canvas.height, rgba: btoa(text) };
  });
  return { width: shown.width, height: shown.height, rgba: Buffer.from(shown.rgba, 'base64') };
}

// Pixels that differ. A canvas keeps colours premultiplied, so where a pixel
// is not opaque only its alpha is compared.
function differing(a, b) {
  assert.deepEqual([a.width, a.height], [b.width, b.height], 'image sizes');
  let count = 0;
  for (let i = 0; i < a.rgba.length; i += 4) {
    const opaque = a.rgba[i + 3] === 255 && b.rgba[i + 3] === 255;
    const same = a.rgba[i + 3] === b.rgba[i + 3] && (!opaque || a.rgba.compare(b.rgba, i, i + 3, i, i + 3) === 0);
    if (!same) count += 1;
  }
  return count;
}

const byId = (page, id) => page.locator(`[data-testid="${id}"]`);

// Drags with the mouse from one point to another in `steps` moves.
async function drag(page, from, to, steps = 8, pause = 40) {
  await page.mouse.move(from.x, from.y);
  await page.mouse.down();
  for (let i = 1; i <= steps; ++i) {
    await page.mouse.move(from.x + ((to.x - from.x) * i) / steps, from.y + ((to.y - from.y) * i) / steps);
    await page.waitForTimeout(pause);
  }
}

function upgrade(s, query) {
  return new Promise((resolve, reject) => {
    const request = http.get({
      host: '127.0.0.1',
      port: s.port,
      path: `/ws${query}`,
      headers: {
        Connection: 'Upgrade',
        Upgrade: 'websocket',
        'Sec-WebSocket-Version': '13',
        'Sec-WebSocket-Key': 'dGhlIHNhbXBsZSBub25jZQ==',
      },
    });
    request.on('upgrade', (response, socket) => {
      socket.destroy();
      resolve(response.statusCode);
    });
    request.on('response', (response) => {
      response.resume();
      resolve(response.statusCode);
    });
    request.on('error', reject);
  });
}

try {
  studio = await startStudio({ ombrix, plugins, web, cwd: work });
  browser = await launch(pw);
  const page = await browser.newPage({ viewport: { width: 1400, height: 900 } });
  page.on('pageerror', (e) => console.log(`page error: ${e.message}`));
  // The preview requests the page sends on its socket.
  const requested = [];
  page.on('websocket', (ws) =>
    ws.on('framesent', ({ payload }) => {
      const message = typeof payload === 'string' ? JSON.parse(payload) : null;
      if (message?.type === 'preview') requested.push(message);
    }),
  );
  await page.goto(studio.url);
  await page.waitForSelector('[data-testid="add-layer"]');

  await step('requests and a socket without the token are refused', async () => {
    const before = (await stateOf(studio)).revision;
    for (const [route, init] of [
      ['/api/project', {}],
      ['/api/project?token=wrong', {}],
      ['/', {}],
      ['/api/edit', { method: 'POST', body: JSON.stringify({ op: 'add_layer', source: 'testcard' }) }],
    ]) {
      const response = await fetch(studio.origin + route, init);
      assert.equal(response.status, 403, `${init.method ?? 'GET'} ${route} without the token`);
    }
    const wrong = await fetch(`${studio.origin}/api/project`, { headers: { 'X-Ombrix-Token': 'x' + studio.token } });
    assert.equal(wrong.status, 403, 'a wrong token in the header');
    assert.equal((await stateOf(studio)).revision, before, 'the refused edit changed nothing');
    assert.notEqual(await upgrade(studio, ''), 101, 'a socket without the token');
    assert.notEqual(await upgrade(studio, '?token=wrong'), 101, 'a socket with a wrong token');
    assert.equal(await upgrade(studio, `?token=${studio.token}`), 101, 'the socket with the token');
  });

  let entry = '';
  await step('the test card with Mistform, controls generated from its parameters', async () => {
    for (const [id, value] of [
      ['comp-width', '640'],
      ['comp-height', '360'],
      ['comp-fps', '24'],
      ['comp-frames', '48'],
    ]) {
      await byId(page, id).fill(value);
    }
    await byId(page, 'comp-apply').click();
    await expectState((s) => s.project.composition.frames === 48 && s.project.composition.width === 640, 'composition set');
    await byId(page, 'layer-kind').selectOption('testcard');
    await byId(page, 'add-layer').click();
    await page.waitForSelector('[data-testid^="layer-L"]');
    await byId(page, 'add-effect-select').selectOption('mistform');
    await byId(page, 'add-effect').click();
    const section = page.locator('[data-effect="mistform"]');
    await section.waitFor();
    entry = (await section.getAttribute('data-testid')).replace('effect-', '');
    const project = (await stateOf(studio)).project;
    assert.equal(project.layers.length, 1);
    assert.match(project.layers[0].source, /^testcard/);
    assert.equal(project.layers[0].effects[0].effect, 'mistform');
    const scale = section.locator('[data-name="Scale"]');
    assert.equal(await scale.getAttribute('data-kind'), 'fixed_slider');
    const slider = scale.locator('input[type="range"]');
    assert.deepEqual([await slider.getAttribute('min'), await slider.getAttribute('max')], ['25', '600']);
    assert.equal(await section.locator('[data-name="Offset Turbulence"]').getAttribute('data-kind'), 'point');
  });

  const scaleRow = () => page.locator(`[data-testid="effect-${entry}"] [data-name="Scale"]`);
  await step('dragging Scale: draft previews, then the full preview equal to /api/frame', async () => {
    const before = await shownPreview(page, 0);
    assert.equal(differing(before, await framePixels(studio, 0)), 0, 'the first preview is /api/frame');
    const seen = requested.length;
    const box = await scaleRow().locator('input[type="range"]').boundingBox();
    const y = box.y + box.height / 2;
    await drag(page, { x: box.x + box.width * 0.1, y }, { x: box.x + box.width * 0.6, y });
    await page.waitForTimeout(150);
    await page.mouse.up();
    const after = await shownPreview(page, 0);
    const value = Number((await stateOf(studio)).project.layers[0].effects[0].params.find((p) => p.name === 'Scale').value);
    assert.ok(value > 200 && value < 400, `Scale after the drag: ${value}`);
    assert.ok(differing(before, after) > before.width * before.height * 0.1, 'the preview changed');
    assert.equal(differing(after, await framePixels(studio, 0)), 0, 'the preview is /api/frame of that state');
    const asked = requested.slice(seen).map((r) => r.downsample);
    assert.ok(asked.includes('1/4'), `draft previews while dragging (asked for: ${asked.join(' ')})`);
    assert.equal(asked.at(-1), '1/1', 'full resolution once idle');
    // The drag is one step of undo.
    await byId(page, 'undo').click();
    await expectState((s) => !s.project.layers[0].effects[0].params.some((p) => p.name === 'Scale'), 'undo restores Scale');
    await page.keyboard.press('Control+Shift+Z');
    await expectState((s) => s.project.layers[0].effects[0].params.some((p) => p.name === 'Scale'), 'redo');
  });

  await step('dragging the point handle on the viewer sets the point', async () => {
    await byId(page, 'zoom').selectOption('1');
    const index = await page.locator(`[data-testid="effect-${entry}"] [data-name="Offset Turbulence"]`).getAttribute('data-testid');
    const handle = byId(page, `handle-${entry}-${index.split('-').at(-1)}`);
    const overlay = await byId(page, 'viewer-overlay').boundingBox();
    const box = await handle.boundingBox();
    const from = { x: box.x + box.width / 2, y: box.y + box.height / 2 };
    // The default is the middle of the 640x360 card; at 100 % a screen pixel is a layer pixel.
    assert.ok(Math.abs(from.x - overlay.x - 320) <= 1 && Math.abs(from.y - overlay.y - 180) <= 1, 'handle at 50 %,50 %');
    await drag(page, from, { x: overlay.x + 100, y: overlay.y + 60 });
    await page.mouse.up();
    await expectState((s) => {
      const p = s.project.layers[0].effects[0].params.find((q) => q.name === 'Offset Turbulence');
      return p?.value === '100,60';
    }, 'Offset Turbulence is 100,60');
    await shownPreview(page, 0);
  });

  await step('keyframes and scrubbing', async () => {
    const atStart = Number((await stateOf(studio)).project.layers[0].effects[0].params.find((p) => p.name === 'Scale').value);
    await byId(page, `param-${entry}-${await paramIndex('Scale')}-stopwatch`).click();
    await expectState((s) => scaleKeys(s).length === 1 && scaleKeys(s)[0].time === 0, 'a key at 0 s');
    await byId(page, 'frame-number').fill('24');
    await byId(page, 'frame-number').press('Enter');
    const field = byId(page, `param-${entry}-${await paramIndex('Scale')}-value`);
    await field.fill('50');
    await field.press('Enter');
    await expectState((s) => scaleKeys(s).length === 2, 'a second key');
    const keys = [...scaleKeys(await stateOf(studio))].sort((a, b) => a.time - b.time);
    // Frame 24 at 24 frames per second is 1 s.
    assert.deepEqual(
      keys.map((k) => [k.time, Number(k.value)]),
      [
        [0, atStart],
        [1, 50],
      ],
    );
    assert.equal(await byId(page, 'key-marker').count(), 2, 'two key markers');
    // Scrub back to the start with the mouse; the preview follows.
    const track = await byId(page, 'timeline-slider').boundingBox();
    const y = track.y + track.height / 2;
    await drag(page, { x: track.x + track.width * (24 / 47), y }, { x: track.x + 2, y }, 6, 60);
    await page.mouse.up();
    const first = await shownPreview(page, 0);
    await byId(page, 'frame-number').fill('24');
    await byId(page, 'frame-number').press('Enter');
    const later = await shownPreview(page, 24);
    assert.ok(differing(first, later) > 0, 'frames 0 and 24 differ');
    assert.equal(differing(later, await framePixels(studio, 24)), 0, 'frame 24 is /api/frame');
  });

  let saved = '';
  let studioFrame = null;
  await step('save, reopen in a new server, render the project headless byte for byte', async () => {
    saved = path.join(work, 'shot.ombrix');
    await byId(page, 'path').fill(saved);
    await byId(page, 'save-as').click();
    await expectState((s) => s.path === saved && !s.dirty, 'saved and clean');
    const file = JSON.parse(readFileSync(saved, 'utf8'));
    assert.equal(file.layers[0].effects[0].params.find((p) => p.name === 'Scale').keys.length, 2);
    await page.close();
    await studio.stop();
    studio = await startStudio({ ombrix, plugins, web, cwd: work, project: saved });
    const reopened = await browser.newPage({ viewport: { width: 1400, height: 900 } });
    await reopened.goto(studio.url);
    await reopened.locator('[data-effect="mistform"]').waitFor();
    assert.equal((await stateOf(studio)).path, saved);
    await reopened.close();
    studioFrame = await framePixels(studio, 12);
    const out = path.join(work, 'frame12.png');
    await run(ombrix, ['render', '--plugins', plugins, '--project', saved, '-o', out, '--frame', '12'], work);
    const rendered = decodePng(readFileSync(out));
    assert.deepEqual([rendered.width, rendered.height], [studioFrame.width, studioFrame.height]);
    assert.ok(rendered.rgba.equals(studioFrame.rgba), 'ombrix render --project is the studio frame byte for byte');
  });

  async function paramIndex(name) {
    const id = await page.locator(`[data-testid="effect-${entry}"] [data-name="${name}"]`).getAttribute('data-testid');
    return id.split('-').at(-1);
  }
  function scaleKeys(s) {
    return s.project.layers[0].effects[0].params.find((p) => p.name === 'Scale')?.keys ?? [];
  }
  async function expectState(ok, what) {
    const deadline = Date.now() + 15000;
    for (;;) {
      const s = await stateOf(studio);
      if (ok(s)) return s;
      if (Date.now() > deadline) assert.fail(`${what}; the state is ${JSON.stringify(s)}`);
      await new Promise((r) => setTimeout(r, 100));
    }
  }
} catch (e) {
  if (failed === 0) {
    failed += 1;
    console.log(`FAIL  ${e.stack ?? e}`);
    if (studio) console.log(`server output:\n${studio.stderr()}`);
  }
} finally {
  if (browser) await browser.close();
  if (studio) await studio.stop();
  rmSync(work, { recursive: true, force: true });
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
