#include <gtest/gtest.h>

#include <string.h>

#include "base/folder_identity.h"

namespace {

FileIdentity Identity(uint64_t volume, uint64_t low, uint64_t high = 0)
{
    FileIdentity identity;
    identity.volume = volume;
    memcpy(identity.id, &low, 8);
    memcpy(identity.id + 8, &high, 8);
    return identity;
}

}  // namespace

// A file's number is unique on its volume only: the same number on two volumes (two drives,
// a USB stick, a network share, each counting from the start) is two folders, and neither
// may stand for the other in a refusal or an uninstall.
TEST(SameIdentity, TheVolumeAndTheWholeIdDecide)
{
    struct Case {
        const char* what;
        FileIdentity a, b;
        bool same;
    };
    const Case cases[] = {
        {"one file", Identity(0x1234ABCD, 42), Identity(0x1234ABCD, 42), true},
        {"one 128-bit id", Identity(7, 42, 99), Identity(7, 42, 99), true},
        {"the same number on two volumes", Identity(0x1234ABCD, 42), Identity(0x5678EF01, 42), false},
        {"number 0 on two volumes", Identity(1, 0), Identity(2, 0), false},
        {"volumes apart in their high half", Identity(0x100000001ull, 42), Identity(1, 42), false},
        {"two numbers on one volume", Identity(7, 42), Identity(7, 43), false},
        {"128-bit ids apart in their high half", Identity(7, 42, 1), Identity(7, 42, 2), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameIdentity(&c.a, &c.b) != 0, c.same) << c.what;
        EXPECT_EQ(SameIdentity(&c.b, &c.a) != 0, c.same) << c.what;
    }
}
