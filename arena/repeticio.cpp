// Replay page and match picture. The page's HTML, CSS and JavaScript are files of their own,
// embedded at build time; this fills in the recording as JSON, compact enough for long matches.
#include "arena/repeticio.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace arena {

using json = nlohmann::json;

// The replay page's own files, embedded at build time (cmake/incrusta.cmake).
extern const char* const kPaginaHtml;
extern const char* const kPaginaCss;
extern const char* const kPaginaJs;

namespace {

// A number with at most `decimals` decimals, trailing zeros dropped. Formatted as printf's
// "%.*f" would, without its cost; what does not fit its buffer is cut, as printf cut it.
std::string N(double x, int decimals = 2) {
  if (!std::isfinite(x)) return "0";
  char b[32];
  const std::to_chars_result r =
      std::to_chars(b, b + sizeof b - 1, x, std::chars_format::fixed, decimals);
  if (r.ec == std::errc()) {
    *r.ptr = '\0';
  } else {
    std::snprintf(b, sizeof b, "%.*f", decimals, x);
  }
  std::string s = b;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s == "-0" ? "0" : s;
}

double Arrodoneix(double x) {
  return std::round(x * 100) / 100;
}

// The colour the match gave robot `i`.
std::string Color(const std::vector<t_fitxa>& fitxes, size_t i) {
  return fitxes[i].color.empty() ? kPaleta[i % 8] : fitxes[i].color;
}
std::string Color(const t_resultat& r, size_t i) {
  return Color(r.fitxes, i);
}

// The frames [des, fins) of a recording: a whole game, or the part a live view has not had yet.
struct t_rang {
  size_t des, fins;
};

// Text for HTML and SVG: the markup characters as entities, control characters dropped.
std::string EscapaHtml(const std::string& s) {
  std::string o;
  for (char c : s) {
    if (c == '<' || c == '>' || c == '&' || c == '"' || c == '\'') {
      o += "&#" + std::to_string(static_cast<unsigned char>(c)) + ";";
    } else if (static_cast<unsigned char>(c) >= 0x20) {
      o += c;
    }
  }
  return o;
}

// The template with each of its markers replaced by its text. The markers are looked for in
// the template alone, once: nothing put in (a robot named "@DATA@") is read again as a marker.
std::string Omple(const std::string& plantilla,
                  const std::vector<std::pair<std::string, const std::string*>>& marques) {
  std::string o;
  size_t mida = plantilla.size();
  for (const auto& m : marques) mida += m.second->size();
  o.reserve(mida);
  for (size_t des = 0;;) {
    size_t on = std::string::npos;
    const std::string* per = nullptr;
    size_t llarg = 0;
    for (const auto& [marca, text] : marques) {
      const size_t p = plantilla.find(marca, des);
      if (p < on) on = p, per = text, llarg = marca.size();
    }
    o.append(plantilla, des, on == std::string::npos ? std::string::npos : on - des);
    if (!per) return o;
    o += *per;
    des = on + llarg;
  }
}

// JSON as it goes into the page: text that is not UTF-8 replaced rather than thrown at, and no
// '<', so that the data can never close its script element.
void Afegeix(std::string& o, const json& j) {
  const std::string text = j.dump(-1, ' ', false, json::error_handler_t::replace);
  for (size_t des = 0;;) {
    const size_t menor = text.find('<', des);
    o.append(text, des, menor == std::string::npos ? std::string::npos : menor - des);
    if (menor == std::string::npos) return;
    o += "\\u003c";
    des = menor + 1;
  }
}

// A string as Afegeix writes it, straight when it is printable ASCII (the exchange's lines
// nearly always are): only the quote, the backslash and '<' escaped.
void Text(std::string& o, const std::string& text) {
  const size_t inici = o.size();
  o += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') {
      o += '\\';
      o += c;
    } else if (c == '<') {
      o += "\\u003c";
    } else if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F) {
      o += c;
    } else {
      o.resize(inici);
      return Afegeix(o, json(text));
    }
  }
  o += '"';
}

void Enter(std::string& o, long long x) {
  char b[24];
  o.append(b, std::to_chars(b, b + sizeof b, x).ptr);
}

