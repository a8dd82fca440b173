#include "Artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <array>
#include <functional>

namespace spindle::gui {

namespace {

// Palette shared by every picture.
const QColor kOutline(0x3b, 0x46, 0x52);
const QColor kBodyLight(0xe9, 0xec, 0xf0);
const QColor kMetal(0x8a, 0x94, 0x9e);
const QColor kWhite(0xff, 0xff, 0xff);

// Family accents of the instrument pictures.
const QColor kKestrelBlue(0x2b, 0x7d, 0xe9);
const QColor kHeronTeal(0x16, 0xa3, 0x92);
const QColor kOspreyOrange(0xef, 0x7d, 0x1a);
const QColor kCondorPurple(0x8e, 0x44, 0xad);
const QColor kMerlinRed(0xd0, 0x35, 0x2f);
const QColor kIbisGreen(0x3f, 0x9c, 0x35);
const QColor kFalconGold(0xc9, 0xa0, 0x00);
const QColor kWrenBrown(0x8d, 0x6e, 0x63);
const QColor kFinchPink(0xe0, 0x52, 0x9c);

const std::array<QColor, 6> kSpectrum = {QColor(0x7b, 0x3f, 0xd1), QColor(0x2f, 0x6f, 0xe8), QColor(0x2e, 0xb8, 0x4a),
                                         QColor(0xf2, 0xd0, 0x1c), QColor(0xf2, 0x8a, 0x1c), QColor(0xe0, 0x2f, 0x2f)};

constexpr std::array<int, 7> kSizes = {16, 20, 24, 32, 40, 48, 64};

using Drawing = std::function<void(QPainter&)>;

// Grid helpers: coordinates are units of the 16 x 16 grid.
void Fill(QPainter& p, qreal x, qreal y, qreal w, qreal h, const QColor& c) { p.fillRect(QRectF(x, y, w, h), c); }

// A filled box with a one-unit outline, drawn as two fills so the edges stay
// on whole pixels.
void Box(QPainter& p, qreal x, qreal y, qreal w, qreal h, const QColor& fill, const QColor& outline = kOutline) {
    Fill(p, x, y, w, h, outline);
    Fill(p, x + 1, y + 1, w - 2, h - 2, fill);
}

void Antialiased(QPainter& p, const std::function<void()>& draw) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    draw();
    p.restore();
}

// A spectrometer: a case with a fibre port on the left, the family's accent
// band, a spectrum window and a status lamp; `plus` adds the "+" badge of the
// second-generation models.
void Instrument(QPainter& p, const QColor& accent, bool plus) {
    Box(p, 0, 7, 3, 3, kMetal);
    Box(p, 2, 4, 14, 10, kBodyLight);
    Fill(p, 3, 5, 12, 2, accent);
    Fill(p, 4, 9, 6, 3, kOutline);
    for (int i = 0; i < 6; ++i) Fill(p, 4 + i, 10, 1, 1, kSpectrum[static_cast<std::size_t>(i)]);
    Fill(p, 4, 9, 6, 1, QColor(0x56, 0x62, 0x70));
    Fill(p, 12, 10, 2, 2, accent);
    if (plus) {
        Box(p, 9, 0, 7, 7, accent);
        Fill(p, 12, 1, 1, 5, kWhite);
        Fill(p, 10, 3, 5, 1, kWhite);
    }
}

void Computer(QPainter& p) {
    Box(p, 0, 1, 16, 11, QColor(0xd5, 0xdb, 0xe1));
    Fill(p, 2, 3, 12, 7, QColor(0x3f, 0x84, 0xd8));
    Fill(p, 2, 3, 12, 2, QColor(0x6f, 0xa9, 0xf0));
    Fill(p, 6, 12, 4, 2, kMetal);
    Box(p, 3, 13, 10, 3, QColor(0xc2, 0xc9, 0xd0));
}

void Folder(QPainter& p) {
    const QColor edge(0x9a, 0x74, 0x16);
    Box(p, 0, 2, 7, 4, QColor(0xf0, 0xbb, 0x3c), edge);
    Box(p, 0, 4, 16, 11, QColor(0xf7, 0xd2, 0x67), edge);
    Fill(p, 1, 5, 14, 1, QColor(0xfb, 0xe6, 0xa6));
}

// The unprogrammed EZ-USB chip: a package with three pins on every side.
void Chip(QPainter& p, const QColor& body, const QColor& pins) {
    for (int i = 0; i < 3; ++i) {
        const int at = 4 + 3 * i;
        Fill(p, 0, at, 3, 2, pins);
        Fill(p, 13, at, 3, 2, pins);
        Fill(p, at, 0, 2, 3, pins);
        Fill(p, at, 13, 2, 3, pins);
    }
    Box(p, 2, 2, 12, 12, body, QColor(0x1f, 0x23, 0x28));
    Fill(p, 4, 4, 2, 2, body.lighter(170));
}

// A light bulb on a screw base (the Lantern light source).
void Bulb(QPainter& p, const QColor& glass) {
    Antialiased(p, [&] {
        p.setPen(QPen(QColor(0x8a, 0x6a, 0x0a), 1.0));
        p.setBrush(glass);
        QPainterPath path;
        path.addEllipse(QRectF(2.5, 0.5, 11, 11));
        p.drawPath(path);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 200));
        p.drawEllipse(QRectF(5, 3, 3, 3));
    });
    Box(p, 5, 10, 6, 6, QColor(0xb8, 0xbf, 0xc6));
    Fill(p, 6, 12, 4, 1, kMetal);
    Fill(p, 6, 14, 4, 1, kMetal);
}

