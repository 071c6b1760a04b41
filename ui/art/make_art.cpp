// Draws the wizard's pictures and icons into PNG files:
//   velumar_make_art OUTPUT_DIR
// The results are committed under ui/art; rerun this after changing it.
//
// bitmap141 is the welcome page's picture of the measurement idea: a clean
// reference waveform and its degraded copy out of the device under test,
// both feeding a comparison that yields a grade.
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QImage>
#include <QDir>

#include <cmath>
#include <cstdio>

namespace {

const QColor kInk(0x2f, 0x3b, 0x4a);
const QColor kReference(0x3d, 0x7e, 0x8c);   // muted teal
const QColor kDegraded(0xc0, 0x7a, 0x4f);    // muted terracotta
const QColor kPanel(0xf4, 0xf1, 0xea);

double CleanWave(double t)
{
    return 0.62 * std::sin(2 * M_PI * 1.5 * t) + 0.28 * std::sin(2 * M_PI * 3.5 * t + 0.6);
}

// The same wave, band-limited and with a little coarse noise and clipping.
double DegradedWave(double t)
{
    double v = 0.62 * std::sin(2 * M_PI * 1.5 * t) + 0.16 * std::sin(2 * M_PI * 3.5 * t + 0.9);
    v += 0.09 * std::sin(2 * M_PI * 23.0 * t) * std::sin(2 * M_PI * 2.1 * t);
    return std::clamp(v * 1.15, -0.7, 0.7);
}

void DrawWave(QPainter &p, const QRectF &r, double (*wave)(double), const QColor &colour, double width)
{
    QPainterPath path;
    const int n = 240;
    for (int i = 0; i <= n; ++i) {
        const double t = static_cast<double>(i) / n;
        const QPointF pt(r.left() + t * r.width(), r.center().y() - wave(t) * r.height() / 2);
        if (i == 0) path.moveTo(pt); else path.lineTo(pt);
    }
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

void Card(QPainter &p, const QRectF &r, double radius)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 28));
    p.drawRoundedRect(r.translated(0, radius * 0.25), radius, radius);
    p.setBrush(kPanel);
    p.setPen(QPen(QColor(0xd6, 0xd0, 0xc4), radius * 0.12));
    p.drawRoundedRect(r, radius, radius);
}

