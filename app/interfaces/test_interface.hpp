#pragma once
// The test and simulation interface: simulated data (a 2-D Gaussian, a
// triangle) and Poisson noise.

#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// Makes the current data a simulated data set when none is defined: the
// whole arrays, zero, axes 0.5, 1.5, ..., title "Simulated Data".
void kzt_simulated_data(KztDataSets& sets, Status& status);

// The "TEST" interface of the top menu.
void KZT_GUI_TEST(KztDataSets& sets, Status& status);

}  // namespace kesta
