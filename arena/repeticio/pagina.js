// The replay page's program: decodes the recording, draws the field at the chosen moment, and
// shows what each robot was, saw and said; keyboard and address (#t=) move through the match.
"use strict";
const TOTS = JSON.parse(document.getElementById("dades").textContent);
const $ = id => document.getElementById(id);
const cv = $("camp"), g = cv.getContext("2d");
const TIPUS = ["robot", "shot", "wall", "cookie", "mine"];

// Numbers come as differences of whole numbers in the given unit: add them up again.
function suma(deltes, escala) {
  const v = new Float64Array(deltes.length);
  let x = 0;
  for (let i = 0; i < deltes.length; i++) { x += deltes[i]; v[i] = x / escala; }
  return v;
}

// The keys are those of arena/repeticio/dades.md. The data as it came stays as it was: a live
// page adds to it and decodes it again.
function descodifica(C) {
  const D = Object.assign({}, C);
  D.tracks = D.tracks.map(p => ({ x: suma(p.x, 100), y: suma(p.y, 100),
    heading: suma(p.heading, 1000), cannon_heading: suma(p.cannon_heading, 1000),
    radar_heading: suma(p.radar_heading, 1000), energy: suma(p.energy, 10),
    speed: suma(p.speed, 100), alive_changes: p.alive_changes }));
  D.radar = D.radar.map(r => ({ distance: suma(r.distance, 100), type: r.type,
    angle: suma(r.angle, 1000) }));
  D.perFrame = new Map();  // frame -> lines of the exchange
  for (const l of D.exchange) {
    if (!D.perFrame.has(l[0])) D.perFrame.set(l[0], []);
    D.perFrame.get(l[0]).push(l);
  }
  return D;
}

const crus = TOTS.games;
let jocs = crus.map(descodifica), actual = 0;
let D = jocs[0], frame = 0, playing = false, last = null, clock = 0, triat = -1, sobre = -1;
let S = 1, ox = 0, oy = 0;  // field units to pixels, and the view's offset

const viu = (r, k) => { let v = true; for (const t of D.tracks[r].alive_changes) { if (t <= k) v = !v; } return v; };
const temps = k => k * D.tick;
const X = x => (x - ox) * S, Y = y => cv.height - (y - oy) * S;
const fmt = x => (Math.round(x * 1000) / 1000).toString();
const graus = a => ((a * 180 / Math.PI) % 360 + 360) % 360;

function vista() {
  S = Math.min(cv.width / D.field[0], cv.height / D.field[1]);
  ox = 0; oy = 0;
  if ($("segueix").checked && triat >= 0) {
    // Twice as close, the followed robot in the middle.
    S *= 2;
    ox = D.tracks[triat].x[frame] - cv.width / S / 2;
    oy = D.tracks[triat].y[frame] - cv.height / S / 2;
  }
}

function raig(x, y, a, len, color, width, dash) {
  g.strokeStyle = color; g.lineWidth = width; g.setLineDash(dash || []);
  g.beginPath(); g.moveTo(X(x), Y(y)); g.lineTo(X(x + len * Math.cos(a)), Y(y + len * Math.sin(a)));
  g.stroke(); g.setLineDash([]);
}

function cercle(x, y, r, fill, stroke, width) {
  g.beginPath(); g.arc(X(x), Y(y), r, 0, 7);
  if (fill) { g.fillStyle = fill; g.fill(); }
  if (stroke) { g.strokeStyle = stroke; g.lineWidth = width || 2; g.stroke(); }
}

function objectesA(t) {
  let o = D.objects[0][1];
  for (const v of D.objects) if (v[0] <= t + 1e-9) o = v[1];
  return o;
}

// The drawings in force: from their tick for the time the arena gives them, or until the
// robot's next drawing of the same kind.
function dibuixos(k) {
  const vigents = new Map();
  for (const n of D.notes) {
    if (n[0] > k) break;
    const paraula = n[2].split(" ")[0];
    if (paraula !== "DebugLine" && paraula !== "DebugCircle") continue;
    if (temps(k) - temps(n[0]) > D.drawing_life + 1e-9) { vigents.delete(n[1] + paraula); continue; }
    vigents.set(n[1] + paraula, n);
  }
  return [...vigents.values()];
}

