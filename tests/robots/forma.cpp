// A robot built otherwise than tavik, for the arena's tests: it asks for no signals, waits on its
// input with poll() and answers from a worker thread ("fils") or a helper process ("proces"), or
// takes more than its share: 200 MiB of memory ("memoria"), ten idle children ("processos") or
// ten children that ended and are never waited for ("zombis"); or it asks for signals and leaves
// them blocked in both its threads, where they stay pending ("senyals").
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

void Escriu(int fd, const std::string& text) {
  for (size_t fet = 0; fet < text.size();) {
    const ssize_t n = write(fd, text.data() + fet, text.size() - fet);
    if (n <= 0) return;
    fet += static_cast<size_t>(n);
  }
}

// The answer to one message: drive at the start, turn now and then, shoot at what the radar
// shows is a robot.
std::string Resposta(const std::string& linia) {
  std::istringstream in(linia);
  std::string paraula;
  in >> paraula;
  if (paraula == "GameStarts") return "Accelerate 0.4\nRotate 6 1\n";
  if (paraula == "Info") {
    double t = 0;
    in >> t;
    const long tick = std::lround(t * 20);
    if (tick % 60 == 30) return "RotateAmount 1 0.785398 1.2\n";
  }
  if (paraula == "Radar") {
    double distancia = 0;
    int tipus = -1;
    in >> distancia >> tipus;
    if (tipus == 0) return "Shoot 1\n";
  }
  return "";
}

// Hands each line to `tracta` as it arrives; returns at ExitRobot or at the end of input.
template <class F>
void Llegeix(F tracta) {
  std::string pendent;
  char buf[4096];
  for (;;) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (poll(&p, 1, -1) < 0) continue;
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n == 0) return;
    if (n < 0) continue;
    pendent.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = pendent.find('\n')) != std::string::npos;) {
      const std::string linia = pendent.substr(0, nl);
      pendent.erase(0, nl + 1);
      if (linia == "ExitRobot") return;
      tracta(linia);
    }
  }
}

void AmbFil() {
  std::mutex m;
  std::condition_variable cv;
  std::deque<std::string> cua;
  bool fi = false;
  std::thread treballador([&] {
    std::unique_lock<std::mutex> l(m);
    for (;;) {
      cv.wait(l, [&] { return fi || !cua.empty(); });
      if (cua.empty()) return;
      const std::string linia = cua.front();
      cua.pop_front();
      Escriu(STDOUT_FILENO, Resposta(linia));
    }
  });
  Llegeix([&](const std::string& linia) {
    std::lock_guard<std::mutex> l(m);
    cua.push_back(linia);
    cv.notify_one();
  });
  {
    std::lock_guard<std::mutex> l(m);
    fi = true;
  }
  cv.notify_one();
  treballador.join();
}

void AmbProces() {
  int tub[2];
  if (pipe(tub) != 0) std::exit(1);
  const pid_t ajudant = fork();
  if (ajudant < 0) std::exit(1);
  if (ajudant == 0) {
    close(tub[1]);
    close(STDIN_FILENO);
    std::string pendent;
    char buf[4096];
    for (ssize_t n; (n = read(tub[0], buf, sizeof buf)) > 0;) {
      pendent.append(buf, static_cast<size_t>(n));
      for (size_t nl; (nl = pendent.find('\n')) != std::string::npos;) {
        Escriu(STDOUT_FILENO, Resposta(pendent.substr(0, nl)));
        pendent.erase(0, nl + 1);
      }
    }
    _exit(0);
  }
  close(tub[0]);
  Llegeix([&](const std::string& linia) { Escriu(tub[1], linia + "\n"); });
  close(tub[1]);
  waitpid(ajudant, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "fils";
  Escriu(STDOUT_FILENO, mode == "senyals" ? "RobotOption 0 1\n" : "RobotOption 1 1\n");
  if (mode == "proces") {
    AmbProces();
    return 0;
  }
  if (mode == "memoria") {
    static std::vector<char> molt(200u << 20);
    std::memset(molt.data(), 1, molt.size());
  }
  if (mode == "processos" || mode == "zombis") {
    for (int i = 0; i < 10; ++i) {
      if (fork() == 0) {
        if (mode == "processos") pause();
        _exit(0);
      }
    }
  }
  AmbFil();
  return 0;
}
