// The live view in a real browser: a match served with --realtime moves while it is played, draws
// its robots and ends on the finished replay's data and winner; a tournament's page counts its
// games as they are done and plots the test's ratio; the page is pictured for the README.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { ObreNavegador } from './navegador.mjs';

const arena = process.env.ARENA_BIN, tavik = process.env.TAVIK_BIN;
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'serveix-'));
let browser, errors = [];
const started = [];

// Starts the arena serving on a free port; resolves with the process, its address (the first
// line of its output), and a promise of its exit code.
function serveix(args) {
  const p = spawn(arena, ['--serve', '0', ...args], { cwd: dir, stdio: ['ignore', 'pipe', 'ignore'] });
  started.push(p);
  const fi = new Promise(r => p.on('exit', codi => r(codi)));
  return new Promise((resolve, reject) => {
    const linies = readline.createInterface({ input: p.stdout });
    linies.once('line', adreca => resolve({ p, adreca, fi }));
    p.on('error', reject);
  });
}

async function obre(url) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  // An event stream that tries again once the arena is gone (it ended with --serve-exit, or the
  // test ended it) is refused: that is the browser's own retry, not the page's fault.
  page.on('console', m => {
    if (m.type() === 'error' && !m.text().includes('net::ERR_CONNECTION_REFUSED')) errors.push(m.text());
  });
  page.on('pageerror', e => errors.push(String(e)));
  await page.goto(url);
  return page;
}

before(async () => {
  browser = await ObreNavegador();
});

after(async () => {
  await browser?.close();
  for (const p of started) if (p.exitCode === null && p.signalCode === null) p.kill('SIGTERM');
  fs.rmSync(dir, { recursive: true, force: true });
});

test('a match served with --realtime is seen as it is played, and ends as its replay', async () => {
  const { p, adreca, fi } = await serveix(['--serve-exit', '--realtime', '--seed', '3', '--time', '8',
                                          '--transcript', path.join(dir, 'viu.txt'), tavik, 'cacador']);
  const page = await obre(adreca);
  await page.waitForFunction(() => window.replay.data && window.replay.data.frames > 5);
  const abans = parseFloat(await page.locator('#time').textContent());
  await page.waitForTimeout(1000);  // the two looks a second apart
  const despres = parseFloat(await page.locator('#time').textContent());
  assert.equal(p.exitCode, null, 'the match ended before the second look');
  assert.ok(despres > abans, `${abans} s, then ${despres} s`);
  assert.equal(await page.locator('#directe').textContent(), '● live');
  // Each robot's disc is drawn in its colour where the data puts it.
  const dibuixats = await page.evaluate(() => {
    const R = window.replay, D = R.data, k = R.frame, g = document.getElementById('camp').getContext('2d');
    return D.robots.map((rb, r) => {
      const x = D.tracks[r].x[k], y = D.tracks[r].y[k], c = [1, 3, 5].map(i => parseInt(rb.color.slice(i, i + 2), 16));
      // Around the centre, off the heading, cannon and radar lines: some point is the robot's colour.
      return [0.5, 1.5, 2.5, 3.5, 4.5, 5.5].some(a => {
        const d = g.getImageData(Math.round(R.X(x + 0.3 * Math.cos(a))), Math.round(R.Y(y + 0.3 * Math.sin(a))), 1, 1).data;
        return c.every((v, i) => Math.abs(v - d[i]) < 40);
      });
    });
  });
  assert.deepEqual(dibuixats, [true, true]);
  assert.equal(await fi, 0);
  // The finished replay the arena wrote holds the same game.
  const replay = await obre('file://' + path.join(dir, 'viu.html'));
  await replay.waitForFunction(() => window.replay !== undefined);
  const final = await replay.evaluate(() => {
    const D = window.replay.data;
    return { frames: D.frames, winner: D.winner, robots: D.robots, x: D.tracks.map(t => Array.from(t.x)),
             energy: D.tracks.map(t => Array.from(t.energy)), events: D.events };
  });
  // The live page has drawn its last tick once its end has come and the data it got before the
  // end is on the page: it draws what arrives at the next animation frame.
  await page.waitForFunction(n => window.replay.live === 'end' && window.replay.data.frames === n &&
                                  window.replay.frame === n - 1, final.frames);
  await page.waitForFunction(() => /^(Winner: .+#\d|No winner \(draw\))$/.test(document.getElementById('guanyador').textContent));
  const viu = await page.evaluate(() => {
    const D = window.replay.data;
    return { frames: D.frames, winner: D.winner, robots: D.robots, x: D.tracks.map(t => Array.from(t.x)),
             energy: D.tracks.map(t => Array.from(t.energy)), events: D.events };
  });
  assert.deepEqual(viu, final);
  assert.deepEqual(errors, []);
  await page.close();
  await replay.close();
});

test('a tournament page counts games as they are done, and plots the test', async () => {
  const { p, adreca, fi } = await serveix(['--sprt', '0', '20', '--tournament', '25', '-j', '1', '--time', '15',
                                          '--keep', 'losses', '--results', path.join(dir, 't.jsonl'), tavik, 'cacador']);
  const page = await obre(adreca);
  const fets = () => page.evaluate(() => window.torneig.data ? window.torneig.data.done : -1);
  await page.waitForFunction(() => window.torneig.data && window.torneig.data.done > 0);
  const primer = await fets();
  await page.waitForFunction(n => window.torneig.data.done > n, primer);
  assert.match(await page.locator('#fets').textContent(), /^\d+ \/ 50 games/);
  await page.waitForFunction(() => !document.getElementById('test').hidden);
  assert.ok(await page.locator('#llr').isVisible());
  await page.waitForFunction(() => window.torneig.data.finished, null, { timeout: 240000 });
  assert.match(await page.locator('#taula').textContent(), /Elo difference/);
  // A kept game's replay is a link away.
  const kept = page.locator('#guardats a');
  if (await kept.count() > 0) {
    const resposta = await page.request.get(await kept.first().evaluate(a => a.href));
    assert.equal(resposta.status(), 200);
    assert.match(await resposta.text(), /<script id="dades" type="application\/json">\{"version"/);
  }
  await page.screenshot({ path: path.join(os.tmpdir(), 'torneig-viu.png') });
  p.kill('SIGTERM');
  assert.equal(await fi, 0);
  assert.deepEqual(errors, []);
  await page.close();
});
