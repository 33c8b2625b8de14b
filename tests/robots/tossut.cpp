// A robot that reads and ignores everything, ExitRobot included: the arena must kill it.
#include <poll.h>
#include <unistd.h>

int main() {
  char buf[4096];
  for (;;) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    poll(&p, 1, -1);
    if (read(STDIN_FILENO, buf, sizeof buf) == 0) pause();
  }
}
