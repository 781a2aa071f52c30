// The pure parts of the PIN change: the PIN rules, the fixed key map of the protected field,
// its buffer editing and the soft keyboard's layout draw.
#include "pin_rules.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>

#include "safe_edit.h"
#include "soft_keyboard.h"

namespace {

bool Invalid(const std::string& s) {
    return IsInvalidPINChar(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}
bool TooSimple(const std::string& s) {
    return IsTooSimplePIN(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

}  // namespace

TEST(PinRules, OnlyDigitsAndLettersAreValid) {
    for (const char* ok :
         {"0123456789", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz", "Kw7pQ2x9", ""})
        EXPECT_FALSE(Invalid(ok)) << ok;
    // The neighbours of each range, an underscore, a blank, a byte of a double-byte character.
    for (const char* bad : {"12345/", "12345:", "@23456", "[23456", "`23456", "{23456", "12_456",
                            "12 456", "1234\xB5\xA5"})
        EXPECT_TRUE(Invalid(bad)) << bad;
}

TEST(PinRules, RepeatsRunsAndTakingTurnsAreTooSimple) {
    for (const char* simple :
         {"111111", "aaaaaaaa", "123456", "3456789", "987654", "fedcba", "ABCDEF", "ZYXWVU",
          "121212", "ababab", "a1a1a1a", "a", "11", "12", "aba"})
        EXPECT_TRUE(TooSimple(simple)) << simple;
}

TEST(PinRules, NearMissesAreNotTooSimple) {
    // The last digit breaks the run; pairs of equal digits; a run that passes from 9 to 0;
    // five ascending digits and a letter; letters of a run in alternating case; three
    // characters taking turns; an empty PIN.
    for (const char* fine : {"123457", "112233", "890123", "12345a", "AbCdEf", "aBcDeF", "123123",
                             "aab", "121213", ""})
        EXPECT_FALSE(TooSimple(fine)) << fine;
}

TEST(SafeKeyMap, UsEnglishLayoutWhateverTheKeyboard) {
    EXPECT_EQ(SafeKeyChar('A', false, false, false), 'a');
    EXPECT_EQ(SafeKeyChar('A', true, false, false), 'A');
    EXPECT_EQ(SafeKeyChar('A', false, true, false), 'A');
    EXPECT_EQ(SafeKeyChar('A', true, true, false), 'a');  // Caps Lock with Shift
    EXPECT_EQ(SafeKeyChar('1', true, false, false), '!');
    EXPECT_EQ(SafeKeyChar('0', true, false, false), ')');
    EXPECT_EQ(SafeKeyChar('9', false, true, false), '9');  // Caps Lock leaves digits alone
    EXPECT_EQ(SafeKeyChar(VK_SPACE, true, false, false), ' ');
    EXPECT_EQ(SafeKeyChar(VK_NUMPAD7, false, false, true), '7');
    EXPECT_EQ(SafeKeyChar(VK_NUMPAD7, true, false, true), '7');
    EXPECT_EQ(SafeKeyChar(VK_NUMPAD7, false, false, false), -1);  // Num Lock off: passed on
    EXPECT_EQ(SafeKeyChar(VK_DIVIDE, false, false, true), '/');
    EXPECT_EQ(SafeKeyChar(VK_ADD, true, false, false), -1);  // Num Lock off: no character
    EXPECT_EQ(SafeKeyChar(VK_OEM_PLUS, false, false, false), '=');
    EXPECT_EQ(SafeKeyChar(VK_OEM_4, true, false, false), '{');
    EXPECT_EQ(SafeKeyChar(VK_OEM_3, false, false, false), '`');
    EXPECT_EQ(SafeKeyChar(VK_OEM_3, true, false, false), '~');
    EXPECT_EQ(SafeKeyChar(VK_OEM_5, true, false, false), '|');
    EXPECT_EQ(SafeKeyChar(VK_OEM_7, true, false, false), '"');
    EXPECT_EQ(SafeKeyChar(VK_OEM_MINUS, true, false, false), '_');
    for (UINT passed : {VK_TAB, VK_RETURN, VK_ESCAPE, VK_F1, VK_HOME, VK_END, VK_BACK, VK_DELETE})
        EXPECT_EQ(SafeKeyChar(passed, false, false, true), -1) << passed;
}

TEST(SafeTextBuffer, InsertsDeletesAndKeepsBytesPastTheCountZero) {
    SafeText t;
    t.capacity = 4;
    EXPECT_TRUE(t.Insert(0, 'b'));
    EXPECT_TRUE(t.Insert(0, 'a'));
    EXPECT_TRUE(t.Insert(9, 'd'));  // past the end: appended
    EXPECT_TRUE(t.Insert(2, 'c'));
    EXPECT_FALSE(t.Insert(0, 'x'));  // full
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t.characters), t.count), "abcd");
    t.Delete(1, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t.characters), t.count), "ad");
    EXPECT_EQ(t.characters[2], 0);
    EXPECT_EQ(t.characters[3], 0);
    t.Delete(3, 1);  // beyond the count: nothing
    EXPECT_EQ(t.count, 2u);
    t.Delete(1, 10);  // reaches past the end: the rest goes
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t.characters), t.count), "a");
    t.Wipe();
    EXPECT_EQ(t.count, 0u);
    for (unsigned char b : t.characters) ASSERT_EQ(b, 0);
}

TEST(SoftKeyboardLayout, EachDrawIsAPermutationAndDrawsDiffer) {
    int a[kSoftKeyCount], b[kSoftKeyCount];
    ASSERT_TRUE(ShuffleKeys(a));
    ASSERT_TRUE(ShuffleKeys(b));
    EXPECT_EQ(std::set<int>(a, a + kSoftKeyCount).size(), 36u);
    EXPECT_EQ(*std::min_element(a, a + kSoftKeyCount), 0);
    EXPECT_EQ(*std::max_element(a, a + kSoftKeyCount), 35);
    // Two equal draws have a chance of 1 in 36!.
    EXPECT_FALSE(std::equal(a, a + kSoftKeyCount, b));
}

TEST(SoftKeyboardLayout, TheProcessRandomGeneratorIsLeftAlone) {
    srand(7);
    int expected = rand();
    srand(7);
    int p[kSoftKeyCount];
    ShuffleKeys(p);
    EXPECT_EQ(rand(), expected);
}

TEST(SoftKeyboardLayout, TablesHoldDigitsThenLetters) {
    EXPECT_EQ(SoftKeyChar(0, 0), L'1');
    EXPECT_EQ(SoftKeyChar(9, 1), L'0');
    EXPECT_EQ(SoftKeyChar(10, 0), L'a');
    EXPECT_EQ(SoftKeyChar(35, 1), L'Z');
    EXPECT_EQ(SoftKeyChar(36, 0), 0);
}
