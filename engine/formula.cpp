// The typed formula: a small tokenizer of our own decides which names are
// what and rewrites the text for muparser, which checks the grammar and
// evaluates it. Every token remembers where it stood in the typed text, so
// that muparser's complaints are reported at the student's positions.
#include "engine/formula.h"
#include "engine/numeric.h"

#include <muParser.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string_view>

namespace orvalle {

namespace {

// The functions of the language, as typed; muparser knows each under the
// same name (its log is the natural logarithm, like ln).
constexpr std::array<std::string_view, 15> kFunctions = {"exp",  "log",  "ln",   "log10", "sqrt",
                                                         "sin",  "cos",  "tan",  "asin",  "acos",
                                                         "atan", "sinh", "cosh", "tanh",  "abs"};

constexpr std::size_t kMaxName = 32;

bool isfunction(std::string_view name) {
  return std::find(kFunctions.begin(), kFunctions.end(), name) != kFunctions.end();
}

bool isletter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isdigit(char c) { return c >= '0' && c <= '9'; }

enum class kind { number, variable, constant, function, parameter, op, open, close };

struct token {
  kind what;
  std::string text; // as typed
  int position;     // in characters, from 1
  double number = 0.0;
  int parameter = -1;
  std::size_t mustart = 0, muend = 0; // where it stands in muparser's text
};

// A number as gnuplot reads a floating-point number: with a point or an
// exponent, so that 1/2 does not become an integer division.
std::string floatliteral(double v) {
  std::string s = shortesttext(v);
  if (s.find_first_of(".en") == std::string::npos)
    s += ".0";
  return s;
}

std::string quoted(const std::string &t) { return "'" + t + "'"; }

std::string at(int position) { return " at position " + std::to_string(position); }

// One character of text starting at byte i, whole even when it takes
// several bytes in UTF-8.
std::string characterat(const std::string &text, std::size_t i) {
  std::size_t j = i + 1;
  while (j < text.size() && (static_cast<unsigned char>(text[j]) & 0xC0) == 0x80)
    ++j;
  return text.substr(i, j - i);
}

std::string describechar(const std::string &ch) {
  const auto c = static_cast<unsigned char>(ch[0]);
  if (c < 0x20 || c == 0x7F) {
    static const char hex[] = "0123456789ABCDEF";
    return std::string("control character 0x") + hex[c >> 4] + hex[c & 15];
  }
  return "character " + quoted(ch);
}

// One step of the formula's expression tree in postfix order, which the
// derivatives run on a stack.
enum class step {
  number,
  variable,
  parameter,
  negate,
  add,
  subtract,
  multiply,
  divide,
  power,
  function
};

struct node {
  step what;
  double number = 0.0; // step::number
  int index = 0;       // the parameter, or the function in kFunctions
};

// A value with its derivatives with respect to the parameters and, last,
// x: at most kMaxParameters + 1 of them.
template <typename T> struct dualof {
  T v = 0;
  std::array<T, typedformula::kMaxParameters + 1> d{};
};
using dual = dualof<double>;

} // namespace

struct typedformula::impl {
  std::string source; // as typed: positions count in it
  std::string text;   // without its outer blanks, for showing
  std::vector<std::string> names;
  std::vector<token> tokens;
  std::string mutext;
  // muparser reads x and the parameters from here.
  double x = 0.0;
  std::array<double, kMaxParameters> p{};
  mu::Parser parser;
  // The expression tree in postfix order, and the stack it runs on.
  std::vector<node> program;
  std::vector<dual> stack;
  std::vector<dualof<long double>> longstack;

