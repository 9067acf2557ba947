// orvalle-fit: fits a model to a data text without a window.
#include <csignal>
#include <string>
#include <vector>

#include "app/fitcli.h"

int main(int argc, char **argv) {
  orvalle::cli::tuneheap();
  // A file-size limit makes a write fail with EFBIG, which is reported and
  // leaves the old file, rather than ending the program half way.
  std::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.emplace_back(argv[i]);
  return orvalle::cli::run(args);
}
