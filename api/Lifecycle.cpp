// Load and unload of the library: the single-attach guard, and stopping the links on
// unload so that no receive thread runs in code that is being unmapped.
#include <atomic>

#include "api/CallPattern.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace nurva::api {

inline constexpr const char* kAlreadyInUse = "!!! NURVA.DLL already in use !!!";

enum class AttachReason { ProcessAttach, ProcessDetach, Other };

namespace {
std::atomic<bool> gInUse{false};
}

// False when the attach must fail: the library is already in use in this process.
bool LibraryAttach(AttachReason reason) {
  switch (reason) {
    case AttachReason::ProcessAttach:
      if (gInUse.exchange(true)) return false;
      return true;
    case AttachReason::ProcessDetach:
      gInUse.store(false);
      return true;
    case AttachReason::Other:
      return true;
  }
  return true;
}

}  // namespace nurva::api

#ifdef _WIN32

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  using namespace nurva::api;
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);
      if (!LibraryAttach(AttachReason::ProcessAttach)) {
        OutputDebugStringA(kAlreadyInUse);
        return FALSE;
      }
      return TRUE;
    case DLL_PROCESS_DETACH:
      // On FreeLibrary the links and the notifier's thread are stopped, under the loader
      // lock, so every wait there has a bound (ReleaseListForUnload). At process exit
      // (reserved set) the other threads are already gone and nothing of ours runs any more.
      if (reserved == nullptr) ReleaseListForUnload();
      LibraryAttach(AttachReason::ProcessDetach);
      return TRUE;
    default:
      LibraryAttach(AttachReason::Other);
      return TRUE;
  }
}

#else

namespace {
__attribute__((constructor)) void OnLoad() { nurva::api::LibraryAttach(nurva::api::AttachReason::ProcessAttach); }
__attribute__((destructor)) void OnUnload() {
  nurva::api::ReleaseListForUnload();
  nurva::api::LibraryAttach(nurva::api::AttachReason::ProcessDetach);
}
}  // namespace

#endif
