// Messages whose handlers are still to come: they are dispatched and change nothing yet.
#include "processa/processa.h"

void ProcessaRadar(std::stringstream&) {}
