#include "scheme_wnd.h"

#include "message_box.h"
#include <velumar/text/texts.h>

#include <QFontMetrics>
#include <QIcon>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QResizeEvent>

#include <algorithm>

namespace velumar::ui {

CSchemeWnd *g_pSchemeWnd = nullptr;

namespace {

constexpr int kLogicalWidth = 640;
constexpr int kLogicalHeight = 160;
const QColor kFieldColour(200, 200, 200);

// The label font: bold Arial with a character cell `cell` pixels high (the
// height a font request in logical units asks for), found by scaling a
// reference size, since a pixel size names the em square only.
QFont LabelFont(double cell)
{
    QFont font(QStringLiteral("Arial"));
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setWeight(QFont::Bold);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(100);
    const double per_pixel = QFontMetricsF(font).height() / 100.0;
    font.setPixelSize(std::max(1, static_cast<int>(cell / per_pixel + 0.5)));
    return font;
}

} // namespace

SchemeMapping ComputeSchemeMapping(int cx, int cy)
{
    SchemeMapping m;
    if (cx <= 0 || cy <= 0) return m;
    m.scale = std::min(static_cast<double>(cx) / kLogicalWidth, static_cast<double>(cy) / kLogicalHeight);
    if (cx / cy >= 4)
        m.origin = QPoint((cx - 4 * cy) / 2, cy);
    else
        m.origin = QPoint(0, static_cast<int>(cx / 8 + cy * 0.5));
    return m;
}

CSchemeWnd::CSchemeWnd(QWidget *owner) : QWidget(owner, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("CSchemeWnd"));
    setWindowTitle(Text(text::IDS_SCHEME_TITLE));
    setWindowIcon(QIcon(QStringLiteral(":/velumar/icon144.png")));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setMinimumSize(640, 160);
    // The whole client area is painted on every resize.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_StaticContents, false);

    const unsigned ids[10] = {text::IDS_SCHEME_DEVICE,   text::IDS_SCHEME_METHOD_1, text::IDS_SCHEME_METHOD_2,
                              text::IDS_SCHEME_METHOD_3, text::IDS_SCHEME_REF_1,    text::IDS_SCHEME_REF_2,
                              text::IDS_SCHEME_TEST_1,   text::IDS_SCHEME_TEST_2,   text::IDS_SCHEME_GRADE_1,
                              text::IDS_SCHEME_GRADE_2};
    for (int i = 0; i < 10; ++i) m_strLabels[i] = Text(ids[i]);
    // top, bottom, right, left
    m_rcDevice = {110, 70, 300, 100};
    m_rcMethod = {120, 10, 520, 410};
    m_rcRefLabel = {140, 100, 90, 20};
    m_rcTestLabel = {140, 100, 400, 300};
    m_rcGradeLabel = {140, 100, 630, 520};
    resize(720, 240);
}

CSchemeWnd::~CSchemeWnd()
{
    if (g_pSchemeWnd == this) g_pSchemeWnd = nullptr;
}

void CSchemeWnd::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_cxClient = event->size().width();
    m_cyClient = event->size().height();
}

void CSchemeWnd::paintEvent(QPaintEvent *)
{
    if (isMinimized()) return;
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, m_cxClient, m_cyClient), kFieldColour);

    const SchemeMapping m = ComputeSchemeMapping(m_cxClient, m_cyClient);
    if (m.scale <= 0.0) return;
    painter.setRenderHint(QPainter::Antialiasing);

    // Boxes and lines are drawn in logical units through the mapping, so
    // the 2-unit pens scale with the picture.
    painter.save();
    painter.translate(m.origin);
    painter.scale(m.scale, -m.scale);
    QPen pen(Qt::black, m_nPenWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::white);
    for (const SchemeBox &b : {m_rcDevice, m_rcMethod})
        painter.drawRect(QRectF(b.left, b.bottom, b.right - b.left, b.top - b.bottom));
    painter.setBrush(Qt::NoBrush);
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    auto arrow = [&painter](int x0, int y0, int x1, int y1) {
        // A horizontal line and a head of two 15-unit strokes back from the
        // tip, 3 units above and below it.
        painter.drawLine(x0, y0, x1, y1);
        painter.drawLine(x1, y1, x1 - 15, y1 + 3);
        painter.drawLine(x1, y1, x1 - 15, y1 - 3);
    };
    arrow(0, 90, 100, 90);
    arrow(60, 30, 410, 30);
    arrow(300, 90, 410, 90);
    arrow(520, 60, 630, 60);
    painter.drawLine(60, 90, 60, 30);
    painter.restore();

    // Texts: positions are worked out in whole logical units from the
    // label extents, then drawn in device pixels with an opaque background.
    const QFont font = LabelFont(m_nFontHeight * m.scale);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(font);
    auto draw = [&](const QString &s, int x, int y, const QColor &background) {
        const QPointF top_left = m.map(x, y);
        const QRect r(top_left.toPoint(), QSize(metrics.horizontalAdvance(s), metrics.height()));
        painter.fillRect(r, background);
        painter.drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, s);
    };
    auto extent = [&](const QString &s) {
        return QSize(static_cast<int>(metrics.horizontalAdvance(s) / m.scale + 0.5),
                     static_cast<int>(metrics.height() / m.scale + 0.5));
    };

    // String 0 centred in the device box.
    {
        const QSize e = extent(m_strLabels[0]);
        const SchemeBox &b = m_rcDevice;
        draw(m_strLabels[0], b.left + (b.right - b.left - e.width()) / 2,
             b.top - (b.top - b.bottom - e.height()) / 2, Qt::white);
    }
    // Strings 1..3: three lines centred in the method box.
    {
        const SchemeBox &b = m_rcMethod;
        const int h = extent(m_strLabels[1]).height();
        const int first = b.top - (b.top - b.bottom - 3 * h) / 2;
        for (int i = 0; i < 3; ++i) {
            const QSize e = extent(m_strLabels[1 + i]);
            draw(m_strLabels[1 + i], b.left + (b.right - b.left - e.width()) / 2, first - i * h, Qt::white);
        }
    }
    // The three two-line labels on the grey field: the first line centred
    // in its box, the second one line lower.
    const SchemeBox *boxes[3] = {&m_rcRefLabel, &m_rcTestLabel, &m_rcGradeLabel};
    for (int k = 0; k < 3; ++k) {
        const SchemeBox &b = *boxes[k];
        const QString &first = m_strLabels[4 + 2 * k];
        const QString &second = m_strLabels[5 + 2 * k];
        const QSize e1 = extent(first);
        const int y = b.top - (b.top - b.bottom - e1.height()) / 2;
        draw(first, b.left + (b.right - b.left - e1.width()) / 2, y, kFieldColour);
        const QSize e2 = extent(second);
        draw(second, b.left + (b.right - b.left - e2.width()) / 2, y - e1.height(), kFieldColour);
    }
}

void ShowSchemeWindow(QWidget *owner)
{
    if (!g_pSchemeWnd) g_pSchemeWnd = new CSchemeWnd(owner);
    const bool was_visible = g_pSchemeWnd->isVisible();
    g_pSchemeWnd->showNormal();
    if (was_visible) {
        g_pSchemeWnd->raise();
        g_pSchemeWnd->activateWindow();
    }
}

} // namespace velumar::ui
