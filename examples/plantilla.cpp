// A robot for the practice arena, as small as a useful one can be: a starting point.
// Build: c++ -std=c++17 -O2 -o plantilla examples/plantilla.cpp; run: ./build/arena ./plantilla
// diana
//
// The arena writes one message per line on our standard input and reads one command per line
// from our standard output. Our input is non-blocking, so we wait for it with poll() and read
// whatever is there; a message may arrive in pieces, so we keep the unfinished end of the input
// until its newline comes. We never ask for wake-up signals (RobotOption 0): poll() wakes us.
#include <poll.h>
#include <unistd.h>

#include <sstream>
#include <string>

// One command, one line, one write: the arena reads it as soon as it is out.
void Send(const std::string& command) {
  const std::string line = command + "\n";
  for (size_t done = 0; done < line.size();) {
    const ssize_t n = write(STDOUT_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) return;  // the arena has gone
    done += static_cast<size_t>(n);
  }
}

// Reacts to one message; false when it is time to end.
bool Handle(std::string line) {
  for (char& c : line) c = c == ',' ? '.' : c;  // numbers may come with a decimal comma
  std::istringstream in(line);
  std::string message;
  in >> message;
  if (message == "Initialize") {
    int first = 0;
    in >> first;
    if (first) {
      Send("Name Plantilla");
      Send("Colour 0x2ba84a 0x208040");  // our colour, and a second choice if it is taken
    }
  } else if (message == "GameStarts") {
    Send("Rotate 6 1.5");  // spin cannon (2) and radar (4) together
    Send("Accelerate 0.3");
  } else if (message == "Radar") {
    double distance = 0, angle = 0;
    int kind = -1;
    in >> distance >> kind >> angle;
    if (kind == 0 && distance < 20) Send("Shoot 1");  // a robot in front of the cannon: fire
  } else if (message == "Collision") {
    Send("RotateAmount 1 0.785398 1.57");  // turn the body a quarter turn away
  } else if (message == "Dead") {
    Send("Print that hurt");  // goes to the transcript and the replay's log
  } else if (message == "ExitRobot") {
    return false;
  }
  return true;
}

int main() {
  std::string pending;
  char buffer[65536];
  for (;;) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    poll(&input, 1, -1);
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0) return 0;  // the arena has gone
    if (n < 0) continue;   // nothing after all: wait again
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!Handle(line)) return 0;
    }
  }
}