  // Splits source into tokens, gathering the parameters' names.
  void tokenize();
  // Each reads the token that starts at byte i (at character position
  // pos) into tokens and returns the byte after it, or raises the error.
  std::size_t readnumber(std::size_t i, const std::vector<int> &charpos);
  std::size_t readname(std::size_t i, int pos);
  std::size_t readsymbol(std::size_t i, int pos);
  // The index of parameter name, taken into names when new.
  int parameterindex(const std::string &name, int pos);
  void compile();
  // Builds program from tokens, which muparser has accepted, with its
  // precedences: + - below * / and the signs, below ^ (from the right).
  void buildtree();
  std::size_t sum(std::size_t i);
  std::size_t product(std::size_t i);
  std::size_t signed_(std::size_t i);
  std::size_t power(std::size_t i);
  std::size_t primary(std::size_t i);
  // Runs program with derivatives in n components; the result is
  // stack.front().
  template <typename T> void run(std::vector<dualof<T>> &on, int n) const;
  int positionofmu(int mupos) const;
  [[noreturn]] void muerror(const mu::Parser::exception_type &e) const;
};

namespace {

// The position of the character that starts at each byte of text, from 1
// (a byte inside a UTF-8 sequence has its character's), and one past the
// last character for the end of the text.
std::vector<int> characterpositions(const std::string &text) {
  std::vector<int> charpos(text.size() + 1);
  int count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
      ++count;
    charpos[i] = count;
  }
  charpos[text.size()] = count + 1;
  return charpos;
}

// Whether a number starts at byte i: a digit, or a point before a digit.
bool startsnumber(const std::string &text, std::size_t i) {
  return isdigit(text[i]) || (text[i] == '.' && i + 1 < text.size() && isdigit(text[i + 1]));
}

// Where the digits from byte j on end.
std::size_t digitsend(const std::string &text, std::size_t j) {
  while (j < text.size() && isdigit(text[j]))
    ++j;
  return j;
}

// Where the exponent ("e" or "E", a sign, digits) at byte j ends; j when
// there is none, or no digit follows its "e" and sign.
std::size_t exponentend(const std::string &text, std::size_t j) {
  if (j >= text.size() || (text[j] != 'e' && text[j] != 'E'))
    return j;
  std::size_t k = j + 1;
  if (k < text.size() && (text[k] == '+' || text[k] == '-'))
    ++k;
  return k < text.size() && isdigit(text[k]) ? digitsend(text, k) : j;
}

// Where the number starting at byte i ends: digits, a point and digits, and
// an exponent.
std::size_t numberend(const std::string &text, std::size_t i) {
  std::size_t j = digitsend(text, i);
  if (j < text.size() && text[j] == '.')
    j = digitsend(text, j + 1);
  return exponentend(text, j);
}

// Where the name starting at byte i ends: letters, digits and underscores.
std::size_t nameend(const std::string &text, std::size_t i) {
  std::size_t j = i;
  while (j < text.size() && (isletter(text[j]) || isdigit(text[j]) || text[j] == '_'))
    ++j;
  return j;
}

// Whether an opening parenthesis follows byte j, blanks apart.
bool parenthesisfollows(const std::string &text, std::size_t j) {
  while (j < text.size() && (text[j] == ' ' || text[j] == '\t'))
    ++j;
  return j < text.size() && text[j] == '(';
}

} // namespace

void typedformula::impl::tokenize() {
  const std::vector<int> charpos = characterpositions(source);
  std::size_t i = 0;
  while (i < source.size()) {
    const char c = source[i];
    if (c == ' ' || c == '\t')
      ++i;
    else if (startsnumber(source, i))
      i = readnumber(i, charpos);
    else if (isletter(c))
      i = readname(i, charpos[i]);
    else
      i = readsymbol(i, charpos[i]);
  }
  if (tokens.empty())
    throw formula_error("The formula is empty: type one in x, e.g. A*exp(-x/B)", 0);
  if (names.empty())
    throw formula_error("The formula has no parameter to fit: name one, e.g. A*x", 0);
}

std::size_t typedformula::impl::readnumber(std::size_t i, const std::vector<int> &charpos) {
  const int pos = charpos[i];
  const std::size_t j = numberend(source, i);
  const std::string t = source.substr(i, j - i);
  double v = 0.0;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(v))
    throw formula_error("The number " + quoted(t) + at(pos) + " is out of range", pos);
  if (j < source.size() && (isletter(source[j]) || source[j] == '_'))
    throw formula_error("Missing operator between " + quoted(t) + " and what follows" +
                            at(charpos[j]) + " (write 2*x, not 2x)",
                        charpos[j]);
  if (j < source.size() && (source[j] == '.' || isdigit(source[j])))
    throw formula_error("Unexpected " + describechar(characterat(source, j)) + at(charpos[j]),
                        charpos[j]);
  tokens.push_back({kind::number, t, pos, v});
  return j;
}

