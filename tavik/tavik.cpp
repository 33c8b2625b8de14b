// The robot's global state: one record and one option table, touched only from the message
// handlers.
#include "tavik/tavik.h"

t_robot robot;
double options[NUM_OPTIONS];
