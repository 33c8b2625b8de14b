// Replay page and match picture. The page carries the recording as compact JSON (positions to
// two decimals, angles to three) and a small script that draws it on a canvas.
#include "arena/repeticio.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

const char* const kColors[8] = {"#2b7bd6", "#d64b2b", "#2ba84a", "#b02bd6",
                                "#d6a22b", "#2bc4d6", "#6d6d6d", "#d62b8c"};

// A number with at most `decimals` decimals, trailing zeros dropped.
std::string N(double x, int decimals = 2) {
  if (!std::isfinite(x)) return "0";
  char b[32];
  std::snprintf(b, sizeof b, "%.*f", decimals, x);
  std::string s = b;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s == "-0" ? "0" : s;
}

// The colour the match gave robot `i`.
std::string Color(const t_resultat& r, size_t i) {
  return r.fitxes[i].color.empty() ? kColors[i % 8] : r.fitxes[i].color;
}

std::string Escapa(const std::string& s) {
  std::string o;
  for (char c : s) {
    if (c == '<' || c == '>' || c == '&' || c == '"' || c == '\'' || c == '\\') {
      o += "&#" + std::to_string(static_cast<unsigned char>(c)) + ";";
    } else if (static_cast<unsigned char>(c) >= 0x20) {
      o += c;
    }
  }
  return o;
}

std::string Dades(const t_config& config, const t_resultat& r) {
  std::ostringstream o;
  o << "{\"w\":" << N(config.amplada) << ",\"h\":" << N(config.alcada) << ",\"noms\":[";
  for (size_t i = 0; i < r.fitxes.size(); ++i)
    o << (i ? "," : "") << '"' << Escapa(r.fitxes[i].nom) << '"';
  o << "],\"colors\":[";
  for (size_t i = 0; i < r.fitxes.size(); ++i) o << (i ? "," : "") << '"' << Color(r, i) << '"';
  // Per frame: time, then per robot x, y, heading, cannon and radar directions in the field,
  // energy, alive; then the shots' x, y.
  o << "],\"f\":[";
  for (size_t k = 0; k < r.quadres.size(); ++k) {
    const t_quadre& q = r.quadres[k];
    o << (k ? "," : "") << '[' << N(q.temps) << ",[";
    for (size_t i = 0; i < q.robots.size(); ++i) {
      const t_cos_robot& b = q.robots[i];
      o << (i ? "," : "") << N(b.x) << ',' << N(b.y) << ',' << N(Normal(b.rumb), 3) << ','
        << N(Normal(b.rumb + b.canyo), 3) << ',' << N(Normal(b.rumb + b.radar), 3) << ','
        << N(b.energia, 1) << ',' << (b.viu ? 1 : 0);
    }
    o << "],[";
    for (size_t i = 0; i < q.trets.size(); ++i) {
      o << (i ? "," : "") << N(q.trets[i].x) << ',' << N(q.trets[i].y);
    }
    o << "]]";
  }
  o << "],\"o\":[";
  for (size_t k = 0; k < r.objectes.size(); ++k) {
    o << (k ? "," : "") << '[' << N(r.objectes[k].first) << ",[";
    const auto& v = r.objectes[k].second;
    for (size_t i = 0; i < v.size(); ++i)
      o << (i ? "," : "") << N(v[i].x) << ',' << N(v[i].y) << ',' << v[i].tipus;
    o << "]]";
  }
  o << "],\"e\":[";
  for (size_t k = 0; k < r.fets.size(); ++k) {
    const t_fet& f = r.fets[k];
    o << (k ? "," : "") << '[' << N(f.temps) << ',' << f.tipus << ',' << f.robot << ',' << N(f.x)
      << ',' << N(f.y) << ']';
  }
  o << "]}";
  return o.str();
}