void ArrowDown(QPainter &p, QPointF from, QPointF to, double w)
{
    const QColor light(0xd6, 0xdd, 0xe4);
    p.setPen(QPen(light, w, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to - QPointF(0, w * 2));
    QPainterPath head;
    head.moveTo(to);
    head.lineTo(to + QPointF(-w * 2.4, -w * 3.6));
    head.lineTo(to + QPointF(w * 2.4, -w * 3.6));
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(light);
    p.drawPath(head);
}

QImage Bitmap141(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, h);
    bg.setColorAt(0, QColor(0x5d, 0x6f, 0x80));
    bg.setColorAt(1, QColor(0x2e, 0x3b, 0x49));
    p.fillRect(img.rect(), bg);

    const double u = w / 100.0;  // one hundredth of the width
    const double m = 9 * u;
    const double gap = 10 * u;
    const QRectF ref_card(m + 3 * u, 6 * u, w - 2 * m - 3 * u, 24 * u);
    const QRectF dut_card(w * 0.26, ref_card.bottom() + gap, w * 0.52, 15 * u);
    const QRectF deg_card(m + 3 * u, dut_card.bottom() + gap, w - 2 * m - 3 * u, 24 * u);
    const QRectF cmp_card(m + 3 * u, deg_card.bottom() + gap, w - 2 * m - 3 * u, h - deg_card.bottom() - gap - 6 * u);

    // Reference signal.
    Card(p, ref_card, 5 * u);
    DrawWave(p, ref_card.adjusted(6 * u, 5 * u, -6 * u, -5 * u), CleanWave, kReference, 2.2 * u);

    // Into the device under test.
    ArrowDown(p, {w * 0.5, ref_card.bottom() + 2 * u}, {w * 0.5, dut_card.top() - 2 * u}, 1.6 * u);
    p.setPen(QPen(QColor(0xe8, 0xe2, 0xd6), 0.8 * u));
    p.setBrush(QColor(0x8a, 0x9b, 0xab));
    p.drawRoundedRect(dut_card, 4 * u, 4 * u);
    // A stylised codec: a box with a little block staircase inside.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf4, 0xf1, 0xea));
    for (int i = 0; i < 6; ++i) {
        const double bh = (2.5 + (i * 7) % 5 * 1.6) * u;
        p.drawRect(QRectF(dut_card.left() + (8 + i * 6.4) * u, dut_card.center().y() + 4.5 * u - bh, 4.2 * u, bh));
    }

    // Signal under test.
    ArrowDown(p, {w * 0.5, dut_card.bottom() + 2 * u}, {w * 0.5, deg_card.top() - 2 * u}, 1.6 * u);
    Card(p, deg_card, 5 * u);
    DrawWave(p, deg_card.adjusted(6 * u, 5 * u, -6 * u, -5 * u), DegradedWave, kDegraded, 2.2 * u);

    // The reference also bypasses the device, down the left edge.
    const double lane = m * 0.6;
    p.setPen(QPen(QColor(0xd6, 0xdd, 0xe4), 1.2 * u, Qt::DashLine, Qt::RoundCap));
    p.drawLine(QPointF(lane, ref_card.center().y()), QPointF(lane, cmp_card.top() + 12 * u));
    p.drawLine(QPointF(lane, ref_card.center().y()), QPointF(ref_card.left(), ref_card.center().y()));
    p.drawLine(QPointF(lane, cmp_card.top() + 12 * u), QPointF(cmp_card.left() - 2 * u, cmp_card.top() + 12 * u));

    // Comparison: both waves overlaid, and a gauge reading the grade.
    ArrowDown(p, {w * 0.5, deg_card.bottom() + 2 * u}, {w * 0.5, cmp_card.top() - 2 * u}, 1.6 * u);
    Card(p, cmp_card, 5 * u);
    const QRectF overlay(cmp_card.left() + 6 * u, cmp_card.top() + 4 * u, cmp_card.width() - 12 * u, 17 * u);
    DrawWave(p, overlay, CleanWave, kReference, 1.6 * u);
    DrawWave(p, overlay, DegradedWave, kDegraded, 1.6 * u);

    // Gauge: a half ring from red through amber to green, needle near the top.
    const QPointF centre(cmp_card.center().x(), cmp_card.bottom() - 6 * u);
    const double radius = std::clamp((centre.y() - overlay.bottom()) - 5 * u, 8 * u, cmp_card.width() * 0.36);
    const QRectF ring(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    const QColor bands[5] = {QColor(0xb8, 0x5c, 0x4f), QColor(0xcc, 0x8a, 0x52), QColor(0xd4, 0xb2, 0x5e),
                             QColor(0x9a, 0xb0, 0x6a), QColor(0x5f, 0x9a, 0x72)};
    for (int i = 0; i < 5; ++i) {
        p.setPen(QPen(bands[i], 4 * u, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(ring, (180 - 36 * i) * 16, -36 * 16);
    }
    const double angle = M_PI * (1.0 - 0.78);
    const QPointF tip(centre.x() + std::cos(angle) * radius * 0.9, centre.y() - std::sin(angle) * radius * 0.9);
    p.setPen(QPen(kInk, 1.6 * u, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, tip);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(centre, 2.6 * u, 2.6 * u);
    return img;
}

QImage AppIcon(int s)
{
    QImage img(s, s, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double u = s / 32.0;
    QLinearGradient bg(0, 0, 0, s);
    bg.setColorAt(0, QColor(0x5d, 0x6f, 0x80));
    bg.setColorAt(1, QColor(0x2e, 0x3b, 0x49));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(1 * u, 1 * u, 30 * u, 30 * u), 6 * u, 6 * u);
    DrawWave(p, QRectF(4 * u, 5 * u, 24 * u, 11 * u), CleanWave, QColor(0x9f, 0xd3, 0xdc), 2.0 * u);
    DrawWave(p, QRectF(4 * u, 15 * u, 24 * u, 11 * u), DegradedWave, QColor(0xe8, 0xa8, 0x7c), 2.0 * u);
    return img;
}

QImage SchemeIcon(int s)
{
    QImage img(s, s, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double u = s / 16.0;
    p.setPen(QPen(kInk, 1.0 * u));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1.5 * u, 5.5 * u, 5 * u, 4 * u));
    p.drawRect(QRectF(9.5 * u, 2.5 * u, 5 * u, 11 * u));
    p.drawLine(QPointF(6.5 * u, 7.5 * u), QPointF(9.5 * u, 7.5 * u));
    p.drawLine(QPointF(0.5 * u, 11.5 * u), QPointF(9.5 * u, 11.5 * u));
    return img;
}

QImage MenuIcon(int s)
{
    QImage img(s, s, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double u = s / 16.0;
    // Three list lines and a small drop-down triangle: "pick a preset".
    p.setPen(QPen(kInk, 1.2 * u, Qt::SolidLine, Qt::FlatCap));
    for (int i = 0; i < 3; ++i) p.drawLine(QPointF(2 * u, (3.5 + 3 * i) * u), QPointF(9 * u, (3.5 + 3 * i) * u));
    QPainterPath tri;
    tri.moveTo(10.5 * u, 8 * u);
    tri.lineTo(15 * u, 8 * u);
    tri.lineTo(12.75 * u, 11 * u);
    tri.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPath(tri);
    return img;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    bool ok = Bitmap141(448, 690).save(dir.filePath(QStringLiteral("bitmap141.png")));
    ok = AppIcon(64).save(dir.filePath(QStringLiteral("icon128.png"))) && ok;
    ok = SchemeIcon(32).save(dir.filePath(QStringLiteral("icon144.png"))) && ok;
    ok = MenuIcon(32).save(dir.filePath(QStringLiteral("icon150.png"))) && ok;
    if (!ok) std::fprintf(stderr, "cannot write into %s\n", argv[1]);
    return ok ? 0 : 1;
}
