// The platform's library loader (dlopen natively, LoadLibraryA under Wine) with the fake port
// libraries: loading by file name, the lookup of present and absent exports, reference counting,
// and a call through a looked-up __stdcall export.
#include <gtest/gtest.h>

#include "platform/LibraryLoader.h"
#include "testsupport/FakePortLibrary.h"

namespace motion {
namespace {

using platform::SystemLibraryLoader;
using Out32Function = void(Q417_STDCALL*)(int16_t, int16_t);

TEST(LibraryLoader, LoadsByFileNameAndFindsOnlyRealExports) {
    FakePortLibrary fake;
    platform::LibraryLoader& loader = SystemLibraryLoader();
    platform::LibraryHandle library = loader.Load("inpout32.dll");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library, fake.Handle()) << "a second load of one library gives the same handle";

    auto out32 = reinterpret_cast<Out32Function>(loader.Symbol(library, "Out32"));
    ASSERT_NE(out32, nullptr);
    out32(0x378, static_cast<int16_t>(0xFF5A));
    EXPECT_EQ(fake.Calls(), std::vector<PortCall>{Out(0x378, 0xFF5A)});

    EXPECT_EQ(loader.Symbol(library, "NoSuchExport"), nullptr);
    EXPECT_EQ(loader.Symbol(library, "out32"), nullptr) << "export names are case-sensitive";
    loader.Free(library);
}

TEST(LibraryLoader, LibraryStaysUsableUntilItsLastLoadIsFreed) {
    platform::LibraryLoader& loader = SystemLibraryLoader();
    platform::LibraryHandle first = loader.Load(kFakeNoInp32);
    platform::LibraryHandle second = loader.Load(kFakeNoInp32);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first, second);
    loader.Free(first);
    auto out32 = reinterpret_cast<Out32Function>(loader.Symbol(second, "Out32"));
    ASSERT_NE(out32, nullptr);
    out32(0x278, 0);  // would fault if the first Free had unloaded it
    EXPECT_EQ(loader.Symbol(second, "Inp32"), nullptr);
    loader.Free(second);
}

TEST(LibraryLoader, MissingLibraryAndNoNameGiveNoHandle) {
    platform::LibraryLoader& loader = SystemLibraryLoader();
    EXPECT_EQ(loader.Load(kAbsentLibrary), nullptr);
    EXPECT_EQ(loader.Load(nullptr), nullptr);
    EXPECT_EQ(loader.Symbol(nullptr, "Out32"), nullptr);
    loader.Free(nullptr);  // ignored
}

}  // namespace
}  // namespace motion
