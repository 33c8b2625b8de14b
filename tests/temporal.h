// A fresh folder for one test's files, removed with everything in it when the test ends.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

struct t_dir {
  std::string cami;
  t_dir() {
    char nom[] = "/tmp/arena-prova-XXXXXX";
    cami = mkdtemp(nom) ? nom : "";
  }
  ~t_dir() {
    if (!cami.empty()) std::filesystem::remove_all(cami);
  }
  t_dir(const t_dir&) = delete;
  t_dir& operator=(const t_dir&) = delete;
  operator const std::string&() const { return cami; }
};