function dibuixa() {
  vista();
  const k = frame, t = temps(k);
  g.clearRect(0, 0, cv.width, cv.height);
  g.strokeStyle = "#333"; g.lineWidth = 1; g.strokeRect(X(0), Y(D.field[1]), D.field[0] * S, D.field[1] * S);
  const o = objectesA(t);
  for (let i = 0; i < o.length; i += 3) {
    cercle(o[i], o[i + 1], D.radius.object * S, o[i + 2] == 3 ? "#3c3" : "#222");
  }
  const trets = D.shots_in_flight[k];
  for (let i = 0; i < trets.length; i += 3) {
    const autor = trets[i];
    cercle(trets[i + 1] / 10, trets[i + 2] / 10, Math.max(2.5, D.radius.shot * S),
           autor >= 0 ? D.robots[autor].color : "#e0a000", "#000", 0.5);
  }
  D.robots.forEach((rb, r) => {
    const p = D.tracks[r];
    const x = p.x[k], y = p.y[k];
    if (!viu(r, k)) {
      if (rb.death !== null && t >= rb.death) {  // the wreck, where it died
        g.strokeStyle = rb.color; g.lineWidth = 3;
        const d = D.radius.robot * S;
        g.beginPath(); g.moveTo(X(x) - d, Y(y) - d); g.lineTo(X(x) + d, Y(y) + d);
        g.moveTo(X(x) + d, Y(y) - d); g.lineTo(X(x) - d, Y(y) + d); g.stroke();
        g.fillStyle = "#333"; g.fillText("died " + rb.death.toFixed(2) + " s", X(x) + d + 2, Y(y));
      } else if (rb.reason) {
        cercle(x, y, D.radius.robot * S, "#ccc", rb.color, 2);
        g.fillStyle = "#333"; g.fillText("dropped: " + rb.reason, X(x) + D.radius.robot * S + 2, Y(y));
      }
      return;
    }
    // The radar's sweep over the last tick, then its ray.
    if (k > 0) {
      g.fillStyle = rb.color + "33";
      g.beginPath(); g.moveTo(X(x), Y(y));
      const a0 = p.radar_heading[k - 1], a1 = p.radar_heading[k];
      g.arc(X(x), Y(y), 6 * S, -Math.max(a0, a1), -Math.min(a0, a1));
      g.closePath(); g.fill();
    }
    raig(x, y, p.radar_heading[k], 6, rb.color, 1, [4, 4]);
    cercle(x, y, D.radius.robot * S, rb.color, r === triat ? "#000" : "#555", r === triat ? 3 : 1);
    raig(x, y, p.heading[k], D.radius.robot, "#fff", 3);
    raig(x, y, p.cannon_heading[k], D.radius.robot * 2, "#111", 3);
    g.fillStyle = "#222"; g.fillText(rb.name, X(x) + D.radius.robot * S + 2, Y(y) - D.radius.robot * S);
  });
  for (const e of D.events) {
    if (e[0] > t || e[0] < t - 0.5) continue;
    cercle(e[3], e[4], 0.9 * S, null, e[1] == 1 ? "#f00" : e[1] == -1 ? "#000" : e[1] == 3 ? "#3c3" : "#900", 3);
  }
  if ($("dibuixos").checked) {
    for (const n of dibuixos(k)) {
      const v = n[2].split(" ").slice(1).map(Number), color = D.robots[n[1]].color;
      if (n[2].startsWith("DebugLine")) {
        g.strokeStyle = color; g.lineWidth = 2;
        g.beginPath(); g.moveTo(X(v[0]), Y(v[1])); g.lineTo(X(v[2]), Y(v[3])); g.stroke();
      } else {
        cercle(v[0], v[1], v[2] * S, null, color, 2);
      }
    }
  }
  $("time").textContent = t.toFixed(2) + " s";
  $("scrub").value = k;
  mostraEstat();
  mostraRegistre();
  energia();
  if (!playing) history.replaceState(null, "", "#t=" + t.toFixed(2) + (jocs.length > 1 ? "&g=" + D.game : ""));
}

