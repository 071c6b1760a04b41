// Every text sits where its dialog or the diagram places it, measured with
// the fonts the program actually resolves: the labels of the block diagram
// inside their boxes and clear of the lines, the static texts, buttons and
// group titles of every page and dialog within their controls, and the
// welcome picture shown without its drawing cut. A font with other metrics
// than Arial's (DejaVu Sans, the usual fallback) fails here.
#include "about_dlg.h"
#include "fonts.h"
#include "progress_page.h"
#include "results_page.h"
#include "scheme_wnd.h"
#include "settings_dialog.h"
#include "setup_page.h"
#include "ui_test_support.h"
#include "welcome_page.h"
#include "wizard.h"

#include <velumar/text/texts.h>

#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace velumar::ui;
using velumar::uitest::MessageRecorder;

namespace {

// A rectangle of the diagram in logical units, y up: left, right, bottom, top.
struct Area {
    double left, right, bottom, top;
    bool intersects(const Area &o) const
    {
        return left < o.right && o.left < right && bottom < o.top && o.bottom < top;
    }
};

Area LabelArea(const SchemeLabel &l)
{
    return {double(l.x), double(l.x + l.w), double(l.y - l.h), double(l.y)};
}

// The inside of a box drawn with a 2-unit pen centred on its outline.
Area Inside(const SchemeBox &b)
{
    return {b.left + 1.0, b.right - 1.0, b.bottom + 1.0, b.top - 1.0};
}

Area Outside(const SchemeBox &b)
{
    return {b.left - 1.0, b.right + 1.0, b.bottom - 1.0, b.top + 1.0};
}

bool Within(const Area &inner, const Area &outer)
{
    return inner.left >= outer.left && inner.right <= outer.right && inner.bottom >= outer.bottom &&
           inner.top <= outer.top;
}

QString Describe(const QString &text, const Area &a)
{
    return QStringLiteral("«%1» at x %2..%3, y %4..%5").arg(text).arg(a.left).arg(a.right).arg(a.bottom).arg(a.top);
}

// The texts a user reads in `root`: static texts, buttons and group titles,
// each with the width (and for static texts the height) it has.
QStringList Overflows(QWidget *root)
{
    QStringList problems;
    for (QLabel *label : root->findChildren<QLabel *>()) {
        const QString text = label->text();
        if (text.isEmpty() || !label->pixmap().isNull()) continue;
        const QFontMetrics fm(label->font());
        const QRect box = label->contentsRect();
        int needed_height = 0, needed_width = 0;
        if (label->wordWrap()) {
            needed_height = label->heightForWidth(label->width());
        } else {
            const QStringList lines = text.split(QLatin1Char('\n'));
            for (const QString &line : lines) needed_width = std::max(needed_width, fm.horizontalAdvance(line));
            needed_height = static_cast<int>(lines.size()) * fm.height();
        }
        if (needed_width > box.width() || needed_height > box.height())
            problems << QStringLiteral("label «%1»: needs %2 x %3, has %4 x %5")
                            .arg(text.left(40))
                            .arg(needed_width)
                            .arg(needed_height)
                            .arg(box.width())
                            .arg(box.height());
    }
    for (QPushButton *button : root->findChildren<QPushButton *>()) {
        const QString text = QString(button->text()).remove(QLatin1Char('&'));
        if (text.isEmpty()) continue;
        // Room for the frame and a little air on both sides.
        const int needed = QFontMetrics(button->font()).horizontalAdvance(text) + 8;
        if (needed > button->width())
            problems << QStringLiteral("button «%1»: needs %2, has %3").arg(text).arg(needed).arg(button->width());
    }
    for (QGroupBox *group : root->findChildren<QGroupBox *>()) {
        // The title starts 6 pixels in with 2 pixels of padding each side.
        const int needed = QFontMetrics(group->font()).horizontalAdvance(group->title()) + 6 + 4 + 6;
        if (needed > group->width())
            problems << QStringLiteral("group «%1»: needs %2, has %3").arg(group->title()).arg(needed).arg(group->width());
    }
    return problems;
}

} // namespace

class LayoutFitsTest : public QObject {
    Q_OBJECT

private slots:
    void fontsResolveToArialMetrics();
    void diagramLabelsSitInTheirPlaces_data();
    void diagramLabelsSitInTheirPlaces();
    void dialogTextsFitTheirControls();
    void welcomePictureIsNotCut();
};

void LayoutFitsTest::fontsResolveToArialMetrics()
{
    QVERIFY2(MetricCompatibleFontInstalled(), "Liberation Sans (fonts-liberation) is not installed");
    QCOMPARE(QFontInfo(DialogFont()).family(), QStringLiteral("Liberation Sans"));
    QCOMPARE(QFontInfo(SchemeLabelFont(18.0)).family(), QStringLiteral("Liberation Sans"));
    QVERIFY(QFontInfo(SchemeLabelFont(18.0)).bold());
}

