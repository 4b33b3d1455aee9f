// The command interpreter, run against the core's test registry.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <regex>
#include <string>

#include "core/command.h"
#include "tests/core/test_registry.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// An independent classifier written from the word grammar, not from the table.
int classify_by_grammar(const std::string& w) {
    static const std::regex hex("0[xX][0-9a-fA-F]+");
    static const std::regex uns("[0-9]+");
    static const std::regex sig("[+-][0-9]+");
    static const std::regex flt1("[+-]?(\\.[0-9]*|[0-9]+\\.[0-9]*)([eE][+-]?[0-9]+)?");
    static const std::regex flt2("[+-]?[0-9]+[eE][+-]?[0-9]+");
    if (std::regex_match(w, hex)) return QZ_T_OBJECT;
    if (std::regex_match(w, uns) || std::regex_match(w, sig)) return QZ_T_INT;
    if (std::regex_match(w, flt1) || std::regex_match(w, flt2)) return QZ_T_FLOAT;
    return (!w.empty() && w[0] == '-') ? QZ_T_EMPTY : QZ_T_STRING;
}

int classify(const std::string& w) { return QZ_classify_word(w.c_str(), w.size()); }

QZ_Test_Thing* thing(QZ_handle h) { return QZ_object_as<QZ_Test_Thing>(h); }

}  // namespace

TEST(Words, ExamplesClassify) {
    for (const char* w : {"12", "0012", "-1", "+5", "0", "-0"}) EXPECT_EQ(classify(w), QZ_T_INT) << w;
    for (const char* w : {"1.5", ".5", "5.", "1e5", "-2.5e-3", ".", "0.5", "0e5", ".e5", "+1E+2"})
        EXPECT_EQ(classify(w), QZ_T_FLOAT) << w;
    for (const char* w : {"0x00A57BBD", "0X1f", "0xE"}) EXPECT_EQ(classify(w), QZ_T_OBJECT) << w;
    for (const char* w : {"-bl", "-limit", "-", "-x1", "-e"}) EXPECT_EQ(classify(w), QZ_T_EMPTY) << w;
    for (const char* w : {"bgnd", "12e", "0x", "", "1.5e", "0x1.", "00x1", "1.2.3", "+", "e5", "0xg", "a\tb"})
        EXPECT_EQ(classify(w), QZ_T_STRING) << w;
}

TEST(Words, RandomWordsAgreeWithGrammar) {
    const std::string alphabet = "0123456789+-.eExXabcdfFgz";
    std::mt19937 rng(1234);
    for (int k = 0; k < 40000; ++k) {
        std::string w;
        int len = 1 + static_cast<int>(rng() % 7);
        for (int j = 0; j < len; ++j) w += alphabet[rng() % alphabet.size()];
        ASSERT_EQ(classify(w), classify_by_grammar(w)) << "word '" << w << "'";
    }
}

TEST(Words, ConversionsReachHandlers) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing -v 4294967295 -f 1e5 -o 0x00A57BBD", &h), QZ_OK);
    QZ_Test_Thing* t = thing(h);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->v, -1);  // "%u" stored in the 32-bit word
    EXPECT_EQ(t->f, 100000.0f);
    EXPECT_EQ(t->o, 0x00A57BBDu);
    EXPECT_EQ(spcpp("%o -v +5 -f -2.5e-3", h), QZ_OK);
    EXPECT_EQ(t->v, 5);
    EXPECT_EQ(t->f, -2.5e-3f);
    EXPECT_EQ(spcpp("%o -f . -v 0012", h), QZ_OK);  // "." reads as 0
    EXPECT_EQ(t->f, 0.0f);
    EXPECT_EQ(t->v, 12);
    EXPECT_EQ(spcpp("%o -f 1.5 -v -1", h), QZ_OK);  // "-1" is a value, not an option
    EXPECT_EQ(t->f, 1.5f);
    EXPECT_EQ(t->v, -1);
    EXPECT_EQ(spcpp("%o -f 1e999", h), QZ_OK);  // beyond range saturates, never UB
    EXPECT_TRUE(std::isinf(t->f));
    EXPECT_EQ(spcpp("%o -f -1e-999", h), QZ_OK);
    EXPECT_EQ(t->f, 0.0f);
    delete t;
}

