// The one place where outcomes, drop reasons and what a busy robot was doing become words: the
// transcript, the summary, the replay and the results records all say them as written here.
#include "arena/desenllac.h"

#include <sys/wait.h>

#include <cstring>

#include "arena/text.h"

namespace arena {

std::string Descriu(const t_ocupacio& o) {
  switch (o.feina) {
    case t_feina::CAP:
      return "";
    case t_feina::FILS:
      return "its threads were still waking each other";
    case t_feina::ENTRADA:
      return "it has not read all its input";
    case t_feina::ESTAT:
    case t_feina::CRIDA:
    case t_feina::SENYAL:
      break;
  }
  std::string qui = "process " + std::to_string(o.pid) + " (" + TextNet(o.nom) + ")";
  if (o.fil != o.pid) qui += ", thread " + std::to_string(o.fil);
  if (o.feina == t_feina::ESTAT) return qui + ": state " + TextNet(std::string(1, o.estat));
  if (o.feina == t_feina::CRIDA) return qui + ": in system call " + std::to_string(o.crida);
  return qui + ": a SIGUSR1 is pending";
}

std::string Descriu(const t_motiu& m) {
  const std::string n = std::to_string(m.nombre);
  switch (m.causa) {
    case t_causa::CAP:
      return "";
    case t_causa::SURT:
      return "exited with status " + n;
    case t_causa::SENYAL: {
      const char* nom = sigabbrev_np(static_cast<int>(m.nombre));
      return "killed by signal " + n + " (" + (nom ? "SIG" + std::string(nom) : "?") + ")";
    }
    case t_causa::ACABA:
      return "ended with status " + n;
    case t_causa::NO_LLEGEIX:
      return "does not read its input";
    case t_causa::SENSE_RESPOSTA:
      return "no answer in time (" + Descriu(m.ocupat) + ")";
    case t_causa::INUNDA:
      return "floods its output";
    case t_causa::BRUTICIA:
      return "writes garbage";
    case t_causa::MEMORIA:
      return "exceeded its memory limit (" + n + " MiB)";
    case t_causa::PROCESSOS:
      return "exceeded its process limit (" + n + ")";
    case t_causa::NO_EXECUTA:
      return "cannot run " + TextNet(m.detall) + ": " +
             (m.nombre ? std::strerror(static_cast<int>(m.nombre)) : "its sandbox's init ended");
    case t_causa::NO_ENGEGA:
      return TextNet(m.detall);
  }
  return "";
}

std::string Descriu(const t_desenllac& d) {
  if (d.estat == t_estat_robot::CAIGUT) return "dropped: " + Descriu(d.motiu);
  return Paraula(d.estat);
}

const char* Paraula(t_estat_robot estat) {
  switch (estat) {
    case t_estat_robot::VIU:
      return "alive";
    case t_estat_robot::MORT:
      return "dead";
    case t_estat_robot::CAIGUT:
      return "dropped";
  }
  return "";
}

bool LlegeixEstat(const std::string& paraula, t_estat_robot& estat) {
  for (t_estat_robot e : {t_estat_robot::VIU, t_estat_robot::MORT, t_estat_robot::CAIGUT}) {
    if (paraula == Paraula(e)) {
      estat = e;
      return true;
    }
  }
  return false;
}

t_motiu Acabament(int estat) {
  if (WIFEXITED(estat)) return Motiu(t_causa::SURT, WEXITSTATUS(estat));
  if (WIFSIGNALED(estat)) return Motiu(t_causa::SENYAL, WTERMSIG(estat));
  return Motiu(t_causa::ACABA, estat);
}

}  // namespace arena
