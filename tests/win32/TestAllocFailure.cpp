// The test build of the library can be made to fail every allocation of its own code, so
// a test sees what the exports do when one fails inside them.
#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> gFail{false};

void* Allocate(std::size_t n) {
  if (gFail.load(std::memory_order_relaxed)) throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

// Replace the runtime's operator new inside this DLL; the runtime's operator delete frees
// with free(), which matches.
void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }

extern "C" __declspec(dllexport) void NurvaTest_FailAllocations(int fail) { gFail.store(fail != 0); }
