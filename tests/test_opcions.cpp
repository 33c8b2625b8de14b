// The table of game options: every option a match file names reaches the physics, the robots'
// GameOption lines and the results records under its number; the others keep their defaults.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "arena/fitxer.h"
#include "arena/registre.h"
#include "tests/temporal.h"

using namespace arena;

namespace {

TEST(Opcions, EachNamedOptionGoesFromTheMatchFileToThePhysicsTheRobotsAndTheRecords) {
  const t_dir dir;
  // A value of its own for each option a file may name, none of them a default.
  std::map<int, double> posats;
  std::ofstream f(dir.cami + "/m.toml");
  f << "duration = 0.1\n[options]\n";
  for (const t_opcio& o : kOpcions) {
    if (!o.nom) continue;
    posats[o.numero] = 200.25 + o.numero;
    f << o.nom << " = " << posats[o.numero] << "\n";
  }
  f << "[[robot]]\nprogram = \"" << SONDA_BIN << " " << dir.cami << "/rebut\"\n";
  f.close();
  EXPECT_EQ(posats.size(), 10u);
  t_config c;
  std::string error;
  ASSERT_TRUE(LlegeixPartida(dir.cami + "/m.toml", "/rivals", c, error)) << error;
  t_mon mon;
  ASSERT_TRUE(Disposa(c, 1, mon, error)) << error;
  const json registrades = Empremta(c, t_torneig{})["options"];
  ASSERT_EQ(registrades.size(), static_cast<size_t>(NUM_OPCIONS));
  const t_resultat r = JugaPartida(c);
  ASSERT_FALSE(r.fitxes.empty());
  std::ifstream rebut(dir.cami + "/rebut");
  std::map<int, double> enviats;
  for (std::string paraula; rebut >> paraula;) {
    int numero = -1;
    double valor = 0;
    if (paraula == "GameOption" && rebut >> numero >> valor) enviats[numero] = valor;
  }
  ASSERT_EQ(enviats.size(), static_cast<size_t>(NUM_OPCIONS));
  for (const t_opcio& o : kOpcions) {
    const double esperat = o.numero == OPT_DURADA   ? 0.1
                           : posats.count(o.numero) ? posats[o.numero]
                                                    : o.defecte;
    EXPECT_EQ(mon.opcions[o.numero], esperat) << o.numero;
    EXPECT_EQ(enviats[o.numero], esperat) << o.numero;
    EXPECT_EQ(registrades[static_cast<size_t>(o.numero)].get<double>(), esperat) << o.numero;
  }
}

}  // namespace
