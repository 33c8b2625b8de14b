// What became of a robot in a game, and why a robot was dropped or found busy, as types: the
// arena decides by them, and they are put into words for people in one place (desenllac.cpp).
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>

namespace arena {

// What a robot that had not finished its tick was found doing.
enum class t_feina {
  CAP,      // nothing: it was waiting for the arena
  ESTAT,    // a thread in a state other than asleep ('R' running, 'D' in the disk...)
  CRIDA,    // a thread asleep in a system call that is no wait for the arena
  SENYAL,   // a thread with a SIGUSR1 pending that it would take
  FILS,     // all asleep, but its threads had run between two looks
  ENTRADA,  // all asleep, with lines it was sent still unread
};

struct t_ocupacio {
  t_feina feina = t_feina::CAP;
  // ESTAT, CRIDA and SENYAL: the process and thread found busy, and the process's name as the
  // kernel gives it (which the robot chooses: its text, not ours).
  pid_t pid = 0, fil = 0;
  std::string nom;
  char estat = 0;  // ESTAT: the thread's state letter
  long crida = 0;  // CRIDA: the system call's number
};
inline t_ocupacio Ocupacio(t_feina feina) {
  t_ocupacio o;
  o.feina = feina;
  return o;
}

// Why a robot was dropped, or why it could not be started.
enum class t_causa {
  CAP,
  SURT,            // it exited: `nombre` is its status
  SENYAL,          // a signal killed it (the file size limit is SIGXFSZ): `nombre`
  ACABA,           // another wait status: `nombre`
  NO_LLEGEIX,      // it left lines it was sent unread past the deadline
  SENSE_RESPOSTA,  // still busy at the deadline: `ocupat` says with what
  INUNDA,          // it wrote more than a tick allows
  BRUTICIA,        // more bad lines in one tick than allowed
  MEMORIA,         // over its memory limit: `nombre` MiB
  PROCESSOS,       // over its process limit: `nombre` processes
  NO_EXECUTA,      // its program could not be run: `detall` the program, `nombre` the exec's
                   // errno (0: its sandbox's init ended first)
  NO_ENGEGA,       // the arena could not make what the robot needs (pipes, files, a sandbox):
                   // `detall` says what, in the arena's words
};

struct t_motiu {
  t_causa causa = t_causa::CAP;
  long nombre = 0;
  t_ocupacio ocupat;
  std::string detall;
};
// A reason of its number and detail, if it has them (all but SENSE_RESPOSTA).
inline t_motiu Motiu(t_causa causa, long nombre = 0, std::string detall = "") {
  t_motiu m;
  m.causa = causa;
  m.nombre = nombre;
  m.detall = std::move(detall);
  return m;
}

// What became of a robot in a game.
enum class t_estat_robot { VIU, MORT, CAIGUT };

struct t_desenllac {
  t_estat_robot estat = t_estat_robot::VIU;
  t_motiu motiu;  // CAIGUT: why
};

// The words people read: "process 12 (bot): state R", "exited with status 0", "alive",
// "dropped: floods its output". What came from the robot or the system (process names, paths)
// is made plain text (TextNet).
std::string Descriu(const t_ocupacio& ocupat);
std::string Descriu(const t_motiu& motiu);
std::string Descriu(const t_desenllac& desenllac);

// The status word of results records and the replay: "alive", "dead" or "dropped".
const char* Paraula(t_estat_robot estat);
// A status word read back from a record; false if it is none of the three.
bool LlegeixEstat(const std::string& paraula, t_estat_robot& estat);

// How a reaped process ended, from its wait status: SURT, SENYAL or ACABA.
t_motiu Acabament(int estat);

}  // namespace arena
