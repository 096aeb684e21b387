#pragma once

#include "search/command_result.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace yuming {

// Refusals of the paging commands.
namespace refusal {
inline constexpr QStringView kFirstPage = u"已经是第一页了！";
inline constexpr QStringView kLastPage = u"已经是最后一页了！";
inline constexpr QStringView kPageOutOfRange = u"您输入的页码范围不正确！";
} // namespace refusal

// The number a text begins with (leading blanks skipped; sign, fraction and exponent allowed),
// 0 for an empty text or one that begins with no number. This is how the guards read the page
// count.
double textValue(QStringView text);

// The number a text holds as a whole (blanks around it allowed), or nullopt when it is not one.
std::optional<double> wholeNumber(QStringView text);

// A page count as the paging guards compare with it: the number its text begins with, rounded
// up (a page begun is a page), 0 for none, at most kMaxPage.
std::int64_t pageCountValue(QStringView text);

// The new page (counted from 0) of each paging command, or the refusal text when its guard says no.
struct PageMove {
    std::optional<std::int64_t> page;
    QStringView refusal;
};
PageMove previousPage(std::int64_t page);
PageMove nextPage(std::int64_t page, std::int64_t pageCount);
// The page box counts from 1; the value is rounded to the nearest whole page, halves to even.
PageMove jumpPage(QStringView pageBox, std::int64_t pageCount);

// The page caption: "总共：" + the page count as cut from the page + " 页，当前 " + (page + 1) + " 页".
QString pageCaption(QStringView pageCountText, std::int64_t page);

} // namespace yuming
