// Error codes, the error box text and the resource store.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "core/error.h"
#include "core/resource.h"

namespace {
std::string g_text, g_caption;
int g_boxes = 0;
int capture(const char* text, const char* caption) {
    g_text = text;
    g_caption = caption;
    ++g_boxes;
    return 7;
}
struct BoxCapture {
    QZ_message_box_fn prev;
    BoxCapture() : prev(QZ_set_message_box(&capture)) { g_boxes = 0; }
    ~BoxCapture() { QZ_set_message_box(prev); }
};
}  // namespace

TEST(Errors, CodesAreDistinctReferencesInOrder) {
    ASSERT_EQ(QZ_error_code_count, 21u);
    EXPECT_EQ(QZ_error_codes[0], &QZ_OK);
    EXPECT_EQ(QZ_error_codes[20], &QZ_ERROR_COMMAND_NOT_SPACE);
    std::set<const char*> seen;
    for (std::size_t k = 0; k < QZ_error_code_count; ++k) seen.insert(*QZ_error_codes[k]);
    EXPECT_EQ(seen.size(), QZ_error_code_count);
    EXPECT_STREQ(QZ_OK, "Operation OK");
    EXPECT_STREQ(QZ_ERROR_MEMORY_CANNOT_REALLOC, "Cannot re-allocate memory");
    EXPECT_STREQ(QZ_ERROR_COMMAND_NOT_SPACE, "Not enough space for command result");
    // Equal text elsewhere is not the code: results compare by reference.
    char copy[32];
    std::strcpy(copy, "Operation OK");
    EXPECT_NE(static_cast<QZ_error>(copy), QZ_OK);
}

TEST(Errors, ReportLayoutAndResult) {
    BoxCapture box;
    EXPECT_EQ(QZ_error_func("QZ_cfuncs", 121, "QZ_resource", "Dec  8 2026", "10:00:00", "boom"), 7);
    EXPECT_EQ(g_caption, "ERROR");
    EXPECT_EQ(
        g_text,
        "Error: boom\nFile: QZ_cfuncs\nLine: 121\nProc: QZ_resource\nDate: Dec  8 2026\nTime: 10:00:00");
    EXPECT_EQ(std::string(QZ_error_text()), g_text);
}

TEST(Errors, LongReportIsCutNotOverrun) {
    BoxCapture box;
    std::string huge(5000, 'x');
    QZ_error_func(huge.c_str(), 1, nullptr, "d", "t", huge.c_str());
    EXPECT_EQ(g_text.size(), QZ_ERROR_TEXT_SIZE - 1);
    EXPECT_EQ(g_text.rfind("Error: xxx", 0), 0u);
}

TEST(Resources, NamesMatchWithoutRegardToCase) {
    std::size_t size = 0;
    const unsigned char* a = QZ_resource_find("bgnd", &size);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(size, 15u);
    EXPECT_EQ(std::memcmp(a, "QZIF-test-bytes", 15), 0);
    EXPECT_EQ(QZ_resource("BgNd"), a);
    EXPECT_EQ(QZ_resource_find("logo", &size), QZ_resource("LOGO"));
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(QZ_resource_find("bgn", &size), nullptr);  // no prefix matches
    EXPECT_EQ(size, 0u);
}

TEST(Resources, MissingNameIsReported) {
    BoxCapture box;
    EXPECT_EQ(QZ_resource("nosuch"), nullptr);
    ASSERT_EQ(g_boxes, 1);
    EXPECT_EQ(g_caption, "ERROR");
    EXPECT_EQ(g_text.rfind("Error: nosuch\nFile: QZ_cfuncs\nLine: 121\nProc: QZ_resource\nDate: ", 0), 0u)
        << g_text;
    EXPECT_EQ(QZ_resource(nullptr), nullptr);
    EXPECT_EQ(g_boxes, 2);
}
