// The protocol's text read and written in one place: which word starts a command, how its numbers
// are read (a decimal comma is a point), what is warned of, and how numbers are written.
#include "arena/protocol.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <locale>
#include <sstream>
#include <type_traits>
#include <utility>

namespace arena {

namespace {

// A stream over a line's fields, past its first word, that reads numbers with a point whatever
// the locale.
std::istringstream Camps(const std::string& linia) {
  std::istringstream in(linia);
  in.imbue(std::locale::classic());
  std::string paraula;
  in >> paraula;
  return in;
}

bool Real(std::istream& in, double& x) {
  in >> x;
  return !in.fail() && std::isfinite(x);
}

t_lectura Refusa(int codi, const std::string& linia) {
  return {std::nullopt, t_advertiment{codi, linia}};
}

t_lectura Pren(t_comanda comanda) {
  return {std::move(comanda), std::nullopt};
}

// The commands that move things. Their word and numbers are split at any white space.
std::optional<t_comanda> LlegeixMoviment(const std::string& linia) {
  std::istringstream in(AmbPunts(linia));
  in.imbue(std::locale::classic());
  std::string paraula;
  in >> paraula;
  double a = 0, b = 0, c = 0;
  if (paraula == "Accelerate" && Real(in, a)) return t_accelera{a};
  if (paraula == "Brake" && Real(in, a)) return t_frena{a};
  if (paraula == "Shoot" && Real(in, a)) return t_dispara{a};
  if (paraula != "Rotate" && paraula != "RotateTo" && paraula != "RotateAmount" &&
      paraula != "Sweep") {
    return std::nullopt;
  }
  int parts = -1;
  in >> parts;
  if (in.fail() || parts < 0 || parts > 7 || !Real(in, a)) return std::nullopt;
  if (paraula == "Rotate") return t_gira{parts, a};
  if (!Real(in, b)) return std::nullopt;
  if (paraula == "RotateTo") return t_gira_fins{parts, a, b};
  if (paraula == "RotateAmount") return t_gira_quant{parts, a, b};
  if (!Real(in, c)) return std::nullopt;
  return t_escombra{parts, a, b, c};
}

// Name NAME: the first word after the command; more than one is cut, and said.
t_lectura LlegeixNom(const std::string& linia) {
  std::istringstream in(linia);
  std::string paraula, resta;
  in >> paraula;
  std::getline(in >> std::ws, resta);
  const size_t blanc = resta.find_first_of(" \t");
  const std::string nom = resta.substr(0, blanc);
  if (!NomValid(nom)) return Refusa(1, linia);
  t_lectura l = Pren(t_nom{nom});
  if (blanc != std::string::npos) l.avis = t_advertiment{2, "name cut at its first blank: " + nom};
  return l;
}

// Colour FIRST SECOND: the first must be a colour; a second that is none is left out.
t_lectura LlegeixColors(const std::string& linia) {
  std::istringstream in(linia);
  std::string paraula, primer, segon;
  in >> paraula >> primer >> segon;
  const std::string color = LlegeixColor(primer);
  if (color.empty()) return Refusa(1, linia);
  return Pren(t_colors{color, LlegeixColor(segon)});
}

t_lectura LlegeixDibuix(bool linia_recta, const std::string& linia) {
  std::istringstream in = Camps(AmbPunts(linia));
  double x[4] = {};
  for (int k = 0; k < (linia_recta ? 4 : 3); ++k) {
    if (!Real(in, x[k])) return Refusa(1, linia);
  }
  if (linia_recta) return Pren(t_dibuixa_linia{x[0], x[1], x[2], x[3]});
  return Pren(t_dibuixa_cercle{x[0], x[1], x[2]});
}

// RobotOption OPTION VALUE: options 0 to 4 exist; others are warned of with code 3.
t_lectura LlegeixOpcio(const std::string& linia) {
  std::istringstream in = Camps(AmbPunts(linia));
  int opcio = -1, valor = 0;
  in >> opcio >> valor;
  if (in.fail() || opcio < 0 || opcio > 4) return Refusa(3, linia);
  return Pren(t_opcio_robot{opcio, valor});
}

// A field of a line. Numbers as the arena has always written them: six significant digits, a
// point, no trailing zeros (printf's %g in the C locale, whatever the locale is), formatted
// without a stream: a stream and its locale cost more than the rest of a line.
void Camp(std::string& o, double x) {
  char b[32];  // "-1.23457e+308" at the longest
  o.append(b, std::to_chars(b, b + sizeof b, x, std::chars_format::general, 6).ptr);
}
void Camp(std::string& o, int x) {
  char b[16];
  o.append(b, std::to_chars(b, b + sizeof b, x).ptr);
}
void Camp(std::string& o, const std::string& text) {
  o += text;
}

// A line of words and numbers, added to `o`.
template <typename... T>
void Uneix(std::string& o, const char* paraula, const T&... camps) {
  o += paraula;
  ((o += ' ', Camp(o, camps)), ...);
}
template <typename... T>
std::string Uneix(const char* paraula, const T&... camps) {
  std::string o;
  Uneix(o, paraula, camps...);
  return o;
}

// "#rrggbb" as the protocol writes it.
std::string Hex(const std::string& color) {
  return "0x" + color.substr(std::min<size_t>(1, color.size()));
}

}  // namespace

t_lectura LlegeixComanda(const std::string& linia) {
  if (linia.size() > kMaxLinia) return {std::nullopt, t_advertiment{1, "line too long"}};
  // The command's word is what comes before the first space or tab; the commands that move
  // things are then looked for as they always were, split at any white space.
  const size_t inici = linia.find_first_not_of(" \t");
  const size_t fi = inici == std::string::npos ? inici : linia.find_first_of(" \t", inici);
  const std::string paraula = inici == std::string::npos ? "" : linia.substr(inici, fi - inici);
  const std::string text = fi == std::string::npos ? "" : linia.substr(fi + 1);
  if (paraula == "Print") return Pren(t_escriu{text});
  if (paraula == "Debug") return Pren(t_depura{text});
  if (paraula == "Name") return LlegeixNom(linia);
  if (paraula == "Colour") return LlegeixColors(linia);
  if (paraula == "DebugLine" || paraula == "DebugCircle") {
    return LlegeixDibuix(paraula == "DebugLine", linia);
  }
  if (paraula == "RobotOption") return LlegeixOpcio(linia);
  if (std::optional<t_comanda> c = LlegeixMoviment(linia)) return Pren(std::move(*c));
  return Refusa(1, linia);
}

std::string Linia(const t_comanda& comanda) {
  return std::visit(
      [](const auto& c) -> std::string {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, t_accelera>) {
          return Uneix("Accelerate", c.accel);
        } else if constexpr (std::is_same_v<T, t_frena>) {
          return Uneix("Brake", c.fre);
        } else if constexpr (std::is_same_v<T, t_dispara>) {
          return Uneix("Shoot", c.energia);
        } else if constexpr (std::is_same_v<T, t_gira>) {
          return Uneix("Rotate", c.parts, c.vel);
        } else if constexpr (std::is_same_v<T, t_gira_fins>) {
          return Uneix("RotateTo", c.parts, c.vel, c.angle);
        } else if constexpr (std::is_same_v<T, t_gira_quant>) {
          return Uneix("RotateAmount", c.parts, c.vel, c.angle);
        } else if constexpr (std::is_same_v<T, t_escombra>) {
          return Uneix("Sweep", c.parts, c.vel, c.esquerra, c.dreta);
        } else if constexpr (std::is_same_v<T, t_escriu>) {
          return Uneix("Print", c.text);
        } else if constexpr (std::is_same_v<T, t_depura>) {
          return Uneix("Debug", c.text);
        } else if constexpr (std::is_same_v<T, t_dibuixa_linia>) {
          return Uneix("DebugLine", c.x1, c.y1, c.x2, c.y2);
        } else if constexpr (std::is_same_v<T, t_dibuixa_cercle>) {
          return Uneix("DebugCircle", c.x, c.y, c.radi);
        } else if constexpr (std::is_same_v<T, t_nom>) {
          return Uneix("Name", c.nom);
        } else if constexpr (std::is_same_v<T, t_colors>) {
          return c.segon.empty() ? Uneix("Colour", Hex(c.primer))
                                 : Uneix("Colour", Hex(c.primer), Hex(c.segon));
        } else {
          static_assert(std::is_same_v<T, t_opcio_robot>);
          return Uneix("RobotOption", c.opcio, c.valor);
        }
      },
      comanda);
}