// The table of robots: final standing, and what each has now.
function mostraEstat() {
  const k = frame;
  let html = "<tr><th></th><th>robot</th><th>now</th><th>at the end</th><th>points</th></tr>";
  D.robots.forEach((rb, r) => {
    const ara = viu(r, k) ? "energy " + D.tracks[r].energy[k].toFixed(1) : rb.reason && !(rb.death !== null) ? "dropped" : "dead";
    const fi = rb.reason ? "dropped: " + rb.reason : rb.status + ", " + rb.energy.toFixed(1);
    html += `<tr data-r="${r}" class="${r === triat ? "triat" : ""}"><td><span class="mostra" style="background:${rb.color}"></span></td>` +
      `<td>${esc(rb.name)}</td><td>${ara}</td><td>${esc(fi)}</td><td>${rb.points}</td></tr>`;
  });
  $("classificacio").innerHTML = html;
  const r = sobre >= 0 ? sobre : triat;
  if (r < 0) { $("inspector").textContent = "Click a robot (on the field or in the table) to see it."; return; }
  const p = D.tracks[r], rd = D.radar[r];
  let text = `${D.robots[r].name} at ${temps(k).toFixed(2)} s\n`;
  if (viu(r, k)) {
    text += `energy ${p.energy[k].toFixed(1)}  speed ${p.speed[k].toFixed(2)}  at (${p.x[k].toFixed(2)}, ${p.y[k].toFixed(2)})\n` +
      `heading ${graus(p.heading[k]).toFixed(1)}°  cannon ${graus(p.cannon_heading[k]).toFixed(1)}°  radar ${graus(p.radar_heading[k]).toFixed(1)}°\n`;
    const tipus = rd.type[k];
    if (tipus !== "-") {
      text += `radar saw a ${TIPUS[+tipus]} at ${rd.distance[k].toFixed(2)}, ${graus(rd.angle[k]).toFixed(1)}° from the body\n`;
    }
  }
  text += "-- this tick (Info and Radar from the recording, rounded)\n";
  if (viu(r, k)) {
    text += `> Info ${fmt(temps(k))} ${fmt(p.speed[k])} ${fmt(((p.cannon_heading[k] - p.heading[k]) % (2 * Math.PI) + 2 * Math.PI) % (2 * Math.PI))}\n`;
    if (rd.type[k] !== "-") text += `> Radar ${fmt(rd.distance[k])} ${rd.type[k]} ${fmt(rd.angle[k])}\n`;
  }
  for (const l of D.perFrame.get(k) || []) if (l[1] === r) text += l[2] + " " + l[3] + "\n";
  const rb = D.robots[r];
  if (rb.reason && rb.stderr_tail && !viu(r, k)) {
    text += "-- the last lines it wrote to its standard error\n" + rb.stderr_tail.join("\n") + "\n";
  }
  $("inspector").textContent = text;
}

function esc(s) {
  return String(s).replace(/[&<>"]/g, c => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;" })[c]);
}

// Every Print and Debug line, of one robot or all, up to now; the latest in view.
function ompleRegistre() {
  const filtre = +$("filtre").value;
  $("registre").innerHTML = D.notes.filter(n => !n[2].startsWith("DebugLine") && !n[2].startsWith("DebugCircle"))
    .filter(n => filtre < 0 || n[1] === filtre)
    .map(n => `<div data-k="${n[0]}" style="color:${D.robots[n[1]].color}">${temps(n[0]).toFixed(2)} ${esc(D.robots[n[1]].name)}: ${esc(n[2])}</div>`)
    .join("");
}

function mostraRegistre() {
  let darrera = null;
  for (const d of $("registre").children) {
    const futur = +d.dataset.k > frame;
    d.classList.toggle("futur", futur);
    if (!futur) darrera = d;
  }
  if (darrera) $("registre").scrollTop = darrera.offsetTop - $("registre").offsetTop;
}

function energia() {
  const c = $("energia"), q = c.getContext("2d"), n = D.tracks[0] ? D.tracks[0].energy.length : 1;
  q.clearRect(0, 0, c.width, c.height);
  q.strokeStyle = "#999"; q.strokeRect(0, 0, c.width, c.height);
  let max = 1;
  D.tracks.forEach(p => p.energy.forEach(e => { max = Math.max(max, e); }));
  D.robots.forEach((rb, r) => {
    q.strokeStyle = rb.color; q.lineWidth = 1.5; q.beginPath();
    let obert = false;
    for (let k = 0; k < n; k += Math.max(1, Math.floor(n / c.width))) {
      if (!viu(r, k)) { obert = false; continue; }
      const x = k / n * c.width, y = c.height - Math.max(0, D.tracks[r].energy[k]) / max * (c.height - 4);
      obert ? q.lineTo(x, y) : q.moveTo(x, y); obert = true;
    }
    q.stroke();
  });
  const x = frame / n * c.width;
  q.strokeStyle = "#000"; q.beginPath(); q.moveTo(x, 0); q.lineTo(x, c.height); q.stroke();
}

