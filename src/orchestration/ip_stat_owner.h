#pragma once
#include "orchestration/statistics_owner.h"

#include <memory>

namespace tn {

class CGlobal;
class IClock;

// The program's statistics owner for the main window.
std::unique_ptr<IStatisticsOwner> makeStatisticsOwner(CGlobal& global, const IClock& clock);

} // namespace tn
