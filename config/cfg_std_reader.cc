#include "config/cfg_std_reader.h"

#include <string>

namespace marrowgate {

CfgStdReader::CfgStdReader() {
  SetRegistry(&registry_);
  SetLineParser(&lineParser_);
}

int CfgStdReader::RegisterObject(std::string_view name, CfgRecord* record) {
  registry_.emplace(std::string(name), record);
  return 0;
}

}  // namespace marrowgate
