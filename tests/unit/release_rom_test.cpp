#include <gtest/gtest.h>

#include "rom/rom_image.h"
#include "tests/support/test_support.h"

// The release flavour accepts only the user's own ROM, never the generated fixture.
TEST(ReleaseFlavour, RefusesTheFixtureRomInEveryByteOrder)
{
    EXPECT_EQ(ROM_ACCEPTED_HASH, 0x3EF9EA187C5BBEDEull);
    std::vector<uint8_t> fixture = ReadBytes(FixturePath(L"fixture.z64"));
    ASSERT_GE(fixture.size(), 4096u);
    if (HashRomImage(fixture.data(), (uint32_t)fixture.size()) == ROM_ACCEPTED_HASH)
        GTEST_SKIP() << "the test flavour was built around the user's own ROM";
    for (const wchar_t* name : {L"fixture.z64", L"fixture.v64", L"fixture.n64"}) {
        uint8_t* image = nullptr;
        uint32_t length = 0;
        EXPECT_EQ(LoadRomImage(FixturePath(name).c_str(), &image, &length), ROMCHECK_DIFFERENT_ROM)
            << Utf8(name);
        EXPECT_EQ(image, nullptr);
    }
}
