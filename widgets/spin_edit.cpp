#include "spin_edit.h"

#include "qt_text.h"

#include <QtGlobal>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace glowstep {

TSpinEdit::TSpinEdit(QWidget* parent) : TCustomSpinEdit(parent) {}

Extended TSpinEdit::FromDouble(double value) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (error != std::errc()) return static_cast<Extended>(value);
  const std::u16string text(buffer, end);
  const auto parsed = TextToFloat(text, u'.');
  return parsed ? *parsed : static_cast<Extended>(value);
}

Extended TSpinEdit::ReadText() const {
  const TNumberFormat format = NumberFormat();
  const QString current = text();
  switch (ValueType()) {
    case vtFloat: {
      const std::u16string number = DisplayFormat().isEmpty()
                                        ? StripThousands(ToU16(current), format)
                                        : ToU16(DisplayTextToNumber(current));
      const auto value = TextToFloat(number, format.DecimalSeparator);
      return value ? *value : MinValue();
    }
    case vtHex: {
      const auto value = TextToInt(u"$" + ToU16(current));
      if (value) return static_cast<Extended>(*value);
      break;
    }
    case vtString: {
      // The list finds its entries regardless of letter case.
      const QStringList items = Items();
      std::int64_t index = -1;
      for (qsizetype i = 0; i < items.size() && index < 0; ++i) {
        if (items.at(i).compare(current, Qt::CaseInsensitive) == 0) index = i;
      }
      const std::int64_t position = index + RoundHalfEven(MinValue());
      return static_cast<Extended>(std::max<std::int64_t>(position, 0));
    }
    case vtInteger: {
      const auto value = TextToInt(StripThousands(ToU16(current), format));
      if (value) return static_cast<Extended>(*value);
      break;
    }
  }
  return static_cast<Extended>(RoundHalfEven(MinValue()));
}

Extended TSpinEdit::GetValue() const {
  try {
    return ReadText();
  } catch (...) {
    return ValueType() == vtFloat ? MinValue() : static_cast<Extended>(RoundHalfEven(MinValue()));
  }
}

void TSpinEdit::SetValue(Extended value) {
  const bool modified = isModified();
  const TNumberFormat format = NumberFormat();
  QString text;
  switch (ValueType()) {
    case vtFloat:
      text = DisplayFormat().isEmpty()
                 ? FromU16(FormatFixed(ClampValue(value), Decimal(), format, Thousands()))
                 : FormatDisplay(ClampValue(value));
      break;
    case vtInteger:
      text = FromU16(FormatFixed(ClampValue(value), 0, format, Thousands()));
      break;
    case vtHex:
      // Hexadecimal text reads as a 32-bit pattern, so the value is written as one: cut to the
      // 32-bit range, a negative number as its two's complement (-1 is FFFFFFFF).
      text = QString::number(
                 static_cast<quint32>(static_cast<std::int32_t>(std::clamp<std::int64_t>(
                     RoundHalfEven(ClampValue(value)), std::numeric_limits<std::int32_t>::min(),
                     std::numeric_limits<std::int32_t>::max()))),
                 16)
                 .toUpper();
      break;
    case vtString: {
      // The text shown for a value is the one the value reads back as: the position counts from
      // MinValue, and positions outside the list show its nearest end.
      const QStringList items = Items();
      const std::int64_t position = Trunc(std::max<Extended>(value, 0)) - RoundHalfEven(MinValue());
      if (!items.isEmpty()) {
        const auto last = static_cast<std::int64_t>(items.size() - 1);
        text = items.at(static_cast<qsizetype>(std::clamp<std::int64_t>(position, 0, last)));
      }
      break;
    }
  }
  if (KeepMinus() && !text.isEmpty() && !text.startsWith(QLatin1Char('-'))) {
    text.prepend(QLatin1Char('-'));
  }
  WriteText(text);
  ShowEditFormat();
  setModified(modified);
}

// The number picture: literal text around one number made of "0" (a digit always shown), "#"
// (a digit shown when significant), "," anywhere before the point (group the thousands) and
// "." (the decimal separator). Anything else is copied as it stands.
QString TSpinEdit::FormatDisplay(Extended value) const {
  const QString picture = DisplayFormat();
  const auto isNumberChar = [](QChar c) {
    return c == QLatin1Char('0') || c == QLatin1Char('#') || c == QLatin1Char(',') ||
           c == QLatin1Char('.');
  };
  qsizetype first = 0;
  while (first < picture.size() && !isNumberChar(picture.at(first))) ++first;
  qsizetype last = picture.size();
  while (last > first && !isNumberChar(picture.at(last - 1))) --last;
  const QString prefix = picture.left(first);
  const QString suffix = picture.mid(last);
  const QString number = picture.mid(first, last - first);
  const qsizetype point = number.indexOf(QLatin1Char('.'));
  const QString integerPart = point < 0 ? number : number.left(point);
  const QString fractionPart = point < 0 ? QString() : number.mid(point + 1);
  const bool grouping = integerPart.contains(QLatin1Char(','));
  const auto minInteger = integerPart.count(QLatin1Char('0'));
  const auto minFraction = fractionPart.count(QLatin1Char('0'));
  const auto maxFraction = minFraction + fractionPart.count(QLatin1Char('#'));

  const TNumberFormat format = NumberFormat();
  QString digits =
      FromU16(FormatFixed(Abs(value), static_cast<int>(maxFraction), format, grouping));
  const QChar decimal(format.DecimalSeparator);
  qsizetype separator = digits.indexOf(decimal);
  if (separator >= 0) {
    qsizetype keep = digits.size();
    while (keep > separator + 1 + minFraction && digits.at(keep - 1) == QLatin1Char('0')) --keep;
    if (keep == separator + 1) keep = separator;  // no fraction left: no separator either
    digits.truncate(keep);
  }
  separator = digits.indexOf(decimal);
  QString integer = separator < 0 ? digits : digits.left(separator);
  const QString fraction = separator < 0 ? QString() : digits.mid(separator);
  if (minInteger == 0 && integer == QLatin1String("0")) integer.clear();
  while (integer.size() < minInteger) integer.prepend(QLatin1Char('0'));
  const bool nonZero = std::any_of(digits.begin(), digits.end(),
                                   [](QChar c) { return c.isDigit() && c != QLatin1Char('0'); });
  const QString sign = value < 0 && nonZero ? QStringLiteral("-") : QString();
  return prefix + sign + integer + fraction + suffix;
}

QString TSpinEdit::DisplayTextToNumber(const QString& text) const {
  const TNumberFormat format = NumberFormat();
  const QChar decimal(format.DecimalSeparator);
  const QChar thousands(format.ThousandsSeparator);
  QString s = text;
  while (s.startsWith(QLatin1Char(' '))) s.remove(0, 1);
  while (s.endsWith(QLatin1Char(' '))) s.chop(1);
  if (thousands != decimal) s.remove(thousands);
  const QChar dot('.'), comma(',');
  if (decimal != dot && thousands != dot) s.replace(dot, decimal);
  if (decimal != comma && thousands != comma) s.replace(comma, decimal);
  QString kept;
  for (QChar c : s) {
    if ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
        c == QLatin1Char('-') || c == decimal || c == thousands) {
      kept += c;
    }
  }
  if (kept.isEmpty()) return QStringLiteral("0");
  if (kept == QLatin1String("-")) return QStringLiteral("-0");
  return kept;
}

}  // namespace glowstep
