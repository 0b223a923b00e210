// CfgStdReader: a CfgReader with its own block-name registry and standard
// line parser.
//
//   CfgStdReader reader;
//   reader.RegisterObject("UPDATE", &updateInfo);
//   int rc = reader.ReadStream(file, true, 0);
//   if (rc < 0) Log(reader.GetErrorText());
#ifndef MARROWGATE_CONFIG_CFG_STD_READER_H_
#define MARROWGATE_CONFIG_CFG_STD_READER_H_

#include <string_view>

#include "config/cfg_reader.h"
#include "config/cfg_std_line_parser.h"

namespace marrowgate {

class CfgStdReader : public CfgReader {
 public:
  CfgStdReader();

  // Registers `record` (not owned) under the block name `name`; a second
  // registration under the same name is ignored. Returns 0.
  int RegisterObject(std::string_view name, CfgRecord* record);

  CfgStdLineParser& line_parser() { return lineParser_; }

 private:
  CfgRegistry registry_;
  CfgStdLineParser lineParser_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_CONFIG_CFG_STD_READER_H_