void Barcode(QPainter& p) {
    Box(p, 0, 2, 16, 12, kWhite);
    for (int x : {2, 3, 5, 7, 8, 10, 12, 13}) Fill(p, x, 4, 1, 8, QColor(0x1f, 0x23, 0x28));
}

void Spectrum(QPainter& p) {
    Box(p, 0, 3, 16, 10, kOutline);
    for (int i = 0; i < 6; ++i) {
        Fill(p, 1 + 14.0 * i / 6.0, 4, 14.0 / 6.0 + 0.01, 8, kSpectrum[static_cast<std::size_t>(i)]);
    }
}

void StrayLight(QPainter& p) {
    Box(p, 0, 0, 16, 16, QColor(0x2b, 0x34, 0x40));
    const QColor beam(0xff, 0xe2, 0x7a);
    Antialiased(p, [&] {
        p.setPen(QPen(beam, 2.0, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(2, 14), QPointF(14, 2));
    });
    for (auto [x, y] : std::array<std::pair<int, int>, 5>{{{3, 3}, {10, 11}, {12, 7}, {5, 9}, {7, 2}}}) {
        Fill(p, x, y, 1, 1, beam);
    }
}

void Curve(QPainter& p) {
    Fill(p, 1, 1, 2, 14, kOutline);
    Fill(p, 1, 13, 14, 2, kOutline);
    Antialiased(p, [&] {
        p.setPen(QPen(kMerlinRed, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        QPainterPath path(QPointF(4, 11.5));
        path.cubicTo(QPointF(9, 11.5), QPointF(12, 8), QPointF(14.5, 2));
        p.drawPath(path);
    });
}

void Document(QPainter& p) {
    Box(p, 2, 0, 12, 16, kWhite);
    Fill(p, 10, 0, 4, 4, kOutline);
    Fill(p, 10, 1, 3, 3, QColor(0xd5, 0xdb, 0xe1));
    const QColor line(0x5f, 0x86, 0xb8);
    Fill(p, 4, 5, 8, 1, line);
    Fill(p, 4, 8, 8, 1, line);
    Fill(p, 4, 11, 5, 1, line);
}

void ChannelMask(QPainter& p) {
    const bool on[3][3] = {{true, false, true}, {true, true, false}, {false, true, true}};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            Box(p, 1 + 5 * col, 1 + 5 * row, 4, 4, on[row][col] ? kHeronTeal : kWhite);
        }
    }
}

void Padlock(QPainter& p) {
    Antialiased(p, [&] {
        p.setPen(QPen(QColor(0x5b, 0x65, 0x70), 2.0));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(4, 1, 8, 10), 0, 180 * 16);
    });
    Fill(p, 4, 5, 2, 3, QColor(0x5b, 0x65, 0x70));
    Fill(p, 10, 5, 2, 3, QColor(0x5b, 0x65, 0x70));
    Box(p, 2, 7, 12, 9, QColor(0xe0, 0xb8, 0x2a), QColor(0x7a, 0x60, 0x00));
    Fill(p, 7, 10, 2, 3, kOutline);
}

