#include "engine/customfit.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/fittexts.h"
#include "engine/logchannel.h"
#include "engine/utf8.h"

namespace orvalle {

// ------------------------------------------------------------ PluginLibrary

std::string PluginLibrary::name() const {
  const char *s = customfitname ? customfitname() : nullptr;
  return s ? std::string(s) : std::string();
}

int PluginLibrary::estimates() const {
  return customestimates ? std::clamp(customestimates(), 0, 5) : 0;
}

int PluginLibrary::polydegree() const { return customispoly ? customispoly() : 0; }

namespace {

bool isvalidutf8(const std::string &text) {
  return validutf8(reinterpret_cast<const unsigned char *>(text.data()), text.size());
}

bool hascontrol(const std::string &text) {
  return std::any_of(text.begin(), text.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7F;
  });
}

// A text from a plug-in made fit for one line: bytes that are not UTF-8
// become U+FFFD, control characters (line breaks among them) blanks, and
// at most `limit` bytes are kept, never half a character.
std::string oneline(const char *raw, std::size_t limit) {
  std::string out;
  if (!raw)
    return out;
  const std::size_t n = ::strnlen(raw, limit + 4);
  const auto *s = reinterpret_cast<const unsigned char *>(raw);
  for (std::size_t i = 0; i < n;) {
    const int found = utf8length(s + i, n - i);
    std::size_t len = found > 0 ? static_cast<std::size_t>(found) : 0;
    std::string piece;
    if (len == 0) {
      piece = "\xEF\xBF\xBD";
      len = 1;
    } else if (len == 1 && (s[i] < 0x20 || s[i] == 0x7F)) {
      piece = " ";
    } else {
      piece.assign(raw + i, len);
    }
    if (out.size() + piece.size() > limit)
      break;
    out += piece;
    i += len;
  }
  return out;
}

// The longest text the program takes from a plug-in for one line.
constexpr std::size_t kPluginTextBytes = 4096;

} // namespace

std::string PluginLibrary::message() const {
  return oneline(messageis ? messageis() : nullptr, kPluginTextBytes);
}

std::string pluginfault(const PluginLibrary &lib) {
  if (!lib.customfitname)
    return {};
  const char *raw = lib.customfitname();
  if (!raw)
    return {};
  const std::size_t n = ::strnlen(raw, kPluginNameBytes + 1);
  if (n > kPluginNameBytes)
    return "The plug-in library's model name is longer than " + std::to_string(kPluginNameBytes) +
           " bytes";
  const std::string name(raw, n);
  if (name.empty())
    return {};
  if (!isvalidutf8(name))
    return "The plug-in library's model name is not UTF-8 text";
  if (hascontrol(name))
    return "The plug-in library's model name holds a line break or another control character";
  const std::string who = texts::kPluginModel + name + "\"";
  const int estimates = lib.customestimates ? lib.customestimates() : 0;
  if (estimates < 0 || estimates > 5)
    return who + " asks for " + std::to_string(estimates) +
           " estimates (customestimates); a model takes 0 to 5";
  const int degree = lib.customispoly ? lib.customispoly() : 0;
  if (degree < 0 || degree > 9)
    return who + " asks for a polynomial of degree " + std::to_string(degree) +
           " (customispoly); the degree is 1 to 9, or 0 for the plug-in's own model";
  return {};
}

namespace {

template <class Fn>
bool bindone(const std::function<void *(const char *)> &resolve, const char *symbol, Fn &slot,
             std::string *whyNot) {
  void *p = resolve(symbol);
  if (!p) {
    if (whyNot)
      *whyNot = std::string("The plug-in library lacks the function ") + symbol;
    return false;
  }
  slot = reinterpret_cast<Fn>(p);
  return true;
}

} // namespace

std::optional<PluginLibrary> bindplugin(const std::function<void *(const char *symbol)> &resolve,
                                        std::string *whyNot) {
  if (!resolve) {
    if (whyNot)
      *whyNot = "No plug-in library";
    return std::nullopt;
  }
  if (void *abi = resolve("orvalle_plugin_abi")) {
    const int version = reinterpret_cast<orvalle_plugin_abi_fn>(abi)();
    if (version != ORVALLE_PLUGIN_ABI_VERSION) {
      if (whyNot)
        *whyNot = "The plug-in library was built for contract version " + std::to_string(version) +
                  ", not " + std::to_string(ORVALLE_PLUGIN_ABI_VERSION);
      return std::nullopt;
    }
  }
  PluginLibrary lib;
  if (!bindone(resolve, "customfitname", lib.customfitname, whyNot) ||
      !bindone(resolve, "customestimates", lib.customestimates, whyNot) ||
      !bindone(resolve, "customispoly", lib.customispoly, whyNot) ||
      !bindone(resolve, "messageis", lib.messageis, whyNot) ||
      !bindone(resolve, "setloghangle", lib.setloghangle, whyNot) ||
      !bindone(resolve, "customfit_value", lib.customfit_value, whyNot) ||
      !bindone(resolve, "customfit_fit", lib.customfit_fit, whyNot) ||
      !bindone(resolve, "customfit_describe", lib.customfit_describe, whyNot) ||
      !bindone(resolve, "customfit_formula", lib.customfit_formula, whyNot))
    return std::nullopt;
  if (std::string fault = pluginfault(lib); !fault.empty()) {
    if (whyNot)
      *whyNot = std::move(fault);
    return std::nullopt;
  }
  return lib;
}

