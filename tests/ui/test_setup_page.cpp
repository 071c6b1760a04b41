// The input-files page: every failure of the pair check keeps the user on
// the page with its message and leaves no file open; success makes the
// pair the wizard's; Back never checks.
#include "setup_page.h"
#include "ui_test_support.h"
#include "wizard.h"

#include <velumar/audio/wave_file.h>

#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QtTest>

#include <cmath>
#include <vector>

using namespace velumar::ui;
namespace vt = velumar::testing;
using velumar::uitest::MessageRecorder;

namespace {

vt::Bytes Mono(std::uint32_t frames, std::uint32_t rate = 48000, std::uint16_t bits = 16)
{
    return vt::WavFile(vt::WavSpec{.rate = rate, .bits = bits}, vt::MusicSignal(frames, 1));
}

vt::Bytes Stereo(std::uint32_t frames)
{
    return vt::WavFile(vt::WavSpec{.channels = 2}, vt::MusicSignal(frames, 2));
}

vt::Bytes Patched(vt::Bytes bytes, std::size_t offset, const char *four)
{
    std::memcpy(bytes.data() + offset, four, 4);
    return bytes;
}

} // namespace

class SetupPageTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void failures_data();
    void failures();
    void findingsAreAskedAndAGoodPairBecomesTheWizards();
    void fileChooserFillsOrKeepsThePathAndBackNeverChecks();
    void droppedFilesFillTheFields();

private:
    // Types both paths and presses Next.
    void Next(const QString &reference, const QString &test)
    {
        wizard_->setupPage()->referenceEdit()->setText(reference);
        wizard_->setupPage()->testEdit()->setText(test);
        wizard_->button(WizardButton::Next)->click();
    }

    MessageRecorder box_;
    std::unique_ptr<CWizard> wizard_;
    std::unique_ptr<vt::TempDir> dir_;
};

void SetupPageTest::init()
{
    box_.clear();
    dir_ = std::make_unique<vt::TempDir>();
    wizard_ = std::make_unique<CWizard>(nullptr, box_.fn());
    wizard_->show();
    wizard_->button(WizardButton::Next)->click();
    QCOMPARE(wizard_->activeIndex(), 1);
}

void SetupPageTest::cleanup()
{
    wizard_.reset();
    dir_.reset();
}

void SetupPageTest::failures_data()
{
    QTest::addColumn<QString>("reference");  // file name in the temp dir, "" for an empty path
    QTest::addColumn<QString>("test");
    QTest::addColumn<QString>("message");    // %R and %T stand for the full paths

    QTest::newRow("test empty") << "good.wav" << "" << "Строка не может быть пустой";
    QTest::newRow("test missing") << "good.wav" << "missing.wav" << "Ошибка при открытии файла %T";
    // Each structural fault has its own message, checked with the reader
    // (tests/audio); here: that the page shows it for the file at fault.
    QTest::newRow("bad RIFF") << "riff.wav" << "good.wav" << "Ошибка в блоке RIFF файла %R";
    QTest::newRow("no data") << "good.wav" << "data.wav" << "Ошибка в блоке DATA файла %T";
    QTest::newRow("test 8 bits") << "good.wav" << "bits.wav"
                                 << "Параметры файла %T не соответствуют требованиям модели PEAQ";
    QTest::newRow("both refused: reference first") << "rate.wav" << "bits.wav"
                                                   << "Параметры файла %R не соответствуют требованиям модели PEAQ";
    QTest::newRow("mono and stereo") << "good.wav" << "stereo.wav" << "Файлы имеют различное число каналов";
    QTest::newRow("one byte longer") << "good.wav" << "longer.wav" << "Файлы имеют разную длину (в сэмплах)";
}

