#include "search/paging.h"

#include <gtest/gtest.h>

using namespace yuming;

namespace {

TEST(TextValue, ReadsTheNumberATextBeginsWith) {
    struct Case {
        const char16_t* text;
        double value;
    };
    const Case cases[] = {{u"", 0},    {u"abc", 0},   {u"12", 12}, {u"  7 pages", 7}, {u"3.5", 3.5},
                          {u"-2", -2}, {u"1e2", 100}, {u"1e", 1},  {u".5", 0.5},      {u"4x5", 4}};
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(textValue(c.text), c.value) << QString::fromUtf16(c.text).toStdString();
}

struct GuardCase {
    std::int64_t page;
    const char16_t* pageCount; // as cut from the page; empty before any page had one
    const char16_t* text5;
    std::optional<std::int64_t> prev, next, jump; // the new page, or nullopt for a refusal
};

TEST(PagingGuards, RefuseAtTheEndsAndMoveInside) {
    const GuardCase cases[] = {
        // Before the first search everything is refused.
        {0, u"", u"1", std::nullopt, std::nullopt, std::nullopt},
        // A single page: only a jump to 1 goes, to page index 0 again.
        {0, u"1", u"1", std::nullopt, std::nullopt, 0},
        {0, u"5", u"2.5", std::nullopt, 1, 1}, // halves go to the even neighbour
        {2, u"5", u"3.5", 1, 3, 3},
        {4, u"5", u"5", 3, std::nullopt, 4}, // the last page
        {1, u"5", u"0", 0, 2, std::nullopt},
        {1, u"5", u"0.5", 0, 2, std::nullopt},
        {1, u"5", u"6", 0, 2, std::nullopt},
        {1, u"5", u"", 0, 2, std::nullopt},
        {1, u"5", u"two", 0, 2, std::nullopt},
        {1, u"5", u"2abc", 0, 2, std::nullopt}, // begins with a number but is none
        {1, u"5", u" 2 ", 0, 2, 1},
        {1, u"5", u"1e0", 0, 2, 0},
        {1, u" 5页", u"5", 0, 2, 4}, // the count is the number its text begins with
    };
    for (const GuardCase& c : cases) {
        const auto label = QString::number(c.page) + "/" + QString::fromUtf16(c.pageCount) + "/" +
                           QString::fromUtf16(c.text5);
        const std::int64_t pageCount = pageCountValue(c.pageCount);
        const PageMove prev = previousPage(c.page);
        const PageMove next = nextPage(c.page, pageCount);
        const PageMove jump = jumpPage(c.text5, pageCount);
        EXPECT_EQ(prev.page, c.prev) << label.toStdString();
        EXPECT_EQ(next.page, c.next) << label.toStdString();
        EXPECT_EQ(jump.page, c.jump) << label.toStdString();
        if (!c.prev) {
            EXPECT_EQ(prev.refusal, u"已经是第一页了！");
        }
        if (!c.next) {
            EXPECT_EQ(next.refusal, u"已经是最后一页了！");
        }
        if (!c.jump) {
            EXPECT_EQ(jump.refusal, u"您输入的页码范围不正确！");
        }
    }
}

} // namespace
