// The block diagram of the measurement scheme in a window of its own:
// reference into the device under test, reference and output into the
// objective measurement method, the quality estimate out of it. The drawing
// is a 640 x 160 logical picture (y up) kept at its aspect ratio.
#pragma once

#include <QFont>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <array>

namespace velumar::ui {

// Where the logical picture lands in a client area: device point of the
// logical origin (lower-left corner) and pixels per logical unit on both
// axes (the mapping is isotropic).
struct SchemeMapping {
    QPoint origin;
    double scale = 0.0;

    QPointF map(double x, double y) const { return {origin.x() + x * scale, origin.y() - y * scale}; }
};

// The mapping for a client area of cx x cy pixels. A wide area (cx/cy of 4
// or more) is filled in height with the picture centred horizontally; a tall
// one is filled in width with the picture centred vertically. A client area
// without height gets scale 0 (nothing to draw).
SchemeMapping ComputeSchemeMapping(int cx, int cy);

// A label's box in logical units, with top above bottom.
struct SchemeBox {
    int top, bottom, right, left;
};

// The diagram's boxes (top, bottom, right, left).
inline constexpr SchemeBox kDeviceBox{110, 70, 300, 100};
inline constexpr SchemeBox kMethodBox{120, 10, 520, 410};
inline constexpr SchemeBox kRefLabelBox{140, 100, 90, 20};
inline constexpr SchemeBox kTestLabelBox{140, 100, 400, 300};
inline constexpr SchemeBox kGradeLabelBox{140, 100, 630, 520};

// Where a label is drawn, in logical units: its top-left corner (y up) and
// its extent.
struct SchemeLabel {
    int x = 0, y = 0, w = 0, h = 0;
};

// The label font: bold "Arial" with a character cell `cell` pixels high.
QFont SchemeLabelFont(double cell);

class CSchemeWnd : public QWidget {
    Q_OBJECT
public:
    explicit CSchemeWnd(QWidget *owner);
    ~CSchemeWnd() override;

    QSize minimumSizeHint() const override { return {640, 160}; }

    // The ten labels' places when the picture is drawn at `scale` pixels
    // per logical unit, measured in the label font of that scale.
    std::array<SchemeLabel, 10> LabelLayout(double scale) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int m_cxClient = 0;
    int m_cyClient = 0;
    QString m_strLabels[10];
    int m_nFontHeight = 18;
    int m_nPenWidth = 2;
    SchemeBox m_rcDevice;
    SchemeBox m_rcMethod;
    SchemeBox m_rcRefLabel;
    SchemeBox m_rcTestLabel;
    SchemeBox m_rcGradeLabel;
};

// The one diagram window of the process, null when none exists.
extern CSchemeWnd *g_pSchemeWnd;

// Creates the window on the first call (owned by `owner`, which takes it
// down with itself), shows it, and raises it when it was already visible.
void ShowSchemeWindow(QWidget *owner);

} // namespace velumar::ui
