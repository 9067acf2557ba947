#include "engine/pluginpath.h"

#include <filesystem>

namespace orvalle {

std::string pluginpath(const std::string &ownfolder, const char *environment) {
  if (environment && *environment)
    return environment;
  if (ownfolder.empty())
    return {};
  namespace fs = std::filesystem;
  const fs::path folder(ownfolder);
  const fs::path beside = folder / "libcustomfit.so";
  const fs::path installed = folder.parent_path() / "lib" / "orvalle" / "libcustomfit.so";
  std::error_code ec;
  if (!fs::exists(beside, ec) && fs::exists(installed, ec))
    return installed.lexically_normal().string();
  return beside.string();
}

} // namespace orvalle
