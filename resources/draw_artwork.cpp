// Draws the program's artwork into the folder given on the command line (normally resources/):
// the button skins, the panel title strips, the hand pointer and the program icon. Build it with
// -DYUMING_DRAW_ARTWORK=ON and run the `artwork` target, then look at the files and commit them.
//
// A skin is a strip of four equal frames side by side: normal, hover, pressed, disabled. Where a
// strip width does not divide by four (71 pixels), frame k starts at the rounded k * width / 4 and
// is as wide as the rounded quarter, which is how the button cuts it.

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// The window's palette.
const QColor Panel(241, 242, 244);
const QColor Edge(212, 213, 217);
const QColor TitleText(47, 91, 138);

enum class Look { Normal, Hover, Pressed, Disabled };

struct FrameColors {
    QColor fill;
    QColor border;
    QColor glyph;
    QColor accent; // a line along the top (a light rim, or a shadow when pressed)
};

FrameColors ColorsOf(Look look) {
    switch (look) {
    case Look::Normal:
        return {QColor(250, 251, 253), QColor(158, 176, 201), TitleText, QColor(255, 255, 255)};
    case Look::Hover:
        return {QColor(226, 237, 251), QColor(74, 125, 186), QColor(30, 88, 160), QColor(244, 249, 255)};
    case Look::Pressed:
        return {QColor(197, 216, 241), QColor(47, 91, 138), QColor(24, 66, 118), QColor(160, 184, 214)};
    case Look::Disabled:
        return {QColor(229, 230, 232), QColor(197, 198, 203), QColor(170, 171, 176), QColor(236, 237, 239)};
    }
    return {};
}

// One button face: a rounded rectangle on the panel colour, so the corners blend into the panel.
void DrawFace(QPainter& p, const QRectF& frame, Look look, double radius) {
    const FrameColors c = ColorsOf(look);
    p.fillRect(frame, Panel);
    const QRectF body = frame.adjusted(0.5, 0.5, -0.5, -0.5);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(c.border, 1));
    p.setBrush(c.fill);
    p.drawRoundedRect(body, radius, radius);
    p.setPen(QPen(c.accent, 1));
    p.drawLine(QPointF(body.left() + radius, body.top() + 1), QPointF(body.right() - radius, body.top() + 1));
    p.setRenderHint(QPainter::Antialiasing, false);
}

QRectF FrameRect(int k, int stripWidth, int height) {
    const int x = int(std::lround(k * stripWidth / 4.0));
    const int width = int(std::lround(stripWidth / 4.0));
    return QRectF(x, 0, width, height);
}

using Glyph = std::function<void(QPainter&, const QRectF&, const QColor&)>;

QImage DrawSkin(int width, int height, double radius, const Glyph& glyph = {}) {
    QImage strip(width, height, QImage::Format_RGB32);
    strip.fill(Panel);
    QPainter p(&strip);
    const Look looks[] = {Look::Normal, Look::Hover, Look::Pressed, Look::Disabled};
    for (int k = 0; k < 4; ++k) {
        QRectF frame = FrameRect(k, width, height);
        DrawFace(p, frame, looks[k], radius);
        if (!glyph) continue;
        // The pressed glyph moves with the caption: one pixel right and down.
        if (looks[k] == Look::Pressed) frame.translate(1, 1);
        glyph(p, frame, ColorsOf(looks[k]).glyph);
    }
    return strip;
}

void Triangle(QPainter& p, const QRectF& frame, const QColor& color, bool pointsLeft) {
    const QPointF c = frame.center();
    const double w = 3.5;
    const double h = 4.0;
    QPainterPath path;
    if (pointsLeft) {
        path.moveTo(c.x() - w / 2 - 0.5, c.y());
        path.lineTo(c.x() + w / 2 - 0.5, c.y() - h);
        path.lineTo(c.x() + w / 2 - 0.5, c.y() + h);
    } else {
        path.moveTo(c.x() + w / 2 + 0.5, c.y());
        path.lineTo(c.x() - w / 2 + 0.5, c.y() - h);
        path.lineTo(c.x() - w / 2 + 0.5, c.y() + h);
    }
    path.closeSubpath();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.fillPath(path, color);
    p.setRenderHint(QPainter::Antialiasing, false);
}

// A bent "go" arrow: down from the top, then to the left, as on an Enter key.
void JumpArrow(QPainter& p, const QRectF& frame, const QColor& color) {
    const QPointF c = frame.center();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(c.x() + 3.5, c.y() - 4.5);
    path.lineTo(c.x() + 3.5, c.y() + 1.5);
    path.lineTo(c.x() - 3.5, c.y() + 1.5);
    p.drawPath(path);
    QPainterPath head;
    head.moveTo(c.x() - 5, c.y() + 1.5);
    head.lineTo(c.x() - 1.5, c.y() - 1.5);
    head.lineTo(c.x() - 1.5, c.y() + 4.5);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.fillPath(head, color);
    p.setRenderHint(QPainter::Antialiasing, false);
}

// A panel's title strip: a flat band, a short accent bar before the title and a line below.
QImage DrawTitle(int width, int height) {
    QImage strip(width, height, QImage::Format_RGB32);
    strip.fill(QColor(233, 238, 245));
    QPainter p(&strip);
    p.fillRect(QRect(0, height - 1, width, 1), Edge);
    p.fillRect(QRect(0, 0, width, 1), QColor(250, 251, 253));
    p.fillRect(QRect(3, 8, 2, 12), TitleText);
    return strip;
}

