#include <benchmark/benchmark.h>

#include "UI/plot_data.h"
