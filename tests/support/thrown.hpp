// The integer a call throws (the streams' end of data -1, the decoder's
// corruption code), or 0 when it throws nothing.
#pragma once

#include <functional>

inline int thrown_by(const std::function<void()>& f) {
  try {
    f();
  } catch (int e) {
    return e;
  }
  return 0;
}