TEST(Interpreter, ArgumentOrderOfTheReferenceForm) {
    // Create, then apply -o with the value: reference first, value second.
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing -o %o", &h, 0x1234u), QZ_OK);
    ASSERT_NE(thing(h), nullptr);
    EXPECT_EQ(thing(h)->o, 0x1234u);
    // An integer for -v, then the reference for the result of -act.
    QZ_handle h2 = 0;
    std::uint32_t act = 99;
    ASSERT_EQ(spcpp("QZ_Test_Thing -v %i -act", &h2, 7, &act), QZ_OK);
    EXPECT_EQ(thing(h2)->v, 7);
    EXPECT_EQ(act, 1u);
    // "%s" takes the text before the reference of the new object, and the
    // constructor sees the word; it is not kept after the command.
    QZ_handle h3 = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing %s -v 2", "current", &h3), QZ_OK);
    EXPECT_EQ(thing(h3)->special, "current");
    EXPECT_EQ(QZ_specialobject, nullptr);
    // A float result is stored as its single-precision bits.
    std::uint32_t bits = 0;
    ASSERT_EQ(spcpp("%o -f %f -f", h3, 0.25, &bits), QZ_OK);
    float f;
    std::memcpy(&f, &bits, 4);
    EXPECT_EQ(f, 0.25f);
    // Text results go through pointer-sized references.
    const char* s = nullptr;
    ASSERT_EQ(spcpp("%o -s hello -s", h3, &s), QZ_OK);
    EXPECT_STREQ(s, "hello");
    delete thing(h);
    delete thing(h2);
    delete thing(h3);
}

TEST(Interpreter, TwoActionsInARowBothRun) {
    QZ_handle h = 0;
    std::uint32_t r1 = 0, r2 = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing -act -act", &h, &r1, &r2), QZ_OK);
    EXPECT_EQ(r1, 1u);
    EXPECT_EQ(r2, 2u);
    EXPECT_EQ(thing(h)->actions, 2);
    delete thing(h);
}

TEST(Interpreter, DeleteUsesObjectsOwnClassAndStoresNothing) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Child", &h), QZ_OK);
    int before = QZ_Test_Thing::destroyed;
    std::uint32_t untouched = 0xDEAD;
    ASSERT_EQ(spcpp("%o -delete", h, &untouched), QZ_OK);
    EXPECT_EQ(untouched, 0xDEADu);
    EXPECT_EQ(QZ_Test_Thing::destroyed, before + 1);
    EXPECT_EQ(QZ_object_from_handle(h), nullptr);
    // Deleting the null object destroys nothing and succeeds.
    EXPECT_EQ(spcpp("%o -delete", 0u), QZ_OK);
}

TEST(Interpreter, NamedClassSelectsTheOptionsLookedUp) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Child", &h), QZ_OK);
    EXPECT_EQ(spcpp("%o -v 3", h), QZ_OK);  // the child's own -v doubles
    EXPECT_EQ(thing(h)->v, 6);
    EXPECT_EQ(spcpp("QZ_Test_Thing %o -v 3", h), QZ_OK);  // the parent's -v
    EXPECT_EQ(thing(h)->v, 3);
    CaptureStdout();
    EXPECT_EQ(spcpp("QZ_Object %o -v 4", h), QZ_ERROR_COMMAND_NOT_PARAM);
    GetCapturedStdout();
    EXPECT_EQ(thing(h)->v, 3);
    delete thing(h);
}

TEST(Interpreter, FinalPercentRunsOptionWithoutStoring) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing", &h), QZ_OK);
    std::uint32_t untouched = 0xBEEF;
    EXPECT_EQ(spcpp("%o -act %", h, &untouched), QZ_OK);
    EXPECT_EQ(thing(h)->actions, 1);
    EXPECT_EQ(untouched, 0xBEEFu);
    delete thing(h);
}

TEST(Interpreter, EmptyWordIsAnEmptyString) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing  -v 1", &h), QZ_OK);
    ASSERT_NE(thing(h), nullptr);
    EXPECT_TRUE(thing(h)->had_special);
    EXPECT_EQ(thing(h)->special, "");
    EXPECT_EQ(thing(h)->v, 1);
    delete thing(h);
}

