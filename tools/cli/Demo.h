// `nurva demo`: the whole job that exists so far, on a virtual programmer started in
// this process on a private bus, with the sample project on its card.
#pragma once

#include <string>
#include <vector>

namespace nurva::cli {

struct DemoOptions {
  bool json = false;
  bool verbose = false;  // the virtual programmer's traffic
  bool keep = false;     // leave the temporary directory
  std::vector<std::string> faults;
};

int RunDemo(const DemoOptions& o);

}  // namespace nurva::cli