namespace {

bool absolutepath(const std::string &path, std::string *whyNot) {
  if (!path.empty() && path.front() == '/')
    return true;
  if (whyNot)
    *whyNot = "The plug-in library path is not absolute: \"" + path + "\"";
  return false;
}

std::optional<PluginLibrary> openlibrary(const std::string &path, std::string *whyNot) {
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (whyNot) {
      const char *e = dlerror();
      *whyNot = e ? e : "The plug-in library could not be opened";
    }
    return std::nullopt;
  }
  std::shared_ptr<void> keep(handle, [](void *h) { dlclose(h); });
  auto lib = bindplugin([&](const char *symbol) { return dlsym(handle, symbol); }, whyNot);
  if (lib)
    lib->keepalive = std::move(keep);
  return lib;
}

void quietpost(void *, int, int) {}

// The child's side of tryplugin: the library's first calls, then the
// answer ("" when sound, else the reason) on fd. Never returns.
[[noreturn]] void trialchild(const std::string &path, int fd) {
  std::string why;
  int dummy = 0;
  if (auto lib = openlibrary(path, &why)) {
    lib->setloghangle(&dummy, quietpost);
    lib->setloghangle(nullptr, nullptr);
  } else if (why.empty()) {
    why = "The plug-in library could not be bound";
  }
  // The answer ends in a NUL: the parent need not wait for the end of
  // the pipe, which a process the library started could hold open.
  std::string answer = "answer:" + why;
  answer += '\0';
  const char *p = answer.data();
  std::size_t left = answer.size();
  while (left > 0) {
    const ssize_t w = ::write(fd, p, left);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0)
      break;
    p += w;
    left -= static_cast<std::size_t>(w);
  }
  ::_exit(0);
}

// Reads what the child writes until its closing NUL, the end of the pipe
// or the end of the time allowed. False when the time ran out.
bool readanswer(int fd, int timeoutms, std::string &answer) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(timeoutms);
  char buffer[4096];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    if (left <= 0)
      return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return ready < 0;
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return true;
    answer.append(buffer, static_cast<std::size_t>(got));
    if (answer.back() == '\0') {
      answer.pop_back();
      return true;
    }
  }
}

int waitfor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

} // namespace

bool tryplugin(const std::string &path, std::string *whyNot, int timeoutms) {
  if (!absolutepath(path, whyNot))
    return false;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return true;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return true;
  }
  if (pid == 0) {
    ::close(fds[0]);
    trialchild(path, fds[1]);
  }
  ::close(fds[1]);
  std::string answer;
  const bool intime = readanswer(fds[0], timeoutms, answer);
  ::close(fds[0]);
  if (!intime)
    ::kill(pid, SIGKILL);
  const int status = waitfor(pid);
  const std::string what = "The plug-in library " + path;
  const std::string when = " while it was loaded and asked for its model's name";
  std::string why;
  if (!intime) {
    why = what + " did not answer within " +
          (timeoutms % 1000 == 0 ? std::to_string(timeoutms / 1000) + " s"
                                 : std::to_string(timeoutms) + " ms") +
          when;
  } else if (answer.rfind("answer:", 0) == 0) {
    why = answer.substr(7);
  } else if (WIFSIGNALED(status)) {
    const char *name = ::strsignal(WTERMSIG(status));
    why = what + " crashed (" + (name ? name : "signal " + std::to_string(WTERMSIG(status))) + ")" +
          when;
  } else {
    why = what + " ended the program (exit status " +
          std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")" + when;
  }
  if (why.empty())
    return true;
  if (whyNot)
    *whyNot = std::move(why);
  return false;
}

std::optional<PluginLibrary> loadpluginfile(const std::string &path, std::string *whyNot) {
  if (!absolutepath(path, whyNot) || !tryplugin(path, whyNot))
    return std::nullopt;
  return openlibrary(path, whyNot);
}

// ---------------------------------------------------------------- customfit

namespace {

orvalle_params paramsof(const double *par, const double *err) {
  orvalle_params p{};
  std::copy(par, par + ORVALLE_MAX_PARAMS, p.par);
  std::copy(err, err + ORVALLE_MAX_PARAMS, p.err);
  return p;
}

// Collects the lines a plug-in writes; nothing may escape into its C code.
void appendline(void *ctx, const char *utf8) noexcept {
  try {
    auto *lines = static_cast<std::pair<stringlist *, std::size_t> *>(ctx);
    if (lines->second++ < customfit::kPluginLines)
      lines->first->push_back(oneline(utf8, kPluginTextBytes));
  } catch (...) {
  }
}

struct firstline {
  std::string text;
  bool given = false;
  bool valid = true;
};

void keepfirst(void *ctx, const char *utf8) noexcept {
  try {
    auto *s = static_cast<firstline *>(ctx);
    if (s->given || !utf8)
      return;
    s->given = true;
    const std::size_t n = ::strnlen(utf8, kPluginTextBytes + 1);
    s->text.assign(utf8, n);
    s->valid = n <= kPluginTextBytes && isvalidutf8(s->text) && !hascontrol(s->text);
  } catch (...) {
  }
}

std::string numbertext(double v) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

} // namespace

