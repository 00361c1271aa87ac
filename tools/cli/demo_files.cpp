// Demo steps of the project files on the card and the download: a freshly built project
// goes onto the card, the card is listed, the project opened and the file state read.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "api/NURVA_DLL.h"
#include "tools/cli/DemoJob.h"

#ifdef NURVA_CLI_HAVE_SIM
#include "tools/sim/Sample.h"
#endif

namespace nurva::cli {

namespace {

// The downloaded project, on the PC and (the same name) on the card.
constexpr char kDownloaded[] = "DEMO2.PACK";

}  // namespace

bool DemoDownloadProject(DemoJob& job) {
#ifdef NURVA_CLI_HAVE_SIM
  sim::Project p = sim::MakeSampleProject();
  p.name = "DEMO2";
  p.info = "downloaded";
  p.StampDate(std::time(nullptr));
  const std::vector<uint8_t> bytes = p.Serialize();
  const std::filesystem::path file = job.workspace / kDownloaded;
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  const auto t0 = std::chrono::steady_clock::now();
  Result r = CallDownloadFile(job.channel, file.string());
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (job.Expect("DownloadFile", r, NURVA_RES_resOk)) {
    char line[128];
    std::snprintf(line, sizeof line, "      %s: %zu bytes, %.2f s, %.0f bytes/s", kDownloaded, bytes.size(), secs,
                  secs > 0 ? bytes.size() / secs : 0.0);
    job.out.Line(line);
    // The fields of `nurva download`.
    job.out.Doc()["download"] = {{"file", kDownloaded},
                                 {"bytes", bytes.size()},
                                 {"blocks", bytes.empty() ? 1 : (bytes.size() + 127) / 128},
                                 {"seconds", secs},
                                 {"bytesPerSecond", secs > 0 ? static_cast<double>(bytes.size()) / secs : 0.0}};
    job.project = kDownloaded;  // the steps that follow show and open it
  }
#else
  job.Fail("this build has no project builder");
#endif
  return true;
}

bool DemoListCard(DemoJob& job) {
  Result r = CallGetFileNames(job.channel);
  const std::vector<std::string> names = r.res == NURVA_RES_resOk ? ListingNames(r.text) : std::vector<std::string>{};
  if (r.res == NURVA_RES_resOk) r.text = std::to_string(names.size()) + " file(s)";
  if (!job.Expect("GetFileNames", r, NURVA_RES_resOk)) return true;
  job.out.Doc()["card"] = names;
  job.out.Doc()["files"] = names;  // as `nurva files` names them
  for (const auto& n : names) job.out.Line("      " + n);
  if (std::find(names.begin(), names.end(), kDownloaded) == names.end())
    job.Fail(std::string("the card does not list ") + kDownloaded);
  return true;
}

bool DemoOpenProject(DemoJob& job) {
  if (job.Expect("OpenAfile", CallOpenAfile(job.channel, kDownloaded), NURVA_RES_resOk))
    job.project = kDownloaded;
  return true;
}

bool DemoFileState(DemoJob& job) {
  Result r = CallGetFileState(job.channel);
  if (!job.Expect("GetFileState", r, NURVA_RES_resOk)) return true;
  job.out.Doc()["open"] = r.text;  // as `nurva state` names it
  if (r.text != job.project)
    job.Fail("the programmer names " + r.text + " open, not " + job.project);
  return true;
}

}  // namespace nurva::cli