void SetupPageTest::failures()
{
    QFETCH(QString, reference);
    QFETCH(QString, test);
    QFETCH(QString, message);

    const vt::Bytes good = Mono(4800);
    dir_->Write("good.wav", good);
    dir_->Write("riff.wav", Patched(good, 0, "RIFX"));
    dir_->Write("data.wav", Patched(good, 36, "dat "));
    dir_->Write("rate.wav", Mono(4800, 44100));
    dir_->Write("bits.wav", Mono(4800, 48000, 8));
    dir_->Write("stereo.wav", Stereo(2400));
    vt::Bytes longer_data = vt::SampleBytes(vt::MusicSignal(4800, 1));
    longer_data.push_back(0);
    dir_->Write("longer.wav", vt::WavFile(vt::WavSpec{}, longer_data));

    auto path = [this](const QString &name) {
        return name.isEmpty() ? QString() : QString::fromStdString((dir_->path() / name.toStdString()).string());
    };
    const QString ref_path = path(reference);
    const QString test_path = path(test);
    message.replace(QStringLiteral("%R"), ref_path).replace(QStringLiteral("%T"), test_path);

    // A successful check first, so that a failure must also drop that pair.
    Next(path(QStringLiteral("good.wav")), path(QStringLiteral("good.wav")));
    QCOMPARE(wizard_->activeIndex(), 2);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    wizard_->button(WizardButton::Back)->click();
    QVERIFY(wizard_->referenceFile());
    const int descriptors_with_pair = velumar::uitest::OpenDescriptorCount();

    Next(ref_path, test_path);
    QCOMPARE(box_.count(), 1);
    const MessageRequest shown = box_.last();
    QCOMPARE(shown.text, message);
    QCOMPARE(shown.caption, QStringLiteral("Ошибка!"));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QCOMPARE(wizard_->activeIndex(), 1);
    // The busy cursor of the check is gone before the message appears.
    QVERIFY(!box_.lastShownBusy());
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    if (!reference.isEmpty() && !test.isEmpty()) {
        // The previous pair was released and nothing of the new one is open.
        QCOMPARE(wizard_->referenceFile(), nullptr);
        QCOMPARE(wizard_->testFile(), nullptr);
        QCOMPARE(velumar::uitest::OpenDescriptorCount(), descriptors_with_pair - 2);
    }
}

