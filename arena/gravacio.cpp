// What the match loop adds to a game's recording, frame by frame and line by line, within what
// each robot may leave in it.
#include "arena/gravacio.h"

#include <utility>

#include "arena/text.h"

namespace arena {

std::string Mida(size_t bytes) {
  return bytes % (1 << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                : std::to_string(bytes >> 10) + " KiB";
}

void GravaQuadre(t_resultat& r, double temps, const t_mon& mon) {
  r.quadres.push_back(
      {temps, mon.robots, mon.trets, std::vector<t_impacte>(mon.robots.size(), {0, -1, -1, 0})});
  for (auto& robot : r.quadres.back().robots) robot.gir[0] = robot.gir[1] = robot.gir[2] = {};
  // Cookies and mines only ever go: a change is a change of their number.
  if (r.objectes.empty() || r.objectes.back().second.size() != mon.objectes.size()) {
    r.objectes.emplace_back(temps, mon.objectes);
  }
}

void GravaRadar(t_resultat& r, int robot, const t_impacte& vist) {
  r.quadres.back().radar[static_cast<size_t>(robot)] = vist;
}

void GravaLinia(t_resultat& r, const t_pressupost& maxim, t_despesa& despesa, t_linia linia) {
  despesa.bytes_linies += linia.text.size();
  if (linia.sentit == '!' || despesa.bytes_linies <= maxim.linies) {
    r.linies.push_back(std::move(linia));
  } else if (!despesa.linies_tallades) {
    despesa.linies_tallades = true;
    r.linies.push_back({linia.tick, linia.robot, '!',
                        "exchange beyond " + Mida(maxim.linies) + " not kept for the replay"});
  }
}

void GravaNota(t_resultat& r, const t_pressupost& maxim, t_despesa& despesa, const t_nota& nota,
               bool dibuix) {
  const bool passa = dibuix ? ++despesa.dibuixos > maxim.dibuixos
                            : (despesa.bytes_text += nota.linia.size()) > maxim.text;
  if (!passa) {
    r.notes.push_back({nota.temps, nota.robot, TextNet(nota.linia)});
    return;
  }
  bool& tallat = dibuix ? despesa.dibuixos_tallats : despesa.text_tallat;
  if (tallat) return;
  tallat = true;
  r.notes.push_back(
      {nota.temps, nota.robot,
       dibuix ? "! drawings beyond " + std::to_string(maxim.dibuixos) + " not kept for the replay"
              : "! Print and Debug beyond " + Mida(maxim.text) + " not kept for the replay"});
}

}  // namespace arena
