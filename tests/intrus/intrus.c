/* Fault injection preloaded into a robot: raises SIGUSR1 from inside every heap call made while
   the signal can be delivered, and aborts if the heap is entered again; after the program's own
   static destructors it puts fresh lines on standard input and raises SIGUSR1 once more. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <signal.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);

static volatile sig_atomic_t dins = 0; /* heap calls in progress */

static void Diu(const char* text) {
  ssize_t r = write(STDERR_FILENO, text, strlen(text));
  (void)r;
}

/* A handler is installed and SIGUSR1 is not blocked: a signal now would run it at once. */
static int Lliurable(void) {
  struct sigaction accio;
  sigset_t mascara;
  if (sigaction(SIGUSR1, NULL, &accio) != 0 || sigprocmask(SIG_BLOCK, NULL, &mascara) != 0)
    return 0;
  if (accio.sa_handler == SIG_DFL || accio.sa_handler == SIG_IGN) return 0;
  return !sigismember(&mascara, SIGUSR1);
}

static void Entra(void) {
  if (dins) {
    Diu("intrus: the heap was entered again from a signal handler\n");
    abort();
  }
  dins = 1;
  if (Lliurable()) raise(SIGUSR1);
}

static void Surt(void) {
  dins = 0;
}

void* malloc(size_t mida) {
  Entra();
  void* p = __libc_malloc(mida);
  Surt();
  return p;
}

void* calloc(size_t n, size_t mida) {
  Entra();
  void* p = __libc_calloc(n, mida);
  Surt();
  return p;
}

void* realloc(void* vell, size_t mida) {
  Entra();
  void* p = __libc_realloc(vell, mida);
  Surt();
  return p;
}

void free(void* p) {
  if (p == NULL) return;
  Entra();
  __libc_free(p);
  Surt();
}

/* Writes `text` into our own standard input: opening a pipe's /proc entry opens the pipe. */
static int PosaAEntrada(const char* text) {
  const int fd = open("/proc/self/fd/0", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  const ssize_t n = write(fd, text, strlen(text));
  close(fd);
  return n == (ssize_t)strlen(text);
}

/* A line long enough that handling it allocates, waiting before main runs: the first SIGUSR1
   raised from a heap call finds something to handle. */
__attribute__((constructor)) static void Abans(void) {
  PosaAEntrada("Linia-desconeguda-prou-llarga-per-anar-al-heap\n");
}

/* Runs after the program's static destructors (a preloaded object is finalised after the
   program). A delivery now would work on destroyed objects; if the lines put here are read,
   one ran. */
__attribute__((destructor)) static void Despres(void) {
  if (!PosaAEntrada("Info 100 0 0\nInfo 101 0 0\nInfo 102 0 0\nRadar 1 0 0\n")) return;
  struct sigaction accio;
  if (sigaction(SIGUSR1, NULL, &accio) != 0 || accio.sa_handler == SIG_DFL) return;
  raise(SIGUSR1);
  int esperen = 0;
  if (ioctl(STDIN_FILENO, FIONREAD, &esperen) == 0 && esperen == 0) {
    Diu("intrus: a SIGUSR1 delivery ran after the static destructors\n");
    _exit(70);
  }
}
