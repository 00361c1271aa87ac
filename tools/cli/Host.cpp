#include "tools/cli/Host.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>

#include "api/NURVA_DLL.h"
#include "tools/cli/CallLog.h"
#include "tools/cli/Codes.h"

namespace nurva::cli {

namespace {

// Big enough for every text of the calls used here.
constexpr size_t kText = NURVA_TEXT_BUFFER_SIZE * 4;

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string ChannelArg(int channel) { return "channel=" + std::to_string(channel); }

template <class Fn>
Result Channel(const char* name, Fn fn, int channel) {
  Result r{name, -1, {}};
  std::string text(kText, '\0');
  CallLog log(r, ChannelArg(channel));
  fn(channel, &r.res, text.data());
  r.text = text.c_str();
  log.Done();
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> r;
  size_t pos = 0;
  while (pos <= text.size() && !text.empty()) {
    size_t e = text.find("\r\n", pos);
    r.push_back(text.substr(pos, e == std::string::npos ? std::string::npos : e - pos));
    if (e == std::string::npos) break;
    pos = e + 2;
  }
  return r;
}

}  // namespace

Discovery Discover() {
  Discovery d;
  {
    const auto t0 = std::chrono::steady_clock::now();
    d.strangers = AbortAll() != 0;
    if (CallTrace())
      TraceLine("AbortAll", "", d.strangers ? "true" : "false",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  int channels = 0;
  for (int ch = 0; ch < NURVA_MAX_PROGRAMMERS; ++ch) {
    Result r{"ClosePort", -1, {}};
    char text[NURVA_TEXT_BUFFER_SIZE] = "";
    CallLog log(r, ChannelArg(ch));
    ClosePort(ch, &r.res, text);
    r.text = text;
    log.Done();
    if (r.res != NURVA_RES_resNone) break;
    ++channels;
  }
  int32_t count = 0;
  std::string ids(kText, '\0');
  {
    // GetProgIDs writes a count, not a result code.
    const auto t0 = std::chrono::steady_clock::now();
    GetProgIDs(&count, ids.data());
    if (CallTrace())
      TraceLine("GetProgIDs", "", "count " + std::to_string(count) + ", text " + Quoted(ids.c_str()),
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  d.serials = count;
  std::vector<std::string> serials = count > 0 ? Lines(ids.c_str()) : std::vector<std::string>{};

  for (int ch = 0; ch < channels; ++ch) d.programmers.push_back({ch, {}});
  if (static_cast<int>(serials.size()) == channels) {
    for (int ch = 0; ch < channels; ++ch) d.programmers[static_cast<size_t>(ch)].serial = serials[static_cast<size_t>(ch)];
  } else {
    // Some link has no serial number: ask each channel; the check names its serial number.
    for (auto& p : d.programmers) {
      Result r = CallCheckProgrammer(p.channel);
      const std::string tag = "at Port ";
      if (size_t at = r.text.find(tag); at != std::string::npos) p.serial = r.text.substr(at + tag.size());
    }
  }
  return d;
}

Chosen Choose(const Discovery& d, const Selection& s) {
  Chosen c;
  const auto& all = d.programmers;
  if (all.empty()) {
    c.exit = kExitNoProgrammer;
    c.error = "no programmer found";
    return c;
  }
  std::vector<Programmer> fit = all;
  if (s.serial) {
    const std::string want = Upper(*s.serial);
    fit.clear();
    for (const auto& p : all) {
      const std::string have = Upper(p.serial);
      if (!want.empty() && have.size() >= want.size() && have.compare(have.size() - want.size(), want.size(), want) == 0)
        fit.push_back(p);
    }
    if (fit.empty()) {
      c.exit = kExitNoProgrammer;
      c.error = "no programmer's serial number ends in " + *s.serial;
      c.candidates = all;
      return c;
    }
  }
  if (s.channel) {
    auto it = std::find_if(fit.begin(), fit.end(), [&](const Programmer& p) { return p.channel == *s.channel; });
    if (it == fit.end()) {
      c.exit = kExitNoProgrammer;
      c.error = s.serial ? "channel " + std::to_string(*s.channel) + " does not have serial number ending in " + *s.serial
                         : "no channel " + std::to_string(*s.channel) + " (" + std::to_string(all.size()) +
                               " programmer" + (all.size() == 1 ? "" : "s") + " found)";
      c.candidates = s.serial ? fit : all;
      return c;
    }
    c.programmer = *it;
    return c;
  }
  if (fit.size() > 1) {
    c.exit = kExitAmbiguous;
    c.error = s.serial ? "serial number ending in " + *s.serial + " fits " + std::to_string(fit.size()) + " programmers"
                       : std::to_string(fit.size()) + " programmers found; choose one with --channel or --serial";
    c.candidates = fit;
    return c;
  }
  c.programmer = fit[0];
  return c;
}

Result CallCheckProgrammer(int channel) { return Channel("CheckProgrammer", CheckProgrammer, channel); }
Result CallInitChannel(int channel) { return Channel("InitChannel", InitChannel, channel); }
Result CallCheckDevice(int channel) { return Channel("CheckDevice", CheckDevice, channel); }
Result CallReleaseTarget(int channel) { return Channel("ReleaseTarget", ReleaseTarget, channel); }

Result CallGetTargVolt(int channel, int32_t& volt) {
  volt = 0;
  Result r{"GetTargVolt", -1, {}};
  std::string text(kText, '\0');
  CallLog log(r, ChannelArg(channel));
  GetTargVolt(channel, &volt, &r.res, text.data());
  r.text = text.c_str();
  log.Done("volt " + std::to_string(volt));
  return r;
}

Result CallGetFuses(int channel, uint8_t selector, int32_t& fuse) {
  fuse = 255;
  Result r{"GetFuses", -1, {}};
  std::string text(kText, '\0');
  char sel[16];
  if (selector >= 0x20 && selector < 0x7F)
    std::snprintf(sel, sizeof sel, "'%c'", static_cast<char>(selector));
  else
    std::snprintf(sel, sizeof sel, "0x%02X", selector);
  CallLog log(r, ChannelArg(channel) + ", selfuse=" + sel);
  GetFuses(channel, selector, &fuse, &r.res, text.data());
  r.text = text.c_str();
  char value[32];
  std::snprintf(value, sizeof value, "fuse %d (0x%02X)", fuse, static_cast<unsigned>(fuse) & 0xFFu);
  log.Done(value);
  return r;
}

}  // namespace nurva::cli