void LayoutFitsTest::diagramLabelsSitInTheirPlaces_data()
{
    // Pixels per logical unit: the smallest window (640 x 160), the usual
    // ones and a large one.
    QTest::addColumn<double>("scale");
    QTest::newRow("640 x 160") << 1.0;
    QTest::newRow("800 x 200") << 1.25;
    QTest::newRow("1920 x 480") << 3.0;
}

void LayoutFitsTest::diagramLabelsSitInTheirPlaces()
{
    QFETCH(double, scale);
    CSchemeWnd window(nullptr);
    const std::array<SchemeLabel, 10> places = window.LabelLayout(scale);
    QStringList texts;
    for (unsigned id : {velumar::text::IDS_SCHEME_DEVICE, velumar::text::IDS_SCHEME_METHOD_1,
                        velumar::text::IDS_SCHEME_METHOD_2, velumar::text::IDS_SCHEME_METHOD_3,
                        velumar::text::IDS_SCHEME_REF_1, velumar::text::IDS_SCHEME_REF_2,
                        velumar::text::IDS_SCHEME_TEST_1, velumar::text::IDS_SCHEME_TEST_2,
                        velumar::text::IDS_SCHEME_GRADE_1, velumar::text::IDS_SCHEME_GRADE_2})
        texts << Text(id);

    const Area drawing{0, 640, 0, 160};
    // The lines of the diagram, as thin areas 2 units wide.
    const Area lines[] = {{0, 100, 89, 91},  {60, 410, 29, 31},   {300, 410, 89, 91},
                          {520, 630, 59, 61}, {59, 61, 30, 90}};
    for (int i = 0; i < 10; ++i) {
        const Area a = LabelArea(places[static_cast<std::size_t>(i)]);
        const QString what = Describe(texts[i], a);
        QVERIFY2(a.right > a.left && a.top > a.bottom, qPrintable(what));
        QVERIFY2(Within(a, drawing), qPrintable(what + QStringLiteral(" leaves the drawing")));
        if (i == 0) {
            QVERIFY2(Within(a, Inside(kDeviceBox)), qPrintable(what + QStringLiteral(" spills out of the device box")));
        } else if (i <= 3) {
            QVERIFY2(Within(a, Inside(kMethodBox)), qPrintable(what + QStringLiteral(" spills out of the method box")));
        } else {
            QVERIFY2(!a.intersects(Outside(kDeviceBox)) && !a.intersects(Outside(kMethodBox)),
                     qPrintable(what + QStringLiteral(" covers a box")));
            for (const Area &line : lines)
                QVERIFY2(!a.intersects(line), qPrintable(what + QStringLiteral(" covers a line")));
        }
        for (int j = 0; j < i; ++j) {
            const Area b = LabelArea(places[static_cast<std::size_t>(j)]);
            QVERIFY2(!a.intersects(b), qPrintable(what + QStringLiteral(" overlaps ") + Describe(texts[j], b)));
        }
    }
}

void LayoutFitsTest::dialogTextsFitTheirControls()
{
    MessageRecorder box;
    CWizard wizard(nullptr, box.fn());
    wizard.show();
    // The longest texts the value fields take: the lowest verbal grade and
    // wide statistics.
    wizard.ShowResults(599999.0, 123456789.12, 123.45, -5.5);
    QStringList problems;
    for (QWidget *page : {static_cast<QWidget *>(wizard.welcomePage()), static_cast<QWidget *>(wizard.setupPage()),
                          static_cast<QWidget *>(wizard.progressPage()), static_cast<QWidget *>(wizard.resultsPage())})
        problems << Overflows(page);

    M_SETTINGS_DEFAULTS limits{};
    get_default_settings(&limits);
    CSettingsDlg settings(limits, DefaultRunSettings(), box.fn());
    settings.show();
    problems << Overflows(&settings);
    CAboutDlg about;
    about.show();
    problems << Overflows(&about);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

void LayoutFitsTest::welcomePictureIsNotCut()
{
    // The picture is scaled to fill its area and cut to it from the centre.
    // Its cards are light on a dark field: a light pixel on the edge of what
    // is shown means a card was cut.
    MessageRecorder box;
    CWizard wizard(nullptr, box.fn());
    auto *picture = wizard.welcomePage()->findChild<QLabel *>(QStringLiteral("welcomePicture"));
    QVERIFY(picture);
    const QImage shown = picture->pixmap().toImage();
    QCOMPARE(shown.size(), picture->size());
    auto light = [&shown](int x, int y) { return QColor(shown.pixel(x, y)).lightness() > 200; };
    for (int x = 0; x < shown.width(); ++x) {
        QVERIFY2(!light(x, 0), qPrintable(QStringLiteral("cut at the top, x %1").arg(x)));
        QVERIFY2(!light(x, shown.height() - 1), qPrintable(QStringLiteral("cut at the bottom, x %1").arg(x)));
    }
    for (int y = 0; y < shown.height(); ++y) {
        QVERIFY2(!light(0, y), qPrintable(QStringLiteral("cut on the left, y %1").arg(y)));
        QVERIFY2(!light(shown.width() - 1, y), qPrintable(QStringLiteral("cut on the right, y %1").arg(y)));
    }
}

QTEST_MAIN(LayoutFitsTest)
#include "test_layout_fits.moc"