TEST(Interpreter, TextForm) {
    char buf[64];
    int cap = 40;
    std::memset(buf, 'Z', sizeof buf);
    ASSERT_EQ(spcpp_text(buf, cap, "QZ_Test_Thing -v 3 -v -f -s"), QZ_OK);
    QZ_handle h = 0;
    ASSERT_EQ(std::sscanf(buf, "0x%X", &h), 1);
    ASSERT_NE(thing(h), nullptr);
    char expect[32];
    std::snprintf(expect, sizeof expect, "0x%X 3 0.000000", h);
    // The string result is empty: "each result after the first" still gets its space.
    EXPECT_EQ(std::string(buf), std::string(expect) + " ");
    EXPECT_EQ(buf[40], 'Z');  // nothing beyond the capacity

    // Count written comes back through the capacity reference.
    char b2[64];
    ASSERT_EQ(spcpp_text(b2, 64, "%o -v", h), QZ_OK);
    EXPECT_STREQ(b2, "3");

    // Raw data blocks are copied byte for byte, zero bytes included.
    std::memset(b2, 'Z', sizeof b2);
    ASSERT_EQ(spcpp_text(b2, 10, "%o -data", h), QZ_OK);
    EXPECT_EQ(std::memcmp(b2, "A\0BC", 4), 0);
    EXPECT_EQ(b2[4], '\0');  // zero-filled over the capacity
    EXPECT_EQ(b2[10], 'Z');
    delete thing(h);
}

namespace {
QZ_error run_text(int flags, const char* cmd, char* buf, int* cap, ...) {
    va_list ap;
    va_start(ap, cap);
    QZ_error e = spcpp_execute(flags, cmd, buf, cap, ap);
    va_end(ap);
    return e;
}
}  // namespace

TEST(Interpreter, TextCapacityAndCount) {
    char buf[40];
    std::memset(buf, 'Z', sizeof buf);
    int cap = 20;
    ASSERT_EQ(run_text(QZ_CMD_TEXT, "QZ_Test_Thing", buf, &cap), QZ_OK);
    QZ_handle h = 0;
    ASSERT_EQ(std::sscanf(buf, "0x%X", &h), 1);
    char expect[16];
    int n = std::snprintf(expect, sizeof expect, "0x%X", h);
    EXPECT_EQ(cap, n);
    EXPECT_STREQ(buf, expect);

    // Too small: refused, nothing written past the capacity; the object exists anyway.
    std::memset(buf, 'Z', sizeof buf);
    cap = 4;
    std::size_t live = QZ_live_object_count();
    QZ_handle small = 0;  // the reference form at the same time tells which object was made
    EXPECT_EQ(run_text(QZ_CMD_TEXT | QZ_CMD_REFERENCE, "QZ_Test_Thing", buf, &cap, &small),
              QZ_ERROR_COMMAND_NOT_SPACE);
    char small_text[16];
    std::snprintf(small_text, sizeof small_text, "0x%X", small);
    EXPECT_EQ(std::string(buf, 4), std::string(small_text, 4));
    EXPECT_EQ(buf[4], 'Z');
    EXPECT_EQ(QZ_live_object_count(), live + 1);
    delete thing(small);

    // A text result longer than the capacity.
    std::memset(buf, 'Z', sizeof buf);
    cap = 10;
    EXPECT_EQ(run_text(QZ_CMD_TEXT, "%o -long", buf, &cap, h), QZ_ERROR_COMMAND_NOT_SPACE);
    EXPECT_EQ(std::string(buf, 10), "a fairly l");
    EXPECT_EQ(buf[10], 'Z');

    // Both forms at once: text written and reference stored.
    std::uint32_t ref = 0;
    cap = 40;
    ASSERT_EQ(run_text(QZ_CMD_TEXT | QZ_CMD_REFERENCE, "%o -v 9 -v", buf, &cap, h, &ref), QZ_OK);
    EXPECT_STREQ(buf, "9");
    EXPECT_EQ(ref, 9u);
    delete thing(h);
}

TEST(Refusals, UnknownClassAndParam) {
    CaptureStdout();
    EXPECT_EQ(spcpp("QZ_Foo -x 1"), QZ_ERROR_COMMAND_NOT_FOUND);
    EXPECT_EQ(GetCapturedStdout(), "spcpp: command 'QZ_Foo -x 1' not found\n");
    CaptureStdout();
    EXPECT_EQ(spcpp("QZ_Test"), QZ_ERROR_COMMAND_NOT_FOUND);  // a prefix is not a class
    GetCapturedStdout();

    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing", &h), QZ_OK);
    CaptureStdout();
    EXPECT_EQ(spcpp("%o -v 4 -zz 3", h), QZ_ERROR_COMMAND_NOT_PARAM);
    EXPECT_EQ(GetCapturedStdout(), "spcpp: %o -v 4 -zz 3\nspcpp: param 'zz 3' not found\n");
    EXPECT_EQ(thing(h)->v, 4);  // options before the failure stay applied
    delete thing(h);
}

