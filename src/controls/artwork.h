#pragma once

#include <QCursor>
#include <QIcon>
#include <QPoint>

// The program's artwork, compiled in as Qt resources (drawn by resources/draw_artwork.cpp).
namespace Artwork {

inline constexpr char SkinQuery[] = ":/skins/query.bmp";       // 400 x 27, four frames
inline constexpr char SkinExpiring[] = ":/skins/expiring.bmp"; // 564 x 27, four frames
inline constexpr char SkinPrevious[] = ":/skins/previous.bmp"; // 132 x 14, four frames
inline constexpr char SkinNext[] = ":/skins/next.bmp";         // 132 x 14, four frames
inline constexpr char SkinJump[] = ":/skins/jump.bmp";         // 71 x 18, four frames
inline constexpr char TitleNarrow[] = ":/art/title_272.bmp";   // 272 x 27, title strip of Box1
inline constexpr char TitleWide[] = ":/art/title_547.bmp";     // 547 x 27, title strip of Box2/Box3
inline constexpr char Hand[] = ":/art/hand.png";               // 32 x 32 pointer
inline constexpr QPoint HandHotSpot{12, 2};                    // tip of the index finger
inline constexpr char Icon16[] = ":/art/icon_16.png";
inline constexpr char Icon32[] = ":/art/icon_32.png";
inline constexpr char Icon48[] = ":/art/icon_48.png";

// The pointer shown over links and the skinned buttons.
QCursor HandCursor();
// The program's icon at 16, 32 and 48 pixels.
QIcon ProgramIcon();

} // namespace Artwork