// One quantity of one robot over the frames, as differences of whole numbers of 1/`escala`,
// written straight as a JSON array: a long match's frames never become a tree of JSON values.
// A part of the frames starts from the last finite value before it, as the whole would.
template <class F>
void Deltes(std::string& o, const t_resultat& r, t_rang q, double escala, F valor) {
  o += '[';
  long long abans = 0;
  for (size_t k = q.des; k-- > 0;) {
    const double x = valor(r.quadres[k]);
    if (std::isfinite(x)) {
      abans = std::llround(x * escala);
      break;
    }
  }
  for (size_t k = q.des; k < q.fins; ++k) {
    const double x = valor(r.quadres[k]);
    const long long ara = std::isfinite(x) ? std::llround(x * escala) : abans;
    if (k > q.des) o += ',';
    Enter(o, ara - abans);
    abans = ara;
  }
  o += ']';
}

// The frames of robot `i`: when it went from alive to not or back, its headings, energy and
// speed, where it was; keys in the order a JSON object keeps them.
void Posicions(std::string& o, const t_resultat& r, t_rang q, size_t i) {
  auto B = [i](const t_quadre& f) -> const t_cos_robot& { return f.robots[i]; };
  o += "{\"alive_changes\":[";
  bool viu = q.des == 0 || r.quadres[q.des - 1].robots[i].viu;
  const char* coma = "";
  for (size_t k = q.des; k < q.fins; ++k) {
    if (r.quadres[k].robots[i].viu != viu) {
      o += coma;
      Enter(o, static_cast<long long>(k));
      viu = !viu, coma = ",";
    }
  }
  o += "],\"cannon_heading\":";
  Deltes(o, r, q, 1000, [&](const t_quadre& f) { return B(f).rumb + B(f).canyo; });
  o += ",\"energy\":";
  Deltes(o, r, q, 10, [&](const t_quadre& f) { return B(f).energia; });
  o += ",\"heading\":";
  Deltes(o, r, q, 1000, [&](const t_quadre& f) { return B(f).rumb; });
  o += ",\"radar_heading\":";
  Deltes(o, r, q, 1000, [&](const t_quadre& f) { return B(f).rumb + B(f).radar; });
  o += ",\"speed\":";
  Deltes(o, r, q, 100, [&](const t_quadre& f) { return B(f).vel; });
  o += ",\"x\":";
  Deltes(o, r, q, 100, [&](const t_quadre& f) { return B(f).x; });
  o += ",\"y\":";
  Deltes(o, r, q, 100, [&](const t_quadre& f) { return B(f).y; });
  o += '}';
}

// What robot `i`'s radar saw at each frame: distance, the object's type (a digit, '-' for
// nothing), the angle.
void RadarRobot(std::string& o, const t_resultat& r, t_rang q, size_t i) {
  auto Vist = [i](const t_quadre& f) {
    return i < f.radar.size() ? f.radar[i] : t_impacte{0, -1, -1, 0};
  };
  o += "{\"angle\":";
  Deltes(o, r, q, 1000, [&](const t_quadre& f) { return Vist(f).angle; });
  o += ",\"distance\":";
  Deltes(o, r, q, 100, [&](const t_quadre& f) { return Vist(f).distancia; });
  o += ",\"type\":\"";
  for (size_t k = q.des; k < q.fins; ++k) {
    const int t = Vist(r.quadres[k]).tipus;
    o += t >= 0 && t <= 9 ? static_cast<char>('0' + t) : '-';
  }
  o += "\"}";
}

// Shots: who fired each, and where it is, in tenths of a unit, frame by frame.
void Trets(std::string& o, const t_resultat& r, t_rang q) {
  o += '[';
  for (size_t k = q.des; k < q.fins; ++k) {
    o += k > q.des ? ",[" : "[";
    const char* coma = "";
    for (const t_tret& t : r.quadres[k].trets) {
      for (long long x :
           {static_cast<long long>(t.autor), std::llround(t.x * 10), std::llround(t.y * 10)}) {
        o += coma;
        Enter(o, x);
        coma = ",";
      }
    }
    o += ']';
  }
  o += ']';
}

// The lines of the exchange from the `des`-th on, each [tick, robot, direction, text].
void Intercanvi(std::string& o, const t_resultat& r, size_t des) {
  o += '[';
  for (size_t k = des; k < r.linies.size(); ++k) {
    const t_linia& l = r.linies[k];
    o += k > des ? ",[" : "[";
    Enter(o, l.tick);
    o += ',';
    Enter(o, l.robot);
    o += ',';
    Text(o, std::string(1, l.sentit));
    o += ',';
    Text(o, l.text);
    o += ']';
  }
  o += ']';
}

// The notes from the `des`-th on, each [tick, robot, line].
void Notes(std::string& o, const t_config& config, const t_resultat& r, size_t des) {
  o += '[';
  for (size_t k = des; k < r.notes.size(); ++k) {
    const t_nota& nota = r.notes[k];
    o += k > des ? ",[" : "[";
    Enter(o, std::lround(nota.temps / config.dt));
    o += ',';
    Enter(o, nota.robot);
    o += ',';
    Text(o, nota.linia);
    o += ']';
  }
  o += ']';
}

