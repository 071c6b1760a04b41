#include "ui_test_support.h"

#include <QApplication>
#include <QDir>

namespace velumar::uitest {

namespace vt = velumar::testing;

velumar::ui::MessageBoxFn MessageRecorder::fn()
{
    return [this](QWidget *, const velumar::ui::MessageRequest &request) {
        shown_.append(request);
        busy_.append(QApplication::overrideCursor() != nullptr);
        if (on_show_) on_show_();
        if (!(request.buttons & QMessageBox::Yes)) return QMessageBox::Ok;
        return answers_.isEmpty() ? QMessageBox::Yes : answers_.takeFirst();
    };
}

WavPair WriteWavPair(const vt::TempDir &dir, std::uint32_t frames, std::uint16_t channels)
{
    const auto reference = vt::MusicSignal(frames, channels);
    vt::WavSpec spec;
    spec.channels = channels;
    WavPair pair;
    pair.reference = dir.Write("reference.wav", vt::WavFile(spec, reference));
    pair.test = dir.Write("test.wav", vt::WavFile(spec, vt::AddNoise(reference, 400.0)));
    return pair;
}

int OpenDescriptorCount()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

} // namespace velumar::uitest
