/* The arena's floor: a lock-step parent that does per tick only what no arena can do without,
   to measure the arena's cost per tick against. sol_arena TICKS PROGRAM...

   Each robot is started as the arena starts one without a sandbox (its input a non-blocking
   pipe, SIGUSR1 blocked across the exec). Per tick and robot: one write(2) of the two lines a
   tick brings the floor robot (Info and Radar), one SIGUSR1; then per robot, like the arena, it
   cannot count on an answer: it waits on the robot's output with ppoll, drains it, and looks
   into /proc (stat, and syscall when asleep) with one pread each on descriptors kept open, until
   the robot is found asleep in a waiting system call. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define MAX_ROBOTS 8

struct robot {
  pid_t pid;
  int entrada, sortida; /* our ends of its input and output */
  int stat, crida;      /* /proc/PID/stat and /proc/PID/syscall, kept open */
};

static char buf[1 << 16];

static int Engega(struct robot* r, char* programa) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC | O_NONBLOCK) != 0 || pipe2(out, O_CLOEXEC) != 0) return -1;
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  sigset_t usr1, abans;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_BLOCK, &usr1, &abans);
  r->pid = fork();
  if (r->pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    char* args[] = {programa, NULL};
    execv(programa, args);
    _exit(127);
  }
  sigprocmask(SIG_SETMASK, &abans, NULL);
  close(in[0]);
  close(out[1]);
  if (r->pid < 0) return -1;
  r->entrada = in[1];
  r->sortida = out[0];
  char cami[64];
  snprintf(cami, sizeof cami, "/proc/%d/stat", r->pid);
  r->stat = open(cami, O_RDONLY | O_CLOEXEC);
  snprintf(cami, sizeof cami, "/proc/%d/syscall", r->pid);
  r->crida = open(cami, O_RDONLY | O_CLOEXEC);
  return r->stat >= 0 && r->crida >= 0 ? 0 : -1;
}

/* Asleep in a system call that waits (the floor robot's sleep or its read), or ended. */
static int Dorm(const struct robot* r) {
  char s[512];
  const ssize_t n = pread(r->stat, s, sizeof s - 1, 0);
  if (n <= 0) return 1;
  s[n] = '\0';
  const char* tancat = strrchr(s, ')');
  if (!tancat || tancat[1] == '\0') return 1;
  if (tancat[2] == 'Z') return 1;
  if (tancat[2] != 'S') return 0;
  const ssize_t m = pread(r->crida, s, sizeof s - 1, 0);
  if (m <= 0) return 1;
  s[m] = '\0';
  const long crida = strtol(s, NULL, 10);
  return s[0] != 'r' && (crida == SYS_read || crida == SYS_clock_nanosleep ||
                         crida == SYS_nanosleep || crida == SYS_restart_syscall);
}

static void Espera(const struct robot* r) {
  long espera = 10000; /* ns, doubled up to a millisecond, as the arena waits */
  for (;;) {
    struct pollfd p = {r->sortida, POLLIN, 0};
    const struct timespec pausa = {0, espera};
    ppoll(&p, 1, &pausa, NULL);
    while (read(r->sortida, buf, sizeof buf) == (ssize_t)sizeof buf) {
    }
    if (Dorm(r)) return;
    espera = espera < 500000 ? espera * 2 : 1000000;
  }
}

int main(int argc, char** argv) {
  if (argc < 3 || argc - 2 > MAX_ROBOTS) {
    fprintf(stderr, "usage: sol_arena TICKS PROGRAM...\n");
    return 2;
  }
  const long ticks = strtol(argv[1], NULL, 10);
  const int n = argc - 2;
  struct robot robots[MAX_ROBOTS];
  signal(SIGPIPE, SIG_IGN);
  for (int i = 0; i < n; ++i) {
    if (Engega(&robots[i], argv[i + 2]) != 0) {
      perror(argv[i + 2]);
      return 1;
    }
  }
  for (long t = 0; t < ticks; ++t) {
    char lot[128];
    const int mida = snprintf(lot, sizeof lot, "Info %g 0 0\nRadar 17.9001 2 0\n", t * 0.05);
    for (int i = 0; i < n; ++i) {
      if (write(robots[i].entrada, lot, (size_t)mida) != mida) return 1;
      kill(robots[i].pid, SIGUSR1);
    }
    for (int i = 0; i < n; ++i) Espera(&robots[i]);
  }
  for (int i = 0; i < n; ++i) {
    if (write(robots[i].entrada, "ExitRobot\n", 10) != 10) return 1;
    kill(robots[i].pid, SIGUSR1);
  }
  for (int i = 0; i < n; ++i) {
    int estat;
    while (waitpid(robots[i].pid, &estat, 0) < 0 && errno == EINTR) {
    }
  }
  return 0;
}
