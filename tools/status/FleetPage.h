#pragma once
// pelox5-status --database --html: the central database's fleet as one
// self-contained page, in the local page's style: a table of every deployment
// with its hosts, records, missing records, conflicts and last publish, those
// missing records first.

#include <cstdint>
#include <string>
#include <vector>

#include "FleetView.h"

namespace FleetPage {

std::string Page(const std::vector<FleetView::FleetDeployment>& list, int64_t now);

}  // namespace FleetPage
