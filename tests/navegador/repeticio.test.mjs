// The replay page in a real browser: loads cleanly, offline and within its size budgets; shows
// the legend, the winner, shots in their shooter's colour, the robots' Print lines and debug
// drawings at their tick; steps one tick per key; opens at #t=; fits eight robots on a screen;
// tells why a robot was dropped; shows robots named after its own markers or markup as text.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { ObreNavegador } from './navegador.mjs';

const arena = process.env.ARENA_BIN, tavik = process.env.TAVIK_BIN, sonda = process.env.SONDA_BIN;
const robots = process.env.ROBOTS_DIR;
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'replay-'));
let browser, errors = [];

// Plays a match with `args` into NAME.html and returns the page's path.
function juga(nom, args) {
  execFileSync(arena, [...args, '--transcript', path.join(dir, nom + '.txt')], { stdio: 'ignore' });
  return path.join(dir, nom + '.html');
}

async function obre(html, hash = '') {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  page.on('console', m => { if (m.type() === 'error') errors.push(m.text()); });
  page.on('pageerror', e => errors.push(String(e)));
  // A page that opens a dialog runs what it should only show.
  page.on('dialog', d => { errors.push('dialog: ' + d.message()); d.dismiss(); });
  await page.goto('file://' + html + hash);
  await page.waitForFunction(() => window.replay !== undefined);
  return page;
}

// The colour of the field's pixel under field coordinates (x, y), as [r, g, b].
function pixel(page, x, y) {
  return page.evaluate(([x, y]) => {
    const d = document.getElementById('camp').getContext('2d')
      .getImageData(Math.round(window.replay.X(x)), Math.round(window.replay.Y(y)), 1, 1).data;
    return [d[0], d[1], d[2]];
  }, [x, y]);
}

const rgb = hex => [1, 3, 5].map(i => parseInt(hex.slice(i, i + 2), 16));
const prop = (a, b) => a.every((v, i) => Math.abs(v - b[i]) < 40);

let duel, melee, sondes;
before(async () => {
  duel = juga('duel', ['--seed', '1', '--time', '60', tavik, 'cacador']);
  melee = juga('melee', ['--seed', '2', '--time', '600', tavik, tavik, tavik, tavik, 'cacador',
                         'cacador', 'rodamon', 'diana']);
  sondes = juga('sondes', ['--seed', '3', '--time', '2', '--games', '2', sonda + ' ' + path.join(dir, 'log'), 'diana']);
  browser = await ObreNavegador();
});

after(async () => {
  await browser?.close();
  fs.rmSync(dir, { recursive: true, force: true });
});

test('pages load cleanly, offline, within their budgets', async () => {
  const mida = f => fs.statSync(f).size;
  console.log(`# 60 s duel: ${mida(duel)} bytes; 600 s eight-robot melee: ${mida(melee)} bytes`);
  assert.ok(mida(duel) <= 1024 * 1024, `${mida(duel)} bytes`);
  assert.ok(mida(melee) <= 4 * 1024 * 1024, `${mida(melee)} bytes`);
  const page = await obre(duel);
  const external = await page.evaluate(() =>
    [...document.querySelectorAll('script[src],link[href],img[src]')].length);
  assert.equal(external, 0);
  assert.deepEqual(errors, []);
  await page.close();
});

