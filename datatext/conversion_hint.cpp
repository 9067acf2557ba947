#include "datatext/conversion_hint.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace orvalle {

namespace {

constexpr std::string_view kZeroErrorMessage = "Y error points can not contain ZERO or MINIUS";
constexpr std::string_view kShape =
    " Each line holds numbers separated by spaces or tabs: x, y and the error of y, "
    "for example  0.5  1.25  0.02";

bool digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool letter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::vector<std::string_view> split(std::string_view line, bool (*sep)(char)) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && sep(line[i]))
      ++i;
    const std::size_t start = i;
    while (i < line.size() && !sep(line[i]))
      ++i;
    if (i > start)
      out.push_back(line.substr(start, i - start));
  }
  return out;
}

// A plain decimal number written with `point` as its decimal mark: an
// optional sign, digits with at most one point, an optional exponent.
bool number(std::string_view s, char point) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-'))
    ++i;
  bool digits = false, seenpoint = false;
  for (; i < s.size(); ++i) {
    if (digit(s[i]))
      digits = true;
    else if (s[i] == point && !seenpoint)
      seenpoint = true;
    else
      break;
  }
  if (!digits)
    return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-'))
      ++j;
    const std::size_t first = j;
    while (j < s.size() && digit(s[j]))
      ++j;
    if (j == first)
      return false;
    i = j;
  }
  return i == s.size();
}

// 1,5 or -0,25e3: a number whose decimal mark is a comma.
bool decimalcomma(std::string_view s) {
  return s.find(',') != std::string_view::npos && number(s, ',');
}

// Numbers separated by commas or semicolons (with or without blanks).
bool separatedtable(std::string_view line) {
  if (line.find_first_of(",;") == std::string_view::npos)
    return false;
  const auto cells = split(line, [](char c) { return c == ',' || c == ';' || blank(c); });
  if (cells.size() < 2)
    return false;
  int numbers = 0;
  for (std::string_view c : cells) {
    if (c.size() >= 2 && c.front() == '"' && c.back() == '"')
      c = c.substr(1, c.size() - 2);
    numbers += number(c, '.') ? 1 : 0;
  }
  return numbers >= 2;
}

// Whether one of the first lines of the text is a table separated by
// commas or semicolons (a header line of such a table is then part of it).
bool separatedtext(std::string_view text) {
  std::size_t start = 0;
  for (int k = 0; k < 20 && start < text.size(); ++k) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    if (separatedtable(text.substr(start, end - start)))
      return true;
    start = end + 1;
  }
  return false;
}

// A field that is a word: it starts with a letter or a quote, and is not a
// number such as inf or nan.
bool word(std::string_view s) {
  if (s.empty())
    return false;
  const char c = s.front();
  return letter(c) || c == '"' || c == '(' || c == '[';
}

bool utf16(std::string_view text) {
  if (text.size() >= 2 && ((static_cast<unsigned char>(text[0]) == 0xFF &&
                            static_cast<unsigned char>(text[1]) == 0xFE) ||
                           (static_cast<unsigned char>(text[0]) == 0xFE &&
                            static_cast<unsigned char>(text[1]) == 0xFF)))
    return true;
  return text.find('\0') != std::string_view::npos;
}

} // namespace

failurecause likelycause(std::string_view message, std::string_view line, int field,
                         std::string_view text) {
  if (utf16(text) || utf16(line))
    return failurecause::utf16;
  if (message.substr(0, kZeroErrorMessage.size()) == kZeroErrorMessage)
    return failurecause::zeroerror;
  const auto fields = split(line, blank);
  const bool named = field >= 0 && static_cast<std::size_t>(field) < fields.size();
  // The field the message names, else every field of the line.
  std::vector<std::string_view> suspects;
  if (named)
    suspects.push_back(fields[static_cast<std::size_t>(field)]);
  else
    suspects = fields;
  bool anycomma = false, anyword = false;
  for (std::string_view s : suspects) {
    anycomma = anycomma || decimalcomma(s);
    anyword = anyword || word(s);
  }
  if (anycomma && fields.size() >= 2)
    return failurecause::decimalcomma;
  if (separatedtable(line) ||
      (line.find_first_of(",;") != std::string_view::npos && separatedtext(text)))
    return failurecause::separated;
  if (anycomma)
    return failurecause::decimalcomma;
  if (anyword)
    return failurecause::words;
  return failurecause::none;
}

std::string causehint(failurecause cause, long line) {
  std::string why;
  switch (cause) {
  case failurecause::none:
    return {};
  case failurecause::utf16:
    why = "UTF-16 text, as a spreadsheet saves it? Save the data as UTF-8 or plain text and open "
          "that.";
    break;
  case failurecause::zeroerror:
    why = (line > 0 ? "Line " + std::to_string(line) + " holds" : std::string("A line holds")) +
          " an error of zero or below: every error of y must be above zero. Give it the error "
          "you measured or estimated, or remove the line.";
    break;
  case failurecause::decimalcomma:
    why = "A decimal comma? Write 1.5, not 1,5.";
    break;
  case failurecause::separated:
    why = "A table separated by commas or semicolons, as a spreadsheet saves it? Separate the "
          "numbers with spaces or tabs, and write 1.5, not 1,5.";
    break;
  case failurecause::words:
    why = "A line of words, such as a header with names or units? Start it with # to make it "
          "a comment.";
    break;
  }
  return why + std::string(kShape);
}

} // namespace orvalle
