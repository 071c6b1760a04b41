// The calculation and results pages and the settings dialog: verbal
// grades, Stop, closing during a run, a failing model, the dialog's presets
// and checks, and a whole run end to end: its steps, its grade against the
// library and the command-line tool, and the details window it fills.
#include "details_window.h"
#include "progress_page.h"
#include "results_page.h"
#include "settings_dialog.h"
#include "setup_page.h"
#include <velumar/text/texts.h>
#include "ui_test_support.h"
#include "wizard.h"

#include <velumar/runner/model_runner.h>
#include <velumar/audio/wave_file.h>
#include <velumar/report/frame_writer.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <filesystem>
#include <memory>

using namespace velumar::ui;
namespace vt = velumar::testing;
using velumar::uitest::MessageRecorder;

namespace {

// Stops a run after its first step and keeps the grade it reports.
class StopAtFirstStep : public CRunObserver {
public:
    void OnRunEvent(RUN_EVENT e, std::int32_t *stop) override
    {
        if (e.type == RUN_STEP) *stop = 1;
        if (e.type == RUN_STOPPED || e.type == RUN_FINISHED) grade = e.grade;
    }
    double grade = 0.0;
};

QString LabelText(QWidget *page, const char *name)
{
    auto *label = page->findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<no control %1>").arg(QString::fromLatin1(name));
}

// Chooses an item of the settings dialog's popup menu opened from `button`.
void PickPreset(CSettingsDlg &dialog, const char *button, const char *item)
{
    QTimer::singleShot(0, &dialog, [&dialog, item] {
        QMenu *menu = dialog.popupMenu();
        QAction *action = menu->findChild<QAction *>(QString::fromLatin1(item));
        QVERIFY(action);
        action->trigger();
        menu->close();
    });
    dialog.findChild<QPushButton *>(QString::fromLatin1(button))->click();
}

M_SETTINGS_DEFAULTS Limits(std::uint32_t step_max)
{
    M_SETTINGS_DEFAULTS limits{};
    get_default_settings(&limits);
    limits.step_max = step_max;
    return limits;
}

} // namespace

class CalculationTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void verbalGrades_data();
    void verbalGrades();
    void stopAsksAndOnlyYesStops();
    void closeDuringRunStopsThenCloses();
    void stopQuestionClosesWhenTheRunEnds();
    void failuresOfARunAreReported();
    void tooShortPairIsToldBeforeTheResults();
    void settingsFirstOpeningAndPresets();
    void settingsRefuseBadValues_data();
    void settingsRefuseBadValues();
    void aRunEndToEnd();

private:
    // A wizard with the recorder, on the calculation page with a generated
    // pair of `frames` frames.
    void Open(std::uint32_t frames, std::uint16_t channels)
    {
        dir_ = std::make_unique<vt::TempDir>();
        pair_ = velumar::uitest::WriteWavPair(*dir_, frames, channels);
        wizard_ = std::make_unique<CWizard>(nullptr, box_.fn());
        wizard_->show();
        wizard_->button(WizardButton::Next)->click();
        wizard_->setupPage()->referenceEdit()->setText(QString::fromStdString(pair_.reference));
        wizard_->setupPage()->testEdit()->setText(QString::fromStdString(pair_.test));
        wizard_->button(WizardButton::Next)->click();
        QCOMPARE(wizard_->activeIndex(), 2);
    }
    CProgressPage *page() const { return wizard_->progressPage(); }

    MessageRecorder box_;
    std::unique_ptr<vt::TempDir> dir_;
    velumar::uitest::WavPair pair_;
    std::unique_ptr<CWizard> wizard_;
};

void CalculationTest::cleanup()
{
    wizard_.reset();
    dir_.reset();
    box_.clear();
}

void CalculationTest::verbalGrades_data()
{
    QTest::addColumn<double>("grade");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("verbal");
    QTest::newRow("-1.0") << -1.0 << "-1.000000" << "искажения незаметны";
    QTest::newRow("-1.0000001") << -1.0000001 << "-1.000000" << "искажения заметны, но не раздражают";
    QTest::newRow("-2.01") << -2.01 << "-2.010000" << "слегка раздражающие искажения";
    QTest::newRow("-5.5") << -5.5 << "-5.500000" << "искажения, вызывающие зубную боль";
}