const char* const kPagina = R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>@TITLE@</title>
<style>
body{font:14px sans-serif;margin:16px;background:#f4f4f0;color:#222}
#main{display:flex;gap:16px;align-items:flex-start}
canvas#camp{background:#fff;border:2px solid #333}
#controls{margin:8px 0;display:flex;gap:8px;align-items:center}
#scrub{width:560px}
.plot{display:block;margin-bottom:10px}
.plot span{display:block;font-weight:bold}
</style></head><body>
<h1 style="font-size:18px">@TITLE@</h1>
<div id="main"><div>
<canvas id="camp" width="800" height="600"></canvas>
<div id="controls"><button id="play">Play</button>
<label>speed <select id="speed"><option>0.25</option><option>0.5</option><option selected>1</option><option>2</option><option>4</option><option>8</option></select></label>
<input id="scrub" type="range" min="0" value="0"><span id="time">0.00 s</span></div>
</div><div id="plots"></div></div>
<script id="dades" type="application/json">@DATA@</script>
<script>
"use strict";
const D = JSON.parse(document.getElementById("dades").textContent);
const cv = document.getElementById("camp"), g = cv.getContext("2d");
const S = Math.min(cv.width / D.w, cv.height / D.h);
const X = x => x * S, Y = y => cv.height - y * S;
const scrub = document.getElementById("scrub"), play = document.getElementById("play");
const speed = document.getElementById("speed"), label = document.getElementById("time");
scrub.max = D.f.length - 1;
let frame = 0, playing = false, last = null, clock = 0;
function objectsAt(t) { let o = D.o[0][1]; for (const v of D.o) if (v[0] <= t) o = v[1]; return o; }
function ray(x, y, a, len, color, width, dash) {
  g.strokeStyle = color; g.lineWidth = width; g.setLineDash(dash || []);
  g.beginPath(); g.moveTo(X(x), Y(y)); g.lineTo(X(x + len * Math.cos(a)), Y(y + len * Math.sin(a))); g.stroke();
  g.setLineDash([]);
}
function draw() {
  const f = D.f[frame], t = f[0];
  g.clearRect(0, 0, cv.width, cv.height);
  const o = objectsAt(t);
  for (let i = 0; i < o.length; i += 3) {
    g.fillStyle = o[i + 2] == 3 ? "#3c3" : "#222";
    g.beginPath(); g.arc(X(o[i]), Y(o[i + 1]), 0.3 * S, 0, 7); g.fill();
  }
  g.fillStyle = "#e0a000";
  for (let i = 0; i < f[2].length; i += 2) { g.beginPath(); g.arc(X(f[2][i]), Y(f[2][i + 1]), 3, 0, 7); g.fill(); }
  for (let r = 0; r < D.noms.length; r++) {
    const b = f[1].slice(r * 7, r * 7 + 7);
    if (!b[6]) continue;
    ray(b[0], b[1], b[4], 6, D.colors[r], 1, [4, 4]);
    g.fillStyle = D.colors[r];
    g.beginPath(); g.arc(X(b[0]), Y(b[1]), 0.5 * S, 0, 7); g.fill();
    ray(b[0], b[1], b[2], 0.5, "#fff", 3);
    ray(b[0], b[1], b[3], 1.0, "#111", 3);
  }
  for (const e of D.e) {
    if (e[0] > t || e[0] < t - 0.5) continue;
    g.strokeStyle = e[1] == 1 ? "#f00" : e[1] == -1 ? "#000" : e[1] == 3 ? "#3c3" : "#900";
    g.lineWidth = 3; g.beginPath(); g.arc(X(e[3]), Y(e[4]), 0.9 * S, 0, 7); g.stroke();
  }
  label.textContent = t.toFixed(2) + " s";
  scrub.value = frame;
  for (const p of plots) p();
}
const plots = [];
D.noms.forEach((nom, r) => {
  const div = document.createElement("div"); div.className = "plot";
  const c = document.createElement("canvas"); c.width = 260; c.height = 80;
  const span = document.createElement("span"); span.style.color = D.colors[r];
  div.append(span, c); document.getElementById("plots").append(div);
  const q = c.getContext("2d"), T = D.f[D.f.length - 1][0] || 1;
  let max = 1; for (const f of D.f) max = Math.max(max, f[1][r * 7 + 5]);
  plots.push(() => {
    const e = D.f[frame][1][r * 7 + 5];
    span.textContent = nom + ": energy " + e.toFixed(1);
    q.clearRect(0, 0, c.width, c.height); q.strokeStyle = "#999"; q.strokeRect(0, 0, c.width, c.height);
    q.strokeStyle = D.colors[r]; q.lineWidth = 1.5; q.beginPath();
    D.f.forEach((f, k) => { const x = f[0] / T * c.width, y = c.height - Math.max(0, f[1][r * 7 + 5]) / max * (c.height - 4);
      k ? q.lineTo(x, y) : q.moveTo(x, y); });
    q.stroke();
    const x = D.f[frame][0] / T * c.width; q.strokeStyle = "#000"; q.beginPath(); q.moveTo(x, 0); q.lineTo(x, c.height); q.stroke();
  });
});
function show(k) { frame = Math.max(0, Math.min(D.f.length - 1, k | 0)); draw(); }
scrub.addEventListener("input", () => show(+scrub.value));
play.addEventListener("click", () => { playing = !playing; play.textContent = playing ? "Pause" : "Play"; last = null;
  clock = D.f[frame][0]; if (playing && frame == D.f.length - 1) { frame = 0; clock = 0; } requestAnimationFrame(tick); });
function tick(now) {
  if (!playing) return;
  if (last !== null) clock += (now - last) / 1000 * +speed.value;
  last = now;
  while (frame < D.f.length - 1 && D.f[frame + 1][0] <= clock) frame++;
  draw();
  if (frame == D.f.length - 1) { playing = false; play.textContent = "Play"; return; }
  requestAnimationFrame(tick);
}
window.replay = { data: D, show, get frame() { return frame; }, scale: S };
draw();
</script></body></html>
)HTML";