std::size_t typedformula::impl::readname(std::size_t i, int pos) {
  const std::size_t j = nameend(source, i);
  const std::string name = source.substr(i, j - i);
  if (name.size() > kMaxName)
    throw formula_error("The name " + quoted(name.substr(0, 12) + "...") + at(pos) +
                            " is too long (at most " + std::to_string(kMaxName) + " characters)",
                        pos);
  const bool called = parenthesisfollows(source, j);
  token t{kind::parameter, name, pos};
  if (name == "x") {
    t.what = kind::variable;
  } else if (name == "pi") {
    t.what = kind::constant;
  } else if (isfunction(name)) {
    if (!called)
      throw formula_error("The function " + quoted(name) + at(pos) +
                              " needs its argument in parentheses, e.g. " + name + "(x)",
                          pos);
    t.what = kind::function;
  } else if (called) {
    throw formula_error("Unknown name " + quoted(name) + at(pos), pos);
  } else {
    t.parameter = parameterindex(name, pos);
  }
  tokens.push_back(t);
  return j;
}

int typedformula::impl::parameterindex(const std::string &name, int pos) {
  const auto found = std::find(names.begin(), names.end(), name);
  if (found != names.end())
    return static_cast<int>(found - names.begin());
  if (static_cast<int>(names.size()) == kMaxParameters)
    throw formula_error("Too many parameters: " + quoted(name) + at(pos) +
                            " would be the tenth; a formula may have at most " +
                            std::to_string(kMaxParameters),
                        pos);
  names.push_back(name);
  return static_cast<int>(names.size()) - 1;
}

std::size_t typedformula::impl::readsymbol(std::size_t i, int pos) {
  const char c = source[i];
  if (c == '*' && i + 1 < source.size() && source[i + 1] == '*') {
    tokens.push_back({kind::op, "**", pos});
    return i + 2;
  }
  if (std::strchr("+-*/^", c) != nullptr && c != '\0') {
    tokens.push_back({kind::op, std::string(1, c), pos});
    return i + 1;
  }
  if (c == '(' || c == ')') {
    tokens.push_back({c == '(' ? kind::open : kind::close, std::string(1, c), pos});
    return i + 1;
  }
  throw formula_error("Unexpected " + describechar(characterat(source, i)) + at(pos), pos);
}

int typedformula::impl::positionofmu(int mupos) const {
  if (mupos >= 0)
    for (const token &t : tokens)
      if (static_cast<std::size_t>(mupos) < t.muend)
        return t.position;
  // Past the last token: just after the end of the text.
  int chars = 0;
  for (const char ch : source)
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80)
      ++chars;
  return chars + 1;
}

void typedformula::impl::muerror(const mu::Parser::exception_type &e) const {
  const int pos = positionofmu(e.GetPos());
  const token *t = nullptr;
  for (const token &k : tokens)
    if (k.position == pos)
      t = &k;
  const std::string what = t ? quoted(t->text) : std::string();
  switch (e.GetCode()) {
  case mu::ecUNEXPECTED_EOF:
    throw formula_error("The formula ends too soon" + at(pos), pos);
  case mu::ecMISSING_PARENS:
    throw formula_error("Missing closing parenthesis ')'" + at(pos), pos);
  case mu::ecUNEXPECTED_PARENS:
    throw formula_error("Unexpected parenthesis " + what + at(pos), pos);
  case mu::ecUNEXPECTED_OPERATOR:
    throw formula_error("Unexpected operator " + what + at(pos), pos);
  case mu::ecUNEXPECTED_VAL:
  case mu::ecUNEXPECTED_VAR:
  case mu::ecUNEXPECTED_FUN:
    throw formula_error("Missing operator before " + what + at(pos), pos);
  default:
    if (t)
      throw formula_error("Unexpected " + what + at(pos), pos);
    throw formula_error("The formula cannot be read" + at(pos), pos);
  }
}

