/* The first process of a robot's sandbox, exec'd by the arena once the sandbox is made (see
   arena/proces.cpp): a program of its own, so that it holds no copy of the arena's memory. */
#define _GNU_SOURCE
#include <errno.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>

/* Descriptors it is given: the channel to the arena, and the robot's go-ahead to exec. */
enum { kControl = 4, kVia = 6 };

/* As the arena reads it: the robot's wait status and what it and its processes used. */
struct final {
  int estat;
  struct rusage us;
};

/* Where the build knows the machine's system calls (INICI_SENSE_LIBC), the program is made
   without the C library: a static C library's start-up asks the processor about its caches and
   features, and on a virtual machine each question traps to the host; started once per robot,
   that was most of what a sandbox cost in CPU. It only makes system calls, without errno: a
   call returns -errno. */
#ifdef INICI_SENSE_LIBC

#if defined(__x86_64__)
static long Crida(long n, long a, long b, long c, long d) {
  long r;
  register long r10 __asm__("r10") = d;
  __asm__ volatile("syscall"
                   : "=a"(r)
                   : "a"(n), "D"(a), "S"(b), "d"(c), "r"(r10)
                   : "rcx", "r11", "memory");
  return r;
}
/* The kernel starts it with argc, argv... on the stack. */
__asm__(
    ".globl _start\n"
    "_start:\n"
    "  xor %rbp, %rbp\n"
    "  mov %rsp, %rdi\n"
    "  and $-16, %rsp\n"
    "  call Inici\n"
    "  hlt\n");
#elif defined(__aarch64__)
static long Crida(long n, long a, long b, long c, long d) {
  register long x8 __asm__("x8") = n;
  register long x0 __asm__("x0") = a;
  register long x1 __asm__("x1") = b;
  register long x2 __asm__("x2") = c;
  register long x3 __asm__("x3") = d;
  __asm__ volatile("svc #0" : "+r"(x0) : "r"(x8), "r"(x1), "r"(x2), "r"(x3) : "memory");
  return x0;
}
__asm__(
    ".globl _start\n"
    "_start:\n"
    "  mov x29, #0\n"
    "  mov x0, sp\n"
    "  bl Inici\n");
#else
#error "INICI_SENSE_LIBC is set for a machine whose system calls this file does not know"
#endif

/* The compiler may turn a structure's zeroing into a call to memset. */
void* memset(void* s, int c, unsigned long n) {
  unsigned char* p = s;
  while (n--) *p++ = (unsigned char)c;
  return s;
}

#else

#include <unistd.h>

static long Crida(long n, long a, long b, long c, long d) {
  const long r = syscall(n, a, b, c, d);
  return r < 0 ? -errno : r;
}

#endif

/* A pid as the arena writes it: decimal digits. */
static long Nombre(const char* p) {
  long n = 0;
  while (*p >= '0' && *p <= '9') n = n * 10 + (*p++ - '0');
  return n;
}

/* inici ROBOT: ROBOT is the robot's pid in the sandbox, a child that waits for the go-ahead. */
static int Init(int argc, char** argv) {
  if (argc < 2) return 2;
  const long robot = Nombre(argv[1]);
  /* No process of the robot may look into it: its files in /proc become root's. Only then may
     the robot exec. */
  Crida(SYS_prctl, PR_SET_DUMPABLE, 0, 0, 0);
  Crida(SYS_close, kVia, 0, 0, 0);
  char via = 0;
  /* The arena says when it has taken the robot's pid; until then the robot stays our child. */
  if (Crida(SYS_read, kControl, (long)&via, 1, 0) != 1) return 0;
  for (;;) {
    struct final f = {0};
    const long fill = Crida(SYS_wait4, -1, (long)&f.estat, __WALL, 0);
    if (fill == robot) {
      /* With what the robot and every process reaped so far used: not its own. */
      Crida(SYS_getrusage, RUSAGE_CHILDREN, (long)&f.us, 0, 0);
      return Crida(SYS_write, kControl, (long)&f, sizeof f, 0) == (long)sizeof f ? 0 : 1;
    }
    if (fill == -ECHILD) return 0;
  }
}

#ifdef INICI_SENSE_LIBC
__attribute__((noreturn, used)) void Inici(long* pila) {
  Crida(SYS_exit_group, Init((int)pila[0], (char**)(pila + 1)), 0, 0, 0);
  for (;;) {
  }
}
#else
int main(int argc, char** argv) {
  return Init(argc, argv);
}
#endif
