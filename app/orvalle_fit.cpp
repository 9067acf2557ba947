// orvalle-fit: fits a model to a data text without a window.
#include <malloc.h>

#include <string>
#include <vector>

#include "app/fitcli.h"

int main(int argc, char **argv) {
  // A large file passes through a few big arrays one after the other (file
  // text, line list, column grid, dataset). Kept on the heap rather than
  // mapped and unmapped one by one, freed memory is used again instead of
  // being faulted in afresh.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.emplace_back(argv[i]);
  return orvalle::cli::run(args);
}
