// Loading and unloading the shared library while its links run.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "tests/support/ScriptedPeer.h"

#ifndef NURVA_LIBRARY_PATH
#error "NURVA_LIBRARY_PATH must name the built library"
#endif

using namespace nurva::test;

TEST(Unload, LinksAreStoppedBeforeTheLibraryGoes) {
  TestBus bus;
  ScriptedPeer peer(bus, "dev0");
  peer.Identify(ProgrammerRec("NURVA Prog", 0x51));
  for (int i = 0; i < 3; ++i) {
    void* lib = dlopen(NURVA_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto abortAll = reinterpret_cast<uint8_t (*)()>(dlsym(lib, "AbortAll"));
    auto getIds = reinterpret_cast<void (*)(int32_t*, char*)>(dlsym(lib, "GetProgIDs"));
    ASSERT_NE(abortAll, nullptr);
    ASSERT_NE(getIds, nullptr);
    abortAll();
    int32_t count = 0;
    char text[256];
    getIds(&count, text);
    EXPECT_EQ(count, 1);
    EXPECT_STREQ(text, "00000051");
    // The programmer keeps talking while the library goes away.
    peer.Push({Pkt({'x'}), Pkt({'y'})});
    ASSERT_EQ(dlclose(lib), 0);
    // A receive thread left running would now execute unmapped code and crash the test.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}
