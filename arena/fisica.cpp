// Physics of the practice arena: turning, driving, braking, collisions with walls, robots,
// cookies and mines, flying shots, and the radar beam that reports what it swept over.
#include "arena/fisica.h"

#include <algorithm>
#include <cmath>

namespace arena {

namespace {

double Limita(double x, double lo, double hi) {
  return std::max(lo, std::min(hi, x));
}

double GirMaxim(const t_mon& mon, int part) {
  return mon.opcions[part == 0 ? OPT_GIR_COS : part == 1 ? OPT_GIR_CANYO : OPT_GIR_RADAR];
}

double& Angle(t_cos_robot& r, int part) {
  return part == 0 ? r.rumb : part == 1 ? r.canyo : r.radar;
}

// Angle relative to robot r's body at which (x, y) lies.
double Marcacio(const t_cos_robot& r, double x, double y) {
  return Normal(std::atan2(y - r.y, x - r.x) - r.rumb);
}

// First crossing, as a fraction of the segment (p, p + d), of the circle (c, radi); -1 if none.
double Creua(double px, double py, double dx, double dy, double cx, double cy, double radi) {
  const double fx = px - cx, fy = py - cy;
  const double a = dx * dx + dy * dy;
  const double b = 2 * (fx * dx + fy * dy);
  const double c = fx * fx + fy * fy - radi * radi;
  if (c <= 0) return 0;  // already inside
  if (a == 0) return -1;
  const double disc = b * b - 4 * a * c;
  if (disc < 0) return -1;
  const double t = (-b - std::sqrt(disc)) / (2 * a);
  return t >= 0 && t <= 1 ? t : -1;
}

// One step of a part's turn; true when a RotateAmount or RotateTo has just completed.
bool Gira(double& angle, t_gir& g, double dt) {
  switch (g.mode) {
    case t_gir::QUIET:
      return false;
    case t_gir::CONSTANT:
      angle += g.vel * dt;
      return false;
    case t_gir::QUANTITAT: {
      const double pas = g.vel * dt;
      const double falta = g.objectiu - angle;
      if (std::fabs(falta) <= pas) {
        angle = g.objectiu;
        g.mode = t_gir::QUIET;
        return true;
      }
      angle += falta > 0 ? pas : -pas;
      return false;
    }
    case t_gir::ESCOMBRA:
      // Outside the bounds the part first turns back into them, then swings between them.
      if (angle > g.hi) {
        g.vel = -std::fabs(g.vel);
        angle = std::max(g.hi, angle + g.vel * dt);
        return false;
      }
      if (angle < g.lo) {
        g.vel = std::fabs(g.vel);
        angle = std::min(g.lo, angle + g.vel * dt);
        return false;
      }
      angle += g.vel * dt;
      if (angle > g.hi) {
        angle = g.hi;
        g.vel = -std::fabs(g.vel);
      } else if (angle < g.lo) {
        angle = g.lo;
        g.vel = std::fabs(g.vel);
      }
      return false;
  }
  return false;
}

void Mou(t_mon& mon, int i, double dt, std::vector<t_event>& events) {
  t_cos_robot& r = mon.robots[i];
  r.vel += r.accel * dt;
  r.vel -= FREGAMENT * r.vel * dt;
  const double frenada = r.fre * FRE_MAX * dt;
  r.vel = std::fabs(r.vel) <= frenada ? 0 : r.vel - std::copysign(frenada, r.vel);
  r.vel = Limita(r.vel, -VEL_MAX, VEL_MAX);
  r.x += r.vel * std::cos(r.rumb) * dt;
  r.y += r.vel * std::sin(r.rumb) * dt;

  // A wall stops the robot dead and costs energy by the speed of the impact.
  double paret = NAN;
  if (r.x < RADI_ROBOT) paret = M_PI, r.x = RADI_ROBOT;
  if (r.x > mon.amplada - RADI_ROBOT) paret = 0, r.x = mon.amplada - RADI_ROBOT;
  if (r.y < RADI_ROBOT) paret = -M_PI / 2, r.y = RADI_ROBOT;
  if (r.y > mon.alcada - RADI_ROBOT) paret = M_PI / 2, r.y = mon.alcada - RADI_ROBOT;
  if (!std::isnan(paret)) {
    r.energia -= DANY_PARET * std::fabs(r.vel);
    r.vel = 0;
    events.push_back({i, t_xoc{OBJ_PARET, Normal(paret - r.rumb)}});
  }
}

void XocaRobots(t_mon& mon, std::vector<t_event>& events) {
  for (size_t i = 0; i < mon.robots.size(); ++i) {
    for (size_t j = i + 1; j < mon.robots.size(); ++j) {
      t_cos_robot& a = mon.robots[i];
      t_cos_robot& b = mon.robots[j];
      if (!a.viu || !b.viu) continue;
      double dx = b.x - a.x, dy = b.y - a.y;
      double d = std::hypot(dx, dy);
      if (d >= 2 * RADI_ROBOT) continue;
      if (d == 0) dx = 1, dy = 0, d = 1e-9;
      const double empeny = (2 * RADI_ROBOT - d) / 2;
      a.x -= dx / d * empeny, a.y -= dy / d * empeny;
      b.x += dx / d * empeny, b.y += dy / d * empeny;
      // Only an impact costs: the speed at which they close along the line of their centres.
      // Robots that rest against each other, or part, lose nothing and are told nothing.
      const double apropa = ((a.vel * std::cos(a.rumb) - b.vel * std::cos(b.rumb)) * dx +
                             (a.vel * std::sin(a.rumb) - b.vel * std::sin(b.rumb)) * dy) /
                            d;
      if (!(apropa > MARGE_TEMPS)) continue;
      a.vel = b.vel = 0;
      a.energia -= DANY_XOC * apropa;
      b.energia -= DANY_XOC * apropa;
      events.push_back({static_cast<int>(i), t_xoc{OBJ_ROBOT, Marcacio(a, b.x, b.y)}});
      events.push_back({static_cast<int>(j), t_xoc{OBJ_ROBOT, Marcacio(b, a.x, a.y)}});
    }
  }
}

void Menja(t_mon& mon, std::vector<t_event>& events) {
  for (size_t i = 0; i < mon.robots.size(); ++i) {
    t_cos_robot& r = mon.robots[i];
    if (!r.viu) continue;
    for (size_t k = 0; k < mon.objectes.size();) {
      const t_objecte o = mon.objectes[k];
      if (std::hypot(o.x - r.x, o.y - r.y) >= RADI_ROBOT + RADI_OBJECTE) {
        ++k;
        continue;
      }
      if (o.tipus == OBJ_GALETA) {
        r.energia = std::min(mon.opcions[OPT_ENERGIA_MAX], r.energia + ENERGIA_GALETA);
        ++r.galetes;
      } else {
        r.energia -= DANY_MINA;
        ++r.mines;
      }
      events.push_back({static_cast<int>(i), t_xoc{o.tipus, Marcacio(r, o.x, o.y)}});
      mon.objectes.erase(mon.objectes.begin() + static_cast<long>(k));
    }
  }
}

// Moves every shot; the first robot, cookie or mine on its path takes it, or the wall does.
void Dispara(t_mon& mon, double dt, std::vector<t_event>& events) {
  std::vector<t_tret> queden;
  for (const t_tret& t : mon.trets) {
    const double dx = t.vx * dt, dy = t.vy * dt;
    double primer = 2;
    int robot = -1, objecte = -1;
    for (size_t i = 0; i < mon.robots.size(); ++i) {
      const t_cos_robot& r = mon.robots[i];
      if (!r.viu || static_cast<int>(i) == t.autor) continue;
      const double f = Creua(t.x, t.y, dx, dy, r.x, r.y, RADI_ROBOT + RADI_TRET);
      if (f >= 0 && f < primer) primer = f, robot = static_cast<int>(i), objecte = -1;
    }
    for (size_t k = 0; k < mon.objectes.size(); ++k) {
      const t_objecte& o = mon.objectes[k];
      const double f = Creua(t.x, t.y, dx, dy, o.x, o.y, RADI_OBJECTE + RADI_TRET);
      if (f >= 0 && f < primer) primer = f, objecte = static_cast<int>(k), robot = -1;
    }
    if (robot >= 0) {
      t_cos_robot& r = mon.robots[robot];
      r.energia -= DANY_TRET * t.energia;
      if (t.autor >= 0) ++mon.robots[t.autor].encerts;
      events.push_back({robot, t_xoc{OBJ_TRET, Marcacio(r, t.x, t.y)}});
      continue;
    }
    if (objecte >= 0) {
      mon.objectes.erase(mon.objectes.begin() + objecte);
      continue;
    }
    t_tret nou = t;
    nou.x += dx;
    nou.y += dy;
    if (nou.x < 0 || nou.y < 0 || nou.x > mon.amplada || nou.y > mon.alcada) continue;
    queden.push_back(nou);
  }
  mon.trets.swap(queden);
}

// A shot of `e` energy from robot `i`'s cannon, if the cannon is ready; if not, it is lost.
void Tira(t_mon& mon, int i, double e) {
  t_cos_robot& r = mon.robots[i];
  if (!r.viu || r.recarrega > MARGE_TEMPS) return;
  const double energia = Limita(e, mon.opcions[OPT_TRET_MIN], mon.opcions[OPT_TRET_MAX]);
  const double dir = r.rumb + r.canyo;
  const double surt = RADI_ROBOT + RADI_TRET + 0.01;
  const double vt = mon.opcions[OPT_VEL_TRET];
  mon.trets.push_back({r.x + surt * std::cos(dir), r.y + surt * std::sin(dir),
                       vt * std::cos(dir) + r.vel * std::cos(r.rumb),
                       vt * std::sin(dir) + r.vel * std::sin(r.rumb), energia, i});
  r.energia -= energia;
  r.recarrega = RECARREGA;
  ++r.trets;
}

// How the parts a turn command names are to turn: for ever, to an angle, by an angle, or to and
// fro between two.
enum t_manera { SEMPRE, FINS, QUANT, ESCOMBRA };

void Orienta(const t_mon& mon, t_cos_robot& r, t_manera manera, int parts, double vel, double u,
             double v) {
  for (int p = 0; p < 3; ++p) {
    if (!(parts & (1 << p))) continue;
    const double maxim = GirMaxim(mon, p);
    const double vel_p = Limita(vel, -maxim, maxim);
    double& angle = Angle(r, p);
    t_gir& g = r.gir[p];
    if (manera == SEMPRE) {
      g = {t_gir::CONSTANT, vel_p};
    } else if (manera == QUANT) {
      g = {t_gir::QUANTITAT, std::fabs(vel_p), angle + u};
    } else if (manera == FINS) {  // the shorter way round to the given angle
      g = {t_gir::QUANTITAT, std::fabs(vel_p), angle + std::remainder(u - angle, DOS_PI)};
    } else if (p > 0) {  // Sweep: cannon and radar only, between bounds placed near the part
      const double lo = std::min(u, v), hi = std::max(u, v);
      const double desplaca = angle - std::remainder(angle - (lo + hi) / 2, DOS_PI) - (lo + hi) / 2;
      g = {t_gir::ESCOMBRA, vel_p >= 0 ? std::fabs(vel_p) : -std::fabs(vel_p), 0, lo + desplaca,
           hi + desplaca};
    }
  }
}

}  // namespace

double Normal(double angle) {
  if (!std::isfinite(angle)) return 0;
  double a = std::fmod(angle, DOS_PI);
  if (a < 0) a += DOS_PI;
  return a >= DOS_PI ? 0 : a;
}

void Ordena(t_mon& mon, int i, const t_comanda& comanda) {
  t_cos_robot& r = mon.robots[i];
  if (const auto* a = std::get_if<t_accelera>(&comanda)) {
    r.accel = Limita(a->accel, mon.opcions[OPT_ACCEL_MIN], mon.opcions[OPT_ACCEL_MAX]);
  } else if (const auto* f = std::get_if<t_frena>(&comanda)) {
    r.fre = Limita(f->fre, 0, 1);
  } else if (const auto* d = std::get_if<t_dispara>(&comanda)) {
    Tira(mon, i, d->energia);
  } else if (const auto* g = std::get_if<t_gira>(&comanda)) {
    Orienta(mon, r, SEMPRE, g->parts, g->vel, 0, 0);
  } else if (const auto* gf = std::get_if<t_gira_fins>(&comanda)) {
    Orienta(mon, r, FINS, gf->parts, gf->vel, gf->angle, 0);
  } else if (const auto* gq = std::get_if<t_gira_quant>(&comanda)) {
    Orienta(mon, r, QUANT, gq->parts, gq->vel, gq->angle, 0);
  } else if (const auto* e = std::get_if<t_escombra>(&comanda)) {
    Orienta(mon, r, ESCOMBRA, e->parts, e->vel, e->esquerra, e->dreta);
  }
}

void Avanca(t_mon& mon, double dt, std::vector<t_event>& events) {
  for (auto& r : mon.robots) r.radar_abans = r.rumb + r.radar;
  for (size_t i = 0; i < mon.robots.size(); ++i) {
    t_cos_robot& r = mon.robots[i];
    if (!r.viu) continue;
    int acabats = 0;
    for (int p = 0; p < 3; ++p) {
      if (Gira(Angle(r, p), r.gir[p], dt)) acabats |= 1 << p;
    }
    if (acabats) events.push_back({static_cast<int>(i), t_gir_acabat{acabats}});
    Mou(mon, static_cast<int>(i), dt, events);
  }
  XocaRobots(mon, events);
  Menja(mon, events);
  Dispara(mon, dt, events);
  for (size_t i = 0; i < mon.robots.size(); ++i) {
    t_cos_robot& r = mon.robots[i];
    r.recarrega = std::max(0.0, r.recarrega - dt);
    if (r.viu && r.energia <= 0) {
      r.viu = false;
      r.vel = 0;
      events.push_back({static_cast<int>(i), t_mort{}});
    }
  }
  mon.temps += dt;
}

double DistanciaParet(const t_mon& mon, double x, double y, double direccio) {
  const double c = std::cos(direccio), s = std::sin(direccio);
  double t = INFINITY;
  if (c > 1e-12) t = std::min(t, (mon.amplada - x) / c);
  if (c < -1e-12) t = std::min(t, -x / c);
  if (s > 1e-12) t = std::min(t, (mon.alcada - y) / s);
  if (s < -1e-12) t = std::min(t, -y / s);
  return std::max(0.0, t);
}

t_impacte Radar(const t_mon& mon, int i) {
  const t_cos_robot& r = mon.robots[i];
  const double ara = r.rumb + r.radar;
  const double escombrat = Limita(ara - r.radar_abans, -DOS_PI, DOS_PI);
  const double lo = std::min(0.0, escombrat), hi = std::max(0.0, escombrat);
  t_impacte millor{DistanciaParet(mon, r.x, r.y, ara), OBJ_PARET, -1, Normal(r.radar)};

  // A round object is seen when the arc the beam swept since the last tick crosses it.
  auto Mira = [&](double x, double y, double radi, int tipus, int index) {
    const double d = std::hypot(x - r.x, y - r.y);
    if (d <= radi || d - radi >= millor.distancia) return;
    const double mig = std::asin(radi / d);
    const double desvia = std::remainder(std::atan2(y - r.y, x - r.x) - r.radar_abans, DOS_PI);
    for (double k : {-DOS_PI, 0.0, DOS_PI}) {
      if (desvia + k + mig >= lo && desvia + k - mig <= hi) {
        const double on = r.radar_abans + Limita(desvia + k, lo, hi);
        millor = {d - radi, tipus, index, Normal(on - r.rumb)};
        return;
      }
    }
  };
  for (size_t j = 0; j < mon.robots.size(); ++j) {
    if (static_cast<int>(j) != i && mon.robots[j].viu) {
      Mira(mon.robots[j].x, mon.robots[j].y, RADI_ROBOT, OBJ_ROBOT, static_cast<int>(j));
    }
  }
  for (size_t k = 0; k < mon.trets.size(); ++k) {
    Mira(mon.trets[k].x, mon.trets[k].y, RADI_TRET, OBJ_TRET, static_cast<int>(k));
  }
  for (size_t k = 0; k < mon.objectes.size(); ++k) {
    Mira(mon.objectes[k].x, mon.objectes[k].y, RADI_OBJECTE, mon.objectes[k].tipus,
         static_cast<int>(k));
  }
  return millor;
}

uint64_t t_atzar::Seguent() {
  // splitmix64: fixed arithmetic, so a seed gives the same match everywhere.
  uint64_t z = (estat += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

double t_atzar::Uniforme(double a, double b) {
  return a + (b - a) * static_cast<double>(Seguent() >> 11) * 0x1.0p-53;
}

}  // namespace arena