test('the legend and the winner are shown', async () => {
  const page = await obre(duel);
  const D = await page.evaluate(() => window.replay.data);
  assert.match(await page.locator('#guanyador').textContent(), /^(Winner: .+#\d|No winner \(draw\))$/);
  if (D.winner) assert.ok((await page.locator('#guanyador').textContent()).includes(D.winner));
  const llegenda = await page.locator('#llegenda').textContent();
  for (const que of ['cookie', 'mine', "shot, in its shooter's colour", 'hit', 'wreck', 'Tavik#1'])
    assert.ok(llegenda.includes(que), que);
  await page.close();
});

test('a shot is drawn in its shooter\'s colour', async () => {
  const page = await obre(duel);
  const { k, x, y, color } = await page.evaluate(() => {
    const D = window.replay.data;
    for (let k = 0; k < D.frames; k++) {
      const s = D.shots_in_flight[k];
      for (let i = 0; i < s.length; i += 3) {
        const [a, x, y] = [s[i], s[i + 1] / 10, s[i + 2] / 10];
        // Away from every robot, so that nothing else is drawn there.
        const lluny = D.tracks.every(p => Math.hypot(p.x[k] - x, p.y[k] - y) > 2);
        if (a >= 0 && lluny) return { k, x, y, color: D.robots[a].color };
      }
    }
    return { k: -1 };
  });
  assert.ok(k >= 0, 'no shot in the match');
  await page.evaluate(k => window.replay.show(k), k);
  assert.ok(prop(await pixel(page, x, y), rgb(color)), `${await pixel(page, x, y)} against ${color}`);
  await page.close();
});

test('a Print line shows in the log at its tick and not before', async () => {
  const page = await obre(duel);
  const k = await page.evaluate(() => window.replay.data.notes.find(n => n[0] > 0 && n[2].startsWith('Print'))[0]);
  const linia = page.locator(`#registre div[data-k="${k}"]`).first();
  await page.evaluate(k => window.replay.show(k - 1), k);
  assert.equal(await linia.isVisible(), false);
  await page.evaluate(k => window.replay.show(k), k);
  assert.equal(await linia.isVisible(), true);
  // Clicking it goes back there.
  await page.evaluate(k => window.replay.show(k + 50), k);
  await linia.click();
  assert.equal(await page.evaluate(() => window.replay.frame), k);
  await page.close();
});

test('a DebugCircle is drawn from its tick for half a second, and can be hidden', async () => {
  // The probe draws a circle of radius 2 around (10.5, 15) when its game starts.
  const page = await obre(sondes);
  const color = await page.evaluate(() => window.replay.data.robots[0].color);
  await page.evaluate(() => window.replay.show(2));
  assert.ok(prop(await pixel(page, 12.5, 15), rgb(color)), 'no circle at its tick');
  await page.evaluate(() => window.replay.show(15));  // 0.75 s: gone
  assert.ok(!prop(await pixel(page, 12.5, 15), rgb(color)), 'the circle outlived its time');
  await page.evaluate(() => window.replay.show(2));
  await page.locator('#dibuixos').uncheck();
  assert.ok(!prop(await pixel(page, 12.5, 15), rgb(color)), 'drawings cannot be hidden');
  // A series is one page with a game picker.
  assert.equal(await page.locator('#joc option').count(), 2);
  await page.locator('#joc').selectOption({ index: 1 });
  assert.equal(await page.evaluate(() => window.replay.data.game), 2);
  await page.close();
});

test('keys step one tick, or a second with shift, also from the scrubber', async () => {
  const page = await obre(duel);
  await page.evaluate(() => window.replay.show(100));
  await page.locator('#scrub').focus();
  await page.keyboard.press('ArrowRight');
  assert.equal(await page.evaluate(() => window.replay.frame), 101);
  await page.keyboard.press('ArrowLeft');
  await page.keyboard.press('ArrowLeft');
  assert.equal(await page.evaluate(() => window.replay.frame), 99);
  await page.keyboard.press('Shift+ArrowRight');
  assert.equal(await page.evaluate(() => window.replay.frame), 119);
  await page.keyboard.press(' ');
  await page.waitForFunction(() => window.replay.frame > 125);
  await page.keyboard.press(' ');
  await page.close();
});

test('the address opens the page at a moment, and follows it', async () => {
  const page = await obre(duel, '#t=12.35');
  assert.equal(await page.evaluate(() => window.replay.frame), 247);
  assert.equal(await page.locator('#time').textContent(), '12.35 s');
  await page.locator('#play').focus();
  await page.keyboard.press('ArrowRight');
  // The document's own address: the driver's copy of it follows navigation events, which may lag.
  assert.equal(await page.evaluate(() => location.hash), '#t=12.40');
  await page.close();
});

test('eight robots fit a 1280 x 800 screen, and a robot can be inspected', async () => {
  const page = await obre(melee, '#t=30');
  const [w, h] = await page.evaluate(() =>
    [document.documentElement.scrollWidth, document.documentElement.scrollHeight]);
  assert.ok(w <= 1280 && h <= 800, `${w} x ${h}`);
  assert.equal(await page.locator('#classificacio tr').count(), 9);
  await page.locator('#classificacio tr[data-r="2"]').click();
  const text = await page.locator('#inspector').textContent();
  assert.match(text, /^Tavik#3 at 30\.00 s/);
  assert.match(text, /> Info 30 /);
  await page.screenshot({ path: path.join(os.tmpdir(), 'repeticio-8.png') });
  assert.deepEqual(errors, []);
  await page.close();
});

test('a dropped robot shows why, and what it last wrote to its standard error', async () => {
  const html = juga('caigut', ['--seed', '5', '--time', '1',
                               `${robots}/queixa.sh ${robots}/peta.sh`, 'rodamon', 'diana']);
  const page = await obre(html);
  const fila = page.locator('#classificacio tr[data-r="0"]');
  assert.match(await fila.textContent(), /^queixa\.sh#1dropped.*dropped: killed by signal 11 \(SIGSEGV\)0$/);
  await fila.click();
  assert.match(await page.locator('#inspector').textContent(),
               /\n-- the last lines it wrote to its standard error\nqueixa: something went wrong\n$/);
  assert.deepEqual(errors, []);
  await page.close();
});

test('a name is data, however it is written', async () => {
  const partida = path.join(dir, 'noms.toml');
  fs.writeFileSync(partida, `seed = 4\nduration = 1\n[[robot]]\nprogram = "diana"\nname = "ro\\"da</script>"\n`);
  const html = juga('noms', ['--match', partida]);
  const page = await obre(html);
  assert.equal(await page.locator('#classificacio tr[data-r="0"] td:nth-child(2)').textContent(),
               'ro"da</script>#1');
  assert.deepEqual(errors, []);
  await page.close();
});

test('robots named after the page\'s markers or markup are shown as text', async () => {
  const noms = ['@DATA@', '//@JS@', '/*@CSS@*/', '</script><script>alert(1)</script>',
                '<img/src=x/onerror=alert(2)>'];
  const print = '</script>@DATA@//@JS@<b>x</b><script>alert(3)</script>';
  const html = juga('hostils', ['--seed', '6', '--time', '1',
                                ...noms.map(n => `${sonda} /dev/null ${n} ${print}`)]);
  const page = await obre(html);
  const D = await page.evaluate(() => window.replay.data);
  assert.deepEqual(D.robots.map(r => r.name), noms.map((n, i) => `${n}#${i + 1}`));
  for (let i = 0; i < noms.length; i++) {
    assert.equal(await page.locator(`#classificacio tr[data-r="${i}"] td:nth-child(2)`).textContent(),
                 `${noms[i]}#${i + 1}`);
  }
  const titol = await page.locator('#titol').textContent();
  for (const n of noms) assert.ok(titol.includes(n), titol);
  assert.equal(await page.title(), titol);
  await page.evaluate(() => window.replay.show(window.replay.data.frames - 1));
  const registre = await page.locator('#registre').textContent();
  assert.ok(registre.includes(`@DATA@#1: Print ${print}`), registre);
  assert.equal(await page.locator('#registre b, #registre script, img').count(), 0);
  assert.deepEqual(errors, []);
  await page.close();
});
