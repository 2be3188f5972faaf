// Text between Qt and the UTF-16 strings of the number conversions.
#pragma once

#include <QString>

#include <string>

namespace glowstep {

inline std::u16string ToU16(const QString& text) { return text.toStdU16String(); }
inline QString FromU16(const std::u16string& text) { return QString::fromStdU16String(text); }

}  // namespace glowstep
