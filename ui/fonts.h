// The fonts the wizard is laid out for.
//
// The dialogs are sized for "MS Sans Serif" and the diagram's labels for
// bold "Arial". Neither exists on a Linux desktop, and the fallback there
// (DejaVu Sans) runs about a tenth wider: «объективной» would spill out of
// its box in the diagram and the pages' texts would wrap or clip. Liberation
// Sans (package fonts-liberation) has Arial's metrics glyph for glyph, so
// both names are mapped to it explicitly, whatever fontconfig would pick.
#pragma once

#include <QFont>

namespace velumar::ui {

inline constexpr char kDialogFamily[] = "MS Sans Serif";
inline constexpr char kDiagramFamily[] = "Arial";
inline constexpr char kMetricCompatibleFamily[] = "Liberation Sans";

// Maps the two families (and Windows' other names for the dialog font) to
// Liberation Sans. Idempotent; the font functions of the wizard call it.
void InstallFontSubstitutions();

// True when the family the wizard's texts are measured in is installed.
bool MetricCompatibleFontInstalled();

} // namespace velumar::ui
