// The command writers: one function per arena command, each writing one whole line to the
// arena in a single write.
#pragma once

#include <cstddef>
#include <string>

void DoPrint(std::string text);
void DoName(std::string name);
void DoColour(std::string first, std::string second);
void DoOption(int option, int value);
void DoRotate(int part, double speed);
void DoRotateTo(int part, double first, double second);
void DoRotateAmount(int part, double speed, double angle);
void DoSweep(int part, double speed, double first, double second);
void DoAccelerate(double value);
void DoBrake(double value);
void DoShoot(double energy);  // silent unless robot.energy > 3
void DoDebug(std::string text);
void DoDebugLine(double x1, double y1, double x2, double y2);
void DoDebugCircle(double x, double y, double r);

// Appends `valor` as C's %g would print it (six significant digits, classic locale).
void AfegeixNombre(std::string& linia, double valor);

// Sends one finished line, newline included. Tests swap `escriptor` for a recorder.
void EscriuLinia(const std::string& linia);
extern void (*escriptor)(const char* dades, size_t mida);
// The default escriptor: the whole line to standard output, retrying what was interrupted.
void EscriuStdout(const char* dades, size_t mida);
