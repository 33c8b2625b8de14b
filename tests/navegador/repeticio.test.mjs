// The replay page in a real browser: it loads with no console error, the scrubber moves the
// frame, playing advances it, and the field shows a robot moving.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const arena = process.env.ARENA_BIN, tavik = process.env.TAVIK_BIN;
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'replay-'));
let context, page, errors = [], loadMs = 0, pageBytes = 0;

before(async () => {
  execFileSync(arena, ['--seed', '1', '--time', '60', '--transcript', path.join(dir, 'm.txt'),
                       tavik, 'diana']);
  const html = path.join(dir, 'm.html');
  pageBytes = fs.statSync(html).size;
  context = await chromium.launchPersistentContext(path.join(dir, 'profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1200, height: 760 },
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  page = context.pages()[0] || await context.newPage();
  page.on('console', m => { if (m.type() === 'error') errors.push(m.text()); });
  page.on('pageerror', e => errors.push(String(e)));
  await page.goto('file://' + html);
  await page.waitForFunction(() => window.replay !== undefined);
  // From the start of navigation to the page drawn and ready, by the page's own clock.
  loadMs = Math.round(await page.evaluate(() => performance.now()));
  console.log(`# replay of a 60 s match: ${pageBytes} bytes, loaded in ${loadMs} ms`);
});

after(async () => {
  await context?.close();
  fs.rmSync(dir, { recursive: true, force: true });
});

test('a 60 s match fits in a page under 2 MiB that loads cleanly and offline', async () => {
  assert.ok(pageBytes < 2 * 1024 * 1024, `${pageBytes} bytes`);
  assert.deepEqual(errors, []);
  const external = await page.evaluate(() =>
    [...document.querySelectorAll('script[src],link[href],img[src]')].length);
  assert.equal(external, 0);
});

test('the scrubber moves the frame and the clock', async () => {
  await page.locator('#scrub').fill('600');
  assert.equal(await page.evaluate(() => window.replay.frame), 600);
  assert.equal(await page.locator('#time').textContent(), '30.00 s');
});

test('playing advances the frame', async () => {
  await page.locator('#scrub').fill('0');
  await page.locator('#play').click();
  await page.waitForFunction(() => window.replay.frame > 5);
  await page.locator('#play').click();
});

test('the field shows where a robot moved', async () => {
  // A frame at which tavik stands well away from where it started.
  const { k, box } = await page.evaluate(() => {
    const D = window.replay.data, f0 = D.f[0][1];
    let k = D.f.findIndex(f => Math.hypot(f[1][0] - f0[0], f[1][1] - f0[1]) > 3);
    const S = window.replay.scale, c = document.getElementById('camp').getBoundingClientRect();
    const x = c.left + 2 + f0[0] * S, y = c.top + 2 + (600 - f0[1] * S);
    return { k, box: { x: x - 15, y: y - 15, width: 30, height: 30 } };
  });
  assert.ok(k > 0, 'tavik never moved');
  await page.evaluate(() => window.replay.show(0));
  const before = await page.screenshot({ clip: box });
  await page.evaluate(k => window.replay.show(k), k);
  const later = await page.screenshot({ clip: box });
  assert.notDeepEqual(before, later);
});
