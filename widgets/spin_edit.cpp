#include "widgets/spin_edit.h"

#include "widgets/qt_text.h"

#include <QtGlobal>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

namespace glowstep {

namespace {

// Hexadecimal text reads as a 32-bit pattern, so a value is written as one: cut to the 32-bit
// range, a negative number as its two's complement (-1 is FFFFFFFF).
QString HexText(Extended value) {
  const std::int64_t rounded =
      std::clamp<std::int64_t>(RoundHalfEven(value), std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max());
  return QString::number(static_cast<std::uint32_t>(static_cast<std::int32_t>(rounded)), 16)
      .toUpper();
}

}  // namespace

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
                                        : DisplayTextToNumber(ToU16(current), format);
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
                 : FromU16(FormatDisplay(ClampValue(value), ToU16(DisplayFormat()), format));
      break;
    case vtInteger:
      text = FromU16(FormatFixed(ClampValue(value), 0, format, Thousands()));
      break;
    case vtHex:
      text = HexText(ClampValue(value));
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

}  // namespace glowstep
