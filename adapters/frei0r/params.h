// The parameters an adapter offers through frei0r, made from what its
// effect registers, and their values turned into the host's.
#pragma once

#include "catalogue.h"

#include <ombrix/host/effect.h>
#include <ombrix/host/params.h>
#include <ombrix/host/time.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombrix::frei0r {

// frei0r's parameter kinds (the values of frei0r.h).
enum ParamType : int { kBool = 0, kDouble = 1, kColor = 2, kPosition = 3, kString = 4 };

struct AdaptedParam {
  enum class Role : uint8_t {
    kTimeUnit,      // "s" or "ms"
    kFrameRate,     // the host's frame rate
    kEffect,        // a registered parameter (an angle's fraction of a turn)
    kTurns,         // an angle's whole turns
    kRate,          // an angle's turns per second
    kSetting,       // a field of the settings record
    kDrawing,       // a stored drawing file
    kRowAlignment,  // "auto", or the bytes a row's length is rounded up to
  };
  Role role;
  ParamType type;
  std::string name;
  std::string explanation;
  int index = 0;  // kEffect, kTurns, kRate: the registered index; kSetting: the field
};

// A frei0r value of any kind.
struct Value {
  double d = 0;
  float r = 0, g = 0, b = 0;  // colours
  double x = 0, y = 0;        // positions
  std::string s;
  bool set = false;  // given by the video host (else the default stands)
};

struct ParamTable {
  std::vector<AdaptedParam> params;
  std::vector<Value> defaults;
};

// The adapter's parameters: time unit and frame rate first, then the
// effect's in registration order (an angle followed by its turns and its
// rate), then the settings record's fields, and a drawing file for effects
// that keep one.
ParamTable MakeParamTable(const Effect& effect, const EffectEntry* entry);

// The host value of registered parameter `index` at `seconds`, from the
// values of the adapter's parameters, for a frame of `width` x `height`.
// A value out of its range is clamped, and `problem` says so.
ParamValue HostValue(const Effect& effect, const ParamTable& table, const std::vector<Value>& values, int index,
                     double seconds, int width, int height, std::string& problem);

// Whether the video host set any of the adapter parameters behind
// registered parameter `index` (or gave it a rate), so that it must be
// passed on rather than left at the effect's default.
bool HostValueGiven(const ParamTable& table, const std::vector<Value>& values, int index);

// The settings record's bytes from the fields' values, or nothing when every
// field is at its default (the effect then makes its own record).
std::optional<std::vector<uint8_t>> SettingsBytes(const EffectEntry& entry, const std::vector<Value>& field_values,
                                                  std::string& problem);

// The frame rate a text names ("25", "30000/1001", "29.97"); nothing when
// it names none.
std::optional<FrameRate> ParseRate(const std::string& text);

// Popup text to an item number (the number itself, or a selectable item's
// text); 0 when it names none.
int PopupItem(const Effect& effect, int index, const std::string& text);

}  // namespace ombrix::frei0r