function llegenda() {
  const marca = (dibuix, text) => `<span><svg width="16" height="16">${dibuix}</svg>${text}</span>`;
  $("llegenda").innerHTML =
    D.robots.map(rb => marca(`<circle cx="8" cy="8" r="6" fill="${rb.color}"/>`, esc(rb.name))).join("") +
    marca('<circle cx="8" cy="8" r="4" fill="#3c3"/>', "cookie") +
    marca('<circle cx="8" cy="8" r="4" fill="#222"/>', "mine") +
    marca('<circle cx="8" cy="8" r="3" fill="#888" stroke="#000" stroke-width="0.5"/>', "shot, in its shooter's colour") +
    marca('<line x1="8" y1="8" x2="15" y2="8" stroke="#111" stroke-width="3"/>', "cannon") +
    marca('<line x1="1" y1="8" x2="15" y2="8" stroke="#888" stroke-dasharray="3,3"/>', "radar, and its sweep") +
    marca('<circle cx="8" cy="8" r="6" fill="none" stroke="#f00" stroke-width="2"/>', "hit") +
    marca('<circle cx="8" cy="8" r="6" fill="none" stroke="#3c3" stroke-width="2"/>', "cookie eaten") +
    marca('<circle cx="8" cy="8" r="6" fill="none" stroke="#900" stroke-width="2"/>', "mine taken") +
    marca('<path d="M2 2L14 14M14 2L2 14" stroke="#555" stroke-width="2"/>', "wreck") +
    marca('<circle cx="8" cy="8" r="6" fill="none" stroke="#888" stroke-width="2"/>', "debug drawing, in its robot's colour");
}

function triaJoc(i) {
  D = jocs[i];
  actual = i;
  frame = Math.min(frame, D.frames - 1);
  $("scrub").max = D.frames - 1;
  $("guanyador").textContent = D.winner ? "Winner: " + D.winner : "No winner (draw)";
  $("filtre").innerHTML = '<option value="-1">every robot</option>' +
    D.robots.map((rb, r) => `<option value="${r}">${esc(rb.name)}</option>`).join("");
  triat = -1;
  llegenda();
  ompleRegistre();
  dibuixa();
}

function show(k) {
  frame = Math.max(0, Math.min(D.frames - 1, Math.round(k)));
  if (directe) segueix(frame === D.frames - 1 && actual === jocs.length - 1);
  dibuixa();
}
function pas(n) { playing = false; $("play").textContent = "Play"; show(frame + n); }

$("scrub").addEventListener("input", () => show(+$("scrub").value));
$("play").addEventListener("click", () => {
  playing = !playing; $("play").textContent = playing ? "Pause" : "Play"; last = null;
  clock = temps(frame); if (playing && frame == D.frames - 1) { frame = 0; clock = 0; }
  requestAnimationFrame(tick);
});
$("joc").addEventListener("change", () => triaJoc(+$("joc").value));
$("dibuixos").addEventListener("change", dibuixa);
$("segueix").addEventListener("change", dibuixa);
$("filtre").addEventListener("change", () => { ompleRegistre(); mostraRegistre(); });
$("registre").addEventListener("click", e => { if (e.target.dataset.k) pas(+e.target.dataset.k - frame); });
$("classificacio").addEventListener("click", e => {
  const fila = e.target.closest("tr");
  if (fila && fila.dataset.r !== undefined) { triat = +fila.dataset.r; dibuixa(); }
});
function robotA(ev) {
  const b = cv.getBoundingClientRect(), px = ev.clientX - b.left, py = ev.clientY - b.top;
  let millor = -1, dist = 12;
  D.robots.forEach((rb, r) => {
    const d = Math.hypot(X(D.tracks[r].x[frame]) - px, Y(D.tracks[r].y[frame]) - py);
    if (d < Math.max(dist, D.radius.robot * S + 4)) { dist = d; millor = r; }
  });
  return millor;
}
cv.addEventListener("click", ev => { triat = robotA(ev); dibuixa(); });
cv.addEventListener("mousemove", ev => { const r = robotA(ev); if (r !== sobre) { sobre = r; mostraEstat(); } });
cv.addEventListener("mouseleave", () => { sobre = -1; mostraEstat(); });
// One step per key press, wherever the focus is (the scrubber's own keys are taken over).
document.addEventListener("keydown", e => {
  if (e.target.tagName === "SELECT" || !D) return;
  const segon = Math.round(1 / D.tick);
  if (e.key === " ") { $("play").click(); }
  else if (e.key === "ArrowRight") { pas(e.shiftKey ? segon : 1); }
  else if (e.key === "ArrowLeft") { pas(e.shiftKey ? -segon : -1); }
  else return;
  e.preventDefault();
}, true);