void AfegeixLinia(std::string& o, const t_missatge_arena& missatge) {
  std::visit(
      [&o](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, t_inicia>) {
          Uneix(o, "Initialize", m.primer);
        } else if constexpr (std::is_same_v<T, t_nom_donat>) {
          Uneix(o, "YourName", m.nom);
        } else if constexpr (std::is_same_v<T, t_color_donat>) {
          Uneix(o, "YourColour", Hex(m.color));
        } else if constexpr (std::is_same_v<T, t_opcio_joc>) {
          Uneix(o, "GameOption", m.opcio, m.valor);
        } else if constexpr (std::is_same_v<T, t_comenca>) {
          o += "GameStarts";
        } else if constexpr (std::is_same_v<T, t_info>) {
          Uneix(o, "Info", m.temps, m.vel, m.canyo);
        } else if constexpr (std::is_same_v<T, t_coordenades>) {
          Uneix(o, "Coordinates", m.x, m.y, m.rumb);
        } else if constexpr (std::is_same_v<T, t_radar>) {
          Uneix(o, "Radar", m.distancia, m.tipus, m.angle);
        } else if constexpr (std::is_same_v<T, t_info_robot>) {
          Uneix(o, "RobotInfo", m.energia, m.company);
        } else if constexpr (std::is_same_v<T, t_xoc>) {
          Uneix(o, "Collision", m.tipus, m.angle);
        } else if constexpr (std::is_same_v<T, t_gir_acabat>) {
          Uneix(o, "RotationReached", m.parts);
        } else if constexpr (std::is_same_v<T, t_energia>) {
          Uneix(o, "Energy", m.energia);
        } else if constexpr (std::is_same_v<T, t_vius>) {
          Uneix(o, "RobotsLeft", m.robots);
        } else if constexpr (std::is_same_v<T, t_advertiment>) {
          Uneix(o, "Warning", m.codi, m.text);
        } else if constexpr (std::is_same_v<T, t_mort>) {
          o += "Dead";
        } else if constexpr (std::is_same_v<T, t_acaba>) {
          o += "GameFinishes";
        } else {
          static_assert(std::is_same_v<T, t_surt>);
          o += "ExitRobot";
        }
      },
      missatge);
}

