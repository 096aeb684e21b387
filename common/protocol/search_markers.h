#pragma once

#include <QStringView>

namespace yuming::markers {

// The search page as the service writes it. Every value is cut out as the text between two of
// these markers; all are matched exactly, case for case.

// The page count stands right after this and before the next kPageCountEnd.
inline constexpr QStringView kPageCountStart = u"<strong>,&#x5171;";
inline constexpr QStringView kPageCountEnd = u"页";
// The booking column's header cell: the result rows follow it.
inline constexpr QStringView kTableHeader = u"<th class=\"booking\">预订</th>";
inline constexpr QStringView kTableBodyEnd = u"</tbody>";
inline constexpr QStringView kRowStart = u"<tr>";
// End of the link opening in the first cell; the domain follows.
inline constexpr QStringView kLinkEnd = u"target=_blank>";
inline constexpr QStringView kDomainEnd = u"</a>";
// End of the first cell and start of the length cell.
inline constexpr QStringView kFirstCellEnd = u"</a></td><td>";
inline constexpr QStringView kCellBoundary = u"</td><td>";
inline constexpr QStringView kCellEnd = u"</td>";

// Every answer, of the search and the lookup alike, is complete once its text holds this.
inline constexpr QStringView kPageEnd = u"</html>";

} // namespace yuming::markers