void typedformula::impl::compile() {
  // muparser's text: the tokens one blank apart, parameters under names
  // that cannot be typed (_p0 ... _p8), so that none is taken for one of
  // muparser's own functions.
  mutext.clear();
  kind previous = kind::op;
  for (token &t : tokens) {
    // muparser wants a function's parenthesis right after its name.
    if (!mutext.empty() && previous != kind::function)
      mutext += ' ';
    previous = t.what;
    t.mustart = mutext.size();
    switch (t.what) {
    case kind::number:
      mutext += shortesttext(t.number);
      break;
    case kind::constant:
      // muparser's own _pi has only 13 digits.
      mutext += shortesttext(std::numbers::pi);
      break;
    case kind::parameter:
      mutext += "_p" + std::to_string(t.parameter);
      break;
    case kind::op:
      mutext += t.text == "**" ? "^" : t.text;
      break;
    default:
      mutext += t.text;
    }
    t.muend = mutext.size();
  }
  try {
    parser.DefineVar("x", &x);
    for (std::size_t k = 0; k < names.size(); ++k)
      parser.DefineVar("_p" + std::to_string(k), &p[k]);
    parser.SetExpr(mutext);
    // muparser reads the grammar on the first evaluation.
    x = 1.0;
    p.fill(1.0);
    (void)parser.Eval();
  } catch (const mu::Parser::exception_type &e) {
    muerror(e);
  }
}

namespace {

bool isop(const token &t, const char *text) { return t.what == kind::op && t.text == text; }

} // namespace

void typedformula::impl::buildtree() {
  program.clear();
  const std::size_t end = sum(0);
  if (end != tokens.size())
    throw formula_error("The formula cannot be read" + at(tokens[end].position),
                        tokens[end].position);
  stack.assign(program.size(), dual{});
  longstack.assign(program.size(), dualof<long double>{});
}

std::size_t typedformula::impl::sum(std::size_t i) {
  i = product(i);
  while (i < tokens.size() && (isop(tokens[i], "+") || isop(tokens[i], "-"))) {
    const step s = tokens[i].text == "+" ? step::add : step::subtract;
    i = product(i + 1);
    program.push_back({s});
  }
  return i;
}

std::size_t typedformula::impl::product(std::size_t i) {
  i = signed_(i);
  while (i < tokens.size() && (isop(tokens[i], "*") || isop(tokens[i], "/"))) {
    const step s = tokens[i].text == "*" ? step::multiply : step::divide;
    i = signed_(i + 1);
    program.push_back({s});
  }
  return i;
}

// A sign binds less tightly than a power: -x^2 is -(x^2).
std::size_t typedformula::impl::signed_(std::size_t i) {
  if (i < tokens.size() && (isop(tokens[i], "-") || isop(tokens[i], "+"))) {
    const bool minus = tokens[i].text == "-";
    i = signed_(i + 1);
    if (minus)
      program.push_back({step::negate});
    return i;
  }
  return power(i);
}

// a^b^c is a^(b^c), and an exponent may carry a sign: 2^-x.
std::size_t typedformula::impl::power(std::size_t i) {
  i = primary(i);
  if (i < tokens.size() && (isop(tokens[i], "^") || isop(tokens[i], "**"))) {
    i = signed_(i + 1);
    program.push_back({step::power});
  }
  return i;
}

std::size_t typedformula::impl::primary(std::size_t i) {
  if (i >= tokens.size())
    throw formula_error("The formula ends too soon" + at(positionofmu(-1)), positionofmu(-1));
  const token &t = tokens[i];
  switch (t.what) {
  case kind::number:
    program.push_back({step::number, t.number});
    return i + 1;
  case kind::constant:
    program.push_back({step::number, std::numbers::pi});
    return i + 1;
  case kind::variable:
    program.push_back({step::variable});
    return i + 1;
  case kind::parameter:
    program.push_back({step::parameter, 0.0, t.parameter});
    return i + 1;
  case kind::function:
  case kind::open: {
    const bool call = t.what == kind::function;
    const std::size_t open = call ? i + 1 : i;
    if (open >= tokens.size() || tokens[open].what != kind::open)
      break;
    const std::size_t close = sum(open + 1);
    if (close >= tokens.size() || tokens[close].what != kind::close)
      break;
    if (call) {
      const auto f = std::find(kFunctions.begin(), kFunctions.end(), t.text);
      program.push_back({step::function, 0.0, static_cast<int>(f - kFunctions.begin())});
    }
    return close + 1;
  }
  default:
    break;
  }
  throw formula_error("The formula cannot be read" + at(t.position), t.position);
}

