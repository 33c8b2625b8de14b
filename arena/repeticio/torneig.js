// The live tournament page's program: redraws the progress, the table, Elo and the test's
// log-likelihood ratio over the pairs (between its two bounds) from each message of the stream.
"use strict";
const $ = id => document.getElementById(id);
let darrer = null;

function minuts(s) {
  if (s === null || !isFinite(s)) return "";
  s = Math.round(s);
  return (s >= 60 ? Math.floor(s / 60) + " min " : "") + (s % 60) + " s left";
}

// The ratio against the pairs counted, the bounds as dashed lines, zero as a thin one.
function dibuixaLlr(T) {
  const c = $("llr"), g = c.getContext("2d"), punts = T.llr;
  const n = Math.max(10, punts.length ? punts[punts.length - 1][0] : 0);
  let lo = T.lower * 1.2, hi = T.upper * 1.2;
  // A ratio with no spread yet comes as ±1e9: drawn at the plot's edge, not scaled to.
  for (const [, v] of punts) if (Math.abs(v) < 1e6) { lo = Math.min(lo, v); hi = Math.max(hi, v); }
  const X = k => 40 + k / n * (c.width - 50), Y = v => 10 + (hi - v) / (hi - lo) * (c.height - 30);
  g.clearRect(0, 0, c.width, c.height);
  g.font = "11px sans-serif"; g.fillStyle = "#333";
  for (const [v, color, dash] of [[T.upper, "#2a2", [5, 4]], [T.lower, "#c22", [5, 4]], [0, "#999", []]]) {
    g.strokeStyle = color; g.setLineDash(dash); g.beginPath();
    g.moveTo(X(0), Y(v)); g.lineTo(X(n), Y(v)); g.stroke(); g.fillText(v.toFixed(2), 2, Y(v) + 4);
  }
  g.setLineDash([]); g.strokeStyle = "#2b7bd6"; g.lineWidth = 2; g.beginPath();
  punts.forEach(([k, v], i) => {
    const y = Y(Math.max(lo, Math.min(hi, v)));
    i ? g.lineTo(X(k), y) : g.moveTo(X(k), y);
  });
  g.stroke(); g.lineWidth = 1;
  g.fillText(n + " pairs", c.width - 60, c.height - 4);
}

function mostra(T) {
  darrer = T;
  $("fets").textContent = `${T.done} / ${T.total} games` + (T.finished ? ", finished" : "");
  $("barra").firstElementChild.style.width = (T.total ? 100 * T.done / T.total : 0) + "%";
  $("ritme").textContent = T.rate > 0 ? T.rate.toFixed(1) + " games/s" : "";
  $("resta").textContent = T.finished ? "" : minuts(T.left);
  $("directe").hidden = !T.live;
  $("elo").textContent = T.elo ? "Elo " + T.elo : "";
  $("taula").textContent = T.table;
  if (T.sprt) {
    $("test").hidden = false;
    $("sprt").textContent = T.sprt.text || `SPRT [${T.sprt.elo0}, ${T.sprt.elo1}]: no pairs yet`;
    dibuixaLlr(T.sprt);
  }
  $("guardats-cap").hidden = T.kept.length === 0;
  const fets = new Set([...$("guardats").children].map(a => a.textContent));
  for (const nom of T.kept) {
    if (fets.has(nom)) continue;
    const a = document.createElement("a");
    a.href = "/kept/" + encodeURIComponent(nom); a.textContent = nom;
    $("guardats").appendChild(a);
  }
  if (T.finished) fonts.close();
}

const fonts = new EventSource("/events/tournament");
fonts.onmessage = e => mostra(JSON.parse(e.data));
window.torneig = { get data() { return darrer; } };
