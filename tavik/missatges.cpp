// The table of message words the arena sends, the lookup from a word to its index, and the
// dispatch of one line to the handler of its word.
#include <algorithm>
#include <cstring>

#include "actua/actua.h"
#include "processa/processa.h"
#include "tavik/tavik.h"

const t_missatge message_to_robot[NUM_MISSATGES] = {
    {"Initialize", 1, {ARG_INT, 0, 0, 0}},
    {"YourName", 1, {ARG_STRING, 0, 0, 0}},
    {"YourColour", 1, {ARG_HEX, 0, 0, 0}},
    {"GameOption", 2, {ARG_INT, ARG_DOUBLE, 0, 0}},
    {"GameStarts", 0, {0, 0, 0, 0}},
    {"Radar", 3, {ARG_DOUBLE, ARG_INT, ARG_DOUBLE, 0}},
    {"Info", 3, {ARG_DOUBLE, ARG_DOUBLE, ARG_DOUBLE, 0}},
    {"Coordinates", 3, {ARG_DOUBLE, ARG_DOUBLE, ARG_DOUBLE, 0}},
    {"RobotInfo", 2, {ARG_DOUBLE, ARG_INT, 0, 0}},
    {"RotationReached", 1, {ARG_INT, 0, 0, 0}},
    {"Energy", 1, {ARG_DOUBLE, 0, 0, 0}},
    {"RobotsLeft", 1, {ARG_INT, 0, 0, 0}},
    {"Collision", 2, {ARG_INT, ARG_DOUBLE, 0, 0}},
    {"Warning", 2, {ARG_INT, ARG_STRING, 0, 0}},
    {"Dead", 0, {0, 0, 0, 0}},
    {"GameFinishes", 0, {0, 0, 0, 0}},
    {"ExitRobot", 0, {0, 0, 0, 0}},
    {"", 0, {0, 0, 0, 0}},  // ends the lookup
    // Spare entries, never reached.
    {nullptr, 0, {0, 0, 0, 0}},
    {nullptr, 0, {0, 0, 0, 0}},
    {nullptr, 0, {0, 0, 0, 0}},
    {nullptr, 0, {0, 0, 0, 0}},
    {nullptr, 0, {0, 0, 0, 0}},
    {nullptr, 0, {0, 0, 0, 0}},
    {nullptr, 0, {0, 0, 0, 0}},
};

// Same order as the table above: the dispatch goes by index.
const t_processa processa_missatge[NUM_PROCESSA] = {
    ProcessaInitialize, ProcessaYourName,        ProcessaYourColour, ProcessaGameOption,
    ProcessaGameStarts, ProcessaRadar,           ProcessaInfo,       ProcessaCoordinates,
    ProcessaRobotInfo,  ProcessaRotationReached, ProcessaEnergy,     ProcessaRobotsLeft,
    ProcessaCollision,  ProcessaWarning,         ProcessaDead,       ProcessaGameFinishes,
    ProcessaExitRobot,
};

int AgafaTipusMissatge(std::string word) {
  // Length and bytes both, so a word with a NUL inside ("Dead\0x") is not taken for "Dead".
  for (int i = 0; message_to_robot[i].name[0] != '\0'; ++i) {
    const char* name = message_to_robot[i].name;
    if (word.size() == std::strlen(name) && std::memcmp(word.data(), name, word.size()) == 0) {
      return i;
    }
  }
  return -1;
}

void DespatxaLinia(std::string linia) {
  std::replace(linia.begin(), linia.end(), ',', '.');
  // One stream serves every line: constructing a stream costs more than the rest of a typical
  // line's handling (its locale and buffers). Each line gets it emptied, refilled and with its
  // state cleared; nothing else about it ever changes, so a handler sees exactly what a fresh
  // stream would show. Lines are only dispatched from the signal handler, which never nests.
  static std::stringstream ss;
  ss.str(linia);
  ss.clear();
  std::string word;
  ss >> word;
  const int index = AgafaTipusMissatge(word);
  if (index < 0) {
    DoPrint("Missatge desconegut!");
    return;
  }
  processa_missatge[index](ss);
}
