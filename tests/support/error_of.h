// The engine error number a call ends in, or 0 when it returns normally.
#pragma once

#include <functional>

#include "jet/base/error.h"

inline int errorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const jet::Error& e) {
    return e.number();
  }
  return 0;
}
