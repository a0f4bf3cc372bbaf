// A private folder with a configuration for tables in it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/config_store.h"
#include "storage/file_database.h"
#include "tests/support/test_env.h"

namespace qm::test {

class TableFolder {
 public:
  // Configures table `name` with its file in the folder.
  void Configure(const std::string& name, const std::vector<std::string>& columns, int maxRecords = 0,
                 const std::string& separator = "") {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      config.SetFormatted(name + ".columns.%d", static_cast<int>(i), columns[i]);
    }
    config.SetFormatted(name + ".columns.%d", static_cast<int>(columns.size()), "");
    config.SetString(name + ".filename", Path(name));
    config.SetInt(name + ".maxrecords", maxRecords);
    config.SetString(name + ".separator", separator);
  }
  std::unique_ptr<FileDatabase> Open(const std::string& name) {
    return std::make_unique<FileDatabase>(config, name);
  }
  std::string Path(const std::string& name) const { return dir.File(name + ".txt"); }

  TempDir dir;
  ConfigStore config;
};

inline const std::vector<std::string> kThreeColumns = {"id", "name", "text"};

}  // namespace qm::test