QImage DrawHand() {
    QImage hand(32, 32, QImage::Format_ARGB32_Premultiplied);
    hand.fill(Qt::transparent);
    QPainter p(&hand);
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath shape;
    shape.setFillRule(Qt::WindingFill);
    shape.addRoundedRect(QRectF(9.5, 1.5, 5, 16), 2.5, 2.5);    // index finger
    shape.addRoundedRect(QRectF(14.5, 9.5, 4.5, 10), 2.2, 2.2); // middle finger
    shape.addRoundedRect(QRectF(19, 10.5, 4.5, 10), 2.2, 2.2);  // ring finger
    shape.addRoundedRect(QRectF(23.5, 12, 4, 9), 2, 2);         // little finger
    shape.addRoundedRect(QRectF(9.5, 15, 18, 13.5), 4, 4);      // palm
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(-2.5, -2.2, 11, 4.4), 2.2, 2.2);
    shape.addPath(QTransform().translate(7, 19).rotate(50).map(thumb));
    shape = shape.simplified();
    p.setPen(QPen(Qt::black, 1.1));
    p.setBrush(Qt::white);
    p.drawPath(shape);
    // Creases between the fingers.
    p.setPen(QPen(QColor(90, 90, 90), 0.8));
    p.drawLine(QPointF(14.5, 12), QPointF(14.5, 17));
    p.drawLine(QPointF(19, 13), QPointF(19, 17.5));
    p.drawLine(QPointF(23.5, 14), QPointF(23.5, 18));
    return hand;
}

// A blue tile with a white globe and an orange clock badge: domains that run out. The 16-pixel
// icon is drawn on the pixel grid of its own, with a plain dot for a badge, so it stays crisp.
QImage DrawSmallIcon() {
    QImage icon(16, 16, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(TitleText);
    p.drawRoundedRect(QRectF(0, 0, 16, 16), 3, 3);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 1));
    p.drawEllipse(QRectF(2.5, 2.5, 10, 10));
    p.drawEllipse(QRectF(5.5, 2.5, 4, 10));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.drawLine(3, 7, 12, 7);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(QColor(240, 140, 40));
    p.drawEllipse(QRectF(9.5, 9.5, 6, 6));
    return icon;
}

QImage DrawIcon(int size) {
    if (size <= 16) return DrawSmallIcon();
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing, true);
    const double s = size / 48.0;
    p.setPen(Qt::NoPen);
    p.setBrush(TitleText);
    p.drawRoundedRect(QRectF(1 * s, 1 * s, 46 * s, 46 * s), 9 * s, 9 * s);
    const QRectF globe(8 * s, 8 * s, 28 * s, 28 * s);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 2.6 * s));
    p.drawEllipse(globe);
    p.setPen(QPen(Qt::white, 2.0 * s));
    p.drawLine(QPointF(globe.left(), globe.center().y()), QPointF(globe.right(), globe.center().y()));
    p.drawEllipse(QRectF(globe.center().x() - 6.5 * s, globe.top(), 13 * s, globe.height()));
    p.drawLine(QPointF(globe.left() + 3 * s, globe.top() + 7.5 * s),
               QPointF(globe.right() - 3 * s, globe.top() + 7.5 * s));
    p.drawLine(QPointF(globe.left() + 3 * s, globe.bottom() - 7.5 * s),
               QPointF(globe.right() - 3 * s, globe.bottom() - 7.5 * s));
    const QRectF badge(29 * s, 29 * s, 17 * s, 17 * s);
    p.setPen(QPen(Qt::white, 1.6 * s));
    p.setBrush(QColor(240, 140, 40));
    p.drawEllipse(badge);
    p.setPen(QPen(Qt::white, 1.8 * s, Qt::SolidLine, Qt::RoundCap));
    const QPointF c = badge.center();
    p.drawLine(c, QPointF(c.x(), c.y() - 5 * s));
    p.drawLine(c, QPointF(c.x() + 4 * s, c.y()));
    return icon;
}

bool Save(const QImage& image, const QString& path) {
    if (image.save(path)) return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_artwork <resources folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("skins")) || !out.mkpath(QStringLiteral("art"))) {
        std::fprintf(stderr, "cannot create the folders under %s\n", argv[1]);
        return 1;
    }
    const auto left = [](QPainter& p, const QRectF& f, const QColor& c) { Triangle(p, f, c, true); };
    const auto right = [](QPainter& p, const QRectF& f, const QColor& c) { Triangle(p, f, c, false); };
    bool ok = true;
    ok &= Save(DrawSkin(400, 27, 4), out.filePath(QStringLiteral("skins/query.bmp")));
    ok &= Save(DrawSkin(564, 27, 4), out.filePath(QStringLiteral("skins/expiring.bmp")));
    ok &= Save(DrawSkin(132, 14, 3, left), out.filePath(QStringLiteral("skins/previous.bmp")));
    ok &= Save(DrawSkin(132, 14, 3, right), out.filePath(QStringLiteral("skins/next.bmp")));
    ok &= Save(DrawSkin(71, 18, 3, JumpArrow), out.filePath(QStringLiteral("skins/jump.bmp")));
    ok &= Save(DrawTitle(272, 27), out.filePath(QStringLiteral("art/title_272.bmp")));
    ok &= Save(DrawTitle(547, 27), out.filePath(QStringLiteral("art/title_547.bmp")));
    ok &= Save(DrawHand(), out.filePath(QStringLiteral("art/hand.png")));
    for (const int size : {16, 32, 48})
        ok &= Save(DrawIcon(size), out.filePath(QStringLiteral("art/icon_%1.png").arg(size)));
    return ok ? 0 : 1;
}
