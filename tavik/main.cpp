// Start-up of the robot: installs the wake-up handler, announces the robot options, then idles
// until a message asks it to exit. All message handling happens inside the handler.
#include <unistd.h>

#include <csignal>

#include "actua/actua.h"
#include "tavik/tavik.h"

int main() {
  // A closed command pipe loses the line rather than killing the robot.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGUSR1, BucleMissatges);  // glibc: stays installed, restarts interrupted calls
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
