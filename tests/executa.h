// A shell command run in a folder as a robot author runs one, with no input: what it wrote, its
// standard error and how it ended. For the tests that start the arena's programs through a shell.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

struct t_sortida {
  int codi = -1;
  std::string out, err;
};

// Standard error goes through the file `dir`/.err, so that a command that fills it cannot block.
inline t_sortida Executa(const std::string& dir, const std::string& ordre) {
  t_sortida s;
  FILE* p = popen(("cd " + dir + " && " + ordre + " 2>" + dir + "/.err </dev/null").c_str(), "r");
  if (!p) return s;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) s.out.append(buf, n);
  const int estat = pclose(p);
  s.codi = WIFEXITED(estat) ? WEXITSTATUS(estat) : 128 + WTERMSIG(estat);
  std::ifstream err(dir + "/.err");
  s.err.assign(std::istreambuf_iterator<char>(err), {});
  return s;
}
