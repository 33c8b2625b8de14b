// The arena's side of the line protocol: starts a robot as an arena does, each in a sandbox of
// its own (PID and mount namespaces) and a process group of its own, feeds it message lines with
// a wake-up signal, reads its command lines, tells when it has finished its tick, and ends it
// with everything it started.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "arena/desenllac.h"

namespace arena {

// How to start a robot.
struct t_engegada {
  std::vector<std::string> ordre;  // the program (looked up in PATH without a '/') and arguments
  std::string err;                 // file for its standard error; empty: the caller's own
  // Put in the robot's output pipe first, the pipe shrunk to it, so that the robot's first
  // write finds the pipe full (for tests of a blocked writer).
  std::string previ;
  bool sortida_no_bloquejant = false;  // the robot's end of its output pipe non-blocking
  std::string entrada;                 // a file for its standard input instead of the pipe
  long max_fitxer_mib = 64;            // largest file it may write; 0: no limit
  // In a sandbox of its own, where this machine can make one (see SenseAillament): its own PID
  // namespace (it sees and can signal only its own processes), its own /proc, /tmp and
  // /dev/shm, and every process it starts ended with it. False: as a plain child process.
  bool aillat = true;
};

// Limits checked by the arena while the robot plays; 0 turns one off.
struct t_limits {
  long memoria_mib = 1024;  // resident memory of all its processes together
  int processos = 64;       // processes it may have at once, itself included
};

// A robot child process as the arena sees it.
struct t_fill {
  pid_t pid = -1;       // the robot's own process (as the arena sees it), also its group's id
  int entrada = -1;     // our end of the robot's standard input
  int sortida = -1;     // our end of the robot's standard output
  int pidfd = -1;       // the robot's: signals go through it; readable once the robot has ended
  bool aillat = false;  // in a sandbox: the fields below are its
  pid_t init = -1;      // the sandbox's first process (its pid 1): its end ends all in it
  int control = -1;     // from the init: the robot's wait status, once it has ended
  // The robot's stat, syscall and children files in /proc, and the init's children, kept open
  // from one look to the next; in a sandbox, its /tmp and /dev/shm, whose use is its memory.
  int fd_proc[4] = {-1, -1, -1, -1};
  int fd_tmp[2] = {-1, -1};
  // The last EsperaRepos found it asleep, its input read, and nothing has been sent or read
  // since: it has not ended but by some doing of its own after that look.
  bool adormit = false;
  std::string rebut;               // bytes of an unfinished command line
  std::deque<std::string> linies;  // command lines read and not yet taken
  size_t bytes_rebuts = 0;         // everything the robot has written so far
  int estat = -1;                  // wait status once reaped
  rusage us{};                     // its resource use, once reaped
  std::string marca;               // the tag its environment carries to every process it starts
  t_ocupacio ocupat;               // after a failed EsperaRepos: what it was doing
  t_motiu passat;                  // after a failed EsperaRepos: the limit it went over
  t_motiu error;                   // why Engega failed: NO_EXECUTA, or NO_ENGEGA (the arena's own)
};

// Starts a robot with SIGUSR1 blocked across the exec (the robot unblocks it once it can take
// it), its standard input a non-blocking pipe and its standard output a pipe, descriptors 0, 1
// and 2 only, in a process group of its own that ends with it, and with `engegada.aillat` in a
// sandbox of its own. False on failure, with `fill.error` saying why (the exec's own error
// included: a robot that cannot be run is never taken for one that exited).
bool Engega(t_fill& fill, const t_engegada& engegada);
// The same for several robots side by side: each one's start is begun before the first is
// waited for. Element i says whether robot i started.
std::vector<bool> EngegaJunts(const std::vector<t_fill*>& fills,
                              const std::vector<t_engegada>& engegades);
bool Engega(t_fill& fill, const std::string& cami, const std::string& previ = "");

// Why robots cannot be run in a sandbox here ("clone: Operation not permitted"), or empty if
// they can. Found out once per process, by making one; the first Engega that wanted a sandbox
// and could not have one says so once on standard error, and runs the robot without.
std::string SenseAillament();

// Splits a robot given as one text: an existing file is taken whole, anything else is a
// command and its arguments separated by blanks ("python3 bot.py").
std::vector<std::string> OrdreRobot(const std::string& robot);
// Why `ordre` cannot be started, or empty if it can: a program that is missing, a directory or
// not executable.
std::string NoEngegable(const std::vector<std::string>& ordre);

// Writes `dades` to the robot's input. When the pipe is full the robot is signalled so it reads,
// and its output is drained meanwhile, so neither side can block the other. False if the robot
// took nothing for `ms` milliseconds or is gone.
bool Escriu(t_fill& fill, const std::string& dades, int ms = 10000);
// Raises SIGUSR1 at the robot: lines wait.
void Senyala(t_fill& fill);
// Writes a batch of lines, each ended by a newline, then signals.
bool EnviaLot(t_fill& fill, const std::string& linies, int ms = 10000, bool senyal = true);
// Closes the robot's input for good.
void TancaEntrada(t_fill& fill);

// Moves whatever the robot has written so far into `linies` without waiting.
void Drena(t_fill& fill);
// Takes the next command line, waiting up to `ms` milliseconds for it.
bool LlegeixLinia(t_fill& fill, std::string& linia, int ms = 10000);

struct t_limits;
// Waits until the robot has read every line sent and every thread of every process it has
// waits with no SIGUSR1 pending (or it has ended), then collects its output. False at the
// deadline, with `fill.ocupat` saying what was still busy; once the robot has written more
// than `max_bytes` meanwhile; or, with `limits`, once it is over one (`fill.passat` says which).
bool EsperaRepos(t_fill& fill, int ms = 10000, size_t max_bytes = SIZE_MAX,
                 const t_limits* limits = nullptr);

// What a robot and the processes it started use now.
struct t_consum {
  int processos = 0;
  long memoria_kib = 0;  // resident, all processes together
};
t_consum Consum(t_fill& fill);
// Which limit the robot is over (MEMORIA or PROCESSOS), or none (CAP).
t_motiu PassaLimits(t_fill& fill, const t_limits& limits);

// Waits up to `ms` milliseconds for the robot to end, collecting its output. True once reaped;
// `estat` then holds its wait status.
bool EsperaFi(t_fill& fill, int ms);

// Ends the robot and every process it started (its sandbox; without one, its process group and
// what escaped the group carrying its tag), with `sig` for the robot itself and SIGKILL for the
// rest; reaps them all and closes every descriptor.
void Atura(t_fill& fill, int sig = SIGKILL);

// The number of a signal that asked the arena to stop (SIGINT, SIGTERM, SIGHUP), or 0. Set by
// the arena's handler, read by every thread: every wait above gives up as soon as it is set.
// Lock-free, so that a signal handler may store to it.
extern std::atomic<int> interrupcio;
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler stores to interrupcio");

// How a reaped robot ended, in words: "exited with status N", "killed by signal N (NAME)".
std::string ComAcaba(int estat);

}  // namespace arena
