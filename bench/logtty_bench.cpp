// Terminal logger: records per second written to /dev/null, against spdlog's
// colour sink (filled in below).
#include <benchmark/benchmark.h>
