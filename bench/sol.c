/* The floor: the robot's I/O contract and nothing else. It writes the start-up lines, reads every
   waiting line on SIGUSR1 and answers each with one line in one write(2); it exits on ExitRobot. */
#include <errno.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

static const char* const noms[] = {
    "Initialize", "YourName",    "YourColour", "GameOption",      "GameStarts", "Radar",
    "Info",       "Coordinates", "RobotInfo",  "RotationReached", "Energy",     "RobotsLeft",
    "Collision",  "Warning",     "Dead",       "GameFinishes",    "ExitRobot"};

static volatile sig_atomic_t sortir;
static char buf[1 << 16];
static size_t ple;

static void Escriu(const char* s) {
  size_t n = strlen(s);
  while (n > 0) {
    ssize_t w = write(STDOUT_FILENO, s, n);
    if (w > 0) {
      s += w;
      n -= (size_t)w;
    } else if (errno != EINTR) {
      return;
    }
  }
}

static void Respon(char* linia, size_t n) {
  size_t i = 0, fi;
  while (i < n && (linia[i] == ' ' || linia[i] == '\t')) ++i;
  fi = i;
  while (fi < n && linia[fi] != ' ' && linia[fi] != '\t') ++fi;
  for (size_t k = 0; k < sizeof noms / sizeof *noms; ++k) {
    if (strlen(noms[k]) == fi - i && memcmp(noms[k], linia + i, fi - i) == 0) {
      if (k == 16) sortir = 1;
      Escriu("Print ok\n");
      return;
    }
  }
  Escriu("Print Missatge desconegut!\n");
}

static void Llegeix(int sig) {
  int desat = errno;
  (void)sig;
  for (;;) {
    ssize_t r = read(STDIN_FILENO, buf + ple, sizeof buf - ple);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    ple += (size_t)r;
    size_t inici = 0;
    for (char* nl; (nl = memchr(buf + inici, '\n', ple - inici)) != NULL;) {
      Respon(buf + inici, (size_t)(nl - (buf + inici)));
      inici = (size_t)(nl - buf) + 1;
    }
    memmove(buf, buf + inici, ple - inici);
    ple -= inici;
    if (ple == sizeof buf) ple = 0; /* a line longer than the buffer is dropped */
  }
  errno = desat;
}

int main(void) {
  sigset_t usr1;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = Llegeix;
  sa.sa_flags = SA_RESTART; /* stays installed; SIGUSR1 is held while it runs */
  sigemptyset(&sa.sa_mask);
  signal(SIGPIPE, SIG_IGN);
  sigaction(SIGUSR1, &sa, NULL);
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_UNBLOCK, &usr1, NULL);
  Escriu("RobotOption 3 1\n");
  Escriu("RobotOption 0 1\n");
  Escriu("RobotOption 1 1\n");
  Escriu("Print  [i] floor\n");
  do {
    sleep(1);
  } while (!sortir);
  return 0;
}
