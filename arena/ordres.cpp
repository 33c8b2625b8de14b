// The arena's command line read with CLI11: each option checked by a validator of its own as it
// is read into the record of what is asked, then merged with a match file's settings.
#include "arena/ordres.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <ostream>
#include <tuple>

#include "arena/arguments.h"
#include "arena/fitxer.h"
#include "arena/proces.h"

namespace arena {

// A range of seeds as the --seeds validator leaves it: "FROM TO".
std::istream& operator>>(std::istream& in, t_llavors& l) {
  return in >> l.primera >> l.darrera;
}

namespace {

const char* const kDescripcio =
    "Plays a match in the practice arena. ROBOT (one to eight) is an executable that speaks the\n"
    "arena's line protocol, a command with its arguments in one word (\"python3 bot.py\"), or a\n"
    "built-in robot: 'diana' sits still, 'rodamon' drives around, 'cacador' drives, scans and\n"
    "shoots back, 'tavik' is this project's robot.\n"
    "Exit status: 0 done, 1 an output file could not be written, 2 bad arguments or a robot\n"
    "that cannot be started, 128+N stopped by signal N.";

// At most a million seeds, whichever way they are asked for.
constexpr uint64_t kMaxLlavors = 1000000;

// A whole number from 0 to 2^64 - 1, written as such: the parser's own conversion would take
// "-1" and "99999999999999999999" for the largest seed.
const CLI::Validator NombreNatural(
    [](const std::string& text) -> std::string {
      uint64_t n = 0;
      const char* fi = text.data() + text.size();
      const auto [p, e] = std::from_chars(text.data(), fi, n);
      if (e == std::errc::result_out_of_range) return "Value " + text + " is too large";
      if (e != std::errc() || p != fi || text.empty())
        return "Value " + text + " is not a whole number";
      return "";
    },
    "UINT64");

// A Range lets a NaN through (every comparison with it is false): this does not.
const CLI::Validator Finit(
    [](const std::string& text) -> std::string {
      double x = 0;
      return CLI::detail::lexical_cast(text, x) && std::isfinite(x) ? ""
                                                                    : text + " is not a number";
    },
    "");

// FROM-TO, two whole numbers, TO not below FROM, at most a million seeds; left as "FROM TO" for
// the record's t_llavors.
const CLI::Validator RangLlavors(
    [](std::string& text) -> std::string {
      uint64_t de = 0, a = 0;
      const char* fi = text.data() + text.size();
      const auto [p, e] = std::from_chars(text.data(), fi, de);
      const bool guio = e == std::errc() && p != fi && *p == '-';
      const auto [q, e2] = std::from_chars(guio ? p + 1 : fi, fi, a);
      if (!guio || e2 != std::errc() || q != fi) return text + " is not a range FROM-TO of seeds";
      if (a < de) return text + ": TO is below FROM";
      if (a - de >= kMaxLlavors) return text + ": more than 1000000 seeds";
      text = std::to_string(de) + " " + std::to_string(a);
      return "";
    },
    "FROM-TO");

// A name the match gives a robot: one word, as the protocol takes it.
const CLI::Validator NomDeRobot(
    [](const std::string& nom) -> std::string {
      if (nom.size() > kNomMax) {
        return "'" + nom + "' is longer than " + std::to_string(kNomMax) + " characters";
      }
      return NomValid(nom) ? ""
                           : "'" + nom + "' is not one word of printable characters without '#'";
    },
    "NAME");

// What CLI11 reads as it comes, before it takes the record's typed form.
struct t_crues {
  int torneig = 0;
  std::optional<t_llavors> llavors;
  std::vector<double> sprt;
  double alfa = 0.05, beta = 0.05;
};

// A setting the record keeps only if it is given; its default shows in the help.
template <class T>
CLI::Option* Opcional(CLI::App& app, const char* nom, std::optional<T>& desti, const T& defecte,
                      const char* que) {
  return app
      .add_option_function<T>(
          nom, [&desti](const T& v) { desti = v; }, que)
      ->default_val(defecte);
}

// The settings of the match itself, which a match file may give too.
void DefineixPartida(CLI::App& app, t_ordres& o) {
  const t_config d;
  app.add_option("--match", o.partida,
                 "a match file (TOML): robots, places, cookies, mines, shots, settings; the "
                 "other options override what they name")
      ->check(CLI::ExistingFile);
  Opcional(app, "--seed", o.llavor, d.llavor,
           "the match's seed; the same seed gives the same match")
      ->check(NombreNatural);
  Opcional(app, "--time", o.durada, d.durada, "length of the match in seconds of game time")
      ->check(CLI::Range(0.05, 1e6))
      ->check(Finit);
  app.add_option("--transcript", o.transcripcio,
                 "where the transcript goes; the replay (.html), picture (.svg) and robots' "
                 "standard error (.NAME.err) go beside it (default out/match-SEED.txt)");
  app.add_flag("--realtime", o.temps_real, "a tick every 50 ms of wall-clock time");
  auto* servei = app.add_option_function<std::string>(
                        "--serve",
                        [&o](const std::string& text) {
                          o.servei.emplace();
                          LlegeixAdreca(text, *o.servei);
                        },
                        "serve a live view of the match or tournament at [HOST:]PORT (HOST "
                        "127.0.0.1 unless given, PORT 0 for any free one) until Ctrl-C")
                     ->check(CLI::Validator(
                         [](const std::string& text) {
                           t_adreca a;
                           return LlegeixAdreca(text, a);
                         },
                         "[HOST:]PORT"));
  app.add_flag("--serve-exit", o.servei_surt, "stop serving when the arena is done")->needs(servei);
  app.add_option("--name", o.noms,
                 "the name shown for each robot, in order (repeat it), whatever it calls itself")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(NomDeRobot);
}

// What makes a tournament, and what only a tournament reads.
void DefineixTorneig(CLI::App& app, t_ordres& o, t_crues& c) {
  auto* torneig = app.add_option("--tournament", c.torneig,
                                 "play N seeds from --seed on (two robots: each from both "
                                 "places), print a table")
                      ->check(CLI::Range(1, 1000000));
  app.add_option_function<t_llavors>(
         "--seeds", [&c](const t_llavors& l) { c.llavors = l; },
         "a tournament over the seeds FROM-TO, both included (at most 1000000)")
      ->transform(RangLlavors)
      ->excludes(torneig)
      ->excludes(app.get_option("--seed"));
  app.add_option("--results", o.resultats,
                 "the tournament's results file, a JSON line per game (default "
                 "out/tournament-FROM-TO.jsonl); kept games go in a folder of its name");
  auto* reprendre = app.add_flag("--resume", o.reprendre,
                                 "continue the tournament of the results file: the games it has "
                                 "are not played again, the table counts them all");
  app.add_flag("--overwrite", o.sobreescriu, "replace a results file that exists")
      ->excludes(reprendre);
  auto* sprt = app.add_option("--sprt", c.sprt,
                              "ELO0 ELO1 (-1000 to 1000): play pairs until the test decides "
                              "(two robots; up to --tournament seeds, 10000 by default)")
                   ->expected(2)
                   ->allow_extra_args(false);
  app.add_option("--alpha", c.alfa, "the test's false positive rate")
      ->capture_default_str()
      ->check(CLI::Range(0.001, 0.499))
      ->check(Finit)
      ->needs(sprt);
  app.add_option("--beta", c.beta, "the test's false negative rate")
      ->capture_default_str()
      ->check(CLI::Range(0.001, 0.499))
      ->check(Finit)
      ->needs(sprt);
  app.add_option_function<std::vector<std::string>>(
         "--keep",
         [&o](const std::vector<std::string>& que) {
           for (const std::string& q : que) {
             o.guarda_caigudes |= q == "drops";
             o.guarda_derrotes |= q == "losses";
             o.guarda_tots |= q == "all";
           }
         },
         "keep transcript, replay and picture of the games that matter: drops, losses (of the "
         "first robot), both (drops,losses), or all")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->check(CLI::IsMember({"drops", "losses", "all"}));
  app.add_flag("--unpaired", o.sense_parells,
               "two robots: play each seed once, not from both places");
  app.add_option("-j,--jobs", o.fils, "matches played at once (default: one per core)")
      ->check(CLI::Range(1, 1024));
  app.add_option(
         "--tally", o.recompte,
         "print the table of these results files (shards of one tournament), and nothing else")
      ->expected(1, -1)
      ->check(CLI::ExistingFile);
}

// How long, how many games, and what each robot may use.
void DefineixLimits(CLI::App& app, t_ordres& o) {
  const t_config d;
  Opcional(app, "--games", o.jocs, d.jocs,
           "games in the series, played by the same robot processes")
      ->check(CLI::Range(1, 100000));
  Opcional(app, "--first-game", o.primer_joc, d.primer_joc,
           "number of the first game: game K of a series can be played on its own")
      ->check(CLI::Range(1, 100000));
  app.add_option_function<double>(
         "--answer-time",
         [&o](const double& segons) { o.espera_ms = static_cast<int>(std::lround(segons * 1000)); },
         "seconds a robot may take over one tick")
      ->default_val(d.espera_ms / 1000.0)
      ->check(CLI::Range(0.01, 3600.0))
      ->check(Finit);
  Opcional(app, "--mem-limit", o.memoria_mib, d.limits.memoria_mib,
           "MiB of resident memory a robot may use, its processes together, 0 to 1048576 "
           "(0: no limit)")
      ->check(CLI::Range(0L, 1L << 20));
  Opcional(app, "--proc-limit", o.processos, d.limits.processos,
           "processes a robot may have at once, itself included, 0 to 100000 (0: no limit)")
      ->check(CLI::Range(0, 100000));
  Opcional(app, "--file-limit", o.max_fitxer_mib, d.max_fitxer_mib,
           "MiB of the largest file a robot may write, 0 to 1048576 (0: no limit)")
      ->check(CLI::Range(0L, 1L << 20));
  app.add_flag("--no-sandbox", o.sense_caixa,
               "run each robot as a plain child process, not in a sandbox of its own");
  app.add_option("ROBOT", o.robots,
                 "one to eight robots (with --match: they replace the file's, in order)");
}

// The test's bounds: ELO1 above ELO0, both such that their expected scores can be told apart.
std::string MalTest(const t_crues& c, std::optional<t_sprt>& sprt) {
  if (c.sprt.empty()) return "";
  sprt = t_sprt{c.sprt[0], c.sprt[1], c.alfa, c.beta};
  if (const std::string mal = MalsLimits(*sprt); !mal.empty()) return "--sprt: " + mal;
  if (!(sprt->elo1 > sprt->elo0) || !(sprt->alfa > 0 && sprt->alfa < 0.5) ||
      !(sprt->beta > 0 && sprt->beta < 0.5)) {
    return "--sprt: ELO1 must be above ELO0, ALPHA and BETA between 0 and 0.5";
  }
  return "";
}

// A tally reads results files, and takes nothing but its test.
std::string MalRecompte(const CLI::App& app, const t_ordres& o) {
  if (!o.robots.empty()) return "--tally: reads results files only, no robots";
  for (const CLI::Option* opcio : app.get_options()) {
    const std::string nom = opcio->get_name();
    const bool seu = nom == "--tally" || nom == "--sprt" || nom == "--alpha" || nom == "--beta";
    if (!seu && opcio->count() > 0) {
      return "--tally: reads results files only; " + nom + " has nothing to do there";
    }
  }
  return "";
}

// A tournament's seeds, and no single transcript; a match, none of a tournament's options.
std::string MalTorneig(const CLI::App& app, const t_crues& c, t_ordres& o) {
  if (o.mode != t_mode::TORNEIG) {
    for (const char* nom :
         {"--results", "--resume", "--overwrite", "--keep", "--unpaired", "--jobs"}) {
      if (app.count(nom) > 0) {
        return std::string(nom) + ": only for a tournament (--tournament, --seeds or --sprt)";
      }
    }
    return "";
  }
  if (!o.transcripcio.empty()) {
    return "--transcript: a tournament keeps games with --keep, not one transcript";
  }
  const uint64_t primera = o.llavor.value_or(1);
  const uint64_t n = c.torneig > 0 ? static_cast<uint64_t>(c.torneig) : o.sprt ? 10000 : 1;
  o.llavors = c.llavors.value_or(t_llavors{primera, primera + n - 1});
  if (o.llavors.darrera < o.llavors.primera) return "--seed: the seeds go past 2^64 - 1";
  return "";
}

}  // namespace

std::string LlegeixAdreca(const std::string& text, t_adreca& a) {
  const size_t dos = text.find_last_of(':');
  std::string host = dos == std::string::npos ? "127.0.0.1" : text.substr(0, dos);
  const std::string port = dos == std::string::npos ? text : text.substr(dos + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const bool xifres =
      !port.empty() && port.size() <= 5 &&
      std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!xifres || std::stoi(port) > 65535) {
    return "'" + text + "' is not [HOST:]PORT with PORT from 0 to 65535";
  }
  if (host.empty()) return "'" + text + "': the host is empty";
  a = {host, std::stoi(port)};
  return "";
}

std::optional<int> LlegeixOrdres(int argc, const char* const* argv, t_ordres& o) {
  CLI::App app{kDescripcio, "arena"};
  t_crues c;
  DefineixPartida(app, o);
  DefineixTorneig(app, o, c);
  DefineixLimits(app, o);
  if (const auto codi = LlegeixArguments(app, argc, argv)) return codi;
  std::string error = MalTest(c, o.sprt);
  if (error.empty() && !o.recompte.empty()) {
    o.mode = t_mode::RECOMPTE;
    error = MalRecompte(app, o);
  } else if (error.empty()) {
    if (c.torneig > 0 || o.sprt || c.llavors) o.mode = t_mode::TORNEIG;
    error = MalTorneig(app, c, o);
  }
  if (error.empty()) return std::nullopt;
  std::cerr << "arena: " << error << "\n";
  return 2;
}

namespace {

// The file's robots, replaced in order by those of the command line; the rest stay, with their
// places and names. Says which were replaced.
void ReemplacaRobots(const t_ordres& o, const std::string& dir_rivals, std::ostream& avisos,
                     t_config& config) {
  for (size_t k = 0; k < o.robots.size(); ++k) {
    const std::string cami = CamiRobot(o.robots[k], dir_rivals);
    if (k < config.robots.size()) {
      avisos << "Robot " << k + 1 << " of " << o.partida << " (" << config.robots[k]
             << ") replaced by " << o.robots[k] << "\n";
      config.robots[k] = cami;
      if (k < config.noms.size()) config.noms[k].clear();
    } else {
      config.robots.push_back(cami);
    }
  }
}

// What the command line gives, over what the match file said.
void Sobreposa(const t_ordres& o, t_config& config) {
  auto Si = [](auto& desti, const auto& valor) {
    if (valor) desti = *valor;
  };
  Si(config.llavor, o.llavor);
  Si(config.durada, o.durada);
  Si(config.jocs, o.jocs);
  Si(config.primer_joc, o.primer_joc);
  Si(config.espera_ms, o.espera_ms);
  Si(config.limits.memoria_mib, o.memoria_mib);
  Si(config.limits.processos, o.processos);
  Si(config.max_fitxer_mib, o.max_fitxer_mib);
  if (o.temps_real) config.temps_real = true;
  if (o.sense_caixa) config.aillat = false;
  // A tournament's field is checked as its first seed lays it out.
  if (o.mode == t_mode::TORNEIG) config.llavor = o.llavors.primera;
}

// One to eight robots, as many names at most, every robot one that can be started.
std::string MalsRobots(const t_ordres& o, const t_config& config) {
  if (config.robots.empty()) return "ROBOT is required (or a match file with robots)";
  if (config.robots.size() > 8) {
    return "ROBOT: at most eight robots, " + std::to_string(config.robots.size()) + " given";
  }
  if (o.noms.size() > config.robots.size()) {
    return "--name: " + std::to_string(o.noms.size()) + " names for " +
           std::to_string(config.robots.size()) + " robots";
  }
  for (const auto& cami : config.robots) {
    if (cami == kDiana) continue;
    const std::string per_que = NoEngegable(OrdreRobot(cami));
    if (!per_que.empty()) return "cannot start robot '" + cami + "': " + per_que;
  }
  return "";
}

}  // namespace

bool Configura(const t_ordres& o, const std::string& dir_rivals, std::ostream& avisos,
               t_config& config, std::string& error) {
  if (!o.partida.empty() && !LlegeixPartida(o.partida, dir_rivals, config, error)) return false;
  Sobreposa(o, config);
  if (o.partida.empty()) {
    for (const auto& r : o.robots) config.robots.push_back(CamiRobot(r, dir_rivals));
  } else {
    ReemplacaRobots(o, dir_rivals, avisos, config);
  }
  error = MalsRobots(o, config);
  if (!error.empty()) return false;
  // A name for each place, so that names travel with their robots when places are swapped.
  config.noms.resize(config.robots.size());
  std::copy(o.noms.begin(), o.noms.end(), config.noms.begin());
  error = MassaLlarga(config);
  // A field too full for what the match puts on it is refused before any robot starts.
  return error.empty() && ComprovaDisposicio(config, error);
}

}  // namespace arena
