// Calls of the project file and download exports.
#include "api/NURVA_DLL.h"
#include "tools/cli/CallLog.h"
#include "tools/cli/Host.h"

namespace nurva::cli {

namespace {

// The listing is the longest text here: 15 lines of up to 64 characters and CR LF.
constexpr size_t kText = NURVA_TEXT_BUFFER_SIZE * 4;

using Plain = void (*)(int32_t, int32_t*, char*);
using Named = void (*)(int32_t, const char*, int32_t*, char*);

Result Call(const char* call, Plain fn, int channel) {
  Result r{call, -1, {}};
  std::string text(kText, '\0');
  CallLog log(r, "channel=" + std::to_string(channel));
  fn(channel, &r.res, text.data());
  r.text = text.c_str();
  log.Done();
  return r;
}

Result Call(const char* call, Named fn, int channel, const std::string& name) {
  Result r{call, -1, {}};
  std::string text(kText, '\0');
  CallLog log(r, "channel=" + std::to_string(channel) + ", name=" + Quoted(name));
  fn(channel, name.c_str(), &r.res, text.data());
  r.text = text.c_str();
  log.Done();
  return r;
}

}  // namespace

Result CallGetFileNames(int channel) { return Call("GetFileNames", GetFileNames, channel); }
Result CallCheckAfile(int channel, const std::string& name) { return Call("CheckAfile", CheckAfile, channel, name); }
Result CallOpenAfile(int channel, const std::string& name) { return Call("OpenAfile", OpenAfile, channel, name); }
Result CallCloseAfile(int channel) { return Call("CloseAfile", CloseAfile, channel); }
Result CallDeleteAfile(int channel, const std::string& name) { return Call("DeleteAfile", DeleteAfile, channel, name); }
Result CallGetFileState(int channel) { return Call("GetFileState", GetFileState, channel); }
Result CallDownloadFile(int channel, const std::string& path) {
  return Call("DownloadFile", DownloadFile, channel, path);
}

std::vector<std::string> ListingNames(const std::string& text) {
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t e = text.find("\r\n", pos);
    if (e == std::string::npos) e = text.size();
    if (e > pos) names.push_back(text.substr(pos, e - pos));
    pos = e + 2;
  }
  return names;
}

}  // namespace nurva::cli
