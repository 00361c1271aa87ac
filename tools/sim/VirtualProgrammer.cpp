#include "tools/sim/VirtualProgrammer.h"

namespace nurva::sim {

namespace {

// The bus's vendor control request (class or vendor OUT request); its code, as the
// device objects send it.
constexpr uint32_t kVendorOutRequest = 0x80942035;

}  // namespace

State BuildState(const ProgrammerConfig& cfg, const Card& card, std::string* notes) {
  State st;
  st.id = cfg.identity;
  st.faults = cfg.faults;
  st.jobSpeed = cfg.jobSpeed;

  std::optional<Project> project;
  if (cfg.openProject) {
    std::string why;
    if (auto data = card.Read(*cfg.openProject)) {
      project = Project::Parse(*data, &why);
      if (project) {
        st.openName = card.Find(*cfg.openProject);
        st.open = project;
      }
    } else {
      why = "no such file on the card";
    }
    if (!project && notes) *notes += "project " + *cfg.openProject + " not opened: " + why + "\n";
  }

  const DevicePreset* preset = nullptr;
  if (!cfg.targetDevice.empty()) {
    preset = FindPreset(cfg.targetDevice);
    if (!preset && notes) *notes += "unknown device " + cfg.targetDevice + ", using ATmega328P\n";
  }
  if (!preset && cfg.targetDevice.empty() && project) {
    preset = FindPreset(project->device);
    if (!preset) {
      // A chip the simulator has no preset for: made from what the project says of it.
      DevicePreset p{"", project->signature, project->flashSize, project->eepromSize, project->usrRowSize,
                     project->pageSize, project->iface, project->fuses, project->lockBits.value_or(0xFF)};
      st.target = MakeTarget(p);
      st.target.device = project->device;
    }
  }
  if (st.target.device.empty()) st.target = MakeTarget(preset ? *preset : *FindPreset("ATmega328P"));
  if (cfg.voltage) st.target.voltage = *cfg.voltage;
  for (const auto& [i, v] : cfg.targetFuses) st.target.fuses[i] = v;
  ApplyStateFaults(st);
  return st;
}

VirtualProgrammer::VirtualProgrammer(std::string busDir, ProgrammerConfig cfg, LogFn log, CommandSet commands)
    : cfg_(std::move(cfg)), dev_(std::move(busDir), cfg_.socketName, *this) {
  Card card(cfg_.cardDir);
  State st = BuildState(cfg_, card, &notes_);
  FirmwareHooks hooks;
  hooks.sendIn = [this](std::span<const uint8_t> t) { return dev_.SendIn(t); };
  hooks.unplug = [this] { dev_.Unplug(); };
  hooks.log = std::move(log);
  fw_ = std::make_unique<Firmware>(std::move(st), cfg_.cardDir, std::move(commands), std::move(hooks),
                                   cfg_.socketName);
}

VirtualProgrammer::~VirtualProgrammer() { Stop(); }

bool VirtualProgrammer::Start(std::string* err) {
  if (started_) return true;
  if (!fw_->GetCard().Mounted()) {
    if (err) *err = fw_->GetCard().Error();
    return false;
  }
  fw_->Start();
  if (!dev_.Start()) {
    if (err) *err = dev_.Error();
    fw_->Stop();
    return false;
  }
  started_ = true;
  return true;
}

void VirtualProgrammer::Stop() {
  // The firmware first: it may be unplugging the device itself.
  fw_->Stop();
  dev_.Unplug();
  started_ = false;
}

vusb::RequestReply VirtualProgrammer::OnRequest(uint32_t code, std::span<const uint8_t> input) {
  (void)input;
  if (code == kVendorOutRequest) fw_->VendorRequest();
  return vusb::RequestReply::Default();
}

void VirtualProgrammer::OnOut(std::span<const uint8_t> frame) { fw_->Deliver(frame); }

}  // namespace nurva::sim