void CalculationTest::verbalGrades()
{
    QFETCH(double, grade);
    QFETCH(QString, number);
    QFETCH(QString, verbal);
    MessageRecorder box;
    CWizard w(nullptr, box.fn());
    w.ShowResults(6000.0, 12345.678, 0.256, grade);
    CResultsPage *results = w.resultsPage();
    QCOMPARE(LabelText(results, "gradeValue"), number);
    QCOMPARE(LabelText(results, "verbalGradeValue"), verbal);
    QCOMPARE(LabelText(results, "timeValue"), QStringLiteral("01:00,00"));
    QCOMPARE(LabelText(results, "speedValue"), QStringLiteral("12345.68"));
    QCOMPARE(LabelText(results, "realTimeFactorValue"), QStringLiteral("0.26"));
}

void CalculationTest::tooShortPairIsToldBeforeTheResults()
{
    // 0.3 s: 13 frames, no grade from the network.
    Open(14400, 2);
    int results_active_when_told = -1;
    box_.onShow([&] { results_active_when_told = wizard_->activeIndex(); });
    page()->startButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(wizard_->activeIndex() == 3, 60000);
    QCOMPARE(box_.count(), 1);
    const MessageRequest told = box_.last();
    QCOMPARE(told.caption, QStringLiteral("Velumar"));
    QCOMPARE(told.icon, QMessageBox::Warning);
    QCOMPARE(told.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY2(told.text.startsWith(QStringLiteral("Сигнал не может быть оценён.\n")), qPrintable(told.text));
    QVERIFY2(told.text.contains(QStringLiteral("короче 23 кадров")), qPrintable(told.text));
    QVERIFY2(told.text.contains(QStringLiteral("0.30 с")), qPrintable(told.text));
    QCOMPARE(results_active_when_told, 2);  // before the results page opened
    // That a graded run shows no box is checked by aRunEndToEnd.
}

void CalculationTest::stopAsksAndOnlyYesStops()
{
    // One step covering the whole file: the window still answers while the
    // model works through it, and No leaves the run going.
    Open(48000 * 3, 2);
    page()->settings().step = 48000 * 3 * 2;
    box_.answer(QMessageBox::No);
    page()->startButton()->click();
    QTRY_VERIFY(page()->IsRunning());
    page()->stopButton()->click();
    QCOMPARE(box_.count(), 1);
    QCOMPARE(box_.last().text, QStringLiteral("Прервать расчёт?"));
    QTRY_VERIFY_WITH_TIMEOUT(wizard_->activeIndex() == 3, 60000);
    QCOMPARE(page()->statistics().steps_done, 1u);
    QCOMPARE(page()->statistics().announced_steps, 1u);

    // Yes stops after the step under way: the grade is that of the first
    // block alone.
    wizard_->button(WizardButton::Back)->click();
    page()->settings().step = 2048;
    box_.answer(QMessageBox::Yes);
    page()->startButton()->click();
    page()->stopButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(wizard_->activeIndex() == 3, 60000);
    QCOMPARE(page()->statistics().values_fed, 2048u);
    StopAtFirstStep one_block;
    RunModel(wizard_->referenceFile(), wizard_->testFile(), DefaultRunSettings(), &one_block);
    QCOMPARE(LabelText(wizard_->resultsPage(), "gradeValue"), QString::asprintf("%f", one_block.grade));
    QCOMPARE(LabelText(wizard_->resultsPage(), "realTimeFactorValue"), QStringLiteral("—"));
}

void CalculationTest::closeDuringRunStopsThenCloses()
{
    Open(48000 * 20, 2);
    QSignalSpy closed(wizard_.get(), &CWizard::closed);
    QSignalSpy ended(page(), &CProgressPage::runEnded);
    page()->startButton()->click();
    box_.answer(QMessageBox::Yes);
    QVERIFY(!wizard_->close());  // deferred until the run has stopped
    QCOMPARE(box_.last().text, QStringLiteral("Завершить работу приложения?"));
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 30000);
    QCOMPARE(ended.count(), 1);
    // Stopped early, not run to the end.
    QVERIFY(page()->statistics().steps_done < page()->statistics().announced_steps);
    QCOMPARE(box_.count(), 1);
}

void CalculationTest::stopQuestionClosesWhenTheRunEnds()
{
    // The real question box: Stop is pressed and nobody answers. The run
    // ends by itself meanwhile, and the question goes with it. Should it
    // stay, a watchdog closes it so the test fails instead of hanging.
    Open(48000, 1);
    wizard_->setMessageBox(StandardMessageBox());
    bool forced = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, this, [&forced] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            forced = true;
            dialog->done(QMessageBox::No);
        }
    });
    watchdog.start(30000);
    QSignalSpy ended(page(), &CProgressPage::runEnded);
    page()->startButton()->click();
    page()->stopButton()->click();  // returns when the question has closed
    watchdog.stop();
    QVERIFY(!forced);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    // It finished rather than stopped: every step was made.
    QCOMPARE(wizard_->activeIndex(), 3);
    QVERIFY(page()->statistics().steps_done > page()->statistics().announced_steps);
}

