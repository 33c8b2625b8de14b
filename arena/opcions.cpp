// The game options a match is played with, from the one table of options and what the match
// changes of it.
#include "arena/opcions.h"

#include <cmath>

namespace arena {

void OpcionsPerDefecte(double opcions[NUM_OPCIONS]) {
  for (const t_opcio& o : kOpcions) opcions[o.numero] = o.defecte;
}

void OpcionsDelJoc(const t_canvis_opcions& canvis, double durada, double opcions[NUM_OPCIONS]) {
  OpcionsPerDefecte(opcions);
  for (const t_opcio& o : kOpcions) {
    const double canvi = canvis[static_cast<std::size_t>(o.numero)];
    if (!std::isnan(canvi)) opcions[o.numero] = canvi;
  }
  opcions[OPT_DURADA] = durada;
}

}  // namespace arena
