// Demo steps of the block transfers and read back: the programmed Flash read back and
// compared with the open project's image, and a short block written over a page.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "api/NURVA_DLL.h"
#include "tools/cli/Codes.h"
#include "tools/cli/DemoJob.h"

namespace nurva::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The over block: 16 bytes at the end of the fourth page.
constexpr int32_t kOverAddress = 0x3F0;
constexpr int32_t kOverCount = 16;
constexpr int32_t kPage = 256;
constexpr size_t kReportFlashLine = 5;  // 0-based: "N bytes" or "none"

std::string Rate(size_t bytes, Clock::time_point t0) {
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  char b[96];
  std::snprintf(b, sizeof b, "%zu bytes in %.2f s (%.0f bytes/s)", bytes, s, s > 0 ? bytes / s : 0.0);
  return b;
}

// A call within a step: its line; the step's record only when it failed (a step that
// ends well leaves one record, written by Done).
bool Check(DemoJob& job, const std::string& label, const Result& r) {
  if (r.res != NURVA_RES_resOk) return job.Expect(label, r, NURVA_RES_resOk);
  job.out.Step(label, r, true);
  return true;
}
bool Check(DemoJob& job, const std::string& label, const Transfer& t) {
  return t.ok || job.Expect(label, t.last, NURVA_RES_resOk);
}
void Done(DemoJob& job, const std::string& line, Json detail) {
  job.out.Line(line);
  detail["step"] = job.stepName;
  detail["ok"] = true;
  job.out.Doc()["steps"].push_back(std::move(detail));
}

// The size of the project's Flash image from its parameter report; 0 when it has none.
bool FlashImageSize(DemoJob& job, uint32_t& size) {
  Result r{"GetProjParams", -1, {}};
  std::string text(NURVA_TEXT_BUFFER_SIZE * 4, '\0');
  GetProjParams(job.channel, job.project.c_str(), &r.res, text.data());
  r.text = text.c_str();
  if (r.res != NURVA_RES_resOk) return job.Expect("GetProjParams", r, NURVA_RES_resOk);
  size_t pos = 0;
  for (size_t line = 0; line < kReportFlashLine && pos != std::string::npos; ++line) {
    pos = r.text.find("\r\n", pos);
    if (pos != std::string::npos) pos += 2;
  }
  size = pos == std::string::npos ? 0 : static_cast<uint32_t>(std::strtoul(r.text.c_str() + pos, nullptr, 10));
  return true;
}

}  // namespace

bool DemoReadBackCompare(DemoJob& job) {
  uint32_t size = 0;
  if (!FlashImageSize(job, size)) return true;
  if (size == 0) {
    job.Fail(job.project + " has no Flash image to compare with");
    return true;
  }
  std::vector<uint8_t> image, target;
  auto t0 = Clock::now();
  if (!Check(job, "UpFileBlockF", ReadProject(job.channel, Memory::Flash, 0, size, image))) return true;
  job.out.Line("  project image: " + Rate(size, t0) + " through up-file blocks");
  t0 = Clock::now();
  if (!Check(job, "ReadBackChipF", ReadMemory(job.channel, Memory::Flash, 0, size, target))) return true;
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  job.out.Line("  target Flash:  " + Rate(size, t0) + " through read back");
  const auto diff = std::mismatch(image.begin(), image.end(), target.begin());
  if (diff.first != image.end()) {
    char b[96];
    std::snprintf(b, sizeof b, "the target's Flash differs from the project's image first at 0x%04zX",
                  static_cast<size_t>(diff.first - image.begin()));
    job.Fail(b);
    return true;
  }
  Done(job, "  the target's Flash equals the project's image",
       {{"call", "ReadBackChipF"}, {"bytes", size}, {"bytesPerSecond", seconds > 0 ? size / seconds : 0.0}});
  return true;
}

bool DemoOverBlock(DemoJob& job) {
  const int32_t page = kOverAddress / kPage * kPage;
  uint8_t before[kPage], after[kPage], block[kOverCount];
  for (int32_t i = 0; i < kOverCount; ++i) block[i] = static_cast<uint8_t>(0xA0 + i);
  if (!Check(job, "ReadBackChipF", CallReadBackChip(job.channel, Memory::Flash, before, page, kPage))) return true;
  if (!Check(job, "DownOverBlockF", CallDownOverBlock(job.channel, Memory::Flash, block, kOverAddress, kOverCount)))
    return true;
  if (!Check(job, "ReadBackChipF", CallReadBackChip(job.channel, Memory::Flash, after, page, kPage))) return true;
  const int32_t at = kOverAddress - page;
  const bool written = std::equal(block, block + kOverCount, after + at);
  const bool kept = std::equal(before, before + at, after) &&
                    std::equal(before + at + kOverCount, before + kPage, after + at + kOverCount);
  if (!written || !kept) {
    job.Fail(!written ? "the page does not hold the block written over it" : "the rest of the page changed");
    return true;
  }
  char b[96];
  std::snprintf(b, sizeof b, "  %d bytes at 0x%04X read back, the rest of page 0x%04X unchanged", kOverCount,
                kOverAddress, page);
  Done(job, b, {{"call", "DownOverBlockF"}, {"address", kOverAddress}, {"count", kOverCount}});
  return true;
}

}  // namespace nurva::cli
