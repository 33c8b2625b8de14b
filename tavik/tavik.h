// Shared declarations of the robot: the order queue, the robot record, the game options and
// the message table that every subsystem works on.
#pragma once

#include <csignal>
#include <list>
#include <sstream>
#include <string>

// Behaviour modes, the values of robot.mode (4 is not used).
enum {
  MODE_IDLE = 0,
  MODE_SCANNING = 1,
  MODE_APPROACHING = 2,
  MODE_TRACKING = 3,
  MODE_EVADING = 5
};

// Order kinds of t_ordre.kind (2 is not used).
enum { ORDER_SCAN = 0, ORDER_ACCELERATE = 1, ORDER_STOP = 3, ORDER_RELEASE_BRAKE = 4 };

// A timed order: carried out by the first Info whose time is strictly later than `time`.
struct t_ordre {
  double time;
  int kind;
  double value;  // the acceleration, for ORDER_ACCELERATE
};

// Pending orders, ascending by time; equal times keep their arrival order.
extern std::list<t_ordre> ordres;
void insertar_ordre(const t_ordre* ordre);

// Everything the robot remembers between two messages. Cleared to 0 at every game start.
struct t_robot {
  double energy;
  double enemy_energy;
  double tick;
  double time;
  double speed;
  double cannon_angle;
  int mode;
  // Written by the signal handler and polled by main's idle loop, so it lives in memory.
  volatile sig_atomic_t exit_requested;
  double target_distance;
  double target_angle;
  int sweep_reversed;
  int misses;
  double shots_left;
};

extern t_robot robot;

constexpr int NUM_OPTIONS = 15;
extern double options[NUM_OPTIONS];

// Argument type codes of t_missatge.arg_types; descriptive only, no code checks lines by them.
enum { ARG_NONE = 0, ARG_STRING = 1, ARG_DOUBLE = 2, ARG_INT = 3, ARG_HEX = 4 };

struct t_missatge {
  const char* name;
  int arg_count;
  int arg_types[4];
};

constexpr int NUM_MISSATGES = 25;
constexpr int NUM_PROCESSA = 17;  // entries 0..16 have a handler; 17 ends the table
extern const t_missatge message_to_robot[NUM_MISSATGES];

using t_processa = void (*)(std::stringstream&);
// The handler of each named message, in the order of message_to_robot.
extern const t_processa processa_missatge[NUM_PROCESSA];

// Index of `word` in message_to_robot, or -1. The whole word must match, NUL bytes included.
int AgafaTipusMissatge(std::string word);

// Handles one message line (without its newline): normalises decimal commas and dispatches.
void DespatxaLinia(std::string linia);

// Splits incoming bytes into lines and dispatches each complete one; the unfinished tail waits
// for the next call. TancaEntrada dispatches that tail once the input has really ended.
void RepEntrada(const char* dades, size_t mida);
void TancaEntrada();
// Forgets any unfinished line, for callers that feed several independent inputs.
void ReiniciaEntrada();

// Longest line that is dispatched; a longer one is answered once as unknown and skipped.
constexpr size_t MAX_LINIA = 1 << 20;

// The SIGUSR1 handler: reads and dispatches every line waiting on standard input.
void BucleMissatges(int sig);