function tick(now) {
  if (!playing) return;
  if (last !== null) clock += (now - last) / 1000 * +$("speed").value;
  last = now;
  frame = Math.min(D.frames - 1, Math.floor(clock / D.tick + 1e-9));
  dibuixa();
  if (frame == D.frames - 1) {
    playing = false; $("play").textContent = "Play";
    if (directe) segueix(actual === jocs.length - 1);
    dibuixa(); return;
  }
  requestAnimationFrame(tick);
}

// "#t=12.35" (and "&g=2" for a game of a series) opens at that moment.
function desDeLAdreca(adreca) {
  const hash = typeof adreca === "string" ? adreca : location.hash;
  const m = /t=([0-9.]+)/.exec(hash), j = /g=([0-9]+)/.exec(hash);
  if (j) { const i = jocs.findIndex(d => d.game === +j[1]); if (i >= 0) { $("joc").value = i; triaJoc(i); } }
  if (m) show(+m[1] / D.tick);
}

// A live page: the arena sends each game's data as it grows, the same keys with the arrays' new
// part, and the page follows the newest tick unless the viewer went back. Without data yet
// there is nothing to draw.
let directe = null, seguint = true, pendents = new Set(), notes = -1;

function segueix(si) {
  seguint = si;
  $("directe").textContent = directe === "end" ? "finished" : seguint ? "● live" : "live: click to follow";
}

function afegeix(C, P) {
  for (const clau of ["shots_in_flight", "objects", "events", "notes", "exchange"]) {
    for (const x of P[clau]) C[clau].push(x);
  }
  C.tracks.forEach((p, r) => { for (const k in p) for (const x of P.tracks[r][k]) p[k].push(x); });
  C.radar.forEach((p, r) => {
    for (const x of P.radar[r].distance) p.distance.push(x);
    for (const x of P.radar[r].angle) p.angle.push(x);
    p.type += P.radar[r].type;
  });
  for (const clau of ["frames", "robots", "winner"]) C[clau] = P[clau];
}

function rep(e) {
  const P = JSON.parse(e.data);
  let i = crus.findIndex(C => C.game === P.game);
  if (i < 0) { crus.push(P); i = crus.length - 1; } else afegeix(crus[i], P);
  if (pendents.size === 0) requestAnimationFrame(refresca);
  pendents.add(i);
}

function refresca() {
  for (const i of pendents) if (crus[i]) jocs[i] = descodifica(crus[i]);
  pendents.clear();
  if (jocs.length === 0) return;
  $("jocs").hidden = jocs.length < 2;
  if ($("joc").options.length !== jocs.length) {
    $("joc").innerHTML = jocs.map((d, i) => `<option value="${i}">${d.game}</option>`).join("");
  }
  const nou = D === undefined || (seguint && actual !== jocs.length - 1);
  if (nou) { $("joc").value = jocs.length - 1; frame = 0; notes = -1; triaJoc(jocs.length - 1); }
  D = jocs[actual];
  $("scrub").max = D.frames - 1;
  $("guanyador").textContent = D.winner ? "Winner: " + D.winner : directe === "end" ? "No winner (draw)" : "";
  if (seguint) frame = D.frames - 1;
  if (D.notes.length !== notes) { notes = D.notes.length; ompleRegistre(); }
  dibuixa();
}

function reinicia() {
  crus.length = 0; jocs = []; D = undefined; pendents.clear(); segueix(true);
}

function enDirecte(font) {
  directe = "live";
  $("directe").hidden = false;
  $("directe").addEventListener("click", () => { if (D) { segueix(true); triaJoc(jocs.length - 1); show(D.frames - 1); } });
  segueix(true);
  const fonts = new EventSource(font);
  // Every connection starts from the beginning: what came before is dropped, not doubled.
  fonts.onopen = reinicia;
  fonts.onmessage = rep;
  fonts.addEventListener("reset", reinicia);
  fonts.addEventListener("end", () => {
    directe = "end"; segueix(seguint); fonts.close();
    if (pendents.size === 0) requestAnimationFrame(refresca);
    pendents.add(actual);
  });
}

g.font = "11px sans-serif";
const adreca = location.hash;  // read before the first drawing writes the address
if (TOTS.live) {
  enDirecte(TOTS.live);
} else {
  if (jocs.length > 1) {
    $("jocs").hidden = false;
    $("joc").innerHTML = jocs.map((d, i) => `<option value="${i}">${d.game}</option>`).join("");
  }
  triaJoc(0);
  desDeLAdreca(adreca);
}
window.addEventListener("hashchange", desDeLAdreca);
window.replay = {
  get data() { return D; }, get jocs() { return jocs; }, show, get live() { return directe; }, select(r) { triat = r; dibuixa(); },
  get frame() { return frame; }, get scale() { return S; }, X, Y,
};