void CalculationTest::failuresOfARunAreReported()
{
    Open(4800, 1);
    page()->settings().version = 1;  // a version the library does not build
    page()->startButton()->click();
    QTRY_COMPARE(box_.count(), 1);
    const MessageRequest shown = box_.last();
    QCOMPARE(shown.text, Text(velumar::text::IDS_MODEL_CREATION_FAILED));
    QCOMPARE(shown.caption, QStringLiteral("Ошибка!"));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    // Ended state, still on the page; Next now leads to the results page.
    QCOMPARE(wizard_->activeIndex(), 2);
    QVERIFY(page()->startButton()->isEnabled());
    wizard_->button(WizardButton::Next)->click();
    QCOMPARE(wizard_->activeIndex(), 3);
    QCOMPARE(LabelText(wizard_->resultsPage(), "gradeValue"), QString());

    // A file cut short after the pair was checked: no grade, back to the
    // input files with the pair closed.
    wizard_->button(WizardButton::Back)->click();
    page()->settings() = DefaultRunSettings();
    box_.clear();
    std::filesystem::resize_file(pair_.test, 44 + 4800);
    page()->startButton()->click();
    QTRY_COMPARE(box_.count(), 1);
    QCOMPARE(box_.last().text, QString::fromStdString(velumar::text::format(velumar::text::IDS_FILE_CHANGED, pair_.test)));
    QCOMPARE(box_.last().icon, QMessageBox::Critical);
    QCOMPARE(wizard_->activeIndex(), 1);
    QVERIFY(wizard_->referenceFile() == nullptr && wizard_->testFile() == nullptr);
}

void CalculationTest::settingsFirstOpeningAndPresets()
{
    MessageRecorder box;
    CSettingsDlg dialog(Limits(480000), DefaultRunSettings(), box.fn());
    dialog.show();
    QVERIFY(dialog.radio(0)->isChecked() && dialog.radio(0)->isEnabled());
    QVERIFY(!dialog.radio(1)->isEnabled() && !dialog.radio(2)->isEnabled());
    QCOMPARE(dialog.levelEdit()->text(), QStringLiteral("92"));
    QCOMPARE(dialog.stepEdit()->text(), QStringLiteral("2048"));

    PickPreset(dialog, "stepMenuButton", "maximumAction");
    QCOMPARE(dialog.stepEdit()->text(), QStringLiteral("480000"));
    PickPreset(dialog, "stepMenuButton", "minimumAction");
    QCOMPARE(dialog.stepEdit()->text(), QStringLiteral("1"));
    PickPreset(dialog, "levelMenuButton", "maximumAction");
    QCOMPARE(dialog.levelEdit()->text(), QStringLiteral("100.000000"));
    PickPreset(dialog, "levelMenuButton", "minimumAction");
    QCOMPARE(dialog.levelEdit()->text(), QStringLiteral("0.000000"));
    QCOMPARE(dialog.stepEdit()->text(), QStringLiteral("1"));  // the step kept its own preset

    dialog.findChild<QPushButton *>(QStringLiteral("okButton"))->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(box.count(), 0);
    RUN_SETTINGS s = DefaultRunSettings();
    dialog.ApplyTo(s);
    QCOMPARE(s.listening_level_db, 0.0);
    QCOMPARE(s.step, 1u);
}

void CalculationTest::settingsRefuseBadValues_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");  // object name of the edit with the focus
    const QString step_range = QStringLiteral("Объём буфера (в сэмплах): введите целое число от 1 до 100000.");
    const QString level_range = QStringLiteral("Уровень воспроизведения (дБ): введите число от 0 до 100.");
    QTest::newRow("step 0") << "92" << "0" << false << step_range << "stepEdit";
    QTest::newRow("step beyond the file") << "92" << "100001" << false << step_range << "stepEdit";
    QTest::newRow("level 100.5") << "100.5" << "2048" << false << level_range << "stepEdit";
    QTest::newRow("level not a number") << "loud" << "2048" << false << level_range << "levelEdit";
    QTest::newRow("level 100, whole file") << "100" << "100000" << true << "" << "";
    QTest::newRow("decimal comma") << "85,5" << "1" << true << "" << "";
}

