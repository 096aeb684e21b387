#include "search/paging.h"

#include <gtest/gtest.h>

using namespace yuming;

namespace {

TEST(TextValue, ReadsTheNumberATextBeginsWith) {
    struct Case {
        const char16_t* text;
        double value;
    };
    const Case cases[] = {{u"", 0},      {u"abc", 0},  {u"12", 12},     {u"  7 pages", 7}, {u"3.5", 3.5},
                          {u"-2", -2},   {u"1e2", 100}, {u"1e", 1},      {u".5", 0.5},      {u"4x5", 4}};
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(textValue(c.text), c.value) << QString::fromUtf16(c.text).toStdString();
}

struct GuardCase {
    const char16_t* pageNo;
    const char16_t* pageCount;
    const char16_t* text5;
    std::optional<QString> prev, next, jump; // new PageNo, or nullopt for a refusal
};

TEST(PagingGuards, RefuseAtTheEndsAndMoveInside) {
    const GuardCase cases[] = {
        // Before the first search everything is refused.
        {u"", u"", u"1", std::nullopt, std::nullopt, std::nullopt},
        // A single page: only a jump to 1 goes, to page index 0 again.
        {u"0", u"1", u"1", std::nullopt, std::nullopt, "0"},
        {u"0", u"5", u"2.5", std::nullopt, "1", "1"},  // halves go to the even neighbour
        {u"2", u"5", u"3.5", "1", "3", "3"},
        {u"4", u"5", u"5", "3", std::nullopt, "4"},    // the last page
        {u"1", u"5", u"0", "0", "2", std::nullopt},
        {u"1", u"5", u"0.5", "0", "2", std::nullopt},
        {u"1", u"5", u"6", "0", "2", std::nullopt},
        {u"1", u"5", u"", "0", "2", std::nullopt},
        {u"1", u"5", u"two", "0", "2", std::nullopt},
        {u"1", u"5", u"2abc", "0", "2", std::nullopt}, // begins with a number but is none
        {u"1", u"5", u" 2 ", "0", "2", "1"},
        {u"1", u"5", u"1e0", "0", "2", "0"},
    };
    for (const GuardCase& c : cases) {
        const auto label = QString::fromUtf16(c.pageNo) + "/" + QString::fromUtf16(c.pageCount) + "/" +
                           QString::fromUtf16(c.text5);
        const PageMove prev = previousPageNo(c.pageNo);
        const PageMove next = nextPageNo(c.pageNo, c.pageCount);
        const PageMove jump = jumpPageNo(c.text5, c.pageCount);
        EXPECT_EQ(prev.pageNo, c.prev) << label.toStdString();
        EXPECT_EQ(next.pageNo, c.next) << label.toStdString();
        EXPECT_EQ(jump.pageNo, c.jump) << label.toStdString();
        if (!c.prev) {
            EXPECT_EQ(prev.refusal, refusal::kFirstPage);
        }
        if (!c.next) {
            EXPECT_EQ(next.refusal, refusal::kLastPage);
        }
        if (!c.jump) {
            EXPECT_EQ(jump.refusal, refusal::kPageOutOfRange);
        }
    }
}

} // namespace
