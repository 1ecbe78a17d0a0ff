// The system clock as a local serial date, behind a replaceable function.
#include "jet/expr/clock.h"

#include <ctime>
#include <mutex>

#include "jet/base/value_text.h"
#include "jet/expr/dates.h"

namespace jet::expr {

namespace {

std::mutex gMutex;
std::function<double()> gClock;

double systemNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  double day = static_cast<double>(oleDayFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday));
  return withTime(day, timeSerial(tm.tm_hour, tm.tm_min, tm.tm_sec));
}

}  // namespace

double clockNow() {
  std::lock_guard<std::mutex> lock(gMutex);
  return gClock ? gClock() : systemNow();
}

void setClock(std::function<double()> clock) {
  std::lock_guard<std::mutex> lock(gMutex);
  gClock = std::move(clock);
}

}  // namespace jet::expr
