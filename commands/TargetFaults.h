// The target faults that the programmer reports in the same codes to several commands
// (the fuse read, opening a project), and the answer each one gives.
#pragma once

#include <cstdint>
#include <string>

#include "common/uGlobals.h"

namespace nurva {

inline constexpr char kTargetPowerDown = 1;
inline constexpr char kTargetWrongId = 3;
inline constexpr char kTargetProtected = 4;

// Sets the answer to a target fault code and returns true; false, with nothing set, for
// any other code.
inline bool TargetFaultAnswer(char code, int32_t& res, std::string& text) {
  switch (code) {
    case kTargetPowerDown:
      res = Ord(TPrgResult::PwrDownErr);
      text = "device power down";
      return true;
    case kTargetWrongId:
      res = Ord(TPrgResult::SignatureErr);
      text = "wrong device ID";
      return true;
    case kTargetProtected:
      res = Ord(TPrgResult::ProtectedErr);
      text = "device protected";
      return true;
    default:
      return false;
  }
}

}  // namespace nurva
