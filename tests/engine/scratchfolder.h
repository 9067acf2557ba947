// A private folder under /tmp for tests that write files, removed with all
// it holds when the test ends; and whole-file reading and writing.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace orvalle::testing {

struct scratchfolder {
  std::filesystem::path path;
  // prefix names the folder: /tmp/<prefix>-XXXXXX.
  explicit scratchfolder(const std::string &prefix) {
    std::string name = "/tmp/" + prefix + "-XXXXXX";
    path = ::mkdtemp(name.data());
  }
  ~scratchfolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  scratchfolder(const scratchfolder &) = delete;
  scratchfolder &operator=(const scratchfolder &) = delete;
  std::string operator/(const char *name) const { return (path / name).string(); }
  // The names in the folder, sorted.
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(path))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
};

inline std::string readwhole(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writewhole(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

} // namespace orvalle::testing
