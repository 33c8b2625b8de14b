// The arena's live view: an HTTP server on threads of its own. It serves only its own pages, its
// event streams and the kept files this run registered; the match threads only append to it.
#include "arena/servei.h"

#include <httplib.h>
#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "arena/proces.h"
#include "arena/repeticio.h"
#include "arena/taula.h"

namespace arena {

// The tournament page's own files, embedded at build time (cmake/incrusta.cmake).
extern const char* const kTorneigHtml;
extern const char* const kTorneigJs;

namespace {

using t_rellotge = std::chrono::steady_clock;
using t_tros = std::shared_ptr<const std::string>;

// At most this many event streams at once; more are answered 503. Each holds a thread of the
// server's pool, which has room for them and for pages besides.
constexpr int kMaxFluxos = 8;
constexpr int kFils = kMaxFluxos + 8;
// A client that takes more than this to take a write is dropped.
constexpr time_t kEsperaEscriptura = 5;
// A live match's parts are kept for viewers who come late, up to this many bytes; past it a
// viewer loses frames, never the match.
constexpr size_t kMaxBytesDirecte = size_t{256} << 20;
// A live view gets a part at most this often: a lock-step match is not slowed to feed it.
constexpr auto kInterval = std::chrono::milliseconds(40);

// The match being shown live: its parts, in the event stream's own framing. A new match
// (another of a tournament's) is a new generation, which viewers start over from.
struct t_directe {
  uint64_t generacio = 0;
  std::vector<t_tros> parts;
  size_t bytes = 0;
  bool ocupat = false;
  std::thread::id amo;  // the thread playing the match shown
  // Touched only by that thread: how far its parts have got.
  int joc = -1;
  t_tall tall;
  t_rellotge::time_point darrer{};
};

// What the tournament told: progress, the test's counts and its ratio over the pairs, the
// records not yet in the table, the kept files' names.
struct t_marcador {
  bool sprt_actiu = false;
  t_sprt sprt;
  size_t fets = 0, total = 0;
  t_pentanomi p{};
  std::vector<std::pair<long, double>> llr;  // pairs counted, LLR
  std::vector<json> nous;
  std::vector<std::string> guardats;
  t_rellotge::time_point inici = t_rellotge::now();
  uint64_t versio = 0;
};

}  // namespace

struct t_servei {
  httplib::Server http;
  std::thread fil;
  std::string adreca;
  bool torneig = false;
  std::mutex m;  // all below but the table
  std::condition_variable cv;
  bool acabat = false, tancant = false;
  t_directe directe;
  t_marcador marcador;
  std::map<std::string, std::string> fitxers;  // a kept file's name in /kept/ -> its path
  std::atomic<int> fluxos{0};
  // The tournament's table, made by a stream's thread outside `m` from the records so far.
  std::mutex m_taula;
  std::vector<json> registres;
  uint64_t versio_taula = ~uint64_t{0};
  std::string instantania;
};

namespace {

std::string Framed(const char* event, const std::string& dades) {
  return std::string(event[0] ? "event: " : "") + event + (event[0] ? "\n" : "") +
         "data: " + dades + "\n\n";
}

// A part of the live match, made on the match's thread from what its recording added.
void Observa(t_servei& s, const t_config& c, const t_resultat& r,
             const std::vector<t_fitxa>& fitxes, bool fi) {
  t_directe& d = s.directe;
  {
    std::lock_guard<std::mutex> l(s.m);
    if (!d.ocupat) {
      const uint64_t generacio = d.generacio + 1;
      d = t_directe{};
      d.generacio = generacio, d.ocupat = true, d.amo = std::this_thread::get_id();
      s.cv.notify_all();
    } else if (d.amo != std::this_thread::get_id()) {
      return;
    }
  }
  const auto ara = t_rellotge::now();
  if (!fi && ara - d.darrer < kInterval) return;
  if (r.joc != d.joc) d.joc = r.joc, d.tall = {};
  // The newest frame's radar is recorded with the next tick: it waits for it.
  const size_t fins = fi ? r.quadres.size() : r.quadres.size() - 1;
  if (!fi && fins <= d.tall.quadres) return;
  d.darrer = ara;
  auto part =
      std::make_shared<const std::string>(Framed("", TrosRepeticio(c, r, fitxes, fins, d.tall)));
  const bool darrer = fi && (r.joc >= c.primer_joc + std::max(1, c.jocs) - 1 || interrupcio);
  std::lock_guard<std::mutex> l(s.m);
  if (d.bytes + part->size() <= kMaxBytesDirecte) {
    d.bytes += part->size();
    d.parts.push_back(std::move(part));
  }
  if (darrer && s.torneig) d.ocupat = false;
  s.cv.notify_all();
}

// The last part of a path, the name a kept file is served by.
std::string NomFitxer(const std::string& cami) {
  return cami.substr(cami.find_last_of('/') + 1);
}

void Registre(t_servei& s, const json& registre) {
  std::lock_guard<std::mutex> l(s.m);
  for (const auto& f : registre.at("files")) {
    const std::string cami = f.get<std::string>();
    const std::string nom = NomFitxer(cami);
    const size_t punt = nom.find_last_of('.');
    const std::string ext = punt == std::string::npos ? "" : nom.substr(punt);
    if (ext != ".html" && ext != ".svg" && ext != ".txt") continue;
    s.fitxers[nom] = cami;
    if (ext == ".html") s.marcador.guardats.push_back(nom);
  }
  s.marcador.nous.push_back(registre);
  ++s.marcador.versio;
}

void Progres(t_servei& s, size_t fets, size_t total, const t_pentanomi& p) {
  std::lock_guard<std::mutex> l(s.m);
  t_marcador& m = s.marcador;
  m.fets = fets, m.total = total, m.p = p;
  long parells = 0;
  for (long n : p) parells += n;
  if (m.sprt_actiu && parells > 0 && (m.llr.empty() || m.llr.back().first != parells)) {
    // JSON has no infinity: a ratio without spread is sent as one far beyond either bound.
    const double llr = Llr(p, m.sprt);
    m.llr.emplace_back(parells, std::isfinite(llr) ? llr : std::copysign(1e9, llr));
  }
  ++m.versio;
  s.cv.notify_all();
}

// The tournament's state as the page reads it: one JSON message of the event stream. Made by
// whichever stream asks first after a change, the table outside the lock the matches take.
std::string Instantania(t_servei& s) {
  std::lock_guard<std::mutex> lt(s.m_taula);
  std::vector<json> nous;
  json j;
  bool sprt = false;
  t_sprt test;
  uint64_t versio = 0;
  {
    std::lock_guard<std::mutex> l(s.m);
    const t_marcador& m = s.marcador;
    versio = m.versio + (s.acabat ? 1 : 0);
    if (versio == s.versio_taula) return s.instantania;
    nous.swap(s.marcador.nous);
    const double segons = std::chrono::duration<double>(t_rellotge::now() - m.inici).count();
    const double ritme = segons > 0 ? static_cast<double>(m.fets) / segons : 0;
    j = {{"done", m.fets},
         {"total", m.total},
         {"rate", ritme},
         {"left", ritme > 0 ? json(static_cast<double>(m.total - std::min(m.fets, m.total)) / ritme)
                            : json(nullptr)},
         {"kept", m.guardats},
         {"live", s.directe.ocupat && !s.acabat},
         {"finished", s.acabat}};
    sprt = m.sprt_actiu, test = m.sprt;
    long parells = 0;
    for (long n : m.p) parells += n;
    j["elo"] = parells > 0 ? TextElo(m.p) : "";
    if (sprt) {
      j["sprt"] = {{"lower", test.Baixa()}, {"upper", test.Alta()},
                   {"elo0", test.elo0},     {"elo1", test.elo1},
                   {"llr", m.llr},          {"text", parells > 0 ? TextSprt(m.p, test) : ""}};
    }
  }
  for (auto& r : nous) s.registres.push_back(std::move(r));
  j["table"] =
      s.registres.empty() ? "" : TaulaResultats(s.registres, sprt ? test : std::optional<t_sprt>());
  s.versio_taula = versio;
  s.instantania = Framed("", j.dump(-1, ' ', false, json::error_handler_t::replace));
  return s.instantania;
}

// A stream ended as the protocol ends it, so that a browser sees it finished, not broken.
bool Tanca(httplib::DataSink& sink) {
  sink.done();
  return true;
}

// What one live viewer has had: the generation and how many of its parts.
struct t_lector {
  uint64_t generacio = 0;
  size_t seguent = 0;
  bool fi = false;
};

// The next write of the live stream: the parts a viewer has not had, a reset when another match
// took the view, the end (after which the stream is closed, cleanly); or, after a while with
// nothing new, a comment that finds out whether the viewer is still there. False for a viewer
// gone.
bool EnviaDirecte(t_servei& s, t_lector& lector, httplib::DataSink& sink) {
  std::vector<t_tros> parts;
  std::string cap;
  bool fi = false;
  {
    std::unique_lock<std::mutex> l(s.m);
    const t_directe& d = s.directe;
    s.cv.wait_for(l, std::chrono::seconds(5), [&] {
      return s.tancant || (d.ocupat && lector.generacio != d.generacio) ||
             lector.seguent < d.parts.size() || (s.acabat && !lector.fi);
    });
    if (d.ocupat && lector.generacio != d.generacio) {
      if (lector.generacio != 0) cap = Framed("reset", "{}");
      lector = {d.generacio, 0, false};
    }
    for (; lector.seguent < d.parts.size() && parts.size() < 512; ++lector.seguent) {
      parts.push_back(d.parts[lector.seguent]);
    }
    fi = s.acabat && lector.seguent == d.parts.size() && !lector.fi;
    lector.fi = lector.fi || fi;
    // Stopping, the server still sends what is left and the end, then closes the stream.
    if (s.tancant && parts.empty() && cap.empty() && !fi) return Tanca(sink);
  }
  std::string text = std::move(cap);
  for (const auto& p : parts) text += *p;
  if (fi) text += Framed("end", "{}");
  if (text.empty()) text = ": \n\n";
  if (!sink.write(text.data(), text.size())) return false;
  return fi ? Tanca(sink) : true;
}

// The tournament's stream: its state each time it changed, a few times a second at most, and
// closed after the last.
bool EnviaTorneig(t_servei& s, uint64_t& vista, httplib::DataSink& sink) {
  bool fi = false;
  {
    std::unique_lock<std::mutex> l(s.m);
    s.cv.wait_for(l, std::chrono::seconds(5),
                  [&] { return s.tancant || s.marcador.versio + (s.acabat ? 1 : 0) != vista; });
    const bool igual = s.marcador.versio + (s.acabat ? 1 : 0) == vista;
    if (s.tancant && igual) return Tanca(sink);
    if (igual) return sink.write(": \n\n", 4);
    vista = s.marcador.versio + (s.acabat ? 1 : 0);
    fi = s.acabat;
  }
  const std::string text = Instantania(s);
  if (!sink.write(text.data(), text.size())) return false;
  if (fi) return Tanca(sink);
  // A busy tournament's page is redrawn a few times a second, not for every game.
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  return true;
}

// A stream's place given back; the arena, stopping, waits for every stream to have ended.
void DeixaFlux(t_servei& s) {
  std::lock_guard<std::mutex> l(s.m);
  --s.fluxos;
  s.cv.notify_all();
}

// An event stream, if one more may be open; 503 otherwise.
template <class F>
void Flux(t_servei& s, httplib::Response& res, F envia) {
  if (s.fluxos.fetch_add(1) >= kMaxFluxos) {
    DeixaFlux(s);
    res.status = 503;
    res.set_content("too many viewers at once\n", "text/plain");
    return;
  }
  res.set_header("Cache-Control", "no-cache");
  res.set_chunked_content_provider(
      "text/event-stream", [envia](size_t, httplib::DataSink& sink) mutable { return envia(sink); },
      [&s](bool) { DeixaFlux(s); });
}

const char* TipusContingut(const std::string& nom) {
  if (nom.size() > 4 && nom.compare(nom.size() - 4, 4, ".svg") == 0) return "image/svg+xml";
  if (nom.size() > 4 && nom.compare(nom.size() - 4, 4, ".txt") == 0) {
    return "text/plain; charset=utf-8";
  }
  return "text/html; charset=utf-8";
}

// Only what is named here is served; anything else, whatever its path, is 404.
void Rutes(t_servei& s) {
  s.http.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.method == "GET") return httplib::Server::HandlerResponse::Unhandled;
    res.status = 405;
    res.set_header("Allow", "GET");
    res.set_content("only GET\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  });
  const std::string directe = PaginaDirecte("Live match", "/events/live");
  const std::string torneig = [] {
    std::string html = kTorneigHtml;
    const size_t on = html.find("//@JS@");
    return html.replace(on, 6, kTorneigJs);
  }();
  s.http.Get("/", [&s, directe, torneig](const httplib::Request&, httplib::Response& res) {
    res.set_content(s.torneig ? torneig : directe, "text/html; charset=utf-8");
  });
  s.http.Get("/favicon.ico",
             [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  s.http.Get("/live", [directe](const httplib::Request&, httplib::Response& res) {
    res.set_content(directe, "text/html; charset=utf-8");
  });
  s.http.Get("/events/live", [&s](const httplib::Request&, httplib::Response& res) {
    Flux(s, res, [&s, lector = t_lector{}](httplib::DataSink& sink) mutable {
      return EnviaDirecte(s, lector, sink);
    });
  });
  s.http.Get("/events/tournament", [&s](const httplib::Request&, httplib::Response& res) {
    Flux(s, res, [&s, vista = ~uint64_t{0}](httplib::DataSink& sink) mutable {
      return EnviaTorneig(s, vista, sink);
    });
  });
  s.http.Get(R"(/kept/([^/]+))", [&s](const httplib::Request& req, httplib::Response& res) {
    std::string cami;
    {
      std::lock_guard<std::mutex> l(s.m);
      const auto it = s.fitxers.find(req.matches[1].str());
      if (it != s.fitxers.end()) cami = it->second;
    }
    std::ifstream in(cami, std::ios::binary);
    if (cami.empty() || !in) {
      res.status = 404;
      return;
    }
    std::ostringstream text;
    text << in.rdbuf();
    res.set_content(text.str(), TipusContingut(cami));
  });
}

}  // namespace

t_servei* ObreServei(const t_adreca& a, bool torneig, std::string& error) {
  auto s = std::make_unique<t_servei>();
  s->torneig = torneig;
  Rutes(*s);
  s->http.new_task_queue = [] { return new httplib::ThreadPool(kFils); };
  s->http.set_write_timeout(kEsperaEscriptura);
  s->http.set_read_timeout(kEsperaEscriptura);
  s->http.set_keep_alive_timeout(2);
  // A small send buffer: a viewer that does not read is found out, and dropped, soon.
  s->http.set_socket_options([](socket_t sock) {
    int u = 1, mida = 256 << 10;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &u, sizeof u);
    setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &mida, sizeof mida);
  });
  errno = 0;
  int port = a.port;
  const bool lligat = a.port == 0 ? (port = s->http.bind_to_any_port(a.host)) > 0
                                  : s->http.bind_to_port(a.host, a.port);
  if (!lligat) {
    error = "--serve: cannot listen on " + a.host + ":" + std::to_string(a.port) +
            (errno != 0 ? ": " + std::string(std::strerror(errno)) : "");
    return nullptr;
  }
  const bool v6 = a.host.find(':') != std::string::npos;
  s->adreca = "http://" + (v6 ? "[" + a.host + "]" : a.host) + ":" + std::to_string(port) + "/";
  // The server's threads (the pool is made by this one) take no signal: they go to the arena.
  sigset_t tots, abans;
  sigfillset(&tots);
  pthread_sigmask(SIG_BLOCK, &tots, &abans);
  t_servei* p = s.get();
  s->fil = std::thread([p] { p->http.listen_after_bind(); });
  pthread_sigmask(SIG_SETMASK, &abans, nullptr);
  return s.release();
}

std::string AdrecaServei(const t_servei& s) {
  return s.adreca;
}

t_observador ObservadorPartida(t_servei& s) {
  return [&s](const t_config& c, const t_resultat& r, const std::vector<t_fitxa>& fitxes, bool fi) {
    Observa(s, c, r, fitxes, fi);
  };
}

void ObservaTorneig(t_servei& s, t_torneig& t) {
  {
    std::lock_guard<std::mutex> l(s.m);
    s.marcador.sprt_actiu = t.sprt.has_value();
    if (t.sprt) s.marcador.sprt = *t.sprt;
  }
  t.en_registre = [&s](const json& registre) { Registre(s, registre); };
  t.en_progres = [&s](size_t fets, size_t total, const t_pentanomi& p) {
    Progres(s, fets, total, p);
  };
}

void AcabaServei(t_servei& s) {
  std::lock_guard<std::mutex> l(s.m);
  s.acabat = true;
  s.cv.notify_all();
}

void EsperaSenyal() {
  sigset_t senyals, abans;
  sigemptyset(&senyals);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&senyals, sig);
  pthread_sigmask(SIG_BLOCK, &senyals, &abans);
  while (!interrupcio) sigsuspend(&abans);
  pthread_sigmask(SIG_SETMASK, &abans, nullptr);
}

void TancaServei(t_servei* s) {
  {
    std::unique_lock<std::mutex> l(s->m);
    s->tancant = true;
    s->cv.notify_all();
    // The open streams end themselves, with what is left and their end: the server, once
    // stopped, would cut them between two writes, and a viewer would never see its match end.
    // One whose viewer does not read is dropped at its write's timeout.
    s->cv.wait_for(l, std::chrono::seconds(kEsperaEscriptura + 1), [s] { return s->fluxos == 0; });
  }
  s->http.stop();
  if (s->fil.joinable()) s->fil.join();
  delete s;
}

}  // namespace arena