void CalculationTest::settingsRefuseBadValues()
{
    QFETCH(QString, level);
    QFETCH(QString, step);
    QFETCH(bool, accepted);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    MessageRecorder box;
    CSettingsDlg dialog(Limits(100000), DefaultRunSettings(), box.fn());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    dialog.levelEdit()->setText(level);
    dialog.stepEdit()->setText(step);
    dialog.findChild<QPushButton *>(QStringLiteral("okButton"))->click();
    if (accepted) {
        QCOMPARE(box.count(), 0);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.step(), step.toLong());
        QCOMPARE(dialog.level(), QString(level).replace(QLatin1Char(','), QLatin1Char('.')).toDouble());
        return;
    }
    QVERIFY(dialog.isVisible());
    QCOMPARE(box.count(), 1);
    QCOMPARE(box.last().text, message);
    QCOMPARE(box.last().caption, QStringLiteral("Ошибка!"));
    QCOMPARE(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(), focus);
}

void CalculationTest::aRunEndToEnd()
{
    // 2 s of stereo, 192000 values: with the default step of 2048, 93 steps
    // announced and 94 made, the last one shorter but still shown as 2048;
    // (96000 - 2048) / 1024 + 1 = 92 frames for the model.
    Open(48000 * 2, 2);
    auto *details = wizard_->resultsPage()->findChild<QPushButton *>(QStringLiteral("details"));
    QVERIFY(!details->isEnabled());  // nothing to show before a run
    page()->startButton()->click();
    QCOMPARE(wizard_->button(WizardButton::Back)->isEnabled(), false);
    QCOMPARE(wizard_->button(WizardButton::Cancel)->isEnabled(), false);
    QTRY_VERIFY_WITH_TIMEOUT(wizard_->activeIndex() == 3, 60000);
    QCOMPARE(box_.count(), 0);

    const RunStatistics s = page()->statistics();
    QCOMPARE(s.announced_steps, 93u);
    QCOMPARE(s.steps_done, 94u);
    QCOMPARE(s.values_fed, 94u * 2048u);
    QCOMPARE(page()->progressBar()->maximum(), 93);
    QCOMPARE(LabelText(page(), "stepValuesValue"), QStringLiteral("2048"));
    QCOMPARE(LabelText(wizard_->resultsPage(), "speedValue"), QString::asprintf("%.2f", s.speed));
    QCOMPARE(LabelText(wizard_->resultsPage(), "realTimeFactorValue"), QString::asprintf("%.2f", s.total_time / 400.0));

    // A second run starts its statistics from zero.
    wizard_->button(WizardButton::Back)->click();
    page()->startButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(wizard_->activeIndex() == 3, 60000);
    QCOMPARE(page()->statistics().steps_done, 94u);

    const QString shown = LabelText(wizard_->resultsPage(), "gradeValue");
    M_RESULTS results{};
    RunModel(wizard_->referenceFile(), wizard_->testFile(), DefaultRunSettings(), nullptr, &results);
    QCOMPARE(shown, QString::asprintf("%f", results.odg));
    QCOMPARE(LabelText(wizard_->resultsPage(), "verbalGradeValue"), Text(velumar::text::grade_category(results.odg)));

    // The details window shows every frame of the run, the pair check of the
    // input-files page, and saves one row per frame; a second click raises
    // the same window.
    details->click();
    auto *w = wizard_->findChild<CDetailsWindow *>();
    QVERIFY(w && QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->chartFrames(), std::uint64_t{92});
    QVERIFY(w->chartEnd() >= velumar::report::frame_time_seconds(91));
    QVERIFY(w->findChild<QLabel *>(QStringLiteral("headline"))->text().contains(QString::asprintf("%.3f", results.odg)));
    QVERIFY(w->findChild<QPlainTextEdit *>(QStringLiteral("check"))->toPlainText().contains(QStringLiteral("Корреляция")));
    const std::string values = (dir_->path() / "v.csv").string();
    QVERIFY(w->saveValues(QString::fromStdString(values)));
    QCOMPARE(vt::Lines(vt::Slurp(values)).size(), std::size_t{93});
    details->click();
    QCOMPARE(wizard_->findChildren<CDetailsWindow *>().size(), 1);

#ifdef VELUMAR_CLI_PATH
    QProcess cli;
    cli.start(QStringLiteral(VELUMAR_CLI_PATH),
              {QStringLiteral("--json"), QString::fromStdString(pair_.reference), QString::fromStdString(pair_.test)});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    const QJsonObject json = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
    QCOMPARE(shown, QString::asprintf("%f", json.value(QStringLiteral("odg")).toDouble()));
#else
    QSKIP("velumar-cli is not built: compared with the library only");
#endif
}

QTEST_MAIN(CalculationTest)
#include "test_calculation.moc"
