// Start-up of the robot: installs the wake-up handler, announces the robot options, then idles
// until a message asks it to exit. All message handling happens inside the handler.
#include <unistd.h>

#include <csignal>

#include "actua/actua.h"
#include "tavik/tavik.h"

int main() {
  // A closed command pipe loses the line rather than killing the robot.
  std::signal(SIGPIPE, SIG_IGN);
  // Stays installed for every delivery, holds SIGUSR1 while it runs, and lets interrupted
  // system calls resume: what signal() means on glibc, said explicitly.
  struct sigaction accio {};
  accio.sa_handler = BucleMissatges;
  accio.sa_flags = SA_RESTART;
  sigemptyset(&accio.sa_mask);
  sigaction(SIGUSR1, &accio, nullptr);
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_UNBLOCK, &usr1, nullptr);

  DoOption(3, 1);
  DoOption(0, 1);
  DoOption(1, 1);
  DoPrint(" [i] El tramix me ha dejado incompleto :'(");

  do {
    sleep(1);
  } while (robot.exit_requested == 0);
  return 0;
}
