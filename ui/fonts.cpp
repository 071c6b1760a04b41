#include "fonts.h"

#include <QFontDatabase>
#include <QString>
#include <QStringList>

namespace velumar::ui {

void InstallFontSubstitutions()
{
    static const bool installed = [] {
        const QStringList target{QString::fromLatin1(kMetricCompatibleFamily)};
        for (const char *family : {kDialogFamily, kDiagramFamily, "Microsoft Sans Serif", "MS Shell Dlg",
                                   "MS Shell Dlg 2"})
            QFont::insertSubstitutions(QString::fromLatin1(family), target);
        return true;
    }();
    (void)installed;
}

bool MetricCompatibleFontInstalled()
{
    return QFontDatabase::hasFamily(QString::fromLatin1(kMetricCompatibleFamily));
}

} // namespace velumar::ui
