// A robot for the arena's memory tests: at every tick it answers with Print lines of valid text
// adding up to the bytes its first argument says (just under the flood rule, as a rule); a
// second argument gives another first word for its lines.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

void Escriu(const std::string& text) {
  for (size_t fet = 0; fet < text.size();) {
    const ssize_t n = write(STDOUT_FILENO, text.data() + fet, text.size() - fet);
    if (n <= 0) return;
    fet += static_cast<size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const size_t per_tick = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
  // Lines of 1000 bytes, newline included, as many as fit.
  const std::string primera = argc > 2 ? argv[2] : "Print";
  const std::string linia = primera + " " + std::string(998 - primera.size(), 'x') + "\n";
  std::string lot;
  for (size_t k = 0; k + linia.size() <= per_tick; k += linia.size()) lot += linia;
  std::string pendent;
  char buf[4096];
  for (;;) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (poll(&p, 1, -1) < 0) continue;
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) return 0;
    pendent.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = pendent.find('\n')) != std::string::npos;) {
      const std::string paraula = pendent.substr(0, std::min(pendent.find(' '), nl));
      pendent.erase(0, nl + 1);
      if (paraula == "Info") Escriu(lot);
      if (paraula == "ExitRobot") return 0;
    }
  }
}