customfit::customfit(PluginLibrary library) : lib_(std::move(library)) {
  if (!lib_.customfit_value || !lib_.customfit_fit || !lib_.customfit_describe ||
      !lib_.customfit_formula)
    throw engine_error(kFailedFit, "The plug-in library has no fit model");
  order = 1;
}

std::string customfit::who() const {
  return texts::kPluginModel +
         oneline(lib_.customfitname ? lib_.customfitname() : nullptr, kPluginNameBytes) + "\"";
}

void customfit::failwith(const std::string &why) const {
  logmessage(why);
  throw engine_error(kFailedFit, why);
}

double customfit::value(double x) const {
  const orvalle_params p = paramsof(par, err);
  return lib_.customfit_value(&p, x);
}

void customfit::fit(bool gauss) {
  if (!data || !data->w || !data->x || !data->y || !data->yerr)
    throw engine_error(kFailedFit, texts::kNoWeightedDataset);
  const int n = data->w->n;
  if (data->x->n != n || data->y->n != n || data->yerr->n != n)
    throw engine_error(kRowLengths, texts::kRowsDiffer);
  const orvalle_points pts{data->x->data.data(), data->y->data.data(), data->yerr->data.data(),
                           data->w->data.data(), n};
  orvalle_params p = paramsof(par, err);
  const std::string said = lib_.message();
  if (const int code = lib_.customfit_fit(&p, &pts, gauss ? 1 : 0); code != 0) {
    // The plug-in says why through its log link; when it said nothing new
    // the failure is told here.
    const std::string now = lib_.message();
    if (!now.empty() && now != said)
      throw engine_error(kFailedFit, now);
    failwith(who() + " could not fit the dataset (its fit returned " + std::to_string(code) + ")");
  }
  // Every slot, used or not: the description and the export may show any.
  for (int k = 0; k < ORVALLE_MAX_PARAMS; ++k) {
    std::string slot(1, '[');
    slot += std::to_string(k);
    slot += ']';
    if (!std::isfinite(p.par[k]))
      failwith(who() + " gave parameter " + slot + " = " + numbertext(p.par[k]) +
               ", which is not a finite number");
    if (!std::isfinite(p.err[k]))
      failwith(who() + " gave uncertainty " + slot + " = " + numbertext(p.err[k]) +
               ", which is not a finite number");
    if (p.err[k] < 0.0)
      failwith(who() + " gave the negative uncertainty " + slot + " = " + numbertext(p.err[k]));
  }
  // The model's values where the chi-square and the deviations need them.
  for (int i = 0; i < n; ++i) {
    const double v = lib_.customfit_value(&p, pts.x[i]);
    if (!std::isfinite(v))
      failwith(who() + " gives " + numbertext(v) + " at x = " + numbertext(pts.x[i]) +
               ", which is not a finite number");
  }
  std::copy(p.par, p.par + ORVALLE_MAX_PARAMS, par);
  std::copy(p.err, p.err + ORVALLE_MAX_PARAMS, err);
}

void customfit::describe(stringlist &lines, bool clear) const {
  if (clear)
    lines.clear();
  const orvalle_params p = paramsof(par, err);
  const bool has = hasverdict();
  const int v = has ? verdict() : 0;
  const orvalle_verdict info{chisq(),           dof(), has ? 1 : 0, v, verdictwarning(v).c_str(),
                             decimalseparator()};
  const std::size_t start = lines.size();
  std::pair<stringlist *, std::size_t> sink{&lines, 0};
  lib_.customfit_describe(&p, &info, clear ? 1 : 0, appendline, &sink);
  // How the x errors were used, after the plug-in's caption as for every
  // other model: the plug-in cannot know.
  if (!xerrmethod.empty()) {
    const std::string line = texts::kXErrorsIncluded + xerrmethod + ")";
    if (lines.size() > start)
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(start) + 1, line);
    else
      lines.push_back(line);
  }
}

std::string customfit::formula(int index) const {
  const orvalle_params p = paramsof(par, err);
  firstline first;
  lib_.customfit_formula(&p, index, keepfirst, &first);
  const std::string head = formulahead(index);
  if (!first.valid || first.text.compare(0, head.size(), head) != 0)
    throw engine_error(kFailedFit, who() +
                                       " wrote a gnuplot definition that is not one line "
                                       "beginning \"" +
                                       head + "\"");
  return first.text;
}

} // namespace orvalle
