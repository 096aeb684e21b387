#pragma once

#include "search/command_result.h"

#include <QString>
#include <QStringView>

#include <optional>

namespace yuming {

// Refusals of the paging commands.
namespace refusal {
inline constexpr QStringView kFirstPage = u"已经是第一页了！";
inline constexpr QStringView kLastPage = u"已经是最后一页了！";
inline constexpr QStringView kPageOutOfRange = u"您输入的页码范围不正确！";
} // namespace refusal

// The number a text begins with (leading blanks skipped; sign, fraction and exponent allowed),
// 0 for an empty text or one that begins with no number. This is how the guards read PageNo,
// PageCount and the page box.
double textValue(QStringView text);

// The number a text holds as a whole (blanks around it allowed), or nullopt when it is not one.
std::optional<double> wholeNumber(QStringView text);

// A page number as the commands store it: decimal digits, no fraction.
QString pageNumberText(double value);

// The new PageNo of each paging command, or the refusal text when its guard says no.
struct PageMove {
    std::optional<QString> pageNo;
    QStringView refusal;
};
PageMove previousPageNo(QStringView PageNo);
PageMove nextPageNo(QStringView PageNo, QStringView PageCount);
// The page box counts from 1; the value is rounded to the nearest whole page, halves to even.
PageMove jumpPageNo(QStringView Text5, QStringView PageCount);

// Label17: "总共：" + page count + " 页，当前 " + (PageNo + 1) + " 页".
QString pageCaption(QStringView pageCount, QStringView pageNo);

} // namespace yuming
