// The likely cause of a failed conversion (datatext/conversion_hint.cpp),
// taken from real conversion failures of the texts students bring: a
// decimal comma, a header line, a comma- or semicolon-separated table,
// UTF-16 text from a spreadsheet, an error of zero.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatext/conversion.h"
#include "datatext/conversion_hint.h"

using namespace orvalle;

namespace {

struct hintcase {
  const char *name;
  std::vector<std::string> lines;
  int badline; // the line (from 0) the student must mend
  int field;   // the field of that line the message names, or -1
  failurecause cause;
};

std::string joined(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &l : lines)
    text += l + "\n";
  return text;
}

// "1 2 0.1" as a spreadsheet's UTF-16 (little-endian) puts it: a NUL after
// every ASCII character, a byte-order mark first.
std::string utf16(const std::string &ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

const std::vector<hintcase> kCases = {
    {"decimal comma", {"1 2 0.1", "2 3,5 0.1", "3 4 0.1"}, 1, 1, failurecause::decimalcomma},
    {"decimal commas everywhere",
     {"1,0 2,5 0,1", "2,0 3,5 0,1", "3,0 4,5 0,1"},
     0,
     0,
     failurecause::decimalcomma},
    {"header of words",
     {"Time Voltage Error", "1 2 0.1", "2 3 0.1", "3 4 0.2"},
     0,
     -1,
     failurecause::words},
    {"header with units",
     {"t/s U/V dU/V", "1 2 0.1", "2 3 0.1", "3 4 0.2"},
     0,
     -1,
     failurecause::words},
    {"comma-separated with a header",
     {"t,V,dV", "1.0,2.0,0.1", "2.0,3.5,0.1", "3.0,4.5,0.1"},
     0,
     -1,
     failurecause::separated},
    {"comma and blank",
     {"1.0, 2.0, 0.1", "2.0, 3.5, 0.1", "3.0, 4.5, 0.1"},
     0,
     -1,
     failurecause::separated},
    {"semicolons and decimal commas",
     {"Zeit;Spannung;Fehler", "1,25;3,7;0,1", "2,5;4,1;0,1", "3,75;5,2;0,1"},
     0,
     -1,
     failurecause::separated},
    {"zero error", {"1 2 0.1 a", "2 3 0 a", "3 4 0.1 a"}, 1, 2, failurecause::zeroerror},
    {"a typing slip", {"1 2 0.1", "2 3..5 0.1", "3 4 0.1"}, 1, 1, failurecause::none},
};

} // namespace

TEST(ConversionHint, NamesTheLikelyCauseOfRealFailures) {
  for (const hintcase &c : kCases) {
    SCOPED_TRACE(c.name);
    const ConversionOutcome out = ConvertToChart(textlines::fromLines(c.lines), "/lab/run.txt");
    ASSERT_FALSE(out.ok()) << "the text converts: no hint needed";
    const std::string &line = c.lines[static_cast<std::size_t>(c.badline)];
    EXPECT_EQ(likelycause(out.error, line, c.field, joined(c.lines)), c.cause) << out.error;
  }
}

TEST(ConversionHint, Utf16TextFromASpreadsheet) {
  std::string text = "\xFF\xFE" + utf16("1 2 0.1\n2 3 0.1\n3 4 0.2\n");
  const std::vector<std::string> lines = {"\xFF\xFE" + utf16("1 2 0.1"), utf16("2 3 0.1")};
  const ConversionOutcome out = ConvertToChart(textlines::fromLines(lines), "/lab/run.txt");
  ASSERT_FALSE(out.ok());
  EXPECT_EQ(likelycause(out.error, lines[0], 0, text), failurecause::utf16);
  // Even without the byte-order mark the NUL bytes tell.
  EXPECT_EQ(likelycause(out.error, lines[1], -1, {}), failurecause::utf16);
}

TEST(ConversionHint, TextsSayWhatIsWrongAndHowDataLook) {
  const std::string shape = "Each line holds numbers separated by spaces or tabs";
  for (failurecause c : {failurecause::utf16, failurecause::zeroerror, failurecause::decimalcomma,
                         failurecause::separated, failurecause::words}) {
    const std::string hint = causehint(c, 7);
    EXPECT_NE(hint.find(shape), std::string::npos) << hint;
  }
  EXPECT_NE(causehint(failurecause::decimalcomma).find("Write 1.5, not 1,5"), std::string::npos);
  EXPECT_NE(causehint(failurecause::words).find("Start it with #"), std::string::npos);
  EXPECT_NE(causehint(failurecause::zeroerror, 7).find("Line 7 holds an error of zero"),
            std::string::npos);
  EXPECT_NE(causehint(failurecause::utf16).find("UTF-16"), std::string::npos);
  EXPECT_TRUE(causehint(failurecause::none).empty());
}
