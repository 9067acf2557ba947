// orvalle-fit with plug-in libraries that break the contract on purpose
// (tests/plugins/hostile.c): one that crashes or ends the process while it
// is loaded is tried in a child process and refused with its reason, and
// what a plug-in fit returns is checked before anything is printed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

const std::string kFit = ORVALLE_FIT;
const std::string kData = ORVALLE_CLI_DATA;

std::string library(const std::string &kind) {
  return std::string(ORVALLE_TEST_PLUGIN_DIR) + "/libtestplugin_" + kind + ".so";
}

std::string readall(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct outcome {
  bool exited = false; // ended by itself, not by a signal
  int status = -1;
  std::string out;
  std::string err;
};

// Runs orvalle-fit -m custom on line3.txt with the plug-in of that kind.
outcome fitwith(const std::string &kind) {
  char name[] = "/tmp/orvalle-fit-plugin-XXXXXX";
  const std::filesystem::path dir = ::mkdtemp(name);
  const std::string out = (dir / "out").string(), err = (dir / "err").string();
  const std::string cmd = "ORVALLE_CUSTOMFIT='" + library(kind) + "' '" + kFit + "' -m custom '" +
                          kData + "/line3.txt' </dev/null >'" + out + "' 2>'" + err + "'";
  const int s = std::system(cmd.c_str());
  outcome o;
  // The shell reports a child ended by a signal as 128 + the signal.
  o.exited = WIFEXITED(s) && WEXITSTATUS(s) < 128;
  o.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  o.out = readall(out);
  o.err = readall(err);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return o;
}

const std::string kModel = "\"Hostile straight line y=A+B*x\"";

} // namespace

// A library that crashes or ends the process while it is loaded: the
// command ends by itself with its usage status and names the library.
TEST(FitCommandPlugin, OneThatCrashesAtStartIsRefusedWithItsReason) {
  for (const char *kind : {"crashname", "crashload", "crashlog", "exitname"}) {
    SCOPED_TRACE(kind);
    const outcome o = fitwith(kind);
    EXPECT_TRUE(o.exited) << o.status;
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_NE(o.err.find("No plug-in model: The plug-in library " + library(kind)),
              std::string::npos)
        << o.err;
    EXPECT_NE(o.err.find(" while it was loaded and asked for its model's name"), std::string::npos)
        << o.err;
    EXPECT_EQ(o.out, "");
  }
}

// Answers that break the contract, at start or after the fit: a reason that
// names the model, the usual failure message, nothing on standard output.
TEST(FitCommandPlugin, ResultsThatBreakTheContractFailWithTheReason) {
  struct row {
    const char *kind;
    int status;
    std::string reason;
  };
  const std::vector<row> table = {
      {"badestimates", 2,
       "The plug-in model " + kModel + " asks for 7 estimates (customestimates)"},
      {"baddegree", 2, "The plug-in model " + kModel + " asks for a polynomial of degree -3"},
      {"nanfit", 1,
       "The plug-in model " + kModel + " gave parameter [1] = nan, which is not a finite number"},
      {"threeestimates", 1,
       "The plug-in model " + kModel + " gave parameter [2] = nan, which is not a finite number"},
      {"nanvalue", 1,
       "The plug-in model " + kModel + " gives nan at x = 3, which is not a finite number"},
      {"failsilent", 1,
       "The plug-in model " + kModel + " could not fit the dataset (its fit returned 5)"},
  };
  for (const row &r : table) {
    SCOPED_TRACE(r.kind);
    const outcome o = fitwith(r.kind);
    EXPECT_TRUE(o.exited);
    EXPECT_EQ(o.status, r.status) << o.err;
    EXPECT_NE(o.err.find(r.reason), std::string::npos) << o.err;
    if (r.status == 1) {
      EXPECT_NE(o.err.find("Critical Failure Occurred In Fitted The Chosen Line"),
                std::string::npos)
          << o.err;
    }
    EXPECT_EQ(o.out, "");
  }
  // The sound library of the same source fits.
  const outcome o = fitwith("sound");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("Hostile straight line y=A+B*x"), std::string::npos) << o.out;
}
