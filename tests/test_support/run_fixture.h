// A run configuration, state record and item tables wired together, for tests of collectors.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "collect/scan_items.h"

namespace kal {
namespace test {

struct RunFixture {
  explicit RunFixture(std::vector<std::wstring> masks, bool peOnly = true) {
    config.FilterMasks = std::move(masks);
    config.ScanPeOnly = peOnly;
  }
  RunConfig config;
  StateRecord state;
  CStateWriteClock clock;
  CRunContext run{config, state, clock};
  CScanItems items{run};
};

}  // namespace test
}  // namespace kal
