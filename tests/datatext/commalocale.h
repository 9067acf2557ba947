// Switches LC_NUMERIC to a locale with a decimal comma for one scope,
// compiling one into a temporary folder when none is installed.
#pragma once

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace orvalle::test {

class CommaLocale {
public:
  CommaLocale() {
    const char *was = std::setlocale(LC_NUMERIC, nullptr);
    saved_ = was ? was : "C";
    for (const char *name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE.utf8"})
      if (std::setlocale(LC_NUMERIC, name)) {
        active_ = true;
        return;
      }
    char folder[] = "/tmp/orvalle-locale-XXXXXX";
    if (!mkdtemp(folder))
      return;
    folder_ = folder;
    const std::string cmd =
        "localedef -i de_DE -f UTF-8 " + folder_ + "/de_DE.UTF-8 >/dev/null 2>&1";
    [[maybe_unused]] const int status = std::system(cmd.c_str()); // warnings give status 1
    setenv("LOCPATH", folder_.c_str(), 1);
    active_ = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  }
  ~CommaLocale() {
    std::setlocale(LC_NUMERIC, saved_.c_str());
    if (!folder_.empty()) {
      unsetenv("LOCPATH");
      std::error_code ec;
      std::filesystem::remove_all(folder_, ec);
    }
  }
  bool active() const { return active_; }

private:
  std::string saved_;
  std::string folder_;
  bool active_ = false;
};

} // namespace orvalle::test