namespace {

// d = s * d over n components, where a component that does not depend on
// what changes stays 0 even when s is infinite or NaN (sqrt at 0).
template <typename T> void chain(std::array<T, typedformula::kMaxParameters + 1> &d, T s, int n) {
  for (int k = 0; k < n; ++k)
    d[k] = d[k] == 0 ? T(0) : s * d[k];
}

// a * b with the same care: a component of b that is 0 adds nothing.
template <typename T> T times(T s, T d) { return d == 0 ? T(0) : s * d; }

// The derivative of function f (its index in kFunctions) at a, where its
// value is v.
template <typename T> T slopeof(std::string_view f, T a, T v) {
  if (f == "exp")
    return v;
  if (f == "log" || f == "ln")
    return 1 / a;
  if (f == "log10")
    return 1 / (a * std::numbers::ln10_v<T>);
  if (f == "sqrt")
    return T(0.5) / v;
  if (f == "sin")
    return std::cos(a);
  if (f == "cos")
    return -std::sin(a);
  if (f == "tan")
    return 1 + v * v;
  if (f == "asin")
    return 1 / std::sqrt(1 - a * a);
  if (f == "acos")
    return -1 / std::sqrt(1 - a * a);
  if (f == "atan")
    return 1 / (1 + a * a);
  if (f == "sinh")
    return std::cosh(a);
  if (f == "cosh")
    return std::sinh(a);
  if (f == "tanh")
    return 1 - v * v;
  // abs
  return a > 0 ? T(1) : (a < 0 ? T(-1) : T(0));
}

template <typename T> T valueof(std::string_view f, T a) {
  if (f == "exp")
    return std::exp(a);
  if (f == "log" || f == "ln")
    return std::log(a);
  if (f == "log10")
    return std::log10(a);
  if (f == "sqrt")
    return std::sqrt(a);
  if (f == "sin")
    return std::sin(a);
  if (f == "cos")
    return std::cos(a);
  if (f == "tan")
    return std::tan(a);
  if (f == "asin")
    return std::asin(a);
  if (f == "acos")
    return std::acos(a);
  if (f == "atan")
    return std::atan(a);
  if (f == "sinh")
    return std::sinh(a);
  if (f == "cosh")
    return std::cosh(a);
  if (f == "tanh")
    return std::tanh(a);
  return std::fabs(a);
}

// a = a op b for the binary steps.
template <typename T> void binary(step s, dualof<T> &a, const dualof<T> &b, int n) {
  switch (s) {
  case step::add:
    a.v += b.v;
    for (int k = 0; k < n; ++k)
      a.d[k] += b.d[k];
    break;
  case step::subtract:
    a.v -= b.v;
    for (int k = 0; k < n; ++k)
      a.d[k] -= b.d[k];
    break;
  case step::multiply:
    for (int k = 0; k < n; ++k)
      a.d[k] = times(b.v, a.d[k]) + times(a.v, b.d[k]);
    a.v *= b.v;
    break;
  case step::divide: {
    const T q = a.v / b.v;
    for (int k = 0; k < n; ++k)
      a.d[k] = (a.d[k] - times(q, b.d[k])) / b.v;
    a.v = q;
    break;
  }
  default: { // power: d(a^b) = b a^(b-1) da + a^b ln(a) db
    const T v = std::pow(a.v, b.v);
    const T base = b.v * std::pow(a.v, b.v - 1);
    const T exponent = v * std::log(a.v);
    for (int k = 0; k < n; ++k)
      a.d[k] = times(base, a.d[k]) + times(exponent, b.d[k]);
    a.v = v;
  }
  }
}

} // namespace