// A word has no number: given to an option that wants one it is refused with
// the option and the word named, and that option changes nothing. Options
// before it stay applied; options that take text still take it.
TEST(Refusals, TextForANumberOptionChangesNothing) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing -v 3 -f 1.5 -o 0x10", &h), QZ_OK);
    QZ_Test_Thing* t = thing(h);
    CaptureStdout();
    EXPECT_EQ(spcpp("%o -v abc", h), QZ_ERROR_COMMAND_NOT_PARAM);
    std::string out = GetCapturedStdout();
    EXPECT_EQ(out, "spcpp: %o -v abc\nspcpp: param 'v' wants a number, not the text 'abc'\n");
    CaptureStdout();
    EXPECT_EQ(spcpp("%o -f xyz", h), QZ_ERROR_COMMAND_NOT_PARAM);
    EXPECT_EQ(spcpp("%o -o %s", h, "word"), QZ_ERROR_COMMAND_NOT_PARAM);
    EXPECT_EQ(spcpp("%o -v  -f 2", h), QZ_ERROR_COMMAND_NOT_PARAM);  // the empty word
    EXPECT_EQ(spcpp("%o -v 7 -f 12e -v 9", h), QZ_ERROR_COMMAND_NOT_PARAM);
    out = GetCapturedStdout();
    EXPECT_NE(out.find("param 'f' wants a number, not the text 'xyz'"), std::string::npos) << out;
    EXPECT_NE(out.find("param 'o' wants a number, not the text 'word'"), std::string::npos) << out;
    EXPECT_NE(out.find("param 'f' wants a number, not the text '12e'"), std::string::npos) << out;
    EXPECT_EQ(t->v, 7);
    EXPECT_EQ(t->f, 1.5f);
    EXPECT_EQ(t->o, 0x10u);
    std::uint32_t r = 0;
    EXPECT_EQ(spcpp("%o -s word -v %i -o %o -v", h, 8, 0x20u, &r), QZ_OK);
    EXPECT_EQ(t->s, "word");
    EXPECT_EQ(r, 8u);
    EXPECT_EQ(t->o, 0x20u);
    delete t;
}

TEST(Refusals, AbstractClassIsNeverCreated) {
    std::size_t live = QZ_live_object_count();
    QZ_handle h = 0x5555;
    CaptureStdout();
    EXPECT_EQ(spcpp("QZ_Test_Abstract", &h), QZ_ERROR_COMMAND_NOT_FOUND);
    EXPECT_EQ(spcpp("QZ_Object -delete", &h), QZ_ERROR_COMMAND_NOT_FOUND);
    std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("spcpp: class 'QZ_Test_Abstract' is abstract"), std::string::npos) << out;
    EXPECT_EQ(QZ_live_object_count(), live);
    EXPECT_EQ(h, 0x5555u);
}

TEST(Refusals, DanglingAndForeignHandles) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing -v 1", &h), QZ_OK);
    delete thing(h);
    int destroyed = QZ_Test_Thing::destroyed;
    CaptureStdout();
    EXPECT_EQ(spcpp("%o -v 2", h), QZ_ERROR_COMMAND_NOT_FOUND);
    EXPECT_EQ(spcpp("%o -delete", h), QZ_ERROR_COMMAND_NOT_FOUND);
    EXPECT_EQ(spcpp("QZ_Test_Thing 0x12345 -v 2"), QZ_ERROR_COMMAND_NOT_FOUND);
    std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("spcpp: object 0x"), std::string::npos) << out;
    EXPECT_EQ(QZ_Test_Thing::destroyed, destroyed);

    // An object of another class under a named class is refused, not cast.
    QZ_handle t = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing", &t), QZ_OK);
    CaptureStdout();
    EXPECT_EQ(spcpp("QZ_Test_Child %o -v 1", t), QZ_ERROR_COMMAND_NOT_FOUND);
    // Options on a null object are refused; only -delete is a harmless no-op.
    EXPECT_EQ(spcpp("QZ_Test_Thing 0 -v 1"), QZ_ERROR_COMMAND_NOT_PARAM);
    GetCapturedStdout();
    EXPECT_EQ(thing(t)->v, 0);
    // Deleted in the middle of a command: later options are refused.
    CaptureStdout();
    EXPECT_EQ(spcpp("%o -delete -v 3", t), QZ_ERROR_COMMAND_NOT_FOUND);
    GetCapturedStdout();
    EXPECT_EQ(QZ_object_from_handle(t), nullptr);
}

