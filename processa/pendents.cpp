// Messages whose handlers are still to come: they are dispatched and change nothing yet.
#include "processa/processa.h"

void ProcessaGameStarts(std::stringstream&) {}
void ProcessaInfo(std::stringstream&) {}
void ProcessaRadar(std::stringstream&) {}
void ProcessaCollision(std::stringstream&) {}
