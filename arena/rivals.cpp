// The arena's built-in opponents, real robot programs behind the same line protocol: RODAMON
// drives around and turns away from walls; CACADOR also scans, turns towards what it sees and
// shoots back. Neither asks for wake-up signals: each waits on its input with poll().
#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

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

void Missatge(const std::string& linia) {
  std::istringstream in(linia);
  std::string paraula;
  in >> paraula;
  if (paraula == "Initialize") {
    Diu(caca ? "Name Cacador" : "Name Rodamon");
    Diu(caca ? "Colour 0xd64b2b 0x802020" : "Colour 0x2ba84a 0x206030");
  } else if (paraula == "GameOption") {
    int o = -1;
    double v = 0;
    in >> o >> v;
    if (o == 1) gir_canyo = v;
  } else if (paraula == "GameStarts") {
    darrer_gir = 0;  // a new game: its clock starts again at 0
    Diu("Accelerate 0.5");
    if (caca) Diu("Rotate 6 " + std::to_string(gir_canyo));
  } else if (paraula == "Info") {
    double t = 0;
    in >> t;
    if (t - darrer_gir > 5) {  // a change of course now and then
      darrer_gir = t;
      Diu("RotateAmount 1 0.785398 0.9");
    }
  } else if (paraula == "Collision") {
    int tipus = -1;
    in >> tipus;
    if (tipus == 2) Diu("RotateAmount 1 0.785398 2.5");
  } else if (paraula == "Radar" && caca) {
    double d = 0, a = 0;
    int tipus = -1;
    in >> d >> tipus >> a;
    if (tipus == 0) {
      Diu("Shoot 2");
      char l[96];
      std::snprintf(l, sizeof l, "Sweep 6 %g %g %g", gir_canyo, a - 0.2, a + 0.2);
      Diu(l);
    }
  } else if (paraula == "ExitRobot") {
    _exit(0);
  }
}

}  // namespace

int main() {
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
