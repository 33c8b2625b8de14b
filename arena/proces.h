// The arena's side of the line protocol: starts a robot executable as an arena does, feeds it
// message lines with a wake-up signal, and reads its command lines.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <deque>
#include <string>

// A robot child process as the arena sees it.
struct t_fill {
  pid_t pid = -1;
  int entrada = -1;                // our end of the robot's standard input
  int sortida = -1;                // our end of the robot's standard output
  int pidfd = -1;                  // readable once the robot has ended
  std::string rebut;               // bytes of an unfinished command line
  std::deque<std::string> linies;  // command lines read and not yet taken
  bool sortida_tancada = false;
  size_t bytes_rebuts = 0;  // everything the robot has written so far
  int estat = -1;           // wait status once reaped
  rusage us{};              // its resource use, once reaped
};

// Starts `cami` with SIGUSR1 blocked across the exec (the robot unblocks it once it can take
// it), its standard input a non-blocking pipe and its standard output a pipe. False on failure.
// `previ`, when given, is put in the robot's output pipe first and the pipe is shrunk to it, so
// that the robot's first write finds the pipe full (for tests of a blocked writer).
bool Engega(t_fill& fill, const std::string& cami, const std::string& previ = "");

// Writes `dades` to the robot's input. When the pipe is full the robot is signalled so it reads,
// and its output is drained meanwhile, so neither side can block the other. False if the robot
// took nothing for `ms` milliseconds or is gone.
bool Escriu(t_fill& fill, const std::string& dades, int ms = 10000);
// Raises SIGUSR1 at the robot: lines wait.
void Senyala(t_fill& fill);
// Writes a batch of lines, each ended by a newline, then signals.
bool EnviaLot(t_fill& fill, const std::string& linies, int ms = 10000);
// Closes the robot's input for good.
void TancaEntrada(t_fill& fill);

// Moves whatever the robot has written so far into `linies` without waiting.
void Drena(t_fill& fill);
// Takes the next command line, waiting up to `ms` milliseconds for it.
bool LlegeixLinia(t_fill& fill, std::string& linia, int ms = 10000);

// Waits until the robot has read every line sent and gone back to sleep (or has ended), then
// collects its output. Uses /proc to see where the robot waits. False at the deadline, or once
// the robot has written more than `max_bytes` meanwhile.
bool EsperaRepos(t_fill& fill, int ms = 10000, size_t max_bytes = SIZE_MAX);

// Waits up to `ms` milliseconds for the robot to end, collecting its output. True once reaped;
// `estat` then holds its wait status.
bool EsperaFi(t_fill& fill, int ms);
// CPU time the robot has used so far, in seconds (from /proc).
double TempsCpu(const t_fill& fill);

// Ends the robot with `sig` if it is still running, reaps it and closes every descriptor.
void Atura(t_fill& fill, int sig = SIGKILL);
