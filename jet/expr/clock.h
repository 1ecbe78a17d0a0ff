// The clock that Date(), Time() and Now() read: the local time of the system, or a fixed time set
// by tests, as a serial date (days since 1899-12-30, the time of day as the fraction).
#pragma once

#include <functional>

namespace jet::expr {

double clockNow();
// Replaces the clock for the whole process (tests); an empty function restores the system clock.
void setClock(std::function<double()> clock);

}  // namespace jet::expr