// One of the game's long arrays: its key, and what writes its value straight into the page.
using t_gran = std::pair<const char*, std::function<void()>>;

// One JSON object into `o`: the keys and values of `d`, and each of `grans` (in their keys'
// order) at its key's place among them.
void Objecte(std::string& o, const json& d, const std::vector<t_gran>& grans) {
  size_t g = 0;
  const char* coma = "{";
  for (const auto& [clau, valor] : d.items()) {
    for (; g < grans.size() && clau > grans[g].first; ++g, coma = ",") {
      o += coma + json(grans[g].first).dump() + ":";
      grans[g].second();
    }
    o += coma + json(clau).dump() + ":";
    Afegeix(o, valor);
    coma = ",";
  }
  for (; g < grans.size(); ++g) {
    o += coma + json(grans[g].first).dump() + ":";
    grans[g].second();
  }
  o += '}';
}

// The robots of a game, as `fitxes` has them, with the time each died.
json Fitxes(const t_resultat& r, const std::vector<t_fitxa>& fitxes) {
  json o = json::array();
  for (size_t i = 0; i < fitxes.size(); ++i) {
    const t_fitxa& f = fitxes[i];
    json mort = nullptr;
    for (const t_fet& e : r.fets) {
      if (e.tipus == -1 && e.robot == static_cast<int>(i)) mort = e.temps;
    }
    o.push_back({{"name", f.nom},
                 {"color", Color(fitxes, i)},
                 {"status", Paraula(f.desenllac.estat)},
                 {"reason", Descriu(f.desenllac.motiu)},
                 {"death", mort},
                 {"energy", f.energia},
                 {"points", f.punts}});
    if (!f.err_final.empty()) o.back()["stderr_tail"] = f.err_final;
  }
  return o;
}

// The recording of one game, written as JSON into `o`: per robot each quantity as differences
// of whole numbers (a hundredth of a unit, a thousandth of a radian, a tenth of energy), which
// keeps a long match's page small; the layout's numbers are given here, not written again in
// the page's script. The frames' arrays, the notes and the exchange are written directly,
// everything else through a JSON object, and the keys come out in the order the JSON object
// keeps them. Every key is one of
// arena/repeticio/dades.md, which says what it holds. A live view's part holds the frames up to
// `fins` and what was added since `des`, which moves on past what was written; the robots are
// `fitxes`, as they stand.
void DadesJoc(std::string& o, const t_config& config, const t_resultat& r,
              const std::vector<t_fitxa>& fitxes, t_tall& des, size_t fins) {
  const size_t robots = fitxes.size();
  const t_rang q{std::min(des.quadres, fins), fins};
  json d = {{"field", {config.amplada, config.alcada}},
            {"tick", config.dt},
            {"frames", fins},
            {"seed", r.llavor},
            {"game", r.joc},
            {"drawing_life", VIDA_DIBUIX},
            {"radius", {{"robot", RADI_ROBOT}, {"object", RADI_OBJECTE}, {"shot", RADI_TRET}}},
            {"winner", r.guanyador.empty() ? json(nullptr) : json(r.guanyador)}};
  d["robots"] = Fitxes(r, fitxes);
  json ob = json::array();
  for (size_t k = des.objectes; k < r.objectes.size(); ++k) {
    json v = json::array();
    for (const auto& x : r.objectes[k].second) {
      v.insert(v.end(), {Arrodoneix(x.x), Arrodoneix(x.y), x.tipus});
    }
    ob.push_back({r.objectes[k].first, v});
  }
  d["objects"] = ob;
  json e = json::array();
  for (size_t k = des.fets; k < r.fets.size(); ++k) {
    const t_fet& f = r.fets[k];
    e.push_back({f.temps, f.tipus, f.robot, Arrodoneix(f.x), Arrodoneix(f.y)});
  }
  d["events"] = e;
  const t_tall abans = des;
  des = {fins, r.objectes.size(), r.fets.size(), r.notes.size(), r.linies.size()};
  // The arrays as long as the game, listed in their keys' order.
  const auto PerRobot = [&](void (*que)(std::string&, const t_resultat&, t_rang, size_t)) {
    o += '[';
    for (size_t i = 0; i < robots; ++i) {
      if (i > 0) o += ',';
      que(o, r, q, i);
    }
    o += ']';
  };
  const std::vector<t_gran> grans = {{"exchange", [&] { Intercanvi(o, r, abans.linies); }},
                                     {"notes", [&] { Notes(o, config, r, abans.notes); }},
                                     {"radar", [&] { PerRobot(RadarRobot); }},
                                     {"shots_in_flight", [&] { Trets(o, r, q); }},
                                     {"tracks", [&] { PerRobot(Posicions); }}};
  Objecte(o, d, grans);
}

}  // namespace