void Application(QPainter& p) {
    Antialiased(p, [&] {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1c, 0x2a, 0x3a));
        p.drawRoundedRect(QRectF(0, 0, 16, 16), 3, 3);
        p.setPen(QPen(kWhite, 1.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(1.5, 10.5), QPointF(6.8, 8.6));
        const std::array<QColor, 3> fan = {kSpectrum[5], kSpectrum[2], kSpectrum[1]};
        for (std::size_t i = 0; i < fan.size(); ++i) {
            p.setPen(QPen(fan[i], 1.3, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(9.5, 8.2), QPointF(14.8, 4.8 + 2.6 * static_cast<qreal>(i)));
        }
        QPainterPath prism;
        prism.moveTo(8, 2.5);
        prism.lineTo(12.5, 12.5);
        prism.lineTo(3.5, 12.5);
        prism.closeSubpath();
        p.setPen(QPen(kWhite, 1.0));
        p.setBrush(QColor(0xcf, 0xe3, 0xf5, 150));
        p.drawPath(prism);
    });
}

Drawing TreeDrawing(int index) {
    switch (index) {
        case 0: return Computer;
        case 1: return Folder;
        case 2: return [](QPainter& p) { Instrument(p, kKestrelBlue, false); };
        case 3: return [](QPainter& p) { Instrument(p, kHeronTeal, false); };
        case 4: return [](QPainter& p) { Instrument(p, kOspreyOrange, false); };
        case 5: return [](QPainter& p) { Instrument(p, kOspreyOrange, true); };
        case 6: return [](QPainter& p) { Instrument(p, kCondorPurple, false); };
        case 7: return [](QPainter& p) { Bulb(p, QColor(0xff, 0xd8, 0x4d)); };
        case 8: return [](QPainter& p) { Instrument(p, kMetal, false); };
        case 9:
        case 13: return [](QPainter& p) { Chip(p, QColor(0x3a, 0x3f, 0x46), QColor(0xb0, 0xb7, 0xbf)); };
        case 10: return [](QPainter& p) { Instrument(p, kMerlinRed, false); };
        case 11: return [](QPainter& p) { Instrument(p, kIbisGreen, false); };
        case 12: return [](QPainter& p) { Instrument(p, kFalconGold, false); };
        case 14: return [](QPainter& p) { Instrument(p, kWrenBrown, false); };
        case 15: return [](QPainter& p) { Instrument(p, kKestrelBlue, true); };
        case 16: return [](QPainter& p) { Instrument(p, kFinchPink, false); };
        default: return {};
    }
}

Drawing ListDrawing(int index) {
    switch (index) {
        case 0: return [](QPainter& p) { Chip(p, QColor(0x2e, 0x7d, 0x32), QColor(0xd4, 0xaf, 0x37)); };
        case 1: return Barcode;
        case 2: return Spectrum;
        case 3: return StrayLight;
        case 4: return Curve;
        case 5: return Document;
        case 6: return [](QPainter& p) { Bulb(p, QColor(0xff, 0xb3, 0x47)); };
        case 7: return [](QPainter& p) { Bulb(p, QColor(0xa8, 0xd8, 0xff)); };
        case 8: return ChannelMask;
        case 9: return Padlock;
        default: return {};
    }
}

QImage Render(const Drawing& drawing, int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (!drawing) return image;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.scale(pixels / 16.0, pixels / 16.0);
    drawing(painter);
    return image;
}

QIcon MakeIcon(const Drawing& drawing) {
    QIcon icon;
    for (int size : kSizes) icon.addPixmap(QPixmap::fromImage(Render(drawing, size)));
    return icon;
}

template <std::size_t N>
QIcon Cached(std::array<QIcon, N>& cache, int index, Drawing (*drawingOf)(int)) {
    if (index < 0 || static_cast<std::size_t>(index) >= N) return {};
    QIcon& icon = cache[static_cast<std::size_t>(index)];
    if (icon.isNull()) icon = MakeIcon(drawingOf(index));
    return icon;
}

}  // namespace

QIcon TreeImage(int index) {
    static std::array<QIcon, kTreeImageCount> cache;
    return Cached(cache, index, TreeDrawing);
}

QIcon ListImage(int index) {
    static std::array<QIcon, kListImageCount> cache;
    return Cached(cache, index, ListDrawing);
}

QIcon ApplicationIcon() {
    static QIcon icon;
    if (icon.isNull()) icon = MakeIcon(Application);
    return icon;
}

QImage RenderTreeImage(int index, int pixels) { return Render(TreeDrawing(index), pixels); }
QImage RenderListImage(int index, int pixels) { return Render(ListDrawing(index), pixels); }
QImage RenderApplicationIcon(int pixels) { return Render(Application, pixels); }

}  // namespace spindle::gui
