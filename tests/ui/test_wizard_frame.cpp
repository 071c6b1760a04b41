// The wizard frame: button states and captions per page, Help and Finish,
// the quit question, the diagram window's mapping and single instance, the version line.
#include "about_dlg.h"
#include "progress_page.h"
#include "results_page.h"
#include "scheme_wnd.h"
#include "setup_page.h"
#include "ui_test_support.h"
#include "welcome_page.h"
#include "wizard.h"
#include "wizard_app.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QAbstractButton>
#include <QFileDialog>
#include <QTranslator>
#include <QtTest>

using namespace velumar::ui;
using velumar::uitest::MessageRecorder;

namespace {

// Which of the frame's buttons are enabled, as "Back Next Finish Cancel Help"
// flags, e.g. "-N-CH".
QString ButtonState(const CWizard &w)
{
    QString s;
    const std::pair<WizardButton, QChar> buttons[] = {{WizardButton::Back, QLatin1Char('B')}, {WizardButton::Next, QLatin1Char('N')},
                                             {WizardButton::Finish, QLatin1Char('F')}, {WizardButton::Cancel, QLatin1Char('C')},
                                             {WizardButton::Help, QLatin1Char('H')}};
    for (const auto &[id, c] : buttons) s += w.button(id)->isEnabled() ? c : QLatin1Char('-');
    return s;
}

} // namespace

class WizardFrameTest : public QObject {
    Q_OBJECT

private slots:
    void buttonsAndCaptionsFollowThePage();
    void cancelAndCloseBoxAsk();
    void schemeMapping_data();
    void schemeMapping();
    void schemeWindowIsSingle();
    void qtsOwnDialogsSpeakRussian();
};

void WizardFrameTest::buttonsAndCaptionsFollowThePage()
{
    MessageRecorder box;
    CWizard w(nullptr, box.fn());
    QSignalSpy closed(&w, &CWizard::closed);
    w.show();
    velumar::testing::TempDir dir;
    const auto pair = velumar::uitest::WriteWavPair(dir, 4800, 1);
    QCOMPARE(VersionLine(), QStringLiteral("Velumar: v2, 1, 0, 2"));  // what the about box shows

    // Each page's caption and buttons; Help is there but changes nothing.
    auto expect = [&w](int page, const char *step, const char *buttons) {
        QCOMPARE(w.activeIndex(), page);
        QCOMPARE(w.windowTitle(), QStringLiteral("Модель PEAQ: шаг %1").arg(QString::fromUtf8(step)));
        QCOMPARE(ButtonState(w), QString::fromLatin1(buttons));
        w.button(WizardButton::Help)->click();
        QCoreApplication::processEvents();
        QCOMPARE(w.activeIndex(), page);
        QCOMPARE(ButtonState(w), QString::fromLatin1(buttons));
    };
    expect(0, "1 из 4 (знакомство)", "-N-CH");
    w.button(WizardButton::Next)->click();
    w.setupPage()->referenceEdit()->setText(QString::fromStdString(pair.reference));
    w.setupPage()->testEdit()->setText(QString::fromStdString(pair.test));
    w.button(WizardButton::Next)->click();
    QCOMPARE(box.count(), 0);
    expect(2, "3 из 4 (настройки и расчёт)", "B--CH");
    QVERIFY(w.progressPage()->startButton()->isEnabled());
    QVERIFY(!w.progressPage()->stopButton()->isEnabled());
    w.button(WizardButton::Back)->click();
    expect(1, "2 из 4 (выбор входных файлов)", "BN-CH");
    w.ShowResults(100.0, 1000.0, 0.5, -1.5);
    expect(3, "4 из 4 (результаты)", "B-FCH");
    w.button(WizardButton::Back)->click();
    expect(2, "3 из 4 (настройки и расчёт)", "B--CH");

    // Finish closes without a question.
    w.ShowResults(6000.0, 48000.0, 1.0, -0.5);
    QCOMPARE(closed.count(), 0);
    w.button(WizardButton::Finish)->click();
    QTRY_COMPARE(closed.count(), 1);
    QCOMPARE(box.count(), 0);
}