template <typename T> void typedformula::impl::run(std::vector<dualof<T>> &on, int n) const {
  std::size_t top = 0;
  for (const node &e : program) {
    switch (e.what) {
    case step::number:
    case step::variable:
    case step::parameter: {
      dualof<T> &t = on[top++];
      t.d.fill(0);
      if (e.what == step::number) {
        t.v = static_cast<T>(e.number);
      } else if (e.what == step::variable) {
        t.v = static_cast<T>(x);
        if (n > 0) // with no components, values alone
          t.d[static_cast<std::size_t>(n - 1)] = 1;
      } else {
        t.v = static_cast<T>(p[static_cast<std::size_t>(e.index)]);
        if (e.index < n)
          t.d[static_cast<std::size_t>(e.index)] = 1;
      }
      break;
    }
    case step::negate: {
      dualof<T> &t = on[top - 1];
      t.v = -t.v;
      for (int k = 0; k < n; ++k)
        t.d[k] = -t.d[k];
      break;
    }
    case step::function: {
      dualof<T> &t = on[top - 1];
      const std::string_view f = kFunctions[static_cast<std::size_t>(e.index)];
      const T v = valueof(f, t.v);
      chain(t.d, slopeof(f, t.v, v), n);
      t.v = v;
      break;
    }
    default:
      --top;
      binary(e.what, on[top - 1], on[top], n);
    }
  }
}

typedformula::typedformula(const std::string &input) : d(std::make_unique<impl>()) {
  d->source = input;
  const auto first = input.find_first_not_of(" \t");
  const auto last = input.find_last_not_of(" \t");
  d->text = first == std::string::npos ? std::string() : input.substr(first, last - first + 1);
  if (d->source.size() > kMaxLength)
    throw formula_error("The formula is too long (at most " + std::to_string(kMaxLength) +
                            " characters)",
                        static_cast<int>(kMaxLength) + 1);
  d->tokenize();
  d->compile();
  d->buildtree();
}

typedformula::typedformula(typedformula &&) noexcept = default;
typedformula &typedformula::operator=(typedformula &&) noexcept = default;
typedformula::~typedformula() = default;

const std::string &typedformula::text() const { return d->text; }

const std::vector<std::string> &typedformula::parameters() const { return d->names; }

double typedformula::value(double x, std::span<const double> p) const {
  const std::size_t n = std::min(p.size(), d->names.size());
  std::copy_n(p.begin(), n, d->p.begin());
  d->x = x;
  try {
    return d->parser.Eval();
  } catch (const mu::Parser::exception_type &) {
    return std::nan("");
  }
}

void typedformula::values(std::span<const double> x, std::span<const double> p,
                          std::span<double> out) const {
  const std::size_t n = std::min(p.size(), d->names.size());
  std::copy_n(p.begin(), n, d->p.begin());
  const std::size_t m = std::min(x.size(), out.size());
  try {
    for (std::size_t i = 0; i < m; ++i) {
      d->x = x[i];
      out[i] = d->parser.Eval();
    }
  } catch (const mu::Parser::exception_type &) {
    std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(m), std::nan(""));
  }
}

double typedformula::derivatives(double x, std::span<const double> p, std::span<double> dp,
                                 double *dx) const {
  const std::size_t np = d->names.size();
  std::copy_n(p.begin(), std::min(p.size(), np), d->p.begin());
  d->x = x;
  const int n = static_cast<int>(np) + 1;
  d->run(d->stack, n);
  const dual &r = d->stack.front();
  std::copy_n(r.d.begin(), std::min(dp.size(), np), dp.begin());
  if (dx)
    *dx = r.d[np];
  return r.v;
}

long double typedformula::longvalue(double x, std::span<const double> p) const {
  std::copy_n(p.begin(), std::min(p.size(), d->names.size()), d->p.begin());
  d->x = x;
  d->run(d->longstack, 0);
  return d->longstack.front().v;
}

std::string typedformula::gnuplottext(std::span<const double> p) const {
  std::string s;
  for (const token &t : d->tokens) {
    switch (t.what) {
    case kind::number:
      s += floatliteral(t.number);
      break;
    case kind::parameter: {
      const double v = static_cast<std::size_t>(t.parameter) < p.size()
                           ? p[static_cast<std::size_t>(t.parameter)]
                           : 0.0;
      const std::string lit = floatliteral(v);
      s += lit[0] == '-' ? "(" + lit + ")" : lit;
      break;
    }
    case kind::function:
      s += t.text == "ln" ? "log" : t.text;
      break;
    case kind::op:
      s += t.text == "^" ? "**" : t.text;
      break;
    default:
      s += t.text;
    }
  }
  return s;
}

} // namespace orvalle