std::string Substitueix(std::string s, const std::string& que, const std::string& per) {
  for (size_t p; (p = s.find(que)) != std::string::npos;) s.replace(p, que.size(), per);
  return s;
}

}  // namespace

std::string PaginaRepeticio(const t_config& config, const t_resultat& r) {
  std::string titol = "Match, seed " + std::to_string(config.llavor) + ":";
  for (const auto& f : r.fitxes) titol += " " + Escapa(f.nom);
  // The data may not close its script element: "</" never appears in it, since names are
  // escaped and everything else is numbers.
  return Substitueix(Substitueix(kPagina, "@TITLE@", titol), "@DATA@", Dades(config, r));
}

std::string ImatgeSvg(const t_config& config, const t_resultat& r) {
  const double S = 20;  // pixels per unit
  const double W = config.amplada * S, H = config.alcada * S;
  auto X = [&](double x) { return N(x * S, 1); };
  auto Y = [&](double y) { return N(H - y * S, 1); };
  std::ostringstream o;
  o << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << N(W + 200) << "\" height=\"" << N(H)
    << "\" viewBox=\"0 0 " << N(W + 200) << ' ' << N(H)
    << "\" font-family=\"sans-serif\" font-size=\"13\">\n"
    << "<rect x=\"1\" y=\"1\" width=\"" << N(W - 2) << "\" height=\"" << N(H - 2)
    << "\" fill=\"#fff\" stroke=\"#333\" stroke-width=\"2\"/>\n";
  for (const auto& ob : r.objectes.front().second) {
    o << "<circle cx=\"" << X(ob.x) << "\" cy=\"" << Y(ob.y) << "\" r=\"" << N(RADI_OBJECTE * S)
      << "\" fill=\"" << (ob.tipus == OBJ_GALETA ? "#3c3" : "#222")
      << "\" fill-opacity=\"0.5\"/>\n";
  }
  for (size_t k = 0; k < r.quadres.size(); k += 2) {
    for (const auto& t : r.quadres[k].trets) {
      o << "<circle cx=\"" << X(t.x) << "\" cy=\"" << Y(t.y) << "\" r=\"1.5\" fill=\"#e0a000\"/>\n";
    }
  }
  for (size_t i = 0; i < r.fitxes.size(); ++i) {
    o << "<polyline fill=\"none\" stroke=\"" << Color(r, i) << "\" stroke-width=\"2\" points=\"";
    for (size_t k = 0; k < r.quadres.size(); k += 2) {
      const t_cos_robot& b = r.quadres[k].robots[i];
      if (b.viu) o << X(b.x) << ',' << Y(b.y) << ' ';
    }
    o << "\"/>\n";
    const t_cos_robot& b0 = r.quadres.front().robots[i];
    o << "<circle cx=\"" << X(b0.x) << "\" cy=\"" << Y(b0.y) << "\" r=\"" << N(RADI_ROBOT * S)
      << "\" fill=\"" << Color(r, i) << "\"/>\n";
  }
  for (const t_fet& f : r.fets) {
    const char* color = f.tipus == OBJ_TRET ? "#f00" : f.tipus == OBJ_GALETA ? "#3c3" : "#900";
    if (f.tipus == -1) {
      o << "<path d=\"M" << N(f.x * S - 8, 1) << ' ' << N(H - f.y * S - 8, 1)
        << "l16 16m0 -16l-16 16\" stroke=\"#000\" stroke-width=\"3\"/>\n";
    } else {
      o << "<circle cx=\"" << X(f.x) << "\" cy=\"" << Y(f.y) << "\" r=\"" << N(0.8 * S)
        << "\" fill=\"none\" stroke=\"" << color << "\" stroke-width=\"2\"/>\n";
    }
  }
  double y = 24;
  o << "<text x=\"" << N(W + 12) << "\" y=\"" << N(y) << "\" font-weight=\"bold\">seed "
    << config.llavor << ", " << N(r.temps) << " s</text>\n";
  for (size_t i = 0; i < r.fitxes.size(); ++i) {
    const t_fitxa& f = r.fitxes[i];
    y += 22;
    o << "<text x=\"" << N(W + 12) << "\" y=\"" << N(y) << "\" fill=\"" << Color(r, i) << "\">"
      << Escapa(f.nom) << ": " << f.encerts << '/' << f.trets << " hits, " << N(f.energia, 1)
      << " energy</text>\n";
  }
  const std::pair<const char*, const char*> llegenda[] = {
      {"#f00", "hit"}, {"#3c3", "cookie"}, {"#900", "mine"}, {"#e0a000", "shot"}};
  for (const auto& [color, que] : llegenda) {
    y += 22;
    o << "<circle cx=\"" << N(W + 20) << "\" cy=\"" << N(y - 4)
      << "\" r=\"6\" fill=\"none\" stroke=\"" << color << "\" stroke-width=\"2\"/><text x=\""
      << N(W + 32) << "\" y=\"" << N(y) << "\">" << que << "</text>\n";
  }
  o << "</svg>\n";
  return o.str();
}