void WizardFrameTest::cancelAndCloseBoxAsk()
{
    MessageRecorder box;
    CWizard w(nullptr, box.fn());
    QSignalSpy closed(&w, &CWizard::closed);
    w.show();
    w.button(WizardButton::Next)->click();

    box.answer(QMessageBox::No);
    w.button(WizardButton::Cancel)->click();
    QTRY_COMPARE(box.count(), 1);
    const MessageRequest q = box.last();
    QCOMPARE(q.text, QStringLiteral("Завершить работу приложения?"));
    QCOMPARE(q.icon, QMessageBox::Question);
    QCOMPARE(q.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(w.activeIndex(), 1);

    // The close box after a Cancel answered No asks again.
    box.answer(QMessageBox::No);
    QVERIFY(!w.close());
    QCOMPARE(box.count(), 2);

    box.answer(QMessageBox::Yes);
    QVERIFY(w.close());
    QCOMPARE(closed.count(), 1);
}

void WizardFrameTest::schemeMapping_data()
{
    QTest::addColumn<int>("cx");
    QTest::addColumn<int>("cy");
    QTest::addColumn<QPoint>("origin");
    QTest::addColumn<double>("scale");
    // One pixel narrower takes the tall branch: 799/8 = 99, + 100.
    QTest::newRow("799x200") << 799 << 200 << QPoint(0, 199) << 799.0 / 640.0;
    // Tall: full width, centred vertically (160 px picture in 480).
    QTest::newRow("640x480") << 640 << 480 << QPoint(0, 320) << 1.0;
    // Wide: full height, grey margins left and right.
    QTest::newRow("1000x200") << 1000 << 200 << QPoint(100, 200) << 1.25;
}

void WizardFrameTest::schemeMapping()
{
    QFETCH(int, cx);
    QFETCH(int, cy);
    QFETCH(QPoint, origin);
    QFETCH(double, scale);
    const SchemeMapping m = ComputeSchemeMapping(cx, cy);
    QCOMPARE(m.origin, origin);
    QCOMPARE(m.scale, scale);
    // The picture's far corner stays inside the client area.
    const QPointF corner = m.map(640, 160);
    QVERIFY(corner.x() <= cx + 1e-9 && corner.y() >= -1.0);
}

void WizardFrameTest::schemeWindowIsSingle()
{
    MessageRecorder box;
    CWizard w(nullptr, box.fn());
    w.show();
    auto *button = w.welcomePage()->findChild<QPushButton *>(QStringLiteral("schemeButton"));
    QVERIFY(button);
    QCOMPARE(g_pSchemeWnd, nullptr);

    button->click();
    QVERIFY(g_pSchemeWnd);
    CSchemeWnd *first = g_pSchemeWnd;
    QVERIFY(first->isVisible());

    button->click();
    QCOMPARE(g_pSchemeWnd, first);
    int windows = 0;
    for (QWidget *top : QApplication::topLevelWidgets()) windows += qobject_cast<CSchemeWnd *>(top) != nullptr;
    QCOMPARE(windows, 1);

    // Closing it for good clears the pointer; the next press makes a new one.
    first->close();
    QTRY_COMPARE(g_pSchemeWnd, nullptr);
    button->click();
    QVERIFY(g_pSchemeWnd && g_pSchemeWnd->isVisible());
    g_pSchemeWnd->close();
}

void WizardFrameTest::qtsOwnDialogsSpeakRussian()
{
    // Whatever the locale the tests run in, the file dialog's own labels
    // and buttons come out in Russian once the wizard's start-up has run.
    QTranslator translator;
    QVERIFY(InstallQtRussian(translator));
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QStringList texts;
    for (QLabel *label : dialog.findChildren<QLabel *>()) texts << label->text();
    for (QAbstractButton *button : dialog.findChildren<QAbstractButton *>()) texts << button->text();
    const QString all = texts.join(QLatin1Char('|'));
    QVERIFY2(!all.contains(QStringLiteral("Look in")) && !all.contains(QStringLiteral("File name")) &&
                 !all.contains(QStringLiteral("Cancel")),
             qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("Отмена")), qPrintable(all));
    QCoreApplication::removeTranslator(&translator);
}

QTEST_MAIN(WizardFrameTest)
#include "test_wizard_frame.moc"
