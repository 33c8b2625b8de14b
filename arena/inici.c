/* The first process of a robot's sandbox, exec'd by the arena once the sandbox is made (see
   arena/proces.cpp): a program of its own, so that it holds no copy of the arena's memory. */
#define _GNU_SOURCE
#include <errno.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

/* Descriptors it is given: the channel to the arena, and the robot's go-ahead to exec. */
enum { kControl = 4, kVia = 6 };

/* As the arena reads it: the robot's wait status and what it and its processes used. */
struct final {
  int estat;
  struct rusage us;
};

/* inici ROBOT: ROBOT is the robot's pid in the sandbox, a child that waits for the go-ahead. */
int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const pid_t robot = (pid_t)atoi(argv[1]);
  /* No process of the robot may look into it: its files in /proc become root's. Only then may
     the robot exec. */
  prctl(PR_SET_DUMPABLE, 0);
  close(kVia);
  char via = 0;
  /* The arena says when it has taken the robot's pid; until then the robot stays our child. */
  if (read(kControl, &via, 1) != 1) return 0;
  for (;;) {
    struct final f = {0};
    const pid_t fill = wait4(-1, &f.estat, __WALL, NULL);
    if (fill == robot) {
      /* With what the robot and every process reaped so far used: not its own. */
      getrusage(RUSAGE_CHILDREN, &f.us);
      return write(kControl, &f, sizeof f) == (ssize_t)sizeof f ? 0 : 1;
    }
    if (fill < 0 && errno == ECHILD) return 0;
  }
}