namespace {

// The page of games jocs[0] to jocs[n - 1], read where they are: a game's recording is not
// copied to be written.
std::string Pagina(const t_config& config, const t_resultat* jocs, size_t n) {
  std::string titol = "Match, seed " + std::to_string(config.llavor) + ":";
  for (const auto& f : jocs[0].fitxes) titol += " " + EscapaHtml(f.nom);
  std::string dades = "{\"version\":" + std::to_string(VERSIO_REPETICIO) + ",\"games\":[";
  for (size_t k = 0; k < n; ++k) {
    if (k > 0) dades += ',';
    t_tall des;
    DadesJoc(dades, config, jocs[k], jocs[k].fitxes, des, jocs[k].quadres.size());
  }
  dades += "]}";
  const std::string css = kPaginaCss, js = kPaginaJs;
  return Omple(kPaginaHtml,
               {{"@TITLE@", &titol}, {"/*@CSS@*/", &css}, {"//@JS@", &js}, {"@DATA@", &dades}});
}

}  // namespace

std::string PaginaRepeticio(const t_config& config, const std::vector<t_resultat>& jocs) {
  return Pagina(config, jocs.data(), jocs.size());
}

std::string TrosRepeticio(const t_config& config, const t_resultat& joc,
                          const std::vector<t_fitxa>& fitxes, size_t fins, t_tall& des) {
  std::string o;
  DadesJoc(o, config, joc, fitxes, des, fins);
  return o;
}

std::string PaginaDirecte(const std::string& titol, const std::string& fonts) {
  const std::string t = EscapaHtml(titol), css = kPaginaCss, js = kPaginaJs;
  std::string dades =
      "{\"version\":" + std::to_string(VERSIO_REPETICIO) + ",\"games\":[],\"live\":";
  Afegeix(dades, json(fonts));
  dades += '}';
  return Omple(kPaginaHtml,
               {{"@TITLE@", &t}, {"/*@CSS@*/", &css}, {"//@JS@", &js}, {"@DATA@", &dades}});
}

std::string PaginaRepeticio(const t_config& config, const t_resultat& resultat) {
  return Pagina(config, &resultat, 1);
}

namespace {

// The picture's panel beside the field (which is W pixels wide): the match, the winner, the
// standing, the legend.
void Panell(std::ostringstream& o, const t_config& config, const t_resultat& r, double W) {
  double y = 22;
  auto Text = [&](const std::string& text, const std::string& extra = "") {
    o << "<text x=\"" << N(W + 12) << "\" y=\"" << N(y) << "\"" << extra << ">" << text
      << "</text>\n";
    y += 19;
  };
  Text("seed " + std::to_string(config.llavor) + ", " + N(r.temps) + " s", " font-weight=\"bold\"");
  Text(r.guanyador.empty() ? "no winner (draw)" : "winner: " + EscapaHtml(r.guanyador),
       " font-weight=\"bold\"");
  for (size_t i = 0; i < r.fitxes.size(); ++i) {
    const t_fitxa& f = r.fitxes[i];
    Text(EscapaHtml(f.nom) + ": " + Paraula(f.desenllac.estat) + ", " + N(f.energia, 1) +
             " energy, " + std::to_string(f.encerts) + "/" + std::to_string(f.trets) + " hits",
         " fill=\"" + Color(r, i) + "\"");
  }
  y += 6;
  const std::pair<std::string, std::string> llegenda[] = {
      {"<circle cx=\"8\" cy=\"-4\" r=\"6\" fill=\"#888\"/>", "where a robot started"},
      {"<circle cx=\"8\" cy=\"-4\" r=\"6\" fill=\"none\" stroke=\"#888\" stroke-width=\"3\"/>",
       "where a survivor ended"},
      {"<path d=\"M2 -10l12 12m0 -12l-12 12\" stroke=\"#000\" stroke-width=\"3\"/>", "a death"},
      {"<circle cx=\"8\" cy=\"-4\" r=\"2\" fill=\"#888\"/>", "shots, in their shooter's colour"},
      {"<circle cx=\"8\" cy=\"-4\" r=\"6\" fill=\"none\" stroke=\"#f00\" stroke-width=\"2\"/>",
       "a hit"},
      {"<circle cx=\"8\" cy=\"-4\" r=\"6\" fill=\"none\" stroke=\"#3c3\" stroke-width=\"2\"/>",
       "a cookie eaten (green disc: a cookie)"},
      {"<circle cx=\"8\" cy=\"-4\" r=\"6\" fill=\"none\" stroke=\"#900\" stroke-width=\"2\"/>",
       "a mine taken (black disc: a mine)"}};
  for (const auto& [marca, que] : llegenda) {
    o << "<g transform=\"translate(" << N(W + 12) << ',' << N(y) << ")\">" << marca
      << "<text x=\"22\">" << que << "</text></g>\n";
    y += 19;
  }
}

}  // namespace

