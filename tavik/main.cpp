// Start-up of the robot: installs the wake-up handler, announces the robot options, then idles
// until a message asks it to exit. All message handling happens inside the handler.
#include <unistd.h>

#include <csignal>

#include "actua/actua.h"
#include "tavik/tavik.h"

namespace {

void MascaraUsr1(int com) {
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(com, &usr1, nullptr);
}

}  // namespace

int main() {
  // A closed command pipe loses the line rather than killing the robot.
  std::signal(SIGPIPE, SIG_IGN);
  // Held until the start-up lines are out: they are built on the heap, and a handler that ran
  // inside one of their allocations would enter the allocator again. A signal that comes
  // meanwhile waits, pending, and is taken as soon as SIGUSR1 is unblocked.
  MascaraUsr1(SIG_BLOCK);
  // Stays installed for every delivery, holds SIGUSR1 while it runs, and lets interrupted
  // system calls resume: what signal() means on glibc, said explicitly.
  struct sigaction accio {};
  accio.sa_handler = BucleMissatges;
  accio.sa_flags = SA_RESTART;
  sigemptyset(&accio.sa_mask);
  sigaction(SIGUSR1, &accio, nullptr);

  DoOption(3, 1);
  DoOption(0, 1);
  DoOption(1, 1);
  DoPrint(" [i] El tramix me ha dejado incompleto :'(");
  MascaraUsr1(SIG_UNBLOCK);

  for (;;) {
    sleep(1);
    if (robot.exit_requested == 0) continue;
    // No delivery may run once main is on its way out: static destruction frees the queue and
    // the input buffers the handler works on. A delivery that came between the test and the
    // block may have started a new game, which takes the exit back.
    MascaraUsr1(SIG_BLOCK);
    if (robot.exit_requested != 0) return 0;
    MascaraUsr1(SIG_UNBLOCK);
  }
}
