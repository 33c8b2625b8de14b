// Match files: a situation written down once in TOML (robots and where they stand, cookies,
// mines, shots already flying, the game's settings), read into the match's configuration.
#pragma once

#include <cstddef>
#include <string>

#include "arena/partida.h"

namespace arena {

// The longest name a match file or the command line may give a robot.
constexpr size_t kNomMax = 32;

// Reads the match file `cami` into `config`, over what it holds. Programs are taken relative to
// the file's folder; `dir_rivals` is where the built-in robots' programs are. False with
// `error` as "FILE:LINE:COLUMN: what is wrong" (or "FILE: ..." for the file as a whole).
bool LlegeixPartida(const std::string& cami, const std::string& dir_rivals, t_config& config,
                    std::string& error);

// The program of a robot named in a match or on the command line: the built-in names (diana,
// and rodamon, cacador and tavik, which live in `dir_rivals`), anything else as it is.
std::string CamiRobot(const std::string& robot, const std::string& dir_rivals);

}  // namespace arena