std::string ImatgeSvg(const t_config& config, const t_resultat& r) {
  const double S = 20;         // pixels per unit
  const double LATERAL = 300;  // the panel beside the field
  const double W = config.amplada * S, H = std::max(config.alcada * S, 440.0);
  auto X = [&](double x) { return N(x * S, 1); };
  auto Y = [&](double y) { return N(config.alcada * S - y * S, 1); };
  std::ostringstream o;
  o << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << N(W + LATERAL) << "\" height=\""
    << N(H) << "\" viewBox=\"0 0 " << N(W + LATERAL) << ' ' << N(H)
    << "\" font-family=\"sans-serif\" font-size=\"13\">\n"
    << "<rect x=\"1\" y=\"1\" width=\"" << N(W - 2) << "\" height=\"" << N(config.alcada * S - 2)
    << "\" fill=\"#fff\" stroke=\"#333\" stroke-width=\"2\"/>\n";
  for (const auto& ob : r.objectes.front().second) {
    o << "<circle cx=\"" << X(ob.x) << "\" cy=\"" << Y(ob.y) << "\" r=\"" << N(RADI_OBJECTE * S)
      << "\" fill=\"" << (ob.tipus == OBJ_GALETA ? "#3c3" : "#222")
      << "\" fill-opacity=\"0.5\"/>\n";
  }
  for (size_t k = 0; k < r.quadres.size(); k += 2) {
    for (const auto& t : r.quadres[k].trets) {
      const std::string color = t.autor >= 0 ? Color(r, static_cast<size_t>(t.autor)) : "#e0a000";
      o << "<circle cx=\"" << X(t.x) << "\" cy=\"" << Y(t.y) << "\" r=\"1.5\" fill=\"" << color
        << "\"/>\n";
    }
  }
  for (size_t i = 0; i < r.fitxes.size(); ++i) {
    o << "<polyline fill=\"none\" stroke=\"" << Color(r, i) << "\" stroke-width=\"2\" points=\"";
    const t_cos_robot* darrer = &r.quadres.front().robots[i];
    for (size_t k = 0; k < r.quadres.size(); k += 2) {
      const t_cos_robot& b = r.quadres[k].robots[i];
      if (b.viu) o << X(b.x) << ',' << Y(b.y) << ' ', darrer = &b;
    }
    o << "\"/>\n";
    // Where it started (a disc) and where it ended (a ring; a cross if it died).
    const t_cos_robot& b0 = r.quadres.front().robots[i];
    o << "<circle cx=\"" << X(b0.x) << "\" cy=\"" << Y(b0.y) << "\" r=\"" << N(RADI_ROBOT * S)
      << "\" fill=\"" << Color(r, i) << "\"/>\n";
    if (r.fitxes[i].desenllac.estat == t_estat_robot::VIU) {
      o << "<circle cx=\"" << X(darrer->x) << "\" cy=\"" << Y(darrer->y) << "\" r=\""
        << N(RADI_ROBOT * S) << "\" fill=\"none\" stroke=\"" << Color(r, i)
        << "\" stroke-width=\"3\"/>\n";
    }
  }
  for (const t_fet& f : r.fets) {
    const char* color = f.tipus == OBJ_TRET ? "#f00" : f.tipus == OBJ_GALETA ? "#3c3" : "#900";
    if (f.tipus == -1) {
      o << "<path d=\"M" << N(f.x * S - 8, 1) << ' ' << N(config.alcada * S - f.y * S - 8, 1)
        << "l16 16m0 -16l-16 16\" stroke=\"#000\" stroke-width=\"3\"/>\n";
    } else {
      o << "<circle cx=\"" << X(f.x) << "\" cy=\"" << Y(f.y) << "\" r=\"" << N(0.8 * S)
        << "\" fill=\"none\" stroke=\"" << color << "\" stroke-width=\"2\"/>\n";
    }
  }
  Panell(o, config, r, W);
  o << "</svg>\n";
  return o.str();
}

}  // namespace arena
