// The arena's built-in opponents, real robot programs behind the same line protocol: RODAMON
// drives around and turns away from walls; CACADOR also scans, turns towards what it sees and
// shoots back. Neither asks for wake-up signals: each waits on its input with poll().
#include <poll.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <variant>

#include "arena/protocol.h"

namespace arena {
namespace {

bool caca = false;  // set for the hunter
double darrer_gir = 0;
double gir_canyo = 1.5708;

void Diu(const std::string& linia) {
  const std::string l = linia + "\n";
  for (size_t fet = 0; fet < l.size();) {
    const ssize_t n = write(STDOUT_FILENO, l.data() + fet, l.size() - fet);
    if (n <= 0) return;
    fet += static_cast<size_t>(n);
  }
}

void Diu(const t_comanda& comanda) {
  Diu(Linia(comanda));
}

void Missatge(const std::string& linia) {
  const std::optional<t_missatge_arena> llegit = LlegeixMissatge(linia);
  if (!llegit) return;
  const t_missatge_arena& m = *llegit;
  if (std::holds_alternative<t_inicia>(m)) {
    Diu(t_nom{caca ? "Cacador" : "Rodamon"});
    Diu(caca ? t_colors{"#d64b2b", "#802020"} : t_colors{"#2ba84a", "#206030"});
  } else if (const auto* o = std::get_if<t_opcio_joc>(&m)) {
    if (o->opcio == 1) gir_canyo = o->valor;
  } else if (std::holds_alternative<t_comenca>(m)) {
    darrer_gir = 0;  // a new game: its clock starts again at 0
    Diu(t_accelera{0.5});
    // Its speed written with six decimals, as this opponent has always written it.
    if (caca) Diu("Rotate 6 " + std::to_string(gir_canyo));
  } else if (const auto* info = std::get_if<t_info>(&m)) {
    if (info->temps - darrer_gir > 5) {  // a change of course now and then
      darrer_gir = info->temps;
      Diu(t_gira_quant{PART_COS, 0.785398, 0.9});
    }
  } else if (const auto* xoc = std::get_if<t_xoc>(&m)) {
    if (xoc->tipus == OBJ_PARET) Diu(t_gira_quant{PART_COS, 0.785398, 2.5});
  } else if (const auto* radar = std::get_if<t_radar>(&m); radar && caca) {
    if (radar->tipus == OBJ_ROBOT) {
      Diu(t_dispara{2});
      Diu(t_escombra{PART_CANYO | PART_RADAR, gir_canyo, radar->angle - 0.2, radar->angle + 0.2});
    }
  } else if (std::holds_alternative<t_surt>(m)) {
    _exit(0);
  }
}

}  // namespace
}  // namespace arena

int main() {
  using namespace arena;
#ifdef RIVAL_CACADOR
  caca = true;
#endif
  std::string rebut;
  char buf[4096];
  for (;;) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    poll(&p, 1, -1);
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n == 0) return 0;
    if (n < 0) continue;
    rebut.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = rebut.find('\n')) != std::string::npos; rebut.erase(0, nl + 1)) {
      Missatge(rebut.substr(0, nl));
    }
  }
}
