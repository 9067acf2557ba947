// orvalle-fit: fits a model to a data text without a window.
#include <string>
#include <vector>

#include "app/fitcli.h"

int main(int argc, char **argv) {
  orvalle::cli::tuneheap();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.emplace_back(argv[i]);
  return orvalle::cli::run(args);
}