TEST(Refusals, TwoValuesInARowAndInnerPercent) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing", &h), QZ_OK);
    CaptureStdout();
    EXPECT_EQ(spcpp("%o -v 10 20 -f 1", h), QZ_ERROR_COMMAND_NOT_PARAM);
    std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("value '20 -f 1' follows a value"), std::string::npos) << out;
    EXPECT_EQ(thing(h)->v, 10);
    EXPECT_EQ(thing(h)->f, 0.0f);
    CaptureStdout();
    EXPECT_EQ(spcpp("%o -v % -f 2", h), QZ_ERROR_COMMAND_NOT_PARAM);
    EXPECT_EQ(spcpp("%o %q -v 1", h), QZ_ERROR_COMMAND_NOT_PARAM);
    EXPECT_EQ(spcpp("%s -v 1", "x"), QZ_ERROR_COMMAND_NOT_FOUND);  // nothing to create
    GetCapturedStdout();
    EXPECT_EQ(thing(h)->f, 0.0f);
    delete thing(h);
}

TEST(Interpreter, CommandTextIsNeverWritten) {
    // The command may live in read-only memory; the interpreter works on a copy.
    static const char cmd[] = "QZ_Test_Thing -v 5 -s word";
    QZ_handle h = 0;
    ASSERT_EQ(spcpp(cmd, &h), QZ_OK);
    EXPECT_STREQ(cmd, "QZ_Test_Thing -v 5 -s word");
    EXPECT_EQ(thing(h)->s, "word");
    EXPECT_EQ(thing(h)->command, cmd);
    EXPECT_EQ(thing(h)->descriptor, &QZ_Test_Thing_class);
    delete thing(h);
}

// Options are found by their whole names: a prefix or an extension of a name,
// or a name with a zero byte inside, names nothing; the parent's options are
// reached after the class's own.
TEST(Interpreter, OptionNamesMatchWholeNamesOnly) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing", &h), QZ_OK);
    CaptureStdout();
    for (const char* bad : {"%o -ac", "%o -actx", "%o -a", "%o -lon", "%o -longer", "%o -delet", "%o -",
                            "%o -dat 1", "%o -V 1"})
        EXPECT_EQ(spcpp(bad, h), QZ_ERROR_COMMAND_NOT_PARAM) << bad;
    GetCapturedStdout();
    EXPECT_EQ(thing(h)->v, 0);
    EXPECT_EQ(QZ_find_option(&QZ_Test_Thing_class, "act", 3), &QZ_Test_Thing_class.options[4]);
    EXPECT_EQ(QZ_find_option(&QZ_Test_Thing_class, "v\0x", 3), nullptr);
    EXPECT_EQ(QZ_find_option(&QZ_Test_Thing_class, "long", 2), nullptr);
    EXPECT_EQ(QZ_find_option(&QZ_Test_Thing_class, "delete", 6), &QZ_Object_class.options[0]);
    EXPECT_EQ(QZ_find_option(&QZ_Test_Thing_class, "", 0), nullptr);
    std::uint32_t r = 0;
    EXPECT_EQ(spcpp("%o -v 3 -v", h, &r), QZ_OK);
    EXPECT_EQ(r, 3u);
    EXPECT_EQ(spcpp("%o -delete", h), QZ_OK);
    EXPECT_EQ(QZ_object_from_handle(h), nullptr);
}

// Text words keep exactly their own characters wherever they stand, also in
// commands too long for the interpreter's fixed buffer, and before and after
// numbers, placeholders and further texts.
TEST(Interpreter, TextWordsKeepTheirCharacters) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing -s first -v 2 -s second", &h), QZ_OK);
    EXPECT_EQ(thing(h)->s, "second");
    EXPECT_EQ(thing(h)->v, 2);
    std::string cmd = "%o";
    for (int k = 0; k < 40; ++k) cmd += " -v " + std::to_string(k) + " -s w" + std::to_string(k);
    cmd += " -f %f -s last";
    ASSERT_GT(cmd.size(), 256u);
    EXPECT_EQ(spcpp(cmd.c_str(), h, 2.5), QZ_OK);
    EXPECT_EQ(thing(h)->s, "last");
    EXPECT_EQ(thing(h)->v, 39);
    EXPECT_EQ(thing(h)->f, 2.5f);
    char text[64] = {};
    EXPECT_EQ(spcpp_text(text, sizeof text, "%o -s abc -s -v 7 -v", h), QZ_OK);
    EXPECT_STREQ(text, "abc 7");
    delete thing(h);
}
