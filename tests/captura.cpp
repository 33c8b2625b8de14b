// Recording writer and state reset shared by the unit tests.
#include "tests/captura.h"

#include "actua/actua.h"
#include "tavik/tavik.h"
#include "tests/reinicia.h"

namespace {

void Grava(const char* dades, size_t mida) {
  std::string linia(dades, mida);
  // A command must leave in one write: exactly one newline, at the end.
  EXPECT_TRUE(!linia.empty() && linia.back() == '\n') << linia;
  linia.pop_back();
  EXPECT_EQ(linia.find('\n'), std::string::npos) << linia;
  Capturades().push_back(linia);
}

}  // namespace

std::vector<std::string>& Capturades() {
  static std::vector<std::string> linies;
  return linies;
}

void Reinicia() {
  ReiniciaRobot(Grava);
  Capturades().clear();
}

std::vector<std::string> Envia(const std::string& linia) {
  const size_t abans = Capturades().size();
  DespatxaLinia(linia);
  return std::vector<std::string>(Capturades().begin() + static_cast<long>(abans),
                                  Capturades().end());
}
