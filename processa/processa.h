// The robot's behaviour: a handler for every arena message, the time report, the angle
// reduction and the planners that put timed orders into the queue.
#pragma once

#include <sstream>

constexpr double DOS_PI = 6.283185307179586;
constexpr double PI_30 = 0.10471975511965977;  // half the width of the tracking sweep

// Bookkeeping handlers.
void ProcessaInitialize(std::stringstream& ss);
void ProcessaYourName(std::stringstream& ss);
void ProcessaYourColour(std::stringstream& ss);
void ProcessaGameOption(std::stringstream& ss);
void ProcessaCoordinates(std::stringstream& ss);
void ProcessaRobotInfo(std::stringstream& ss);
void ProcessaRotationReached(std::stringstream& ss);
void ProcessaEnergy(std::stringstream& ss);
void ProcessaRobotsLeft(std::stringstream& ss);
void ProcessaWarning(std::stringstream& ss);
void ProcessaDead(std::stringstream& ss);
void ProcessaGameFinishes(std::stringstream& ss);
void ProcessaExitRobot(std::stringstream& ss);

// Game start and the clock.
void ProcessaGameStarts(std::stringstream& ss);
void ProcessaInfo(std::stringstream& ss);

// Radar contacts and collisions.
void ProcessaRadar(std::stringstream& ss);
void ProcessaCollision(std::stringstream& ss);

// Writes "Print TIME [t]" with the game time of the last Info.
void PrintTime();

// Takes whole turns off an angle while it exceeds 2π; ends for every input.
double RedueixAngle(double angle);

// Plans a straight drive over `distancia` starting at game time `inici`.
void AfegeixMovimentFutur(double inici, double distancia);
// Plans the fixed flight after a collision, starting now.
void AfegeixEvasio();
// The braking time the stop estimate assumes for a speed.
double TempsFrenada(double v);
