// The exception the host raises for its callers. It never crosses into a
// plug-in: the services turn every exception into an error code.
#pragma once

#include <pf/api.h>

#include <stdexcept>
#include <string>

namespace ombrix {

struct HostError : std::runtime_error {
  using std::runtime_error::runtime_error;
  HostError(const std::string& what, PF_Err code) : std::runtime_error(what), err(code) {}
  PF_Err err = PF_Err_NONE;  // the plug-in's or service's error, when one caused this
};

}  // namespace ombrix
