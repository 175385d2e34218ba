#pragma once

#include <nlohmann/json.hpp>

namespace tervolo::mapscreen {
class QuovaMKMapView;
}

namespace tervolo::e2e {

// What the running program holds in memory now: its resident size (and how much of it is anonymous
// memory), the C heap (in use, free but kept, in mappings of their own, the number of arenas), and
// each cache of the map with its budget and what it holds ("caches": name, budgetBytes and
// budgetItems (0: none of that kind), bytes, items). Main thread of the program.
nlohmann::json memoryFigures(mapscreen::QuovaMKMapView* map);

// One line per figure, for a person reading the run's output.
std::string describeMemoryFigures(const nlohmann::json& figures);

}  // namespace tervolo::e2e
