// Handlers that only store, reset or announce: naming, game options, energy, death and exit,
// and the time report written when a cookie is sighted.
#include <string>

#include "actua/actua.h"
#include "processa/processa.h"
#include "tavik/tavik.h"

// Fields are read into zeroed locals: a field that is missing or unreadable stays 0.

void ProcessaInitialize(std::stringstream& ss) {
  int primer = 0;
  ss >> primer;
  if (primer != 0) {
    DoName("Tavik");
    DoColour("0xffffff", "0xb0b0b0");
  }
}

void ProcessaYourName(std::stringstream& ss) {
  std::string name;
  ss >> name;
}

void ProcessaYourColour(std::stringstream& ss) {
  std::string colour;
  ss >> colour;
}

void ProcessaGameOption(std::stringstream& ss) {
  int numero = 0;
  double valor = 0;
  ss >> numero >> valor;
  if (numero >= 0 && numero < NUM_OPTIONS) {
    options[numero] = valor;
  } else {
    DoPrint("UNKNOWN OPTION!!");
  }
}

void ProcessaCoordinates(std::stringstream& ss) {
  double x = 0, y = 0, angle = 0;
  ss >> x >> y >> angle;
}

void ProcessaRobotInfo(std::stringstream& ss) {
  double energia = 0;
  int equip = 0;
  ss >> energia >> equip;
  robot.enemy_energy = energia;
}

void ProcessaRotationReached(std::stringstream& ss) {
  int part = 0;
  ss >> part;
}

void ProcessaEnergy(std::stringstream& ss) {
  double energia = 0;
  ss >> energia;
  robot.energy = energia;
}

void ProcessaRobotsLeft(std::stringstream& ss) {
  int queden = 0;
  ss >> queden;
}

void ProcessaWarning(std::stringstream&) {}

void ProcessaDead(std::stringstream&) {
  DoPrint(":'(");
}

void ProcessaGameFinishes(std::stringstream&) {}

void ProcessaExitRobot(std::stringstream&) {
  robot.exit_requested = 1;
}

void PrintTime() {
  std::string linia = "Print TIME [";
  AfegeixNombre(linia, robot.time);
  linia += "]\n";
  EscriuLinia(linia);
}
