#include "scheme_wnd.h"

#include "fonts.h"
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

} // namespace

// The cell height is what a font request in logical units asks for; a
// pixel size names the em square only, so a reference size is scaled.
QFont SchemeLabelFont(double cell)
{
    InstallFontSubstitutions();
    QFont font(QString::fromLatin1(kDiagramFamily));
    font.setWeight(QFont::Bold);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(100);
    const double per_pixel = QFontMetricsF(font).height() / 100.0;
    font.setPixelSize(std::max(1, static_cast<int>(cell / per_pixel + 0.5)));
    return font;
}

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
    m_rcDevice = kDeviceBox;
    m_rcMethod = kMethodBox;
    m_rcRefLabel = kRefLabelBox;
    m_rcTestLabel = kTestLabelBox;
    m_rcGradeLabel = kGradeLabelBox;
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

    // Texts, drawn in device pixels with an opaque background behind each.
    const QFont font = SchemeLabelFont(m_nFontHeight * m.scale);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(font);
    const std::array<SchemeLabel, 10> places = LabelLayout(m.scale);
    for (int i = 0; i < 10; ++i) {
        const SchemeLabel &p = places[static_cast<std::size_t>(i)];
        // The labels of the two boxes lie on white, the others on the field.
        const QColor background = i < 4 ? QColor(Qt::white) : kFieldColour;
        const QRect text(m.map(p.x, p.y).toPoint(),
                         QSize(metrics.horizontalAdvance(m_strLabels[i]), metrics.height()));
        painter.fillRect(text, background);
        painter.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, m_strLabels[i]);
    }
}

std::array<SchemeLabel, 10> CSchemeWnd::LabelLayout(double scale) const
{
    std::array<SchemeLabel, 10> places{};
    if (!(scale > 0.0)) return places;
    // Positions are worked out in whole logical units from the extents.
    const QFontMetrics metrics(SchemeLabelFont(m_nFontHeight * scale));
    auto place = [&](int i, int x, int y, QSize e) {
        places[static_cast<std::size_t>(i)] = {x, y, e.width(), e.height()};
    };
    auto extent = [&](const QString &s) {
        return QSize(static_cast<int>(metrics.horizontalAdvance(s) / scale + 0.5),
                     static_cast<int>(metrics.height() / scale + 0.5));
    };

    // String 0 centred in the device box.
    {
        const QSize e = extent(m_strLabels[0]);
        const SchemeBox &b = m_rcDevice;
        place(0, b.left + (b.right - b.left - e.width()) / 2, b.top - (b.top - b.bottom - e.height()) / 2, e);
    }
    // Strings 1..3: three lines centred in the method box.
    {
        const SchemeBox &b = m_rcMethod;
        const int h = extent(m_strLabels[1]).height();
        const int first = b.top - (b.top - b.bottom - 3 * h) / 2;
        for (int i = 0; i < 3; ++i) {
            const QSize e = extent(m_strLabels[1 + i]);
            place(1 + i, b.left + (b.right - b.left - e.width()) / 2, first - i * h, e);
        }
    }
    // The three two-line labels: the first line centred in its box, the
    // second one line lower.
    const SchemeBox *boxes[3] = {&m_rcRefLabel, &m_rcTestLabel, &m_rcGradeLabel};
    for (int k = 0; k < 3; ++k) {
        const SchemeBox &b = *boxes[k];
        const QSize e1 = extent(m_strLabels[4 + 2 * k]);
        const int y = b.top - (b.top - b.bottom - e1.height()) / 2;
        place(4 + 2 * k, b.left + (b.right - b.left - e1.width()) / 2, y, e1);
        const QSize e2 = extent(m_strLabels[5 + 2 * k]);
        place(5 + 2 * k, b.left + (b.right - b.left - e2.width()) / 2, y - e1.height(), e2);
    }
    return places;
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