void SetupPageTest::findingsAreAskedAndAGoodPairBecomesTheWizards()
{
    // The test is the reference 1105 frames late, 6 dB quieter and
    // upside down.
    constexpr std::uint32_t kDelay = 1105;
    const auto source = vt::AddNoise(std::vector<std::int16_t>(2 * (48000 + kDelay), 0), 6000.0, 5);
    std::vector<std::int16_t> test(source.begin(), source.end() - 2 * kDelay);
    for (auto &v : test) v = static_cast<std::int16_t>(std::lround(v * -0.5011872336272722));
    const vt::WavSpec spec{.channels = 2};
    const QString ref = QString::fromStdString(
        dir_->Write("ref.wav", vt::WavFile(spec, std::vector<std::int16_t>(source.begin() + 2 * kDelay, source.end()))));
    const QString late = QString::fromStdString(dir_->Write("late.wav", vt::WavFile(spec, test)));
    const int before = velumar::uitest::OpenDescriptorCount();

    box_.answer(QMessageBox::No);
    Next(ref, late);
    QCOMPARE(box_.count(), 1);
    const MessageRequest asked = box_.last();
    QCOMPARE(asked.buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY2(asked.text.contains(QStringLiteral("запаздывает относительно эталонного на 1105 сэмплов (23.02 мс)")),
             qPrintable(asked.text));
    QVERIFY2(asked.text.contains(QStringLiteral("отличается от эталонного на -6.00 дБ")), qPrintable(asked.text));
    QVERIFY2(asked.text.contains(QStringLiteral("инвертирован")), qPrintable(asked.text));
    QVERIFY(asked.text.endsWith(QStringLiteral("Продолжить?")));
    // "Нет": still on the page, nothing open, the paths as typed.
    QCOMPARE(wizard_->activeIndex(), 1);
    QVERIFY(!wizard_->referenceFile());
    QCOMPARE(velumar::uitest::OpenDescriptorCount(), before);
    QVERIFY(!QApplication::overrideCursor());

    box_.answer(QMessageBox::Yes);
    wizard_->button(WizardButton::Next)->click();
    QCOMPARE(box_.count(), 2);
    QCOMPARE(wizard_->activeIndex(), 2);

    // A pair without findings asks nothing and becomes the wizard's; every
    // Next opens the pair anew, closing the old one first.
    wizard_->button(WizardButton::Back)->click();
    box_.clear();
    Next(ref, ref);
    QCOMPARE(box_.count(), 0);
    QCOMPARE(wizard_->activeIndex(), 2);
    QCOMPARE(GetSampleCount(*wizard_->referenceFile()), 96000u);
    QCOMPARE(velumar::uitest::OpenDescriptorCount(), before + 2);
    wizard_->button(WizardButton::Back)->click();
    wizard_->button(WizardButton::Next)->click();
    QCOMPARE(velumar::uitest::OpenDescriptorCount(), before + 2);
    wizard_.reset();
    QCOMPARE(velumar::uitest::OpenDescriptorCount(), before);
}

void SetupPageTest::fileChooserFillsOrKeepsThePathAndBackNeverChecks()
{
    CSetupPage *page = wizard_->setupPage();
    QString answer = QStringLiteral("/chosen/ref.wav");
    QStringList folders;
    page->setFileChooser([&answer, &folders](QWidget *, const QString &folder) {
        folders.append(folder);
        return answer;
    });
    page->findChild<QPushButton *>(QStringLiteral("referenceChooseButton"))->click();
    QCOMPARE(page->referenceEdit()->text(), QStringLiteral("/chosen/ref.wav"));

    // Cancelling keeps the stored path, and an untaken typed text in the
    // other edit is replaced by its stored path.
    page->testEdit()->setText(QStringLiteral("typed but not taken"));
    answer.clear();
    page->findChild<QPushButton *>(QStringLiteral("testChooseButton"))->click();
    QCOMPARE(page->testEdit()->text(), QString());
    QCOMPARE(page->referenceEdit()->text(), QStringLiteral("/chosen/ref.wav"));

    // The dialog opens where the last chosen file lies; a cancelled dialog
    // does not move it.
    answer = QStringLiteral("/other/place/test.wav");
    page->findChild<QPushButton *>(QStringLiteral("testChooseButton"))->click();
    page->findChild<QPushButton *>(QStringLiteral("referenceChooseButton"))->click();
    QCOMPARE(folders, (QStringList{QString(), QStringLiteral("/chosen"), QStringLiteral("/chosen"),
                                   QStringLiteral("/other/place")}));

    // Back never checks the pair; a typed path is taken over and shown again.
    page->referenceEdit()->setText(QStringLiteral("/no/such/file.wav"));
    wizard_->button(WizardButton::Back)->click();
    QCOMPARE(box_.count(), 0);
    QCOMPARE(wizard_->activeIndex(), 0);
    wizard_->button(WizardButton::Next)->click();
    QCOMPARE(page->referenceEdit()->text(), QStringLiteral("/no/such/file.wav"));
}

namespace {

// Drags `data` over `target` and drops it there; true when the drop was
// accepted.
bool Drop(QWidget *target, QMimeData *data)
{
    const QPoint at(target->width() / 2, target->height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

} // namespace

void SetupPageTest::droppedFilesFillTheFields()
{
    CSetupPage *page = wizard_->setupPage();
    const QString reference = QString::fromStdString(dir_->Write("dropped ref.wav", Mono(4800)));
    const QString test = QString::fromStdString(dir_->Write("dropped test.wav", Mono(4800)));

    QMimeData ref_data, test_data;
    ref_data.setUrls({QUrl::fromLocalFile(reference)});
    test_data.setUrls({QUrl::fromLocalFile(test)});
    QVERIFY(Drop(page->referenceEdit(), &ref_data) && Drop(page->testEdit(), &test_data));
    QCOMPARE(page->referenceEdit()->text(), reference);
    QCOMPARE(page->lastFolder(), QString::fromStdString(dir_->path().string()));

    // Text, a remote file or two files at once are not a path: refused, and
    // the field keeps what it had.
    QMimeData text, remote, two;
    text.setText(QStringLiteral("/some/typed/text.wav"));
    remote.setUrls({QUrl(QStringLiteral("https://example.org/a.wav"))});
    two.setUrls({QUrl::fromLocalFile(reference), QUrl::fromLocalFile(test)});
    for (QMimeData *refused : {&text, &remote, &two}) QVERIFY(!Drop(page->referenceEdit(), refused));
    QCOMPARE(page->referenceEdit()->text(), reference);

    // The dropped paths go through the same check as typed ones.
    wizard_->button(WizardButton::Next)->click();
    QCOMPARE(box_.count(), 0);
    QCOMPARE(wizard_->activeIndex(), 2);
}

QTEST_MAIN(SetupPageTest)
#include "test_setup_page.moc"