std::string Linia(const t_missatge_arena& missatge) {
  std::string o;
  AfegeixLinia(o, missatge);
  return o;
}

namespace {

// What follows a message's word and one blank, whole: a warning's text, a name.
std::string Resta(std::istream& in) {
  std::string resta;
  in.get();
  std::getline(in, resta);
  return resta;
}

// The fields of a message with numbers only; nothing if one is missing.
template <typename T, typename... C>
std::optional<t_missatge_arena> Numeric(std::istream& in, C... camps) {
  T m{};
  const bool ok = (static_cast<bool>(in >> m.*camps) && ...);
  if (!ok) return std::nullopt;
  return m;
}

}  // namespace

std::optional<t_missatge_arena> LlegeixMissatge(const std::string& linia) {
  std::istringstream in(linia);
  in.imbue(std::locale::classic());
  std::string w;
  in >> w;
  if (w == "GameStarts") return t_comenca{};
  if (w == "Dead") return t_mort{};
  if (w == "GameFinishes") return t_acaba{};
  if (w == "ExitRobot") return t_surt{};
  if (w == "Initialize") return Numeric<t_inicia>(in, &t_inicia::primer);
  if (w == "GameOption") return Numeric<t_opcio_joc>(in, &t_opcio_joc::opcio, &t_opcio_joc::valor);
  if (w == "Info") return Numeric<t_info>(in, &t_info::temps, &t_info::vel, &t_info::canyo);
  if (w == "Coordinates") {
    return Numeric<t_coordenades>(in, &t_coordenades::x, &t_coordenades::y, &t_coordenades::rumb);
  }
  if (w == "Radar") {
    return Numeric<t_radar>(in, &t_radar::distancia, &t_radar::tipus, &t_radar::angle);
  }
  if (w == "RobotInfo") {
    return Numeric<t_info_robot>(in, &t_info_robot::energia, &t_info_robot::company);
  }
  if (w == "Collision") return Numeric<t_xoc>(in, &t_xoc::tipus, &t_xoc::angle);
  if (w == "RotationReached") return Numeric<t_gir_acabat>(in, &t_gir_acabat::parts);
  if (w == "Energy") return Numeric<t_energia>(in, &t_energia::energia);
  if (w == "RobotsLeft") return Numeric<t_vius>(in, &t_vius::robots);
  if (w == "YourName") return t_nom_donat{Resta(in)};
  if (w == "YourColour") {
    std::string hex;
    in >> hex;
    const std::string color = LlegeixColor(hex);
    if (color.empty()) return std::nullopt;
    return t_color_donat{color};
  }
  if (w == "Warning") {
    int codi = 0;
    if (!(in >> codi)) return std::nullopt;
    return t_advertiment{codi, Resta(in)};
  }
  return std::nullopt;
}

std::string AmbPunts(std::string linia) {
  std::replace(linia.begin(), linia.end(), ',', '.');
  return linia;
}

std::string LlegeixColor(std::string text) {
  if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text.erase(0, 2);
  if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return "";
  }
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return "#" + text;
}

bool NomValid(const std::string& nom) {
  return !nom.empty() && std::all_of(nom.begin(), nom.end(), [](unsigned char c) {
    return c > 0x20 && c < 0x7f && c != '#';
  });
}

}  // namespace arena
